// What the data store does without a server: connection strings, version names, messages, and
// a store that was never given a server.

#include "datastore/uOdbc.h"
#include "datastore/uOdbcConnectionString.h"
#include "datastore/uServerVersion.h"
#include "datastore/udmDataStoreSQLServer.h"
#include "uConnectionStringReaders.h"

#include <QTest>
#include <stdexcept>

namespace {

const QStringList kAllDrivers = {"FreeTDS", "ODBC Driver 17 for SQL Server",
                                 "ODBC Driver 18 for SQL Server", "SQL Server"};

TSQLConnectionProperties Props(const QString& instance, const QString& login = "sa",
                               const QString& password = "pw", std::uint8_t provider = 0) {
  TSQLConnectionProperties p;
  p.Instance = instance;
  p.SQLLogin = login;
  p.SQLPassword = password;
  p.Provider = provider;
  return p;
}

} // namespace

class TestDataStoreUnits : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void driverChoice_data() {
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<int>("provider");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("driver"); // empty: an error naming the missing driver
    QTest::addColumn<QString>("missing");

    QTest::newRow("auto prefers 18") << kAllDrivers << 0 << false << "ODBC Driver 18 for SQL Server"
                                     << "";
    QTest::newRow("auto falls back to 17")
        << QStringList{"FreeTDS", "ODBC Driver 17 for SQL Server"} << 0 << false
        << "ODBC Driver 17 for SQL Server"
        << "";
    QTest::newRow("auto falls back to FreeTDS")
        << QStringList{"PostgreSQL", "FreeTDS"} << 0 << false << "FreeTDS"
        << "";
    QTest::newRow("auto keeps the registered spelling")
        << QStringList{"freetds"} << 0 << false << "freetds"
        << "";
    QTest::newRow("auto with none") << QStringList{"PostgreSQL"} << 0 << false << ""
                                    << "ODBC Driver 18 for SQL Server";
    QTest::newRow("auto with none names FreeTDS too") << QStringList{} << 0 << false << ""
                                                      << "FreeTDS";
    QTest::newRow("MDAC is FreeTDS on Linux") << kAllDrivers << 1 << false << "FreeTDS"
                                              << "";
    QTest::newRow("MDAC without FreeTDS")
        << QStringList{"ODBC Driver 18 for SQL Server"} << 1 << false << ""
        << "FreeTDS";
    QTest::newRow("MDAC is the legacy driver on Windows")
        << kAllDrivers << 1 << true << "SQL Server"
        << "";
    QTest::newRow("auto on Windows without FreeTDS")
        << QStringList{"SQL Server"} << 0 << true << "SQL Server"
        << "";
  }
  void driverChoice() {
    QFETCH(QStringList, installed);
    QFETCH(int, provider);
    QFETCH(bool, windows);
    QFETCH(QString, driver);
    QFETCH(QString, missing);
    const TOdbcConnectionString cs = BuildConnectionString(
        Props("db1", "sa", "pw", std::uint8_t(provider)), installed, "App", windows);
    if (driver.isEmpty()) {
      QVERIFY(cs.Text.isEmpty());
      QVERIFY2(cs.Error.contains('"' + missing + '"'), qPrintable(cs.Error));
    } else {
      QVERIFY2(cs.Error.isEmpty(), qPrintable(cs.Error));
      QCOMPARE(cs.Driver, driver);
      QVERIFY2(cs.Text.startsWith("Driver={" + driver + "};"), qPrintable(cs.Text));
    }
  }

  // FreeTDS gets its server through a private freetds.conf section (%S in the expected text
  // stands for its name); Microsoft's driver gets Server= and its encryption keywords.
  void connectionString_data() {
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("instance");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("section"); // FreeTDS: the section's options, one per line

    const QStringList tds = {"FreeTDS"};
    const QStringList ms = {"ODBC Driver 18 for SQL Server"};
    const QString tail = "encryption = request\nca file = system\ncheck certificate hostname = yes";
    const QString head = "Driver={FreeTDS};Servername={%S};TDS_Version={7.4};Encryption={request};";
    QTest::newRow("FreeTDS host gets 1433") << tds << "db1"
                                            << ""
                                            << "sa"
                                            << "pw" << head + "UID={sa};PWD={pw};APP={Tessaly GUI};"
                                            << "host = db1\nport = 1433\n" + tail;
    QTest::newRow("FreeTDS host,port")
        << tds << " db1 , 14330 "
        << "master"
        << "sa"
        << "pw" << head + "Database={master};UID={sa};PWD={pw};APP={Tessaly GUI};"
        << "host = db1\nport = 14330\n" + tail;
    QTest::newRow("FreeTDS named instance asks the browser")
        << tds << "db1\\SQL2008"
        << ""
        << "sa"
        << "pw" << head + "UID={sa};PWD={pw};APP={Tessaly GUI};"
        << "host = db1\ninstance = SQL2008\n" + tail;
    QTest::newRow("FreeTDS instance with port uses the port")
        << tds << "tcp:db1\\SQL2008,1500"
        << ""
        << "sa"
        << "pw" << head + "UID={sa};PWD={pw};APP={Tessaly GUI};"
        << "host = db1\nport = 1500\n" + tail;
    QTest::newRow("FreeTDS local names") << tds << "(local)"
                                         << ""
                                         << "sa"
                                         << "pw" << head + "UID={sa};PWD={pw};APP={Tessaly GUI};"
                                         << "host = localhost\nport = 1433\n" + tail;
    QTest::newRow("FreeTDS IPv6 in brackets with a port")
        << tds << "[::1],1500"
        << ""
        << "sa"
        << "pw" << head + "UID={sa};PWD={pw};APP={Tessaly GUI};"
        << "host = ::1\nport = 1500\n" + tail;
    QTest::newRow("FreeTDS integrated authentication ignores the password")
        << tds << "db1"
        << ""
        << ""
        << "secret" << head + "Trusted_Connection={Yes};APP={Tessaly GUI};"
        << "host = db1\nport = 1433\n" + tail;
    QTest::newRow("empty password is still sent")
        << tds << "db1"
        << ""
        << "sa"
        << "" << head + "UID={sa};PWD={};APP={Tessaly GUI};"
        << "host = db1\nport = 1433\n" + tail;
    // FreeTDS ends a braced value at the first "};" and keeps doubled braces as they are.
    QTest::newRow("FreeTDS braces keep ; and lone braces inside")
        << tds << "db1"
        << "my}db;x={y}"
        << "s;a"
        << "p}w;Trusted_Connection=Yes"
        << head + "Database={my}db;x={y}};UID={s;a};PWD={p}w;Trusted_Connection=Yes};"
                  "APP={Tessaly GUI};"
        << "host = db1\nport = 1433\n" + tail;
    QTest::newRow("Microsoft doubles closing braces")
        << ms << "db1"
        << "my}db"
        << "sa"
        << "p};UID={x}"
        << "Driver={ODBC Driver 18 for SQL Server};Server={db1};Encrypt={Optional};"
           "TrustServerCertificate={no};Database={my}}db};UID={sa};PWD={p}};UID={x}}};"
           "APP={Tessaly GUI};"
        << "";
    QTest::newRow("Microsoft host,port")
        << ms << "db1,1500"
        << ""
        << "sa"
        << "pw"
        << "Driver={ODBC Driver 18 for SQL Server};Server={db1,1500};Encrypt={Optional};"
           "TrustServerCertificate={no};UID={sa};PWD={pw};APP={Tessaly GUI};"
        << "";
    QTest::newRow("Microsoft named instance, integrated")
        << ms << "db1\\INST"
        << "model"
        << ""
        << ""
        << "Driver={ODBC Driver 18 for SQL Server};Server={db1\\INST};Encrypt={Optional};"
           "TrustServerCertificate={no};Database={model};Trusted_Connection={Yes};"
           "APP={Tessaly GUI};"
        << "";
  }
  void connectionString() {
    QFETCH(QStringList, installed);
    QFETCH(QString, instance);
    QFETCH(QString, database);
    QFETCH(QString, login);
    QFETCH(QString, password);
    QFETCH(QString, expected);
    QFETCH(QString, section);
    TSQLConnectionProperties p = Props(instance, login, password);
    p.Database = database;
    const TOdbcConnectionString cs = BuildConnectionString(p, installed, "Tessaly GUI", false);
    QVERIFY2(cs.Error.isEmpty(), qPrintable(cs.Error));
    QCOMPARE(cs.Text, QString(expected).replace("%S", cs.FreeTdsSectionName));
    if (section.isEmpty()) {
      QVERIFY(cs.FreeTdsSectionName.isEmpty());
      return;
    }
    QVERIFY(cs.FreeTdsSectionName.startsWith("velmora-"));
    const TFreeTdsConfFile file = TFreeTdsConfFile::Parse("x", cs.FreeTdsSectionText.toUtf8());
    QCOMPARE(file.Sections.size(), 1);
    QCOMPARE(file.Sections[0].Name, cs.FreeTdsSectionName);
    QStringList got;
    for (const TFreeTdsOption& o : file.Sections[0].Options)
      got << o.Key + " = " + o.Value;
    QCOMPARE(got.join('\n'), section);
  }

  // Whatever the user types, the driver reads back exactly the values given and no keyword
  // more; what FreeTDS cannot read back safely is refused.
  void valuesRoundTrip_data() {
    QTest::addColumn<QString>("driver");
    QTest::newRow("FreeTDS") << "FreeTDS";
    QTest::newRow("Microsoft") << "ODBC Driver 18 for SQL Server";
  }
  void valuesRoundTrip() {
    QFETCH(QString, driver);
    const bool freeTds = driver == "FreeTDS";
    const QStringList pieces = {
        "a", ";", "}", "{", "=", "};UID=x", "}}", " ", "Trusted_Connection=Yes"};
    for (const QString& a : pieces)
      for (const QString& b : pieces) {
        const QString value = a + b;
        TSQLConnectionProperties p = Props("db1", "u" + value, value);
        p.Database = value + "d";
        const TOdbcConnectionString cs = BuildConnectionString(p, {driver}, "App", false);
        const bool refused = freeTds && (p.SQLLogin.contains("};") ||
                                         p.SQLPassword.contains("};") || p.Database.contains("};"));
        QCOMPARE(!cs.Error.isEmpty(), refused);
        if (refused) continue;
        const QMap<QString, QString> read =
            freeTds ? ParseLikeFreeTds(cs.Text) : ParseLikeOdbc(cs.Text);
        QCOMPARE(read.value("PWD"), p.SQLPassword);
        QCOMPARE(read.value("UID"), p.SQLLogin);
        QCOMPARE(read.value("DATABASE"), p.Database);
        QCOMPARE(read.value("APP"), QString("App"));
        QVERIFY2(!read.contains("TRUSTED_CONNECTION"), qPrintable(cs.Text));
      }
  }

  void applicationNameLeftOut() {
    const TOdbcConnectionString cs = BuildConnectionString(Props("db1"), {"FreeTDS"}, {}, false);
    QVERIFY(!cs.Text.contains("APP="));
  }

  void badServerNames_data() {
    QTest::addColumn<QString>("instance");
    QTest::addColumn<QString>("password");
    QTest::newRow("port not a number") << "db1,abc"
                                       << "pw";
    QTest::newRow("port zero") << "db1,0"
                               << "pw";
    QTest::newRow("port too large") << "db1,65536"
                                    << "pw";
    QTest::newRow("empty port") << "db1,"
                                << "pw";
    QTest::newRow("NUL in a value") << "db1" << QString::fromUtf8("p\0w", 3);
    QTest::newRow("FreeTDS cannot take };") << "db1"
                                            << "p};Trusted_Connection=Yes";
  }
  void badServerNames() {
    QFETCH(QString, instance);
    QFETCH(QString, password);
    const TOdbcConnectionString cs =
        BuildConnectionString(Props(instance, "sa", password), {"FreeTDS"}, "App", false);
    QVERIFY(cs.Text.isEmpty());
    QVERIFY(!cs.Error.isEmpty());
  }

  void versionNames_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("name");
    QTest::newRow("2000") << "08.00.2039"
                          << "SQL Server 2000 - 08.00.2039";
    QTest::newRow("2005") << "09.00.3042"
                          << "SQL Server 2005 - 09.00.3042";
    QTest::newRow("2008") << "10.00.2531"
                          << "SQL Server 2008 - 10.00.2531";
    QTest::newRow("2008 R2") << "10.50.1600"
                             << "SQL Server 2008 R2 - 10.50.1600";
    QTest::newRow("11 is 2012") << "11.00.2100"
                                << "SQL Server 2012 - 11.00.2100";
    QTest::newRow("2014") << "12.00.2000"
                          << "SQL Server 2014 - 12.00.2000";
    QTest::newRow("2016") << "13.00.1601"
                          << "SQL Server 2016 - 13.00.1601";
    QTest::newRow("2017") << "14.00.1000"
                          << "SQL Server 2017 - 14.00.1000";
    QTest::newRow("2019") << "15.00.2000"
                          << "SQL Server 2019 - 15.00.2000";
    QTest::newRow("2022") << "16.00.1000"
                          << "SQL Server 2022 - 16.00.1000";
    QTest::newRow("2025") << "17.00.1000"
                          << "SQL Server 2025 - 17.00.1000";
    QTest::newRow("minor 50 only matters for 10") << "11.50.1000"
                                                  << "SQL Server 2012 - 11.50.1000";
    QTest::newRow("unknown major") << "18.00.100"
                                   << "SQL Server 18.00.100";
    QTest::newRow("7.0") << "07.00.623"
                         << "SQL Server 07.00.623";
    QTest::newRow("no full stop") << "2100"
                                  << "SQL Server 2100";
    QTest::newRow("no second full stop keeps minor 0") << "10.50"
                                                       << "SQL Server 2008 - 10.50";
  }
  void versionNames() {
    QFETCH(QString, version);
    QFETCH(QString, name);
    QCOMPARE(ServerVersionName(version), name);
  }

  void versionNameRejectsNonNumbers() {
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, ServerVersionName("x.00.1"));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, ServerVersionName("10.5a.1"));
  }

  void majorVersion_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("major"); // -1: none
    QTest::newRow("08") << "08.00.2039" << 8;
    QTest::newRow("10") << "10.50.1600" << 10;
    QTest::newRow("no full stop") << "1050" << -1;
    QTest::newRow("not a number") << "ten.50" << -1;
  }
  void majorVersion() {
    QFETCH(QString, version);
    QFETCH(int, major);
    const std::optional<int> m = ServerMajorVersion(version);
    QCOMPARE(m.value_or(-1), major);
  }

  void driverPrefixes_data() {
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("text");
    QTest::newRow("FreeTDS") << "[FreeTDS][SQL Server]Login failed for user 'sa'."
                             << "Login failed for user 'sa'.";
    QTest::newRow("Microsoft")
        << "[Microsoft][ODBC Driver 18 for SQL Server][SQL Server]Changed database context."
        << "Changed database context.";
    QTest::newRow("driver manager") << "[unixODBC][Driver Manager]Data source name not found"
                                    << "Data source name not found";
    QTest::newRow("server text starting with a bracket") << "[dbo].[t] is not a table"
                                                         << "[dbo].[t] is not a table";
    QTest::newRow("bracket after the prefix stays") << "[FreeTDS][SQL Server][x] y"
                                                    << "[x] y";
    QTest::newRow("no prefix") << "plain"
                               << "plain";
    QTest::newRow("indentation of DBCC output stays")
        << "[FreeTDS][SQL Server]    SPID (server process ID): 54\r\n"
        << "    SPID (server process ID): 54";
  }
  void driverPrefixes() {
    QFETCH(QString, raw);
    QFETCH(QString, text);
    QCOMPARE(StripDriverPrefixes(raw), text);
  }

  void diagnosticsJoinOrder() {
    const std::vector<TOdbcDiagRecord> records = {
        {"01000", 1, "first"}, {"01000", 2, ""}, {"25000", 7969, "last"}};
    QCOMPARE(JoinDiagnostics(records, true), QString("last\r\nfirst"));
    QCOMPARE(JoinDiagnostics(records, false), QString("first\r\nlast"));
  }

  // A store the Connect dialog created but never configured: every operation fails cleanly.
  void neverConfigured() {
    TDataStoreSQLServer store;
    QVERIFY(!store.Connected);
    QVERIFY(!store.IsSQL2005OrNewer);
    QVERIFY(store.Query && !store.Query->Active());

    QVERIFY(!store.RunQuery("SELECT 1"));
    QCOMPARE(store.Errors.size(), 1);
    QVERIFY(!store.Errors[0].isEmpty());
    QVERIFY(!store.Query->Active());
    QCOMPARE(store.Query->RecordCount(), 0);
    QVERIFY(store.Query->Eof());

    QVERIFY(!store.ExecuteStatement("USE [master]"));
    QCOMPARE(store.Errors.size(), 2); // statements do not clear the list
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, store.GetServerVersionName());
    QVERIFY(!store.Connected);
  }

  // Settings that make no connection string (here a bad port; a missing driver takes the same
  // road) fail InitWithConnProps with one entry, and later operations fail the same way.
  void unusableSettingsAreAnError() {
    TDataStoreSQLServer store;
    QVERIFY(!store.InitWithConnProps(Props("db1,port")));
    QCOMPARE(store.Errors.size(), 1);
    QVERIFY2(store.Errors[0].contains("\"port\""), qPrintable(store.Errors[0]));
    QVERIFY(!store.Connected);
    QVERIFY(!store.RunQuery("SELECT 1"));
    QCOMPARE(store.Errors.size(), 1);
  }

  // Nothing listens on a closed loopback port: the test fails with the formatted entry.
  void testConnectionFailureText() {
    if (!TOdbcEnvironment().InstalledDrivers().contains("FreeTDS", Qt::CaseInsensitive))
      QSKIP("needs the FreeTDS driver");
    TDataStoreSQLServer store;
    TSQLConnectionProperties p = Props("127.0.0.1,1", "sa", "pw", 1);
    QVERIFY(!store.TestConnection(p));
    QCOMPARE(store.Errors.size(), 1);
    QVERIFY2(store.Errors[0].startsWith("Error connecting to database () on instance "
                                        "(127.0.0.1,1): "),
             qPrintable(store.Errors[0]));
    QVERIFY(!store.Errors[0].contains("[FreeTDS]"));
    QVERIFY(!store.Connected);
  }
};

QTEST_GUILESS_MAIN(TestDataStoreUnits)
#include "test_datastore_units.moc"
