// The simulator judged by real clients: FreeTDS tsql, unixODBC isql with the FreeTDS driver,
// and Node's tedious, logging in and reading every statement's columns, types and values.

#include "uSqlSimFixture.h"

#include <QtTest>

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

private:
  bool RequireTedious();
  QString FWhyNoTedious;
  bool FHaveTedious = false;
};

void TTestSqlSimClients::initTestCase() {
  QVERIFY2(!TSqlSimProcess::SimulatorPath().isEmpty(), "VELMORA_SQLSIM is not set");
  FHaveTedious = TediousAvailable(&FWhyNoTedious);
  // scripts/test installs every client: there a missing one is a failure, not a skip.
  if (qEnvironmentVariableIsSet("VELMORA_REQUIRE_ALL_CLIENTS"))
    QVERIFY2(FHaveTedious, qPrintable(FWhyNoTedious));
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
  QTest::newRow("loginfo of a database without VLFs listed: four, the first active")
      << v10 << QStringList{"USE [Quiet]", LogInfo} << vlfCols
      << R"([[2,"260096","8192",20,2,64,0],[2,"260096","268288",0,0,0,0],)"
         R"([2,"260096","528384",0,0,0,0],[2,"260096","788480",0,0,0,0]])"
      << QList<int>{2528};
  QTest::newRow("sysfiles of a database without files listed")
      << v10 << QStringList{"USE [Quiet]", SysFiles}
      << QStringList{"fileid:IntN2",  "groupid:IntN2",    "size:IntN4",
                     "maxsize:IntN4", "growth:IntN4",     "status:IntN4",
                     "perf:IntN4",    "name:NVarChar128", "filename:NVarChar260"}
      << R"([[2,0,128,-1,10,1048642,0,"Quiet_log",)"
         R"("C:\\Program Files\\Microsoft SQL Server\\MSSQL10_50.MSSQLSERVER\\MSSQL\\DATA\\Quiet_log.ldf"]])"
      << QList<int>{};
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

QTEST_GUILESS_MAIN(TTestSqlSimClients)
#include "test_sqlsim_clients.moc"
