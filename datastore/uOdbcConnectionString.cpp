#include "datastore/uOdbcConnectionString.h"

#include <QCoreApplication>
#include <utility>

namespace {

QString Tr(const char* text) {
  return QCoreApplication::translate("TDataStoreSQLServer", text);
}

bool HasDriver(const QStringList& installed, const char* name) {
  return installed.contains(QLatin1String(name), Qt::CaseInsensitive);
}

// The registered spelling, so the driver manager finds it whatever case the list uses.
QString RegisteredName(const QStringList& installed, const char* name) {
  for (const QString& d : installed)
    if (d.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return d;
  return QLatin1String(name);
}

TOdbcDriverFamily FamilyOf(const char* name) {
  const QLatin1String n(name);
  if (n == QLatin1String(kOdbcDriverFreeTDS)) return TOdbcDriverFamily::FreeTDS;
  if (n == QLatin1String(kOdbcDriverLegacy)) return TOdbcDriverFamily::LegacySqlServer;
  return TOdbcDriverFamily::Microsoft;
}

// FreeTDS (1.3) ends a braced value at the first "};" and does not undo doubled braces, so its
// values go in braces as they are and a value holding "};" cannot be passed safely at all.
void Add(QString& text, TOdbcDriverFamily family, const char* keyword, const QString& value) {
  text += QLatin1String(keyword);
  text += u'=';
  text += family == TOdbcDriverFamily::FreeTDS ? u'{' + value + u'}' : OdbcBraceValue(value);
  text += u';'; // also after the last value: FreeTDS would keep a final } otherwise
}

} // namespace

QString OdbcBraceValue(const QString& value) {
  QString escaped = value;
  escaped.replace(u'}', QLatin1String("}}"));
  return u'{' + escaped + u'}';
}

bool ParseServerName(const QString& name, TServerAddress& address, QString& error) {
  address = {};
  QString rest = name.trimmed();
  if (rest.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive)) rest = rest.mid(4).trimmed();

  const qsizetype comma = rest.indexOf(u',');
  if (comma >= 0) {
    const QString portText = rest.mid(comma + 1).trimmed();
    bool ok = false;
    const int port = portText.toInt(&ok, 10);
    if (!ok || port < 1 || port > 65535) {
      error = Tr("The port \"%1\" in the server name \"%2\" is not a number from 1 to 65535.")
                  .arg(portText, name);
      return false;
    }
    address.Port = port;
    rest = rest.left(comma).trimmed();
  }

  const qsizetype backslash = rest.indexOf(u'\\');
  if (backslash >= 0) {
    address.Instance = rest.mid(backslash + 1).trimmed();
    rest = rest.left(backslash).trimmed();
  }

  // sqlcmd's names for this computer; the drivers on Linux know only "localhost".
  if (rest.isEmpty() || rest == QLatin1String(".") ||
      rest.compare(QLatin1String("(local)"), Qt::CaseInsensitive) == 0)
    rest = QStringLiteral("localhost");
  address.Host = rest;
  return true;
}

TOdbcConnectionString BuildConnectionString(const TSQLConnectionProperties& props,
                                            const QStringList& installedDrivers,
                                            const QString& applicationName, bool windows) {
  TOdbcConnectionString result;

  const char* driver = nullptr;
  if (props.Provider == 1) {
    driver = windows ? kOdbcDriverLegacy : kOdbcDriverFreeTDS;
    if (!HasDriver(installedDrivers, driver)) {
      result.Error = Tr("The ODBC driver \"%1\" is not installed.").arg(QLatin1String(driver));
      return result;
    }
  } else {
    const char* const candidates[] = {kOdbcDriver18, kOdbcDriver17, kOdbcDriverFreeTDS,
                                      windows ? kOdbcDriverLegacy : nullptr};
    for (const char* c : candidates)
      if (c && HasDriver(installedDrivers, c)) {
        driver = c;
        break;
      }
    if (!driver) {
      result.Error = Tr("No ODBC driver for SQL Server is installed: looked for \"%1\", \"%2\" "
                        "and \"%3\".")
                         .arg(QLatin1String(kOdbcDriver18), QLatin1String(kOdbcDriver17),
                              QLatin1String(kOdbcDriverFreeTDS));
      return result;
    }
  }
  result.Driver = RegisteredName(installedDrivers, driver);
  result.Family = FamilyOf(driver);

  TServerAddress address;
  if (!ParseServerName(props.Instance, address, result.Error)) return result;
  result.Host = address.Host;

  const std::pair<const char*, QString> fields[] = {
      {QT_TRANSLATE_NOOP("TDataStoreSQLServer", "server name"), props.Instance},
      {QT_TRANSLATE_NOOP("TDataStoreSQLServer", "database"), props.Database},
      {QT_TRANSLATE_NOOP("TDataStoreSQLServer", "login"), props.SQLLogin},
      {QT_TRANSLATE_NOOP("TDataStoreSQLServer", "password"), props.SQLPassword},
      {QT_TRANSLATE_NOOP("TDataStoreSQLServer", "application name"), applicationName}};
  for (const auto& [what, value] : fields) {
    if (value.contains(QChar(0))) {
      result.Error = Tr("The %1 contains a NUL character.").arg(Tr(what));
      return result;
    }
    if (result.Family == TOdbcDriverFamily::FreeTDS && value.contains(QLatin1String("};"))) {
      result.Error =
          Tr("The %1 contains \"};\", which the FreeTDS driver cannot take.").arg(Tr(what));
      return result;
    }
  }

  QString text;
  Add(text, result.Family, "Driver", result.Driver);
  if (result.Family == TOdbcDriverFamily::FreeTDS) {
    // FreeTDS wants the port on its own; with an instance and no port it asks the browser.
    if (!address.Instance.isEmpty() && address.Port == 0) {
      Add(text, result.Family, "Server", address.Host + u'\\' + address.Instance);
    } else {
      Add(text, result.Family, "Server", address.Host);
      Add(text, result.Family, "Port", QString::number(address.Port ? address.Port : 1433));
    }
    Add(text, result.Family, "TDS_Version", QStringLiteral("7.4"));
  } else {
    QString server = address.Host;
    if (!address.Instance.isEmpty()) server += u'\\' + address.Instance;
    if (address.Port) server += u',' + QString::number(address.Port);
    Add(text, result.Family, "Server", server);
  }
  if (!props.Database.isEmpty()) Add(text, result.Family, "Database", props.Database);
  if (props.SQLLogin.isEmpty()) {
    Add(text, result.Family, "Trusted_Connection", QStringLiteral("Yes"));
  } else {
    Add(text, result.Family, "UID", props.SQLLogin);
    Add(text, result.Family, "PWD", props.SQLPassword);
  }
  if (!applicationName.isEmpty()) Add(text, result.Family, "APP", applicationName);
  if (result.Family == TOdbcDriverFamily::Microsoft) {
    // Encrypted, yet a default server with a self-signed certificate stays reachable.
    Add(text, result.Family, "Encrypt", QStringLiteral("yes"));
    Add(text, result.Family, "TrustServerCertificate", QStringLiteral("yes"));
  }
  result.Text = text;
  return result;
}
