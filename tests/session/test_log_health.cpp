// The log reader's health figures against the simulator: which statements each server version
// gets, what each source gives, and how refusals fall back (msdb to the log stats, DBCC LOGINFO
// to sys.dm_db_log_info).

#include "datastore/uLogQueries.h"
#include "session/uLogReader.h"
#include "sqlsim/uSqlSimFixture.h"

#include <QTest>

using namespace SqlSimFixture;

namespace {
// The shared fixture plus the logins of least privilege.
QString HealthFixture(const QString& version) {
  QString json = FixtureFor(version);
  json.replace(R"("logins": [)",
               R"("logins": [
    {"name": "viewer", "password": "pw", "sysadmin": false},
    {"name": "blind", "password": "pw", "sysadmin": false, "viewServerState": false},
    {"name": "nomsdb", "password": "pw", "denied": ["lastbackups"]},)");
  return json;
}

struct TRun {
  TSqlSimProcess Sim;
  TLogReader Reader;
  QStringList Sent;
  bool Start(const QString& version, const QString& login) {
    if (!Sim.Start(HealthFixture(version))) return false;
    Reader.SetStatementObserver([this](const QString& s) { Sent << s; });
    TSQLConnectionProperties p;
    p.Instance = Sim.ServerName();
    p.SQLLogin = login;
    p.SQLPassword = login == "demo" ? "demo" : "pw";
    const TConnectSnapshot c = Reader.Connect(p);
    Sent.clear();
    return c.Outcome.IsOk();
  }
};

const QString V2000 = "8.0.2039.0", V2008R2 = "10.50.1600.1", V2016SP1 = "13.0.4001.0",
              V2016SP2 = "13.0.5026.0", V2022 = "16.0.1000.6";
const QString List = "SELECT name, status FROM master..sysdatabases ORDER BY name";
const QString Space = "DBCC SQLPERF(LOGSPACE)";
} // namespace

class TestLogHealth : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void initTestCase() {
    if (TSqlSimProcess::SimulatorPath().isEmpty()) QSKIP("VELMORA_SQLSIM is not set");
  }

  // The overview's statements by server version: the catalog and msdb from 2005 on, the log
  // stats from 2016 SP2 on, each once for all databases.
  void statementsPerVersion_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("statements");
    const QString dbs = LogQueries::Databases(), backups = LogQueries::LastLogBackups(),
                  stats = LogQueries::LogStats();
    QTest::newRow("2000") << V2000 << QStringList{List, Space};
    QTest::newRow("2008 R2") << V2008R2 << QStringList{List, Space, dbs, backups};
    QTest::newRow("2016 SP1") << V2016SP1 << QStringList{List, Space, dbs, backups};
    QTest::newRow("2016 SP2") << V2016SP2 << QStringList{List, Space, dbs, backups, stats};
    QTest::newRow("2022") << V2022 << QStringList{List, Space, dbs, backups, stats};
  }
  void statementsPerVersion() {
    QFETCH(QString, version);
    QFETCH(QStringList, statements);
    TRun run;
    QVERIFY(run.Start(version, "demo"));
    const TOverviewSnapshot o = run.Reader.ReadOverview();
    QCOMPARE(run.Sent, statements);
    QCOMPARE(run.Sim.LogLines().mid(run.Sim.LogLines().size() - statements.size()), statements);
    const TLogHealthSnapshot& h = o.Health;
    QCOMPARE(h.Databases.Supported, statements.size() > 2);
    QCOMPARE(h.Stats.Supported, statements.size() > 4);
    for (const TLogHealthSource* s : {&h.Databases, &h.Backups, &h.Stats})
      QVERIFY2(s->Outcome.IsOk(), qPrintable(s->Outcome.Text));
    if (!h.Databases.Supported) {
      QVERIFY(h.Rows.isEmpty());
      return;
    }
    QVERIFY(h.ServerTime.isValid());
    const TLogHealthRow z = h.Rows.value("Zürich's]db");
    QCOMPARE(z.RecoveryModel, QString("FULL"));
    QCOMPARE(z.ReuseWait, 2);
    QCOMPARE(z.ReuseWaitDesc, QString("LOG_BACKUP"));
    QVERIFY(z.LogBackupKnown);
    QCOMPARE(z.LastLogBackup.toString("yyyy-MM-dd HH:mm:ss"), QString("2011-01-10 16:17:01"));
    QVERIFY(h.Rows.value("Quiet").LogBackupKnown);
    QVERIFY(!h.Rows.value("Quiet").LastLogBackup.isValid()); // never
    QCOMPARE(h.Rows.value("Offline").State, 6);
    QCOMPARE(z.VlfCount, h.Stats.Supported ? 3 : -1);
    QCOMPARE(z.ActiveVlfCount, h.Stats.Supported ? 1 : -1);
  }

  // A source that is refused fails on its own, with the reason; the others stand, and the log
  // stats stand in for msdb's backup history.
  void refusals() {
    {
      TRun run;
      QVERIFY(run.Start(V2022, "nomsdb"));
      const TLogHealthSnapshot h = run.Reader.ReadOverview().Health;
      QCOMPARE(h.Backups.Outcome.Kind, TOutcomeKind::NotPermitted);
      QCOMPARE(h.Backups.Outcome.ServerError, 229);
      QVERIFY(h.Backups.Outcome.Text.contains("SELECT on msdb.dbo.backupset"));
      QVERIFY(h.Databases.Outcome.IsOk() && h.Stats.Outcome.IsOk());
      const TLogHealthRow z = h.Rows.value("Zürich's]db");
      QVERIFY(z.LogBackupKnown);
      QCOMPARE(z.LastLogBackup.toString("yyyy-MM-dd HH:mm:ss"), QString("2011-01-10 16:17:01"));
      QVERIFY(h.Rows.value("Quiet").LogBackupKnown); // 1900-01-01 in the view: never
      QVERIFY(!h.Rows.value("Quiet").LastLogBackup.isValid());
    }
    {
      TRun run;
      QVERIFY(run.Start(V2022, "blind"));
      const TLogHealthSnapshot h = run.Reader.ReadOverview().Health;
      QCOMPARE(h.Stats.Outcome.Kind, TOutcomeKind::NotPermitted);
      QVERIFY2(h.Stats.Outcome.Text.contains("VIEW SERVER PERFORMANCE STATE"),
               qPrintable(h.Stats.Outcome.Text));
      QVERIFY(h.Databases.Outcome.IsOk());
      QVERIFY(!h.Rows.contains("Offline")); // a plain login does not see it
      QCOMPARE(h.Rows.value("Zürich's]db").VlfCount, -1);
    }
  }

  // DBCC LOGINFO refused: from 2016 SP2 on the VLF list comes from sys.dm_db_log_info, in the
  // same columns; before, the refusal stands.
  void vlfFallback_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("login");
    QTest::addColumn<bool>("viewSent");
    QTest::addColumn<int>("source"); // TVLFSource
    QTest::addColumn<bool>("read");
    QTest::newRow("sysadmin") << V2022 << "demo" << false << int(TVLFSource::DbccLogInfo) << true;
    QTest::newRow("2022, VIEW SERVER STATE")
        << V2022 << "viewer" << true << int(TVLFSource::LogInfoView) << true;
    QTest::newRow("2016 SP2, VIEW SERVER STATE")
        << V2016SP2 << "viewer" << true << int(TVLFSource::LogInfoView) << true;
    QTest::newRow("2016 SP1 has no view")
        << V2016SP1 << "viewer" << false << int(TVLFSource::DbccLogInfo) << false;
    QTest::newRow("refused both") << V2022 << "blind" << true << int(TVLFSource::LogInfoView)
                                  << false;
  }
  void vlfFallback() {
    QFETCH(QString, version);
    QFETCH(QString, login);
    QFETCH(bool, viewSent);
    QFETCH(int, source);
    QFETCH(bool, read);
    TRun run;
    QVERIFY(run.Start(version, login));
    const TDetailsSnapshot d = run.Reader.ReadDetails("Zürich's]db");
    QVERIFY(d.DatabaseOutcome.IsOk());
    QCOMPARE(run.Sent.contains(LogQueries::LogInfo()), viewSent);
    QCOMPARE(int(d.VLFs.Source), source);
    QCOMPARE(d.VLFs.Outcome.IsOk(), read);
    if (source == int(TVLFSource::LogInfoView)) {
      QCOMPARE(d.VLFs.DbccOutcome.ServerError, 2571);
      QVERIFY(!d.VLFs.DbccOutcome.Text.isEmpty());
    }
    if (!read) {
      QCOMPARE(d.VLFs.Outcome.Kind, TOutcomeKind::NotPermitted);
      return;
    }
    QCOMPARE(d.VLFs.RowCount(), 3);
    QStringList names;
    for (const TColumnData& c : d.VLFs.Columns)
      names << c.Name;
    QCOMPARE(names.mid(names.size() - 7), QStringList({"FileId", "FileSize", "StartOffset",
                                                       "FSeqNo", "Status", "Parity", "CreateLSN"}));
  }
};

QTEST_GUILESS_MAIN(TestLogHealth)
#include "test_log_health.moc"
