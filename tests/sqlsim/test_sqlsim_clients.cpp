// The simulator judged by real clients: FreeTDS tsql, unixODBC isql with the FreeTDS driver,
// and Node's tedious.

#include "uClientRunner.h"
#include "uSqlSimProcess.h"

#include <QJsonDocument>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QUdpSocket>
#include <QtTest>

namespace {

// A small instance with the awkward cases: a name with ', ] and a non-ASCII letter, two log
// files, an LSN of 25 digits, an offline database, a login with restricted rights.
const char* const Fixture = R"json({
  "server": {"version": "%VERSION%", "edition": "Developer Edition (64-bit)", "machine": "SIMHOST"},
  "logins": [
    {"name": "demo", "password": "demo"},
    {"name": "limited", "password": "pw", "denied": ["loginfo"], "databases": ["master", "Quiet"]}
  ],
  "databases": [
    {"name": "master", "logSizeMB": 2.5, "logUsedPercent": 31.5},
    {"name": "Zürich's]db", "recovery": "FULL", "logReuseWait": "LOG_BACKUP",
     "logSizeMB": 12.5, "logUsedPercent": 75.25,
     "logFiles": [
       {"fileId": 2, "name": "z_log", "fileName": "L:\\z_log.ldf", "size": 1600,
        "maxSize": 268435456, "growth": 10, "percentGrowth": true},
       {"fileId": 3, "name": "z_log2", "fileName": "L:\\z_log2.ldf", "size": 128, "growth": 128}],
     "vlfs": [
       {"fileId": 2, "fileSize": 253952, "startOffset": 8192, "fSeqNo": 37, "status": 2,
        "parity": 64, "createLsn": "0"},
       {"fileId": 2, "fileSize": 327680, "startOffset": 262144, "fSeqNo": 38, "status": 0,
        "parity": 128, "createLsn": "1234567890123456789012345"},
       {"fileId": 3, "fileSize": 1048576, "startOffset": 8192, "fSeqNo": 0, "status": 0,
        "parity": 0, "createLsn": "37000000012800001"}],
     "openTransaction": {"spid": 57, "uid": -1, "name": "user_transaction", "lsn": "(37:120:1)",
                         "startTime": "Jan 10 2011  4:17:01:240PM", "sid": "0x0105"},
     "logBackups": ["2011-01-09T23:00:00", "2011-01-10T16:17:01.240"]},
    {"name": "Quiet", "logSizeMB": 1, "logUsedPercent": 5},
    {"name": "Offline", "status": 512}
  ]
})json";

QString FixtureFor(const QString& version) {
  return QString::fromUtf8(Fixture).replace(QStringLiteral("%VERSION%"), version);
}

const QString UseZ = QStringLiteral("USE [Zürich's]]db]");
const QString LogInfo = QStringLiteral("DBCC LOGINFO");
const QString OpenTran = QStringLiteral("DBCC OPENTRAN");
const QString SqlPerf = QStringLiteral("DBCC SQLPERF(LOGSPACE)");
const QString SysFiles = QStringLiteral("SELECT * FROM sysfiles WHERE (status & 64) = 64");
const QString VersionQuery =
    QStringLiteral("SELECT SERVERPROPERTY('ProductVersion'), SERVERPROPERTY('Edition')");
const QString SysDatabases =
    QStringLiteral("SELECT name, status FROM master..sysdatabases ORDER BY name");

QString Recovery(const QString& quoted) {
  return QStringLiteral("SELECT DATABASEPROPERTYEX(N'%1', 'RECOVERY')").arg(quoted);
}
QString BackupSet(const QString& quoted) {
  return QStringLiteral("SELECT TOP 1 a.backup_finish_date FROM msdb..backupset a WHERE "
                        "a.database_name = N'%1'   AND a.type = 'L' ORDER BY "
                        "a.backup_finish_date DESC")
      .arg(quoted);
}
QString ReuseWait(const QString& quoted) {
  return QStringLiteral("SELECT log_reuse_wait_desc FROM sys.databases WHERE name = N'%1'")
      .arg(quoted);
}

// "name:Type" with the size that tells the SQL type apart (bytes of an integer, float or date,
// characters of a string, precision and scale of a numeric).
QString Describe(const QJsonObject& c) {
  const QString type = c.value("type").toString();
  QString d = c.value("name").toString() + ":" + type;
  if (type == "IntN" || type == "FloatN" || type == "DateTimeN")
    d += QString::number(c.value("dataLength").toInt());
  else if (type == "NVarChar")
    d += QString::number(c.value("dataLength").toInt() / 2);
  else if (type == "NumericN")
    d += QStringLiteral("(%1,%2)").arg(c.value("precision").toInt()).arg(c.value("scale").toInt());
  return d;
}

// Numbers compare with a relative tolerance: tedious turns numeric(25,0) into a double.
bool SameJson(const QJsonValue& a, const QJsonValue& b) {
  if (a.isDouble() && b.isDouble())
    return qAbs(a.toDouble() - b.toDouble()) <= 1e-12 * qMax(1.0, qAbs(b.toDouble()));
  if (a.isArray() && b.isArray()) {
    const QJsonArray x = a.toArray(), y = b.toArray();
    if (x.size() != y.size()) return false;
    for (qsizetype i = 0; i < x.size(); ++i)
      if (!SameJson(x[i], y[i])) return false;
    return true;
  }
  return a == b;
}

QString Compact(const QJsonValue& v) {
  return QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact));
}

struct TMsg {
  int Number;
  QString Text;
};

// The server messages tsql prints on stderr: Msg N (severity S, state T) from HOST Line
// 1:\n\t"text"
QList<TMsg> TsqlMessages(const QString& err) {
  static const QRegularExpression re(
      QStringLiteral(R"(Msg (\d+) \(severity \d+, state \d+\)[^\n]*\n\t"([^\n]*)\")"));
  QList<TMsg> out;
  for (auto it = re.globalMatch(err); it.hasNext();) {
    const auto m = it.next();
    out << TMsg{m.captured(1).toInt(), m.captured(2)};
  }
  return out;
}

QList<int> Numbers(const QJsonArray& messages) {
  QList<int> out;
  for (const QJsonValue& m : messages)
    out << m.toObject().value("number").toInt();
  return out;
}

// The batches the server received, without the SET batches clients send on their own and
// without the line break tsql appends.
QStringList SentBatches(const TSqlSimProcess& sim) {
  QStringList out;
  for (const QString& b : sim.LogLines())
    if (!b.trimmed().startsWith("set ", Qt::CaseInsensitive)) out << b.trimmed();
  return out;
}

const QString DbccDone = QStringLiteral(
    "DBCC execution completed. If DBCC printed error messages, contact your system administrator.");

} // namespace

class TTestSqlSimClients : public QObject {
  Q_OBJECT
private slots:
  void initTestCase();
  void login_data();
  void login();
  void tediousStatements_data();
  void tediousStatements();
  void tsqlStatements();
  void isqlStatements_data();
  void isqlStatements();
  void tediousRpc();
  void tdsVersions_data();
  void tdsVersions();
  void refusals_data();
  void refusals();
  void faults_data();
  void faults();
  void freetdsSeesFaults();
  void cancelDuringDelay();
  void reloadChangesAnswers();
  void ssrp();
  void badScenarios_data();
  void badScenarios();
  void generatedScenario();
  void demoScenario();

private:
  bool RequireTedious();
  QString FWhyNoTedious;
  bool FHaveTedious = false;
};

void TTestSqlSimClients::initTestCase() {
  QVERIFY2(!TSqlSimProcess::SimulatorPath().isEmpty(), "VELMORA_SQLSIM is not set");
  FHaveTedious = TediousAvailable(&FWhyNoTedious);
}

bool TTestSqlSimClients::RequireTedious() {
  if (!FHaveTedious) qWarning("%s", qPrintable(FWhyNoTedious));
  return FHaveTedious;
}

// Each client logs in, is refused with the server's own text, and reports its application name.
void TTestSqlSimClients::login_data() {
  QTest::addColumn<QString>("client");
  QTest::addColumn<QString>("user");
  QTest::addColumn<QString>("password");
  QTest::addColumn<QString>("database");
  QTest::addColumn<QString>("expectedError"); // empty: the login succeeds

  const QString failed = QStringLiteral("Login failed for user '%1'.");
  const QString cannotOpen =
      QStringLiteral("Cannot open database \"Offline\" requested by the login. The login failed.");
  for (const char* client : {"tsql", "isql", "tedious"}) {
    QTest::addRow("%s ok", client) << client << "demo"
                                   << "demo"
                                   << ""
                                   << "";
    QTest::addRow("%s login name in other case", client) << client << "DEMO"
                                                         << "demo"
                                                         << ""
                                                         << "";
    QTest::addRow("%s database", client) << client << "demo"
                                         << "demo"
                                         << "Quiet"
                                         << "";
    QTest::addRow("%s wrong password", client) << client << "demo"
                                               << "Demo"
                                               << "" << failed.arg("demo");
    QTest::addRow("%s unknown login", client) << client << "nobody"
                                              << "demo"
                                              << "" << failed.arg("nobody");
    QTest::addRow("%s offline database", client)
        << client << "demo"
        << "demo"
        << "Offline" << (QString(client) == "tedious" ? failed.arg("demo") : cannotOpen);
    QTest::addRow("%s database not allowed", client) << client << "limited"
                                                     << "pw"
                                                     << "Sales" << failed.arg("limited");
  }
}

void TTestSqlSimClients::login() {
  QFETCH(QString, client);
  QFETCH(QString, user);
  QFETCH(QString, password);
  QFETCH(QString, database);
  QFETCH(QString, expectedError);
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(FixtureFor("10.50.1600.1")), qPrintable(sim.ErrorString()));

  const QString probe = QStringLiteral("SELECT @@SPID");
  QString output;
  bool ranProbe = false;
  if (client == "tsql") {
    const TClientRun r = RunTsql(sim.Port(), user, password, {probe}, "7.4", database);
    QVERIFY(r.Finished);
    output = r.Stdout + r.Stderr;
    ranProbe = r.Stdout.contains(QRegularExpression("\\n5\\d\\s"));
  } else if (client == "isql") {
    const TClientRun r = RunIsql(sim.Port(), user, password, {probe}, database);
    QVERIFY(r.Finished);
    output = r.Stdout + r.Stderr;
    ranProbe = r.ExitCode == 0 &&
               r.Stdout.contains(QRegularExpression("^5\\d$", QRegularExpression::MultilineOption));
  } else {
    if (!RequireTedious()) QSKIP("tedious is not installed");
    QJsonObject opts{{"appName", "Tessaly GUI"}};
    if (!database.isEmpty()) opts.insert("database", database);
    TClientRun raw;
    const QJsonObject report = RunTedious(sim.Port(), user, password, {probe}, opts, &raw);
    output = report.value("loginError").toObject().value("message").toString();
    ranProbe =
        report.value("connected").toBool() &&
        report.value("results").toArray().at(0).toObject().value("rows").toArray().size() == 1;
    QVERIFY2(!report.isEmpty(), qPrintable(raw.Stdout + raw.Stderr));
  }

  const QList<QJsonObject> entries = sim.LogEntries();
  QVERIFY(!entries.isEmpty());
  const QJsonObject loginEntry = entries.first();
  QCOMPARE(loginEntry.value("event").toString(), QString("login"));
  QCOMPARE(loginEntry.value("login").toString(), user);
  QCOMPARE(loginEntry.value("database").toString(), database);
  if (client == "tedious") QCOMPARE(loginEntry.value("app").toString(), QString("Tessaly GUI"));
  if (expectedError.isEmpty()) {
    QVERIFY2(ranProbe, qPrintable(output));
    QCOMPARE(SentBatches(sim), QStringList{probe});
  } else {
    QVERIFY2(output.contains(expectedError), qPrintable(output));
    QVERIFY(!ranProbe);
    QVERIFY(SentBatches(sim).isEmpty());
  }
}

// Every statement through tedious: column names, wire types, values and messages in order.
void TTestSqlSimClients::tediousStatements_data() {
  QTest::addColumn<QString>("version");
  QTest::addColumn<QStringList>("batches"); // the last one is checked
  QTest::addColumn<QStringList>("columns");
  QTest::addColumn<QString>("rows");
  QTest::addColumn<QList<int>>("infos");

  const QString v10 = "10.50.1600.1", v11 = "11.0.2100.60";
  QTest::newRow("version and edition")
      << v10 << QStringList{VersionQuery} << QStringList{":Variant", ":Variant"}
      << R"j([["10.50.1600.1","Developer Edition (64-bit)"]])j" << QList<int>{};
  QTest::newRow("sysdatabases by name")
      << v10 << QStringList{SysDatabases} << QStringList{"name:NVarChar128", "status:IntN4"}
      << R"([["master",0],["Offline",512],["Quiet",0],["Zürich's]db",0]])" << QList<int>{};
  QTest::newRow("logspace leaves offline out")
      << v10 << QStringList{SqlPerf}
      << QStringList{"Database Name:NVarChar128", "Log Size (MB):FloatN4",
                     "Log Space Used (%):FloatN4", "Status:IntN4"}
      << R"([["master",2.5,31.5,0],["Zürich's]db",12.5,75.25,0],["Quiet",1,5,0]])"
      << QList<int>{2528};
  QTest::newRow("use") << v10 << QStringList{UseZ} << QStringList{} << "[]" << QList<int>{5701};
  const QString vlfRows =
      R"([[2,"253952","8192",37,2,64,0],[2,"327680","262144",38,0,128,1234567890123456789012345],)"
      R"([3,"1048576","8192",0,0,0,37000000012800001]])";
  const QStringList vlfCols{
      "FileId:IntN4", "FileSize:IntN8", "StartOffset:IntN8",       "FSeqNo:IntN4",
      "Status:IntN4", "Parity:IntN1",   "CreateLSN:NumericN(25,0)"};
  QTest::newRow("loginfo 2008 R2 shape")
      << v10 << QStringList{UseZ, LogInfo} << vlfCols << vlfRows << QList<int>{2528};
  QString rows11 = vlfRows;
  rows11.replace("[2,", "[0,2,").replace("[3,", "[0,3,");
  QTest::newRow("loginfo 2012 shape")
      << v11 << QStringList{UseZ, LogInfo} << (QStringList{"RecoveryUnitId:IntN4"} + vlfCols)
      << rows11 << QList<int>{2528};
  QTest::newRow("opentran") << v10 << QStringList{UseZ, OpenTran} << QStringList{} << "[]"
                            << QList<int>{7968, 7970, 7971, 7972, 7973, 7974, 7975, 7976, 2528};
  QTest::newRow("opentran, none open")
      << v10 << QStringList{OpenTran} << QStringList{} << "[]" << QList<int>{7969, 2528};
  QTest::newRow("sysfiles of the current database")
      << v10 << QStringList{UseZ, SysFiles}
      << QStringList{"fileid:IntN2",  "groupid:IntN2",    "size:IntN4",
                     "maxsize:IntN4", "growth:IntN4",     "status:IntN4",
                     "perf:IntN4",    "name:NVarChar128", "filename:NVarChar260"}
      << R"([[2,0,1600,268435456,10,1048642,0,"z_log","L:\\z_log.ldf"],)"
         R"([3,0,128,-1,128,66,0,"z_log2","L:\\z_log2.ldf"]])"
      << QList<int>{};
  QTest::newRow("recovery model") << v10 << QStringList{Recovery("Zürich''s]db")}
                                  << QStringList{":Variant"} << R"([["FULL"]])" << QList<int>{};
  QTest::newRow("recovery model of an unknown database")
      << v10 << QStringList{Recovery("nope")} << QStringList{":Variant"} << "[[null]]"
      << QList<int>{};
  QTest::newRow("last log backup") << v10 << QStringList{BackupSet("Zürich''s]db")}
                                   << QStringList{"backup_finish_date:DateTimeN8"}
                                   << R"([["2011-01-10T16:17:01.240Z"]])" << QList<int>{};
  QTest::newRow("never backed up")
      << v10 << QStringList{BackupSet("Quiet")} << QStringList{"backup_finish_date:DateTimeN8"}
      << "[]" << QList<int>{};
  QTest::newRow("log reuse wait") << v10 << QStringList{ReuseWait("Zürich''s]db")}
                                  << QStringList{"log_reuse_wait_desc:NVarChar60"}
                                  << R"([["LOG_BACKUP"]])" << QList<int>{};
  QTest::newRow("whitespace and case do not matter")
      << v10 << QStringList{"  select name ,status\n from MASTER..sysdatabases\torder by name ;"}
      << QStringList{"name:NVarChar128", "status:IntN4"}
      << R"([["master",0],["Offline",512],["Quiet",0],["Zürich's]db",0]])" << QList<int>{};
  QTest::newRow("set") << v10 << QStringList{"SET NOCOUNT ON\nSET ANSI_NULLS ON"} << QStringList{}
                       << "[]" << QList<int>{};
}

void TTestSqlSimClients::tediousStatements() {
  if (!RequireTedious()) QSKIP("tedious is not installed");
  QFETCH(QString, version);
  QFETCH(QStringList, batches);
  QFETCH(QStringList, columns);
  QFETCH(QString, rows);
  QFETCH(QList<int>, infos);
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(FixtureFor(version)), qPrintable(sim.ErrorString()));
  TClientRun raw;
  const QJsonObject report = RunTedious(sim.Port(), "demo", "demo", batches, {}, &raw);
  QVERIFY2(report.value("connected").toBool(), qPrintable(raw.Stdout + raw.Stderr));
  const QJsonArray results = report.value("results").toArray();
  QCOMPARE(results.size(), batches.size());
  for (const QJsonValue& r : results)
    QVERIFY2(!r.toObject().contains("error"), qPrintable(Compact(r)));
  const QJsonObject last = results.last().toObject();

  QStringList got;
  for (const QJsonValue& c : last.value("columns").toArray())
    got << Describe(c.toObject());
  QCOMPARE(got, columns);
  const QJsonArray expectedRows = QJsonDocument::fromJson(rows.toUtf8()).array();
  QVERIFY2(SameJson(last.value("rows").toArray(), expectedRows),
           qPrintable(Compact(last.value("rows")) + " != " + Compact(expectedRows)));
  QCOMPARE(Numbers(last.value("infos").toArray()), infos);
  const QStringList log = sim.LogLines(); // tedious's own SET batch comes first
  QCOMPARE(log.mid(log.size() - batches.size()), batches);
}

// tsql prints values as text: exact digits of numeric(25,0), the datetime, the sql_variant, and
// the messages in the server's order.
void TTestSqlSimClients::tsqlStatements() {
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(FixtureFor("10.50.1600.1")), qPrintable(sim.ErrorString()));
  const TClientRun r =
      RunTsql(sim.Port(), "demo", "demo",
              {VersionQuery, UseZ, LogInfo, OpenTran, SysFiles, Recovery("Zürich''s]db"),
               BackupSet("Zürich''s]db"), ReuseWait("Zürich''s]db"), SqlPerf, SysDatabases});
  QVERIFY(r.Finished);
  const QString out = r.Stdout;
  for (const char* expected :
       {"10.50.1600.1\tDeveloper Edition (64-bit)",
        "FileId\tFileSize\tStartOffset\tFSeqNo\tStatus\tParity\tCreateLSN",
        "2\t327680\t262144\t38\t0\t128\t1234567890123456789012345",
        "3\t1048576\t8192\t0\t0\t0\t37000000012800001",
        "2\t0\t1600\t268435456\t10\t1048642\t0\tz_log\tL:\\z_log.ldf", "\nFULL\n",
        "Jan 10 2011 04:17PM", "\nLOG_BACKUP\n", "Zürich's]db\t12.5\t75.25\t0", "Offline\t512"})
    QVERIFY2(out.contains(QString::fromUtf8(expected)), qPrintable(expected + ("\n" + out)));
  QVERIFY(!out.contains("Offline\t0\t0")); // not in the log space list

  const QList<TMsg> msgs = TsqlMessages(r.Stderr);
  QStringList texts;
  for (const TMsg& m : msgs)
    texts << m.Text;
  const QStringList expected{DbccDone, // DBCC LOGINFO
                             "Transaction information for database 'Zürich's]db'.",
                             "Oldest active transaction:",
                             "    SPID (server process ID): 57",
                             "    UID (user ID) : -1",
                             "    Name          : user_transaction",
                             "    LSN           : (37:120:1)",
                             "    Start time    : Jan 10 2011  4:17:01:240PM",
                             "    SID           : 0x0105",
                             DbccDone,  // DBCC OPENTRAN
                             DbccDone}; // DBCC SQLPERF
  QCOMPARE(texts, expected);
}

// The ODBC driver, through isql, reads the same values and messages, with plain batches
// (SQLExecDirect) and with prepared statements (sp_prepexec RPC requests).
void TTestSqlSimClients::isqlStatements_data() {
  QTest::addColumn<bool>("direct");
  QTest::newRow("SQLExecDirect") << true;
  QTest::newRow("SQLPrepare and SQLExecute") << false;
}

void TTestSqlSimClients::isqlStatements() {
  QFETCH(bool, direct);
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(FixtureFor("10.50.1600.1")), qPrintable(sim.ErrorString()));
  const TClientRun r =
      RunIsql(sim.Port(), "demo", "demo",
              {VersionQuery, SysDatabases, SqlPerf, UseZ, LogInfo, OpenTran, SysFiles,
               Recovery("Zürich''s]db"), BackupSet("Zürich''s]db"), ReuseWait("Zürich''s]db")},
              QString(), direct);
  QVERIFY(r.Finished);
  QCOMPARE(r.ExitCode, 0);
  const QString out = r.Stdout + r.Stderr;
  for (const char* expected :
       {"10.50.1600.1|Developer Edition (64-bit)", "Zürich's]db|0", "Offline|512",
        "Zürich's]db|12.5|75.25|0", "Changed database context to 'Zürich's]db'.",
        "2|327680|262144|38|0|128|1234567890123456789012345",
        "3|1048576|8192|0|0|0|37000000012800001",
        "2|0|1600|268435456|10|1048642|0|z_log|L:\\z_log.ldf", "\nFULL\n",
        "2011-01-10 16:17:01.240", "\nLOG_BACKUP\n"})
    QVERIFY2(out.contains(QString::fromUtf8(expected)), qPrintable(expected + ("\n" + out)));
  // The DBCC OPENTRAN lines in the server's order.
  const qsizetype a = out.indexOf("Transaction information for database");
  const qsizetype b = out.indexOf("Oldest active transaction:");
  const qsizetype c = out.indexOf("Start time    : Jan 10 2011  4:17:01:240PM");
  const qsizetype d = out.indexOf("SID           : 0x0105");
  QVERIFY2(a >= 0 && a < b && b < c && c < d, qPrintable(out));
  QCOMPARE(SentBatches(sim).size(), 10);
}

// tedious's execSql sends sp_executesql: the same answers come back inside the RPC reply.
void TTestSqlSimClients::tediousRpc() {
  if (!RequireTedious()) QSKIP("tedious is not installed");
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(FixtureFor("11.0.2100.60")), qPrintable(sim.ErrorString()));
  const QStringList batches{UseZ, LogInfo, OpenTran, "sp_nothing"};
  const QJsonObject report =
      RunTedious(sim.Port(), "demo", "demo", batches, QJsonObject{{"execSql", true}});
  const QJsonArray results = report.value("results").toArray();
  QCOMPARE(results.size(), 4);
  QCOMPARE(results[1].toObject().value("rows").toArray().size(), 3);
  QCOMPARE(results[1].toObject().value("columns").toArray().size(), 8);
  QCOMPARE(Numbers(results[2].toObject().value("infos").toArray()).size(), 9);
  QCOMPARE(
      results[3].toObject().value("errors").toArray().first().toObject().value("number").toInt(),
      2812);
  int rpcs = 0;
  for (const QJsonObject& e : sim.LogEntries())
    rpcs += e.value("rpc").toString() == "sp_executesql";
  QCOMPARE(rpcs, 4);
}

// Older clients: TDS 7.1 to 7.3 change the byte layout of DONE, INFO and the column metadata.
void TTestSqlSimClients::tdsVersions_data() {
  QTest::addColumn<QString>("tdsver");
  QTest::newRow("7.1") << "7.1";
  QTest::newRow("7.2") << "7.2";
  QTest::newRow("7.3") << "7.3";
  QTest::newRow("7.4") << "7.4";
}

void TTestSqlSimClients::tdsVersions() {
  QFETCH(QString, tdsver);
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(FixtureFor("10.50.1600.1")), qPrintable(sim.ErrorString()));
  const TClientRun r =
      RunTsql(sim.Port(), "demo", "demo", {VersionQuery, UseZ, LogInfo, OpenTran}, tdsver);
  QVERIFY(r.Finished);
  QVERIFY2(r.Stdout.contains("10.50.1600.1\tDeveloper Edition (64-bit)"), qPrintable(r.Stdout));
  QVERIFY2(r.Stdout.contains("2\t327680\t262144\t38\t0\t128\t1234567890123456789012345"),
           qPrintable(r.Stdout));
  QCOMPARE(TsqlMessages(r.Stderr).size(), 10);
  QCOMPARE(sim.LogEntries().first().value("tds").toString(), tdsver);
}

// What the server refuses, with its numbers and texts.
void TTestSqlSimClients::refusals_data() {
  QTest::addColumn<QString>("user");
  QTest::addColumn<QStringList>("batches");
  QTest::addColumn<int>("number");
  QTest::addColumn<QString>("text");

  QTest::newRow("no right for DBCC LOGINFO")
      << "limited" << QStringList{LogInfo} << 2571
      << "User 'limited' does not have permission to run DBCC LOGINFO.";
  QTest::newRow("USE of a database not allowed")
      << "limited" << QStringList{UseZ} << 916
      << "The server principal \"limited\" is not able to access the database \"Zürich's]db\" "
         "under the current security context.";
  QTest::newRow("USE of an unknown database")
      << "demo" << QStringList{"USE [Nope]"} << 911
      << "Database 'Nope' does not exist. Make sure that the name is entered correctly.";
  QTest::newRow("USE of an offline database")
      << "demo" << QStringList{"USE [Offline]"} << 942
      << "Database 'Offline' cannot be opened because it is offline.";
  QTest::newRow("USE with an unescaped ]")
      << "demo" << QStringList{"USE [Zürich's]db]"} << 102 << "Incorrect syntax near 'db'.";
  QTest::newRow("a lone name") << "demo" << QStringList{"sp_nothing"} << 2812
                               << "Could not find stored procedure 'sp_nothing'.";
  QTest::newRow("unknown statement") << "demo" << QStringList{"SELECT * FROM nowhere"} << 102
                                     << "Incorrect syntax near 'nowhere'.";
}

void TTestSqlSimClients::refusals() {
  if (!RequireTedious()) QSKIP("tedious is not installed");
  QFETCH(QString, user);
  QFETCH(QStringList, batches);
  QFETCH(int, number);
  QFETCH(QString, text);
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(FixtureFor("10.50.1600.1")), qPrintable(sim.ErrorString()));
  const QString password = user == "limited" ? "pw" : "demo";
  // The session goes on after the error: a second batch still gets its answer.
  const QJsonObject report =
      RunTedious(sim.Port(), user, password, batches + QStringList{"SELECT 7"});
  const QJsonArray results = report.value("results").toArray();
  QCOMPARE(results.size(), batches.size() + 1);
  const QJsonObject r = results.first().toObject();
  const QJsonArray errors = r.value("errors").toArray();
  QVERIFY2(errors.size() == 1, qPrintable(Compact(r)));
  QCOMPARE(errors.first().toObject().value("number").toInt(), number);
  QCOMPARE(errors.first().toObject().value("message").toString(), text);
  QCOMPARE(results.last().toObject().value("rows").toArray(), QJsonArray{QJsonArray{7}});
}

// Each kind of fault reaches tedious as the right error or as a broken connection.
void TTestSqlSimClients::faults_data() {
  QTest::addColumn<QString>("fault");
  QTest::addColumn<QList<int>>("errorNumbers"); // server errors the client reports
  QTest::addColumn<bool>("connectionLost");

  QTest::newRow("error")
      << R"({"statement": "loginfo", "error": {"number": 1205, "severity": 13, "state": 51,
            "text": "Transaction (Process ID 57) was deadlocked."}})"
      << QList<int>{1205} << false;
  QTest::newRow("several messages") << R"({"pattern": "LOGINFO", "errors": [
             {"number": 50001, "severity": 16, "text": "first"},
             {"number": 50002, "severity": 10, "text": "an informational line"},
             {"number": 50003, "severity": 16, "text": "second"}]})"
                                    << QList<int>{50001, 50003} << false;
  QTest::newRow("delay only") << R"({"statement": "loginfo", "delayMs": 200})" << QList<int>{}
                              << false;
  QTest::newRow("drop before") << R"({"statement": "loginfo", "drop": "before"})" << QList<int>{}
                               << true;
  QTest::newRow("drop in the middle")
      << R"({"statement": "loginfo", "drop": "middle"})" << QList<int>{} << true;
  QTest::newRow("delay, then drop")
      << R"({"statement": "loginfo", "delayMs": 100, "drop": "before"})" << QList<int>{} << true;
  QTest::newRow("malformed token")
      << R"({"statement": "loginfo", "malformed": true})" << QList<int>{} << true;
}

void TTestSqlSimClients::faults() {
  if (!RequireTedious()) QSKIP("tedious is not installed");
  QFETCH(QString, fault);
  QFETCH(QList<int>, errorNumbers);
  QFETCH(bool, connectionLost);
  QJsonObject scenario = QJsonDocument::fromJson(FixtureFor("10.50.1600.1").toUtf8()).object();
  scenario.insert("faults", QJsonArray{QJsonDocument::fromJson(fault.toUtf8()).object()});
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(QString::fromUtf8(QJsonDocument(scenario).toJson())),
           qPrintable(sim.ErrorString()));
  TClientRun raw;
  const QJsonObject report =
      RunTedious(sim.Port(), "demo", "demo", {UseZ, LogInfo, "SELECT 7"}, {}, &raw);
  QVERIFY2(report.value("connected").toBool(), qPrintable(raw.Stdout + raw.Stderr));
  const QJsonArray results = report.value("results").toArray();
  if (report.contains("fatal")) {
    // tedious gives up on the stream it cannot parse.
    QVERIFY(connectionLost);
    QVERIFY2(report.value("fatal").toString().contains("Unknown type"),
             qPrintable(Compact(report)));
    QCOMPARE(results.size(), 2);
    QVERIFY(results[1].toObject().value("rows").toArray().isEmpty());
    return;
  }
  QCOMPARE(results.size(), 3);
  const QJsonObject hit = results[1].toObject();
  const QJsonObject after = results[2].toObject();
  if (connectionLost) {
    QVERIFY2(hit.contains("error"), qPrintable(Compact(hit)));
    QVERIFY(hit.value("rows").toArray().size() < 3);
    QVERIFY2(report.value("ended").toBool(), qPrintable(Compact(report)));
    QVERIFY(after.contains("error"));
    return;
  }
  QList<int> got;
  for (const QJsonValue& e : hit.value("errors").toArray())
    got << e.toObject().value("number").toInt();
  QCOMPARE(got, errorNumbers);
  if (errorNumbers.isEmpty())
    QCOMPARE(hit.value("rows").toArray().size(), 3);
  else
    QVERIFY(hit.contains("error"));
  if (QTest::currentDataTag() == QLatin1String("several messages"))
    QCOMPARE(Numbers(hit.value("infos").toArray()), QList<int>{50002});
  // The session survives a server error or a delay.
  QCOMPARE(after.value("rows").toArray(), QJsonArray{QJsonArray{7}});
}

// FreeTDS reports a dropped connection and a malformed token as failures, never as success,
// and a fault with count 1 fires once.
void TTestSqlSimClients::freetdsSeesFaults() {
  QJsonObject scenario = QJsonDocument::fromJson(FixtureFor("10.50.1600.1").toUtf8()).object();
  scenario.insert("faults", QJsonDocument::fromJson(R"([
      {"statement": "opentran", "drop": "middle"},
      {"statement": "loginfo", "malformed": true, "count": 1},
      {"statement": "sysfiles", "error": {"number": 1222, "severity": 16, "state": 56,
                                          "text": "Lock request time out period exceeded."}}])")
                                .array());
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(QString::fromUtf8(QJsonDocument(scenario).toJson())),
           qPrintable(sim.ErrorString()));

  const TClientRun err = RunIsql(sim.Port(), "demo", "demo", {SysFiles});
  QVERIFY(err.Finished);
  QVERIFY2(err.Stderr.contains("Lock request time out period exceeded.") ||
               err.Stdout.contains("Lock request time out period exceeded."),
           qPrintable(err.Stdout + err.Stderr));

  const TClientRun malformed = RunTsql(sim.Port(), "demo", "demo", {LogInfo, "SELECT 7"});
  QVERIFY(malformed.Finished);
  QVERIFY2(malformed.Stderr.contains("Bad token from the server"), qPrintable(malformed.Stderr));
  QVERIFY(!malformed.Stdout.contains("\n2\t253952"));
  // The fault has fired once: a new connection gets the VLFs.
  const TClientRun again = RunTsql(sim.Port(), "demo", "demo", {LogInfo});
  QVERIFY2(again.Stdout.contains("FileId\t"), qPrintable(again.Stdout + again.Stderr));

  const TClientRun dropped = RunIsql(sim.Port(), "demo", "demo", {UseZ, OpenTran, "SELECT 7"});
  QVERIFY(dropped.Finished);
  QVERIFY2(dropped.Stderr.contains("Communication link failure") ||
               dropped.Stdout.contains("Communication link failure"),
           qPrintable(dropped.Stdout + dropped.Stderr));
  QVERIFY(!dropped.Stdout.contains("SID           :"));
  QVERIFY(!dropped.Stdout.contains(QRegularExpression("^7$", QRegularExpression::MultilineOption)));
}

// A cancel (attention) during a delayed answer is acknowledged; the session then goes on.
void TTestSqlSimClients::cancelDuringDelay() {
  if (!RequireTedious()) QSKIP("tedious is not installed");
  QJsonObject scenario = QJsonDocument::fromJson(FixtureFor("10.50.1600.1").toUtf8()).object();
  scenario.insert("faults", QJsonArray{QJsonObject{{"statement", "sqlperf"}, {"delayMs", 60000}}});
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(QString::fromUtf8(QJsonDocument(scenario).toJson())),
           qPrintable(sim.ErrorString()));
  const QJsonObject report = RunTedious(sim.Port(), "demo", "demo", {SqlPerf, "SELECT 7"},
                                        QJsonObject{{"cancelAfterMs", QJsonObject{{"0", 200}}}});
  const QJsonArray results = report.value("results").toArray();
  QCOMPARE(results.size(), 2);
  QCOMPARE(results[0].toObject().value("error").toObject().value("code").toString(),
           QString("ECANCEL"));
  QCOMPARE(results[1].toObject().value("rows").toArray(), QJsonArray{QJsonArray{7}});
  bool sawAttention = false;
  for (const QJsonObject& e : sim.LogEntries())
    sawAttention = sawAttention || e.value("event").toString() == "attention";
  QVERIFY(sawAttention);
}

// A changed scenario applies to the running simulator: the log grows between two refreshes.
void TTestSqlSimClients::reloadChangesAnswers() {
  TSqlSimProcess sim;
  const QString before = FixtureFor("10.50.1600.1");
  QVERIFY2(sim.Start(before), qPrintable(sim.ErrorString()));
  const TClientRun first = RunTsql(sim.Port(), "demo", "demo", {SqlPerf});
  QVERIFY2(first.Stdout.contains("Zürich's]db\t12.5\t75.25\t0"), qPrintable(first.Stdout));

  QString grown = before;
  grown.replace("\"logSizeMB\": 12.5, \"logUsedPercent\": 75.25",
                "\"logSizeMB\": 50, \"logUsedPercent\": 99.5");
  QVERIFY(grown != before);
  QVERIFY2(sim.ApplyScenario(grown), qPrintable(sim.ErrorString()));
  const TClientRun second = RunTsql(sim.Port(), "demo", "demo", {SqlPerf});
  QVERIFY2(second.Stdout.contains("Zürich's]db\t50\t99.5\t0"), qPrintable(second.Stdout));

  // Without a signal the file watcher notices the change.
  QString shrunk = grown;
  shrunk.replace("\"logUsedPercent\": 99.5", "\"logUsedPercent\": 0.5");
  QVERIFY2(sim.ApplyScenario(shrunk, 10000, false), qPrintable(sim.ErrorString()));
  const TClientRun watched = RunTsql(sim.Port(), "demo", "demo", {SqlPerf});
  QVERIFY2(watched.Stdout.contains("Zürich's]db\t50\t0.5\t0"), qPrintable(watched.Stdout));

  // A broken scenario is refused and the last good one stays in force.
  QVERIFY(!sim.ApplyScenario("{\"databases\": [{\"name\": 1}]}", 3000));
  QVERIFY(sim.IsRunning());
  const TClientRun third = RunTsql(sim.Port(), "demo", "demo", {SqlPerf});
  QVERIFY2(third.Stdout.contains("Zürich's]db\t50\t0.5\t0"), qPrintable(third.Stdout));
}

// SSRP on loopback: the full list, one named instance, and silence for an unknown one.
void TTestSqlSimClients::ssrp() {
  QJsonObject scenario = QJsonDocument::fromJson(FixtureFor("10.50.1600.1").toUtf8()).object();
  scenario.insert("instances", QJsonArray{QJsonObject{{"machine", "SIMHOST"},
                                                      {"instance", "REPORTING"},
                                                      {"version", "11.0.2100.60"},
                                                      {"tcpPort", 1501}}});
  TSqlSimProcess sim;
  TSqlSimOptions options;
  options.Ssrp = true;
  QVERIFY2(sim.Start(QString::fromUtf8(QJsonDocument(scenario).toJson()), options),
           qPrintable(sim.ErrorString()));
  QVERIFY(sim.SsrpPort() != 0);

  QUdpSocket udp;
  QVERIFY(udp.bind(QHostAddress::LocalHost, 0));
  auto ask = [&](const QByteArray& request) -> QByteArray {
    udp.writeDatagram(request, QHostAddress::LocalHost, sim.SsrpPort());
    if (!udp.hasPendingDatagrams() && !udp.waitForReadyRead(5000)) return {};
    return udp.receiveDatagram().data();
  };
  auto body = [](const QByteArray& reply) {
    if (reply.size() < 3 || reply[0] != 0x05) return QString();
    const int len = quint8(reply[1]) | (quint8(reply[2]) << 8);
    return reply.size() == 3 + len ? QString::fromLatin1(reply.mid(3)) : QString("bad length");
  };
  const QString own = QStringLiteral("ServerName;SIMHOST;InstanceName;MSSQLSERVER;IsClustered;No;"
                                     "Version;10.50.1600.1;tcp;%1;;")
                          .arg(sim.Port());
  const QString reporting = "ServerName;SIMHOST;InstanceName;REPORTING;IsClustered;No;"
                            "Version;11.0.2100.60;tcp;1501;;";
  QCOMPARE(body(ask(QByteArray(1, 0x03))), own + reporting);
  QCOMPARE(body(ask(QByteArray(1, 0x02))), own + reporting);
  // An unknown instance gets no answer: the next answer is the one to the following request.
  udp.writeDatagram(QByteArray("\x04NOSUCH\0", 8), QHostAddress::LocalHost, sim.SsrpPort());
  QCOMPARE(body(ask(QByteArray("\x04reporting\0", 11))), reporting);
}

// A scenario that cannot be served stops the simulator with a reason, before it listens.
void TTestSqlSimClients::badScenarios_data() {
  QTest::addColumn<QString>("json");
  QTest::addColumn<QString>("reason");
  QTest::newRow("not JSON") << "{\"logins\": ["
                            << "JSON error";
  QTest::newRow("database without name") << R"({"databases": [{"status": 0}]})"
                                         << "\"name\" is required";
  QTest::newRow("duplicate database") << R"({"databases": [{"name": "A"}, {"name": "a"}]})"
                                      << "listed twice";
  QTest::newRow("unknown statement key") << R"({"logins": [{"name": "x", "denied": ["dbcc"]}]})"
                                         << "unknown statement key";
  QTest::newRow("bad fault pattern") << R"({"faults": [{"pattern": "(", "delayMs": 1}]})"
                                     << "invalid pattern";
  QTest::newRow("bad VLF generator")
      << R"({"databases": [{"name": "A", "vlfs": [{"count": 3, "active": 5}]}]})"
      << "VLF generator";
  QTest::newRow("bad version") << R"({"server": {"version": "ten"}})"
                               << "version";
  QTest::newRow("wrong type") << R"({"databases": [{"name": "A", "logSizeMB": "big"}]})"
                              << "must be a number";
}

void TTestSqlSimClients::badScenarios() {
  QFETCH(QString, json);
  QFETCH(QString, reason);
  TSqlSimProcess sim;
  QVERIFY(!sim.Start(json));
  QVERIFY2(sim.ErrorString().contains(reason), qPrintable(sim.ErrorString()));
}

// The generator: thousands of databases and a long VLF list whose LSNs pass 64 bits.
void TTestSqlSimClients::generatedScenario() {
  const QString json = R"({"logins": [{"name": "bench", "password": "bench"}],
    "databases": [{"name": "master"},
                  {"name": "Big", "vlfs": [{"count": 20000, "size": 65536, "active": 10,
                                            "firstSeqNo": 20000}]}],
    "databaseGenerator": {"count": 3000, "vlfs": {"count": 5, "size": 262144, "active": 2}}})";
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(json), qPrintable(sim.ErrorString()));
  const TClientRun r = RunTsql(sim.Port(), "bench", "bench",
                               {SysDatabases, "USE [Big]", LogInfo, "USE [db02999]", LogInfo});
  QVERIFY(r.Finished);
  auto count = [&](const char* pattern) {
    return r.Stdout.count(QRegularExpression(pattern, QRegularExpression::MultilineOption));
  };
  QCOMPARE(count("^(db\\d{5}|master|Big)\t0$"), 3002);
  QVERIFY(r.Stdout.contains("\ndb03000\t0\n"));
  QCOMPARE(count("^2\t65536\t"), 20000);
  // The last VLF of Big: offset 8192 + 19999 * 65536, active, LSN of sequence 39999.
  QVERIFY2(r.Stdout.contains("2\t65536\t1310662656\t39999\t2\t64\t39999000001999900001"),
           qPrintable(r.Stdout.right(500)));
  QCOMPARE(count("^2\t262144\t"), 5);
}

// The demo instance holds what newcomers are promised.
void TTestSqlSimClients::demoScenario() {
  if (!RequireTedious()) QSKIP("tedious is not installed");
  TSqlSimProcess sim;
  QVERIFY2(
      sim.Start(qEnvironmentVariable("VELMORA_SOURCE_DIR") + "/tools/sqlsim/scenarios/demo.json"),
      qPrintable(sim.ErrorString()));
  const QJsonObject report =
      RunTedious(sim.Port(), "demo", "demo",
                 {SysDatabases, SqlPerf, "USE [Telemetry]", LogInfo, "USE [Warehouse]", SysFiles,
                  "USE [Orders]", OpenTran, Recovery("Payroll"), BackupSet("Payroll")});
  QVERIFY(report.value("connected").toBool());
  const QJsonArray results = report.value("results").toArray();
  QCOMPARE(results.size(), 10);
  for (const QJsonValue& r : results)
    QVERIFY2(!r.toObject().contains("error"), qPrintable(Compact(r)));

  QMap<QString, int> status;
  for (const QJsonValue& row : results[0].toObject().value("rows").toArray())
    status.insert(row.toArray()[0].toString(), row.toArray()[1].toInt());
  for (const char* system : {"master", "model", "msdb", "tempdb"})
    QVERIFY(status.contains(system));
  QVERIFY(status.size() >= 14);
  auto any = [&](auto pred) {
    for (auto it = status.cbegin(); it != status.cend(); ++it)
      if (pred(it.key(), it.value())) return true;
    return false;
  };
  QVERIFY(any([](const QString&, int s) { return s & 512; }));                  // offline
  QVERIFY(any([](const QString&, int s) { return s & 1024; }));                 // read only
  QVERIFY(any([](const QString&, int s) { return (s & 4194305) == 4194305; })); // autoclose+shrink
  QVERIFY(any([](const QString& n, int) { return n.contains(']') && n.contains('\''); }));
  QVERIFY(any([](const QString& n, int) {
    return std::any_of(n.begin(), n.end(), [](QChar c) { return c.unicode() > 127; });
  }));

  bool userLogFull = false;
  for (const QJsonValue& row : results[1].toObject().value("rows").toArray()) {
    const QString name = row.toArray()[0].toString();
    userLogFull =
        userLogFull || (!QStringList{"master", "model", "msdb", "tempdb"}.contains(name) &&
                        row.toArray()[2].toDouble() >= 70);
  }
  QVERIFY(userLogFull);
  QVERIFY(results[3].toObject().value("rows").toArray().size() > 1000);
  const QJsonArray files = results[5].toObject().value("rows").toArray();
  QCOMPARE(files.size(), 2);
  QVERIFY((files[0].toArray()[5].toInt() & 0x100000) || (files[1].toArray()[5].toInt() & 0x100000));
  QVERIFY(Numbers(results[7].toObject().value("infos").toArray()).contains(7976));
  QCOMPARE(results[8].toObject().value("rows").toArray(), QJsonArray{QJsonArray{"FULL"}});
  QCOMPARE(results[9].toObject().value("rows").toArray().size(), 0);
}

QTEST_GUILESS_MAIN(TTestSqlSimClients)
#include "test_sqlsim_clients.moc"
