#pragma once
// The main window: the database overview above, the details of one database below.

#include "common/uCommon.h"
#include "session/uSession.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

class QAction;
class QFrame;
class QLabel;
class QPushButton;
class QPlainTextEdit;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTableView;
class QTextEdit;
class QToolBar;
class QTreeWidget;
class TFormStorage;
class THeaderPanel;
class TLogFilesPage;
class TMemTable;
class TNoticeStack;
class TOpenTranPage;
class TOverviewPage;
class TSummaryPage;
class TVLFPage;
class TVlfMap;

// What the Connect dialog hands back: accepted only after it has tested the connection itself.
struct TConnectDialogOutcome {
  bool Accepted = false;
  TSQLConnectionProperties ConnectionProperties;
  // The session the test ran on, not yet connected; null: the window makes one.
  std::unique_ptr<TSession> Session;
};
using TConnectDialogFactory = std::function<TConnectDialogOutcome(QWidget* owner)>;

class TfrmMain : public QMainWindow {
  Q_OBJECT
public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  // The production factory shows the Connect dialog; tests put their own in its place.
  static void SetConnectDialogFactory(TConnectDialogFactory factory);
  static TConnectDialogFactory ConnectDialogFactory();

  // Status bar panels (0 = server, 1 = version and edition).
  QString StatusPanelText(int panel) const;
  int StatusPanelWidth(int panel) const;
  void SetStatusPanel(int panel, const QString& text, int width = -1);
  // "Velmora - SERVER" once connected to SERVER.
  void ShowServerInTitle(const QString& server);

  // Components, named as the window's parts are named.
  QToolBar* ToolBar1 = nullptr;
  QAction* actConnectDB = nullptr;
  QAction* actRefreshDBList = nullptr;
  QAction* actCheckForUpdates = nullptr;
  QAction* actAbout = nullptr;
  QAction* actExit = nullptr;
  // The menu bar holds the toolbar's actions and these two, which move between the pages.
  QAction* actNextPage = nullptr;
  QAction* actPreviousPage = nullptr;
  QStatusBar* sbMain = nullptr;
  QLabel* Image1 = nullptr;
  QWidget* pnlBottom = nullptr;
  THeaderPanel* pnlHeaderOverview = nullptr;
  QSplitter* NxSplitter1 = nullptr;
  THeaderPanel* pnlHeaderDetails = nullptr;
  QTabWidget* pgcDetails = nullptr;
  QWidget* tabSummary = nullptr;
  QWidget* tabFiles = nullptr;
  QWidget* tabVLF = nullptr;
  QWidget* tabOAT = nullptr;
  QTableView* grdOverview = nullptr;
  QTreeWidget* lvSummary = nullptr;
  QTableView* grdFileDetails = nullptr;
  QTableView* grdVLF = nullptr;
  TVlfMap* imgVLFMap = nullptr;   // the VLFs of each log file as a bar, above the list
  QLabel* lblVLFSource = nullptr; // where the list came from
  QTextEdit* mmOpenTran = nullptr;
  TMemTable* memVLF = nullptr; // the VLF table behind grdVLF
  QTimer timerConnect;
  TFormStorage* fsMain = nullptr; // placement, kept in dmMain's store
  // The pages' content, or in its place why it is missing.
  TNoticeStack* nsOverview = nullptr;
  TNoticeStack* nsSummary = nullptr;
  TNoticeStack* nsFiles = nullptr;
  TNoticeStack* nsVLF = nullptr;
  TNoticeStack* nsOpenTran = nullptr;
  // Above the overview while the connection is lost.
  QFrame* pnlConnectionLost = nullptr;
  QLabel* lblConnectionLost = nullptr;
  QPushButton* btnReconnect = nullptr;
  // In the status bar while the session works: what runs, for how long, and Cancel.
  QWidget* pnlBusy = nullptr;
  QLabel* lblBusy = nullptr;
  QPushButton* btnBusyCancel = nullptr;

  QStringList FOpenTranLines;
  int FSelectedRow = -1;

  // The overview. The loads ask the session and return at once; the answers fill the pages.
  void LoadDatabaseList();
  void grdOverviewSelectCell(int ACol, int ARow);
  void ShowDatabaseDetails();
  void FitColumnWidths(QTableView* grid, int margin);
  // The session's answers: the pages show them.
  void ShowOverview(const TOverviewSnapshot& overview);
  void ShowLogSpace(const TLogSpaceSnapshot& logSpace);
  void ShowDetails(const TDetailsSnapshot& details);
  // The log details.
  void DisableColumnSorting(QTableView* grid);
  void RightAlignNumericColumns(TMemTable* table, QTableView* grid);
  void grdVLFColumnCreate(int column);
  // The summary.
  void BuildSummaryRows();
  void ClearSummaryValues();

  // The session of the connection the window shows; null before the first connect.
  TSession* Session() const { return m_session.get(); }
  // A connect that has not yet passed; the window changes only when it has.
  TSession* PendingSession() const { return m_pending.get(); }
  bool IsBusy() const;

  TOverviewPage* OverviewPage() const { return m_overview; }
  TLogFilesPage* FilesPage() const { return m_files; }
  TVLFPage* VLFPage() const { return m_vlf; }
  TOpenTranPage* OpenTranPage() const { return m_openTran; }
  TSummaryPage* SummaryPage() const { return m_summary; }

public Q_SLOTS:
  void actConnectDBExecute();
  void actRefreshDBListExecute();
  void actCheckForUpdatesExecute();
  void actAboutExecute();
  void actExitExecute();
  void Image1Click();
  void timerConnectTimer();
  // Cancel and Esc: ends what the session runs.
  void CancelWork();
  void ReconnectClick();

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void FormCreate();
  void FormShow();
  void BuildToolbar();
  void BuildMenu();
  void NameControlsForScreenReaders();
  void BuildDetailsPages();
  void SetupPlacement();
  void BuildConnectionLostBar();
  void BuildBusySign();
  void ApplyConnection(const TSQLConnectionProperties& props, std::unique_ptr<TSession> session);
  void ConnectedAnswer(TSession* sender, const TConnectSnapshot& snapshot);
  void AdoptSession(std::unique_ptr<TSession> session);
  void ClearDetails(const QString& name);
  void UpdateBusySign();

  void BuildPages();

  QLabel* m_statusPanels[2] = {nullptr, nullptr};
  TOverviewPage* m_overview = nullptr;
  TLogFilesPage* m_files = nullptr;
  TVLFPage* m_vlf = nullptr;
  TOpenTranPage* m_openTran = nullptr;
  TSummaryPage* m_summary = nullptr;
  bool m_shownOnce = false;
  std::unique_ptr<TSession> m_session;
  std::unique_ptr<TSession> m_pending;
  QTimer m_busyTimer;
  QElapsedTimer m_busySince;
  QString m_busyStatement;
};

// The session's settings as the settings store holds them (the query time-out).
TSessionSettings SessionSettingsFromStore();

// Lives from start-up to exit.
extern TfrmMain* frmMain;
