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
  TDataStoreSQLServer ds;
  if (!Bench::Connect(window, sim) || !Bench::ConnectRaw(ds, sim)) {
    std::fprintf(stderr, "cannot connect\n");
    return 1;
  }

  // The statements LoadDatabaseList sends (the list, its log figures, then row 0's details),
  // each result read in full.
  const QString first = window.grdOverview->model()->index(0, 0).data().toString();
  auto raw = [&] {
    ds.RunQuery(QStringLiteral("SELECT name, status FROM master..sysdatabases ORDER BY name"));
    Bench::Walk(*ds.Query);
    ds.RunQuery(QStringLiteral("DBCC SQLPERF(LOGSPACE)"));
    Bench::Walk(*ds.Query);
    Bench::RawDetails(ds, first, false);
  };
  // From the click to the last page filled: the statements run on the session's thread.
  auto op = [&] {
    window.LoadDatabaseList();
    Bench::WaitIdle(window);
  };
  // The window's own share: the list and its figures shown from a snapshot read before.
  TLogReader reader;
  reader.Connect(Bench::Props(sim));
  const TOverviewSnapshot overview = reader.ReadOverview();

  // One untimed round of each first: caches, allocator and the simulator warmed alike.
  raw();
  op();
  QCoreApplication::processEvents();
  std::vector<double> opCpu, rawCpu;
  std::vector<double> opMs, rawMs, paintMs, showMs;
  for (int i = 0; i < 7; ++i) {
    double cpu = 0;
    rawMs.push_back(Bench::TimeMs(raw, &cpu));
    rawCpu.push_back(cpu);
    opMs.push_back(Bench::TimeMs(op, &cpu));
    opCpu.push_back(cpu);
    paintMs.push_back(Bench::TimeMs([] { QCoreApplication::processEvents(); }));
    showMs.push_back(Bench::TimeMs([&] {
      window.OverviewPage()->ShowDatabases(overview);
      window.OverviewPage()->ApplyLogSpace(overview.LogSpace);
    }));
  }
  if (window.grdOverview->model()->rowCount() != 10001) {
    std::fprintf(stderr, "unexpected row count %d\n", window.grdOverview->model()->rowCount());
    return 1;
  }
  Bench::Report("LoadDatabaseList, 10,000 databases (median of 7)", Bench::MedianMs(opMs),
                Bench::MedianMs(rawMs), Bench::MedianMs(opCpu), Bench::MedianMs(rawCpu));
  std::printf("  of which the window's thread shows the rows and figures in %.1f ms; the repaint "
              "after it %.1f ms\n",
              Bench::MedianMs(showMs), Bench::MedianMs(paintMs));
  double peak = 0, current = 0;
  Bench::ReadMemory(peak, current);
  std::printf("%-48s %10.1f MiB  (resident now %.1f MiB)\n", "peak resident memory", peak, current);
  return 0;
}
