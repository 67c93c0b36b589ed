#include "uSqlSimProcess.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

#include <csignal>

TSqlSimProcess::TSqlSimProcess() = default;

TSqlSimProcess::~TSqlSimProcess() {
  Stop();
}

QString TSqlSimProcess::SimulatorPath() {
  return qEnvironmentVariable("VELMORA_SQLSIM");
}

QString TSqlSimProcess::ServerName() const {
  return QStringLiteral("127.0.0.1,%1").arg(FPort);
}

bool TSqlSimProcess::IsRunning() const {
  return FProcess && FProcess->state() == QProcess::Running;
}

bool TSqlSimProcess::Start(const QString& scenario, const TSqlSimOptions& options) {
  Stop();
  FError.clear();
  FStdout.clear();
  FWarnings.clear();
  const QString exe = SimulatorPath();
  if (exe.isEmpty()) {
    FError = QStringLiteral("VELMORA_SQLSIM is not set");
    return false;
  }
  FDir = std::make_unique<QTemporaryDir>();
  if (!FDir->isValid()) {
    FError = QStringLiteral("cannot create a temporary folder: %1").arg(FDir->errorString());
    return false;
  }
  if (scenario.trimmed().startsWith(QLatin1Char('{'))) {
    FScenarioPath = FDir->filePath(QStringLiteral("scenario.json"));
    QFile f(FScenarioPath);
    if (!f.open(QIODevice::WriteOnly) || f.write(scenario.toUtf8()) < 0) {
      FError = QStringLiteral("cannot write %1").arg(FScenarioPath);
      return false;
    }
  } else {
    // A copy, so that ApplyScenario never rewrites the caller's file (a scenario in the sources).
    FScenarioPath = FDir->filePath(QStringLiteral("scenario.json"));
    if (!QFile::copy(scenario, FScenarioPath)) {
      FError = QStringLiteral("cannot read the scenario %1").arg(scenario);
      return false;
    }
  }
  FLogPath =
      options.LogFile.isEmpty() ? FDir->filePath(QStringLiteral("sqlsim.log")) : options.LogFile;

  QStringList args{QStringLiteral("--scenario"), FScenarioPath,           QStringLiteral("--port"),
                   QStringLiteral("0"),          QStringLiteral("--log"), FLogPath};
  if (options.Ssrp) args << QStringLiteral("--ssrp-port") << QString::number(options.SsrpPort);
  args << QStringLiteral("--tls-dir") << FDir->path();
  for (const QString& name : options.TlsNames)
    args << QStringLiteral("--tls-name") << name;
  FProcess = std::make_unique<QProcess>();
  FProcess->setProcessChannelMode(QProcess::SeparateChannels);
  FProcess->setProgram(exe);
  FProcess->setArguments(args);
  FProcess->start();
  if (!FProcess->waitForStarted(options.StartTimeoutMs)) {
    FError = QStringLiteral("cannot start %1: %2").arg(exe, FProcess->errorString());
    FProcess.reset();
    return false;
  }
  QString line;
  if (options.Ssrp) {
    if (!WaitForLine(QStringLiteral("ssrp on 127.0.0.1:"), &line, options.StartTimeoutMs)) {
      Stop();
      return false;
    }
    FSsrpPort = quint16(line.toUInt());
  }
  if (!WaitForLine(QStringLiteral("listening on 127.0.0.1:"), &line, options.StartTimeoutMs)) {
    Stop();
    return false;
  }
  FPort = quint16(line.toUInt());
  return FPort != 0;
}

bool TSqlSimProcess::WaitForLine(const QString& prefix, QString* rest, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  for (;;) {
    qsizetype nl;
    while ((nl = FStdout.indexOf('\n')) >= 0) {
      const QString line = QString::fromUtf8(FStdout.left(nl)).trimmed();
      FStdout.remove(0, nl + 1);
      if (line.startsWith(QLatin1String("warning: "))) {
        FWarnings << line.mid(9);
        qWarning("sqlsim: %s", qPrintable(line));
        continue;
      }
      if (line.startsWith(prefix)) {
        *rest = line.mid(prefix.size());
        return true;
      }
      if (line.startsWith(QLatin1String("reload failed:"))) {
        FError = line;
        return false;
      }
    }
    if (!FProcess || FProcess->state() != QProcess::Running) {
      FError = QStringLiteral("the simulator ended: %1")
                   .arg(FProcess ? QString::fromUtf8(FProcess->readAllStandardError()).trimmed()
                                 : QString());
      return false;
    }
    if (deadline.hasExpired()) {
      FError = QStringLiteral("no \"%1\" line from the simulator in time").arg(prefix);
      return false;
    }
    FProcess->waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 200)));
    FStdout.append(FProcess->readAllStandardOutput());
  }
}

void TSqlSimProcess::Stop() {
  if (FProcess) {
    const bool wasRunning = FProcess->state() != QProcess::NotRunning;
    if (wasRunning) {
      FProcess->terminate();
      if (!FProcess->waitForFinished(10000)) {
        FProcess->kill();
        FProcess->waitForFinished(5000);
      }
    }
    // The simulator ends cleanly on SIGTERM; anything else (a sanitizer report, a crash) is
    // shown in the test's output.
    if (wasRunning && (FProcess->exitStatus() != QProcess::NormalExit || FProcess->exitCode() != 0))
      qWarning("sqlsim ended with status %d: %s", FProcess->exitCode(),
               FProcess->readAllStandardError().constData());
    FProcess.reset();
  }
  FPort = 0;
  FSsrpPort = 0;
}

QList<QJsonObject> TSqlSimProcess::LogEntries() const {
  QList<QJsonObject> out;
  QFile f(FLogPath);
  if (!f.open(QIODevice::ReadOnly)) return out;
  while (!f.atEnd()) {
    const QByteArray line = f.readLine().trimmed();
    if (line.isEmpty()) continue;
    const QJsonDocument doc = QJsonDocument::fromJson(line);
    if (doc.isObject()) out << doc.object();
  }
  return out;
}

QStringList TSqlSimProcess::LogLines() const {
  QStringList out;
  for (const QJsonObject& e : LogEntries())
    if (e.value(QLatin1String("event")).toString() == QLatin1String("batch"))
      out << e.value(QLatin1String("sql")).toString();
  return out;
}

bool TSqlSimProcess::ApplyScenario(const QString& json, int timeoutMs, bool signal) {
  if (!IsRunning()) {
    FError = QStringLiteral("the simulator is not running");
    return false;
  }
  const QByteArray bytes = json.toUtf8();
  QSaveFile f(FScenarioPath);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) < 0 || !f.commit()) {
    FError = QStringLiteral("cannot write %1: %2").arg(FScenarioPath, f.errorString());
    return false;
  }
  // The simulator confirms each reload with the SHA-1 of what it read; a confirmation of an
  // earlier write (from its file watcher) is skipped.
  const QString expected =
      QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
  if (signal) ::kill(pid_t(FProcess->processId()), SIGHUP);
  QDeadlineTimer deadline(timeoutMs);
  QString hash;
  while (WaitForLine(QStringLiteral("reloaded "), &hash,
                     int(qMax<qint64>(1, deadline.remainingTime())))) {
    if (hash == expected) return true;
  }
  return false;
}
