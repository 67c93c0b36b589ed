#pragma once
// Shared by the main window's benchmarks: a simulator, a connected window, timing and memory.

#include "common/uCommon.h"
#include "datastore/udmDataStoreSQLServer.h"
#include "forms/ufrmMain.h"
#include "session/uLogReader.h"
#include "uSqlSimProcess.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace Bench {

inline TSQLConnectionProperties Props(const TSqlSimProcess& sim) {
  TSQLConnectionProperties p;
  p.Instance = sim.ServerName();
  p.SQLLogin = QStringLiteral("bench");
  p.SQLPassword = QStringLiteral("bench");
  return p;
}

// Until the window has shown every answer of its session.
inline bool WaitIdle(TfrmMain& window) {
  return QTest::qWaitFor([&window] { return !window.IsBusy(); }, 600000);
}

// Connects `window` as an accepted Connect dialog would, and waits until it is filled.
inline bool Connect(TfrmMain& window, const TSqlSimProcess& sim) {
  TfrmMain::SetConnectDialogFactory([&sim](QWidget*) {
    TConnectDialogOutcome o;
    o.ConnectionProperties = Props(sim);
    o.Accepted = true;
    return o;
  });
  window.show();
  window.timerConnect.stop();
  window.actConnectDBExecute();
  TfrmMain::SetConnectDialogFactory({});
  return WaitIdle(window) && window.actRefreshDBList->isEnabled();
}

// A data store of its own, connected: the raw side of the benchmarks.
inline bool ConnectRaw(TDataStoreSQLServer& ds, const TSqlSimProcess& sim) {
  return ds.InitWithConnProps(Props(sim));
}

// Reads every record of the last query, each listed column as its kind asks.
inline long long Walk(TResultSet& q) {
  long long sum = 0;
  if (!q.Active()) return sum;
  const int n = q.FieldCount();
  for (q.First(); !q.Eof(); q.Next())
    for (int f = 0; f < n; ++f)
      switch (q.FieldKind(f)) {
      case TFieldKind::Integer:
        sum += q.AsInteger(f);
        break;
      case TFieldKind::Int64:
        sum += q.AsLargeInt(f);
        break;
      case TFieldKind::Float:
        sum += (long long)q.AsFloat(f);
        break;
      case TFieldKind::DateTime:
        sum += q.AsDateTime(f).isValid();
        break;
      default:
        sum += q.AsString(f).size();
        break;
      }
  return sum;
}

// The statements the details of one database take, each result read in full: the raw side of
// both benchmarks, kept in one place so it cannot drift from the window. With `logSpace`, the
// log figures of all databases are read after the USE, as a selection does.
inline void RawDetails(TDataStoreSQLServer& ds, const QString& name, bool logSpace) {
  const QString use = QStringLiteral("USE ") + QuoteSQLIdentifier(name);
  const QString q = QuoteSQLString(name);
  ds.ExecuteStatement(use);
  if (logSpace) {
    ds.RunQuery(QStringLiteral("DBCC SQLPERF(LOGSPACE)"));
    Walk(*ds.Query);
  }
  ds.RunQuery(QStringLiteral("DBCC LOGINFO"));
  Walk(*ds.Query);
  ds.RunQuery(QStringLiteral("DBCC OPENTRAN"));
  ds.RunQuery(QStringLiteral("SELECT * FROM sysfiles WHERE (status & 64) = 64"));
  Walk(*ds.Query);
  ds.RunQuery(QStringLiteral("SELECT DATABASEPROPERTYEX(N'%1', 'RECOVERY')").arg(q));
  ds.RunQuery(QStringLiteral("SELECT TOP 1 a.backup_finish_date FROM msdb..backupset a WHERE "
                             "a.database_name = N'%1'   AND a.type = 'L' ORDER BY "
                             "a.backup_finish_date DESC")
                  .arg(q));
  ds.RunQuery(
      QStringLiteral("SELECT log_reuse_wait_desc FROM sys.databases WHERE name = N'%1'").arg(q));
}

inline double MedianMs(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Wall time of f in ms; with `cpuMs`, also the CPU time of this thread (steadier than wall
// time on a busy machine, and without the simulator's share).
inline double TimeMs(const std::function<void()>& f, double* cpuMs = nullptr) {
  timespec c0{}, c1{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c0);
  QElapsedTimer t;
  t.start();
  f();
  const double wall = double(t.nsecsElapsed()) / 1e6;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c1);
  if (cpuMs) *cpuMs = double(c1.tv_sec - c0.tv_sec) * 1e3 + double(c1.tv_nsec - c0.tv_nsec) / 1e6;
  return wall;
}

// Peak and current resident set size in MiB, from /proc/self/status.
inline void ReadMemory(double& peakMiB, double& currentMiB) {
  peakMiB = currentMiB = 0;
  QFile f(QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly)) return;
  for (const QByteArray& line : f.readAll().split('\n')) {
    const QList<QByteArray> parts = line.simplified().split(' ');
    if (parts.size() < 2) continue;
    if (parts[0] == "VmHWM:")
      peakMiB = parts[1].toDouble() / 1024;
    else if (parts[0] == "VmRSS:")
      currentMiB = parts[1].toDouble() / 1024;
  }
}

inline void Report(const char* what, double opMs, double rawMs, double opCpuMs, double rawCpuMs) {
  std::printf("%-48s %8.1f ms   raw fetch %8.1f ms   ratio %.2f\n", what, opMs, rawMs,
              opMs / rawMs);
  std::printf("%-48s %8.1f ms   raw fetch %8.1f ms   ratio %.2f\n",
              "  CPU time of the window's thread", opCpuMs, rawCpuMs, opCpuMs / rawCpuMs);
}

} // namespace Bench
