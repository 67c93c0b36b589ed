// ShowDatabaseDetails on a database with 100,000 VLFs, against the same statements fetched raw.

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
  TDataStoreSQLServer ds;
  if (!Bench::Connect(window, sim) || !Bench::ConnectRaw(ds, sim)) return 1;
  double peakBefore = 0, currentBefore = 0;
  Bench::ReadMemory(peakBefore, currentBefore);

  int big = -1;
  for (int r = 0; r < window.OverviewPage()->RowCount(); ++r)
    if (window.OverviewPage()->DatabaseName(r) == QLatin1String("Big")) big = r;
  window.FSelectedRow = big;

  auto raw = [&] { Bench::RawDetails(ds, QStringLiteral("Big"), true); };
  // From the click to the pages filled: the statements run on the session's thread.
  auto op = [&] {
    window.ShowDatabaseDetails();
    Bench::WaitIdle(window);
    QCoreApplication::processEvents();
  };

  window.pgcDetails->setCurrentWidget(window.tabVLF);
  // One untimed round of each first: caches, allocator and the simulator warmed alike.
  raw();
  op();
  std::vector<double> opCpu, rawCpu;
  std::vector<double> opMs, rawMs;
  for (int i = 0; i < 5; ++i) {
    double cpu = 0;
    rawMs.push_back(Bench::TimeMs(raw, &cpu));
    rawCpu.push_back(cpu);
    opMs.push_back(Bench::TimeMs(op, &cpu));
    opCpu.push_back(cpu);
  }
  if (window.memVLF->rowCount() != 100000) {
    std::fprintf(stderr, "unexpected VLF count %d\n", window.memVLF->rowCount());
    return 1;
  }
  Bench::Report("ShowDatabaseDetails, 100,000 VLFs (median of 5)", Bench::MedianMs(opMs),
                Bench::MedianMs(rawMs), Bench::MedianMs(opCpu), Bench::MedianMs(rawCpu));
  double peak = 0, current = 0;
  Bench::ReadMemory(peak, current);
  std::printf("%-48s %10.1f MiB  (before the loads %.1f MiB, resident now %.1f MiB)\n",
              "peak resident memory with 100,000 VLFs", peak, currentBefore, current);
  return 0;
}
