// The enumerator against loopback responders and configuration-file fixtures. Every target
// here is on loopback: no test sends a broadcast.

#include "platform/uServerEnumerator.h"
#include "ssrpresponder.h"

#include <QTemporaryDir>
#include <QTest>
#include <stdexcept>

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

  void freeTDSAliases() {
    QCOMPARE(ReadFreeTDSAliases(Fixture("freetds.conf")),
             (QStringList{"Payroll", "reporting", "payroll"}));
    QCOMPARE(ReadFreeTDSAliases(Fixture("missing.conf")), QStringList{});
  }

  void odbcDataSources() {
    QCOMPARE(ReadODBCServers({Fixture("odbc.ini")}, {Fixture("odbcinst.ini")}),
             (QStringList{"sales.example.test,1433", "direct.example.test",
                          "vendor.example.test\\APP", "Payroll", "custom.example.test"}));
    // A driver known only by its name in odbcinst.ini needs that file.
    QCOMPARE(ReadODBCServers({Fixture("odbc.ini")}, {}),
             (QStringList{"sales.example.test,1433", "direct.example.test",
                          "vendor.example.test\\APP", "Payroll"}));
  }

  void everythingMergedSortedAndDeduplicated() {
    QTemporaryDir installation;
    QVERIFY(installation.isValid());
    TSSRPResponder responder({TSSRPResponder::Reply(
        TSSRPResponder::Record("PAYROLL", "MSSQLSERVER") + TSSRPResponder::Record("alpha", "X"))});
    TServerEnumeratorOptions options = LoopbackOptions({responder.Target()});
    options.FreeTDSConfigFiles = {Fixture("freetds.conf"), Fixture("missing.conf")};
    options.ODBCIniFiles = {Fixture("odbc.ini")};
    options.ODBCInstIniFiles = {Fixture("odbcinst.ini")};
    options.LocalInstallationPath = installation.path();
    options.LocalComputerName = "ThisHost";
    const QStringList names = TServerEnumerator(options).GetServerNames();
    QCOMPARE(names, (QStringList{"alpha\\X", "custom.example.test", "direct.example.test",
                                 "PAYROLL", "reporting", "sales.example.test,1433", "ThisHost",
                                 "vendor.example.test\\APP"}));
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
    QVERIFY(options.ODBCIniFiles.isEmpty());
    QVERIFY(options.LocalInstallationPath.isEmpty());
    QCOMPARE(TServerEnumerator(options).GetServerNames(), QStringList{});
  }
};

QTEST_GUILESS_MAIN(TestServerEnumerator)
#include "test_serverenumerator.moc"
