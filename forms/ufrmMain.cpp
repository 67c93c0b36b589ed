#include "forms/ufrmMain.h"

#include "common/uCommonGUI.h"
#include "common/udmCommon.h"
#include "forms/uGridExport.h"
#include "forms/uLogFilesPage.h"
#include "forms/uOpenTranPage.h"
#include "forms/uOverviewPage.h"
#include "forms/uSummaryPage.h"
#include "forms/uVLFPage.h"
#if VELMORA_UPDATER
#include "forms/ufrmCheckForUpdates.h"
#endif
#include "forms/ufrmMessageBox.h"
#include "platform/gui/uFormStorage.h"
#include "platform/gui/uGridView.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uModalHook.h"
#include "platform/gui/uNoticeStack.h"
#include "platform/gui/uVlfMap.h"
#include "platform/uMemTable.h"
#include "uVersion.h"

#include <QAction>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
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
  grid->verticalHeader()->hide();
  grid->setWordWrap(false);
  // Tab moves on to the next control instead of from cell to cell.
  grid->setTabKeyNavigation(false);
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
  BuildConnectionLostBar();
  pnlHeaderOverview->ClientLayout()->addWidget(pnlConnectionLost);
  nsOverview = new TNoticeStack(grdOverview, QStringLiteral("lblOverviewNotice"));
  nsOverview->setObjectName("nsOverview");
  pnlHeaderOverview->ClientLayout()->addWidget(nsOverview);

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
  BuildBusySign();
  sbMain->addPermanentWidget(pnlBusy);
  setStatusBar(sbMain);

  timerConnect.setObjectName("timerConnect");
  timerConnect.setInterval(200);
  timerConnect.setSingleShot(true);
  connect(&timerConnect, &QTimer::timeout, this, &TfrmMain::timerConnectTimer);

  BuildPages();
  BuildMenu();
  NameControlsForScreenReaders();
  FormCreate();
}

TfrmMain::~TfrmMain() {
  if (frmMain == this) frmMain = nullptr;
  // The sessions end before the pages they answer to.
  m_pending.reset();
  m_session.reset();
}

void TfrmMain::BuildConnectionLostBar() {
  pnlConnectionLost = new QFrame;
  pnlConnectionLost->setObjectName("pnlConnectionLost");
  pnlConnectionLost->setFrameShape(QFrame::StyledPanel);
  pnlConnectionLost->setAutoFillBackground(true);
  QPalette palette = pnlConnectionLost->palette();
  palette.setColor(QPalette::Window, QColor(255, 236, 179));
  palette.setColor(QPalette::WindowText, Qt::black);
  pnlConnectionLost->setPalette(palette);
  auto* layout = new QHBoxLayout(pnlConnectionLost);
  layout->setContentsMargins(8, 4, 8, 4);
  lblConnectionLost = new QLabel(pnlConnectionLost);
  lblConnectionLost->setObjectName("lblConnectionLost");
  lblConnectionLost->setTextFormat(Qt::PlainText);
  lblConnectionLost->setWordWrap(true);
  btnReconnect = new QPushButton(tr("Reconnect"), pnlConnectionLost);
  btnReconnect->setObjectName("btnReconnect");
  layout->addWidget(lblConnectionLost, 1);
  layout->addWidget(btnReconnect);
  connect(btnReconnect, &QPushButton::clicked, this, &TfrmMain::ReconnectClick);
  pnlConnectionLost->hide();
}

void TfrmMain::BuildBusySign() {
  pnlBusy = new QWidget(sbMain);
  pnlBusy->setObjectName("pnlBusy");
  auto* layout = new QHBoxLayout(pnlBusy);
  layout->setContentsMargins(0, 0, 0, 0);
  lblBusy = new QLabel(pnlBusy);
  lblBusy->setObjectName("lblBusy");
  lblBusy->setTextFormat(Qt::PlainText);
  btnBusyCancel = new QPushButton(tr("Cancel"), pnlBusy);
  btnBusyCancel->setObjectName("btnBusyCancel");
  btnBusyCancel->setToolTip(tr("Stop what the server is doing for this window (Esc)"));
  layout->addWidget(lblBusy);
  layout->addWidget(btnBusyCancel);
  connect(btnBusyCancel, &QPushButton::clicked, this, &TfrmMain::CancelWork);
  pnlBusy->hide();
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setObjectName("scCancelWork");
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, this, &TfrmMain::CancelWork);
  m_busyTimer.setInterval(100);
  connect(&m_busyTimer, &QTimer::timeout, this, &TfrmMain::UpdateBusySign);
}

bool TfrmMain::IsBusy() const {
  return (m_session && m_session->IsBusy()) || (m_pending && m_pending->IsBusy());
}

void TfrmMain::UpdateBusySign() {
  if (!IsBusy()) {
    m_busyTimer.stop();
    m_busySince.invalidate();
    m_busyStatement.clear();
    pnlBusy->hide();
    return;
  }
  if (!m_busySince.isValid()) m_busySince.start();
  if (!m_busyTimer.isActive()) m_busyTimer.start();
  // Quick answers come and go without a sign.
  if (m_busySince.elapsed() < 200) return;
  QString what = m_busyStatement.isEmpty() ? tr("Connecting") : m_busyStatement.simplified();
  if (what.size() > 60) what = what.left(57) + QStringLiteral("...");
  lblBusy->setText(tr("%1 (%2 s)").arg(what).arg(m_busySince.elapsed() / 1000));
  pnlBusy->show();
}

void TfrmMain::CancelWork() {
  if (m_session) m_session->Cancel();
  if (m_pending) m_pending->Cancel();
}

void TfrmMain::ReconnectClick() {
  if (!m_session) return;
  lblConnectionLost->setText(tr("The connection to the server was lost. Reconnecting..."));
  m_session->Reconnect();
  UpdateBusySign();
}

TSessionSettings SessionSettingsFromStore() {
  TSessionSettings settings;
  if (!dmMain) return settings;
  const QString key = QString::fromLatin1(Settings::QueryTimeout.Key);
  try {
    if (dmMain->GetSettingString(key, QString()).isEmpty())
      dmMain->SetSettingInteger(key, Settings::QueryTimeout.Default);
    settings.QueryTimeoutSeconds = dmMain->GetSettingInteger(Settings::QueryTimeout);
  } catch (const TConversionError&) {
    // A value that is no number: the default, rather than no connection at all.
    settings.QueryTimeoutSeconds = Settings::QueryTimeout.Default;
  }
  return settings;
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
  // The captions are what the menu shows and what screen readers say for the toolbar's
  // buttons; the toolbar itself shows icons only, with the hints as tooltips.
  actConnectDB =
      makeAction("actConnectDB", tr("&Connect to SQL Server..."), tr("Connect to SQL Server"), 0);
  actConnectDB->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
  actRefreshDBList =
      makeAction("actRefreshDBList", tr("&Refresh database list"), tr("Refresh database list"), 3);
  actRefreshDBList->setShortcut(QKeySequence(Qt::Key_F5));
  actRefreshDBList->setEnabled(false);
#if VELMORA_UPDATER
  actCheckForUpdates =
      makeAction("actCheckForUpdates", tr("Check for &updates..."), tr("Check for updates"), 4);
  connect(actCheckForUpdates, &QAction::triggered, this, &TfrmMain::actCheckForUpdatesExecute);
#endif
  actAbout = makeAction("actAbout", tr("&About Velmora"), tr("About"), 1);
  actAbout->setShortcut(QKeySequence(Qt::Key_F1));
  actExit = makeAction("actExit", tr("E&xit"), tr("Exit"), 2);
  actExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

  connect(actConnectDB, &QAction::triggered, this, &TfrmMain::actConnectDBExecute);
  connect(actRefreshDBList, &QAction::triggered, this, &TfrmMain::actRefreshDBListExecute);
  connect(actAbout, &QAction::triggered, this, &TfrmMain::actAboutExecute);
  connect(actExit, &QAction::triggered, this, &TfrmMain::actExitExecute);

  auto addButton = [this](QAction* action, const char* name) {
    ToolBar1->addAction(action);
    if (auto* b = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(action))) {
      b->setObjectName(name);
      b->setFixedSize(39, 38);
      b->setFocusPolicy(Qt::TabFocus);
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
  // Built for a distribution, the package manager brings new versions: no update button.
  if (actCheckForUpdates) addButton(actCheckForUpdates, "ToolButton7");
  addButton(actAbout, "ToolButton2");
  addSeparator("ToolButton8");
  addButton(actExit, "ToolButton3");
  // The Exit button shows image 5; the action itself carries image 2.
  if (auto* b = ToolBar1->findChild<QToolButton*>("ToolButton3")) b->setIcon(ToolbarImage(5));
}

void TfrmMain::BuildMenu() {
  actNextPage = new QAction(tr("&Next page"), this);
  actNextPage->setObjectName("actNextPage");
  actNextPage->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageDown));
  connect(actNextPage, &QAction::triggered, this, [this] {
    pgcDetails->setCurrentIndex((pgcDetails->currentIndex() + 1) % pgcDetails->count());
  });
  actPreviousPage = new QAction(tr("&Previous page"), this);
  actPreviousPage->setObjectName("actPreviousPage");
  actPreviousPage->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageUp));
  connect(actPreviousPage, &QAction::triggered, this, [this] {
    const int n = pgcDetails->count();
    pgcDetails->setCurrentIndex((pgcDetails->currentIndex() + n - 1) % n);
  });
  QMenuBar* bar = menuBar();
  bar->setObjectName("mnuMain");
  QMenu* server = bar->addMenu(tr("&Server"));
  server->setObjectName("mnuServer");
  server->addAction(actConnectDB);
  server->addAction(actRefreshDBList);
  server->addSeparator();
  server->addAction(actExit);
  QMenu* view = bar->addMenu(tr("&View"));
  view->setObjectName("mnuView");
  view->addAction(actNextPage);
  view->addAction(actPreviousPage);
  QMenu* help = bar->addMenu(tr("&Help"));
  help->setObjectName("mnuHelp");
  if (actCheckForUpdates) {
    help->addAction(actCheckForUpdates);
    help->addSeparator();
  }
  help->addAction(actAbout);
}

// Names in words for the controls that have no text of their own to be read out.
void TfrmMain::NameControlsForScreenReaders() {
  ToolBar1->setAccessibleName(tr("Toolbar"));
  Image1->setAccessibleName(tr("Visit the Quorvix web site"));
  grdOverview->setAccessibleName(tr("Databases and their transaction logs"));
  lvSummary->setAccessibleName(tr("Summary of the selected database's log"));
  grdFileDetails->setAccessibleName(tr("Log files of the selected database"));
  grdVLF->setAccessibleName(tr("Virtual log files of the selected database"));
  mmOpenTran->setAccessibleName(tr("Oldest active transaction"));
  pgcDetails->setAccessibleName(tr("Details of the selected database"));
  NxSplitter1->setAccessibleName(tr("Boundary between overview and details"));
  m_statusPanels[0]->setAccessibleName(tr("Server"));
  m_statusPanels[1]->setAccessibleName(tr("Server version"));
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
  nsSummary = new TNoticeStack(lvSummary, QStringLiteral("lblSummaryNotice"));
  tabSummary = MakePage(nsSummary);
  tabSummary->setObjectName("tabSummary");
  pgcDetails->addTab(tabSummary, tr("Summary"));

  grdFileDetails = MakeGrid("grdFileDetails");
  nsFiles = new TNoticeStack(grdFileDetails, QStringLiteral("lblFilesNotice"));
  tabFiles = MakePage(nsFiles);
  tabFiles->setObjectName("tabFiles");
  pgcDetails->addTab(tabFiles, tr("Files"));

  grdVLF = MakeGrid("grdVLF");
  nsVLF = new TNoticeStack(grdVLF, QStringLiteral("lblVLFNotice"));
  {
    // The map above the list, and the source of both above the map.
    auto* vlfContent = new QWidget;
    auto* layout = new QVBoxLayout(vlfContent);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    lblVLFSource = new QLabel;
    lblVLFSource->setObjectName("lblVLFSource");
    lblVLFSource->setTextFormat(Qt::PlainText);
    lblVLFSource->setWordWrap(true);
    imgVLFMap = new TVlfMap;
    // Both give way when the user makes the details panel small: the list keeps its room.
    lblVLFSource->setMinimumHeight(1);
    imgVLFMap->setMinimumHeight(1);
    layout->addWidget(lblVLFSource);
    layout->addWidget(imgVLFMap);
    layout->addWidget(nsVLF, 1);
    tabVLF = MakePage(vlfContent);
  }
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
  nsOpenTran = new TNoticeStack(mmOpenTran, QStringLiteral("lblOpenTranNotice"));
  tabOAT = MakePage(nsOpenTran);
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
  // DBCC OPENTRAN pads its columns with blanks: they line up in a fixed-width font only.
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  if (font().pixelSize() > 0)
    fixed.setPixelSize(font().pixelSize());
  else
    fixed.setPointSizeF(font().pointSizeF());
  mmOpenTran->setFont(fixed);
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
    TConnectDialogOutcome outcome = factory(this);
    if (!outcome.Accepted) return;
    ApplyConnection(outcome.ConnectionProperties, std::move(outcome.Session));
  });
}

// The new connection opens on a session of its own; the window keeps showing the current one
// until the new one has connected.
void TfrmMain::ApplyConnection(const TSQLConnectionProperties& props,
                               std::unique_ptr<TSession> session) {
  if (!session) session = std::make_unique<TSession>(SessionSettingsFromStore());
  if (m_pending) m_pending.release()->deleteLater(); // an older connect that has not answered
  m_pending = std::move(session);
  TSession* pending = m_pending.get();
  connect(pending, &TSession::Connected, this,
          [this, pending](int, const TConnectSnapshot& s) { ConnectedAnswer(pending, s); });
  connect(pending, &TSession::StatementStarted, this, [this](int, const QString& statement) {
    m_busyStatement = statement;
    UpdateBusySign();
  });
  connect(pending, &TSession::Finished, this, &TfrmMain::UpdateBusySign);
  pending->setProperty("instance", props.Instance);
  pending->Connect(props);
  UpdateBusySign();
}

void TfrmMain::ConnectedAnswer(TSession* sender, const TConnectSnapshot& snapshot) {
  if (sender == m_pending.get()) {
    std::unique_ptr<TSession> session = std::move(m_pending);
    if (!snapshot.Outcome.IsOk()) {
      // The window keeps what it shows; the dialog has already reported its own failures.
      session.release()->deleteLater();
      UpdateBusySign();
      return;
    }
    AdoptSession(std::move(session));
    ShowServerInTitle(m_session->property("instance").toString());
    actRefreshDBList->setEnabled(true);
    pnlConnectionLost->hide();
    if (snapshot.VersionOutcome.IsOk()) {
      const QString server = m_session->property("instance").toString();
      SetStatusPanel(0, server, sbMain->fontMetrics().horizontalAdvance(server) + 48);
      SetStatusPanel(1, snapshot.VersionName + QStringLiteral(" (") + snapshot.Edition +
                            QStringLiteral(")"));
    }
    LoadDatabaseList();
    return;
  }
  // A reconnect of the current session.
  if (sender == m_session.get() && !snapshot.Outcome.IsOk()) {
    lblConnectionLost->setText(tr("The connection to the server was lost. Reconnecting failed: %1")
                                   .arg(snapshot.Errors.join(QLatin1Char(' ')).simplified()));
    pnlConnectionLost->show();
  }
}

void TfrmMain::AdoptSession(std::unique_ptr<TSession> session) {
  if (m_session) {
    m_session->disconnect(this);
    m_session->Cancel();
    m_session.release()->deleteLater();
  }
  m_session = std::move(session);
  m_overview->ResetHealth(); // another server, or the same one anew
  TSession* s = m_session.get();
  connect(s, &TSession::OverviewRead, this,
          [this](int, const TOverviewSnapshot& o) { RunGuarded([&] { ShowOverview(o); }); });
  connect(s, &TSession::LogSpaceRead, this,
          [this](int, const TLogSpaceSnapshot& l) { ShowLogSpace(l); });
  connect(s, &TSession::DetailsRead, this,
          [this](int, const TDetailsSnapshot& d) { RunGuarded([&] { ShowDetails(d); }); });
  connect(s, &TSession::ConnectionLost, this, [this] {
    lblConnectionLost->setText(tr("The connection to the server was lost."));
    pnlConnectionLost->show();
  });
  connect(s, &TSession::ConnectionRestored, this, [this] { pnlConnectionLost->hide(); });
}

void TfrmMain::ShowServerInTitle(const QString& server) {
  // Two windows on two servers can be told apart in the task bar.
  setWindowTitle(server.trimmed().isEmpty() ? QStringLiteral("Velmora")
                                            : QStringLiteral("Velmora - ") + server.trimmed());
}

void TfrmMain::actRefreshDBListExecute() {
  RunGuarded([this] { LoadDatabaseList(); });
}

// The pages keep their own code; the window only wires them together.
void TfrmMain::BuildPages() {
  m_overview = new TOverviewPage(grdOverview, nsOverview, this);
  m_files = new TLogFilesPage(grdFileDetails, nsFiles, this);
  m_vlf = new TVLFPage(grdVLF, nsVLF, this);
  m_vlf->SetMap(imgVLFMap, lblVLFSource);
  memVLF = m_vlf->Table();
  m_openTran = new TOpenTranPage(mmOpenTran, nsOpenTran, this);
  m_summary = new TSummaryPage(lvSummary, nsSummary, this);
  // Rows, several at once, copied with their headers or saved as CSV.
  EnableGridExport(grdOverview, tr("databases"));
  EnableGridExport(grdFileDetails, tr("log files"));
  EnableGridExport(grdVLF, tr("virtual log files"));
  EnableSummaryCopy(lvSummary);

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

// The list, its figures and the first database's details come in one request; Refresh on a
// lost connection connects again first.
void TfrmMain::LoadDatabaseList() {
  if (!m_session) return;
  m_session->Refresh();
  UpdateBusySign();
}

void TfrmMain::ShowOverview(const TOverviewSnapshot& overview) {
  // A list that was not read because the connection went or the user cancelled leaves the
  // rows the user had; the bar or the pages say what happened.
  const TOutcomeKind kind = overview.Outcome.Kind;
  if (kind == TOutcomeKind::ConnectionLost || kind == TOutcomeKind::Cancelled) return;
  m_overview->ShowDatabases(overview);
  m_overview->ApplyLogSpace(overview.LogSpace);
  if (dmMain) m_overview->SetThresholds(dmMain->VerdictThresholds());
  m_overview->ApplyHealth(overview.Health);
  if (m_overview->RowCount() > 0 && !m_overview->DatabaseName(0).isEmpty()) {
    FSelectedRow = 0;
    grdOverview->setCurrentIndex(grdOverview->model()->index(0, 0));
    grdOverview->setFocus();
    // Its details come with the same request.
    ClearDetails(m_overview->DatabaseName(0));
  }
}

void TfrmMain::ShowLogSpace(const TLogSpaceSnapshot& logSpace) {
  m_overview->ApplyLogSpace(logSpace);
}

void TfrmMain::grdOverviewSelectCell(int ACol, int ARow) {
  Q_UNUSED(ACol);
  if (ARow == FSelectedRow) return;
  FSelectedRow = ARow;
  ShowDatabaseDetails();
}

void TfrmMain::ClearDetails(const QString& name) {
  m_vlf->Clear();
  m_openTran->Clear();
  m_files->Clear();
  ClearSummaryValues();
  pnlHeaderDetails->SetCaption(tr("T-log details for database: ") + name);
}

void TfrmMain::ShowDatabaseDetails() {
  const QString name = m_overview->DatabaseName(FSelectedRow);
  ClearDetails(name);
  if (!m_session) return;
  m_session->LoadDetails(name);
  UpdateBusySign();
}

void TfrmMain::ShowDetails(const TDetailsSnapshot& details) {
  bool vlfRead = false;
  {
    const TRepaintGuard repaint(grdVLF);
    vlfRead = m_vlf->Show(details.VLFs, [this](int column) { grdVLFColumnCreate(column); });
    if (vlfRead) {
      DisableColumnSorting(grdVLF);
      RightAlignNumericColumns(memVLF, grdVLF);
      FitColumnWidths(grdVLF, 24);
    }
  }
  m_openTran->Show(details.OpenTran, FOpenTranLines);
  m_files->Show(details.Files, *memVLF, vlfRead);
  m_summary->Show(details, m_openTran->Lines(),
                  details.Files.Outcome.IsOk() ? m_files->RowCount() : -1,
                  vlfRead ? memVLF->rowCount() : -1);
  // What the details tell of the log's health joins the overview's row and the verdict.
  m_overview->ApplyDetails(details, *memVLF, vlfRead, m_openTran->Lines());
  if (details.DatabaseOutcome.IsOk())
    m_summary->ShowVerdict(m_overview->Verdict(details.Database), m_overview->JudgesHealth(),
                           m_overview->Facts(details.Database));
}

void TfrmMain::FitColumnWidths(QTableView* grid, int margin) {
  ::FitColumnWidths(grid, margin);
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

void TfrmMain::actCheckForUpdatesExecute() {
#if VELMORA_UPDATER
  TfrmCheckForUpdates dialog(this);
  ModalHook::Exec(dialog);
#endif
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
