// Fetching DBCC LOGINFO into the data store's result set, against a bare SQLFetch loop with
// bound columns on the same data. Needs the simulator (VELMORA_SQLSIM).

#include "datastore/uOdbc.h"
#include "datastore/uOdbcConnectionString.h"
#include "datastore/udmDataStoreSQLServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int kRows = 100000;
constexpr int kRounds = 21;

TSQLConnectionProperties Props(quint16 port) {
  TSQLConnectionProperties p;
  p.Instance = QStringLiteral("127.0.0.1,%1").arg(port);
  p.Database = QStringLiteral("Big");
  p.SQLLogin = QStringLiteral("bench");
  p.SQLPassword = QStringLiteral("bench");
  p.Provider = 1;
  return p;
}

// The baseline: natural C types bound once per result, one SQLFetch per row, nothing kept.
long long BareFetch(const TOdbcConnection& connection) {
  TOdbcStatement statement(connection);
  const SQLHSTMT stmt = statement.Handle();
  const QString text = QStringLiteral("DBCC LOGINFO");
  OdbcCheck(SQLExecDirectW(stmt, const_cast<SQLWCHAR*>(ToSqlW(text)), SQL_NTS), SQL_HANDLE_STMT,
            stmt, "SQLExecDirect");
  SQLSMALLINT count = 0;
  SQLNumResultCols(stmt, &count);
  std::vector<SQLBIGINT> numbers(std::size_t(count), 0);
  std::vector<std::vector<char>> texts(static_cast<std::size_t>(count));
  std::vector<SQLLEN> indicators(std::size_t(count), 0);
  for (SQLSMALLINT i = 0; i < count; ++i) {
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    SQLDescribeColW(stmt, SQLUSMALLINT(i + 1), nullptr, 0, nullptr, &type, &size, &digits,
                    &nullable);
    const std::size_t c = std::size_t(i);
    if (type == SQL_NUMERIC || type == SQL_DECIMAL) {
      texts[c].resize(64);
      SQLBindCol(stmt, SQLUSMALLINT(i + 1), SQL_C_CHAR, texts[c].data(), SQLLEN(texts[c].size()),
                 &indicators[c]);
    } else if (type == SQL_BIGINT) {
      SQLBindCol(stmt, SQLUSMALLINT(i + 1), SQL_C_SBIGINT, &numbers[c], 0, &indicators[c]);
    } else {
      SQLBindCol(stmt, SQLUSMALLINT(i + 1), SQL_C_SLONG, &numbers[c], 0, &indicators[c]);
    }
  }
  long long rows = 0;
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt)) == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO)
    ++rows;
  while (SQLMoreResults(stmt) != SQL_NO_DATA) {
  }
  SQLFreeStmt(stmt, SQL_UNBIND);
  return rows;
}

// CPU time of this thread: what the client itself spends, less disturbed than the wall clock
// by other work on the machine and by the simulator's own speed.
double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QString simulator = qEnvironmentVariable("VELMORA_SQLSIM");
  if (simulator.isEmpty()) {
    std::printf("bench_datastore: VELMORA_SQLSIM is not set; skipped\n");
    return 0;
  }
  QTemporaryDir dir;
  const QString scenario = dir.filePath(QStringLiteral("bench.json"));
  {
    QFile f(scenario);
    f.open(QIODevice::WriteOnly);
    f.write(QStringLiteral(R"({"logins": [{"name": "bench", "password": "bench"}],
        "databases": [{"name": "master"},
                      {"name": "Big", "vlfs": [{"count": %1, "size": 65536, "active": 10}]}]})")
                .arg(kRows)
                .toUtf8());
  }
  QProcess sim;
  sim.start(simulator, {QStringLiteral("--scenario"), scenario, QStringLiteral("--port"),
                        QStringLiteral("0")});
  quint16 port = 0;
  QByteArray out;
  while (port == 0 && sim.waitForReadyRead(30000)) {
    out += sim.readAllStandardOutput();
    const auto m = QRegularExpression(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"))
                       .match(QString::fromUtf8(out));
    if (m.hasMatch()) port = quint16(m.captured(1).toUInt());
  }
  if (port == 0) {
    std::printf("bench_datastore: the simulator did not start\n");
    return 0;
  }

  try {
    TDataStoreSQLServer store;
    if (!store.InitWithConnProps(Props(port))) {
      std::printf("bench_datastore: %s\n", qPrintable(store.Errors.join(QLatin1Char(' '))));
      return 0;
    }
    TOdbcConnection bare;
    bare.Open(BuildConnectionString(Props(port), bare.Environment()->InstalledDrivers(),
                                    QStringLiteral("Tessaly GUI"))
                  .Text,
              15);

    // One warm-up each, then alternating rounds so both see the same machine load.
    BareFetch(bare);
    store.RunQuery(QStringLiteral("DBCC LOGINFO"));
    std::vector<double> bareMs, storeMs, bareCpu, storeCpu;
    long long bareRows = 0;
    int storeRows = 0;
    for (int round = 0; round < kRounds; ++round) {
      QElapsedTimer t;
      t.start();
      double cpu = ThreadCpuMs();
      bareRows = BareFetch(bare);
      bareCpu.push_back(ThreadCpuMs() - cpu);
      bareMs.push_back(double(t.nsecsElapsed()) / 1e6);
      t.restart();
      cpu = ThreadCpuMs();
      if (!store.RunQuery(QStringLiteral("DBCC LOGINFO")))
        throw std::runtime_error(store.Errors.join(QLatin1Char(' ')).toStdString());
      storeRows = store.Query->RecordCount();
      storeCpu.push_back(ThreadCpuMs() - cpu);
      storeMs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("DBCC LOGINFO, %lld rows (result set %d rows), median of %d rounds\n", bareRows,
                storeRows, kRounds);
    std::printf("                                     wall clock    client CPU\n");
    std::printf("  bare SQLFetch loop, bound columns: %7.1f ms    %7.1f ms\n", Median(bareMs),
                Median(bareCpu));
    std::printf("  RunQuery into the result set:      %7.1f ms    %7.1f ms\n", Median(storeMs),
                Median(storeCpu));
    std::printf("  ratio (target at most 1.2):        %7.3f       %7.3f\n",
                Median(storeMs) / Median(bareMs), Median(storeCpu) / Median(bareCpu));
  } catch (const std::exception& e) {
    std::printf("bench_datastore: %s\n", e.what());
  }
  sim.terminate();
  sim.waitForFinished(5000);
  return 0;
}
