#include "forms/ufrmMain.h"

#include "common/uCommonGUI.h"
#include "common/udmCommon.h"
#include "datastore/udmDataStoreSQLServer.h"
#include "forms/uLogFilesPage.h"
#include "forms/uOpenTranPage.h"
#include "forms/uOverviewPage.h"
#include "forms/uSummaryPage.h"
#include "forms/uVLFPage.h"
#include "forms/ufrmCheckForUpdates.h"
#include "forms/ufrmMessageBox.h"
#include "platform/gui/uFormStorage.h"
#include "platform/gui/uGridView.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uModalHook.h"
#include "platform/uMemTable.h"
#include "uVersion.h"

#include <QAction>
#include <QFontMetrics>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMouseEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

TfrmMain* frmMain = nullptr;

static void InitResources() {
  Q_INIT_RESOURCE(velmora);
}

namespace {
TConnectDialogFactory& Factory() {
  static TConnectDialogFactory f;
  return f;
}

QIcon ToolbarImage(int index) {
  return QIcon(QStringLiteral(":/velmora/toolbar%1.svg").arg(index));
}

// A page of the details panel: its content fills it with a 4-pixel inner margin.
QWidget* MakePage(QWidget* content) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(content);
  return page;
}

QTableView* MakeGrid(const char* name) {
  auto* grid = new QTableView;
  grid->setObjectName(name);
  grid->setFrameShape(QFrame::NoFrame);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->verticalHeader()->hide();
  grid->setWordWrap(false);
  return grid;
}
} // namespace

void TfrmMain::SetConnectDialogFactory(TConnectDialogFactory factory) {
  Factory() = std::move(factory);
}

TConnectDialogFactory TfrmMain::ConnectDialogFactory() {
  return Factory();
}

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
  InitResources();
  setObjectName("frmMain");
  setWindowTitle(QStringLiteral("Velmora"));
  setMinimumSize(488, 420);
  resize(680, 488);

  BuildToolbar();

  auto* central = new QWidget(this);
  auto* centralLayout = new QVBoxLayout(central);
  centralLayout->setContentsMargins(0, 0, 0, 0);
  centralLayout->setSpacing(0);

  pnlBottom = new QWidget(central);
  pnlBottom->setObjectName("pnlBottom");
  auto* bottomLayout = new QVBoxLayout(pnlBottom);
  bottomLayout->setContentsMargins(0, 0, 0, 0);

  NxSplitter1 = new QSplitter(Qt::Vertical, pnlBottom);
  NxSplitter1->setObjectName("NxSplitter1");
  NxSplitter1->setHandleWidth(6);
  NxSplitter1->setChildrenCollapsible(false);

  pnlHeaderOverview = new THeaderPanel(NxSplitter1);
  pnlHeaderOverview->setObjectName("pnlHeaderOverview");
  pnlHeaderOverview->SetCaption(tr("T-log overview"));
  grdOverview = MakeGrid("grdOverview");
  pnlHeaderOverview->ClientLayout()->addWidget(grdOverview);

  pnlHeaderDetails = new THeaderPanel(NxSplitter1);
  pnlHeaderDetails->setObjectName("pnlHeaderDetails");
  pnlHeaderDetails->SetCaption(tr("T-log details for database:"));
  BuildDetailsPages();
  pnlHeaderDetails->ClientLayout()->addWidget(pgcDetails);

  NxSplitter1->addWidget(pnlHeaderOverview);
  NxSplitter1->addWidget(pnlHeaderDetails);
  NxSplitter1->setStretchFactor(0, 1);
  NxSplitter1->setStretchFactor(1, 0);
  NxSplitter1->setSizes({488 - 227, 227});
  SetupPlacement();
  bottomLayout->addWidget(NxSplitter1);
  centralLayout->addWidget(pnlBottom, 1);

  Image1 = new QLabel(central);
  Image1->setObjectName("Image1");
  Image1->setFixedHeight(105);
  Image1->setAlignment(Qt::AlignCenter);
  Image1->setPixmap(QIcon(QStringLiteral(":/velmora/banner.svg")).pixmap(730, 105));
  Image1->setCursor(Qt::PointingHandCursor);
  Image1->installEventFilter(this);
  centralLayout->addWidget(Image1);
  setCentralWidget(central);

  sbMain = new QStatusBar(this);
  sbMain->setObjectName("sbMain");
  sbMain->setSizeGripEnabled(true);
  for (int i = 0; i < 2; ++i) {
    m_statusPanels[i] = new QLabel(sbMain);
    m_statusPanels[i]->setObjectName(QStringLiteral("sbMainPanel%1").arg(i));
    m_statusPanels[i]->setTextFormat(Qt::PlainText);
  }
  m_statusPanels[0]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_statusPanels[0]->setFixedWidth(240);
  m_statusPanels[1]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  m_statusPanels[1]->setMinimumWidth(50);
  sbMain->addWidget(m_statusPanels[0]);
  sbMain->addWidget(m_statusPanels[1], 1);
  setStatusBar(sbMain);

  timerConnect.setObjectName("timerConnect");
  timerConnect.setInterval(200);
  timerConnect.setSingleShot(true);
  connect(&timerConnect, &QTimer::timeout, this, &TfrmMain::timerConnectTimer);

  BuildPages();
  FormCreate();
}

TfrmMain::~TfrmMain() {
  if (frmMain == this) frmMain = nullptr;
}

void TfrmMain::BuildToolbar() {
  ToolBar1 = new QToolBar(this);
  ToolBar1->setObjectName("ToolBar1");
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(32, 32));
  ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
  ToolBar1->toggleViewAction()->setVisible(false);
  addToolBar(Qt::TopToolBarArea, ToolBar1);

  auto makeAction = [this](const char* name, const QString& caption, const QString& hint,
                           int image) {
    auto* a = new QAction(ToolbarImage(image), caption, this);
    a->setObjectName(name);
    // A tooltip only: a status tip would cover the server and version panels while shown.
    a->setToolTip(hint);
    return a;
  };
  // The captions stay as designed: the toolbar shows none, the window has no menu.
  actConnectDB =
      makeAction("actConnectDB", QStringLiteral("actConnectDB"), tr("Connect to SQL Server"), 0);
  actRefreshDBList = makeAction("actRefreshDBList", QStringLiteral("actRefreshDBList"),
                                tr("Refresh database list"), 3);
  actRefreshDBList->setEnabled(false);
  actCheckForUpdates =
      makeAction("actCheckForUpdates", tr("Check for updates"), tr("Check for updates"), 4);
  actAbout = makeAction("actAbout", QStringLiteral("actAbout"), tr("About"), 1);
  actExit = makeAction("actExit", QStringLiteral("actExit"), tr("Exit"), 2);

  connect(actConnectDB, &QAction::triggered, this, &TfrmMain::actConnectDBExecute);
  connect(actRefreshDBList, &QAction::triggered, this, &TfrmMain::actRefreshDBListExecute);
  connect(actCheckForUpdates, &QAction::triggered, this, &TfrmMain::actCheckForUpdatesExecute);
  connect(actAbout, &QAction::triggered, this, &TfrmMain::actAboutExecute);
  connect(actExit, &QAction::triggered, this, &TfrmMain::actExitExecute);

  auto addButton = [this](QAction* action, const char* name) {
    ToolBar1->addAction(action);
    if (auto* b = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(action))) {
      b->setObjectName(name);
      b->setFixedSize(39, 38);
    }
  };
  auto addSeparator = [this](const char* name) {
    auto* spacer = new QWidget(ToolBar1);
    spacer->setObjectName(name);
    spacer->setFixedWidth(8);
    ToolBar1->addWidget(spacer);
  };
  addButton(actConnectDB, "ToolButton1");
  addSeparator("ToolButton5");
  addButton(actRefreshDBList, "ToolButton6");
  addSeparator("ToolButton4");
  addButton(actCheckForUpdates, "ToolButton7");
  addButton(actAbout, "ToolButton2");
  addSeparator("ToolButton8");
  addButton(actExit, "ToolButton3");
  // The Exit button shows image 5; the action itself carries image 2.
  if (auto* b = ToolBar1->findChild<QToolButton*>("ToolButton3")) b->setIcon(ToolbarImage(5));
}

void TfrmMain::BuildDetailsPages() {
  pgcDetails = new QTabWidget(pnlHeaderDetails->ClientArea());
  pgcDetails->setObjectName("pgcDetails");
  pgcDetails->setDocumentMode(true);
  pgcDetails->setUsesScrollButtons(true);

  lvSummary = new QTreeWidget;
  lvSummary->setObjectName("lvSummary");
  lvSummary->setFrameShape(QFrame::NoFrame);
  lvSummary->setHeaderHidden(true);
  lvSummary->setRootIsDecorated(false);
  lvSummary->setColumnCount(3);
  lvSummary->setColumnWidth(0, 160);
  lvSummary->setColumnWidth(1, 16);
  lvSummary->setColumnWidth(2, 300);
  tabSummary = MakePage(lvSummary);
  tabSummary->setObjectName("tabSummary");
  pgcDetails->addTab(tabSummary, tr("Summary"));

  grdFileDetails = MakeGrid("grdFileDetails");
  tabFiles = MakePage(grdFileDetails);
  tabFiles->setObjectName("tabFiles");
  pgcDetails->addTab(tabFiles, tr("Files"));

  grdVLF = MakeGrid("grdVLF");
  tabVLF = MakePage(grdVLF);
  tabVLF->setObjectName("tabVLF");
  pgcDetails->addTab(tabVLF, tr("Virtual log files"));

  mmOpenTran = new QTextEdit;
  mmOpenTran->setObjectName("mmOpenTran");
  mmOpenTran->setFrameShape(QFrame::NoFrame);
  mmOpenTran->setReadOnly(true);
  mmOpenTran->setLineWrapMode(QTextEdit::NoWrap);
  mmOpenTran->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmOpenTran->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont mono(QStringLiteral("Courier New"));
  mono.setStyleHint(QFont::Monospace);
  mono.setPixelSize(11);
  mmOpenTran->setFont(mono);
  tabOAT = MakePage(mmOpenTran);
  tabOAT->setObjectName("tabOAT");
  pgcDetails->addTab(tabOAT, tr("Oldest active transaction"));
}

QString TfrmMain::StatusPanelText(int panel) const {
  return m_statusPanels[panel]->text();
}

int TfrmMain::StatusPanelWidth(int panel) const {
  return panel == 0 ? m_statusPanels[0]->maximumWidth() : m_statusPanels[1]->width();
}

void TfrmMain::SetStatusPanel(int panel, const QString& text, int width) {
  m_statusPanels[panel]->setText(text);
  if (width >= 0) {
    if (panel == 0)
      m_statusPanels[0]->setFixedWidth(width);
    else
      m_statusPanels[1]->setMinimumWidth(width);
  }
}

void TfrmMain::FormCreate() {
  FOpenTranLines.clear();
  FSelectedRow = -1;
  // The VLF grid is bound to memVLF and sizes its own rows; the tabs keep their designed height.
  grdVLF->setProperty(kDataBoundGridProperty, true);
  pgcDetails->setProperty(kTabHeightProperty, 17);
  ApplySystemFont(this);
}

void TfrmMain::FormShow() {
  setWindowTitle(QStringLiteral("Velmora"));
  BuildSummaryRows();
  pgcDetails->setCurrentWidget(tabSummary);
  timerConnect.start();
}

void TfrmMain::SetupPlacement() {
  // Bound by name: dmMain is created after this window and first needed when it shows.
  fsMain = new TFormStorage(this);
  fsMain->setObjectName("fsMain");
  fsMain->SetStorageProvider([] { return dmMain ? &dmMain->iniUser : nullptr; });
  fsMain->AddIntegerProperty(
      QStringLiteral("pnlHeaderDetails.Height"), [this] { return NxSplitter1->sizes().value(1); },
      [this](int height) {
        const QList<int> sizes = NxSplitter1->sizes();
        const int total = sizes.value(0) + sizes.value(1);
        if (total <= 0) return;
        height = std::clamp(height, 0, total);
        NxSplitter1->setSizes({total - height, height});
      });
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  fsMain->SavePlacement();
  QMainWindow::closeEvent(event);
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!m_shownOnce) {
    m_shownOnce = true;
    fsMain->RestorePlacement();
    FormShow();
  }
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Image1 && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    Image1Click();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::timerConnectTimer() {
  timerConnect.stop();
  actConnectDB->trigger();
}

void TfrmMain::actConnectDBExecute() {
  // Reading the settings may fail (a malformed number); the error is shown and we go on.
  RunGuarded([this] {
    const TConnectDialogFactory factory = Factory();
    if (!factory) return;
    const TConnectDialogOutcome outcome = factory(this);
    if (!outcome.Accepted) return;
    ApplyConnection(outcome.ConnectionProperties);
  });
}

void TfrmMain::ApplyConnection(const TSQLConnectionProperties& props) {
  if (!DataStore || !DataStore->InitWithConnProps(props)) return;
  actRefreshDBList->setEnabled(true);
  if (DataStore->RunQuery(
          QStringLiteral("SELECT SERVERPROPERTY('ProductVersion'), SERVERPROPERTY('Edition')"))) {
    const TResultSet& q = *DataStore->Query;
    QString edition;
    if (q.Active() && q.FieldCount() >= 2 && q.RecordCount() > 0) edition = q.AsString(1);
    const QString version = DataStore->GetServerVersionName();
    const QString server = props.Instance;
    SetStatusPanel(0, server, sbMain->fontMetrics().horizontalAdvance(server) + 48);
    SetStatusPanel(1, version + QStringLiteral(" (") + edition + QStringLiteral(")"));
  }
  // Which driver carries the connection, for whoever wonders why it behaves as it does.
  const QString driver = tr("Connected through the ODBC driver %1").arg(DataStore->DriverInUse);
  for (QLabel* panel : m_statusPanels)
    panel->setToolTip(DataStore->DriverInUse.isEmpty() ? QString() : driver);
  LoadDatabaseList();
}

void TfrmMain::actRefreshDBListExecute() {
  RunGuarded([this] { LoadDatabaseList(); });
}

// The pages keep their own code; the window only wires them together.
void TfrmMain::BuildPages() {
  m_overview = new TOverviewPage(grdOverview, this);
  m_files = new TLogFilesPage(grdFileDetails, this);
  m_vlf = new TVLFPage(grdVLF, this);
  memVLF = m_vlf->Table();
  m_openTran = new TOpenTranPage(mmOpenTran, this);
  m_summary = new TSummaryPage(lvSummary, this);

  connect(grdOverview->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid())
              RunGuarded([&] { grdOverviewSelectCell(current.column(), current.row()); });
          });
  // Sorting moves the shown database to another row; the selection follows it.
  connect(grdOverview->model(), &QAbstractItemModel::layoutChanged, this, [this] {
    const QModelIndex current = grdOverview->currentIndex();
    if (current.isValid() && FSelectedRow >= 0) FSelectedRow = current.row();
  });
}

void TfrmMain::LoadDatabaseList() {
  const TBusyCursor busy;
  m_overview->LoadRows();
  UpdateLogSpace();
  if (m_overview->RowCount() > 0 && !m_overview->DatabaseName(0).isEmpty()) {
    FSelectedRow = 0;
    grdOverview->setCurrentIndex(grdOverview->model()->index(0, 0));
    grdOverview->setFocus();
    ShowDatabaseDetails();
  }
}

void TfrmMain::UpdateLogSpace() {
  m_overview->UpdateLogSpace();
}

void TfrmMain::grdOverviewSelectCell(int ACol, int ARow) {
  Q_UNUSED(ACol);
  if (ARow == FSelectedRow) return;
  FSelectedRow = ARow;
  ShowDatabaseDetails();
}

void TfrmMain::ShowDatabaseDetails() {
  const TBusyCursor busy;
  m_vlf->Clear();
  m_openTran->Clear();
  m_files->Clear();
  ClearSummaryValues();
  const QString name = m_overview->DatabaseName(FSelectedRow);
  pnlHeaderDetails->SetCaption(tr("T-log details for database: ") + name);
  if (!DataStore || !DataStore->ExecuteStatement(QStringLiteral("USE ") + QuoteSQLIdentifier(name)))
    return;
  UpdateLogSpace();
  LoadLogDetails(name);
}

void TfrmMain::FitColumnWidths(QTableView* grid, int margin) {
  ::FitColumnWidths(grid, margin);
}

void TfrmMain::LoadLogDetails(const QString& name) {
  if (!DataStore || !DataStore->ExecuteStatement(QStringLiteral("USE ") + QuoteSQLIdentifier(name)))
    return;
  {
    const TRepaintGuard repaint(grdVLF);
    if (m_vlf->Load([this](int column) { grdVLFColumnCreate(column); })) {
      DisableColumnSorting(grdVLF);
      RightAlignNumericColumns(memVLF, grdVLF);
      FitColumnWidths(grdVLF, 24);
    }
  }
  m_openTran->Clear();
  m_openTran->Load(FOpenTranLines);
  LoadLogFiles();
  LoadLogSummary(name);
}

void TfrmMain::LoadLogFiles() {
  m_files->Load(*memVLF);
}

void TfrmMain::DisableColumnSorting(QTableView* grid) {
  ::DisableColumnSorting(grid);
}

void TfrmMain::RightAlignNumericColumns(TMemTable* table, QTableView* grid) {
  ::RightAlignNumericColumns(table, grid);
}

// Decimal columns (the LSNs) show their exact digits instead of a rounded number.
void TfrmMain::grdVLFColumnCreate(int column) {
  if (memVLF->Columns()[column].Kind == TFieldKind::Decimal)
    memVLF->SetColumnDisplay(column, TColumnDisplay::ExactText);
}

void TfrmMain::BuildSummaryRows() {
  m_summary->BuildRows();
}

void TfrmMain::ClearSummaryValues() {
  m_summary->ClearValues();
}

void TfrmMain::LoadLogSummary(const QString& name) {
  m_summary->Load(name, m_openTran->Lines(), m_files->RowCount(), memVLF->rowCount());
}

void TfrmMain::actCheckForUpdatesExecute() {
  TfrmCheckForUpdates dialog(this);
  ModalHook::Exec(dialog);
}

void TfrmMain::actAboutExecute() {
  if (frmMessageBox) frmMessageBox->ShowAbout();
}

void TfrmMain::actExitExecute() {
  close();
}

void TfrmMain::Image1Click() {
  OpenLink(QStringLiteral(VELMORA_WEBSITE "/?source=velmora"));
}
