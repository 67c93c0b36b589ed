// The simulator's encryption judged by real clients: FreeTDS tsql and its ODBC driver (through
// isql) with a freetds.conf, and Node's tedious. Each row starts a simulator with the server
// setting, connects with the client's own encryption settings and checks both sides: whether
// the client got in, and how far TLS reached according to the server's log.

#include "uSqlSimFixture.h"

#include <QTcpSocket>
#include <QtTest>

class TTestSqlSimTls : public QObject {
  Q_OBJECT
private slots:
  void initTestCase();
  void freetds_data();
  void freetds();
  void tedious_data();
  void tedious();
  void certificateHostName_data();
  void certificateHostName();
  void malformedHandshake();
};

namespace {

QString Scenario(const QString& encryption) {
  return QStringLiteral(R"({"server": {"encryption": "%1"},
    "logins": [{"name": "demo", "password": "demo"}],
    "databases": [{"name": "master"}]})")
      .arg(encryption);
}

QString CaPath(const TSqlSimProcess& sim, const QString& ca) {
  if (ca == "ca") return sim.CaFile();
  if (ca == "other") return sim.OtherCaFile();
  return QString();
}

// A freetds.conf with one section "sim" for the running simulator.
QString Conf(const TSqlSimProcess& sim, const QString& encryption, const QString& caFile,
             const QString& extra = QString()) {
  QString conf = QStringLiteral("[sim]\n\thost = 127.0.0.1\n\tport = %1\n\ttds version = 7.4\n")
                     .arg(sim.Port());
  if (!encryption.isEmpty()) conf += QStringLiteral("\tencryption = %1\n").arg(encryption);
  if (!caFile.isEmpty()) conf += QStringLiteral("\tca file = %1\n").arg(caFile);
  return conf + extra;
}

// How far TLS reached for the first login, from the simulator's log; "" when no login came.
QString LoggedEncryption(const TSqlSimProcess& sim) {
  for (const QJsonObject& e : sim.LogEntries())
    if (e.value("event").toString() == "login") return e.value("encryption").toString();
  return QString();
}

bool TsqlRan(const TClientRun& r) {
  return r.Finished && r.Stdout.contains(QRegularExpression("\\n1\\s"));
}

bool IsqlRan(const TClientRun& r) {
  return r.Finished && r.ExitCode == 0 &&
         r.Stdout.contains(QRegularExpression("^1$", QRegularExpression::MultilineOption));
}

} // namespace

void TTestSqlSimTls::initTestCase() {
  QVERIFY2(!TSqlSimProcess::SimulatorPath().isEmpty(), "VELMORA_SQLSIM is not set");
}

// FreeTDS 1.3.17: off sends ENCRYPT_NOT_SUP, request ENCRYPT_OFF (the login only, unless the
// server forces more), require ENCRYPT_ON. Without a CA file it accepts any certificate.
void TTestSqlSimTls::freetds_data() {
  QTest::addColumn<QString>("server");
  QTest::addColumn<QString>("encryption"); // FreeTDS's setting
  QTest::addColumn<QString>("ca");         // "ca", "other" (an unrelated CA) or "" (none)
  QTest::addColumn<QString>("expected");   // how far TLS reached; "" for a refusal

  struct TRow {
    const char* Server;
    const char* Encryption;
    const char* Ca;
    const char* Expected;
  };
  const TRow rows[] = {
      {"off", "off", "", "none"},          {"off", "request", "ca", "none"},
      {"off", "require", "ca", ""},        {"on", "off", "", "none"},
      {"on", "request", "", "login"},      {"on", "request", "ca", "login"},
      {"on", "request", "other", ""},      {"on", "require", "ca", "full"},
      {"on", "require", "other", ""},      {"required", "off", "", ""},
      {"required", "request", "", "full"}, {"required", "require", "ca", "full"},
      {"required", "require", "", "full"}, {"required", "require", "other", ""},
      {"strict", "require", "ca", ""},
  };
  for (const char* client : {"tsql", "odbc"})
    for (const TRow& r : rows)
      QTest::addRow("%s server %s, %s, ca %s", client, r.Server, r.Encryption,
                    *r.Ca ? r.Ca : "none")
          << r.Server << r.Encryption << r.Ca << r.Expected;
}

void TTestSqlSimTls::freetds() {
  QFETCH(QString, server);
  QFETCH(QString, encryption);
  QFETCH(QString, ca);
  QFETCH(QString, expected);
  const bool odbc = QString(QTest::currentDataTag()).startsWith("odbc");
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(Scenario(server)), qPrintable(sim.ErrorString()));

  bool ran = false;
  QString output;
  if (odbc) {
    // The ODBC driver takes the level from the connection string; the CA only from the file.
    const TClientRun r = RunIsqlWithConf(
        Conf(sim, QString(), CaPath(sim, ca)),
        QStringLiteral("DRIVER=FreeTDS;Servername=sim;UID=demo;PWD=demo;Encryption=%1")
            .arg(encryption),
        {QStringLiteral("SELECT 1")});
    ran = IsqlRan(r);
    output = r.Stdout + r.Stderr;
  } else {
    const TClientRun r = RunTsqlWithConf(Conf(sim, encryption, CaPath(sim, ca)), "sim", "demo",
                                         "demo", {QStringLiteral("SELECT 1")});
    ran = TsqlRan(r);
    output = r.Stdout + r.Stderr;
  }
  QVERIFY2(ran == !expected.isEmpty(), qPrintable(output));
  QCOMPARE(LoggedEncryption(sim), expected);
}

void TTestSqlSimTls::tedious_data() {
  QTest::addColumn<QString>("server");
  QTest::addColumn<QJsonValue>("encrypt");
  QTest::addColumn<bool>("trust");
  QTest::addColumn<QString>("ca");
  QTest::addColumn<QString>("expected");

  QTest::newRow("required, trusted") << "required" << QJsonValue(true) << true << ""
                                     << "full";
  QTest::newRow("required, checked without the CA") << "required" << QJsonValue(true) << false << ""
                                                    << "";
  QTest::newRow("required, checked with the CA") << "required" << QJsonValue(true) << false << "ca"
                                                 << "full";
  QTest::newRow("required, checked with another CA")
      << "required" << QJsonValue(true) << false << "other"
      << "";
  QTest::newRow("required, not encrypting") << "required" << QJsonValue(false) << true << ""
                                            << "";
  QTest::newRow("on, trusted") << "on" << QJsonValue(true) << true << ""
                               << "full";
  // tedious 19 does not give up when the server answers ENCRYPT_NOT_SUP: it logs in in clear.
  QTest::newRow("off, encrypting") << "off" << QJsonValue(true) << true << ""
                                   << "none";
  QTest::newRow("off, not encrypting") << "off" << QJsonValue(false) << true << ""
                                       << "none";
  QTest::newRow("strict, strict with the CA") << "strict" << QJsonValue("strict") << false << "ca"
                                              << "strict";
  QTest::newRow("strict, strict trusting only") << "strict" << QJsonValue("strict") << true << ""
                                                << "";
  QTest::newRow("strict, not strict") << "strict" << QJsonValue(true) << true << ""
                                      << "";
  QTest::newRow("on, strict with the CA") << "on" << QJsonValue("strict") << false << "ca"
                                          << "strict";
}

void TTestSqlSimTls::tedious() {
  QFETCH(QString, server);
  QFETCH(QJsonValue, encrypt);
  QFETCH(bool, trust);
  QFETCH(QString, ca);
  QFETCH(QString, expected);
  QString why;
  if (!TediousAvailable(&why)) {
    if (qEnvironmentVariableIsSet("VELMORA_REQUIRE_ALL_CLIENTS")) QFAIL(qPrintable(why));
    QSKIP(qPrintable(why));
  }
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(Scenario(server)), qPrintable(sim.ErrorString()));
  QJsonObject options{{"encrypt", encrypt}, {"trustServerCertificate", trust}};
  if (!ca.isEmpty()) options.insert("caFile", CaPath(sim, ca));
  TClientRun raw;
  const QJsonObject report =
      RunTedious(sim.Port(), "demo", "demo", {QStringLiteral("SELECT 1")}, options, &raw);
  QVERIFY2(!report.isEmpty(), qPrintable(raw.Stdout + raw.Stderr));
  const bool ran =
      report.value("connected").toBool() &&
      report.value("results").toArray().at(0).toObject().value("rows").toArray().size() == 1;
  QVERIFY2(ran == !expected.isEmpty(), qPrintable(raw.Stdout));
  QCOMPARE(LoggedEncryption(sim), expected);
  if (expected == "strict") {
    const QList<QJsonObject> entries = sim.LogEntries();
    QCOMPARE(entries.first().value("alpn").toString(), QString("tds/8.0"));
  }
}

// FreeTDS checks the certificate's names only with a CA file, and only unless told not to.
void TTestSqlSimTls::certificateHostName_data() {
  QTest::addColumn<QStringList>("names"); // in the server's certificate
  QTest::addColumn<QString>("extra");     // more lines for the section
  QTest::addColumn<bool>("connects");

  QTest::newRow("the address in the certificate") << QStringList{"127.0.0.1"} << "" << true;
  QTest::newRow("another name") << QStringList{"db.example"} << "" << false;
  QTest::newRow("another name, check off")
      << QStringList{"db.example"} << "\tcheck certificate hostname = no\n"
      << true;
}

void TTestSqlSimTls::certificateHostName() {
  QFETCH(QStringList, names);
  QFETCH(QString, extra);
  QFETCH(bool, connects);
  TSqlSimProcess sim;
  TSqlSimOptions options;
  options.TlsNames = names;
  QVERIFY2(sim.Start(Scenario("required"), options), qPrintable(sim.ErrorString()));
  const TClientRun r = RunTsqlWithConf(Conf(sim, "require", sim.CaFile(), extra), "sim", "demo",
                                       "demo", {QStringLiteral("SELECT 1")});
  QVERIFY2(TsqlRan(r) == connects, qPrintable(r.Stdout + r.Stderr));
}

// Garbage where a handshake should be ends that connection only; the server stays up.
void TTestSqlSimTls::malformedHandshake() {
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(Scenario("on")), qPrintable(sim.ErrorString()));
  // A PRELOGIN asking for encryption (OFF: the login only), then a record that is no handshake.
  const QByteArray prelogin("\x12\x01\x00\x0f\x00\x00\x00\x00\x01\x00\x06\x00\x01\xff\x00", 15);
  const QByteArray notAHandshake("\x12\x01\x00\x0e\x00\x00\x00\x00\x17\x03\x03\x00\x01\x00", 14);
  for (const QByteArray& first :
       {QByteArray("\x16\x03\x01\x00\x05hello", 10), prelogin + notAHandshake}) {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, sim.Port());
    QVERIFY(s.waitForConnected(5000));
    s.write(first);
    QVERIFY(s.waitForBytesWritten(5000));
    s.waitForReadyRead(2000);
    s.readAll();
    QTRY_COMPARE_WITH_TIMEOUT(s.state(), QAbstractSocket::UnconnectedState, 10000);
  }
  const TClientRun r = RunTsqlWithConf(Conf(sim, "require", sim.CaFile()), "sim", "demo", "demo",
                                       {QStringLiteral("SELECT 1")});
  QVERIFY2(TsqlRan(r), qPrintable(r.Stdout + r.Stderr));
}

QTEST_GUILESS_MAIN(TTestSqlSimTls)
#include "test_sqlsim_tls.moc"
