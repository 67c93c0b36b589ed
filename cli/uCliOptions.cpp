#include "cli/uCliOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>

namespace {

QString Tr(const char* text) {
  return QCoreApplication::translate("TCliOptions", text);
}

std::optional<int> NonNegative(const QString& text, int max) {
  bool ok = false;
  const int v = text.toInt(&ok);
  if (!ok || v < 0 || v > max) return std::nullopt;
  return v;
}

} // namespace

QString CliUsage() {
  return Tr("Usage: velmora-cli (-S SERVER [-U LOGIN | -E] [-d DATABASE] | --servers FILE)\n"
            "                   [--format table|json|csv|prometheus|nagios] [--jobs N]\n"
            "                   [--login-timeout S] [--query-timeout S]\n"
            "                   [--database NAME [--details]] [--warning SPEC] [--critical SPEC]\n"
            "                   [--credentials FILE] [--settings FILE]\n"
            "Passwords come from a credentials file, VELMORA_PASSWORD or a prompt, never from\n"
            "the command line. See velmora-cli(1).\n");
}

int UsageExitCode(const TCliOptions& options) {
  return options.Nagios ? 3 : 2;
}

TCliOptions ParseCliArguments(const QStringList& arguments) {
  TCliOptions o;
  // Nagios mode is known before anything else, so a bad command line gets the plugin status.
  for (qsizetype i = 1; i < arguments.size(); ++i)
    if (arguments[i] == u"--format=nagios" ||
        (arguments[i] == u"--format" && arguments.value(i + 1) == u"nagios"))
      o.Nagios = true;

  QCommandLineParser p;
  p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
  const QCommandLineOption version(QStringLiteral("version"), QString());
  const QCommandLineOption server(QStringLiteral("S"), QString(), QStringLiteral("server"));
  const QCommandLineOption login(QStringLiteral("U"), QString(), QStringLiteral("login"));
  const QCommandLineOption integrated(QStringLiteral("E"), QString());
  const QCommandLineOption database(QStringLiteral("d"), QString(), QStringLiteral("database"));
  const QCommandLineOption servers(QStringLiteral("servers"), QString(), QStringLiteral("file"));
  const QCommandLineOption format(QStringLiteral("format"), QString(), QStringLiteral("format"));
  const QCommandLineOption jobs(QStringLiteral("jobs"), QString(), QStringLiteral("n"));
  const QCommandLineOption loginTimeout(QStringLiteral("login-timeout"), QString(),
                                        QStringLiteral("s"));
  const QCommandLineOption queryTimeout(QStringLiteral("query-timeout"), QString(),
                                        QStringLiteral("s"));
  const QCommandLineOption only(QStringLiteral("database"), QString(), QStringLiteral("name"));
  const QCommandLineOption details(QStringLiteral("details"), QString());
  const QCommandLineOption warning(QStringLiteral("warning"), QString(), QStringLiteral("spec"));
  const QCommandLineOption critical(QStringLiteral("critical"), QString(), QStringLiteral("spec"));
  const QCommandLineOption credentials(QStringLiteral("credentials"), QString(),
                                       QStringLiteral("file"));
  const QCommandLineOption settings(QStringLiteral("settings"), QString(), QStringLiteral("file"));
  p.addOptions({help, version, server, login, integrated, database, servers, format, jobs,
                loginTimeout, queryTimeout, only, details, warning, critical, credentials,
                settings});
  const auto bad = [&o](const QString& reason) {
    o.Error = reason;
    return o;
  };
  if (!p.parse(arguments)) return bad(p.errorText());
  if (p.isSet(help)) {
    o.Help = true;
    return o;
  }
  if (p.isSet(version)) {
    o.ShowVersion = true;
    return o;
  }
  if (!p.positionalArguments().isEmpty())
    return bad(Tr("unexpected argument: %1").arg(p.positionalArguments().constFirst()));
  // Each option once: a second value would silently win or lose.
  for (const QString& name : p.optionNames())
    if (p.optionNames().count(name) > 1) return bad(Tr("option %1 given twice").arg(name));

  if (p.isSet(format)) {
    static const QHash<QString, TCliFormat> formats = {
        {QStringLiteral("table"), TCliFormat::Table},
        {QStringLiteral("json"), TCliFormat::Json},
        {QStringLiteral("csv"), TCliFormat::Csv},
        {QStringLiteral("prometheus"), TCliFormat::Prometheus},
        {QStringLiteral("nagios"), TCliFormat::Nagios}};
    const QString f = p.value(format);
    if (!formats.contains(f)) return bad(Tr("unknown format: %1").arg(f));
    o.Format = formats.value(f);
  }

  if (p.isSet(server) == p.isSet(servers))
    return bad(Tr("give either -S SERVER or --servers FILE"));
  if (p.isSet(login) && p.isSet(integrated)) return bad(Tr("-U and -E exclude each other"));
  o.Single.Server = p.value(server).trimmed();
  if (p.isSet(server) && o.Single.Server.isEmpty()) return bad(Tr("-S needs a server name"));
  o.Single.Login = p.value(login).trimmed();
  if (p.isSet(login) && o.Single.Login.isEmpty()) return bad(Tr("-U needs a login name"));
  o.Single.Database = p.value(database);
  o.ServersFile = p.value(servers);

  if (p.isSet(jobs)) {
    const auto n = NonNegative(p.value(jobs), 1024);
    if (!n || *n < 1) return bad(Tr("--jobs must be a number from 1 to 1024"));
    o.Jobs = *n;
  }
  if (p.isSet(loginTimeout)) {
    // A login always has a deadline: a server that never finishes one must not hold the run.
    o.LoginTimeout = NonNegative(p.value(loginTimeout), 3600);
    if (!o.LoginTimeout || *o.LoginTimeout < 1)
      return bad(Tr("--login-timeout must be seconds from 1 to 3600"));
  }
  if (p.isSet(queryTimeout)) {
    o.QueryTimeout = NonNegative(p.value(queryTimeout), 86400);
    if (!o.QueryTimeout) return bad(Tr("--query-timeout must be seconds from 0 to 86400"));
  }
  o.OnlyDatabase = p.value(only);
  if (p.isSet(only) && o.OnlyDatabase.isEmpty()) return bad(Tr("--database needs a name"));
  o.Details = p.isSet(details);
  if (o.Details && o.OnlyDatabase.isEmpty()) return bad(Tr("--details needs --database NAME"));
  o.Warning = p.value(warning);
  o.Critical = p.value(critical);
  TVerdictThresholds check;
  QString error;
  if (p.isSet(warning) && !ApplyThresholdOverride(o.Warning, false, check, error))
    return bad(QStringLiteral("--warning: ") + error);
  if (p.isSet(critical) && !ApplyThresholdOverride(o.Critical, true, check, error))
    return bad(QStringLiteral("--critical: ") + error);
  o.CredentialsFile = p.value(credentials);
  o.SettingsFile = p.value(settings);
  return o;
}

bool ApplyThresholdOverride(const QString& text, bool critical, TVerdictThresholds& thresholds,
                            QString& error) {
  TVerdictThresholds t = thresholds;
  const QStringList items = text.split(u',');
  for (const QString& item : items) {
    const bool bare = !item.contains(u'=');
    const QString key = bare ? QStringLiteral("used") : item.section(u'=', 0, 0).trimmed();
    const QString value = bare ? item.trimmed() : item.section(u'=', 1).trimmed();
    bool ok = false;
    const int v = value.toInt(&ok);
    if (!ok || v < 0) {
      error = Tr("'%1' is not a whole number of 0 or more").arg(value);
      return false;
    }
    if (key == u"used") {
      if (v > 100) {
        error = Tr("a percentage goes from 0 to 100");
        return false;
      }
      (critical ? t.LogUsedCriticalPercent : t.LogUsedWarningPercent) = v;
    } else if (key == u"vlf") {
      (critical ? t.VlfCriticalFrom : t.VlfWarningAbove) = v;
    } else if (key == u"backup") {
      (critical ? t.LogBackupCriticalMinutes : t.LogBackupWarningMinutes) = v;
    } else if (key == u"opentran" && !critical) {
      t.OpenTransactionWarningMinutes = v;
    } else {
      error = Tr("unknown threshold '%1' (used, vlf, backup%2)")
                  .arg(key, critical ? QString() : QStringLiteral(", opentran"));
      return false;
    }
  }
  thresholds = t;
  return true;
}

void ResolvePasswords(QVector<TCliTarget>& targets, const TPasswordSources& sources) {
  QHash<QString, std::optional<QString>> prompted; // by login, case-insensitive
  for (TCliTarget& t : targets) {
    if (t.Login.isEmpty()) continue; // integrated authentication
    if (const auto p = FindPassword(sources.Credentials, t.Server, t.Login)) {
      t.Password = *p;
      continue;
    }
    if (sources.Environment) {
      t.Password = *sources.Environment;
      continue;
    }
    if (sources.Prompt) {
      const QString key = t.Login.toLower();
      if (!prompted.contains(key)) prompted.insert(key, sources.Prompt(t.Login));
      if (const auto p = prompted.value(key)) {
        t.Password = *p;
        continue;
      }
    }
    t.Problem = Tr("no password for login %1: put it in a credentials file or in "
                   "VELMORA_PASSWORD, or run on a terminal")
                    .arg(t.Login);
  }
}
