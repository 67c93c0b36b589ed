#include "datastore/uOdbc.h"

#include <QCoreApplication>
#include <utility>

namespace {

// A leading "[...]" group is a driver prefix when it names a vendor or a driver component;
// a server text that itself starts with a bracket (an object name) is kept.
bool IsPrefixGroup(QStringView group) {
  static const char* const vendors[] = {"FreeTDS", "Microsoft", "unixODBC", "Driver Manager",
                                        "iODBC"};
  for (const char* v : vendors)
    if (group.compare(QLatin1String(v), Qt::CaseInsensitive) == 0) return true;
  return group.contains(QLatin1String("SQL Server"), Qt::CaseInsensitive) ||
         group.contains(QLatin1String("ODBC"), Qt::CaseInsensitive);
}

// Carries the SQLSTATE ODBC gives a closed connection, so callers see it as one.
[[noreturn]] void ThrowNotOpen() {
  const QString text = QCoreApplication::translate("TOdbc", "The connection is not open.");
  throw TOdbcError(text, {TOdbcDiagRecord{QStringLiteral("08003"), 0, text}});
}

} // namespace

QString StripDriverPrefixes(const QString& text) {
  qsizetype pos = 0;
  while (pos < text.size() && text.at(pos) == u'[') {
    const qsizetype close = text.indexOf(u']', pos + 1);
    if (close < 0 || !IsPrefixGroup(QStringView(text).mid(pos + 1, close - pos - 1))) break;
    pos = close + 1;
  }
  // Only the end is trimmed: DBCC output indents its lines with leading blanks.
  qsizetype end = text.size();
  while (end > pos && text.at(end - 1).isSpace())
    --end;
  return text.mid(pos, end - pos);
}

std::vector<TOdbcDiagRecord> CollectDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
  std::vector<TOdbcDiagRecord> records;
  if (handle == SQL_NULL_HANDLE) return records;
  std::vector<SQLWCHAR> message(1024);
  for (SQLSMALLINT i = 1;; ++i) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(handleType, handle, i, state, &native, message.data(),
                                  SQLSMALLINT(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= SQLSMALLINT(message.size())) {
      message.resize(std::size_t(length) + 1);
      rc = SQLGetDiagRecW(handleType, handle, i, state, &native, message.data(),
                          SQLSMALLINT(message.size()), &length);
    }
    if (!OdbcSucceeded(rc)) break;
    length = std::min<SQLSMALLINT>(length, SQLSMALLINT(message.size() - 1));
    records.push_back(
        {FromSqlW(state, 5), native, StripDriverPrefixes(FromSqlW(message.data(), length))});
  }
  return records;
}

QString JoinDiagnostics(const std::vector<TOdbcDiagRecord>& records, bool mostRecentFirst) {
  QStringList lines;
  for (const TOdbcDiagRecord& r : records)
    if (!r.Text.isEmpty()) lines << r.Text;
  if (mostRecentFirst) std::reverse(lines.begin(), lines.end());
  return lines.join(QLatin1String("\r\n"));
}

TOdbcError::TOdbcError(const QString& text, std::vector<TOdbcDiagRecord> records)
    : std::runtime_error(text.toStdString()), m_text(text), m_records(std::move(records)) {}

void OdbcCheck(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, const char* what) {
  if (OdbcSucceeded(rc)) return;
  std::vector<TOdbcDiagRecord> records = CollectDiagnostics(handleType, handle);
  QString text = JoinDiagnostics(records, false);
  if (text.isEmpty())
    text = QCoreApplication::translate("TOdbc", "The ODBC call %1 failed (return code %2).")
               .arg(QLatin1String(what))
               .arg(rc);
  throw TOdbcError(text, std::move(records));
}

TOdbcHandle::TOdbcHandle(SQLSMALLINT type, SQLHANDLE parent) : m_type(type) {
  const SQLRETURN rc = SQLAllocHandle(type, parent, &m_handle);
  if (!OdbcSucceeded(rc)) {
    m_handle = SQL_NULL_HANDLE;
    // Allocation failures post their records on the parent.
    const SQLSMALLINT parentType = type == SQL_HANDLE_STMT  ? SQL_HANDLE_DBC
                                   : type == SQL_HANDLE_DBC ? SQL_HANDLE_ENV
                                                            : SQL_HANDLE_ENV;
    OdbcCheck(rc, parentType, parent, "SQLAllocHandle");
  }
}

TOdbcHandle::~TOdbcHandle() {
  Reset();
}

TOdbcHandle::TOdbcHandle(TOdbcHandle&& other) noexcept
    : m_type(other.m_type), m_handle(std::exchange(other.m_handle, SQLHANDLE(SQL_NULL_HANDLE))) {}

TOdbcHandle& TOdbcHandle::operator=(TOdbcHandle&& other) noexcept {
  if (this != &other) {
    Reset();
    m_type = other.m_type;
    m_handle = std::exchange(other.m_handle, SQLHANDLE(SQL_NULL_HANDLE));
  }
  return *this;
}

void TOdbcHandle::Reset() {
  if (m_handle != SQL_NULL_HANDLE) SQLFreeHandle(m_type, m_handle);
  m_handle = SQL_NULL_HANDLE;
}

TOdbcEnvironment::TOdbcEnvironment() : m_env(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
  OdbcCheck(SQLSetEnvAttr(m_env.Get(), SQL_ATTR_ODBC_VERSION,
                          reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
            SQL_HANDLE_ENV, m_env.Get(), "SQLSetEnvAttr");
}

QStringList TOdbcEnvironment::InstalledDrivers() const {
  QStringList drivers;
  SQLWCHAR name[512];
  SQLWCHAR attributes[2048];
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  for (;;) {
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT attributesLength = 0;
    const SQLRETURN rc =
        SQLDriversW(m_env.Get(), direction, name, SQLSMALLINT(std::size(name)), &nameLength,
                    attributes, SQLSMALLINT(std::size(attributes)), &attributesLength);
    if (!OdbcSucceeded(rc)) break;
    drivers << FromSqlW(name, std::min<qsizetype>(nameLength, qsizetype(std::size(name)) - 1));
    direction = SQL_FETCH_NEXT;
  }
  return drivers;
}

TOdbcConnection::TOdbcConnection() : m_env(std::make_shared<TOdbcEnvironment>()) {}

TOdbcConnection::~TOdbcConnection() {
  Close();
}

std::vector<TOdbcDiagRecord> TOdbcConnection::Open(const QString& connectionString,
                                                   int loginTimeoutSeconds) {
  Close();
  // A fresh handle per attempt: a failed login leaves nothing behind for the next one.
  m_dbc = TOdbcHandle(SQL_HANDLE_DBC, m_env->Handle());
  OdbcCheck(SQLSetConnectAttrW(m_dbc.Get(), SQL_ATTR_LOGIN_TIMEOUT,
                               reinterpret_cast<SQLPOINTER>(SQLULEN(loginTimeoutSeconds)), 0),
            SQL_HANDLE_DBC, m_dbc.Get(), "SQLSetConnectAttr");
  SQLSMALLINT outLength = 0;
  const SQLRETURN rc =
      SQLDriverConnectW(m_dbc.Get(), nullptr, const_cast<SQLWCHAR*>(ToSqlW(connectionString)),
                        SQL_NTS, nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT);
  OdbcCheck(rc, SQL_HANDLE_DBC, m_dbc.Get(), "SQLDriverConnect");
  m_open = true;
  if (rc == SQL_SUCCESS_WITH_INFO) return CollectDiagnostics(SQL_HANDLE_DBC, m_dbc.Get());
  return {};
}

bool TOdbcConnection::IsDead() const {
  if (!m_open) return false;
  SQLUINTEGER dead = SQL_CD_FALSE;
  const SQLRETURN rc = SQLGetConnectAttrW(m_dbc.Get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
  return OdbcSucceeded(rc) && dead == SQL_CD_TRUE;
}

void TOdbcConnection::Swap(TOdbcConnection& other) noexcept {
  std::swap(m_env, other.m_env);
  std::swap(m_dbc, other.m_dbc);
  std::swap(m_open, other.m_open);
}

void TOdbcConnection::Close() {
  if (m_open) SQLDisconnect(m_dbc.Get());
  m_open = false;
  m_dbc.Reset();
}

QString TOdbcConnection::DbmsVersion() const {
  if (!m_open) ThrowNotOpen();
  SQLWCHAR buffer[256] = {};
  SQLSMALLINT length = 0;
  OdbcCheck(SQLGetInfoW(m_dbc.Get(), SQL_DBMS_VER, buffer, SQLSMALLINT(sizeof(buffer)), &length),
            SQL_HANDLE_DBC, m_dbc.Get(), "SQLGetInfo");
  // The length comes in bytes.
  const qsizetype chars =
      std::min<qsizetype>(length / qsizetype(sizeof(SQLWCHAR)), qsizetype(std::size(buffer)) - 1);
  return FromSqlW(buffer, chars);
}

TOdbcStatement::TOdbcStatement(const TOdbcConnection& connection) {
  if (!connection.IsOpen()) ThrowNotOpen();
  m_stmt = TOdbcHandle(SQL_HANDLE_STMT, connection.Handle());
}
