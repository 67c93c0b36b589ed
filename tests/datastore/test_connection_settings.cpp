// How a connection's encryption, certificate and server-name choices reach the drivers, and how
// freetds.conf is read the way FreeTDS 1.3 reads it. Pure: no driver is loaded.

#include "datastore/uFreeTdsConfig.h"
#include "datastore/uOdbcConnectionString.h"
#include "datastore/udmDataStoreSQLServer.h"

#include <QTest>

namespace {

TSQLConnectionProperties Props(TEncryption encryption, bool trust = false) {
  TSQLConnectionProperties p;
  p.Instance = "db1,1500";
  p.SQLLogin = "sa";
  p.SQLPassword = "pw";
  p.Encryption = encryption;
  p.TrustServerCertificate = trust;
  return p;
}

TClientSetup Setup(const QString& driver, const QString& library = {},
                   const QString& globalConf = {}) {
  TClientSetup s;
  s.Drivers << TOdbcDriverInfo{driver, library};
  s.Windows = false;
  if (!globalConf.isEmpty())
    s.FreeTds.Files << TFreeTdsConfFile::Parse("/etc/freetds/freetds.conf", globalConf.toUtf8());
  return s;
}

QString SectionLines(const TOdbcConnectionString& cs) {
  const TFreeTdsConfFile f = TFreeTdsConfFile::Parse("x", cs.FreeTdsSectionText.toUtf8());
  QStringList lines;
  if (!f.Sections.isEmpty())
    for (const TFreeTdsOption& o : f.Sections[0].Options)
      lines << o.Key + " = " + o.Value;
  return lines.join('\n');
}

} // namespace

class TestConnectionSettings : public QObject {
  Q_OBJECT
private Q_SLOTS:
  // The FreeTDS level never drops below what freetds.conf configures, is never "off", and the
  // certificate settings land in the section the connection string names.
  void freeTdsEncryption_data() {
    QTest::addColumn<int>("encryption");
    QTest::addColumn<bool>("trust");
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<QString>("pinned");
    QTest::addColumn<QString>("globalConf");
    QTest::addColumn<QString>("level"); // Encryption= in the string; empty: refused
    QTest::addColumn<QString>("tls");   // the section's TLS lines, or a part of the error

    const int opt = int(TEncryption::Optional), man = int(TEncryption::Mandatory),
              strict = int(TEncryption::Strict);
    const QString system = "ca file = system\ncheck certificate hostname = yes";
    QTest::newRow("optional is request") << opt << false << ""
                                         << ""
                                         << ""
                                         << "request" << system;
    QTest::newRow("mandatory is require") << man << false << ""
                                          << ""
                                          << ""
                                          << "require" << system;
    QTest::newRow("trusting drops the CA") << man << true << ""
                                           << ""
                                           << ""
                                           << "require"
                                           << "";
    QTest::newRow("a CA file") << man << false << "/p/ca.pem"
                               << ""
                               << ""
                               << "require"
                               << "ca file = /p/ca.pem\ncheck certificate hostname = yes";
    QTest::newRow("a pinned certificate stands for itself")
        << man << false << ""
        << "/p/server.pem"
        << ""
        << "require"
        << "ca file = /p/server.pem\ncheck certificate hostname = no";
    QTest::newRow("configured require raises optional") << opt << false << ""
                                                        << ""
                                                        << "[global]\nencryption = require\n"
                                                        << "require" << system;
    QTest::newRow("configured off does not lower optional")
        << opt << false << ""
        << ""
        << "[global]\n  Encryption   =  OFF ; old habit\n"
        << "request" << system;
    QTest::newRow("configured CA file is kept")
        << man << false << ""
        << ""
        << "[global]\nca file = /etc/ssl/our-ca.pem\n"
        << "require"
        << "ca file = /etc/ssl/our-ca.pem\ncheck certificate hostname = yes";
    QTest::newRow("configured name check off is kept")
        << man << false << ""
        << ""
        << "[global]\ncheck certificate hostname = no\n"
        << "require"
        << "ca file = system\ncheck certificate hostname = no";
    QTest::newRow("a spelling FreeTDS refuses") << opt << false << ""
                                                << ""
                                                << "[global]\nencryption = required\n"
                                                << ""
                                                << "\"encryption = required\"";
    QTest::newRow("strict is not in FreeTDS 1.3") << strict << false << ""
                                                  << ""
                                                  << ""
                                                  << ""
                                                  << "cannot encrypt strictly";
    QTest::newRow("a path FreeTDS would cut") << man << false << "/p/a;b.pem"
                                              << ""
                                              << ""
                                              << ""
                                              << "cannot read the certificate file";
  }
  void freeTdsEncryption() {
    QFETCH(int, encryption);
    QFETCH(bool, trust);
    QFETCH(QString, caFile);
    QFETCH(QString, pinned);
    QFETCH(QString, globalConf);
    QFETCH(QString, level);
    QFETCH(QString, tls);
    TSQLConnectionProperties p = Props(TEncryption(encryption), trust);
    p.CAFile = caFile;
    p.ServerCertificate = pinned;
    const TOdbcConnectionString cs =
        BuildConnectionString(p, Setup("FreeTDS", {}, globalConf), "A");
    if (level.isEmpty()) {
      QVERIFY(cs.Text.isEmpty());
      QVERIFY2(cs.Error.contains(tls), qPrintable(cs.Error));
      return;
    }
    QVERIFY2(cs.Error.isEmpty(), qPrintable(cs.Error));
    QVERIFY2(cs.Text.contains("Encryption={" + level + "};"), qPrintable(cs.Text));
    const QString section = SectionLines(cs);
    QVERIFY2(section.contains("encryption = " + level), qPrintable(section));
    QString tlsLines;
    for (const QString& l : section.split('\n'))
      if (l.startsWith("ca file") || l.startsWith("check certificate") || l.startsWith("crl"))
        tlsLines += (tlsLines.isEmpty() ? "" : "\n") + l;
    QCOMPARE(tlsLines, tls);
  }

  // Microsoft's drivers (not installed here: these strings are untested against them).
  void microsoftEncryption_data() {
    QTest::addColumn<QString>("driver");
    QTest::addColumn<int>("encryption");
    QTest::addColumn<bool>("trust");
    QTest::addColumn<QString>("hostName");
    QTest::addColumn<QString>("expected"); // the encryption keywords, or a part of the error

    const QString d18 = "ODBC Driver 18 for SQL Server", d17 = "ODBC Driver 17 for SQL Server";
    QTest::newRow("18 optional") << d18 << int(TEncryption::Optional) << false << ""
                                 << "Encrypt={Optional};TrustServerCertificate={no};";
    QTest::newRow("18 mandatory, trusted") << d18 << int(TEncryption::Mandatory) << true << ""
                                           << "Encrypt={Mandatory};TrustServerCertificate={yes};";
    QTest::newRow("18 strict, another name")
        << d18 << int(TEncryption::Strict) << false << "db.example"
        << "Encrypt={Strict};TrustServerCertificate={no};HostNameInCertificate={db.example};";
    QTest::newRow("17 mandatory") << d17 << int(TEncryption::Mandatory) << false << ""
                                  << "Encrypt={yes};TrustServerCertificate={no};";
    QTest::newRow("17 has no strict") << d17 << int(TEncryption::Strict) << false << ""
                                      << "cannot encrypt strictly";
    QTest::newRow("17 has no name check")
        << d17 << int(TEncryption::Mandatory) << false << "db.example"
        << "ODBC Driver 18 can";
  }
  void microsoftEncryption() {
    QFETCH(QString, driver);
    QFETCH(int, encryption);
    QFETCH(bool, trust);
    QFETCH(QString, hostName);
    QFETCH(QString, expected);
    TSQLConnectionProperties p = Props(TEncryption(encryption), trust);
    p.HostNameInCertificate = hostName;
    const TOdbcConnectionString cs = BuildConnectionString(p, Setup(driver), "A");
    if (!cs.Error.isEmpty()) {
      QVERIFY2(cs.Error.contains(expected), qPrintable(cs.Error));
      return;
    }
    QVERIFY2(cs.Text.contains("Server={db1,1500};" + expected), qPrintable(cs.Text));
    QVERIFY(cs.FreeTdsSectionName.isEmpty());
  }

  // FreeTDS registered under any name is found by its library; other drivers are not taken.
  void driverFamilies_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("library");
    QTest::addColumn<int>("family"); // -1: not a SQL Server driver
    QTest::newRow("FreeTDS by name") << "FreeTDS"
                                     << "" << int(TOdbcDriverFamily::FreeTDS);
    QTest::newRow("FreeTDS by library")
        << "TDS"
        << "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so" << int(TOdbcDriverFamily::FreeTDS);
    QTest::newRow("Microsoft by library")
        << "MSSQL"
        << "/opt/microsoft/msodbcsql18/lib64/libmsodbcsql-18.3.so.2.1"
        << int(TOdbcDriverFamily::Microsoft);
    QTest::newRow("another database") << "PostgreSQL"
                                      << "psqlodbcw.so" << -1;
  }
  void driverFamilies() {
    QFETCH(QString, name);
    QFETCH(QString, library);
    QFETCH(int, family);
    const auto got = DriverFamily({name, library});
    QCOMPARE(got ? int(*got) : -1, family);
    const TOdbcConnectionString cs =
        BuildConnectionString(Props(TEncryption::Optional), Setup(name, library), "A");
    QCOMPARE(cs.Error.isEmpty(), family >= 0);
    if (family >= 0) QCOMPARE(cs.Driver, name);
  }

  void strictSupport() {
    QString why;
    QVERIFY(SupportsStrictEncryption({"ODBC Driver 18 for SQL Server", {}}, &why));
    QVERIFY(!SupportsStrictEncryption({"TDS", "libtdsodbc.so"}, &why));
    QVERIFY2(why.contains("FreeTDS"), qPrintable(why));
  }

  // The reader cuts values at ';' and '#', folds case and blanks of keys, and reads every
  // section of a name; [global] of each file tried applies, and the search stops at the first
  // file with the section.
  void freeTdsConfReading() {
    const TFreeTdsConfFile user = TFreeTdsConfFile::Parse("user", R"(
; a comment
[global]
   Client   Charset = UTF-8  # trailing
[Sales]
	host = sales.example ; the primary
[sales]
	port = 1500
)");
    QCOMPARE(user.Section("SALES"), (TFreeTdsOptions{{"host", "sales.example"}, {"port", "1500"}}));
    QCOMPARE(user.Section("global"), (TFreeTdsOptions{{"client charset", "UTF-8"}}));

    const TFreeTdsConfFile system = TFreeTdsConfFile::Parse("system", R"(
[global]
	tds version = auto
	encryption = require
[sales]
	host = elsewhere
[egServer73]
	host = ntmachine.domain.com
)");
    TFreeTdsConfig conf;
    conf.Files = {user, system};
    const TFreeTdsConfig::TResolved sales = conf.Resolve("Sales");
    QVERIFY(sales.Found);
    QCOMPARE(sales.File, QString("user"));
    QCOMPARE(FreeTdsValue(sales.Options, "host"), std::optional<QString>("sales.example"));
    QVERIFY(!FreeTdsValue(sales.Options, "encryption")); // the system file was never reached
    const TFreeTdsConfig::TResolved other = conf.Resolve("db9");
    QVERIFY(!other.Found);
    QCOMPARE(FreeTdsValue(other.Options, "encryption"), std::optional<QString>("require"));
    QCOMPARE(conf.SectionNames(), (QStringList{"Sales", "egServer73"}));

    // fgets gives FreeTDS 255 bytes at a time: the rest of a long line is a line of its own.
    const QByteArray longLine = "[x]\nhost = " + QByteArray(248, 'a') + "port = 9\n";
    const TFreeTdsConfFile cut = TFreeTdsConfFile::Parse("cut", longLine);
    QCOMPARE(FreeTdsValue(cut.Section("x"), "port"), std::optional<QString>("9"));
  }

  // A named server keeps its own section's settings, with Velmora's TLS settings on top.
  void namedServer() {
    TClientSetup s = Setup("FreeTDS", {},
                           "[global]\ntext size = 64512\n[Sales]\nhost = s.example\n"
                           "port = 1501\ntds version = 7.3\nencryption = require\n");
    TSQLConnectionProperties p = Props(TEncryption::Optional, true);
    p.Instance = "sales";
    p.Kind = TServerKind::FreeTdsName;
    const TOdbcConnectionString cs = BuildConnectionString(p, s, "A");
    QVERIFY2(cs.Error.isEmpty(), qPrintable(cs.Error));
    QVERIFY(!cs.Text.contains("TDS_Version"));
    QVERIFY(cs.Text.contains("Encryption={require};"));
    QCOMPARE(SectionLines(cs), QString("text size = 64512\nhost = s.example\nport = 1501\n"
                                       "tds version = 7.3\nencryption = require"));
    p.Instance = "nowhere";
    QVERIFY(BuildConnectionString(p, s, "A").Error.contains("nowhere"));
  }

  // A data source connects with DSN=; a FreeTDS one must bring its own CA when checking.
  void dataSources() {
    TClientSetup s = Setup("FreeTDS", "libtdsodbc.so",
                           "[Sales]\nhost = s.example\n[Checked]\nhost = c\nca file = system\n");
    QMap<QString, QMap<QString, QString>> dsns{
        {"SalesDsn", {{"Driver", "FreeTDS"}, {"Servername", "Sales"}}},
        {"CheckedDsn",
         {{"Driver", "FreeTDS"}, {"Servername", "Checked"}, {"Encryption", "require"}}},
        {"Pg", {{"Driver", "PostgreSQL"}}}};
    s.DsnValue = [&](const QString& dsn, const QString& key) { return dsns.value(dsn).value(key); };
    TSQLConnectionProperties p = Props(TEncryption::Optional);
    p.Kind = TServerKind::DataSource;

    p.Instance = "CheckedDsn";
    TOdbcConnectionString cs = BuildConnectionString(p, s, "A");
    QCOMPARE(cs.Text, QString("DSN={CheckedDsn};Encryption={require};UID={sa};PWD={pw};APP={A};"));
    p.Instance = "SalesDsn";
    QVERIFY(BuildConnectionString(p, s, "A").Error.contains("ca file = system"));
    p.TrustServerCertificate = true;
    QVERIFY(BuildConnectionString(p, s, "A").Error.isEmpty());
    p.Instance = "Pg";
    QVERIFY(BuildConnectionString(p, s, "A").Error.contains("not a SQL Server driver"));
    p.Instance = "Missing";
    QVERIFY(BuildConnectionString(p, s, "A").Error.contains("no ODBC data source"));
  }

  void failureAdvice_data() {
    QTest::addColumn<QString>("login");
    QTest::addColumn<int>("native");
    QTest::addColumn<bool>("ticket");
    QTest::addColumn<QString>("advice"); // a part of it; empty: none
    QTest::newRow("SQL login refused") << "sa" << 18456 << true << "password";
    QTest::newRow("integrated without a ticket") << "" << 20002 << false << "kinit";
    QTest::newRow("integrated with a ticket") << "" << 20002 << true << "";
    QTest::newRow("another failure") << "sa" << 20009 << true << "";
  }
  void failureAdvice() {
    QFETCH(QString, login);
    QFETCH(int, native);
    QFETCH(bool, ticket);
    QFETCH(QString, advice);
    TSQLConnectionProperties p = Props(TEncryption::Optional);
    p.SQLLogin = login;
    const QString got =
        ConnectFailureAdvice(p, {{"08001", native, "x"}}, [ticket] { return ticket; });
    if (advice.isEmpty())
      QVERIFY2(got.isEmpty(), qPrintable(got));
    else
      QVERIFY2(got.contains(advice), qPrintable(got));
  }
};

QTEST_GUILESS_MAIN(TestConnectionSettings)
#include "test_connection_settings.moc"
