// How fast the simulator serves DBCC LOGINFO for a database of 100,000 VLFs over loopback,
// read with a bare TDS client (no client library in the figure).

#include "uSqlSimProcess.h"
#include "uTdsTestClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  if (TSqlSimProcess::SimulatorPath().isEmpty()) {
    std::puts("bench_sqlsim_loginfo: VELMORA_SQLSIM is not set");
    return 0;
  }
  const int vlfs = 100000;
  const QString scenario = QStringLiteral(R"({"logins": [{"name": "bench", "password": "bench"}],
          "databases": [{"name": "master"},
                        {"name": "Big", "vlfs": [{"count": %1, "size": 65536, "active": 50}]}],
          "databaseGenerator": {"count": 5000, "vlfs": {"count": 20, "size": 262144}}})")
                               .arg(vlfs);
  TSqlSimProcess sim;
  QElapsedTimer startTimer;
  startTimer.start();
  if (!sim.Start(scenario)) {
    std::printf("bench_sqlsim_loginfo: %s\n", qPrintable(sim.ErrorString()));
    return 0;
  }
  std::printf("start with 5,002 databases and %d VLFs: %lld ms\n", vlfs,
              static_cast<long long>(startTimer.elapsed()));

  for (int packetSize : {4096, 32767}) {
    TTdsTestClient client(60000);
    if (!client.Connect(sim.Port()) ||
        !client.Login("bench", "bench", "Big", 0x74000004, quint32(packetSize)).Complete) {
      std::puts("bench_sqlsim_loginfo: login failed");
      return 0;
    }
    QList<qint64> times;
    qsizetype bytes = 0;
    for (int run = 0; run < 5; ++run) {
      QElapsedTimer t;
      t.start();
      const TTdsReply reply = client.Batch(QStringLiteral("DBCC LOGINFO"));
      times << t.elapsed();
      if (!reply.Complete) {
        std::puts("bench_sqlsim_loginfo: incomplete reply");
        return 0;
      }
      bytes = reply.Tokens.size();
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "DBCC LOGINFO, %d rows, %.1f MB, packets of %d bytes: median %lld ms, best %lld ms\n", vlfs,
        double(bytes) / 1048576.0, packetSize, static_cast<long long>(times[2]),
        static_cast<long long>(times[0]));
  }

  TTdsTestClient client(60000);
  client.Connect(sim.Port());
  client.Login("bench", "bench");
  QElapsedTimer t;
  t.start();
  const TTdsReply list =
      client.Batch(QStringLiteral("SELECT name, status FROM master..sysdatabases ORDER BY name"));
  std::printf("sysdatabases, 5,002 rows: %lld ms (%s)\n", static_cast<long long>(t.elapsed()),
              list.Complete ? "complete" : "incomplete");
  return 0;
}
