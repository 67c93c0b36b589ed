// Logins that would not end on their own: a server that trickles its answer and one that
// streams without end. The login ends at the deadline, on cancel or at the byte limit, and
// the process does not grow with what the server sends.

#include "datastore/uLoginAttempt.h"
#include "datastore/udmDataStoreSQLServer.h"
#include "uSqlSimProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QTest>
#include <atomic>
#include <thread>

namespace {

QString Scenario(const QString& loginReply) {
  return QString::fromUtf8(R"json({
    "logins": [{"name": "demo", "password": "demo"}, {"name": "slow", "password": "slow"}],
    "databases": [{"name": "master"}],
    "faults": [{"loginReply": "%1", "intervalMs": 200, "login": "slow"}]})json")
      .arg(loginReply);
}

TSQLConnectionProperties Props(const TSqlSimProcess& sim, const QString& login) {
  TSQLConnectionProperties p;
  p.Instance = sim.ServerName();
  p.SQLLogin = login;
  p.SQLPassword = login;
  p.Provider = 1; // FreeTDS: the simulator offers no encryption
  return p;
}

// The peak resident size of this process so far, in kB.
qint64 PeakRssKb() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLongLong();
  return -1;
}

bool LoginSeen(const TSqlSimProcess& sim) {
  for (const QJsonObject& e : sim.LogEntries())
    if (e.value("event").toString() == u"login" && e.value("login").toString() == u"slow")
      return true;
  return false;
}

} // namespace

Q_DECLARE_METATYPE(TLoginEnd)

class TestLoginLimits : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void loginEnds_data() {
    QTest::addColumn<QString>("loginReply");
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<TLoginEnd>("end");
    QTest::addColumn<QString>("message");
    const qint64 unlimited = qint64(1) << 40;
    // Trickled at 200 ms a byte, the answer would take about a minute.
    QTest::newRow("trickle: deadline")
        << "trickle" << 2000 << unlimited << false << TLoginEnd::TimedOut
        << "The login did not complete within 2 seconds.";
    QTest::newRow("trickle: cancel") << "trickle" << 60000 << unlimited << true
                                     << TLoginEnd::Canceled << "The login was cancelled.";
    QTest::newRow("stream: byte limit")
        << "stream" << 60000 << qint64(1024 * 1024) << false << TLoginEnd::TooMuchData
        << "The server sent more than 1048576 bytes during the login";
    QTest::newRow("stream: cancel") << "stream" << 60000 << qint64(16 * 1024 * 1024) << true
                                    << TLoginEnd::Canceled << "The login was cancelled.";
  }
  void loginEnds() {
    QFETCH(QString, loginReply);
    QFETCH(int, deadlineMs);
    QFETCH(qint64, maxBytes);
    QFETCH(bool, cancel);
    QFETCH(TLoginEnd, end);
    QFETCH(QString, message);
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario(loginReply)), qPrintable(sim.ErrorString()));
    TDataStoreSQLServer store;
    store.LoginLimits.Deadline = std::chrono::milliseconds(deadlineMs);
    store.LoginLimits.MaxReceivedBytes = maxBytes;

    // The user cancels once the server has the login and is answering it.
    TLoginCancel flag;
    std::atomic<bool> stop{false};
    std::thread user([&] {
      while (cancel && !stop && !LoginSeen(sim))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (cancel) flag.Cancel();
    });
    const qint64 peakBefore = PeakRssKb();
    QElapsedTimer clock;
    clock.start();
    TLoginEnd how = TLoginEnd::Opened;
    const bool opened = store.TestConnection(Props(sim, "slow"), &flag, &how);
    const qint64 elapsed = clock.elapsed();
    stop = true;
    user.join();

    QVERIFY(!opened);
    QCOMPARE(how, end);
    QCOMPARE(store.Errors.size(), 1);
    QVERIFY2(store.Errors.first().contains(message), qPrintable(store.Errors.first()));
    // Far below the minute the answer would take; generous for a loaded machine.
    QVERIFY2(elapsed < (cancel ? 10000 : deadlineMs + 5000), qPrintable(QString::number(elapsed)));
    // Whatever the server sent, the process kept little of it (with the sanitizers, which
    // make every allocation larger).
    const qint64 grownKb = PeakRssKb() - peakBefore;
    QVERIFY2(grownKb < 64 * 1024, qPrintable(QString::number(grownKb)));

    // The store is usable at once for a login that works.
    QVERIFY2(store.TestConnection(Props(sim, "demo")), qPrintable(store.Errors.join('\n')));
  }
};

QTEST_GUILESS_MAIN(TestLoginLimits)
#include "test_login_limits.moc"
