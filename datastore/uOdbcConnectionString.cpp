#include "datastore/uOdbcConnectionString.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <utility>

namespace {

QString Tr(const char* text) {
  return QCoreApplication::translate("TDataStoreSQLServer", text);
}

// FreeTDS (1.3) ends a braced value at the first "};" and does not undo doubled braces, so its
// values go in braces as they are and a value holding "};" cannot be passed safely at all.
void Add(QString& text, TOdbcDriverFamily family, const char* keyword, const QString& value) {
  text += QLatin1String(keyword);
  text += u'=';
  text += family == TOdbcDriverFamily::FreeTDS ? u'{' + value + u'}' : OdbcBraceValue(value);
  text += u';'; // also after the last value: FreeTDS would keep a final } otherwise
}

const TOdbcDriverInfo* FindByName(const QList<TOdbcDriverInfo>& drivers, const QString& name) {
  for (const TOdbcDriverInfo& d : drivers)
    if (d.Name.compare(name, Qt::CaseInsensitive) == 0) return &d;
  return nullptr;
}

// FreeTDS 1.3's encryption levels in rising order; -1 for a value it does not know.
int FreeTdsLevel(const QString& value) {
  static const char* const levels[] = {"off", "request", "require"};
  for (int i = 0; i < 3; ++i)
    if (value.compare(QLatin1String(levels[i]), Qt::CaseInsensitive) == 0) return i;
  return -1;
}
const char* FreeTdsLevelName(int level) {
  static const char* const levels[] = {"off", "request", "require"};
  return levels[qBound(0, level, 2)];
}

void Remove(TFreeTdsOptions& options, std::initializer_list<const char*> keys) {
  for (const char* k : keys)
    options.removeIf([k](const TFreeTdsOption& o) { return o.Key == QLatin1String(k); });
}

// FreeTDS reads a value up to ';' or '#', and a line of at most 255 bytes.
bool FitsFreeTdsConf(const QString& value) {
  return !value.contains(u';') && !value.contains(u'#') && !value.contains(u'\n') &&
         !value.contains(u'\r') && value.toUtf8().size() < 200;
}

struct TFreeTdsPlan {
  TFreeTdsOptions Options; // the section's options
  int Level = 1;           // the encryption level sent
};

// The encryption level for `props` on top of what the configuration says: never below a
// configured level, never "off", and "require" for Mandatory.
bool FreeTdsEncryption(const TSQLConnectionProperties& props, const QStringList& configured,
                       const QString& where, int& level, QString& error) {
  if (props.Encryption == TEncryption::Strict) {
    error = Tr("The FreeTDS driver cannot encrypt strictly (TDS 8.0); that arrived in FreeTDS "
               "1.5. Choose Mandatory encryption, or install Microsoft's ODBC Driver 18.");
    return false;
  }
  level = props.Encryption == TEncryption::Mandatory ? 2 : 1;
  for (const QString& value : configured) {
    const int l = FreeTdsLevel(value);
    if (l < 0) {
      error = Tr("%1 sets \"encryption = %2\", which FreeTDS 1.3 does not know (it takes off, "
                 "request or require) and refuses every login for. Correct it there.")
                  .arg(where, value);
      return false;
    }
    level = qMax(level, l);
  }
  return true;
}

// The certificate settings of a FreeTDS section: no CA file when trusting any certificate
// (FreeTDS then accepts whatever comes); a pinned certificate as the only CA, without a name
// check (the certificate itself is what is trusted); otherwise the chosen CA file, the
// configured one, or the system's CAs.
bool FreeTdsCertificates(const TSQLConnectionProperties& props, TFreeTdsOptions& options,
                         QString& error) {
  if (!props.HostNameInCertificate.isEmpty()) {
    error = Tr("The FreeTDS driver cannot check another name than the server's own in the "
               "certificate (\"%1\"). Leave the name empty, or use Microsoft's ODBC Driver 18.")
                .arg(props.HostNameInCertificate);
    return false;
  }
  const std::optional<QString> configuredCa = FreeTdsValue(options, QStringLiteral("ca file"));
  const std::optional<QString> checkName =
      FreeTdsValue(options, QStringLiteral("check certificate hostname"));
  Remove(options, {"ca file", "check certificate hostname"});
  QString ca;
  bool checkHostName = true;
  if (props.TrustServerCertificate) {
    Remove(options, {"crl file"});
    return true;
  }
  if (!props.ServerCertificate.isEmpty()) {
    ca = props.ServerCertificate;
    checkHostName = false;
  } else if (!props.CAFile.isEmpty()) {
    ca = props.CAFile;
  } else {
    ca = configuredCa.value_or(QStringLiteral("system"));
    if (ca.isEmpty()) ca = QStringLiteral("system");
    if (checkName && checkName->compare(QLatin1String("no"), Qt::CaseInsensitive) == 0)
      checkHostName = false;
  }
  if (!FitsFreeTdsConf(ca)) {
    error = Tr("The FreeTDS driver cannot read the certificate file \"%1\": its path holds ';' or "
               "'#' or is too long. Move the file.")
                .arg(ca);
    return false;
  }
  options.append({QStringLiteral("ca file"), ca});
  options.append({QStringLiteral("check certificate hostname"),
                  checkHostName ? QStringLiteral("yes") : QStringLiteral("no")});
  return true;
}

QString SectionText(const QString& name, const TFreeTdsOptions& options) {
  QString text = u'[' + name + QStringLiteral("]\n");
  for (const TFreeTdsOption& o : options)
    text += u'\t' + o.Key + QStringLiteral(" = ") + o.Value + u'\n';
  return text;
}

void AddCredentials(QString& text, TOdbcDriverFamily family, const TSQLConnectionProperties& props,
                    const QString& applicationName) {
  if (!props.Database.isEmpty()) Add(text, family, "Database", props.Database);
  if (props.SQLLogin.isEmpty()) {
    Add(text, family, "Trusted_Connection", QStringLiteral("Yes"));
  } else {
    Add(text, family, "UID", props.SQLLogin);
    Add(text, family, "PWD", props.SQLPassword);
  }
  if (!applicationName.isEmpty()) Add(text, family, "APP", applicationName);
}

// Encrypt= and the certificate keywords of Microsoft's drivers (and of the legacy one).
bool MicrosoftEncryption(const TSQLConnectionProperties& props, const TOdbcDriverInfo& driver,
                         TOdbcDriverFamily family, QString& text, QString& error) {
  const int major = MicrosoftDriverMajor(driver);
  if (props.Encryption == TEncryption::Strict && major < 18) {
    SupportsStrictEncryption(driver, &error);
    return false;
  }
  if (!props.CAFile.isEmpty()) {
    error = Tr("Microsoft's ODBC driver takes the CAs it trusts from the system's store only. Add "
               "the CA \"%1\" there, or leave the CA file empty.")
                .arg(props.CAFile);
    return false;
  }
  if ((!props.HostNameInCertificate.isEmpty() || !props.ServerCertificate.isEmpty()) &&
      major < 18) {
    error = Tr("The driver \"%1\" cannot check a certificate's name or a trusted certificate "
               "file; ODBC Driver 18 can.")
                .arg(driver.Name);
    return false;
  }
  QString encrypt;
  if (major >= 18)
    encrypt = props.Encryption == TEncryption::Strict      ? QStringLiteral("Strict")
              : props.Encryption == TEncryption::Mandatory ? QStringLiteral("Mandatory")
                                                           : QStringLiteral("Optional");
  else
    encrypt =
        props.Encryption == TEncryption::Mandatory ? QStringLiteral("yes") : QStringLiteral("no");
  Add(text, family, "Encrypt", encrypt);
  Add(text, family, "TrustServerCertificate",
      props.TrustServerCertificate ? QStringLiteral("yes") : QStringLiteral("no"));
  if (!props.HostNameInCertificate.isEmpty())
    Add(text, family, "HostNameInCertificate", props.HostNameInCertificate);
  if (!props.ServerCertificate.isEmpty())
    Add(text, family, "ServerCertificate", props.ServerCertificate);
  return true;
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

  // An IPv6 address in brackets may carry a port after them; without brackets it is the host.
  const qsizetype close = rest.startsWith(u'[') ? rest.indexOf(u']') : -1;
  const qsizetype comma = rest.indexOf(u',', close < 0 ? 0 : close);
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

  const qsizetype backslash = rest.indexOf(u'\\', close < 0 ? 0 : close);
  if (backslash >= 0) {
    address.Instance = rest.mid(backslash + 1).trimmed();
    rest = rest.left(backslash).trimmed();
  }
  if (rest.startsWith(u'[') && rest.endsWith(u']')) rest = rest.mid(1, rest.size() - 2).trimmed();

  // sqlcmd's names for this computer; the drivers on Linux know only "localhost".
  if (rest.isEmpty() || rest == QLatin1String(".") ||
      rest.compare(QLatin1String("(local)"), Qt::CaseInsensitive) == 0)
    rest = QStringLiteral("localhost");
  address.Host = rest;
  return true;
}

std::optional<TOdbcDriverFamily> DriverFamily(const TOdbcDriverInfo& driver) {
  const QString library = QFileInfo(driver.Library).fileName();
  if (MicrosoftDriverMajor(driver)) return TOdbcDriverFamily::Microsoft;
  if (driver.Name.compare(QLatin1String(kOdbcDriverFreeTDS), Qt::CaseInsensitive) == 0 ||
      library.startsWith(QLatin1String("libtdsodbc"), Qt::CaseInsensitive))
    return TOdbcDriverFamily::FreeTDS;
  if (driver.Name.compare(QLatin1String(kOdbcDriverLegacy), Qt::CaseInsensitive) == 0 ||
      library.compare(QLatin1String("SQLSRV32.dll"), Qt::CaseInsensitive) == 0)
    return TOdbcDriverFamily::LegacySqlServer;
  return std::nullopt;
}

int MicrosoftDriverMajor(const TOdbcDriverInfo& driver) {
  const QString library = QFileInfo(driver.Library).fileName();
  for (int major : {18, 17}) {
    if (driver.Name.compare(QLatin1String(major == 18 ? kOdbcDriver18 : kOdbcDriver17),
                            Qt::CaseInsensitive) == 0 ||
        library.startsWith(QStringLiteral("libmsodbcsql-%1").arg(major), Qt::CaseInsensitive) ||
        library.startsWith(QStringLiteral("msodbcsql%1").arg(major), Qt::CaseInsensitive))
      return major;
  }
  return 0;
}

QList<TOdbcDriverInfo> SqlServerDrivers(const QList<TOdbcDriverInfo>& installed, bool windows) {
  QList<TOdbcDriverInfo> out;
  const auto rank = [](const TOdbcDriverInfo& d) {
    const auto family = DriverFamily(d);
    if (!family) return -1;
    if (*family == TOdbcDriverFamily::Microsoft) return MicrosoftDriverMajor(d) == 18 ? 0 : 1;
    return *family == TOdbcDriverFamily::FreeTDS ? 2 : 3;
  };
  for (int r = 0; r <= 3; ++r)
    for (const TOdbcDriverInfo& d : installed)
      if (rank(d) == r && (r != 3 || windows)) out << d;
  return out;
}

bool SupportsStrictEncryption(const TOdbcDriverInfo& driver, QString* why) {
  const auto family = DriverFamily(driver);
  if (family == TOdbcDriverFamily::Microsoft && MicrosoftDriverMajor(driver) >= 18) return true;
  if (why) {
    if (family == TOdbcDriverFamily::FreeTDS)
      *why = Tr("The FreeTDS driver in use (1.3) cannot encrypt strictly (TDS 8.0); FreeTDS 1.5 "
                "and Microsoft's ODBC Driver 18 can.");
    else
      *why = Tr("The driver \"%1\" cannot encrypt strictly (TDS 8.0); Microsoft's ODBC Driver 18 "
                "can.")
                 .arg(driver.Name);
  }
  return false;
}

TClientSetup TClientSetup::FromNames(const QStringList& drivers, bool windows) {
  TClientSetup setup;
  for (const QString& name : drivers)
    setup.Drivers << TOdbcDriverInfo{name, QString()};
  setup.Windows = windows;
  return setup;
}

TOdbcConnectionString BuildConnectionString(const TSQLConnectionProperties& props,
                                            const QStringList& installedDrivers,
                                            const QString& applicationName, bool windows) {
  return BuildConnectionString(props, TClientSetup::FromNames(installedDrivers, windows),
                               applicationName);
}

TOdbcConnectionString BuildConnectionString(const TSQLConnectionProperties& props,
                                            const TClientSetup& setup,
                                            const QString& applicationName) {
  TOdbcConnectionString result;
  const QString dsn = props.Instance.trimmed();

  // The driver: the data source's own, the one named, the platform's plain one, or the best.
  std::optional<TOdbcDriverInfo> driver;
  if (props.Kind == TServerKind::DataSource) {
    const QString dsnDriver = setup.DsnValue ? setup.DsnValue(dsn, QStringLiteral("Driver")) : "";
    if (dsnDriver.isEmpty()) {
      result.Error = Tr("There is no ODBC data source \"%1\".").arg(dsn);
      return result;
    }
    const TOdbcDriverInfo* registered = FindByName(setup.Drivers, dsnDriver);
    driver = registered ? *registered : TOdbcDriverInfo{dsnDriver, dsnDriver};
    if (!DriverFamily(*driver)) {
      result.Error = Tr("The ODBC data source \"%1\" uses the driver \"%2\", which is not a SQL "
                        "Server driver.")
                         .arg(dsn, dsnDriver);
      return result;
    }
  } else if (!props.Driver.isEmpty()) {
    if (const TOdbcDriverInfo* d = FindByName(setup.Drivers, props.Driver))
      driver = *d;
    else {
      result.Error = Tr("The ODBC driver \"%1\" is not installed.").arg(props.Driver);
      return result;
    }
  } else if (props.Provider == 1) {
    const TOdbcDriverFamily plain =
        setup.Windows ? TOdbcDriverFamily::LegacySqlServer : TOdbcDriverFamily::FreeTDS;
    for (const TOdbcDriverInfo& d : setup.Drivers)
      if (DriverFamily(d) == plain) {
        driver = d;
        break;
      }
    if (!driver) {
      result.Error =
          Tr("The ODBC driver \"%1\" is not installed.")
              .arg(QLatin1String(setup.Windows ? kOdbcDriverLegacy : kOdbcDriverFreeTDS));
      return result;
    }
  } else {
    const QList<TOdbcDriverInfo> best = SqlServerDrivers(setup.Drivers, setup.Windows);
    if (best.isEmpty()) {
      result.Error = Tr("No ODBC driver for SQL Server is installed: looked for \"%1\", \"%2\" "
                        "and \"%3\".")
                         .arg(QLatin1String(kOdbcDriver18), QLatin1String(kOdbcDriver17),
                              QLatin1String(kOdbcDriverFreeTDS));
      return result;
    }
    driver = best.first();
  }
  result.Driver = driver->Name;
  result.Family = *DriverFamily(*driver);
  const TOdbcDriverFamily family = result.Family;

  TServerAddress address;
  if (props.Kind == TServerKind::Address) {
    if (!ParseServerName(props.Instance, address, result.Error)) return result;
    result.Host = address.Host;
  }

  const std::pair<const char*, QString> fields[] = {
      {QT_TRANSLATE_NOOP("TDataStoreSQLServer", "server name"), props.Instance},
      {QT_TRANSLATE_NOOP("TDataStoreSQLServer", "database"), props.Database},
      {QT_TRANSLATE_NOOP("TDataStoreSQLServer", "login"), props.SQLLogin},
      {QT_TRANSLATE_NOOP("TDataStoreSQLServer", "password"), props.SQLPassword},
      {QT_TRANSLATE_NOOP("TDataStoreSQLServer", "application name"), applicationName},
      {QT_TRANSLATE_NOOP("TDataStoreSQLServer", "certificate file"),
       props.CAFile + props.ServerCertificate},
      {QT_TRANSLATE_NOOP("TDataStoreSQLServer", "certificate name"), props.HostNameInCertificate}};
  for (const auto& [what, value] : fields) {
    if (value.contains(QChar(0))) {
      result.Error = Tr("The %1 contains a NUL character.").arg(Tr(what));
      return result;
    }
    if (family == TOdbcDriverFamily::FreeTDS && value.contains(QLatin1String("};"))) {
      result.Error =
          Tr("The %1 contains \"};\", which the FreeTDS driver cannot take.").arg(Tr(what));
      return result;
    }
  }

  QString text;
  if (props.Kind == TServerKind::DataSource) {
    Add(text, family, "DSN", dsn);
    if (family == TOdbcDriverFamily::FreeTDS) {
      // The data source's own settings decide the CA; Velmora can only raise the level.
      const QString servername = setup.DsnValue(dsn, QStringLiteral("Servername"));
      const TFreeTdsConfig::TResolved conf = setup.FreeTds.Resolve(
          servername.isEmpty() ? setup.DsnValue(dsn, QStringLiteral("Server")) : servername);
      QStringList configured;
      if (const auto e = FreeTdsValue(conf.Options, QStringLiteral("encryption"))) configured << *e;
      if (const QString e = setup.DsnValue(dsn, QStringLiteral("Encryption")); !e.isEmpty())
        configured << e;
      int level = 1;
      if (!FreeTdsEncryption(props, configured,
                             Tr("The data source \"%1\" (or its freetds.conf section)").arg(dsn),
                             level, result.Error))
        return result;
      if (!props.TrustServerCertificate) {
        if (!props.CAFile.isEmpty() || !props.ServerCertificate.isEmpty() ||
            !props.HostNameInCertificate.isEmpty()) {
          result.Error = Tr("The certificate settings of a FreeTDS data source come from its "
                            "freetds.conf section; Velmora cannot add its own to \"%1\".")
                             .arg(dsn);
          return result;
        }
        if (!FreeTdsValue(conf.Options, QStringLiteral("ca file"))) {
          result.Error =
              Tr("The FreeTDS data source \"%1\" names no CA file, and without one FreeTDS "
                 "accepts any certificate. Add \"ca file = system\" (or the CA's file) to its "
                 "freetds.conf section%2, or choose to trust the server certificate.")
                  .arg(dsn,
                       servername.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(servername));
          return result;
        }
      }
      Add(text, family, "Encryption", QLatin1String(FreeTdsLevelName(level)));
    } else if (!MicrosoftEncryption(props, *driver, family, text, result.Error)) {
      return result;
    }
    AddCredentials(text, family, props, applicationName);
    result.Text = text;
    return result;
  }

  Add(text, family, "Driver", result.Driver);
  if (family == TOdbcDriverFamily::FreeTDS) {
    const bool named = props.Kind == TServerKind::FreeTdsName;
    const QString target = named ? dsn : address.Host;
    const TFreeTdsConfig::TResolved conf = setup.FreeTds.Resolve(target);
    if (named && !conf.Found) {
      result.Error = Tr("No freetds.conf names the server \"%1\".").arg(dsn);
      return result;
    }
    TFreeTdsOptions options = conf.Options;
    QStringList configured;
    if (const auto e = FreeTdsValue(options, QStringLiteral("encryption"))) configured << *e;
    int level = 1;
    if (!FreeTdsEncryption(props, configured,
                           named ? Tr("The freetds.conf section [%1]").arg(dsn)
                                 : Tr("freetds.conf [global]"),
                           level, result.Error))
      return result;
    Remove(options, {"encryption"});
    if (!named) {
      // FreeTDS wants the port on its own; with an instance and no port it asks the browser.
      Remove(options, {"host", "port", "instance"});
      options.append({QStringLiteral("host"), address.Host});
      if (!address.Instance.isEmpty() && address.Port == 0)
        options.append({QStringLiteral("instance"), address.Instance});
      else
        options.append(
            {QStringLiteral("port"), QString::number(address.Port ? address.Port : 1433)});
    }
    options.append({QStringLiteral("encryption"), QLatin1String(FreeTdsLevelName(level))});
    if (!FreeTdsCertificates(props, options, result.Error)) return result;
    for (const TFreeTdsOption& o : std::as_const(options))
      if (!FitsFreeTdsConf(o.Value) || !FitsFreeTdsConf(o.Key)) {
        result.Error = Tr("FreeTDS cannot be given \"%1 = %2\": the value holds ';' or '#' or "
                          "is too long.")
                           .arg(o.Key, o.Value);
        return result;
      }
    const QByteArray digest = QCryptographicHash::hash(SectionText(QString(), options).toUtf8(),
                                                       QCryptographicHash::Sha1);
    result.FreeTdsSectionName =
        QStringLiteral("velmora-") + QString::fromLatin1(digest.toHex().left(16));
    result.FreeTdsSectionText = SectionText(result.FreeTdsSectionName, options);
    Add(text, family, "Servername", result.FreeTdsSectionName);
    if (!named) Add(text, family, "TDS_Version", QStringLiteral("7.4"));
    Add(text, family, "Encryption", QLatin1String(FreeTdsLevelName(level)));
  } else {
    QString server = address.Host;
    if (server.contains(u':')) server = u'[' + server + u']';
    if (props.Kind == TServerKind::FreeTdsName) server = dsn; // a client alias of the platform
    if (!address.Instance.isEmpty()) server += u'\\' + address.Instance;
    if (address.Port) server += u',' + QString::number(address.Port);
    Add(text, family, "Server", server);
    if (!MicrosoftEncryption(props, *driver, family, text, result.Error)) return result;
  }
  AddCredentials(text, family, props, applicationName);
  result.Text = text;
  return result;
}
