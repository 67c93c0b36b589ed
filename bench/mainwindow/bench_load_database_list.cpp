// LoadDatabaseList on 10,000 databases, against the same statements fetched raw.

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
  if (!Bench::Connect(window, sim)) {
    std::fprintf(stderr, "cannot connect\n");
    return 1;
  }

  // The statements LoadDatabaseList sends (the list, its log figures, then row 0's details),
  // each result read in full.
  const QString first = window.grdOverview->model()->index(0, 0).data().toString();
  auto raw = [&] {
    TDataStoreSQLServer& ds = *DataStore;
    ds.RunQuery(QStringLiteral("SELECT name, status FROM master..sysdatabases ORDER BY name"));
    Bench::Walk(*ds.Query);
    ds.RunQuery(QStringLiteral("DBCC SQLPERF(LOGSPACE)"));
    Bench::Walk(*ds.Query);
    Bench::RawDetails(first);
  };
  auto op = [&] { window.LoadDatabaseList(); };

  // One untimed round of each first: caches, allocator and the simulator warmed alike.
  raw();
  op();
  QCoreApplication::processEvents();
  std::vector<double> opCpu, rawCpu;
  std::vector<double> opMs, rawMs, paintMs, rowsMs, spaceMs, detailsMs, rawSpaceMs;
  for (int i = 0; i < 7; ++i) {
    double cpu = 0;
    rawMs.push_back(Bench::TimeMs(raw, &cpu));
    rawCpu.push_back(cpu);
    opMs.push_back(Bench::TimeMs(op, &cpu));
    opCpu.push_back(cpu);
    paintMs.push_back(Bench::TimeMs([] { QCoreApplication::processEvents(); }));
    // Where the time goes.
    rowsMs.push_back(Bench::TimeMs([&] { window.OverviewPage()->LoadRows(); }));
    spaceMs.push_back(Bench::TimeMs([&] { window.UpdateLogSpace(); }));
    rawSpaceMs.push_back(Bench::TimeMs([&] {
      DataStore->RunQuery(QStringLiteral("DBCC SQLPERF(LOGSPACE)"));
      Bench::Walk(*DataStore->Query);
    }));
    detailsMs.push_back(Bench::TimeMs([&] { window.ShowDatabaseDetails(); }));
  }
  if (window.grdOverview->model()->rowCount() != 10001) {
    std::fprintf(stderr, "unexpected row count %d\n", window.grdOverview->model()->rowCount());
    return 1;
  }
  Bench::Report("LoadDatabaseList, 10,000 databases (median of 7)", Bench::MedianMs(opMs),
                Bench::MedianMs(rawMs), Bench::MedianMs(opCpu), Bench::MedianMs(rawCpu));
  std::printf("  of which: rows %.1f ms, log figures %.1f ms (raw %.1f ms), details of row 0 "
              "%.1f ms; the repaint after it %.1f ms\n",
              Bench::MedianMs(rowsMs), Bench::MedianMs(spaceMs), Bench::MedianMs(rawSpaceMs),
              Bench::MedianMs(detailsMs), Bench::MedianMs(paintMs));
  double peak = 0, current = 0;
  Bench::ReadMemory(peak, current);
  std::printf("%-48s %10.1f MiB  (resident now %.1f MiB)\n", "peak resident memory", peak, current);
  DataStore.reset();
  return 0;
}
