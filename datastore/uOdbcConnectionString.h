#pragma once
// Turns a connection-properties record into an ODBC connection string. Pure: no ODBC calls, so
// the driver choice, the server forms and the escaping can be tested without a server.

#include "common/uCommon.h"

#include <QString>
#include <QStringList>

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

struct TOdbcConnectionString {
  QString Driver; // the registered name of the chosen driver
  TOdbcDriverFamily Family = TOdbcDriverFamily::FreeTDS;
  QString Text;  // the connection string; empty when Error is set
  QString Error; // why no connection string could be built
  QString Host;  // the host the driver connects to (for the login's socket watch)
};

// Provider 0 picks the best registered driver; provider 1 ("MDAC") the plain one of the
// platform. `applicationName` empty leaves the driver's default.
TOdbcConnectionString BuildConnectionString(const TSQLConnectionProperties& props,
                                            const QStringList& installedDrivers,
                                            const QString& applicationName,
                                            bool windows = kOdbcOnWindows);
