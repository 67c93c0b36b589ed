#include "forms/ufrmBrowseServers.h"

#include "common/uCommonGUI.h"
#include "platform/gui/uModalHook.h"

#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

static void InitResources() {
  Q_INIT_RESOURCE(velmora);
}

namespace {

TServerEnumeratorFactory& Factory() {
  static TServerEnumeratorFactory f;
  return f;
}

// The hourglass for the lifetime of the guard, restored however the scope is left.
class TWaitCursor {
public:
  TWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

QFrame* MakeBevel(QWidget* parent, const char* name) {
  auto* bevel = new QFrame(parent);
  bevel->setObjectName(name);
  bevel->setFrameShape(QFrame::HLine);
  bevel->setFrameShadow(QFrame::Sunken);
  bevel->setFixedHeight(2);
  return bevel;
}

} // namespace

void TfrmSelectServer::SetEnumeratorFactory(TServerEnumeratorFactory factory) {
  Factory() = std::move(factory);
}

TServerEnumeratorFactory TfrmSelectServer::EnumeratorFactory() {
  if (Factory()) return Factory();
  return [] {
    return std::make_unique<TServerEnumerator>(TServerEnumeratorOptions::ForThisMachine());
  };
}

TfrmSelectServer::TfrmSelectServer(QWidget* owner) : QDialog(owner) {
  InitResources();
  setObjectName("frmSelectServer");
  setWindowTitle(tr("Select Server"));
  // Laid out for 364 x 409 at the design font; the layout grows the dialog with a larger one.
  setMinimumSize(364, 409);
  resize(364, 409);

  imgServer = new QLabel(this);
  imgServer->setObjectName("imgServer");
  imgServer->setFixedSize(48, 48);
  imgServer->setAttribute(Qt::WA_TranslucentBackground);
  imgServer->setPixmap(QIcon(QStringLiteral(":/velmora/server.svg")).pixmap(48, 48));
  imgServer->setAccessibleName(tr("Server"));

  TntLabel1 = new QLabel(
      tr("The following servers running SQL Server are currently active on the network."), this);
  TntLabel1->setObjectName("TntLabel1");
  TntLabel1->setWordWrap(true);
  TntLabel1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  TntLabel1->setMinimumWidth(220);

  Bevel1 = MakeBevel(this, "Bevel1");

  lbServers = new QListWidget(this);
  lbServers->setObjectName("lbServers");
  lbServers->setMinimumSize(200, 120);
  lbServers->setSortingEnabled(false);
  lbServers->setSelectionMode(QAbstractItemView::SingleSelection);
  lbServers->setUniformItemSizes(true);

  TntLabel2 = new QLabel(tr("&Active servers"), this);
  TntLabel2->setObjectName("TntLabel2");
  TntLabel2->setBuddy(lbServers);

  Bevel2 = MakeBevel(this, "Bevel2");

  btnOK = new QPushButton(tr("OK"), this);
  btnOK->setObjectName("btnOK");
  btnOK->setMinimumSize(75, 25);
  btnOK->setDefault(true);
  btnOK->setEnabled(false);

  btnCancel = new QPushButton(tr("Cancel"), this);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setMinimumSize(75, 25);

  auto* top = new QHBoxLayout;
  top->setSpacing(16);
  top->addWidget(imgServer, 0, Qt::AlignTop);
  top->addWidget(TntLabel1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(13);
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 16, 17, 16);
  layout->setSpacing(8);
  layout->addLayout(top);
  layout->addWidget(Bevel1);
  layout->addSpacing(6);
  layout->addWidget(TntLabel2);
  layout->addWidget(lbServers, 1);
  layout->addWidget(Bevel2);
  layout->addSpacing(14);
  layout->addLayout(buttons);

  setTabOrder(lbServers, btnOK);
  setTabOrder(btnOK, btnCancel);
  lbServers->setFocus();

  connect(lbServers, &QListWidget::itemSelectionChanged, this, [this] { lbServersClick(); });
  connect(lbServers, &QListWidget::itemDoubleClicked, this, [this] { lbServersDblClick(); });
  connect(btnOK, &QPushButton::clicked, this, &TfrmSelectServer::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString TfrmSelectServer::GetSelectedServer() const {
  const QList<QListWidgetItem*> selected = lbServers->selectedItems();
  return selected.isEmpty() ? QString() : selected.first()->text();
}

bool TfrmSelectServer::Execute(QWidget* owner, QString& server) {
  TfrmSelectServer form(owner);
  if (ModalHook::Exec(form) != QDialog::Accepted) return false;
  const QString selected = form.GetSelectedServer();
  if (selected.isEmpty()) return false;
  server = selected;
  return true;
}

void TfrmSelectServer::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The window system's own show events (restoring from minimised) must not search again.
  if (!event->spontaneous()) TntFormShow();
}

void TfrmSelectServer::TntFormShow() {
  lbServers->clear();
  btnOK->setEnabled(false);
  RunGuarded([this] {
    QStringList names;
    {
      TWaitCursor wait;
      const std::unique_ptr<TServerEnumeratorBase> enumerator = EnumeratorFactory()();
      names = enumerator->GetServerNames();
    }
    lbServers->addItems(names);
  });
  lbServersClick();
}

void TfrmSelectServer::lbServersClick() {
  btnOK->setEnabled(!lbServers->selectedItems().isEmpty());
}

void TfrmSelectServer::lbServersDblClick() {
  accept();
}

void TfrmSelectServer::accept() {
  if (GetSelectedServer().isEmpty()) return;
  QDialog::accept();
}
