#include "forms/ufrmWebUpdateInformation.h"

#include "common/uCommonGUI.h"
#include "platform/uUpdateInfo.h"
#include "platform/uVersionInfo.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

static void InitUpdateResources() {
  Q_INIT_RESOURCE(velmora);
}

namespace {

// The history comes from the network: it may show its own text and nothing else. Every
// resource it names (images, style sheets, frames; files, pipes, devices, data: and network
// addresses alike) is answered here with an empty but valid value. An invalid QVariant would
// let Qt load the resource itself, and a null image would make it read the file named by
// <img src> directly (/dev/zero, a named pipe).
class THistoryBrowser : public QTextBrowser {
public:
  using QTextBrowser::QTextBrowser;
  QVariant loadResource(int type, const QUrl&) override {
    switch (type) {
    case QTextDocument::ImageResource: {
      static const QImage blank = [] {
        QImage image(1, 1, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        return image;
      }();
      return blank;
    }
    case QTextDocument::HtmlResource:
    case QTextDocument::StyleSheetResource:
    case QTextDocument::MarkdownResource:
      return QString();
    default:
      return QByteArray();
    }
  }
};

QFrame* MakeBevel(const char* name) {
  auto* bevel = new QFrame;
  bevel->setObjectName(name);
  bevel->setFrameShape(QFrame::HLine);
  bevel->setFrameShadow(QFrame::Sunken);
  return bevel;
}

} // namespace

TfrmUpdateInformation::TfrmUpdateInformation(QWidget* parent) : QDialog(parent) {
  InitUpdateResources();
  setObjectName("frmUpdateInformation");
  setWindowTitle(tr("Web Update"));
  setSizeGripEnabled(true);
  setFont(QFont(QStringLiteral("Tahoma"), 8));
  resize(512, 528);
  setMinimumSize(504, 521); // 520 x 560 with the window frame

  Image1 = new QLabel;
  Image1->setObjectName("Image1");
  Image1->setFixedSize(48, 48);
  Image1->setPixmap(QIcon(QStringLiteral(":/velmora/update_server.svg")).pixmap(48, 48));
  lblCurrentVersion = new QLabel;
  lblCurrentVersion->setObjectName("lblCurrentVersion");
  lblCurrentVersion->setWordWrap(true);
  lblCurrentVersion->setTextFormat(Qt::PlainText);
  Bevel2 = MakeBevel("Bevel2");
  Label4 = new QLabel(tr("Version history"));
  Label4->setObjectName("Label4");

  htmlWhatsNew = new THistoryBrowser;
  htmlWhatsNew->setObjectName("htmlWhatsNew");
  htmlWhatsNew->setOpenLinks(false);
  htmlWhatsNew->setOpenExternalLinks(false);
  htmlWhatsNew->setFrameShape(QFrame::Box);
  htmlWhatsNew->setLineWidth(1);
  htmlWhatsNew->setMinimumSize(200, 100);
  QPalette palette = htmlWhatsNew->palette();
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::Text, Qt::black);
  htmlWhatsNew->setPalette(palette);
  htmlWhatsNew->document()->setDefaultFont(QFont(QStringLiteral("Tahoma"), 8));
  htmlWhatsNew->document()->setDefaultStyleSheet(
      QStringLiteral("pre, code, tt { font-family: 'Courier New', monospace; }"));
  connect(htmlWhatsNew, &QTextBrowser::anchorClicked, this,
          &TfrmUpdateInformation::htmlWhatsNewAnchorClicked);

  Bevel1 = MakeBevel("Bevel1");
  btnUpdate = new QPushButton(tr("Update now"));
  btnUpdate->setObjectName("btnUpdate");
  btnUpdate->setMinimumSize(75, 25);
  connect(btnUpdate, &QPushButton::clicked, this, &QDialog::accept);
  btnCancel = new QPushButton(tr("Cancel"));
  btnCancel->setObjectName("btnCancel");
  btnCancel->setMinimumSize(75, 25);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* top = new QHBoxLayout;
  top->setSpacing(10);
  top->addWidget(Image1, 0, Qt::AlignTop);
  top->addWidget(lblCurrentVersion, 1, Qt::AlignTop);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnUpdate);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 14, 14, 16);
  layout->setSpacing(10);
  layout->addLayout(top);
  layout->addWidget(Bevel2);
  layout->addWidget(Label4);
  layout->addWidget(htmlWhatsNew, 1);
  layout->addWidget(Bevel1);
  layout->addLayout(buttons);

  FormCreate();
}

void TfrmUpdateInformation::FormCreate() {
  IsLatestVersion = false;
  ApplySystemFont(this);
}

void TfrmUpdateInformation::SetUpdateInfo(const QString& UpgradeMsg) {
  LatestVersion.clear();
  // The build always carries its version; should it be missing, the line says so and the
  // dialog never claims the latest version.
  const std::optional<TVersionInfo> info = ReadVersionInfo();
  CurrentVersion = info ? info->FileVersion : QString();
  // The checker decodes the file as UTF-8 itself, so the text arrives as characters already.
  QString text = ReplaceBraceTokens(UpgradeMsg);
  ParseVersionHistory(text);
  // A page too large or too deeply nested to lay out safely is shown as its text.
  if (IsHistorySafeAsHtml(text))
    htmlWhatsNew->setHtml(text);
  else
    htmlWhatsNew->setPlainText(text.left(MaxHistoryHtmlSize));
  // These texts are shown as they are, untranslated.
  btnCancel->setText(QStringLiteral("&Cancel"));
  lblCurrentVersion->setText(
      QStringLiteral("This version of Velmora is %1.")
          .arg(CurrentVersion.isEmpty() ? QStringLiteral("unknown") : CurrentVersion));
  if (!CurrentVersion.isEmpty() && CurrentVersion == LatestVersion) {
    IsLatestVersion = true;
    lblCurrentVersion->setText(
        QStringLiteral("This version of Velmora is %1, which is the latest available version.")
            .arg(CurrentVersion));
    btnCancel->setText(QStringLiteral("&Close"));
    btnUpdate->hide();
  }
}

void TfrmUpdateInformation::ParseVersionHistory(QString& Text) {
  ::ParseVersionHistory(Text, LatestVersion);
}

QString TfrmUpdateInformation::ParseVersionComment(const QString& Line) {
  return ::ParseVersionComment(Line);
}

bool TfrmUpdateInformation::IsOpenableLink(const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  return url.isValid() &&
         ((scheme == u"http" || scheme == u"https") ? !url.host().isEmpty() : scheme == u"mailto");
}

void TfrmUpdateInformation::htmlWhatsNewAnchorClicked(const QUrl& url) {
  if (url.scheme().isEmpty() && url.path().isEmpty() && url.hasFragment()) {
    htmlWhatsNew->scrollToAnchor(url.fragment());
    return;
  }
  if (IsOpenableLink(url))
    OpenLink(url.toString());
  else
    qWarning("Link in the version history not opened: %s", qPrintable(url.toString()));
}

void TfrmUpdateInformation::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TfrmUpdateInformation::keyPressEvent(QKeyEvent* event) {
  // Neither button is the default: Enter outside a button must not start an update. A
  // focused button answers Enter itself before it gets here.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TfrmUpdateInformation::FormShow() {
  if (IsLatestVersion) btnCancel->setFocus();
}
