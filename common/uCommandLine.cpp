#include "common/uCommandLine.h"

#include "uVersion.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

namespace {
QString tr(const char* text) {
  return QCoreApplication::translate("CommandLine", text);
}

// The usage line names the installed command whatever path started it.
QString HelpText(const QCommandLineParser& parser) {
  QString text = parser.helpText();
  static const QRegularExpression usage(QStringLiteral("^Usage: \\S+"));
  text.replace(usage, QStringLiteral("Usage: velmora"));
  return text;
}

// Qt's own options (-style fusion, -platform wayland, ...) are the application object's to
// read; the parser leaves them alone.
QStringList WithoutQtOptions(const QStringList& arguments) {
  static const QStringList withValue = {
      QStringLiteral("style"),           QStringLiteral("stylesheet"),
      QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
      QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
      QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowtitle"),
      QStringLiteral("qwindowicon"),     QStringLiteral("display"),
      QStringLiteral("geometry"),        QStringLiteral("session")};
  static const QStringList flags = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                    QStringLiteral("nograb"), QStringLiteral("dograb"),
                                    QStringLiteral("sync")};
  QStringList out = arguments.mid(0, 1);
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a == u"--") {
      out << arguments.mid(i);
      break;
    }
    const QString name = a.startsWith(QLatin1String("--")) ? a.mid(2) : a.mid(1);
    if (a.startsWith(u'-') && withValue.contains(name.section(u'=', 0, 0))) {
      if (!name.contains(u'=')) ++i; // the value follows
      continue;
    }
    if (a.startsWith(u'-') && flags.contains(name)) continue;
    out << a;
  }
  return out;
}

bool AsksForPassword(const QStringList& arguments) {
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a == u"--") break;
    if (a.startsWith(QLatin1String("-P")) || a.startsWith(QLatin1String("--password"))) return true;
  }
  return false;
}
} // namespace

TCommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      tr("Shows the state of the transaction logs of every database on a SQL Server instance."));
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                tr("Displays help on commandline options."));
  const QCommandLineOption version(QStringLiteral("version"), tr("Displays version information."));
  const QCommandLineOption server(QStringLiteral("S"),
                                  tr("The SQL Server instance: host, host,port or host\\instance."),
                                  tr("server"));
  const QCommandLineOption login(QStringLiteral("U"), tr("Connect with this SQL Server login."),
                                 tr("login"));
  const QCommandLineOption integrated(QStringLiteral("E"),
                                      tr("Connect with integrated authentication."));
  const QCommandLineOption database(QStringLiteral("d"), tr("The database to open."),
                                    tr("database"));
  parser.addOptions({help, version, server, login, integrated, database});
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);

  TCommandLine result;
  auto fail = [&](const QString& message) {
    result.Action = TCommandLine::Error;
    result.Output = QStringLiteral("velmora: ") + message + QStringLiteral("\n") +
                    tr("Try 'velmora --help' for more information.") + QStringLiteral("\n");
    return result;
  };
  if (AsksForPassword(arguments))
    return fail(tr("a password is never taken from the command line; type it in the Connect "
                   "dialog."));
  if (!parser.parse(WithoutQtOptions(arguments))) return fail(parser.errorText());
  if (parser.isSet(help)) {
    result.Action = TCommandLine::ShowHelp;
    result.Output = HelpText(parser);
    return result;
  }
  if (parser.isSet(version)) {
    result.Action = TCommandLine::ShowVersion;
    result.Output = QStringLiteral(VELMORA_PRODUCT_NAME " " VELMORA_FILE_VERSION "\n");
    return result;
  }
  if (!parser.positionalArguments().isEmpty())
    return fail(tr("unexpected argument '%1'.").arg(parser.positionalArguments().first()));
  for (const QCommandLineOption* o : {&server, &login, &database})
    if (parser.values(*o).size() > 1)
      return fail(tr("option '-%1' is given more than once.").arg(o->names().first()));
  if (parser.isSet(login) && parser.isSet(integrated))
    return fail(tr("-U (a SQL Server login) and -E (integrated authentication) exclude each "
                   "other."));
  if (parser.isSet(login) && parser.value(login).trimmed().isEmpty())
    return fail(tr("-U needs a login name."));
  result.Server = parser.value(server);
  result.Login = parser.value(login);
  result.Integrated = parser.isSet(integrated);
  result.Database = parser.value(database);
  return result;
}
