#include "forms/ufrmMessageBox.h"

#include "common/uCommonGUI.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uModalHook.h"
#include "platform/gui/uRichEditURL.h"
#include "platform/uVersionInfo.h"
#include "uVersion.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

static void InitMessageBoxResources() {
  Q_INIT_RESOURCE(velmora);
  Q_INIT_RESOURCE(notices);
}

TfrmMessageBox* frmMessageBox = nullptr;

namespace {
struct TKindInfo {
  const char* WindowCaption;
  const char* HeaderCaption; // "%1" is the product name
  int Icon;                  // index of imgHeader0..3; -1 shows none
  bool SupportLink;
};

// In the order of TMessageBoxKind.
constexpr TKindInfo kKinds[] = {
    {QT_TRANSLATE_NOOP("TfrmMessageBox", "Error"),
     QT_TRANSLATE_NOOP("TfrmMessageBox", "Application error"), 0, false},
    {QT_TRANSLATE_NOOP("TfrmMessageBox", "Warning"),
     QT_TRANSLATE_NOOP("TfrmMessageBox", "Application warning"), 1, false},
    {QT_TRANSLATE_NOOP("TfrmMessageBox", "About"), QT_TRANSLATE_NOOP("TfrmMessageBox", "About %1"),
     2, true},
    {QT_TRANSLATE_NOOP("TfrmMessageBox", "Error"),
     QT_TRANSLATE_NOOP("TfrmMessageBox", "Database error"), 3, false},
    {QT_TRANSLATE_NOOP("TfrmMessageBox", "Save SQL Script"),
     QT_TRANSLATE_NOOP("TfrmMessageBox", "Save SQL script"), -1, false},
    {QT_TRANSLATE_NOOP("TfrmMessageBox", "Action blocked"),
     QT_TRANSLATE_NOOP("TfrmMessageBox", "Action blocked"), -1, false},
    {QT_TRANSLATE_NOOP("TfrmMessageBox", "Information"),
     QT_TRANSLATE_NOOP("TfrmMessageBox", "Application information"), 2, true},
};

constexpr int kBodyGrowth = 160;
constexpr int kBodyLeftover = 24;

QLabel* MakeHeaderImage(QWidget* band, const char* name, const QString& icon, int designLeft) {
  auto* image = new QLabel(band);
  image->setObjectName(name);
  image->setPixmap(QIcon(icon).pixmap(32, 32));
  image->setGeometry(designLeft, 4, 32, 32);
  return image;
}
} // namespace

TfrmMessageBox::TfrmMessageBox(QWidget* parent) : TfrmBaseDialog(parent) {
  InitMessageBoxResources();
  setObjectName("frmMessageBox");
  setFixedSize(width(), 376);

  pnlHeader->SetHeaderHeight(48);
  pnlHeader->SetCaptionIndent(48);
  QFont headerFont = pnlHeader->HeaderFont();
  headerFont.setFamily(QStringLiteral("Tahoma"));
  headerFont.setBold(true);
  headerFont.setPixelSize(16);
  pnlHeader->SetHeaderFont(headerFont);
  pnlHeader->ClientLayout()->setContentsMargins(8, 8, 8, 16);

  QWidget* band = pnlHeader->HeaderBand();
  imgHeader0 = MakeHeaderImage(band, "imgHeader0", QStringLiteral(":/velmora/msg_error.svg"), 8);
  imgHeader1 = MakeHeaderImage(band, "imgHeader1", QStringLiteral(":/velmora/msg_warning.svg"), 48);
  imgHeader2 = MakeHeaderImage(band, "imgHeader2", QStringLiteral(":/velmora/msg_info.svg"), 88);
  imgHeader3 =
      MakeHeaderImage(band, "imgHeader3", QStringLiteral(":/velmora/msg_dberror.svg"), 128);

  mmText = new TRichEditURL(pnlHeader->ClientArea());
  mmText->setObjectName("mmText");
  mmText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmText->setFrameShape(QFrame::StyledPanel);
  QFont textFont(QStringLiteral("Tahoma"));
  textFont.setPixelSize(11);
  mmText->setFont(textFont);
  pnlHeader->ClientLayout()->addWidget(mmText, 1);
  connect(mmText, &TRichEditURL::URLClick, this, &TfrmMessageBox::mmTextURLClick);

  lblSupport = new QLabel(tr("Send a support request"), pnlBottom);
  lblSupport->setObjectName("lblSupport");
  lblSupport->setTextFormat(Qt::PlainText);
  QFont supportFont = lblSupport->font();
  supportFont.setUnderline(true);
  lblSupport->setFont(supportFont);
  QPalette supportPalette = lblSupport->palette();
  supportPalette.setColor(QPalette::WindowText, Qt::blue);
  lblSupport->setPalette(supportPalette);
  lblSupport->setCursor(Qt::PointingHandCursor);
  lblSupport->hide();
  lblSupport->installEventFilter(this);
  // Keyboard users reach the links too: Tab, then Enter or Space.
  lblSupport->setFocusPolicy(Qt::TabFocus);
  BottomLinks->addWidget(lblSupport, 0, Qt::AlignVCenter);

  lblNotices = new QLabel(tr("Licences"), pnlBottom);
  lblNotices->setObjectName("lblNotices");
  lblNotices->setTextFormat(Qt::PlainText);
  lblNotices->setFont(supportFont);
  lblNotices->setPalette(supportPalette);
  lblNotices->setCursor(Qt::PointingHandCursor);
  lblNotices->setFocusPolicy(Qt::TabFocus);
  lblNotices->hide();
  lblNotices->installEventFilter(this);
  BottomLinks->addWidget(lblNotices, 0, Qt::AlignVCenter);

  btnCopyToClipboard->setIcon(QIcon(QStringLiteral(":/velmora/copy.svg")));
  connect(btnCopyToClipboard, &QToolButton::clicked, this,
          &TfrmMessageBox::btnCopyToClipboardClick);

  FormCreate();
}

void TfrmMessageBox::FormCreate() {
  // All four pictures share one place in the band.
  for (QLabel* image : {imgHeader1, imgHeader2, imgHeader3})
    image->move(imgHeader0->x(), image->y());
  ApplySystemFont(this);
  FitToFont();
}

bool TfrmMessageBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched != lblSupport && watched != lblNotices)
    return TfrmBaseDialog::eventFilter(watched, event);
  const bool click = event->type() == QEvent::MouseButtonRelease &&
                     static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
  const bool key = event->type() == QEvent::KeyPress &&
                   (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space ||
                    static_cast<QKeyEvent*>(event)->key() == Qt::Key_Return ||
                    static_cast<QKeyEvent*>(event)->key() == Qt::Key_Enter);
  if (click || key) {
    if (watched == lblSupport)
      lblSupportClick();
    else
      lblNoticesClick();
    return true;
  }
  return TfrmBaseDialog::eventFilter(watched, event);
}

void TfrmMessageBox::ShowHeaderImage(int Index) {
  QLabel* const images[] = {imgHeader0, imgHeader1, imgHeader2, imgHeader3};
  for (int i = 0; i < 4; ++i)
    images[i]->setVisible(i == Index);
}

int TfrmMessageBox::BodyHeight() const {
  const QMargins m = pnlHeader->ClientLayout()->contentsMargins();
  return height() - pnlBottom->height() - pnlHeader->HeaderHeight() - m.top() - m.bottom() -
         lblCaption->height();
}

void TfrmMessageBox::PrepareMessage(TMessageBoxKind Kind, const QString& Caption,
                                    const QString& Text, TMsgDlgButtons Buttons) {
  lblSupport->hide();
  lblNotices->setVisible(Kind == mkAbout);

  int icon = -1;
  if (Kind >= mkError && Kind <= mkInformation) {
    const TKindInfo& info = kKinds[Kind];
    setWindowTitle(tr(info.WindowCaption));
    SetHeaderCaption(Kind == mkAbout
                         ? tr(info.HeaderCaption).arg(QStringLiteral(VELMORA_PRODUCT_NAME))
                         : tr(info.HeaderCaption));
    icon = info.Icon;
    if (info.SupportLink) lblSupport->show();
  }
  ShowHeaderImage(icon);

  lblCaption->setText(Caption);
  mmText->SetPlainTextWithLinks(Text);

  const bool wasVisible = !mmText->isHidden();
  const bool visible = !Text.isEmpty();
  if (visible && !wasVisible) {
    mmText->show();
    setFixedHeight(height() + kBodyGrowth);
  } else if (!visible && wasVisible) {
    const int body = BodyHeight();
    mmText->hide();
    setFixedHeight(height() - body + kBodyLeftover);
  }

  const QMargins m = pnlHeader->ClientLayout()->contentsMargins();
  const int captionWidth = width() - m.left() - m.right();
  lblCaption->setFixedHeight(
      fontMetrics().horizontalAdvance(Caption) > captionWidth ? FCaptionTag + 40 : FCaptionTag);

  SetButtons(Buttons);
}

void TfrmMessageBox::SetButtons(TMsgDlgButtons Buttons) {
  if (Buttons.testFlag(mbOK) && Buttons.testFlag(mbCancel)) {
    btnOK->setText(tr("OK"));
    SetOKAnswersEsc(false);
    btnCancel->setText(tr("Cancel"));
    btnCancel->show();
  } else if (Buttons.testFlag(mbOK)) {
    btnOK->setText(tr("OK")); // in the Cancel button's place: the bar's layout puts it there
    SetOKAnswersEsc(true);
    btnCancel->hide();
  } else if (Buttons.testFlag(mbYes) && Buttons.testFlag(mbNo)) {
    btnOK->setText(tr("Yes"));
    SetOKAnswersEsc(false);
    btnCancel->setText(tr("No"));
    btnCancel->show();
  }
  // Any other set leaves the buttons as the previous message left them.
  FitToFont();
}

int TfrmMessageBox::ShowMessage(TMessageBoxKind Kind, const QString& Caption, const QString& Text,
                                TMsgDlgButtons Buttons) {
  if (isVisible()) {
    TfrmMessageBox second(this);
    return second.ShowMessage(Kind, Caption, Text, Buttons);
  }
  PrepareMessage(Kind, Caption, Text, Buttons);
  return ModalHook::Exec(*this);
}

void TfrmMessageBox::ShowError(const QString& Caption, const QString& Text) {
  ShowMessage(mkError, Caption, Text, mbOK);
}

void TfrmMessageBox::ShowAbout() {
  QString caption;
  QString body;
  try {
    if (const std::optional<TVersionInfo> info = ReadVersionInfo()) {
      caption = tr("Version %1 %2").arg(info->FileVersion, info->LegalCopyright);
      body = tr("Find more great database and personal productivity tools at %1.")
                 .arg(QStringLiteral(VELMORA_WEBSITE));
    }
  } catch (...) {
    // Without readable version values the box shows no version lines; nothing to report.
  }
  ShowMessage(mkAbout, caption, body, mbOK);
}

void TfrmMessageBox::btnCopyToClipboardClick() {
  QString text = lblCaption->text() + QStringLiteral("\r\n\r\n");
  for (const QString& line : mmText->Lines())
    text += line + QStringLiteral("\r\n");
  QGuiApplication::clipboard()->setText(text);
}

void TfrmMessageBox::lblSupportClick() {
  OpenLink(QStringLiteral("mailto:" VELMORA_SUPPORT_EMAIL "?subject=Velmora support request"));
}

void TfrmMessageBox::lblNoticesClick() {
  QDialog notices(this);
  notices.setObjectName("frmNotices");
  notices.setWindowTitle(tr("Licences and notices"));
  auto* text = new QPlainTextEdit(&notices);
  text->setObjectName("mmNotices");
  text->setReadOnly(true);
  text->setAccessibleName(tr("Licences and notices"));
  QString all;
  for (const char* name : {":/velmora/LICENSE", ":/velmora/THIRD-PARTY-NOTICES"}) {
    QFile file(QString::fromLatin1(name));
    if (file.open(QIODevice::ReadOnly)) all += QString::fromUtf8(file.readAll()) + u'\n';
  }
  text->setPlainText(all);
  auto* close = new QDialogButtonBox(QDialogButtonBox::Close, &notices);
  connect(close, &QDialogButtonBox::rejected, &notices, &QDialog::reject);
  auto* layout = new QVBoxLayout(&notices);
  layout->addWidget(text);
  layout->addWidget(close);
  const QFontMetrics fm(text->font());
  notices.resize(fm.horizontalAdvance(QLatin1Char('x')) * 96, fm.lineSpacing() * 30);
  ModalHook::Exec(notices);
}

void TfrmMessageBox::mmTextURLClick(const QString& URL) {
  OpenLink(URL);
}
