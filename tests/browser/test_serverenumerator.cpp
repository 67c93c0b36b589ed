// The enumerator against loopback responders and configuration-file fixtures. Every target
// here is on loopback: no test sends a broadcast.

#include "platform/uServerEnumerator.h"
#include "ssrpresponder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace {
QString Fixture(const QString& name) {
  return qEnvironmentVariable("VELMORA_SOURCE_DIR") + "/tests/browser/fixtures/" + name;
}

TServerEnumeratorOptions LoopbackOptions(const QList<TSSRPTarget>& targets) {
  TServerEnumeratorOptions options;
  options.SSRPTargets = targets;
  options.Timeout = 500ms;
  return options;
}
} // namespace

class TestServerEnumerator : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void defaultAndNamedInstance() {
    TSSRPResponder responder({TSSRPResponder::Reply(TSSRPResponder::Record("DB1", "MSSQLSERVER") +
                                                    TSSRPResponder::Record("DB1", "SALES"))});
    QVERIFY(responder.Port());
    TServerEnumerator enumerator(LoopbackOptions({responder.Target()}));
    QCOMPARE(enumerator.GetServerNames(), (QStringList{"DB1", "DB1\\SALES"}));
    QCOMPARE(responder.Requests(), QByteArrayList{SSRPBroadcastRequest()});
  }

  void answersDifferingInCaseGiveOneEntry() {
    TSSRPResponder upper({TSSRPResponder::Reply(TSSRPResponder::Record("DB1", "SALES"))});
    TSSRPResponder lower({TSSRPResponder::Reply(TSSRPResponder::Record("db1", "sales"))});
    TServerEnumerator enumerator(LoopbackOptions({upper.Target(), lower.Target()}));
    QCOMPARE(enumerator.GetServerNames(), QStringList{"DB1\\SALES"});
  }

  void malformedRepliesAreDroppedOthersKept() {
    TSSRPResponder responder({
        QByteArray("\x05\xff\xff garbage"),
        TSSRPResponder::Reply(TSSRPResponder::Record("EVIL", "X", "tcp;0;")),
        TSSRPResponder::Reply(TSSRPResponder::Record("GOOD", "MSSQLSERVER")),
    });
    TServerEnumerator enumerator(LoopbackOptions({responder.Target()}));
    QCOMPARE(enumerator.GetServerNames(), QStringList{"GOOD"});
  }

  void ipv6Loopback() {
    TSSRPResponder responder({TSSRPResponder::Reply(TSSRPResponder::Record("V6", "MSSQLSERVER"))},
                             QHostAddress(QHostAddress::LocalHostIPv6));
    if (!responder.Port()) QSKIP("IPv6 loopback is not available here");
    TServerEnumerator enumerator(LoopbackOptions({responder.Target()}));
    QCOMPARE(enumerator.GetServerNames(), QStringList{"V6"});
  }

  void silentNetworkGivesNothing() {
    // Nobody listens on this port: the enumerator waits out its time-out and finds nothing.
    quint16 port = 0;
    {
      TSSRPResponder closed({});
      port = closed.Port();
    }
    TServerEnumeratorOptions options = LoopbackOptions({{QHostAddress::LocalHost, port}});
    options.Timeout = 100ms;
    QCOMPARE(TServerEnumerator(options).GetServerNames(), QStringList{});
  }

  void unusableNetworkIsAnError() {
    // A datagram to port 0 cannot be sent.
    TServerEnumerator enumerator(LoopbackOptions({{QHostAddress::LocalHost, 0}}));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, enumerator.GetServerNames());
  }

  // freetds.conf names as FreeTDS reads them; Sybase sections (TDS below 7.0) and Debian's
  // sample sections are no SQL Server of this user's.
  void freeTdsServers() {
    QTemporaryDir dir;
    const QString debian = dir.filePath("freetds.conf");
    QFile f(debian);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[global]\n\ttds version = auto\n"
            "[egServer50]\n\thost = symachine.domain.com\n\tport = 5000\n\ttds version = 5.0\n"
            "[egServer73]\n\thost = ntmachine.domain.com\n\tport = 1433\n\ttds version = 7.3\n"
            "[Sybase]\n\thost = syb.example.test\n\ttds version = 5.0\n"
            "[egServer73b]\n\thost = real.example.test\n");
    f.close();
    const QList<TConfiguredServer> got =
        ReadFreeTDSServers({Fixture("freetds.conf"), debian, Fixture("missing.conf")});
    QStringList names;
    for (const TConfiguredServer& s : got) {
      QCOMPARE(s.Kind, TServerKind::FreeTdsName);
      names << s.Name + "=" + s.Host + "," + QString::number(s.Port) + "\\" + s.Instance;
    }
    // A section read twice in one file takes the later host, as FreeTDS does; "[  reporting  ]"
    // is a name no one can type, "[broken" is the section "broken" to FreeTDS, and a section
    // without a host of its own is a template even when [global] names one.
    QCOMPARE(names.join(" | "),
             QString("Payroll=duplicate.example.test,1433\\ | broken=never,0\\ | "
                     "egServer73b=real.example.test,0\\"));
  }

  // Data sources come from the driver manager; only those of a SQL Server driver are listed,
  // whatever name the driver is registered under.
  void dataSources() {
    const QList<TDataSourceEntry> entries = {
        {"Sales", "FreeTDS", "libtdsodbc.so", "sales.example.test,1433", "", ""},
        {"Custom", "MyTDS", "/opt/lib/libtdsodbc.so", "", "Payroll", "1500"},
        {"Vendor", "ODBC Driver 18 for SQL Server", "", "vendor.example.test\\APP", "", ""},
        {"Postgres", "PostgreSQL Unicode", "psqlodbcw.so", "pg.example.test", "", ""}};
    QList<TConfiguredServer> got = SqlServerDataSources(entries);
    QCOMPARE(got.size(), 3);
    QCOMPARE(got[0], (TConfiguredServer{"Sales", TServerKind::DataSource, "sales.example.test",
                                        1433, "", "FreeTDS"}));
    QCOMPARE(got[1],
             (TConfiguredServer{"Custom", TServerKind::DataSource, "Payroll", 1500, "", "MyTDS"}));
    QCOMPARE(got[2].Instance, QString("APP"));
  }

  // The same through unixODBC itself (SQLDataSources), from fixture files only.
  void dataSourcesThroughUnixOdbc() {
    QTemporaryDir dir;
    QVERIFY(QFile::copy(Fixture("odbcinst.ini"), dir.filePath("odbcinst.ini")));
    QVERIFY(QFile::copy(Fixture("odbc.ini"), dir.filePath("odbc.ini")));
    qputenv("ODBCSYSINI", QFile::encodeName(dir.path()));
    qputenv("HOME", QFile::encodeName(dir.path()));
    QStringList names;
    for (const TConfiguredServer& s : SqlServerDataSources(ListOdbcDataSources()))
      names << s.Name;
    QCOMPARE(names.join(" "), QString("Sales Direct Vendor ViaConf NoServer Custom"));
  }

  void everythingMergedSortedAndDeduplicated() {
    QTemporaryDir installation;
    QVERIFY(installation.isValid());
    TSSRPResponder responder({TSSRPResponder::Reply(
        TSSRPResponder::Record("PAYROLL", "MSSQLSERVER") + TSSRPResponder::Record("alpha", "X") +
        TSSRPResponder::Record("thishost", "MSSQLSERVER"))});
    TServerEnumeratorOptions options = LoopbackOptions({responder.Target()});
    options.FreeTDSConfigFiles = {Fixture("freetds.conf")};
    options.LocalInstallationPath = installation.path();
    options.LocalComputerName = "ThisHost";
    TServerEnumerator enumerator(options);
    QCOMPARE(enumerator.GetServerNames(), (QStringList{"alpha\\X", "PAYROLL", "ThisHost"}));
    // The configured names are apart, and need no network.
    QCOMPARE(enumerator.ConfiguredServers().size(), 2);
  }

  // A cancelled search ends long before its time-out.
  void cancelEndsTheSearch() {
    TSSRPResponder silent({});
    TServerEnumeratorOptions options = LoopbackOptions({silent.Target()});
    options.Timeout = 30s;
    TServerEnumerator enumerator(options);
    QElapsedTimer clock;
    clock.start();
    std::thread canceller([&] { enumerator.Cancel(); });
    QCOMPARE(enumerator.GetServerNames(), QStringList{});
    canceller.join();
    QVERIFY(clock.elapsed() < 10000);
  }

  void localInstallation() {
    QTemporaryDir dir;
    TServerEnumeratorOptions options;
    options.LocalComputerName = "ThisHost";
    options.LocalInstallationPath = dir.path() + "/absent";
    QCOMPARE(TServerEnumerator(options).LocalInstances(), QStringList{});
    options.LocalInstallationPath = dir.path();
    QCOMPARE(TServerEnumerator(options).LocalInstances(), QStringList{"ThisHost"});
  }

  void defaultOptionsTouchNothing() {
    const TServerEnumeratorOptions options;
    QVERIFY(options.SSRPTargets.isEmpty());
    QVERIFY(options.FreeTDSConfigFiles.isEmpty());
    QVERIFY(!options.DataSources);
    QVERIFY(options.LocalInstallationPath.isEmpty());
    QCOMPARE(TServerEnumerator(options).GetServerNames(), QStringList{});
  }
};

QTEST_GUILESS_MAIN(TestServerEnumerator)
#include "test_serverenumerator.moc"
