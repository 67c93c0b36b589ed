// The statements that read every database at once, through real clients (tedious, tsql), as
// SQL Server 2000, 2008 R2, 2016 SP1, 2016 SP2 and 2022 answer them: column names, wire types,
// values, and the errors of a server that lacks a view or a login that lacks a right. The
// statements are the program's own texts, so the simulator cannot drift from them.

#include "datastore/uLogQueries.h"
#include "uSqlSimFixture.h"

#include <QtTest>

using namespace SqlSimFixture;

namespace {
// The shared fixture plus the logins of least privilege.
QString LogViewsFixture(const QString& version) {
  QString json = FixtureFor(version);
  json.replace(R"("logins": [)",
               R"("logins": [
    {"name": "viewer", "password": "pw", "sysadmin": false},
    {"name": "blind", "password": "pw", "sysadmin": false, "viewServerState": false},
    {"name": "nomsdb", "password": "pw", "denied": ["lastbackups"]},)");
  return json;
}

// Like SameJson, with "*" in the expected rows standing for any value (the server's clock).
bool Matches(const QJsonValue& got, const QJsonValue& expected) {
  if (expected == QJsonValue("*")) return !got.isUndefined() && !got.isNull();
  if (got.isArray() && expected.isArray()) {
    const QJsonArray x = got.toArray(), y = expected.toArray();
    if (x.size() != y.size()) return false;
    for (qsizetype i = 0; i < x.size(); ++i)
      if (!Matches(x[i], y[i])) return false;
    return true;
  }
  return SameJson(got, expected);
}

const QString V2000 = "8.0.2039.0", V2008R2 = "10.50.1600.1", V2016SP1 = "13.0.4001.0",
              V2016SP2 = "13.0.5026.0", V2019 = "15.0.2000.5", V2022 = "16.0.1000.6";
const QStringList DatabaseColumns{"name:NVarChar128",      "database_id:IntN4",
                                  "state:IntN1",           "recovery_model_desc:NVarChar60",
                                  "log_reuse_wait:IntN1",  "log_reuse_wait_desc:NVarChar60",
                                  "server_time:DateTimeN8"};
const QStringList StatsColumns{"name:NVarChar128",
                               "total_vlf_count:IntN8",
                               "active_vlf_count:IntN8",
                               "log_backup_time:DateTimeN8",
                               "log_truncation_holdup_reason:NVarChar60",
                               "total_log_size_mb:FloatN8",
                               "active_log_size_mb:FloatN8"};
const QStringList InfoColumns{"RecoveryUnitId:IntN4", "FileId:IntN4",        "FileSize:IntN8",
                              "StartOffset:IntN8",    "FSeqNo:IntN4",        "Status:IntN4",
                              "Parity:IntN1",         "CreateLSN:NVarChar48"};
} // namespace

class TTestSqlSimLogViews : public QObject {
  Q_OBJECT
private slots:
  void initTestCase();
  void statements_data();
  void statements();
  void tsqlReadsTheViews();

private:
  bool FHaveTedious = false;
  QString FWhyNoTedious;
};

void TTestSqlSimLogViews::initTestCase() {
  QVERIFY2(!TSqlSimProcess::SimulatorPath().isEmpty(), "VELMORA_SQLSIM is not set");
  FHaveTedious = TediousAvailable(&FWhyNoTedious);
  if (qEnvironmentVariableIsSet("VELMORA_REQUIRE_ALL_CLIENTS"))
    QVERIFY2(FHaveTedious, qPrintable(FWhyNoTedious));
}

void TTestSqlSimLogViews::statements_data() {
  QTest::addColumn<QString>("version");
  QTest::addColumn<QString>("login");
  QTest::addColumn<QStringList>("batches"); // the last one is checked
  QTest::addColumn<QStringList>("columns");
  QTest::addColumn<QString>("rows");
  QTest::addColumn<QList<int>>("errors"); // the server's error numbers, in order

  const QString dbs = LogQueries::Databases(), backups = LogQueries::LastLogBackups(),
                stats = LogQueries::LogStats(), info = LogQueries::LogInfo();
  const QString allDatabases = R"([["master",1,0,"SIMPLE",0,"NOTHING","*"],)"
                               R"(["Zürich's]db",2,0,"FULL",2,"LOG_BACKUP","*"],)"
                               R"(["Quiet",3,0,"SIMPLE",0,"NOTHING","*"],)"
                               R"(["Offline",4,6,"SIMPLE",0,"NOTHING","*"]])";
  QTest::newRow("2000 has no sys.databases")
      << V2000 << "demo" << QStringList{dbs} << QStringList{} << "[]" << QList<int>{208};
  QTest::newRow("2008 R2 databases")
      << V2008R2 << "demo" << QStringList{dbs} << DatabaseColumns << allDatabases << QList<int>{};
  QTest::newRow("a plain login does not see offline databases")
      << V2022 << "viewer" << QStringList{dbs} << DatabaseColumns
      << QString(allDatabases).replace(R"(,["Offline",4,6,"SIMPLE",0,"NOTHING","*"])", "")
      << QList<int>{};

  const QString lastBackups = R"([["Zürich's]db","2011-01-10T16:17:01.240Z"]])";
  const QStringList backupColumns{"database_name:NVarChar128", "last_log_backup:DateTimeN8"};
  QTest::newRow("2000 last log backups")
      << V2000 << "demo" << QStringList{backups} << backupColumns << lastBackups << QList<int>{};
  QTest::newRow("2022 last log backups")
      << V2022 << "demo" << QStringList{backups} << backupColumns << lastBackups << QList<int>{};
  QTest::newRow("no right to read msdb")
      << V2022 << "nomsdb" << QStringList{backups} << QStringList{} << "[]" << QList<int>{229};

  const QString allStats =
      R"([["master","4","1","1900-01-01T00:00:00.000Z","NOTHING",2.5,0.7875],)"
      R"(["Zürich's]db","3","1","2011-01-10T16:17:01.240Z","LOG_BACKUP",12.5,9.40625],)"
      R"(["Quiet","4","1","1900-01-01T00:00:00.000Z","NOTHING",1,0.05]])";
  QTest::newRow("2008 R2 has no log stats")
      << V2008R2 << "demo" << QStringList{stats} << QStringList{} << "[]" << QList<int>{208};
  QTest::newRow("2016 SP1 has no log stats")
      << V2016SP1 << "demo" << QStringList{stats} << QStringList{} << "[]" << QList<int>{208};
  QTest::newRow("2016 SP2 log stats, online databases only")
      << V2016SP2 << "demo" << QStringList{stats} << StatsColumns << allStats << QList<int>{};
  QTest::newRow("2022 log stats with VIEW SERVER STATE alone")
      << V2022 << "viewer" << QStringList{stats} << StatsColumns << allStats << QList<int>{};
  QTest::newRow("2019 log stats without VIEW SERVER STATE")
      << V2019 << "blind" << QStringList{stats} << QStringList{} << "[]" << QList<int>{300, 297};
  QTest::newRow("2022 log stats without VIEW SERVER PERFORMANCE STATE")
      << V2022 << "blind" << QStringList{stats} << QStringList{} << "[]" << QList<int>{300, 297};

  // The last VLF of each file is sized from vlf_size_mb: 327,680 bytes are 0.31 MB.
  const QString zInfo = R"([[0,2,"253952","8192",37,2,64,"00000000:00000000:0000"],)"
                        R"([0,2,"325059","262144",38,0,128,"499602d2:499602d2:3039"],)"
                        R"([0,3,"1048576","8192",0,1,0,"00000025:00000080:0001"]])";
  QTest::newRow("2016 SP1 has no log info")
      << V2016SP1 << "demo" << QStringList{UseZ, info} << QStringList{} << "[]" << QList<int>{208};
  QTest::newRow("2016 SP2 log info in DBCC LOGINFO's columns")
      << V2016SP2 << "demo" << QStringList{UseZ, info} << InfoColumns << zInfo << QList<int>{};
  QTest::newRow("DBCC LOGINFO needs sysadmin") << V2022 << "viewer" << QStringList{UseZ, LogInfo}
                                               << QStringList{} << "[]" << QList<int>{2571};
  QTest::newRow("DBCC OPENTRAN needs sysadmin") << V2022 << "viewer" << QStringList{UseZ, OpenTran}
                                                << QStringList{} << "[]" << QList<int>{2571};
  QTest::newRow("log info with VIEW SERVER STATE alone")
      << V2022 << "viewer" << QStringList{UseZ, info} << InfoColumns << zInfo << QList<int>{};
  QTest::newRow("log info without VIEW DATABASE PERFORMANCE STATE")
      << V2022 << "blind" << QStringList{UseZ, info} << QStringList{} << "[]"
      << QList<int>{300, 297};
}

void TTestSqlSimLogViews::statements() {
  if (!FHaveTedious) QSKIP("tedious is not installed");
  QFETCH(QString, version);
  QFETCH(QString, login);
  QFETCH(QStringList, batches);
  QFETCH(QStringList, columns);
  QFETCH(QString, rows);
  QFETCH(QList<int>, errors);
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(LogViewsFixture(version)), qPrintable(sim.ErrorString()));
  QVERIFY2(sim.Warnings().isEmpty(), qPrintable(sim.Warnings().join('\n')));
  TClientRun raw;
  const QJsonObject report =
      RunTedious(sim.Port(), login, login == "demo" ? "demo" : "pw", batches, {}, &raw);
  QVERIFY2(report.value("connected").toBool(), qPrintable(raw.Stdout + raw.Stderr));
  const QJsonArray results = report.value("results").toArray();
  QCOMPARE(results.size(), batches.size());
  const QJsonObject last = results.last().toObject();
  QCOMPARE(Numbers(last.value("errors").toArray()), errors);
  QCOMPARE(last.contains("error"), !errors.isEmpty());
  QStringList got;
  for (const QJsonValue& c : last.value("columns").toArray())
    got << Describe(c.toObject());
  QCOMPARE(got, columns);
  const QJsonArray expectedRows = QJsonDocument::fromJson(rows.toUtf8()).array();
  QVERIFY2(Matches(last.value("rows").toArray(), expectedRows),
           qPrintable(Compact(last.value("rows")) + " != " + Compact(expectedRows)));
}

// tsql (FreeTDS, as the ODBC driver underneath the program) decodes the new types as well.
void TTestSqlSimLogViews::tsqlReadsTheViews() {
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(LogViewsFixture(V2022)), qPrintable(sim.ErrorString()));
  const TClientRun r = RunTsql(sim.Port(), "viewer", "pw",
                               {LogQueries::Databases(), LogQueries::LastLogBackups(),
                                LogQueries::LogStats(), UseZ, LogQueries::LogInfo(), LogInfo});
  QVERIFY(r.Finished);
  for (const char* expected :
       {"Zürich's]db\t2\t0\tFULL\t2\tLOG_BACKUP\t", "Zürich's]db\tJan 10 2011 04:17PM",
        "Zürich's]db\t3\t1\tJan 10 2011 04:17PM\tLOG_BACKUP\t12.5\t9.40625",
        "0\t3\t1048576\t8192\t0\t1\t0\t00000025:00000080:0001"})
    QVERIFY2(r.Stdout.contains(QString::fromUtf8(expected)),
             qPrintable(expected + ("\n" + r.Stdout)));
  QVERIFY(!r.Stdout.contains("Offline"));
  const QList<TMsg> msgs = TsqlMessages(r.Stderr);
  QVERIFY2(!msgs.isEmpty() && msgs.last().Number == 2571, qPrintable(r.Stderr));
}

QTEST_GUILESS_MAIN(TTestSqlSimLogViews)
#include "test_sqlsim_logviews.moc"
