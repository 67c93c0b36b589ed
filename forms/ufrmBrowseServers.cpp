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

QFrame* MakeBevel(QWidget* parent, const char* name, int x, int y, int width) {
  auto* bevel = new QFrame(parent);
  bevel->setObjectName(name);
  bevel->setFrameShape(QFrame::HLine);
  bevel->setFrameShadow(QFrame::Sunken);
  bevel->setGeometry(x, y, width, 2);
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
  setFixedSize(364, 409);

  imgServer = new QLabel(this);
  imgServer->setObjectName("imgServer");
  imgServer->setGeometry(16, 16, 48, 48);
  imgServer->setAttribute(Qt::WA_TranslucentBackground);
  imgServer->setPixmap(QIcon(QStringLiteral(":/velmora/server.svg")).pixmap(48, 48));

  TntLabel1 = new QLabel(
      tr("The following servers running SQL Server are currently active on the network."), this);
  TntLabel1->setObjectName("TntLabel1");
  TntLabel1->setWordWrap(true);
  TntLabel1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  TntLabel1->setGeometry(80, 16, 220, 48);

  Bevel1 = MakeBevel(this, "Bevel1", 16, 72, 329);

  lbServers = new QListWidget(this);
  lbServers->setObjectName("lbServers");
  lbServers->setGeometry(16, 112, 329, 225);
  lbServers->setSortingEnabled(false);
  lbServers->setSelectionMode(QAbstractItemView::SingleSelection);
  lbServers->setUniformItemSizes(true);

  TntLabel2 = new QLabel(tr("&Active servers"), this);
  TntLabel2->setObjectName("TntLabel2");
  TntLabel2->move(16, 88);
  TntLabel2->adjustSize();
  TntLabel2->setBuddy(lbServers);

  Bevel2 = MakeBevel(this, "Bevel2", 16, 344, 329);

  btnOK = new QPushButton(tr("OK"), this);
  btnOK->setObjectName("btnOK");
  btnOK->setGeometry(184, 368, 75, 25);
  btnOK->setDefault(true);
  btnOK->setEnabled(false);

  btnCancel = new QPushButton(tr("Cancel"), this);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setGeometry(272, 368, 75, 25);

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
