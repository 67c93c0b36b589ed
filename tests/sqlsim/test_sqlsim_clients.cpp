// The simulator judged by real clients: FreeTDS tsql, unixODBC isql with the FreeTDS driver,
// and Node's tedious.

#include "uClientRunner.h"
#include "uSqlSimProcess.h"

#include <QtTest>

namespace {

const char* const BaseScenario = R"json({
  "server": {"version": "10.50.1600.1", "edition": "Developer Edition (64-bit)",
             "machine": "SIMHOST"},
  "logins": [{"name": "demo", "password": "demo"}],
  "databases": [
    {"name": "master", "recovery": "SIMPLE", "logSizeMB": 2.5, "logUsedPercent": 31.5},
    {"name": "Sales", "recovery": "FULL", "logSizeMB": 100, "logUsedPercent": 75.25}
  ]
})json";

} // namespace

class TTestSqlSimClients : public QObject {
  Q_OBJECT
private slots:
  void initTestCase();
  void tsqlLogin();

private:
  QString FWhyNoTedious;
};

void TTestSqlSimClients::initTestCase() {
  QVERIFY2(!TSqlSimProcess::SimulatorPath().isEmpty(), "VELMORA_SQLSIM is not set");
}

void TTestSqlSimClients::tsqlLogin() {
  TSqlSimProcess sim;
  QVERIFY2(sim.Start(QString::fromUtf8(BaseScenario)), qPrintable(sim.ErrorString()));
  const TClientRun ok = RunTsql(sim.Port(), "demo", "demo",
                                {"SELECT name, status FROM master..sysdatabases ORDER BY name"});
  QVERIFY2(ok.Finished, qPrintable(ok.Stderr));
  QVERIFY2(ok.Stdout.contains("Sales\t0"), qPrintable(ok.Stdout + ok.Stderr));
  const TClientRun bad = RunTsql(sim.Port(), "demo", "wrong", {"SELECT 1"});
  QVERIFY(bad.Stderr.contains("Login failed for user 'demo'."));
  QCOMPARE(sim.LogLines().size(), 1);
}

QTEST_GUILESS_MAIN(TTestSqlSimClients)
#include "test_sqlsim_clients.moc"
