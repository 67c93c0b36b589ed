#pragma once
// The main window: the database overview above, the details of one database below.

#include "common/uCommon.h"

#include <QMainWindow>
#include <QStringList>
#include <QTimer>
#include <functional>

class QAction;
class QLabel;
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
class TOpenTranPage;
class TOverviewPage;
class TSummaryPage;
class TVLFPage;

// What the Connect dialog hands back: accepted only after it has replaced the data store and
// tested the connection itself.
struct TConnectDialogOutcome {
  bool Accepted = false;
  TSQLConnectionProperties ConnectionProperties;
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
  QTextEdit* mmOpenTran = nullptr;
  TMemTable* memVLF = nullptr; // the VLF table behind grdVLF
  QTimer timerConnect;
  TFormStorage* fsMain = nullptr; // placement, kept in dmMain's store

  QStringList FOpenTranLines;
  int FSelectedRow = -1;

  // The overview.
  void LoadDatabaseList();
  void UpdateLogSpace();
  void grdOverviewSelectCell(int ACol, int ARow);
  void ShowDatabaseDetails();
  void FitColumnWidths(QTableView* grid, int margin);
  // The log details.
  void LoadLogDetails(const QString& name);
  void LoadLogFiles();
  void DisableColumnSorting(QTableView* grid);
  void RightAlignNumericColumns(TMemTable* table, QTableView* grid);
  void grdVLFColumnCreate(int column);
  // The summary.
  void BuildSummaryRows();
  void ClearSummaryValues();
  void LoadLogSummary(const QString& name);

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
  void ApplyConnection(const TSQLConnectionProperties& props);

  void BuildPages();

  QLabel* m_statusPanels[2] = {nullptr, nullptr};
  TOverviewPage* m_overview = nullptr;
  TLogFilesPage* m_files = nullptr;
  TVLFPage* m_vlf = nullptr;
  TOpenTranPage* m_openTran = nullptr;
  TSummaryPage* m_summary = nullptr;
  bool m_shownOnce = false;
};

// Lives from start-up to exit.
extern TfrmMain* frmMain;
