#pragma once
// Thin RAII layer over the ODBC 3 API, and the one place that turns diagnostic records into text.

#include <QString>
#include <QStringList>
#include <memory>
#include <stdexcept>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager must use UTF-16 SQLWCHAR");

struct TOdbcDiagRecord {
  QString State; // SQLSTATE, five characters
  SQLINTEGER Native = 0;
  QString Text; // without the driver's "[vendor][component]" prefixes
};

// All diagnostic records of a handle, in the order the driver holds them.
std::vector<TOdbcDiagRecord> CollectDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

// "[FreeTDS][SQL Server]Login failed" -> "Login failed".
QString StripDriverPrefixes(const QString& text);

// The texts of the records, one line each, joined by CR LF.
QString JoinDiagnostics(const std::vector<TOdbcDiagRecord>& records, bool mostRecentFirst);

// A failed ODBC call: its message is every diagnostic line of the call, joined by CR LF. The
// records keep SQLSTATE and server error number, which tell a lost connection from a refusal.
class TOdbcError : public std::runtime_error {
public:
  explicit TOdbcError(const QString& text, std::vector<TOdbcDiagRecord> records = {});
  const QString& Text() const { return m_text; }
  const std::vector<TOdbcDiagRecord>& Records() const { return m_records; }

private:
  QString m_text;
  std::vector<TOdbcDiagRecord> m_records;
};

// Throws TOdbcError with the handle's records when rc is not a success; `what` names the call
// for the rare failure that leaves no record.
void OdbcCheck(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, const char* what);

inline bool OdbcSucceeded(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// QString <-> SQLWCHAR without copies on platforms where both are UTF-16.
inline const SQLWCHAR* ToSqlW(const QString& s) {
  return reinterpret_cast<const SQLWCHAR*>(s.utf16());
}
inline QString FromSqlW(const SQLWCHAR* s, qsizetype length) {
  return QString::fromUtf16(reinterpret_cast<const char16_t*>(s), length);
}

// An owned ODBC handle of one type; frees it on destruction.
class TOdbcHandle {
public:
  TOdbcHandle() = default;
  TOdbcHandle(SQLSMALLINT type, SQLHANDLE parent); // throws TOdbcError
  ~TOdbcHandle();
  TOdbcHandle(TOdbcHandle&& other) noexcept;
  TOdbcHandle& operator=(TOdbcHandle&& other) noexcept;
  TOdbcHandle(const TOdbcHandle&) = delete;
  TOdbcHandle& operator=(const TOdbcHandle&) = delete;

  SQLHANDLE Get() const { return m_handle; }
  SQLSMALLINT Type() const { return m_type; }
  explicit operator bool() const { return m_handle != SQL_NULL_HANDLE; }
  void Reset();

private:
  SQLSMALLINT m_type = 0;
  SQLHANDLE m_handle = SQL_NULL_HANDLE;
};

// An environment in ODBC 3 mode.
class TOdbcEnvironment {
public:
  TOdbcEnvironment(); // throws TOdbcError
  SQLHENV Handle() const { return m_env.Get(); }
  // Names of the drivers the driver manager has registered.
  QStringList InstalledDrivers() const;

private:
  TOdbcHandle m_env;
};

// One connection; keeps its environment alive as long as it lives.
class TOdbcConnection {
public:
  TOdbcConnection();
  ~TOdbcConnection();
  TOdbcConnection(const TOdbcConnection&) = delete;
  TOdbcConnection& operator=(const TOdbcConnection&) = delete;

  const std::shared_ptr<TOdbcEnvironment>& Environment() const { return m_env; }
  // Exchanges everything with another connection (a login done elsewhere becomes this one's).
  void Swap(TOdbcConnection& other) noexcept;

  // Opens without any prompt. Returns the informational records of the login (for example the
  // changed database context); throws TOdbcError on failure and leaves the connection closed.
  std::vector<TOdbcDiagRecord> Open(const QString& connectionString, int loginTimeoutSeconds);
  void Close();
  bool IsOpen() const { return m_open; }
  // The driver found the connection broken (SQL_ATTR_CONNECTION_DEAD); it never comes back.
  bool IsDead() const;
  SQLHDBC Handle() const { return m_dbc.Get(); }

  // SQLGetInfo(SQL_DBMS_VER), for example "10.50.1600". Throws when closed or on failure.
  QString DbmsVersion() const;

private:
  std::shared_ptr<TOdbcEnvironment> m_env;
  TOdbcHandle m_dbc;
  bool m_open = false;
};

// A statement on an open connection.
class TOdbcStatement {
public:
  explicit TOdbcStatement(const TOdbcConnection& connection); // throws TOdbcError
  SQLHSTMT Handle() const { return m_stmt.Get(); }

private:
  TOdbcHandle m_stmt;
};
