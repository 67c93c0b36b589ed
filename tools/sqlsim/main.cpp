// sqlsim: a TDS server on loopback that plays a SQL Server instance described by a scenario.

#include "uSimScenario.h"
#include "uSimServer.h"
#include "uSsrpResponder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

void OnSignal(int sig) {
  const char c = char(sig);
  [[maybe_unused]] const ssize_t n = ::write(SignalPipe[1], &c, 1);
}

void Say(const QString& line) {
  std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
  std::fflush(stdout);
}

void Complain(const QString& line) {
  std::fputs(qPrintable(QStringLiteral("sqlsim: ") + line + QLatin1Char('\n')), stderr);
  std::fflush(stderr);
}

// Reloads the scenario file; confirms with the SHA-1 of the bytes read so a caller that wrote
// the file can tell its own change from an earlier one.
class TReloader : public QObject {
public:
  TReloader(const QString& path, QList<TSimServer*> servers)
      : FPath(path), FServers(std::move(servers)) {
    FWatcher.addPath(path);
    FWatcher.addPath(QFileInfo(path).absolutePath());
    // Editors and QSaveFile replace the file; watching the folder catches that, and a short
    // pause lets a writer finish.
    FDebounce.setSingleShot(true);
    FDebounce.setInterval(30);
    connect(&FDebounce, &QTimer::timeout, this, [this] { Reload(false); });
    connect(&FWatcher, &QFileSystemWatcher::fileChanged, &FDebounce, qOverload<>(&QTimer::start));
    connect(&FWatcher, &QFileSystemWatcher::directoryChanged, &FDebounce,
            qOverload<>(&QTimer::start));
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
      FLastHash = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
  }

  void Reload(bool forced) {
    if (!FWatcher.files().contains(FPath) && QFileInfo::exists(FPath)) FWatcher.addPath(FPath);
    QFile f(FPath);
    if (!f.open(QIODevice::ReadOnly)) {
      if (forced) Say(QStringLiteral("reload failed: cannot read %1").arg(FPath));
      return;
    }
    const QByteArray bytes = f.readAll();
    const QByteArray hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
    if (!forced && hash == FLastHash) return;
    QString error;
    QStringList warnings;
    auto scenario = ParseScenario(bytes, &error, &warnings);
    if (!scenario) {
      Say(QStringLiteral("reload failed: %1").arg(error));
      return;
    }
    for (const QString& w : warnings)
      Say(QStringLiteral("warning: %1").arg(w));
    FLastHash = hash;
    for (TSimServer* server : FServers)
      server->SetScenario(scenario);
    Say(QStringLiteral("reloaded %1").arg(QString::fromLatin1(hash.toHex())));
  }

private:
  QString FPath;
  QList<TSimServer*> FServers;
  QFileSystemWatcher FWatcher;
  QTimer FDebounce;
  QByteArray FLastHash;
};

} // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("sqlsim"));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("A TDS server on loopback that plays a SQL Server instance."));
  const QCommandLineOption helpOpt = parser.addHelpOption();
  const QCommandLineOption scenarioOpt(
      QStringLiteral("scenario"), QStringLiteral("Scenario JSON file."), QStringLiteral("file"));
  const QCommandLineOption portOpt(QStringLiteral("port"),
                                   QStringLiteral("TCP port on 127.0.0.1 (0: any free port)."),
                                   QStringLiteral("n"), QStringLiteral("0"));
  const QCommandLineOption ssrpOpt(QStringLiteral("ssrp-port"),
                                   QStringLiteral("Also answer SSRP on this UDP port of 127.0.0.1 "
                                                  "(0: any free port)."),
                                   QStringLiteral("n"));
  const QCommandLineOption logOpt(QStringLiteral("log"),
                                  QStringLiteral("Append every login and batch to this file."),
                                  QStringLiteral("file"));
  const QCommandLineOption tlsDirOpt(
      QStringLiteral("tls-dir"),
      QStringLiteral("Write the certificates made at start-up to this folder: ca.pem (the CA that "
                     "signed the server's certificate), server.pem (the server's certificate) "
                     "and other-ca.pem (an unrelated CA)."),
      QStringLiteral("dir"));
  const QCommandLineOption tlsNameOpt(
      QStringLiteral("tls-name"),
      QStringLiteral("A name (DNS name or IP address) in the server's certificate; repeatable. "
                     "Default: localhost, 127.0.0.1 and ::1."),
      QStringLiteral("name"));
  const QCommandLineOption extraOpt(
      QStringLiteral("extra-ports"),
      QStringLiteral("Also play the scenario on this many more free ports (benchmarks)."),
      QStringLiteral("n"), QStringLiteral("0"));
  const QCommandLineOption silentOpt(
      QStringLiteral("silent-ports"),
      QStringLiteral("Also listen on this many free ports that never answer (benchmarks)."),
      QStringLiteral("n"), QStringLiteral("0"));
  parser.addOptions(
      {scenarioOpt, portOpt, ssrpOpt, logOpt, tlsDirOpt, tlsNameOpt, extraOpt, silentOpt});
  if (!parser.parse(QCoreApplication::arguments())) {
    Complain(parser.errorText());
    return 2;
  }
  if (parser.isSet(helpOpt)) parser.showHelp(0);

  if (!parser.isSet(scenarioOpt)) {
    Complain(QStringLiteral("--scenario FILE is required"));
    return 2;
  }
  bool ok = false;
  const uint port = parser.value(portOpt).toUInt(&ok);
  if (!ok || port > 65535) {
    Complain(QStringLiteral("--port must be a number from 0 to 65535"));
    return 2;
  }
  uint ssrpPort = 0;
  if (parser.isSet(ssrpOpt)) {
    ssrpPort = parser.value(ssrpOpt).toUInt(&ok);
    if (!ok || ssrpPort > 65535) {
      Complain(QStringLiteral("--ssrp-port must be a number from 0 to 65535"));
      return 2;
    }
  }

  const uint extraPorts = parser.value(extraOpt).toUInt(&ok);
  if (!ok || extraPorts > 10000) {
    Complain(QStringLiteral("--extra-ports must be a number from 0 to 10000"));
    return 2;
  }
  const uint silentPorts = parser.value(silentOpt).toUInt(&ok);
  if (!ok || silentPorts > 10000) {
    Complain(QStringLiteral("--silent-ports must be a number from 0 to 10000"));
    return 2;
  }

  const QString scenarioPath = QFileInfo(parser.value(scenarioOpt)).absoluteFilePath();
  QString error;
  QStringList warnings;
  auto scenario = LoadScenarioFile(scenarioPath, &error, &warnings);
  if (!scenario) {
    Complain(error);
    return 1;
  }
  for (const QString& w : warnings)
    Say(QStringLiteral("warning: %1").arg(w));

  TSimServer server(scenario);
  // Made afresh at every start, so no key is ever kept anywhere; a reload may turn it on.
  QStringList tlsNames = parser.values(tlsNameOpt);
  if (tlsNames.isEmpty())
    tlsNames = {QStringLiteral("localhost"), QStringLiteral("127.0.0.1"), QStringLiteral("::1")};
  const std::optional<TSimCertificates> certs = MakeSimCertificates(tlsNames, &error);
  std::shared_ptr<TSimTlsContext> tls = certs ? TSimTlsContext::Create(*certs, &error) : nullptr;
  if (!tls) {
    Complain(error);
    return 1;
  }
  server.SetTls(tls);
  if (parser.isSet(tlsDirOpt)) {
    const QDir dir(parser.value(tlsDirOpt));
    const std::pair<const char*, QByteArray> files[] = {{"ca.pem", certs->CaPem},
                                                        {"server.pem", certs->ServerCertPem},
                                                        {"other-ca.pem", certs->OtherCaPem}};
    for (const auto& [name, pem] : files) {
      QFile f(dir.filePath(QLatin1String(name)));
      if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(pem) != pem.size()) {
        Complain(QStringLiteral("cannot write %1: %2").arg(f.fileName(), f.errorString()));
        return 1;
      }
    }
  }
  if (parser.isSet(logOpt)) {
    auto log = std::make_unique<TSimLog>();
    if (!log->Open(parser.value(logOpt), &error)) {
      Complain(error);
      return 1;
    }
    server.SetLog(std::move(log));
  }
  if (!server.Listen(quint16(port), &error)) {
    Complain(QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(port).arg(error));
    return 1;
  }

  std::unique_ptr<TSsrpResponder> ssrp;
  if (parser.isSet(ssrpOpt)) {
    ssrp = std::make_unique<TSsrpResponder>([&server] { return server.Scenario(); }, server.Port());
    if (!ssrp->Listen(quint16(ssrpPort), &error)) {
      Complain(QStringLiteral("cannot bind UDP 127.0.0.1:%1: %2").arg(ssrpPort).arg(error));
      return 1;
    }
    Say(QStringLiteral("ssrp on 127.0.0.1:%1").arg(ssrp->Port()));
  }

  // More servers from one process: the same scenario (and reloads) on free ports, each with
  // its own fault counters and SPIDs; and ports whose connections are never accepted, so a
  // client's connection completes but nothing ever answers.
  std::vector<std::unique_ptr<TSimServer>> extras;
  QList<TSimServer*> all{&server};
  for (uint i = 0; i < extraPorts; ++i) {
    auto extra = std::make_unique<TSimServer>(scenario);
    extra->SetTls(tls);
    if (!extra->Listen(0, &error)) {
      Complain(QStringLiteral("cannot listen on another port: %1").arg(error));
      return 1;
    }
    Say(QStringLiteral("also listening on 127.0.0.1:%1").arg(extra->Port()));
    all << extra.get();
    extras.push_back(std::move(extra));
  }
  std::vector<std::unique_ptr<QTcpServer>> silent;
  for (uint i = 0; i < silentPorts; ++i) {
    auto mute = std::make_unique<QTcpServer>();
    if (!mute->listen(QHostAddress::LocalHost, 0)) {
      Complain(QStringLiteral("cannot listen on another port: %1").arg(mute->errorString()));
      return 1;
    }
    mute->pauseAccepting();
    Say(QStringLiteral("silent on 127.0.0.1:%1").arg(mute->serverPort()));
    silent.push_back(std::move(mute));
  }

  TReloader reloader(scenarioPath, all);

  // Signals arrive through a pipe so that the work happens on the event loop.
  if (::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    Complain(QStringLiteral("cannot create the signal pipe"));
    return 1;
  }
  QSocketNotifier notifier(SignalPipe[0], QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
    char c = 0;
    while (::read(SignalPipe[0], &c, 1) == 1) {
      if (c == SIGHUP)
        reloader.Reload(true);
      else
        QCoreApplication::quit();
    }
  });
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGHUP, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  Say(QStringLiteral("listening on 127.0.0.1:%1").arg(server.Port()));
  const int rc = app.exec();
  ::close(SignalPipe[0]);
  ::close(SignalPipe[1]);
  return rc;
}
