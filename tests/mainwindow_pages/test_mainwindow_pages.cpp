// The main window connected to the simulator: overview, selection, the four details pages and
// the summary, through the real window (offscreen) and its session.

#include "forms/uLogFilesPage.h"
#include "forms/uOverviewPage.h"
#include "forms/uSummaryPage.h"
#include "forms/ufrmMain.h"
#include "platform/gui/uGridModel.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uModalHook.h"
#include "platform/gui/uNoticeStack.h"
#include "platform/gui/uVlfMap.h"
#include "platform/uMemTable.h"
#include "uSqlSimProcess.h"

#include <QAction>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>

using OV = TOverviewPage::Column;
using FC = TLogFilesPage::Column;
using SI = TSummaryPage::Item;

namespace {
const char* kLogin = "monitor";
const char* kPassword = "secret";

QJsonObject Scenario(const QString& version, const QJsonArray& databases,
                     const QStringList& denied = {}) {
  QJsonObject login{{"name", kLogin},
                    {"password", kPassword},
                    {"defaultDatabase", databases.first()["name"].toString()}};
  if (!denied.isEmpty()) login["denied"] = QJsonArray::fromStringList(denied);
  return QJsonObject{
      {"server", QJsonObject{{"version", version}, {"edition", "Developer Edition (64-bit)"}}},
      {"logins", QJsonArray{login}},
      {"databases", databases}};
}

QString Json(const QJsonObject& o) {
  return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QJsonArray SystemDatabases() {
  return QJsonArray{QJsonObject{{"name", "master"}, {"logUsedPercent", 90}},
                    QJsonObject{{"name", "model"}, {"logUsedPercent", 80}},
                    QJsonObject{{"name", "msdb"}, {"logUsedPercent", 75}},
                    QJsonObject{{"name", "tempdb"}, {"logUsedPercent", 95}}};
}

QJsonArray With(QJsonArray a, const QJsonArray& more) {
  for (const QJsonValue& v : more)
    a.append(v);
  return a;
}

QString Cell(const QAbstractItemModel* m, int row, int column) {
  return m->index(row, column).data().toString();
}

int RowOf(const TGridModel* m, const QString& name) {
  for (int r = 0; r < m->rowCount(); ++r)
    if (m->Cell(OV::colDBName, r).toString() == name) return r;
  return -1;
}

QStringList Headers(const QAbstractItemModel* m) {
  QStringList h;
  for (int c = 0; c < m->columnCount(); ++c)
    h << m->headerData(c, Qt::Horizontal).toString();
  return h;
}

// One simulator and one window per test.
class TWindowRun {
public:
  bool Start(const QJsonObject& scenario) {
    if (!Sim.Start(Json(scenario))) {
      qWarning() << Sim.ErrorString();
      return false;
    }
    return true;
  }

  // Shows the window and connects it as an accepted Connect dialog would, then waits until the
  // window has shown everything the connect read.
  bool Connect(const QString& login = kLogin, const QString& password = kPassword) {
    TfrmMain::SetConnectDialogFactory([this, login, password](QWidget*) {
      TConnectDialogOutcome outcome;
      outcome.ConnectionProperties.Instance = Sim.ServerName();
      outcome.ConnectionProperties.SQLLogin = login;
      outcome.ConnectionProperties.SQLPassword = password;
      outcome.Accepted = true;
      return outcome;
    });
    if (!Window.isVisible()) {
      Window.show();
      Window.timerConnect.stop();
    }
    Window.actConnectDBExecute();
    return WaitIdle() && Window.actRefreshDBList->isEnabled();
  }

  bool WaitIdle() {
    return QTest::qWaitFor([this] { return !Window.IsBusy(); }, 30000);
  }

  void Refresh() {
    Window.actRefreshDBList->trigger();
    WaitIdle();
  }

  int Count(const QString& prefix) const {
    int n = 0;
    for (const QString& line : Sim.LogLines())
      n += line.startsWith(prefix) ? 1 : 0;
    return n;
  }

  void Click(QTableView* grid, int row, int column, bool wait = true) {
    const QModelIndex i = grid->model()->index(row, column);
    grid->scrollTo(i);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(i).center());
    if (wait) WaitIdle();
  }

  void ClickHeader(QTableView* grid, int section) {
    QHeaderView* h = grid->horizontalHeader();
    QTest::mouseClick(
        h->viewport(), Qt::LeftButton, {},
        QPoint(h->sectionViewportPosition(section) + h->sectionSize(section) / 2, h->height() / 2));
  }

  TGridModel* Overview() const { return Window.OverviewPage()->Model(); }
  TGridModel* Files() const { return Window.FilesPage()->Model(); }
  QString Summary(int item) const { return Window.SummaryPage()->Value(item); }

  TSqlSimProcess Sim;
  TfrmMain Window;
};
} // namespace

class TestMainWindowPages : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void initTestCase() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    if (TSqlSimProcess::SimulatorPath().isEmpty()) QSKIP("VELMORA_SQLSIM is not set");
  }
  void init() {
    ModalHook::ClearAll();
    ModalHook::SetStrict(true);
  }
  void cleanup() { TfrmMain::SetConnectDialogFactory({}); }

  void overviewRowsAndStatus() {
    TWindowRun s;
    QVERIFY(s.Start(Scenario(
        "10.50.1600.1",
        With(SystemDatabases(),
             {QJsonObject{{"name", "Sales"}, {"logSizeMB", 0.99999}, {"logUsedPercent", 69.999}},
              QJsonObject{{"name", "Busy"},
                          {"status", 0x1 | 0x400000},
                          {"logSizeMB", 12.5},
                          {"logUsedPercent", 70}},
              QJsonObject{{"name", "Archive"}, {"status", 0x1 | 0x200 | 0x400000}},
              QJsonObject{{"name", "Rescue"}, {"status", 0x1000 | 0x8000}},
              QJsonObject{{"name", "Quiet"}, {"status", 24}}}))));
    QVERIFY(s.Connect());

    // The status bar: the server as given, sized to its text, and version with edition.
    const QString server = s.Sim.ServerName();
    QCOMPARE(s.Window.StatusPanelText(0), server);
    QCOMPARE(s.Window.StatusPanelWidth(0),
             s.Window.sbMain->fontMetrics().horizontalAdvance(server) + 48);
    QVERIFY2(s.Window.StatusPanelText(1).startsWith("SQL Server 2008 R2 - 10.50.1600"),
             qPrintable(s.Window.StatusPanelText(1)));
    QVERIFY(s.Window.StatusPanelText(1).endsWith(" (Developer Edition (64-bit))"));

    TGridModel* m = s.Overview();
    // The health columns come after the figures, which stay as they were.
    QCOMPARE(Headers(m), QStringList({"Database Name", "Status", "Log Size (MB)",
                                      "Log Space Used (%)", "Last Updated", "Recovery model",
                                      "Log reuse wait", "VLFs", "Last log backup", "Verdict"}));
    QStringList names;
    for (int r = 0; r < m->rowCount(); ++r)
      names << m->Cell(OV::colDBName, r).toString();
    QCOMPARE(names, QStringList({"Archive", "Busy", "master", "model", "msdb", "Quiet", "Rescue",
                                 "Sales", "tempdb"}));

    struct TExpected {
      const char* Name;
      const char* Status;
      const char* Size;
      const char* Used;
      bool Highlighted;
    };
    const TExpected expected[] = {
        {"Archive", "autoclose, offline, autoshrink", "", "", false},
        {"Busy", "autoclose, autoshrink", "12.5", "70", true},
        {"Rescue", "single user, emergency mode", "1", "10", false},
        {"Quiet", "", "1", "10", false},
        {"Sales", "", "0.9999", "69.99", false},
        {"tempdb", "", "1", "95", false},
        {"master", "", "1", "90", false},
    };
    for (const TExpected& e : expected) {
      const int r = RowOf(m, e.Name);
      QVERIFY2(r >= 0, e.Name);
      QCOMPARE(Cell(m, r, OV::colStatus), QString(e.Status));
      QCOMPARE(Cell(m, r, OV::colLogSize), QString(e.Size));
      QCOMPARE(Cell(m, r, OV::colUsed), QString(e.Used));
      QCOMPARE(m->index(r, OV::colUsed).data(Qt::BackgroundRole).isValid(), e.Highlighted);
      QCOMPARE(Cell(m, r, OV::colUpdated).isEmpty(), QString(e.Size).isEmpty());
    }
    // Every figure of one pass carries the same time.
    QCOMPARE(Cell(m, RowOf(m, "Busy"), OV::colUpdated), Cell(m, RowOf(m, "Sales"), OV::colUpdated));

    // Row 0 is selected and shown.
    QCOMPARE(s.Window.FSelectedRow, 0);
    QCOMPARE(s.Window.grdOverview->currentIndex().row(), 0);
    QCOMPARE(s.Window.pnlHeaderDetails->Caption(), QString("T-log details for database: Archive"));

    // Rows rebuilt, as before the figures of a Refresh arrive: nothing of the last pass stays
    // behind in the reused rows (figures, time, colour).
    TOverviewSnapshot list;
    const QHash<QString, int> statuses = {{"Archive", 0x1 | 0x200 | 0x400000},
                                          {"Busy", 0x1 | 0x400000},
                                          {"Rescue", 0x1000 | 0x8000},
                                          {"Quiet", 24}};
    for (const QString& name : names)
      list.Databases.push_back({name, statuses.value(name)});
    s.Window.OverviewPage()->ShowDatabases(list);
    for (const TExpected& e : expected) {
      const int r = RowOf(m, e.Name);
      QCOMPARE(Cell(m, r, OV::colStatus), QString(e.Status));
      for (int c = OV::colLogSize; c <= OV::colUpdated; ++c) {
        QCOMPARE(Cell(m, r, c), QString());
        QVERIFY(!m->index(r, c).data(Qt::EditRole).isValid());
      }
      QVERIFY(!m->index(r, OV::colUsed).data(Qt::BackgroundRole).isValid());
    }
  }

  void selectionLoadsOnce() {
    TWindowRun s;
    QJsonArray dbs = SystemDatabases();
    for (const char* n : {"a1", "a2", "a3", "a4", "a5", "a6"})
      dbs.append(QJsonObject{{"name", n}});
    QVERIFY(s.Start(Scenario("10.50.1600.1", dbs)));
    QVERIFY(s.Connect());
    QCOMPARE(s.Count("DBCC LOGINFO"), 1); // the reload shows row 0 exactly once
    QCOMPARE(s.Window.pnlHeaderDetails->Caption(), QString("T-log details for database: a1"));

    const int batches = int(s.Sim.LogLines().size());
    s.Click(s.Window.grdOverview, 0, OV::colUsed); // same row, another cell
    QCOMPARE(int(s.Sim.LogLines().size()), batches);

    const int perf = s.Count("DBCC SQLPERF");
    s.Click(s.Window.grdOverview, 5, OV::colStatus);
    QCOMPARE(s.Window.FSelectedRow, 5);
    QCOMPARE(s.Window.pnlHeaderDetails->Caption(), QString("T-log details for database: a6"));
    QCOMPARE(s.Count("DBCC LOGINFO"), 2);
    QCOMPARE(s.Count("DBCC SQLPERF"), perf + 1); // a selection refreshes the log figures
    QVERIFY(s.Sim.LogLines().contains("USE [a6]"));

    // Several rows selected: only the current row is shown, and it loads once.
    QTableView* grid = s.Window.grdOverview;
    const QModelIndex third = grid->model()->index(2, OV::colStatus);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      grid->visualRect(third).center());
    QVERIFY(s.WaitIdle());
    QCOMPARE(grid->selectionModel()->selectedRows().size(), 4);
    QCOMPARE(s.Window.FSelectedRow, 2);
    QCOMPARE(s.Window.pnlHeaderDetails->Caption(), QString("T-log details for database: a3"));
    QCOMPARE(s.Count("DBCC LOGINFO"), 3);
    QTest::keyClick(grid, Qt::Key_A, Qt::ControlModifier);
    QVERIFY(s.WaitIdle());
    QCOMPARE(grid->selectionModel()->selectedRows().size(), grid->model()->rowCount());
    QCOMPARE(s.Count("DBCC LOGINFO"), 3);

    s.Refresh();
    QCOMPARE(s.Window.FSelectedRow, 0);
    QCOMPARE(s.Window.grdOverview->currentIndex().row(), 0);
    QCOMPARE(s.Window.pnlHeaderDetails->Caption(), QString("T-log details for database: a1"));
    QCOMPARE(s.Count("DBCC LOGINFO"), 4);
  }

  void sortingKeepsTheShownRow() {
    TWindowRun s;
    QVERIFY(
        s.Start(Scenario("10.50.1600.1", {QJsonObject{{"name", "a"}, {"logUsedPercent", 50}},
                                          QJsonObject{{"name", "b"}, {"logUsedPercent", 20}},
                                          QJsonObject{{"name", "c"}, {"logUsedPercent", 10}}})));
    QVERIFY(s.Connect());
    s.ClickHeader(s.Window.grdOverview, OV::colUsed); // ascending: c, b, a
    QCOMPARE(s.Overview()->Cell(OV::colDBName, 0).toString(), QString("c"));
    QCOMPARE(s.Window.FSelectedRow, 2); // "a" moved to row 2 and is still the one shown
    const int loads = s.Count("DBCC LOGINFO");
    s.Click(s.Window.grdOverview, 0, OV::colDBName);
    QCOMPARE(s.Count("DBCC LOGINFO"), loads + 1);
    QCOMPARE(s.Window.pnlHeaderDetails->Caption(), QString("T-log details for database: c"));
  }

  void filesPage() {
    TWindowRun s;
    const qint64 big = qint64(3) << 31;
    QJsonObject db{
        {"name", "Two"},
        {"logFiles", QJsonArray{QJsonObject{{"fileId", 2},
                                            {"name", "Two_log"},
                                            {"fileName", "C:\\Data\\Two_log.ldf"},
                                            {"size", 128},
                                            {"maxSize", -1},
                                            {"growth", 10},
                                            {"percentGrowth", true}},
                                QJsonObject{{"fileId", 3},
                                            {"name", "Two_log2"},
                                            {"fileName", "D:\\Logs\\Two_log2.ldf"},
                                            {"size", 100},
                                            {"maxSize", 268435456},
                                            {"growth", 128}}}},
        {"vlfs", QJsonArray{QJsonObject{{"fileId", 2}, {"fileSize", 253952}, {"status", 2}},
                            QJsonObject{{"fileId", 2}, {"fileSize", 253952}, {"status", 0}},
                            QJsonObject{{"fileId", 3}, {"fileSize", 500000}, {"status", 2}},
                            QJsonObject{{"fileId", 2}, {"fileSize", 253952}, {"status", 2}},
                            QJsonObject{{"fileId", 2}, {"fileSize", 262147}, {"status", 0}},
                            QJsonObject{{"fileId", 3}, {"fileSize", double(big)}, {"status", 0}}}}};
    QVERIFY(s.Start(Scenario("10.50.1600.1", {db})));
    QVERIFY(s.Connect());
    TGridModel* f = s.Files();
    QCOMPARE(Headers(f), QStringList({"File ID", "Logical name", "File name", "Size", "Max. size",
                                      "Growth", "VLF count", "VLF used", "Average VLF size (bytes)",
                                      "Smallest VLF (bytes)", "Largest VLF (bytes)"}));
    QCOMPARE(f->rowCount(), 2);
    const QStringList row0 = {"2",        "Two_log",   "C:\\Data\\Two_log.ldf",
                              "1.000 MB", "unlimited", "10% increments",
                              "4",        "2",         QString::number((3 * 253952 + 262147) / 4),
                              "253952",   "262147"};
    const QStringList row1 = {"3",
                              "Two_log2",
                              "D:\\Logs\\Two_log2.ldf",
                              "800.000 kB",
                              "2,048.000 GB",
                              "1.000 MB",
                              "2",
                              "1",
                              QString::number((big + 500000) / 2),
                              "500000",
                              QString::number(big)};
    for (int c = 0; c < row0.size(); ++c) {
      QCOMPARE(Cell(f, 0, c), row0[c]);
      QCOMPARE(Cell(f, 1, c), row1[c]);
    }
    QCOMPARE(s.Window.grdFileDetails->horizontalHeader()->sectionSize(FC::colFileName), 180);
    QCOMPARE(s.Summary(SI::itmLogFiles), QString("2"));
    QCOMPARE(s.Summary(SI::itmVirtualLogFiles), QString("6"));

    // Every column of the Files grid sorts, numbers by value.
    s.ClickHeader(s.Window.grdFileDetails, FC::colVLFCount);
    QCOMPARE(Cell(f, 0, FC::colFileID), QString("3"));
    s.ClickHeader(s.Window.grdFileDetails, FC::colLogicalName);
    QCOMPARE(Cell(f, 0, FC::colFileID), QString("2"));
    // Sizes sort by their bytes (as text "1.000 MB" would come before "800.000 kB"); the
    // text shown stays.
    f->sort(FC::colSize, Qt::AscendingOrder);
    QCOMPARE(Cell(f, 0, FC::colSize), QString("800.000 kB"));
    QCOMPARE(Cell(f, 1, FC::colSize), QString("1.000 MB"));
    f->sort(FC::colMaxSize, Qt::DescendingOrder); // unlimited is the largest
    QCOMPARE(Cell(f, 0, FC::colMaxSize), QString("unlimited"));
    // A path too long for its cell shows in full as its tooltip.
    QCOMPARE(f->index(0, FC::colFileName).data(Qt::ToolTipRole).toString(),
             Cell(f, 0, FC::colFileName));
  }

  void vlfPageShapes_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("columns");
    QTest::newRow("2008 R2") << "10.50.1600.1"
                             << QStringList({"FileId", "FileSize", "StartOffset", "FSeqNo",
                                             "Status", "Parity", "CreateLSN"});
    QTest::newRow("2012, with RecoveryUnitId")
        << "11.0.2100.60"
        << QStringList({"RecoveryUnitId", "FileId", "FileSize", "StartOffset", "FSeqNo", "Status",
                        "Parity", "CreateLSN"});
  }
  void vlfPageShapes() {
    QFETCH(QString, version);
    QFETCH(QStringList, columns);
    TWindowRun s;
    const QString lsn = "1234567890123456789012345"; // 25 digits, beyond a double
    QJsonObject db{{"name", "L"},
                   {"vlfs", QJsonArray{QJsonObject{{"fileSize", 262144}, {"status", 2}},
                                       QJsonObject{{"fileSize", 262144}, {"createLsn", lsn}},
                                       QJsonObject{{"fileSize", 262144}, {"createLsn", "7"}}}}};
    QVERIFY(s.Start(Scenario(version, {db})));
    QVERIFY(s.Connect());
    const TMemTable* t = s.Window.memVLF;
    QCOMPARE(Headers(t), columns);
    QCOMPARE(t->rowCount(), 3);
    const int createLsn = t->FieldIndex("CreateLSN");
    QCOMPARE(Cell(t, 1, createLsn), lsn);
    QCOMPARE(Qt::Alignment(t->index(1, createLsn).data(Qt::TextAlignmentRole).toInt()) &
                 Qt::AlignHorizontal_Mask,
             Qt::AlignRight);
    QCOMPARE(
        Qt::Alignment(t->headerData(createLsn, Qt::Horizontal, Qt::TextAlignmentRole).toInt()) &
            Qt::AlignHorizontal_Mask,
        Qt::AlignRight);
    // The LSN column is wide enough for all its digits.
    QVERIFY(s.Window.grdVLF->horizontalHeader()->sectionSize(createLsn) >
            s.Window.grdVLF->fontMetrics().horizontalAdvance(lsn));

    // The VLF grid never sorts.
    const int fileSize = t->FieldIndex("FileSize");
    s.Window.pgcDetails->setCurrentWidget(s.Window.tabVLF);
    s.ClickHeader(s.Window.grdVLF, createLsn);
    s.ClickHeader(s.Window.grdVLF, fileSize);
    QCOMPARE(Cell(t, 0, createLsn), QString("0"));
    QCOMPARE(Cell(t, 1, createLsn), lsn);
    QCOMPARE(Cell(t, 2, createLsn), QString("7"));
  }

  void vlfColumnsFixedByFirstLoad() {
    TWindowRun s;
    QVERIFY(s.Start(Scenario("11.0.2100.60", {QJsonObject{{"name", "L"}}})));
    QVERIFY(s.Connect());
    QCOMPARE(s.Window.memVLF->columnCount(), 8);
    QVERIFY(s.Sim.ApplyScenario(Json(Scenario("10.50.1600.1", {QJsonObject{{"name", "L"}}}))));
    s.Refresh();
    const TMemTable* t = s.Window.memVLF;
    QCOMPARE(t->columnCount(), 8); // RecoveryUnitId stays, now empty
    QCOMPARE(t->rowCount(), 4);
    QVERIFY(t->Cell(0, t->FieldIndex("RecoveryUnitId")).isNull());
    QCOMPARE(t->Cell(0, t->FieldIndex("Status")).toInt(), 2);
    QCOMPARE(s.Files()->Cell(FC::colVLFCount, 0).toLongLong(), 4);
  }

  void openTranPage_data() {
    QTest::addColumn<QJsonObject>("extra");
    QTest::addColumn<QStringList>("page");
    QTest::addColumn<QString>("oldest");
    const QString done = "DBCC execution completed. If DBCC printed error messages, contact your "
                         "system administrator.";
    QTest::newRow("none") << QJsonObject()
                          << QStringList({"No active open transactions.", "", done}) << "-";
    QTest::newRow("open transaction")
        << QJsonObject{{"openTransaction",
                        QJsonObject{{"startTime", "Jan 10 2011  4:17:01:240PM"}, {"sid", "0x01"}}}}
        << QStringList({"Transaction information for database 'T'.", "Oldest active transaction:",
                        "    SPID (server process ID): 54", "    UID (user ID) : -1",
                        "    Name          : user_transaction", "    LSN           : (20:339:1)",
                        "    Start time    : Jan 10 2011  4:17:01:240PM",
                        "    SID           : 0x01", "", done})
        << "Jan 10 2011  4:17:01:240PM";
    QTest::newRow("replication only")
        << QJsonObject{{"replication", QJsonObject{{"nonDistributedLsn", "(12:34:1)"}}}}
        << QStringList({"Transaction information for database 'T'.",
                        "Replicated Transaction Information:",
                        "        Oldest distributed LSN     : (0:0:0)",
                        "        Oldest non-distributed LSN : (12:34:1)", "", done})
        << "(12:34:1)";
  }
  void openTranPage() {
    QFETCH(QJsonObject, extra);
    QFETCH(QStringList, page);
    QFETCH(QString, oldest);
    QJsonObject db{{"name", "T"}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
      db[it.key()] = it.value();
    TWindowRun s;
    QVERIFY(s.Start(Scenario("10.50.1600.1", {db})));
    QVERIFY(s.Connect());
    QCOMPARE(s.Window.mmOpenTran->toPlainText().split('\n'), page);
    QCOMPARE(s.Summary(SI::itmOldestTransaction), oldest);
  }

  void summaryRows_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QJsonObject>("extra");
    QTest::addColumn<QString>("recovery");
    QTest::addColumn<QString>("backup");
    QTest::addColumn<QString>("reuse");
    QTest::newRow("no log backup") << "10.50.1600.1" << QJsonObject{{"recovery", "FULL"}} << "FULL"
                                   << "(none)"
                                   << "NOTHING";
    QTest::newRow("latest backup at midnight")
        << "10.50.1600.1"
        << QJsonObject{{"logBackups", QJsonArray{"2026-03-01T10:00:00", "2026-03-02T00:00:00"}},
                       {"logReuseWait", "LOG_BACKUP"},
                       {"recovery", "BULK_LOGGED"}}
        << "BULK_LOGGED"
        << "3/2/26"
        << "LOG_BACKUP";
    QTest::newRow("latest backup with time")
        << "9.00.3042.00"
        << QJsonObject{{"logBackups", QJsonArray{"2026-03-01T10:00:00", "2026-03-02T16:17:01"}}}
        << "SIMPLE"
        << "3/2/26 4:17:01 PM"
        << "NOTHING";
  }
  void summaryRows() {
    QFETCH(QString, version);
    QFETCH(QJsonObject, extra);
    QFETCH(QString, recovery);
    QFETCH(QString, backup);
    QFETCH(QString, reuse);
    QJsonObject db{{"name", "S"}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
      db[it.key()] = it.value();
    TWindowRun s;
    QVERIFY(s.Start(Scenario(version, {db})));
    QVERIFY(s.Connect());
    QTreeWidget* lv = s.Window.lvSummary;
    // The server's six values first, as they always were; the verdict's rows follow.
    QVERIFY(lv->topLevelItemCount() >= 17);
    QCOMPARE(lv->topLevelItem(SI::itmVerdict)->text(0), QString("Verdict"));
    const QStringList labels = {"Recovery model",       "Last t-log backup",
                                "Log reuse wait desc.", "Oldest active transaction",
                                "# t-log files",        "# virtual log files"};
    for (int i = 0; i < 11; ++i) {
      QTreeWidgetItem* item = lv->topLevelItem(i);
      QCOMPARE(item->text(0), i % 2 ? QString() : labels[i / 2]);
      QCOMPARE(item->text(1), i % 2 ? QString() : QString(":"));
    }
    QCOMPARE(s.Summary(SI::itmRecoveryModel), recovery);
    QCOMPARE(s.Summary(SI::itmLastLogBackup), backup);
    QCOMPARE(s.Summary(SI::itmLogReuseWait), reuse);
    QCOMPARE(s.Summary(SI::itmOldestTransaction), QString("-"));
    QCOMPARE(s.Summary(SI::itmLogFiles), QString("1"));
    QCOMPARE(s.Summary(SI::itmVirtualLogFiles), QString("4"));
    // The label column is as wide as its widest label.
    const int widest = lv->fontMetrics().horizontalAdvance("Oldest active transaction");
    QVERIFY(lv->columnWidth(0) >= widest && lv->columnWidth(0) < widest + 20);
  }

  void summaryOnVersion8() {
    TWindowRun s;
    QVERIFY(s.Start(Scenario("8.00.2039", {QJsonObject{{"name", "Old"}}})));
    QVERIFY(s.Connect());
    QCOMPARE(s.Summary(SI::itmLogReuseWait),
             QString("(available only on SQL Server 2005 or newer)"));
    QVERIFY(s.Window.StatusPanelText(1).startsWith("SQL Server 2000 - "));
    const QStringList lines = s.Sim.LogLines();
    const int files = int(lines.lastIndexOf(QRegularExpression("^SELECT \\* FROM sysfiles.*")));
    QVERIFY(files >= 0);
    const QStringList after = lines.mid(files + 1);
    QCOMPARE(after.size(), 2); // the summary's two queries, no sys.databases
    QVERIFY(after[0].startsWith("SELECT DATABASEPROPERTYEX(N'Old', 'RECOVERY')"));
    QVERIFY(after[1].startsWith("SELECT TOP 1 a.backup_finish_date"));
  }

  void withoutLogInfoPermission() {
    TWindowRun s;
    QVERIFY(s.Start(Scenario("10.50.1600.1", {QJsonObject{{"name", "P"}}}, {"loginfo"})));
    QVERIFY(s.Connect());
    TGridModel* f = s.Files();
    QCOMPARE(f->rowCount(), 1);
    QCOMPARE(Cell(f, 0, FC::colSize), QString("1.000 MB"));
    // Counts that could not be read are not shown as 0.
    for (int c = FC::colVLFCount; c <= FC::colLargestVLFSize; ++c)
      QCOMPARE(Cell(f, 0, c), QString("n/a"));
    QCOMPARE(s.Window.memVLF->rowCount(), 0);
    QCOMPARE(s.Window.nsVLF->Notice(),
             QString("This login may not run DBCC LOGINFO (error 2571): it needs sysadmin."));
    QCOMPARE(s.Summary(SI::itmVirtualLogFiles), QString("n/a"));
    QCOMPARE(s.Summary(SI::itmLogFiles), QString("1"));
  }

  // The health columns by server version: "—" where the server has no source, a VLF count
  // once a database was shown on servers without the log stats.
  void healthColumnsByVersion_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("recovery"); // of database S
    QTest::addColumn<QString>("vlfsBefore");
    QTest::addColumn<QString>("verdict");
    QTest::newRow("2000") << "8.00.2039"
                          << "\u2014"
                          << "\u2014"
                          << "\u2014";
    QTest::newRow("2008 R2") << "10.50.1600.1"
                             << "FULL"
                             << "\u2014"
                             << "Critical";
    QTest::newRow("2022") << "16.0.1000.6"
                          << "FULL"
                          << "4 / 1"
                          << "Critical";
  }
  void healthColumnsByVersion() {
    QFETCH(QString, version);
    QFETCH(QString, recovery);
    QFETCH(QString, vlfsBefore);
    QFETCH(QString, verdict);
    TWindowRun s;
    QVERIFY(s.Start(
        Scenario(version, {QJsonObject{{"name", "A"}}, QJsonObject{{"name", "S"},
                                                                   {"recovery", "FULL"},
                                                                   {"logReuseWait", "LOG_BACKUP"},
                                                                   {"logUsedPercent", 69.99}}})));
    QVERIFY(s.Connect());
    TGridModel* m = s.Overview();
    const int row = RowOf(m, "S");
    QCOMPARE(Cell(m, row, OV::colUsed), QString("69.99")); // the old columns as they were
    QCOMPARE(Cell(m, row, OV::colRecovery), recovery);
    QCOMPARE(Cell(m, row, OV::colVLFs), vlfsBefore);
    const bool judged = verdict != "\u2014";
    QCOMPARE(Cell(m, row, OV::colLastLogBackup), judged ? QString("never") : verdict);
    QCOMPARE(Cell(m, row, OV::colReuseWait), judged ? QString("LOG_BACKUP") : verdict);
    // Never log-backed-up in FULL recovery: critical, the reason in the cell, all in the tip.
    QCOMPARE(Cell(m, row, OV::colVerdict),
             judged ? QString("FULL recovery and never a log backup") : verdict);
    QCOMPARE(m->index(row, OV::colVerdict).data(Qt::DecorationRole).isValid(), judged);
    if (judged)
      QVERIFY(m->index(row, OV::colVerdict)
                  .data(Qt::ToolTipRole)
                  .toString()
                  .startsWith("Critical: FULL recovery and never a log backup: back up the log"));
    // Shown once, its VLFs are counted on every version that judges.
    s.Click(s.Window.grdOverview, row, OV::colDBName);
    QCOMPARE(Cell(m, row, OV::colVLFs), judged ? QString("4 / 1") : verdict);
    QCOMPARE(s.Summary(SI::itmVerdict), verdict);
    QCOMPARE(s.Window.SummaryPage()->ReasonCount(), judged ? 1 : 0);
  }

  // A refused source shows "n/a" with the reason; the other columns are unaffected.
  void healthSourceRefused() {
    TWindowRun s;
    QVERIFY(s.Start(Scenario("10.50.1600.1", {QJsonObject{{"name", "S"}, {"logUsedPercent", 75}}},
                             {"lastbackups"})));
    QVERIFY(s.Connect());
    TGridModel* m = s.Overview();
    QCOMPARE(Cell(m, 0, OV::colUsed), QString("75"));
    QCOMPARE(Cell(m, 0, OV::colRecovery), QString("SIMPLE"));
    QCOMPARE(Cell(m, 0, OV::colLastLogBackup), QString("n/a"));
    const QString tip = m->index(0, OV::colLastLogBackup).data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.contains("error 229") && tip.contains("msdb"), qPrintable(tip));
    QCOMPARE(Cell(m, 0, OV::colVerdict), QString("Log 75 % full (warning from 70 %)"));
  }

  // A login with VIEW SERVER STATE alone: the VLF list and its map come from
  // sys.dm_db_log_info, and the page says so.
  void vlfListWithoutSysadmin() {
    TWindowRun s;
    QJsonObject scenario = Scenario(
        "16.0.1000.6",
        {QJsonObject{
            {"name", "S"},
            {"vlfs", QJsonArray{QJsonObject{{"count", 300}, {"size", 65536}, {"active", 2}}}}}});
    QJsonObject login = scenario["logins"].toArray()[0].toObject();
    login["sysadmin"] = false;
    scenario["logins"] = QJsonArray{login};
    QVERIFY(s.Start(scenario));
    QVERIFY(s.Connect());
    QCOMPARE(s.Window.memVLF->rowCount(), 300);
    QCOMPARE(s.Window.imgVLFMap->Vlfs().size(), 300);
    const QString source = s.Window.lblVLFSource->text();
    QVERIFY2(source.startsWith("Source: sys.dm_db_log_info") && source.contains("error 2571"),
             qPrintable(source));
    QCOMPARE(Cell(s.Overview(), 0, OV::colVLFs), QString("300 / 2"));
    QCOMPARE(Cell(s.Overview(), 0, OV::colVerdict), QString("300 VLFs (warning above 200)"));
    QVERIFY(s.Window.SummaryPage()->Reason(0).contains("grow it again in steps of 64 MB"));
  }

  void failedListQuery() {
    TWindowRun s;
    QVERIFY(s.Start(Scenario("10.50.1600.1", {QJsonObject{{"name", "P"}}}, {"sysdatabases"})));
    QVERIFY(s.Connect());
    QCOMPARE(s.Overview()->rowCount(), 0);
    QCOMPARE(s.Window.FSelectedRow, -1);
    QCOMPARE(s.Count("USE "), 0);
    QCOMPARE(s.Window.pnlHeaderDetails->Caption(), QString("T-log details for database:"));
    QCOMPARE(s.Summary(SI::itmRecoveryModel), QString());
    QCOMPARE(s.Window.nsOverview->Notice(),
             QString("This login may not read the list of databases (sysdatabases) (error 229)."));
  }

  void quotedNames() {
    TWindowRun s;
    const QString evil = "x]; DROP DATABASE Sales; --";
    QVERIFY(
        s.Start(Scenario("10.50.1600.1", {QJsonObject{{"name", "O'Brien"}, {"recovery", "FULL"}},
                                          QJsonObject{{"name", "Sales"}},
                                          QJsonObject{{"name", evil}, {"logUsedPercent", 42}}})));
    QVERIFY(s.Connect());
    QCOMPARE(s.Window.pnlHeaderDetails->Caption(), QString("T-log details for database: O'Brien"));
    QCOMPARE(s.Summary(SI::itmRecoveryModel), QString("FULL"));
    QVERIFY(s.Sim.LogLines().contains("SELECT DATABASEPROPERTYEX(N'O''Brien', 'RECOVERY')"));

    const int row = RowOf(s.Overview(), evil);
    QVERIFY(row >= 0);
    QCOMPARE(Cell(s.Overview(), row, OV::colUsed), QString("42"));
    s.Click(s.Window.grdOverview, row, OV::colDBName);
    QCOMPARE(s.Window.pnlHeaderDetails->Caption(), "T-log details for database: " + evil);
    QCOMPARE(s.Summary(SI::itmLogFiles), QString("1"));
    QCOMPARE(s.Summary(SI::itmVirtualLogFiles), QString("4"));
    // Nothing but the quoted USE carried the name's SQL to the server.
    for (const QString& line : s.Sim.LogLines())
      if (line.contains("DROP"))
        QVERIFY2(line == "USE [x]]; DROP DATABASE Sales; --]" ||
                     line.contains("N'x]; DROP DATABASE Sales; --'"),
                 qPrintable(line));
    QCOMPARE(s.Count("USE [x]]; DROP DATABASE Sales; --]"), 1);
  }

  void connectionLostBarAndReconnect() {
    TWindowRun s;
    const QJsonObject scenario =
        Scenario("10.50.1600.1", {QJsonObject{{"name", "a"}}, QJsonObject{{"name", "b"}}});
    QVERIFY(s.Start(scenario));
    QVERIFY(s.Connect());
    QVERIFY(!s.Window.pnlConnectionLost->isVisible());
    QSignalSpy lost(s.Window.Session(), &TSession::ConnectionLost);
    QJsonObject dropping = scenario;
    dropping["faults"] =
        QJsonArray{QJsonObject{{"statement", "loginfo"}, {"drop", "middle"}, {"count", 1}}};
    QVERIFY(s.Sim.ApplyScenario(Json(dropping)));

    s.Click(s.Window.grdOverview, 1, OV::colDBName);
    const QString text = "The connection to the server was lost.";
    QVERIFY(s.Window.pnlConnectionLost->isVisible());
    QCOMPARE(s.Window.lblConnectionLost->text(), text);
    QCOMPARE(s.Window.nsVLF->Notice(), text);
    QCOMPARE(s.Window.nsFiles->Notice(), text);
    QCOMPARE(s.Summary(SI::itmVirtualLogFiles), QString("n/a"));
    // Another click says nothing new: the bar stays, the overview keeps its rows.
    s.Click(s.Window.grdOverview, 0, OV::colDBName);
    QCOMPARE(lost.size(), 1);
    QCOMPARE(s.Window.nsSummary->Notice(), text);
    QCOMPARE(s.Overview()->rowCount(), 2);

    s.Window.btnReconnect->click();
    QVERIFY(s.WaitIdle());
    QVERIFY(!s.Window.pnlConnectionLost->isVisible());
    QCOMPARE(s.Window.FSelectedRow, 0);
    QCOMPARE(s.Window.nsVLF->Notice(), QString());
    QCOMPARE(s.Window.memVLF->rowCount(), 4);
    QCOMPARE(s.Summary(SI::itmVirtualLogFiles), QString("4"));
  }

  void busySignAndEscape() {
    TWindowRun s;
    const QJsonObject scenario =
        Scenario("10.50.1600.1", {QJsonObject{{"name", "a"}}, QJsonObject{{"name", "b"}}});
    QVERIFY(s.Start(scenario));
    QVERIFY(s.Connect());
    QVERIFY(!s.Window.pnlBusy->isVisible());
    QJsonObject slow = scenario;
    slow["faults"] =
        QJsonArray{QJsonObject{{"statement", "loginfo"}, {"delayMs", 20000}, {"count", 1}}};
    QVERIFY(s.Sim.ApplyScenario(Json(slow)));

    s.Click(s.Window.grdOverview, 1, OV::colDBName, false);
    QTRY_VERIFY(s.Window.pnlBusy->isVisible());
    QTRY_VERIFY(s.Window.lblBusy->text().startsWith("DBCC LOGINFO ("));
    // The window answers meanwhile.
    s.Window.pgcDetails->setCurrentWidget(s.Window.tabVLF);
    QCOMPARE(s.Window.pgcDetails->currentWidget(), s.Window.tabVLF);

    s.Window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&s.Window));
    QTest::keyClick(&s.Window, Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!s.Window.IsBusy(), 5000);
    QVERIFY(!s.Window.pnlBusy->isVisible());
    QCOMPARE(s.Window.nsVLF->Notice(), QString("Loading was cancelled."));
    QCOMPARE(s.Summary(SI::itmVirtualLogFiles), QString("n/a"));
    QVERIFY(!s.Window.pnlConnectionLost->isVisible());
  }
};

QTEST_MAIN(TestMainWindowPages)
#include "test_mainwindow_pages.moc"
