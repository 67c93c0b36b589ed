// The synchronous reader against the simulator: what each outcome looks like in a snapshot, and
// that nothing more goes to the server once a part has shown the database or the connection
// unusable.

#include "session/uLogReader.h"
#include "uSessionScenario.h"

#include <QJsonDocument>
#include <QTest>

using namespace SessionTest;
using K = TOutcomeKind;

Q_DECLARE_METATYPE(TOutcomeKind)

class TestLogReader : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void detailsOutcomes_data() {
    QTest::addColumn<QJsonArray>("faults");
    QTest::addColumn<QStringList>("denied");
    QTest::addColumn<QString>("database");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<TOutcomeKind>("vlfs");
    QTest::addColumn<QString>("vlfText");
    QTest::addColumn<TOutcomeKind>("after"); // the parts read after the VLF list
    QTest::addColumn<QString>("lastSent");   // the last batch the server saw

    const QString done = "SELECT log_reuse_wait_desc FROM sys.databases WHERE name = N'Sales'";
    QTest::newRow("ok") << QJsonArray() << QStringList() << "Sales" << 60 << K::Ok << QString()
                        << K::Ok << done;
    QTest::newRow("refused")
        << QJsonArray() << QStringList{"loginfo"} << "Sales" << 60 << K::NotPermitted
        << "This login may not run DBCC LOGINFO (error 2571): it needs sysadmin." << K::Ok << done;
    QTest::newRow("offline") << QJsonArray() << QStringList() << "Archive" << 60 << K::Unavailable
                             << "The database is offline." << K::Unavailable << "USE [Archive]";
    QTest::newRow("dropped in the middle of a result")
        << QJsonArray{Fault("loginfo", {{"drop", "middle"}})} << QStringList() << "Sales" << 60
        << K::ConnectionLost << "The connection to the server was lost." << K::ConnectionLost
        << "DBCC LOGINFO";
    QTest::newRow("dropped before the answer")
        << QJsonArray{Fault("loginfo", {{"drop", "before"}})} << QStringList() << "Sales" << 60
        << K::ConnectionLost << "The connection to the server was lost." << K::ConnectionLost
        << "DBCC LOGINFO";
    QTest::newRow("malformed answer")
        << QJsonArray{Fault("loginfo", {{"malformed", true}})} << QStringList() << "Sales" << 60
        << K::ConnectionLost << "The connection to the server was lost." << K::ConnectionLost
        << "DBCC LOGINFO";
    QTest::newRow("timed out") << QJsonArray{Fault("loginfo", {{"delayMs", 4000}})} << QStringList()
                               << "Sales" << 1 << K::TimedOut
                               << "The server did not answer within the query time-out (1 s)."
                               << K::Ok << done;
    QTest::newRow("other error")
        << QJsonArray{Fault(
               "loginfo",
               {{"errors", QJsonArray{QJsonObject{{"number", 1205},
                                                  {"text", "Transaction was deadlocked."}}}}})}
        << QStringList() << "Sales" << 60 << K::Failed
        << "The server reported error 1205: Transaction was deadlocked." << K::Ok << done;
  }
  void detailsOutcomes() {
    QFETCH(QJsonArray, faults);
    QFETCH(QStringList, denied);
    QFETCH(QString, database);
    QFETCH(int, timeout);
    QFETCH(TOutcomeKind, vlfs);
    QFETCH(QString, vlfText);
    QFETCH(TOutcomeKind, after);
    QFETCH(QString, lastSent);

    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario(faults, denied)), qPrintable(sim.ErrorString()));
    TLogReaderSettings settings;
    settings.QueryTimeoutSeconds = timeout;
    TLogReader reader(settings);
    QVERIFY(reader.Connect(Props(sim)).Outcome.IsOk());

    TLogSpaceSnapshot logSpace;
    const TDetailsSnapshot d = reader.ReadDetails(database, &logSpace);
    QCOMPARE(d.Database, database);
    QCOMPARE(d.VLFs.Outcome.Kind, vlfs);
    if (!vlfText.isEmpty()) QCOMPARE(d.VLFs.Outcome.Text, vlfText);
    if (vlfs == K::Ok) QCOMPARE(d.VLFs.RowCount(), 4);
    for (const TOutcome* o : {&d.OpenTran.Outcome, &d.Files.Outcome, &d.Summary.RecoveryOutcome,
                              &d.Summary.BackupOutcome, &d.Summary.ReuseWaitOutcome})
      QCOMPARE(o->Kind, after);
    if (after == K::Ok) {
      QCOMPARE(d.Files.Rows.size(), 1);
      QCOMPARE(d.Summary.RecoveryModel, QString("FULL"));
      QVERIFY(!d.OpenTran.InfoMessages.isEmpty());
    }
    QCOMPARE(reader.IsConnectionLost(), vlfs == K::ConnectionLost);
    QCOMPARE(sim.LogLines().last(), lastSent);
    if (d.DatabaseOutcome.IsOk())
      QCOMPARE(logSpace.Rows.size(), 5); // the offline database is not reported
  }

  // Azure SQL Database reports version 12.0 yet is named for what it is (the driver gives the
  // version as 12.00.2000); an availability-group
  // secondary without read access, and Azure's refusal of USE, say so on the pages.
  void cloudAndReplicas_data() {
    QTest::addColumn<int>("engineEdition");
    QTest::addColumn<QString>("versionName");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("pageText"); // empty: the details read
    QTest::newRow("SQL Server 2014") << 3 << "SQL Server 2014 - 12.00.2000"
                                     << "Sales"
                                     << "";
    QTest::newRow("Azure SQL Database, another database")
        << 5 << "Azure SQL Database - 12.00.2000"
        << "Sales"
        << "Azure SQL Database does not switch databases with USE (error 40508)";
    QTest::newRow("Azure SQL Managed Instance") << 8 << "Azure SQL Managed Instance - 12.00.2000"
                                                << "Sales"
                                                << "";
    QTest::newRow("unreadable secondary") << 3 << "SQL Server 2014 - 12.00.2000"
                                          << "Replica"
                                          << "availability-group secondary";
  }
  void cloudAndReplicas() {
    QFETCH(int, engineEdition);
    QFETCH(QString, versionName);
    QFETCH(QString, database);
    QFETCH(QString, pageText);
    QJsonObject scenario = QJsonDocument::fromJson(Scenario().toUtf8()).object();
    scenario["server"] = QJsonObject{{"version", "12.0.2000.8"}, {"engineEdition", engineEdition}};
    QJsonArray databases = scenario["databases"].toArray();
    databases.append(QJsonObject{{"name", "Replica"}, {"readable", false}});
    scenario["databases"] = databases;
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(QString::fromUtf8(QJsonDocument(scenario).toJson())),
             qPrintable(sim.ErrorString()));
    TLogReader reader{TLogReaderSettings{}};
    const TConnectSnapshot c = reader.Connect(Props(sim));
    QVERIFY(c.Outcome.IsOk());
    QCOMPARE(c.EngineEdition, engineEdition);
    QCOMPARE(c.VersionName, versionName);
    QVERIFY2(c.Driver.contains("libtdsodbc"), qPrintable(c.Driver));

    const TDetailsSnapshot d = reader.ReadDetails(database, nullptr);
    if (pageText.isEmpty()) {
      QVERIFY(d.DatabaseOutcome.IsOk());
      return;
    }
    QCOMPARE(d.DatabaseOutcome.Kind, K::Unavailable);
    for (const TOutcome* o :
         {&d.VLFs.Outcome, &d.OpenTran.Outcome, &d.Files.Outcome, &d.Summary.RecoveryOutcome})
      QVERIFY2(o->Text.contains(pageText), qPrintable(o->Text));
  }

  // A lost connection is found once: later reads send nothing and say so at once.
  void nothingSentOnceLost() {
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario({Fault("use", {{"drop", "before"}})})),
             qPrintable(sim.ErrorString()));
    TLogReader reader;
    QVERIFY(reader.Connect(Props(sim)).Outcome.IsOk());
    QCOMPARE(reader.ReadDetails("Sales").DatabaseOutcome.Kind, K::ConnectionLost);
    const qsizetype sent = sim.LogLines().size();
    const TOverviewSnapshot o = reader.ReadOverview();
    QCOMPARE(o.Outcome.Kind, K::ConnectionLost);
    QCOMPARE(o.LogSpace.Outcome.Kind, K::ConnectionLost);
    QCOMPARE(sim.LogLines().size(), sent);
    QVERIFY(!reader.IsConnected());
  }

  // The server went away while the connection was idle.
  void serverGoneBetweenStatements() {
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario()), qPrintable(sim.ErrorString()));
    TLogReader reader;
    QVERIFY(reader.Connect(Props(sim)).Outcome.IsOk());
    sim.Stop();
    const TDetailsSnapshot d = reader.ReadDetails("Sales");
    QCOMPARE(d.DatabaseOutcome.Kind, K::ConnectionLost);
    QVERIFY(reader.IsConnectionLost());
  }

  void overviewWithoutListPermission() {
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario({}, {"sysdatabases"})), qPrintable(sim.ErrorString()));
    TLogReader reader;
    QVERIFY(reader.Connect(Props(sim)).Outcome.IsOk());
    const TOverviewSnapshot o = reader.ReadOverview();
    QCOMPARE(o.Outcome.Kind, K::NotPermitted);
    QCOMPARE(o.Outcome.ServerError, 229);
    QVERIFY(o.Databases.isEmpty());
    // The figures are still read, as they always were.
    QVERIFY(o.LogSpace.Outcome.IsOk());
    QCOMPARE(o.LogSpace.Rows.size(), 5);
  }

  void connectFailure() {
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario()), qPrintable(sim.ErrorString()));
    TLogReader reader;
    TSQLConnectionProperties props = Props(sim);
    props.SQLPassword = "wrong";
    const TConnectSnapshot c = reader.Connect(props);
    QCOMPARE(c.Outcome.Kind, K::Failed);
    QVERIFY2(c.Errors.join(' ').contains("Login failed for user 'monitor'"),
             qPrintable(c.Errors.join(' ')));
    QVERIFY(!reader.IsConnected());

    const TConnectSnapshot ok = reader.Connect(Props(sim));
    QVERIFY(ok.Outcome.IsOk());
    QCOMPARE(ok.VersionName, QString("SQL Server 2008 R2 - 10.50.1600"));
    QCOMPARE(ok.Edition, QString("Enterprise Edition (64-bit)"));
  }

  // Which statements go to which server is chosen in one place.
  void statementsByVersion() {
    QVERIFY(StatementsFor(8).ReuseWait.isEmpty());
    QCOMPARE(StatementsFor(9).ReuseWait,
             QString("SELECT log_reuse_wait_desc FROM sys.databases WHERE name = N'%1'"));
    QCOMPARE(StatementsFor(16).VLFs, QString("DBCC LOGINFO"));
  }
};

QTEST_GUILESS_MAIN(TestLogReader)
#include "test_log_reader.moc"
