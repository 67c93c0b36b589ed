// The session against the simulator: its worker thread, cancel, newer requests taking the place
// of older ones, a lost connection said once, reconnects, and the statements of each action.

#include "datastore/uLogQueries.h"
#include "session/uSession.h"
#include "uSessionScenario.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace SessionTest;
using K = TOutcomeKind;

namespace {

// Waits for the answer to `request`; the snapshot of the last matching signal.
template <typename T> T Answer(QSignalSpy& spy, int request, int timeoutMs = 30000) {
  QElapsedTimer t;
  t.start();
  for (;;) {
    for (int i = int(spy.size()) - 1; i >= 0; --i)
      if (spy.at(i).at(0).toInt() == request) return spy.at(i).at(1).value<T>();
    if (t.elapsed() > timeoutMs || !spy.wait(int(timeoutMs - t.elapsed()))) return T();
  }
}

bool WaitIdle(TSession& s) {
  return QTest::qWaitFor([&s] { return !s.IsBusy(); }, 30000);
}

// The batches the server received after the first `from` of them.
QStringList SentSince(const TSqlSimProcess& sim, qsizetype from) {
  return sim.LogLines().mid(from);
}

} // namespace

class TestSession : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void cancelReachesTheServer() {
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario({Fault("loginfo", {{"delayMs", 20000}, {"count", 1}})})),
             qPrintable(sim.ErrorString()));
    TSession session;
    QSignalSpy connected(&session, &TSession::Connected);
    QSignalSpy details(&session, &TSession::DetailsRead);
    QSignalSpy started(&session, &TSession::StatementStarted);
    QVERIFY(Answer<TConnectSnapshot>(connected, session.Connect(Props(sim))).Outcome.IsOk());

    const int id = session.LoadDetails("Sales");
    QTRY_VERIFY(!started.isEmpty() && started.last().at(1).toString() == "DBCC LOGINFO");
    QVERIFY(session.IsBusy());
    session.Cancel();
    const TDetailsSnapshot d = Answer<TDetailsSnapshot>(details, id, 5000);
    QVERIFY(WaitIdle(session));
    QCOMPARE(d.Database, QString("Sales"));
    QVERIFY(d.DatabaseOutcome.IsOk());
    QCOMPARE(d.VLFs.Outcome.Kind, K::Cancelled);
    QCOMPARE(d.VLFs.Outcome.Text, QString("Loading was cancelled."));
    // The parts after it were not sent at all.
    QCOMPARE(d.OpenTran.Outcome.Kind, K::Cancelled);
    QCOMPARE(d.Summary.ReuseWaitOutcome.Kind, K::Cancelled);
    QCOMPARE(sim.LogLines().last(), QString("DBCC LOGINFO"));
    bool attention = false;
    for (const QJsonObject& e : sim.LogEntries())
      attention = attention || e.value("event").toString() == "attention";
    QVERIFY(attention);

    // The connection still serves the next request.
    const TDetailsSnapshot next = Answer<TDetailsSnapshot>(details, session.LoadDetails("master"));
    QVERIFY(next.DatabaseOutcome.IsOk());
    QCOMPARE(next.Files.Rows.size(), 1);
  }

  // Ten clicks in quick succession: one answer, for the last one.
  void newerRequestSupersedes() {
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario({Fault("loginfo", {{"delayMs", 1500}})})),
             qPrintable(sim.ErrorString()));
    TSession session;
    QSignalSpy connected(&session, &TSession::Connected);
    QVERIFY(Answer<TConnectSnapshot>(connected, session.Connect(Props(sim))).Outcome.IsOk());
    QSignalSpy details(&session, &TSession::DetailsRead);
    QSignalSpy logSpace(&session, &TSession::LogSpaceRead);
    const qsizetype before = sim.LogLines().size();
    const QStringList names = {"master", "model", "msdb", "tempdb", "Sales",
                               "master", "model", "msdb", "tempdb", "Sales"};
    for (const QString& name : names)
      session.LoadDetails(name);
    QVERIFY(WaitIdle(session));
    QCOMPARE(details.size(), 1);
    QCOMPARE(details.first().at(1).value<TDetailsSnapshot>().Database, QString("Sales"));
    QVERIFY(details.first().at(1).value<TDetailsSnapshot>().VLFs.Outcome.IsOk());
    QCOMPARE(logSpace.size(), 1);
    // Requests that had not started were dropped without a word to the server.
    const QStringList sent = SentSince(sim, before);
    QVERIFY2(Count(sent, "USE ") <= 2, qPrintable(sent.join(" | ")));
    QCOMPARE(sent.at(sent.lastIndexOf(QRegularExpression("^USE .*"))), QString("USE [Sales]"));
  }

  void connectionLostSaidOnceThenReconnect() {
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario({Fault("loginfo", {{"drop", "middle"}})})),
             qPrintable(sim.ErrorString()));
    TSession session;
    QSignalSpy connected(&session, &TSession::Connected);
    QSignalSpy details(&session, &TSession::DetailsRead);
    QSignalSpy overview(&session, &TSession::OverviewRead);
    QSignalSpy lost(&session, &TSession::ConnectionLost);
    QSignalSpy restored(&session, &TSession::ConnectionRestored);
    QVERIFY(Answer<TConnectSnapshot>(connected, session.Connect(Props(sim))).Outcome.IsOk());

    const TDetailsSnapshot d = Answer<TDetailsSnapshot>(details, session.LoadDetails("Sales"));
    QCOMPARE(d.VLFs.Outcome.Kind, K::ConnectionLost);
    QCOMPARE(d.Files.Outcome.Kind, K::ConnectionLost);
    QCOMPARE(lost.size(), 1);
    QVERIFY(session.IsConnectionLost());

    // Said once: the next request finds it lost without asking the server.
    const qsizetype sent = sim.LogLines().size();
    const TDetailsSnapshot again = Answer<TDetailsSnapshot>(details, session.LoadDetails("master"));
    QCOMPARE(again.DatabaseOutcome.Kind, K::ConnectionLost);
    QCOMPARE(again.DatabaseOutcome.Text, QString("The connection to the server was lost."));
    QCOMPARE(sim.LogLines().size(), sent);
    QCOMPARE(lost.size(), 1);

    // A reconnect that fails (the password changed meanwhile) leaves the session lost.
    QVERIFY(sim.ApplyScenario(Scenario({}, {}, "changed")));
    const int failing = session.Reconnect();
    const TConnectSnapshot failed = Answer<TConnectSnapshot>(connected, failing);
    QCOMPARE(failed.Outcome.Kind, K::Failed);
    QVERIFY2(failed.Errors.join(' ').contains("Login failed"), qPrintable(failed.Errors.join(' ')));
    QVERIFY(WaitIdle(session));
    QVERIFY(session.IsConnectionLost());
    QCOMPARE(restored.size(), 0);
    QVERIFY(overview.isEmpty());

    // Refresh connects again first, then reads.
    QVERIFY(sim.ApplyScenario(Scenario()));
    const int refresh = session.Refresh();
    QVERIFY(Answer<TConnectSnapshot>(connected, refresh).Outcome.IsOk());
    const TOverviewSnapshot o = Answer<TOverviewSnapshot>(overview, refresh);
    QVERIFY(o.Outcome.IsOk());
    QCOMPARE(o.Databases.size(), 6);
    QCOMPARE(restored.size(), 1);
    QVERIFY(!session.IsConnectionLost());
    QCOMPARE(lost.size(), 1);
  }

  // Each action sends its statements in the order they have always gone, none twice.
  void statementsPerAction() {
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario()), qPrintable(sim.ErrorString()));
    TSession session;
    QSignalSpy connected(&session, &TSession::Connected);

    qsizetype mark = sim.LogLines().size();
    QVERIFY(Answer<TConnectSnapshot>(connected, session.Connect(Props(sim))).Outcome.IsOk());
    QVERIFY(WaitIdle(session));
    const QString version = "SELECT SERVERPROPERTY('ProductVersion'), SERVERPROPERTY('Edition')";
    const QString engine = "SELECT SERVERPROPERTY('EngineEdition')";
    QCOMPARE(SentSince(sim, mark), (QStringList{version, engine}));

    const QString list = "SELECT name, status FROM master..sysdatabases ORDER BY name";
    const QString perf = "DBCC SQLPERF(LOGSPACE)";
    // The log health of every database follows the figures (2005 on: the catalog and msdb).
    // The first database, Archive, is offline: its details end with the USE.
    const QStringList fill = {list, perf, LogQueries::Databases(), LogQueries::LastLogBackups(),
                              "USE [Archive]"};
    mark = sim.LogLines().size();
    session.Refresh();
    QVERIFY(WaitIdle(session));
    QCOMPARE(SentSince(sim, mark), fill);

    mark = sim.LogLines().size();
    session.LoadDetails("Sales");
    QVERIFY(WaitIdle(session));
    const QStringList select = {
        "USE [Sales]",
        perf,
        "DBCC LOGINFO",
        "DBCC OPENTRAN",
        "SELECT * FROM sysfiles WHERE (status & 64) = 64",
        "SELECT DATABASEPROPERTYEX(N'Sales', 'RECOVERY')",
        "SELECT TOP 1 a.backup_finish_date FROM msdb..backupset a WHERE a.database_name = "
        "N'Sales'   AND a.type = 'L' ORDER BY a.backup_finish_date DESC",
        "SELECT log_reuse_wait_desc FROM sys.databases WHERE name = N'Sales'"};
    QCOMPARE(SentSince(sim, mark), select);

    mark = sim.LogLines().size();
    session.Refresh();
    QVERIFY(WaitIdle(session));
    QCOMPARE(SentSince(sim, mark), fill);
  }

  // The test runs on a temporary connection: the session's own stays as it is.
  void connectionTest() {
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario()), qPrintable(sim.ErrorString()));
    TSession session;
    QSignalSpy tested(&session, &TSession::ConnectionTested);
    TSQLConnectionProperties wrong = Props(sim);
    wrong.SQLPassword = "wrong";
    const TConnectionTest failed = Answer<TConnectionTest>(tested, session.TestConnection(wrong));
    QVERIFY(!failed.Passed);
    QVERIFY(failed.Errors.first().startsWith("Error connecting to database () on instance ("));
    QVERIFY(Answer<TConnectionTest>(tested, session.TestConnection(Props(sim))).Passed);
    QVERIFY(!session.IsConnected());
  }
};

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
