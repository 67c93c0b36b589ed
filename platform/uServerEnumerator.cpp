#include "platform/uServerEnumerator.h"

#include "datastore/uFreeTdsConfig.h"
#include "datastore/uOdbc.h"
#include "datastore/uOdbcConnectionString.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QStringDecoder>
#include <QSysInfo>
#include <QUdpSocket>
#include <algorithm>
#include <stdexcept>

#ifdef Q_OS_WIN
#include <QSettings>
#endif

namespace {

constexpr char kSSRPResponse = 0x05;
constexpr char kSSRPBroadcastEx = 0x02;
// Replies beyond this many in one enumeration are not read: a flood must not grow the list
// without bound.
constexpr int kMaxDatagramsPerEnumeration = 1024;

// A character that would not show as itself in a list: controls, bidirectional and other
// format marks, line and paragraph separators, unpaired surrogates.
bool IsHiddenCharacter(QChar c) {
  switch (c.category()) {
  case QChar::Other_Control:
  case QChar::Other_Format:
  case QChar::Other_Surrogate:
  case QChar::Separator_Line:
  case QChar::Separator_Paragraph:
    return true;
  default:
    return false;
  }
}

bool IsPlainText(const QString& text) {
  return std::none_of(text.begin(), text.end(), IsHiddenCharacter);
}

// Replies are in the server's multi-byte character set. UTF-8 covers ASCII and most modern
// servers; other bytes are taken one character each so nothing is lost or invented.
QString DecodeReplyText(QByteArrayView bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(bytes);
  if (utf8.hasError()) return QString::fromLatin1(bytes.data(), bytes.size());
  return text;
}

// A server or instance name: non-empty, within the byte limit, plain text and without the
// backslash that separates the two in the name a user types.
std::optional<QString> ReplyName(QByteArrayView bytes) {
  if (bytes.isEmpty() || bytes.size() > kSSRPMaxNameBytes) return std::nullopt;
  QString name = DecodeReplyText(bytes);
  if (!IsPlainText(name) || name.contains(QLatin1Char('\\')) || name.trimmed().isEmpty())
    return std::nullopt;
  return name;
}

std::optional<int> PortNumber(QByteArrayView text) {
  if (text.isEmpty() || text.size() > 5) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return std::nullopt;
  return value;
}

// VIA listen info: NETBIOS followed by ",nic:port" items.
bool ValidViaInfo(QByteArrayView text) {
  const QByteArray copy = text.toByteArray();
  const QList<QByteArray> items = copy.split(',');
  for (qsizetype i = 1; i < items.size(); ++i) {
    const qsizetype colon = items[i].lastIndexOf(':');
    if (colon < 0 || !PortNumber(QByteArrayView(items[i]).sliced(colon + 1))) return false;
  }
  return true;
}

bool SameKey(QByteArrayView token, const char* key) {
  return QByteArrayView(key).compare(token, Qt::CaseInsensitive) == 0;
}

// Reads ';'-terminated tokens from the reply's data; a token without its ';' is malformed.
class TTokenReader {
public:
  explicit TTokenReader(QByteArrayView data) : FData(data) {}
  bool AtEnd() const { return FPos >= FData.size(); }
  std::optional<QByteArrayView> Next() {
    const qsizetype end = FData.indexOf(';', FPos);
    if (end < 0) return std::nullopt;
    QByteArrayView token = FData.sliced(FPos, end - FPos);
    FPos = end + 1;
    return token;
  }

private:
  QByteArrayView FData;
  qsizetype FPos = 0;
};

std::optional<TSSRPInstance> ParseInstance(TTokenReader& reader) {
  int fields = 0;
  auto next = [&]() -> std::optional<QByteArrayView> {
    if (++fields > kSSRPMaxFieldsPerInstance) return std::nullopt;
    return reader.Next();
  };
  auto value = [&](const char* key) -> std::optional<QByteArrayView> {
    const auto k = next();
    if (!k || !SameKey(*k, key)) return std::nullopt;
    return next();
  };

  TSSRPInstance instance;
  const auto server = value("ServerName");
  const auto serverName = server ? ReplyName(*server) : std::nullopt;
  const auto inst = value("InstanceName");
  const auto instanceName = inst ? ReplyName(*inst) : std::nullopt;
  if (!serverName || !instanceName) return std::nullopt;
  instance.ServerName = *serverName;
  instance.InstanceName = *instanceName;

  const auto clustered = value("IsClustered");
  if (!clustered) return std::nullopt;
  if (SameKey(*clustered, "Yes"))
    instance.IsClustered = true;
  else if (!SameKey(*clustered, "No"))
    return std::nullopt;

  const auto version = value("Version");
  if (!version || version->isEmpty() || version->size() > kSSRPMaxNameBytes) return std::nullopt;
  instance.Version = DecodeReplyText(*version);
  if (!IsPlainText(instance.Version)) return std::nullopt;

  // Protocol entries, each a keyword and its value, up to the empty token of ";;".
  for (;;) {
    const auto key = next();
    if (!key) return std::nullopt;
    if (key->isEmpty()) return instance;
    if (SameKey(*key, "bv")) {
      // Banyan VINES: item and group names up to the end of the record.
      for (;;) {
        const auto item = next();
        if (!item) return std::nullopt;
        if (item->isEmpty()) return instance;
      }
    }
    const auto val = next();
    if (!val) return std::nullopt;
    if (SameKey(*key, "tcp")) {
      const auto port = PortNumber(*val);
      if (!port) return std::nullopt;
      instance.TcpPort = *port;
    } else if (SameKey(*key, "via")) {
      if (!ValidViaInfo(*val)) return std::nullopt;
    }
  }
}

// --- configuration files ------------------------------------------------------------------

// A name from a configuration file: trimmed, and only when it shows as itself.
void AddConfiguredName(QStringList& names, const QString& name) {
  const QString trimmed = name.trimmed();
  if (!trimmed.isEmpty() && IsPlainText(trimmed)) names.append(trimmed);
}

QString Translate(const char* text) {
  return QCoreApplication::translate("TServerEnumerator", text);
}

} // namespace

// --- reply parser -------------------------------------------------------------------------

std::optional<QList<TSSRPInstance>> ParseSSRPReply(QByteArrayView datagram) {
  if (datagram.size() < 3 || datagram.size() > kSSRPMaxDatagram || datagram[0] != kSSRPResponse)
    return std::nullopt;
  const auto* bytes = reinterpret_cast<const unsigned char*>(datagram.data());
  const qsizetype size = qsizetype(bytes[1]) | (qsizetype(bytes[2]) << 8);
  if (size != datagram.size() - 3) return std::nullopt;

  QList<TSSRPInstance> instances;
  TTokenReader reader(datagram.sliced(3));
  while (!reader.AtEnd()) {
    if (instances.size() >= kSSRPMaxInstances) return std::nullopt;
    auto instance = ParseInstance(reader);
    if (!instance) return std::nullopt;
    instances.append(std::move(*instance));
  }
  return instances;
}

QString SSRPDisplayName(const TSSRPInstance& instance) {
  if (instance.InstanceName.compare(QLatin1String("MSSQLSERVER"), Qt::CaseInsensitive) == 0)
    return instance.ServerName;
  return instance.ServerName + QLatin1Char('\\') + instance.InstanceName;
}

QByteArray SSRPBroadcastRequest() {
  return QByteArray(1, kSSRPBroadcastEx);
}

QStringList SortServerNames(QStringList names) {
  names.removeAll(QString());
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
  });
  const auto last = std::unique(names.begin(), names.end(), [](const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
  });
  names.erase(last, names.end());
  return names;
}

// --- configuration ------------------------------------------------------------------------

QList<TConfiguredServer> ReadFreeTDSServers(const QStringList& paths) {
  QList<TConfiguredServer> servers;
  const TFreeTdsConfig config = TFreeTdsConfig::Load(paths);
  for (const QString& name : config.SectionNames()) {
    // A name with blanks at its ends cannot be typed to match; a section without a host of
    // its own is a template, whatever [global] says.
    if (name != name.trimmed()) continue;
    const TFreeTdsConfig::TResolved r = config.Resolve(name);
    const QString file = r.File;
    bool ownHost = false;
    for (const TFreeTdsConfFile& f : config.Files)
      if (f.Path == file)
        ownHost = FreeTdsValue(f.Section(name), QStringLiteral("host")).has_value();
    const QString host = FreeTdsValue(r.Options, QStringLiteral("host")).value_or(QString());
    if (!ownHost || host.isEmpty()) continue;
    // TDS 4.2 and 5.0 are Sybase's; "auto" and 7.x are SQL Server's.
    const QString tds = FreeTdsValue(r.Options, QStringLiteral("tds version")).value_or(QString());
    if (tds.startsWith(u'4') || tds.startsWith(u'5')) continue;
    static const std::pair<const char*, const char*> samples[] = {
        {"egServer50", "symachine.domain.com"}, {"egServer73", "ntmachine.domain.com"}};
    bool sample = false;
    for (const auto& [section, sampleHost] : samples)
      sample = sample || (name.compare(QLatin1String(section), Qt::CaseInsensitive) == 0 &&
                          host.compare(QLatin1String(sampleHost), Qt::CaseInsensitive) == 0);
    if (sample || !IsPlainText(name)) continue;
    TConfiguredServer s;
    s.Name = name;
    s.Kind = TServerKind::FreeTdsName;
    s.Host = host;
    s.Port = FreeTdsValue(r.Options, QStringLiteral("port")).value_or(QString()).toInt();
    s.Instance = FreeTdsValue(r.Options, QStringLiteral("instance")).value_or(QString());
    servers << s;
  }
  return servers;
}

QList<TConfiguredServer> SqlServerDataSources(const QList<TDataSourceEntry>& sources) {
  QList<TConfiguredServer> servers;
  for (const TDataSourceEntry& e : sources) {
    if (!DriverFamily(TOdbcDriverInfo{e.Driver, e.Library.isEmpty() ? e.Driver : e.Library}) ||
        !IsPlainText(e.Name))
      continue;
    TConfiguredServer s;
    s.Name = e.Name;
    s.Kind = TServerKind::DataSource;
    s.Driver = e.Driver;
    TServerAddress address;
    QString error;
    if (!e.Server.isEmpty() && ParseServerName(e.Server, address, error)) {
      s.Host = address.Host;
      s.Port = address.Port;
      s.Instance = address.Instance;
    } else if (!e.Servername.isEmpty()) {
      s.Host = e.Servername; // a freetds.conf section
    }
    if (!s.Port) s.Port = e.Port.toInt();
    servers << s;
  }
  return servers;
}

QList<TDataSourceEntry> ListOdbcDataSources() {
  QList<TDataSourceEntry> out;
  try {
    TOdbcEnvironment environment;
    const QList<TOdbcEnvironment::TDriver> drivers = environment.InstalledDriverInfo();
    for (const TOdbcEnvironment::TDataSource& d : environment.DataSources()) {
      TDataSourceEntry e;
      e.Name = d.Name;
      e.Driver = d.Driver;
      for (const TOdbcEnvironment::TDriver& r : drivers)
        if (r.Name.compare(d.Driver, Qt::CaseInsensitive) == 0) e.Library = r.Library;
      e.Server = OdbcDataSourceValue(d.Name, QStringLiteral("Server"));
      e.Servername = OdbcDataSourceValue(d.Name, QStringLiteral("Servername"));
      e.Port = OdbcDataSourceValue(d.Name, QStringLiteral("Port"));
      out << e;
    }
  } catch (const std::exception&) {
    // No driver manager: no data sources to list.
  }
  return out;
}

TServerEnumeratorOptions TServerEnumeratorOptions::ForThisMachine() {
  TServerEnumeratorOptions options;
  auto addTarget = [&](const QHostAddress& address) {
    for (const TSSRPTarget& t : options.SSRPTargets)
      if (t.Address == address && t.Address.scopeId() == address.scopeId()) return;
    options.SSRPTargets.append({address, 1434});
  };
  addTarget(QHostAddress::Broadcast);
  for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
    const auto flags = iface.flags();
    if (!flags.testFlag(QNetworkInterface::IsUp) || flags.testFlag(QNetworkInterface::IsLoopBack))
      continue;
    bool hasIPv6 = false;
    for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
      if (entry.ip().protocol() == QAbstractSocket::IPv6Protocol)
        hasIPv6 = true;
      else if (flags.testFlag(QNetworkInterface::CanBroadcast) && !entry.broadcast().isNull())
        addTarget(entry.broadcast());
    }
    if (hasIPv6 && flags.testFlag(QNetworkInterface::CanMulticast)) {
      QHostAddress group(QStringLiteral("ff02::1:3"));
      group.setScopeId(iface.name());
      addTarget(group);
    }
  }
  options.Timeout = std::chrono::milliseconds(2000);
  options.FreeTDSConfigFiles = TFreeTdsSearch::FromEnvironment().Files();
  options.DataSources = &ListOdbcDataSources;
#ifndef Q_OS_WIN
  options.LocalInstallationPath = QStringLiteral("/var/opt/mssql");
#endif
  options.LocalComputerName = QSysInfo::machineHostName();
  return options;
}

// --- enumerator ---------------------------------------------------------------------------

TServerEnumerator::TServerEnumerator(TServerEnumeratorOptions options)
    : FOptions(std::move(options)) {}

QStringList TServerEnumerator::GetServerNames() {
  QStringList names = QueryNetwork();
  names += LocalInstances();
  return SortServerNames(std::move(names));
}

QStringList TServerEnumerator::QueryNetwork() const {
  if (FOptions.SSRPTargets.isEmpty()) return {};

  QUdpSocket ipv4;
  QUdpSocket ipv6;
  QList<QUdpSocket*> listening;
  QString lastError;
  const QByteArray request = SSRPBroadcastRequest();
  for (const TSSRPTarget& target : FOptions.SSRPTargets) {
    const bool v6 = target.Address.protocol() == QAbstractSocket::IPv6Protocol;
    QUdpSocket& socket = v6 ? ipv6 : ipv4;
    if (socket.state() != QAbstractSocket::BoundState &&
        !socket.bind(v6 ? QHostAddress::AnyIPv6 : QHostAddress::AnyIPv4, 0)) {
      lastError = socket.errorString();
      continue;
    }
    if (socket.writeDatagram(request, target.Address, target.Port) != request.size()) {
      lastError = socket.errorString();
      continue;
    }
    if (!listening.contains(&socket)) listening.append(&socket);
  }
  if (listening.isEmpty())
    throw std::runtime_error(Translate("The network could not be searched for servers: %1")
                                 .arg(lastError)
                                 .toStdString());

  QStringList names;
  int datagrams = 0;
  auto drain = [&](QUdpSocket* socket) {
    while (socket->hasPendingDatagrams() && datagrams < kMaxDatagramsPerEnumeration) {
      const QNetworkDatagram datagram = socket->receiveDatagram();
      ++datagrams;
      if (const auto instances = ParseSSRPReply(datagram.data()))
        for (const TSSRPInstance& instance : *instances)
          names.append(SSRPDisplayName(instance));
    }
  };

  // Collect for the whole time-out: any number of servers may answer a broadcast.
  QElapsedTimer elapsed;
  elapsed.start();
  const qint64 timeout = FOptions.Timeout.count();
  for (qsizetype turn = 0; !listening.isEmpty(); ++turn) {
    for (QUdpSocket* socket : listening)
      drain(socket);
    const qint64 remaining = timeout - elapsed.elapsed();
    if (remaining <= 0 || datagrams >= kMaxDatagramsPerEnumeration || FCancelled) break;
    // Short slices, on each socket in turn, so that Cancel is heard soon.
    const int slice = int(std::min<qint64>(remaining, 20));
    QUdpSocket* socket = listening[turn % listening.size()];
    if (!socket->waitForReadyRead(slice) &&
        socket->error() != QAbstractSocket::SocketTimeoutError) {
      drain(socket);
      listening.removeOne(socket); // a failed socket would return at once, again and again
    }
  }
  return names;
}

QStringList TServerEnumerator::LocalInstances() const {
  QStringList names;
  if (!FOptions.LocalInstallationPath.isEmpty() &&
      QFileInfo::exists(FOptions.LocalInstallationPath))
    AddConfiguredName(names, FOptions.LocalComputerName);
#ifdef Q_OS_WIN
  QSettings instances(
      QStringLiteral(
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL"),
      QSettings::Registry64Format);
  for (const QString& instance : instances.childKeys()) {
    if (instance.compare(QLatin1String("MSSQLSERVER"), Qt::CaseInsensitive) == 0)
      AddConfiguredName(names, FOptions.LocalComputerName);
    else
      AddConfiguredName(names, FOptions.LocalComputerName + QLatin1Char('\\') + instance);
  }
#endif
  return names;
}

QList<TConfiguredServer> TServerEnumerator::ConfiguredServers() {
  QList<TConfiguredServer> servers = ReadFreeTDSServers(FOptions.FreeTDSConfigFiles);
  if (FOptions.DataSources) servers += SqlServerDataSources(FOptions.DataSources());
#ifdef Q_OS_WIN
  for (const auto format : {QSettings::Registry64Format, QSettings::Registry32Format}) {
    QSettings aliases(
        QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSSQLServer\\Client\\ConnectTo"),
        format);
    for (const QString& alias : aliases.childKeys())
      if (aliases.value(alias).toString().contains(QLatin1Char(',')))
        servers << TConfiguredServer{alias, TServerKind::FreeTdsName, {}, 0, {}, {}};
  }
#endif
  return servers;
}
