// velmora-cli: the log health of many servers for scripts, monitoring systems and alerting.

#include "cli/uCliOptions.h"
#include "cli/uCliTargets.h"
#include "common/udmCommon.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <termios.h>
#include <unistd.h>

#include "uVersion.h"

namespace {

void Err(const QString& text) {
  std::fputs(qPrintable(QStringLiteral("velmora-cli: ") + text + u'\n'), stderr);
}

// Asks on the terminal itself, without echo, so a redirected stdin or stdout does not matter;
// no terminal: no answer.
std::optional<QString> PromptPassword(const QString& login) {
  FILE* tty = std::fopen("/dev/tty", "r+");
  if (!tty) return std::nullopt;
  const int fd = ::fileno(tty);
  termios saved = {};
  const bool canHide = ::tcgetattr(fd, &saved) == 0;
  if (canHide) {
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  std::fputs(qPrintable(QCoreApplication::translate("velmora-cli", "Password for %1: ").arg(login)),
             tty);
  std::fflush(tty);
  char buffer[1024] = {};
  const bool read = std::fgets(buffer, sizeof buffer, tty) != nullptr;
  if (canHide) ::tcsetattr(fd, TCSAFLUSH, &saved);
  std::fputs("\n", tty);
  std::fclose(tty);
  if (!read) return std::nullopt;
  QString password = QString::fromLocal8Bit(buffer);
  while (password.endsWith(u'\n') || password.endsWith(u'\r'))
    password.chop(1);
  return password;
}

bool ReadText(const QString& path, QString& text) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return false;
  text = QString::fromUtf8(f.readAll());
  return true;
}

int SettingOr(const TdmMain& settings, const TIntegerSetting& s) {
  try {
    return settings.GetSettingInteger(s);
  } catch (const TConversionError&) {
    return s.Default;
  }
}

} // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("velmora-cli"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_FILE_VERSION));

  const TCliOptions o = ParseCliArguments(QCoreApplication::arguments());
  if (o.Help) {
    std::fputs(qPrintable(CliUsage()), stdout);
    return 0;
  }
  if (o.ShowVersion) {
    std::fputs(qPrintable(QStringLiteral("velmora-cli %1\n").arg(app.applicationVersion())),
               stdout);
    return 0;
  }
  const int setupFailure = UsageExitCode(o);
  if (!o.Error.isEmpty()) {
    Err(o.Error);
    std::fputs(qPrintable(CliUsage()), stderr);
    return setupFailure;
  }

  // The same settings file as the window: thresholds and time-outs.
  QString settingsFile = o.SettingsFile;
  if (settingsFile.isEmpty()) {
    InitApplicationFolders();
    settingsFile = UserSettingsFile();
  }
  const TdmMain settings(settingsFile, nullptr);
  TSurveyOptions survey;
  survey.Thresholds = settings.VerdictThresholds();
  QString error;
  if (!o.Warning.isEmpty()) ApplyThresholdOverride(o.Warning, false, survey.Thresholds, error);
  if (!o.Critical.isEmpty()) ApplyThresholdOverride(o.Critical, true, survey.Thresholds, error);
  survey.LoginTimeoutSeconds = o.LoginTimeout.value_or(SettingOr(settings, Settings::LoginTimeout));
  survey.QueryTimeoutSeconds = o.QueryTimeout.value_or(SettingOr(settings, Settings::QueryTimeout));
  survey.OnlyDatabase = o.OnlyDatabase;
  survey.Details = o.Details;

  QVector<TCliTarget> targets;
  if (o.ServersFile.isEmpty()) {
    targets << o.Single;
  } else {
    QString text;
    if (!ReadText(o.ServersFile, text)) {
      Err(QCoreApplication::translate("velmora-cli", "cannot read the servers file %1")
              .arg(o.ServersFile));
      return setupFailure;
    }
    QStringList errors;
    targets = ParseServersFile(text, o.Single, errors);
    if (!errors.isEmpty()) {
      for (const QString& e : errors)
        Err(o.ServersFile + QStringLiteral(": ") + e);
      return setupFailure;
    }
    if (targets.isEmpty()) {
      Err(QCoreApplication::translate("velmora-cli", "the servers file %1 names no server")
              .arg(o.ServersFile));
      return setupFailure;
    }
  }

  TPasswordSources passwords;
  QString credentialsFile = o.CredentialsFile;
  if (credentialsFile.isEmpty()) credentialsFile = qEnvironmentVariable("VELMORA_CREDENTIALS");
  if (!credentialsFile.isEmpty()) {
    if (const QString problem = CredentialsFileProblem(credentialsFile); !problem.isEmpty()) {
      Err(problem);
      return setupFailure;
    }
    QString text;
    if (!ReadText(credentialsFile, text)) {
      Err(QCoreApplication::translate("velmora-cli", "cannot read the credentials file %1")
              .arg(credentialsFile));
      return setupFailure;
    }
    QStringList errors;
    passwords.Credentials = ParseCredentials(text, errors);
    for (const QString& e : errors) {
      Err(credentialsFile + QStringLiteral(": ") + e);
      return setupFailure;
    }
  }
  if (qEnvironmentVariableIsSet("VELMORA_PASSWORD"))
    passwords.Environment = qEnvironmentVariable("VELMORA_PASSWORD");
  if (::isatty(STDIN_FILENO)) passwords.Prompt = PromptPassword;
  ResolvePasswords(targets, passwords);

  const QVector<TCliServer> reports = SurveyServers(targets, survey, o.Jobs);

  QByteArray out;
  int status = 0;
  for (const TCliServer& s : reports)
    if (!s.Read) status = 1;
  switch (o.Format) {
  case TCliFormat::Table:
    out = FormatTable(reports).toUtf8();
    break;
  case TCliFormat::Json:
    out = FormatJson(reports, survey.Thresholds);
    break;
  case TCliFormat::Csv:
    out = FormatCsv(reports).toUtf8();
    break;
  case TCliFormat::Prometheus:
    out = FormatPrometheus(reports).toUtf8();
    break;
  case TCliFormat::Nagios: {
    const TNagiosResult r = FormatNagios(reports, survey.Thresholds);
    out = r.Text.toUtf8();
    status = r.ExitCode;
    break;
  }
  }
  std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
  std::fflush(stdout);
  return status;
}
