#include "uClientRunner.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

namespace {

TClientRun Run(const QString& program, const QStringList& args, const QByteArray& input,
               const QProcessEnvironment& env, int timeoutMs = 60000) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(program, args);
  TClientRun r;
  if (!p.waitForStarted(10000)) {
    r.Stderr = p.errorString();
    return r;
  }
  p.write(input);
  p.closeWriteChannel();
  r.Finished = p.waitForFinished(timeoutMs);
  if (!r.Finished) {
    p.kill();
    p.waitForFinished(5000);
  }
  r.ExitCode = p.exitCode();
  r.Stdout = QString::fromUtf8(p.readAllStandardOutput());
  r.Stderr = QString::fromUtf8(p.readAllStandardError());
  return r;
}

QString SourceDir() {
  return qEnvironmentVariable("VELMORA_SOURCE_DIR");
}

} // namespace

TClientRun RunTsql(quint16 port, const QString& user, const QString& password,
                   const QStringList& batches, const QString& tdsVersion, const QString& database) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("TDSVER"), tdsVersion);
  // No user freetds.conf may change what is tested.
  env.insert(QStringLiteral("FREETDSCONF"), QStringLiteral("/dev/null"));
  QByteArray input;
  for (const QString& b : batches)
    input += b.toUtf8() + "\ngo\n";
  input += "exit\n";
  QStringList args{QStringLiteral("-H"), QStringLiteral("127.0.0.1"),
                   QStringLiteral("-p"), QString::number(port),
                   QStringLiteral("-U"), user,
                   QStringLiteral("-P"), password,
                   QStringLiteral("-o"), QStringLiteral("q")};
  if (!database.isEmpty()) args << QStringLiteral("-D") << database;
  return Run(QStringLiteral("tsql"), args, input, env);
}

TClientRun RunIsql(quint16 port, const QString& user, const QString& password,
                   const QStringList& batches, const QString& database, bool direct) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("FREETDSCONF"), QStringLiteral("/dev/null"));
  QString conn = QStringLiteral("DRIVER=FreeTDS;SERVER=127.0.0.1;PORT=%1;UID=%2;PWD=%3;"
                                "TDS_Version=7.4;ClientCharset=UTF-8")
                     .arg(port)
                     .arg(user, password);
  if (!database.isEmpty()) conn += QStringLiteral(";DATABASE=") + database;
  QByteArray input;
  for (const QString& b : batches)
    input += b.toUtf8() + "\n";
  QStringList args{QStringLiteral("-k"), conn, QStringLiteral("-b"), QStringLiteral("-v"),
                   QStringLiteral("-d|")};
  if (direct) args << QStringLiteral("-e");
  return Run(QStringLiteral("isql"), args, input, env);
}

namespace {
QProcessEnvironment WithConf(const QTemporaryDir& dir, const QString& freetdsConf) {
  QFile f(dir.filePath(QStringLiteral("freetds.conf")));
  if (f.open(QIODevice::WriteOnly)) f.write(freetdsConf.toUtf8());
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("FREETDSCONF"), f.fileName());
  env.remove(QStringLiteral("TDSVER"));
  return env;
}
} // namespace

TClientRun RunTsqlWithConf(const QString& freetdsConf, const QString& section, const QString& user,
                           const QString& password, const QStringList& batches) {
  QTemporaryDir dir;
  QByteArray input;
  for (const QString& b : batches)
    input += b.toUtf8() + "\ngo\n";
  input += "exit\n";
  return Run(QStringLiteral("tsql"),
             {QStringLiteral("-S"), section, QStringLiteral("-U"), user, QStringLiteral("-P"),
              password, QStringLiteral("-o"), QStringLiteral("q")},
             input, WithConf(dir, freetdsConf));
}

TClientRun RunIsqlWithConf(const QString& freetdsConf, const QString& connectionString,
                           const QStringList& batches) {
  QTemporaryDir dir;
  QByteArray input;
  for (const QString& b : batches)
    input += b.toUtf8() + "\n";
  return Run(QStringLiteral("isql"),
             {QStringLiteral("-k"), connectionString, QStringLiteral("-b"), QStringLiteral("-v"),
              QStringLiteral("-d|"), QStringLiteral("-e")},
             input, WithConf(dir, freetdsConf));
}

bool TediousAvailable(QString* why) {
  const QString dir = SourceDir() + QStringLiteral("/tools/sqlsim/clients");
  if (!QFile::exists(dir + QStringLiteral("/node_modules/tedious/package.json"))) {
    *why = QStringLiteral("tedious is not installed: run npm ci in ") + dir;
    return false;
  }
  return true;
}

QJsonObject RunTedious(quint16 port, const QString& user, const QString& password,
                       const QStringList& batches, const QJsonObject& options, TClientRun* raw) {
  QJsonObject request = options;
  request.insert(QStringLiteral("server"), QStringLiteral("127.0.0.1"));
  request.insert(QStringLiteral("port"), port);
  request.insert(QStringLiteral("user"), user);
  request.insert(QStringLiteral("password"), password);
  request.insert(QStringLiteral("batches"), QJsonArray::fromStringList(batches));
  const QString script = SourceDir() + QStringLiteral("/tools/sqlsim/clients/run-batches.js");
  const TClientRun r =
      Run(QStringLiteral("node"), {script}, QJsonDocument(request).toJson(QJsonDocument::Compact),
          QProcessEnvironment::systemEnvironment());
  if (raw) *raw = r;
  return QJsonDocument::fromJson(r.Stdout.toUtf8()).object();
}
