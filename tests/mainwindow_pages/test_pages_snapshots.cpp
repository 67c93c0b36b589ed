// The pages as views: snapshots fed straight into the window, no server. What each page shows
// for each outcome of its part, and that a count that could not be read is never shown as 0.

#include "forms/uLogFilesPage.h"
#include "forms/uOverviewPage.h"
#include "forms/uSummaryPage.h"
#include "forms/ufrmMain.h"
#include "platform/gui/uGridModel.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uNoticeStack.h"
#include "platform/uMemTable.h"

#include <QLocale>
#include <QTableView>
#include <QTest>
#include <QTextEdit>

using FC = TLogFilesPage::Column;
using SI = TSummaryPage::Item;
using K = TOutcomeKind;

namespace {

TOutcome Failure(TOutcomeKind kind, const QString& text) {
  TOutcome o;
  o.Kind = kind;
  o.Text = text;
  return o;
}

TColumnData IntColumn(const char* name, TFieldKind kind, const std::vector<qint64>& values) {
  TColumnData c;
  c.Name = QString::fromLatin1(name);
  c.Kind = kind;
  for (const qint64 v : values) {
    if (kind == TFieldKind::Int64)
      c.Int64.push_back(v);
    else
      c.Int32.push_back(std::int32_t(v));
    c.MarkValue();
  }
  return c;
}

// A database read in full: one log file with three VLFs, no open transaction.
TDetailsSnapshot AllRead() {
  TDetailsSnapshot d;
  d.Database = "Sales";
  d.VLFs.Columns = {IntColumn("FileId", TFieldKind::Integer, {2, 2, 2}),
                    IntColumn("FileSize", TFieldKind::Int64, {1000, 1000, 4000}),
                    IntColumn("Status", TFieldKind::Integer, {2, 0, 0})};
  d.OpenTran.InfoMessages = {"DBCC execution completed. If DBCC printed error messages, contact "
                             "your system administrator.\r\nNo active open transactions."};
  TLogFileRow f;
  f.FileId = 2;
  f.Name = "Sales_log";
  f.FileName = "C:\\Data\\Sales_log.ldf";
  f.SizePages = 128;
  f.MaxSizePages = -1;
  f.Growth = 10;
  f.Status = 0x100000;
  d.Files.Rows = {f};
  d.Summary.RecoveryModel = "FULL";
  d.Summary.LogReuseWait = "NOTHING";
  return d;
}

} // namespace

class TestPagesSnapshots : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void detailsPages_data() {
    QTest::addColumn<TDetailsSnapshot>("details");
    QTest::addColumn<QString>("vlfNotice");
    QTest::addColumn<QString>("filesNotice");
    QTest::addColumn<QString>("openTranNotice");
    QTest::addColumn<QString>("summaryNotice");
    QTest::addColumn<int>("vlfRows");
    QTest::addColumn<QString>("fileVLFCount"); // the VLF count cell of the log file
    QTest::addColumn<QString>("summaryFiles");
    QTest::addColumn<QString>("summaryVLFs");
    QTest::addColumn<QString>("summaryOldest");

    QTest::newRow("all read") << AllRead() << ""
                              << ""
                              << ""
                              << "" << 3 << "3"
                              << "1"
                              << "3"
                              << "-";

    const QString refused = "This login may not run DBCC LOGINFO (error 2571): it needs sysadmin.";
    TDetailsSnapshot d = AllRead();
    d.VLFs = {};
    d.VLFs.Outcome = Failure(K::NotPermitted, refused);
    QTest::newRow("VLF list refused") << d << refused << ""
                                      << ""
                                      << "" << 0 << "n/a"
                                      << "1"
                                      << "n/a"
                                      << "-";

    const QString offline = "The database is offline.";
    d = TDetailsSnapshot();
    d.Database = "Archive";
    d.DatabaseOutcome = Failure(K::Unavailable, offline);
    d.VLFs.Outcome = d.OpenTran.Outcome = d.Files.Outcome = d.DatabaseOutcome;
    d.Summary.RecoveryOutcome = d.Summary.BackupOutcome = d.Summary.ReuseWaitOutcome =
        d.DatabaseOutcome;
    QTest::newRow("database offline") << d << offline << offline << offline << offline << 0 << ""
                                      << ""
                                      << ""
                                      << "";

    const QString timedOut = "The server did not answer within the query time-out (60 s).";
    d = AllRead();
    d.OpenTran = {};
    d.OpenTran.Outcome = Failure(K::TimedOut, timedOut);
    QTest::newRow("open transactions timed out") << d << ""
                                                 << "" << timedOut << "" << 3 << "3"
                                                 << "1"
                                                 << "3"
                                                 << "n/a";

    const QString cancelled = "Loading was cancelled.";
    d = AllRead();
    d.Files = {};
    d.Files.Outcome = Failure(K::Cancelled, cancelled);
    QTest::newRow("files cancelled") << d << "" << cancelled << ""
                                     << "" << 3 << ""
                                     << "n/a"
                                     << "3"
                                     << "-";
  }
  void detailsPages() {
    QFETCH(TDetailsSnapshot, details);
    QFETCH(QString, vlfNotice);
    QFETCH(QString, filesNotice);
    QFETCH(QString, openTranNotice);
    QFETCH(QString, summaryNotice);
    QFETCH(int, vlfRows);
    QFETCH(QString, fileVLFCount);
    QFETCH(QString, summaryFiles);
    QFETCH(QString, summaryVLFs);
    QFETCH(QString, summaryOldest);

    TfrmMain w;
    w.BuildSummaryRows();
    // What an earlier database left must not show through.
    w.ShowDetails(AllRead());
    w.ShowDetails(details);
    QCOMPARE(w.nsVLF->Notice(), vlfNotice);
    QCOMPARE(w.nsFiles->Notice(), filesNotice);
    QCOMPARE(w.nsOpenTran->Notice(), openTranNotice);
    QCOMPARE(w.nsSummary->Notice(), summaryNotice);
    QCOMPARE(w.memVLF->rowCount(), vlfRows);
    const TGridModel* files = w.FilesPage()->Model();
    QCOMPARE(files->rowCount(), fileVLFCount.isEmpty() ? 0 : 1);
    if (!fileVLFCount.isEmpty())
      for (int c = FC::colVLFCount; c <= FC::colLargestVLFSize; ++c)
        if (fileVLFCount == "n/a" || c == FC::colVLFCount)
          QCOMPARE(files->index(0, c).data().toString(), fileVLFCount);
    if (summaryNotice.isEmpty()) {
      QCOMPARE(w.SummaryPage()->Value(SI::itmLogFiles), summaryFiles);
      QCOMPARE(w.SummaryPage()->Value(SI::itmVirtualLogFiles), summaryVLFs);
      QCOMPARE(w.SummaryPage()->Value(SI::itmOldestTransaction), summaryOldest);
      QCOMPARE(w.SummaryPage()->Value(SI::itmRecoveryModel), QString("FULL"));
    }
  }

  // A value that could not be read says why in its place; "(none)" only when there was none.
  void summaryValues() {
    TfrmMain w;
    w.BuildSummaryRows();
    TDetailsSnapshot d = AllRead();
    d.Summary.BackupOutcome = Failure(K::NotPermitted, "This login may not read the backup "
                                                       "history (msdb..backupset) (error 229).");
    d.Summary.ReuseWaitAvailable = false;
    w.ShowDetails(d);
    QCOMPARE(w.SummaryPage()->Value(SI::itmLastLogBackup), d.Summary.BackupOutcome.Text);
    QCOMPARE(w.SummaryPage()->Value(SI::itmLogReuseWait),
             QString("(available only on SQL Server 2005 or newer)"));

    d = AllRead();
    w.ShowDetails(d);
    QCOMPARE(w.SummaryPage()->Value(SI::itmLastLogBackup), QString("(none)"));
    d.Summary.HasLogBackup = true;
    d.Summary.LastLogBackup = QDateTime(QDate(2026, 3, 2), QTime(16, 17, 1));
    w.ShowDetails(d);
    QCOMPARE(w.SummaryPage()->Value(SI::itmLastLogBackup), QString("3/2/26 4:17:01 PM"));
  }

  void overview() {
    TfrmMain w;
    TOverviewSnapshot o;
    o.Databases = {{"master", 0}, {"Sales", 0}};
    o.LogSpace.ReadAt = QDateTime(QDate(2026, 1, 1), QTime(9, 30));
    o.LogSpace.Rows = {{"Sales", 12.5, 75}};
    w.ShowOverview(o);
    const TGridModel* m = w.OverviewPage()->Model();
    QCOMPARE(m->rowCount(), 2);
    QCOMPARE(m->index(1, TOverviewPage::colUsed).data().toString(), QString("75"));
    QCOMPARE(w.FSelectedRow, 0);
    QCOMPARE(w.pnlHeaderDetails->Caption(), QString("T-log details for database: master"));
    QCOMPARE(w.nsOverview->Notice(), QString());

    // A lost connection or a cancel keeps the rows the user had.
    TOverviewSnapshot lost;
    lost.Outcome = TOutcome::ConnectionLost();
    w.ShowOverview(lost);
    QCOMPARE(m->rowCount(), 2);
    QCOMPARE(w.nsOverview->Notice(), QString());

    // A refused list says why in place of the grid.
    TOverviewSnapshot refused;
    refused.Outcome = Failure(K::NotPermitted, "This login may not read the list of databases.");
    w.ShowOverview(refused);
    QCOMPARE(m->rowCount(), 0);
    QCOMPARE(w.nsOverview->Notice(), refused.Outcome.Text);

    // Figures that could not be read change nothing.
    w.ShowOverview(o);
    TLogSpaceSnapshot failed;
    failed.Outcome = Failure(K::TimedOut, "late");
    failed.Rows = {{"Sales", 1, 1}};
    w.ShowLogSpace(failed);
    QCOMPARE(m->index(1, TOverviewPage::colUsed).data().toString(), QString("75"));
  }
};

QTEST_MAIN(TestPagesSnapshots)
#include "test_pages_snapshots.moc"
