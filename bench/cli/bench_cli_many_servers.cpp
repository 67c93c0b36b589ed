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
  for (const QJsonValue& s : servers)
    (s["read"].toBool() ? run.Read : run.Unread)++;
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
  std::printf("servers  silent  answering-only s  run s  bound s  within  peak MB  read/unread\n");
  bool allWithin = true;
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

    const TRun rest = RunCli(answeringList, dir.filePath("out1.json"), timeout);
    const TRun run = RunCli(allList, dir.filePath("out2.json"), timeout);
    const double bound = timeout * std::ceil(double(silent) / kJobs) + rest.Seconds;
    const bool within = run.Seconds <= bound;
    allWithin = allWithin && within && run.Read == total - silent && run.Unread == silent;
    std::printf("%7d  %6d  %16.2f  %5.2f  %7.2f  %6s  %7.1f  %d/%d\n", total, silent, rest.Seconds,
                run.Seconds, bound, within ? "yes" : "NO", double(run.PeakKB) / 1024.0, run.Read,
                run.Unread);
    std::fflush(stdout);
    sim.Process.terminate();
    sim.Process.waitForFinished();
  }
  return allWithin ? 0 : 1;
}
