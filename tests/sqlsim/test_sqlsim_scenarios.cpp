// The simulator's scenarios through real clients: refusals, faults, cancel, reload, SSRP, bad
// and generated scenarios, and the demo instance.

#include "uSqlSimFixture.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

class TTestSqlSimScenarios : public QObject {
  Q_OBJECT
private slots:
  void initTestCase();
  void refusals_data();
  void refusals();
  void faults_data();
  void faults();
  void freetdsSeesFaults();
  void cancelDuringDelay();
  void reloadChangesAnswers();
  void scenarioFileIsNotRewritten();
  void ssrp();
  void badScenarios_data();
  void badScenarios();
  void typingErrorsAreReported();
  void generatedScenario();
  void demoScenario();

private:
  bool RequireTedious();
  QString FWhyNoTedious;
  bool FHaveTedious = false;
};

void TTestSqlSimScenarios::initTestCase() {
  QVERIFY2(!TSqlSimProcess::SimulatorPath().isEmpty(), "VELMORA_SQLSIM is not set");
  FHaveTedious = TediousAvailable(&FWhyNoTedious);
  // scripts/test installs every client: there a missing one is a failure, not a skip.
  if (qEnvironmentVariableIsSet("VELMORA_REQUIRE_ALL_CLIENTS"))
    QVERIFY2(FHaveTedious, qPrintable(FWhyNoTedious));
}

bool TTestSqlSimScenarios::RequireTedious() {
  if (!FHaveTedious) qWarning("%s", qPrintable(FWhyNoTedious));
  return FHaveTedious;
}

// What the server refuses, with its numbers and texts.
void TTestSqlSimScenarios::refusals_data() {
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

void TTestSqlSimScenarios::refusals() {
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
void TTestSqlSimScenarios::faults_data() {
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

void TTestSqlSimScenarios::faults() {
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
void TTestSqlSimScenarios::freetdsSeesFaults() {
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
void TTestSqlSimScenarios::cancelDuringDelay() {
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
void TTestSqlSimScenarios::reloadChangesAnswers() {
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

// A scenario given as a file runs from a copy: applying a change leaves the file alone.
void TTestSqlSimScenarios::scenarioFileIsNotRewritten() {
  QTemporaryDir dir;
  const QString path = dir.filePath("mine.json");
  const QByteArray original = FixtureFor("10.50.1600.1").toUtf8();
  {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(original);
  }
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(path), qPrintable(sim.ErrorString()));
  QVERIFY(sim.ScenarioPath() != path);
  QVERIFY(sim.ApplyScenario(FixtureFor("11.0.2100.60")));
  QFile f(path);
  QVERIFY(f.open(QIODevice::ReadOnly));
  QCOMPARE(f.readAll(), original);
  const TClientRun r = RunTsql(sim.Port(), "demo", "demo", {VersionQuery});
  QVERIFY2(r.Stdout.contains("11.0.2100.60"), qPrintable(r.Stdout));
}

// SSRP on loopback: the full list, one named instance, and silence for an unknown one.
void TTestSqlSimScenarios::ssrp() {
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
void TTestSqlSimScenarios::badScenarios_data() {
  QTest::addColumn<QString>("json");
  QTest::addColumn<QString>("reason");
  QTest::newRow("not JSON") << "{\"logins\": ["
                            << "JSON error";
  QTest::newRow("login without name") << R"({"logins": [{"password": "x"}]})"
                                      << "a login: \"name\" is required";
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
  QTest::newRow("number beyond 64 bits")
      << R"({"databases": [{"name": "A", "vlfs": [{"count": 1, "size": 1e300}]}]})"
      << "\"size\" is out of range";
}

void TTestSqlSimScenarios::badScenarios() {
  QFETCH(QString, json);
  QFETCH(QString, reason);
  TSqlSimProcess sim;
  QVERIFY(!sim.Start(json));
  QVERIFY2(sim.ErrorString().contains(reason), qPrintable(sim.ErrorString()));
}

// A key the simulator does not know is reported (it is most likely a typing error); a key
// beginning with "_" is a comment.
void TTestSqlSimScenarios::typingErrorsAreReported() {
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(R"({"_comment": "fine", "logins": [{"name": "a", "pasword": "x"}],
      "databases": [{"name": "d", "logUsedPercnt": 5, "vlfs": [{"count": 3, "activ": 1}]}]})"),
           qPrintable(sim.ErrorString()));
  QCOMPARE(sim.Warnings(), QStringList({"login 'a': unknown key \"pasword\"",
                                        "database 'd': unknown key \"logUsedPercnt\"",
                                        "database 'd', a VLF generator: unknown key \"activ\""}));
}

// The generator: thousands of databases and a long VLF list whose LSNs pass 64 bits.
void TTestSqlSimScenarios::generatedScenario() {
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
void TTestSqlSimScenarios::demoScenario() {
  if (!RequireTedious()) QSKIP("tedious is not installed");
  TSqlSimProcess sim;
  QVERIFY2(
      sim.Start(qEnvironmentVariable("VELMORA_SOURCE_DIR") + "/tools/sqlsim/scenarios/demo.json"),
      qPrintable(sim.ErrorString()));
  const QJsonObject report =
      RunTedious(sim.Port(), "demo", "demo",
                 {SysDatabases, SqlPerf, "USE [Telemetry]", LogInfo, "USE [Warehouse]", SysFiles,
                  "USE [Orders]", OpenTran, Recovery("Payroll"), BackupSet("Payroll")});
  QVERIFY2(sim.Warnings().isEmpty(), qPrintable(sim.Warnings().join('\n')));
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

QTEST_GUILESS_MAIN(TTestSqlSimScenarios)
#include "test_sqlsim_scenarios.moc"
