#pragma once
// Finds the SQL Server instances that can be reached from this machine: instances answering
// the resolution protocol on UDP, a local installation, and the servers the client
// configuration (freetds.conf, unixODBC data sources) names. No GUI here.

#include "common/uCommon.h"

#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
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

// A name this machine's client configuration gives a server: a freetds.conf section or an
// ODBC data source. It connects by that name (Servername= or DSN=), not as a host.
struct TConfiguredServer {
  QString Name;
  TServerKind Kind = TServerKind::FreeTdsName;
  QString Host;     // where it leads, for the list; may be empty
  int Port = 0;     // 0: none configured
  QString Instance; // a named instance found through the browser service
  QString Driver;   // data sources: the driver's name
  bool operator==(const TConfiguredServer&) const = default;
};

// An ODBC data source as the driver manager lists it, with the values the browser shows.
struct TDataSourceEntry {
  QString Name;
  QString Driver;     // the driver's registered name (or its library)
  QString Library;    // the driver's library, when registered
  QString Server;     // Server=, or empty
  QString Servername; // Servername= (a freetds.conf section), or empty
  QString Port;
};

// Everything the enumerator touches. A default-constructed value sends nothing and reads
// nothing; ForThisMachine() gives the real broadcast targets and configuration files.
struct TServerEnumeratorOptions {
  QList<TSSRPTarget> SSRPTargets;
  std::chrono::milliseconds Timeout{2000}; // how long replies are collected
  QStringList FreeTDSConfigFiles;          // freetds.conf files, in FreeTDS's search order
  // The data sources; empty: none are listed.
  std::function<QList<TDataSourceEntry>()> DataSources;
  QString LocalInstallationPath; // present when SQL Server is installed here
  QString LocalComputerName;     // the name a local default instance shows as

  // IPv4 broadcast (limited and per interface) and the link-local multicast group FF02::1:3
  // on every IPv6 interface that is up; the freetds.conf files FreeTDS reads and the data
  // sources of unixODBC (SQLDataSources).
  static TServerEnumeratorOptions ForThisMachine();
};

// The seam forms use, so their tests can put a fake in place of the network.
class TServerEnumeratorBase {
public:
  virtual ~TServerEnumeratorBase() = default;
  // The servers that answered on the network and those installed here, sorted and free of
  // duplicates (see SortServerNames). Blocks while it listens; may run on any thread. Throws
  // std::runtime_error when the network cannot be used at all.
  virtual QStringList GetServerNames() = 0;
  // The names the client configuration gives servers. Fast: reads files only.
  virtual QList<TConfiguredServer> ConfiguredServers() { return {}; }
  // Asks a running GetServerNames (on another thread) to end soon. Thread-safe.
  virtual void Cancel() {}
};

using TServerEnumeratorFactory = std::function<std::unique_ptr<TServerEnumeratorBase>()>;

class TServerEnumerator final : public TServerEnumeratorBase {
public:
  explicit TServerEnumerator(TServerEnumeratorOptions options);

  // Blocks for about Options().Timeout when there are targets to ask (less after Cancel).
  QStringList GetServerNames() override;
  QList<TConfiguredServer> ConfiguredServers() override;
  void Cancel() override { FCancelled = true; }

  // The parts of GetServerNames, unsorted.
  QStringList QueryNetwork() const;
  QStringList LocalInstances() const;

  const TServerEnumeratorOptions& Options() const { return FOptions; }

private:
  TServerEnumeratorOptions FOptions;
  std::atomic<bool> FCancelled = false;
};

// The servers freetds.conf names: sections with a host, except [global], sections for TDS
// below 7.0 (Sybase, not SQL Server) and the sample sections Debian ships (egServer50,
// egServer73 with their example hosts). First spelling wins, in the files' order.
QList<TConfiguredServer> ReadFreeTDSServers(const QStringList& paths);

// The data sources whose driver is a SQL Server driver, by name or by its library.
QList<TConfiguredServer> SqlServerDataSources(const QList<TDataSourceEntry>& sources);

// The data sources unixODBC lists (SQLDataSources), with their Server, Servername and Port.
QList<TDataSourceEntry> ListOdbcDataSources();
