// The overview of 10,000 databases (Refresh: the list, its log figures and the first database's
// details), painted, against the bare driver on the statements the same action sent.

#include "forms/uOverviewPage.h"
#include "uBenchWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  TSqlSimProcess sim;
  const QString scenario = QStringLiteral(
      R"({"logins": [{"name": "bench", "password": "bench"}],
          "databases": [{"name": "master"}],
          "databaseGenerator": {"count": 10000, "vlfs": {"count": 8, "size": 262144, "active": 2}}})");
  if (!sim.Start(scenario)) {
    std::fprintf(stderr, "sqlsim: %s\n", qPrintable(sim.ErrorString()));
    return 1;
  }
  TfrmMain window;
  window.resize(1280, 900);
  Bench::TBareOdbc bare;
  if (!Bench::Connect(window, sim) || !bare.Open(Bench::Props(sim))) {
    std::fprintf(stderr, "cannot connect: %s\n", qPrintable(bare.Error()));
    return 1;
  }

  // From the click to the visible rows painted; the statements run on the session's thread.
  auto op = [&] {
    window.LoadDatabaseList();
    Bench::WaitIdle(window);
    QCoreApplication::processEvents();
    window.grdOverview->viewport()->repaint();
  };
  // The untimed warm-up of the action also names the statements the bare side sends.
  const qsizetype mark = sim.LogEntries().size();
  op();
  const QStringList statements = Bench::BatchesSince(sim, mark);
  std::int64_t rows = 0;
  auto raw = [&] {
    for (const QString& sql : statements)
      bare.Run(sql, &rows);
  };
  raw();
  std::printf("Refresh sends %lld statements (%lld rows):\n", (long long)statements.size(),
              (long long)rows);
  for (const QString& sql : statements)
    std::printf("  %s\n", qPrintable(sql.left(100)));

  std::vector<double> opCpu, rawCpu, opMs, rawMs;
  for (int i = 0; i < 9; ++i) {
    double cpu = 0;
    rawMs.push_back(Bench::TimeMs(raw, &cpu));
    rawCpu.push_back(cpu);
    opMs.push_back(Bench::TimeMs(op, &cpu));
    opCpu.push_back(cpu);
  }
  if (window.grdOverview->model()->rowCount() != 10001) {
    std::fprintf(stderr, "unexpected row count %d\n", window.grdOverview->model()->rowCount());
    return 1;
  }
  const double cpu = Bench::MedianMs(opCpu), cpuRaw = Bench::MedianMs(rawCpu);
  const double wall = Bench::MedianMs(opMs), wallRaw = Bench::MedianMs(rawMs);
  Bench::Report("Refresh, 10,000 databases, painted (median of 9)", wall, wallRaw, cpu, cpuRaw);
  double peak = 0, current = 0;
  Bench::ReadMemory(peak, current);
  std::printf("%-52s %8.1f MiB  (resident now %.1f MiB)\n", "peak resident memory", peak, current);

  const auto figure = [](double a, double b) {
    return Bench::Format("%.1f ms", a) + Bench::Format(" vs %.1f ms bare", b);
  };
  Bench::Target("Overview of 10,000 databases, CPU", "<= 1.2x bare driver", figure(cpu, cpuRaw),
                Bench::Format("%.2f", cpu / cpuRaw), cpu <= 1.2 * cpuRaw);
  Bench::Target("Overview of 10,000 databases, wall", "", figure(wall, wallRaw),
                Bench::Format("%.2f", wall / wallRaw), true);
  const int repeats = Bench::Repeats(statements);
  Bench::Target("Refresh: statements sent twice", "none",
                std::to_string(repeats) + " of " + std::to_string(statements.size()), "",
                repeats == 0);
  return 0;
}
