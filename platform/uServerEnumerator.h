#pragma once
// Finds the SQL Server instances that can be reached from this machine: instances answering
// the resolution protocol on UDP, a local installation, and the servers the client
// configuration (freetds.conf, unixODBC data sources) names. No GUI here.

#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// --- The resolution protocol's reply ------------------------------------------------------

// One instance record of a server's reply.
struct TSSRPInstance {
  QString ServerName;
  QString InstanceName;
  bool IsClustered = false;
  QString Version;
  int TcpPort = 0; // 0: the reply names no TCP port

  bool operator==(const TSSRPInstance&) const = default;
};

// Limits a reply must keep; a datagram beyond them is dropped as a whole.
inline constexpr int kSSRPMaxDatagram = 3 + 65535;
inline constexpr int kSSRPMaxInstances = 512;
inline constexpr int kSSRPMaxFieldsPerInstance = 64;
inline constexpr int kSSRPMaxNameBytes = 255;

// Parses one datagram received on the client's socket. Every byte is untrusted: the datagram
// is accepted only when it is a well-formed reply (first byte 0x05, the little-endian size
// equal to the length of what follows, complete ";;"-terminated records within the limits
// above, names that are non-empty plain text, ports within 1..65535). Anything else gives
// std::nullopt. An accepted reply may hold no instance.
std::optional<QList<TSSRPInstance>> ParseSSRPReply(QByteArrayView datagram);

// The name a user types to connect: the server alone for the default instance
// (MSSQLSERVER in any letter case), otherwise server\instance.
QString SSRPDisplayName(const TSSRPInstance& instance);

// The request sent to find every instance (one byte, 0x02).
QByteArray SSRPBroadcastRequest();

// Sorts without regard to letter case and keeps one of the names that differ only in letter
// case; empty names are dropped. The result does not depend on the input order.
QStringList SortServerNames(QStringList names);

// --- The enumerator -----------------------------------------------------------------------

struct TSSRPTarget {
  QHostAddress Address;
  quint16 Port = 1434;
};

// Everything the enumerator touches. A default-constructed value sends nothing and reads
// nothing; ForThisMachine() gives the real broadcast targets and configuration files.
struct TServerEnumeratorOptions {
  QList<TSSRPTarget> SSRPTargets;
  std::chrono::milliseconds Timeout{2000}; // how long replies are collected
  QStringList FreeTDSConfigFiles;          // freetds.conf files, read in order
  QStringList ODBCIniFiles;                // odbc.ini files with data sources
  QStringList ODBCInstIniFiles;            // odbcinst.ini files that name the drivers
  QString LocalInstallationPath;           // present when SQL Server is installed here
  QString LocalComputerName;               // the name a local default instance shows as

  // IPv4 broadcast (limited and per interface) and the link-local multicast group FF02::1:3
  // on every IPv6 interface that is up; the system and user configuration files.
  static TServerEnumeratorOptions ForThisMachine();
};

// The seam forms use, so their tests can put a fake in place of the network.
class TServerEnumeratorBase {
public:
  virtual ~TServerEnumeratorBase() = default;
  // All server names, sorted and free of duplicates (see SortServerNames). Throws
  // std::runtime_error when the network cannot be used at all.
  virtual QStringList GetServerNames() = 0;
};

using TServerEnumeratorFactory = std::function<std::unique_ptr<TServerEnumeratorBase>()>;

class TServerEnumerator final : public TServerEnumeratorBase {
public:
  explicit TServerEnumerator(TServerEnumeratorOptions options);

  // Blocks for about Options().Timeout when there are targets to ask.
  QStringList GetServerNames() override;

  // The parts of GetServerNames, unsorted.
  QStringList QueryNetwork() const;
  QStringList LocalInstances() const;
  QStringList ConfiguredAliases() const;

  const TServerEnumeratorOptions& Options() const { return FOptions; }

private:
  TServerEnumeratorOptions FOptions;
};

// Section names of freetds.conf that set a host ("global" excluded).
QStringList ReadFreeTDSAliases(const QString& path);

// The Server value (or, without one, the Servername value) of every data source in the
// odbc.ini files whose driver is a SQL Server driver; driver names are looked up in the
// odbcinst.ini files.
QStringList ReadODBCServers(const QStringList& odbcIniFiles, const QStringList& odbcInstIniFiles);
