#pragma once
// Shared by the main window's benchmarks: a simulator, a connected window, the statements an
// action sent, timing, memory and bytes on the wire.

#include "common/uCommon.h"
#include "forms/ufrmMain.h"
#include "uBareOdbc.h"
#include "uBenchReport.h"
#include "uSqlSimProcess.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/tcp.h> // tcp_info with the bytes received
#include <netinet/in.h>
#include <sys/socket.h>

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

// The batches the simulator received since log entry `from`, in order: the statements an
// action sent, as the server saw them.
inline QStringList BatchesSince(const TSqlSimProcess& sim, qsizetype from) {
  QStringList batches;
  const QList<QJsonObject> entries = sim.LogEntries();
  for (qsizetype i = from; i < entries.size(); ++i)
    if (entries[i].value(QStringLiteral("event")).toString() == QLatin1String("batch"))
      batches << entries[i].value(QStringLiteral("sql")).toString();
  return batches;
}

// How many texts of `batches` were sent before, within the same list.
inline int Repeats(const QStringList& batches) {
  int repeats = 0;
  for (qsizetype i = 0; i < batches.size(); ++i)
    if (batches.indexOf(batches[i]) < i) ++repeats;
  return repeats;
}

// Bytes received so far on every TCP connection of this process to `port` (TCP_INFO).
inline std::uint64_t BytesReceivedFrom(quint16 port) {
  std::uint64_t total = 0;
  DIR* fds = opendir("/proc/self/fd");
  if (!fds) return 0;
  while (const dirent* entry = readdir(fds)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end) continue;
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (getpeername(int(fd), reinterpret_cast<sockaddr*>(&peer), &length) != 0) continue;
    quint16 peerPort = 0;
    if (peer.ss_family == AF_INET)
      peerPort = ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port);
    else if (peer.ss_family == AF_INET6)
      peerPort = ntohs(reinterpret_cast<sockaddr_in6*>(&peer)->sin6_port);
    if (peerPort != port) continue;
    tcp_info info{};
    socklen_t infoLength = sizeof info;
    if (getsockopt(int(fd), IPPROTO_TCP, TCP_INFO, &info, &infoLength) == 0)
      total += info.tcpi_bytes_received;
  }
  closedir(fds);
  return total;
}

inline double MedianMs(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Wall time of f in ms; with `cpuMs`, also the CPU time of this process: the client's every
// thread (the window's and the session's), without the simulator's share.
inline double TimeMs(const std::function<void()>& f, double* cpuMs = nullptr) {
  timespec c0{}, c1{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
  QElapsedTimer t;
  t.start();
  f();
  const double wall = double(t.nsecsElapsed()) / 1e6;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
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

// Starts the peak resident size again from the current one; false where Linux cannot.
inline bool ResetPeakMemory() {
  QFile f(QStringLiteral("/proc/self/clear_refs"));
  return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

inline void Report(const char* what, double opMs, double rawMs, double opCpuMs, double rawCpuMs) {
  std::printf("%-52s %8.1f ms   bare driver %8.1f ms   ratio %.2f\n", what, opMs, rawMs,
              opMs / rawMs);
  std::printf("%-52s %8.1f ms   bare driver %8.1f ms   ratio %.2f\n", "  CPU time of the client",
              opCpuMs, rawCpuMs, opCpuMs / rawCpuMs);
}

} // namespace Bench
