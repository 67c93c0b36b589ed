// velmora-cli over many servers from one simulator process: a tenth of them never answer.
// For 50, 100 and 200 servers, with --jobs 16 and a login time-out of T seconds, it prints the
// run time, the bound T x ceil(silent / jobs) + the time of the answering servers alone, and
// the program's peak resident memory (its own, from wait4), which should grow linearly.
//
// VELMORA_SQLSIM names the simulator (scripts/bench sets it); VELMORA_BENCH_LOGIN_TIMEOUT the
// time-out (default 3).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "uBenchReport.h"

#include <algorithm>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const int kJobs = 16;

const char* kScenario = "{\"server\": {\"version\": \"16.0.1000.6\"},"
                        " \"logins\": [{\"name\": \"bench\", \"password\": \"bench\"}],"
                        " \"databases\": [{\"name\": \"master\"}, {\"name\": \"Sales\", "
                        "\"recovery\": \"FULL\", \"logBackups\": [\"now-30m\"]}],"
                        " \"databaseGenerator\": {\"count\": 20}}";

struct TSim {
  QProcess Process;
  QStringList Answering, Silent; // "127.0.0.1,PORT"
};

bool StartSim(TSim& sim, const QString& scenario, int answering, int silent) {
  sim.Process.setProgram(qEnvironmentVariable("VELMORA_SQLSIM"));
  sim.Process.setArguments({"--scenario", scenario, "--extra-ports", QString::number(answering - 1),
                            "--silent-ports", QString::number(silent)});
  sim.Process.start();
  if (!sim.Process.waitForStarted()) return false;
  while (sim.Process.waitForReadyRead(30000) || sim.Process.canReadLine()) {
    while (sim.Process.canReadLine()) {
      const QString line = QString::fromUtf8(sim.Process.readLine()).trimmed();
      const QString port = line.section(u':', -1);
      if (line.startsWith(QLatin1String("silent on ")))
        sim.Silent << "127.0.0.1," + port;
      else if (line.contains(QLatin1String("listening on "))) {
        sim.Answering << "127.0.0.1," + port;
        if (line.startsWith(QLatin1String("listening on "))) return true;
      }
    }
  }
  return false;
}

struct TRun {
  double Seconds = 0;
  long PeakKB = 0;
  int Read = 0, Unread = 0;
  QString FirstReason; // of the first server not read
  bool Ok = false;
};

// Runs velmora-cli on its own pid so its peak memory is its own.
TRun RunCli(const QString& list, const QString& outFile, int loginTimeout) {
  TRun run;
  const QByteArray cli = VELMORA_CLI_PATH;
  QList<QByteArray> args = {cli,
                            "--servers",
                            QFile::encodeName(list),
                            "-U",
                            "bench",
                            "--jobs",
                            QByteArray::number(kJobs),
                            "--login-timeout",
                            QByteArray::number(loginTimeout),
                            "--query-timeout",
                            QByteArray::number(loginTimeout),
                            "--settings",
                            "/nonexistent/settings.ini",
                            "--format",
                            "json"};
  std::vector<char*> argv;
  for (QByteArray& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, QFile::encodeName(outFile).constData(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  QElapsedTimer timer;
  timer.start();
  pid_t pid = 0;
  if (posix_spawn(&pid, cli.constData(), &actions, nullptr, argv.data(), environ) != 0) return run;
  int status = 0;
  rusage usage = {};
  wait4(pid, &status, 0, &usage);
  run.Seconds = double(timer.nsecsElapsed()) / 1e9;
  posix_spawn_file_actions_destroy(&actions);
  run.PeakKB = usage.ru_maxrss;
  QFile f(outFile);
  if (!f.open(QIODevice::ReadOnly)) return run;
  const QJsonArray servers = QJsonDocument::fromJson(f.readAll()).object()["servers"].toArray();
  for (const QJsonValue& s : servers) {
    (s["read"].toBool() ? run.Read : run.Unread)++;
    if (!s["read"].toBool() && run.FirstReason.isEmpty())
      run.FirstReason = s["server"].toString() + ": " + s["reason"].toString();
  }
  run.Ok = WIFEXITED(status);
  return run;
}

bool WriteList(const QString& path, const QStringList& servers) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return false;
  f.write(servers.join(u'\n').toUtf8() + '\n');
  return true;
}

} // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  qputenv("VELMORA_PASSWORD", "bench");
  const int timeout = qEnvironmentVariableIntValue("VELMORA_BENCH_LOGIN_TIMEOUT") > 0
                          ? qEnvironmentVariableIntValue("VELMORA_BENCH_LOGIN_TIMEOUT")
                          : 3;
  QTemporaryDir dir;
  const QString scenario = dir.filePath("scenario.json");
  {
    QFile f(scenario);
    if (!f.open(QIODevice::WriteOnly)) return 1;
    f.write(kScenario);
  }
  std::printf("login time-out %d s, --jobs %d; times are medians of 3 runs\n", timeout, kJobs);
  std::printf("servers  silent  answering-only s  run s  bound s  within  peak MB  read/unread\n");
  bool complete = true;
  QList<double> peaks;
  double run200 = 0, bound200 = 0;
  const auto median = [](QList<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  for (const int total : {50, 100, 200}) {
    const int silent = total / 10;
    TSim sim;
    if (!StartSim(sim, scenario, total - silent, silent)) {
      std::fprintf(stderr, "cannot start the simulator (VELMORA_SQLSIM)\n");
      return 1;
    }
    // The silent servers spread through the list, as a real list would have them.
    QStringList all;
    for (int i = 0, a = 0, s = 0; i < total; ++i)
      all << ((i % 10 == 9 && s < silent) ? sim.Silent[s++] : sim.Answering[a++]);
    const QString answeringList = dir.filePath("answering"), allList = dir.filePath("all");
    if (!WriteList(answeringList, sim.Answering) || !WriteList(allList, all)) return 1;

    QList<double> rest, runs, peak;
    for (int i = 0; i < 3; ++i) {
      const TRun r = RunCli(answeringList, dir.filePath("out1.json"), timeout);
      const TRun a = RunCli(allList, dir.filePath("out2.json"), timeout);
      const bool right = r.Ok && a.Ok && r.Read == total - silent && a.Read == total - silent &&
                         a.Unread == silent;
      if (!right)
        std::fprintf(stderr, "run %d: %d/%d answering servers read (%s), %d/%d of all (%s)\n",
                     i + 1, r.Read, total - silent, qPrintable(r.FirstReason), a.Read, total,
                     qPrintable(a.FirstReason));
      complete = complete && right;
      rest << r.Seconds;
      runs << a.Seconds;
      peak << double(a.PeakKB) / 1024.0;
    }
    const double bound = timeout * std::ceil(double(silent) / kJobs) + median(rest);
    const double run = median(runs);
    peaks << median(peak);
    std::printf("%7d  %6d  %16.2f  %5.2f  %7.2f  %6s  %7.1f  %s\n", total, silent, median(rest),
                run, bound, run <= bound ? "yes" : "NO", peaks.last(), complete ? "ok" : "WRONG");
    std::fflush(stdout);
    if (total == 200) {
      run200 = run;
      bound200 = bound;
    }
    sim.Process.terminate();
    sim.Process.waitForFinished();
  }
  // Linear growth: the memory each added server costs stays about the same from 50 to 100 and
  // from 100 to 200 servers.
  const double perServerLow = (peaks[1] - peaks[0]) / 50.0,
               perServerHigh = (peaks[2] - peaks[1]) / 100.0;
  const double growth = perServerLow > 0 ? perServerHigh / perServerLow : 0;
  std::printf("peak memory per added server: %.3f MB (50 to 100), %.3f MB (100 to 200)\n",
              perServerLow, perServerHigh);
  Bench::Target("velmora-cli, 200 servers, 20 silent", "<= T*ceil(20/16) + answering",
                Bench::Format("%.2f s", run200) + " (bound " + Bench::Format("%.2f s", bound200) +
                    ")",
                Bench::Format("%.2f", run200 / bound200), run200 <= bound200);
  Bench::Target("velmora-cli, peak memory per server", "linear: 100-200 vs 50-100 <= 1.5",
                Bench::Format("%.3f MB", perServerHigh), Bench::Format("%.2f", growth),
                growth > 0 && growth <= 1.5);
  if (!complete) std::fprintf(stderr, "a run did not read the servers it should have\n");
  return complete ? 0 : 1;
}
