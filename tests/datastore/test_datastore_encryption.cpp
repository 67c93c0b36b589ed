// Every encryption choice of the data store against every encryption setting of the simulator,
// through the FreeTDS ODBC driver: whether it connects, how far TLS reached according to the
// server, and what it says when it refuses. FREETDSCONF and HOME point into a temporary folder,
// so the machine's own freetds.conf files take no part.

#include "datastore/udmDataStoreSQLServer.h"
#include "uSqlSimProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString Scenario(const QString& encryption) {
  return QStringLiteral(R"({"server": {"encryption": "%1"},
    "logins": [{"name": "demo", "password": "demo"}],
    "databases": [{"name": "master"}]})")
      .arg(encryption);
}

QString LoggedEncryption(const TSqlSimProcess& sim) {
  for (const QJsonObject& e : sim.LogEntries())
    if (e.value("event").toString() == "login") return e.value("encryption").toString();
  return QString();
}

} // namespace

class TestDataStoreEncryption : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void initTestCase() {
    QVERIFY(FDir.isValid());
    FUserConf = FDir.filePath("user-freetds.conf");
    qputenv("FREETDSCONF", QFile::encodeName(FUserConf));
    qputenv("HOME", QFile::encodeName(FDir.path()));
    QVERIFY(!TSqlSimProcess::SimulatorPath().isEmpty());
  }

  void choices_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("encryption");
    QTest::addColumn<bool>("trust");
    QTest::addColumn<QString>("certificate"); // "ca", "other", "pin" or "" (the system's CAs)
    QTest::addColumn<QString>("conf");        // the user's freetds.conf
    QTest::addColumn<QString>("expected");    // how far TLS reached; "" when refused
    QTest::addColumn<QString>("why");         // a part of the refusal's text

    const int opt = int(TEncryption::Optional), man = int(TEncryption::Mandatory),
              strict = int(TEncryption::Strict);
    QTest::newRow("off, optional") << "off" << opt << false << ""
                                   << ""
                                   << "none"
                                   << "";
    QTest::newRow("off, mandatory") << "off" << man << false << ""
                                    << ""
                                    << ""
                                    << "offers no encryption at all";
    QTest::newRow("off, mandatory, trusting") << "off" << man << true << ""
                                              << ""
                                              << ""
                                              << "";
    QTest::newRow("on, optional, CA") << "on" << opt << false << "ca"
                                      << ""
                                      << "login"
                                      << "";
    QTest::newRow("on, optional, trusting") << "on" << opt << true << ""
                                            << ""
                                            << "login"
                                            << "";
    QTest::newRow("on, optional, unknown CA") << "on" << opt << false << ""
                                              << ""
                                              << ""
                                              << "issued by \"sqlsim test CA\"";
    QTest::newRow("on, mandatory, CA") << "on" << man << false << "ca"
                                       << ""
                                       << "full"
                                       << "";
    QTest::newRow("on, mandatory, another CA") << "on" << man << false << "other"
                                               << ""
                                               << ""
                                               << "issued by \"sqlsim test CA\"";
    QTest::newRow("on, mandatory, trusting") << "on" << man << true << ""
                                             << ""
                                             << "full"
                                             << "";
    QTest::newRow("on, mandatory, pinned") << "on" << man << false << "pin"
                                           << ""
                                           << "full"
                                           << "";
    QTest::newRow("required, optional") << "required" << opt << true << ""
                                        << ""
                                        << "full"
                                        << "";
    QTest::newRow("required, mandatory, CA") << "required" << man << false << "ca"
                                             << ""
                                             << "full"
                                             << "";
    QTest::newRow("strict, mandatory") << "strict" << man << true << ""
                                       << ""
                                       << ""
                                       << "";
    QTest::newRow("strict, strict") << "strict" << strict << false << "ca"
                                    << ""
                                    << ""
                                    << "cannot encrypt strictly";
    QTest::newRow("off, optional, configured require") << "off" << opt << false << ""
                                                       << "[global]\n\tencryption = require\n"
                                                       << ""
                                                       << "offers no encryption at all";
    QTest::newRow("on, optional, configured require") << "on" << opt << true << ""
                                                      << "[global]\n\tencryption = require\n"
                                                      << "full"
                                                      << "";
    QTest::newRow("off, optional, configured nonsense") << "off" << opt << false << ""
                                                        << "[global]\n\tencryption = required\n"
                                                        << ""
                                                        << "\"encryption = required\"";
  }
  void choices() {
    QFETCH(QString, server);
    QFETCH(int, encryption);
    QFETCH(bool, trust);
    QFETCH(QString, certificate);
    QFETCH(QString, conf);
    QFETCH(QString, expected);
    QFETCH(QString, why);
    WriteUserConf(conf);
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario(server)), qPrintable(sim.ErrorString()));

    TSQLConnectionProperties p;
    p.Instance = sim.ServerName();
    p.SQLLogin = "demo";
    p.SQLPassword = "demo";
    p.Provider = 1;
    p.Encryption = TEncryption(encryption);
    p.TrustServerCertificate = trust;
    if (certificate == "ca") p.CAFile = sim.CaFile();
    if (certificate == "other") p.CAFile = sim.OtherCaFile();
    if (certificate == "pin") p.ServerCertificate = sim.ServerCertFile();

    TDataStoreSQLServer store;
    const bool ok = store.TestConnection(p);
    QVERIFY2(ok == !expected.isEmpty(), qPrintable(store.Errors.join('\n')));
    QCOMPARE(LoggedEncryption(sim), ok ? expected : LoggedEncryption(sim));
    if (!ok && !LoggedEncryption(sim).isEmpty())
      QVERIFY2(LoggedEncryption(sim) != "none", "a refused choice still logged in in clear");
    if (!why.isEmpty())
      QVERIFY2(store.Errors.join('\n').contains(why), qPrintable(store.Errors.join('\n')));
    if (ok) {
      QVERIFY(store.TestedDriver.startsWith("FreeTDS"));
      QVERIFY(store.InitWithConnProps(p));
      QVERIFY2(store.DriverInUse.contains("libtdsodbc"), qPrintable(store.DriverInUse));
    }
  }

  // A certificate for another name: the reason names both; trusting that one certificate (the
  // Connect dialog keeps a copy) then connects, with the names no longer checked.
  void certificateForAnotherName() {
    WriteUserConf(QString());
    TSqlSimProcess sim;
    TSqlSimOptions options;
    options.TlsNames = {"db.example"};
    QVERIFY2(sim.Start(Scenario("required"), options), qPrintable(sim.ErrorString()));
    TSQLConnectionProperties p;
    p.Instance = sim.ServerName();
    p.SQLLogin = "demo";
    p.SQLPassword = "demo";
    p.Provider = 1;
    p.Encryption = TEncryption::Mandatory;
    p.CAFile = sim.CaFile();
    TDataStoreSQLServer store;
    QVERIFY(!store.TestConnection(p));
    QVERIFY(store.CertificateProblem);
    QCOMPARE(store.CertificateProblem->Outcome, TTlsProbeResult::TOutcome::Untrusted);
    QVERIFY2(store.Errors[0].contains("is for db.example, not for \"127.0.0.1\""),
             qPrintable(store.Errors[0]));
    QCOMPARE(store.CertificateProblem->Names, QStringList{"db.example"});
    QFile pem(sim.ServerCertFile());
    QVERIFY(pem.open(QIODevice::ReadOnly));
    QCOMPARE(store.CertificateProblem->CertificatePem, pem.readAll());

    p.CAFile.clear();
    p.ServerCertificate = sim.ServerCertFile();
    QVERIFY2(store.TestConnection(p), qPrintable(store.Errors.join('\n')));
    QVERIFY(!store.CertificateProblem);
  }

  // A freetds.conf name connects through Servername=, with its own host and port.
  void freeTdsName() {
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario("on")), qPrintable(sim.ErrorString()));
    WriteUserConf(QStringLiteral("[SimAlias]\n\thost = 127.0.0.1\n\tport = %1\n\tca file = %2\n")
                      .arg(sim.Port())
                      .arg(sim.CaFile()));
    TSQLConnectionProperties p;
    p.Instance = "simalias";
    p.Kind = TServerKind::FreeTdsName;
    p.SQLLogin = "demo";
    p.SQLPassword = "demo";
    p.Provider = 1;
    p.Encryption = TEncryption::Mandatory;
    TDataStoreSQLServer store;
    QVERIFY2(store.TestConnection(p), qPrintable(store.Errors.join('\n')));
    QCOMPARE(LoggedEncryption(sim), QString("full"));
  }

private:
  void WriteUserConf(const QString& text) {
    QFile f(FUserConf);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
  }

  QTemporaryDir FDir;
  QString FUserConf;
};

QTEST_GUILESS_MAIN(TestDataStoreEncryption)
#include "test_datastore_encryption.moc"
