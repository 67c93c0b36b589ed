#pragma once
// Turns a connection-properties record into an ODBC connection string. Pure: no ODBC calls and
// no file access (what the drivers' configuration says comes in through TClientSetup), so the
// driver choice, the server forms, the encryption mapping and the escaping can be tested
// without a server.

#include "common/uCommon.h"
#include "datastore/uFreeTdsConfig.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Server names as users type them for sqlcmd: host, host,port, host\instance, tcp:host,port.
struct TServerAddress {
  QString Host;
  QString Instance; // empty: the default instance
  int Port = 0;     // 0: none given
};

// False with a user-facing text in `error` when the name cannot be used.
bool ParseServerName(const QString& name, TServerAddress& address, QString& error);

// An ODBC connection-string value as the standard has it: {text} with every } doubled, so that
// no character of the value can end it or add a keyword.
QString OdbcBraceValue(const QString& value);

enum class TOdbcDriverFamily { Microsoft, FreeTDS, LegacySqlServer };

inline constexpr const char* kOdbcDriver18 = "ODBC Driver 18 for SQL Server";
inline constexpr const char* kOdbcDriver17 = "ODBC Driver 17 for SQL Server";
inline constexpr const char* kOdbcDriverFreeTDS = "FreeTDS";
inline constexpr const char* kOdbcDriverLegacy = "SQL Server";

#ifdef _WIN32
inline constexpr bool kOdbcOnWindows = true;
#else
inline constexpr bool kOdbcOnWindows = false;
#endif

// A driver as the driver manager registers it.
struct TOdbcDriverInfo {
  QString Name;
  QString Library; // the Driver= file of its registration; may be empty
  bool operator==(const TOdbcDriverInfo&) const = default;
};

// What kind of SQL Server driver it is, by its name or else by its library (FreeTDS registered
// as "TDS" is still libtdsodbc.so); nullopt for drivers of other databases.
std::optional<TOdbcDriverFamily> DriverFamily(const TOdbcDriverInfo& driver);
// 18 or 17 for Microsoft's drivers, 0 otherwise.
int MicrosoftDriverMajor(const TOdbcDriverInfo& driver);
// The SQL Server drivers among `installed`, best first: Microsoft 18, 17, FreeTDS, then the
// platform's legacy driver (Windows only).
QList<TOdbcDriverInfo> SqlServerDrivers(const QList<TOdbcDriverInfo>& installed, bool windows);
// Whether the driver can encrypt strictly (TDS 8.0); when not, why.
bool SupportsStrictEncryption(const TOdbcDriverInfo& driver, QString* why);

// What the client side of this machine offers.
struct TClientSetup {
  QList<TOdbcDriverInfo> Drivers;
  TFreeTdsConfig FreeTds; // freetds.conf files in FreeTDS's search order
  // A value of an ODBC data source (odbc.ini); empty when missing.
  std::function<QString(const QString& dsn, const QString& key)> DsnValue;
  bool Windows = kOdbcOnWindows;

  // Drivers known by name only, no freetds.conf, no data sources.
  static TClientSetup FromNames(const QStringList& drivers, bool windows = kOdbcOnWindows);
};

struct TOdbcConnectionString {
  QString Driver; // the registered name of the chosen driver
  TOdbcDriverFamily Family = TOdbcDriverFamily::FreeTDS;
  QString Text;  // the connection string; empty when Error is set
  QString Error; // why no connection string could be built
  QString Host;  // the host the driver connects to (for the login's socket watch)
  // FreeTDS: the section of the private freetds.conf that Text names with Servername=; it must
  // be written (TFreeTdsPrivateConf::Ensure) before connecting.
  QString FreeTdsSectionName;
  QString FreeTdsSectionText;
};

// Provider 0 picks the best registered driver; provider 1 ("MDAC") the plain one of the
// platform; a Driver name in the record picks that one. `applicationName` empty leaves the
// driver's default.
TOdbcConnectionString BuildConnectionString(const TSQLConnectionProperties& props,
                                            const TClientSetup& setup,
                                            const QString& applicationName);
TOdbcConnectionString BuildConnectionString(const TSQLConnectionProperties& props,
                                            const QStringList& installedDrivers,
                                            const QString& applicationName,
                                            bool windows = kOdbcOnWindows);
