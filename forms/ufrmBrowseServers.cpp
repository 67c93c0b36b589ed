#include "forms/ufrmBrowseServers.h"

#include "common/uCommonGUI.h"
#include "platform/gui/uModalHook.h"

#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <thread>

static void InitResources() {
  Q_INIT_RESOURCE(velmora);
}

namespace {

TServerEnumeratorFactory& Factory() {
  static TServerEnumeratorFactory f;
  return f;
}

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

namespace {
constexpr int NameRole = Qt::UserRole;
constexpr int KindRole = Qt::UserRole + 1;

// A heading or a note: shown, never chosen.
QListWidgetItem* AddNote(QListWidget* list, const QString& text, bool heading) {
  auto* item = new QListWidgetItem(text, list);
  item->setFlags(Qt::NoItemFlags);
  QFont font = list->font();
  font.setBold(heading);
  font.setItalic(!heading);
  item->setFont(font);
  return item;
}

void AddServer(QListWidget* list, const QString& name, TServerKind kind, const QString& shown) {
  auto* item = new QListWidgetItem(shown, list);
  item->setData(NameRole, name);
  item->setData(KindRole, int(kind));
}

QString Shown(const TConfiguredServer& s) {
  QString where = s.Host;
  if (!s.Instance.isEmpty()) where += u'\\' + s.Instance;
  if (s.Port) where += u',' + QString::number(s.Port);
  QString text = QStringLiteral("  ") + s.Name;
  if (s.Kind == TServerKind::DataSource)
    text +=
        where.isEmpty()
            ? QCoreApplication::translate("TfrmSelectServer", "  (data source, %1)").arg(s.Driver)
            : QCoreApplication::translate("TfrmSelectServer", "  (data source: %1, %2)")
                  .arg(where, s.Driver);
  else if (!where.isEmpty())
    text += QCoreApplication::translate("TfrmSelectServer", "  (freetds.conf: %1)").arg(where);
  return text;
}
} // namespace

// The network search runs on a thread of its own, so the window is usable at once.
struct TfrmSelectServer::TSearch {
  std::unique_ptr<TServerEnumeratorBase> Enumerator;
  std::thread Thread;
};

TfrmSelectServer::~TfrmSelectServer() {
  StopSearch();
}

void TfrmSelectServer::StopSearch() {
  if (!FSearch) return;
  FSearch->Enumerator->Cancel();
  if (FSearch->Thread.joinable()) FSearch->Thread.join();
  FSearch.reset();
}

bool TfrmSelectServer::Searching() const {
  return FSearchingItem != nullptr;
}

QString TfrmSelectServer::GetSelectedServer() const {
  const QList<QListWidgetItem*> selected = lbServers->selectedItems();
  return selected.isEmpty() ? QString() : selected.first()->data(NameRole).toString();
}

TServerKind TfrmSelectServer::GetSelectedKind() const {
  const QList<QListWidgetItem*> selected = lbServers->selectedItems();
  return selected.isEmpty() ? TServerKind::Address
                            : TServerKind(selected.first()->data(KindRole).toInt());
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
  StopSearch();
  lbServers->clear();
  FSearchingItem = nullptr;
  btnOK->setEnabled(false);
  RunGuarded([this] {
    std::unique_ptr<TServerEnumeratorBase> enumerator = EnumeratorFactory()();
    // The configured names first: they need no network and connect by their name.
    const QList<TConfiguredServer> configured = enumerator->ConfiguredServers();
    if (!configured.isEmpty()) {
      AddNote(lbServers, tr("Configured on this computer"), true);
      for (const TConfiguredServer& c : configured)
        AddServer(lbServers, c.Name, c.Kind, Shown(c));
    }
    AddNote(lbServers, tr("Answered on the network"), true);
    FSearchingItem = AddNote(lbServers, tr("  Searching…"), false);

    const int generation = ++FGeneration;
    FSearch = std::make_unique<TSearch>();
    FSearch->Enumerator = std::move(enumerator);
    QPointer<TfrmSelectServer> self(this);
    TServerEnumeratorBase* e = FSearch->Enumerator.get();
    FSearch->Thread = std::thread([e, self, generation] {
      QStringList names;
      QString error;
      try {
        names = e->GetServerNames();
      } catch (const std::exception& x) {
        error = QString::fromUtf8(x.what());
      }
      // Back on the GUI thread; a browser closed meanwhile is simply gone.
      QMetaObject::invokeMethod(
          qApp,
          [self, generation, names, error] {
            if (self) self->SearchFinished(generation, names, error);
          },
          Qt::QueuedConnection);
    });
  });
  lbServersClick();
}

void TfrmSelectServer::SearchFinished(int generation, const QStringList& names,
                                      const QString& error) {
  if (generation != FGeneration || !FSearchingItem) return;
  const int at = lbServers->row(FSearchingItem);
  delete FSearchingItem;
  FSearchingItem = nullptr;
  if (FSearch && FSearch->Thread.joinable()) FSearch->Thread.join();
  QList<QListWidgetItem*> items;
  for (const QString& name : names) {
    auto* item = new QListWidgetItem(QStringLiteral("  ") + name);
    item->setData(NameRole, name);
    item->setData(KindRole, int(TServerKind::Address));
    items << item;
  }
  if (!error.isEmpty()) {
    auto* note = new QListWidgetItem(
        tr("  The network could not be searched (%1); the names above still work.").arg(error));
    note->setFlags(Qt::NoItemFlags);
    note->setToolTip(error);
    items << note;
  } else if (names.isEmpty()) {
    auto* note = new QListWidgetItem(tr("  No server answered."));
    note->setFlags(Qt::NoItemFlags);
    items << note;
  }
  for (int i = 0; i < items.size(); ++i)
    lbServers->insertItem(at + i, items[i]);
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
