// The details of a database with 100,000 VLFs (a selection: the database made current, the log
// figures of all databases, its VLFs, open transaction, files and summary), against the bare
// driver on the statements the same action sent; and the memory those VLFs take.

#include "forms/uOverviewPage.h"
#include "platform/uMemTable.h"
#include "uBenchWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  TSqlSimProcess sim;
  const QString scenario = QStringLiteral(
      R"({"logins": [{"name": "bench", "password": "bench"}],
          "databases": [{"name": "master"},
                        {"name": "Big", "logFiles": [{"fileId": 2, "size": 1600000},
                                                     {"fileId": 3, "size": 1600000}],
                         "vlfs": [{"fileId": 2, "count": 50000, "size": 131072, "active": 40},
                                  {"fileId": 3, "count": 50000, "size": 131072, "active": 0}]}]})");
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
  int big = -1;
  for (int r = 0; r < window.OverviewPage()->RowCount(); ++r)
    if (window.OverviewPage()->DatabaseName(r) == QLatin1String("Big")) big = r;
  window.FSelectedRow = big;
  window.pgcDetails->setCurrentWidget(window.tabVLF);
  QCoreApplication::processEvents();

  // From the click to the pages filled and painted; the statements run on the session's thread.
  auto op = [&] {
    window.ShowDatabaseDetails();
    Bench::WaitIdle(window);
    QCoreApplication::processEvents();
  };

  // The first load is the untimed warm-up; it shows the memory the VLFs add and names the
  // statements the bare side sends.
  double peakBefore = 0, before = 0, peakAfter = 0, after = 0;
  const bool peakReset = Bench::ResetPeakMemory();
  Bench::ReadMemory(peakBefore, before);
  const qsizetype mark = sim.LogEntries().size();
  op();
  Bench::ReadMemory(peakAfter, after);
  const QStringList statements = Bench::BatchesSince(sim, mark);
  if (window.memVLF->rowCount() != 100000) {
    std::fprintf(stderr, "unexpected VLF count %d\n", window.memVLF->rowCount());
    return 1;
  }

  // The VLF rows as they crossed the wire: the bare side's answer to the same DBCC LOGINFO.
  std::uint64_t wire = 0;
  for (const QString& sql : statements) {
    const bool vlfs = sql.contains(QLatin1String("LOGINFO"), Qt::CaseInsensitive);
    const std::uint64_t b0 = Bench::BytesReceivedFrom(sim.Port());
    bare.Run(sql); // in order: the database is made current first
    if (vlfs) wire = Bench::BytesReceivedFrom(sim.Port()) - b0;
  }
  std::int64_t rows = 0;
  auto raw = [&] {
    for (const QString& sql : statements)
      bare.Run(sql, &rows);
  };
  raw();
  std::printf("a selection sends %lld statements (%lld rows):\n", (long long)statements.size(),
              (long long)rows);
  for (const QString& sql : statements)
    std::printf("  %s\n", qPrintable(sql.left(100)));

  std::vector<double> opCpu, rawCpu, opMs, rawMs;
  for (int i = 0; i < 7; ++i) {
    double cpu = 0;
    rawMs.push_back(Bench::TimeMs(raw, &cpu));
    rawCpu.push_back(cpu);
    opMs.push_back(Bench::TimeMs(op, &cpu));
    opCpu.push_back(cpu);
  }
  const double cpu = Bench::MedianMs(opCpu), cpuRaw = Bench::MedianMs(rawCpu);
  const double wall = Bench::MedianMs(opMs), wallRaw = Bench::MedianMs(rawMs);
  Bench::Report("Details, 100,000 VLFs (median of 7)", wall, wallRaw, cpu, cpuRaw);
  const double wireMiB = double(wire) / (1024.0 * 1024.0);
  const double added = peakAfter - before;
  std::printf("%-52s %8.2f MiB peak, %.2f MiB held (resident before %.1f MiB%s)\n",
              "memory added by the first load", added, after - before, before,
              peakReset ? "" : "; peak not reset, figure is the process peak");
  std::printf("%-52s %8.2f MiB\n", "DBCC LOGINFO answer on the wire", wireMiB);

  const auto figure = [](double a, double b) {
    return Bench::Format("%.1f ms", a) + Bench::Format(" vs %.1f ms bare", b);
  };
  Bench::Target("Details of 100,000 VLFs, CPU", "<= 1.2x bare driver", figure(cpu, cpuRaw),
                Bench::Format("%.2f", cpu / cpuRaw), cpu <= 1.2 * cpuRaw);
  Bench::Target("Details of 100,000 VLFs, wall", "", figure(wall, wallRaw),
                Bench::Format("%.2f", wall / wallRaw), true);
  Bench::Target("Peak memory added by 100,000 VLFs", "<= 1.5x bytes on the wire",
                Bench::Format("%.1f MiB", added) + Bench::Format(" vs %.1f MiB wire", wireMiB),
                Bench::Format("%.2f", added / wireMiB), peakReset && added <= 1.5 * wireMiB);
  const int repeats = Bench::Repeats(statements);
  Bench::Target("Selection: statements sent twice", "none",
                std::to_string(repeats) + " of " + std::to_string(statements.size()), "",
                repeats == 0);
  return 0;
}
