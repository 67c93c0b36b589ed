#include "datastore/udmDataStoreSQLServer.h"

#include "datastore/uOdbc.h"
#include "datastore/uOdbcConnectionString.h"
#include "datastore/uResultSetBuilder.h"
#include "datastore/uServerVersion.h"

#include <QCoreApplication>
#include <atomic>
#include <mutex>
#include <optional>

#ifdef _WIN32
#include <objbase.h>
#endif

namespace {

const char* const kApplicationName = "Tessaly GUI";

QString Tr(const char* text) {
  return QCoreApplication::translate("TDataStoreSQLServer", text);
}

// The connection string for a record, or the reason there is none.
TOdbcConnectionString ApplyConnectionProperties(const TOdbcConnection& target,
                                                const TSQLConnectionProperties& props,
                                                const QString& applicationName) {
  return BuildConnectionString(props, target.Environment()->InstalledDrivers(), applicationName);
}

std::vector<TOdbcDiagRecord> Open(TOdbcConnection& connection,
                                  const TOdbcConnectionString& settings, const TLoginLimits& limits,
                                  const TLoginCancel* cancel = nullptr, TLoginEnd* end = nullptr) {
  if (!settings.Error.isEmpty()) throw TOdbcError(settings.Error);
  return OpenWithinLimits(connection, settings.Text, settings.Host, limits, cancel, end);
}

// The text of a caught failure: all lines of the driver's records, or the error's own message.
QString ErrorText(const std::exception& e) {
  if (const auto* odbc = dynamic_cast<const TOdbcError*>(&e)) return odbc->Text();
  return QString::fromUtf8(e.what());
}

void Append(std::vector<TOdbcDiagRecord>& to, std::vector<TOdbcDiagRecord> records) {
  for (TOdbcDiagRecord& r : records)
    to.push_back(std::move(r));
}

// A call of the batch failed. The messages that the server sends after the first failing one
// (the rest of the batch) belong to the same failure, so they are read too, up to the end of the
// batch or a failure of the client itself.
[[noreturn]] void ThrowStatementFailure(SQLHSTMT stmt) {
  std::vector<TOdbcDiagRecord> records = CollectDiagnostics(SQL_HANDLE_STMT, stmt);
  const auto clientFailure = [](const std::vector<TOdbcDiagRecord>& rs) {
    for (const TOdbcDiagRecord& r : rs)
      if (r.State.startsWith(QLatin1String("08")) || r.State.startsWith(QLatin1String("HY")))
        return true;
    return false;
  };
  for (int i = 0; i < 64 && !clientFailure(records); ++i) {
    const SQLRETURN rc = SQLMoreResults(stmt);
    if (rc != SQL_ERROR && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_SUCCESS) break;
    std::vector<TOdbcDiagRecord> more = CollectDiagnostics(SQL_HANDLE_STMT, stmt);
    const bool stop = clientFailure(more);
    Append(records, std::move(more));
    if (stop) break;
  }
  QString text = JoinDiagnostics(records, false);
  if (text.isEmpty()) text = Tr("The server reported a failure without a message.");
  throw TOdbcError(text, std::move(records));
}

} // namespace

struct TDataStoreSQLServer::Impl {
  TOdbcConnection Connection;
  TResultSet Query;
  QString StatementText;
  QString QueryText;
  // Empty until InitWithConnProps applied a record: the store has no server yet.
  std::optional<TOdbcConnectionString> Settings;
  std::atomic<int> QueryTimeout{0};

  // The statement that runs now, for Cancel from another thread. The handle is registered and
  // released under the lock, so Cancel never reaches a freed one.
  std::mutex ActiveLock;
  SQLHSTMT Active = SQL_NULL_HSTMT;
  bool Cancelled = false;
  // Cancel reaches a login too: every login of this store watches it.
  TLoginCancel LoginCancel;
  std::atomic<TLoginEnd> LastLoginEnd{TLoginEnd::Opened};

  // Opens a configured but closed connection first, as every access of the client does.
  void EnsureOpen(std::vector<TOdbcDiagRecord>& info, const TLoginLimits& limits) {
    if (Connection.IsOpen()) return;
    if (!Settings)
      throw TOdbcError(Tr("The data store is not connected: no server has been chosen yet."));
    TLoginEnd end = TLoginEnd::DriverFailed;
    try {
      Append(info, Open(Connection, *Settings, limits, &LoginCancel, &end));
    } catch (...) {
      LastLoginEnd = end;
      throw;
    }
    LastLoginEnd = end;
  }
};

TDataStoreSQLServer::TDataStoreSQLServer() : d(std::make_unique<Impl>()) {
#ifdef _WIN32
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
#endif
  Query = &d->Query;
  Connection = &d->Connection;
}

TDataStoreSQLServer::~TDataStoreSQLServer() {
  d.reset();
#ifdef _WIN32
  CoUninitialize();
#endif
}

void TDataStoreSQLServer::AddError(const QString& text) {
  Errors << text;
}

void TDataStoreSQLServer::HandleInfoMessage(const QString& text) {
  if (!text.isEmpty()) InfoMessages << text;
}

bool TDataStoreSQLServer::InitWithConnProps(TSQLConnectionProperties Props) {
  Errors.clear();
  d->Connection.Close();
  Connected = false;
  try {
    d->Settings = ApplyConnectionProperties(d->Connection, Props, QLatin1String(kApplicationName));
    TLoginEnd end = TLoginEnd::DriverFailed;
    d->LastLoginEnd = end;
    HandleInfoMessage(JoinDiagnostics(
        Open(d->Connection, *d->Settings, LoginLimits, &d->LoginCancel, &end), true));
    d->LastLoginEnd = end;
    Connected = true;
    const QString version = d->Connection.DbmsVersion();
    ServerVersion = version;
    if (const std::optional<int> major = ::ServerMajorVersion(version)) {
      IsSQL2005OrNewer = *major >= 9;
      ServerMajorVersion = *major;
    }
  } catch (const std::exception& e) {
    AddError(ErrorText(e));
  }
  return Errors.isEmpty();
}

bool TDataStoreSQLServer::TestConnection(TSQLConnectionProperties Props) {
  TLoginEnd end = TLoginEnd::DriverFailed;
  const bool passed = TestConnection(std::move(Props), &d->LoginCancel, &end);
  d->LastLoginEnd = end;
  return passed;
}

bool TDataStoreSQLServer::TestConnection(TSQLConnectionProperties Props, const TLoginCancel* cancel,
                                         TLoginEnd* end) {
  Errors.clear();
  if (end) *end = TLoginEnd::DriverFailed;
  try {
    // The client's defaults: no application name and no message handler.
    TOdbcConnection temporary;
    Open(temporary, ApplyConnectionProperties(temporary, Props, QString()), LoginLimits, cancel,
         end);
    return true;
  } catch (const std::exception& e) {
    Errors << Tr("Error connecting to database (%1) on instance (%2): %3")
                  .arg(Props.Database, Props.Instance, ErrorText(e));
    return false;
  }
}

bool TDataStoreSQLServer::ExecuteStatement(const QString& Text) {
  d->StatementText = Text;
  return ExecuteSQL();
}

bool TDataStoreSQLServer::ExecuteSQL() {
  InfoMessages.clear();
  return Run(d->StatementText, false);
}

bool TDataStoreSQLServer::RunQuery(const QString& Text) {
  Errors.clear();
  d->QueryText = Text;
  return OpenQuery();
}

bool TDataStoreSQLServer::OpenQuery() {
  InfoMessages.clear();
  d->Query.Close();
  return Run(d->QueryText, true);
}

void TDataStoreSQLServer::SetQueryTimeout(int seconds) {
  d->QueryTimeout = std::max(0, seconds);
}

int TDataStoreSQLServer::QueryTimeout() const {
  return d->QueryTimeout;
}

void TDataStoreSQLServer::SetLoginTimeout(int seconds) {
  LoginLimits.Deadline = std::chrono::seconds(seconds > 0 ? seconds : kDefaultLoginTimeoutSeconds);
}

void TDataStoreSQLServer::Cancel() {
  const std::lock_guard lock(d->ActiveLock);
  d->Cancelled = true;
  d->LoginCancel.Cancel();
  if (d->Active != SQL_NULL_HSTMT) SQLCancel(d->Active);
}

void TDataStoreSQLServer::ResetCancel() {
  const std::lock_guard lock(d->ActiveLock);
  d->Cancelled = false;
  d->LoginCancel.Reset();
}

TLoginEnd TDataStoreSQLServer::LastLoginEnd() const {
  return d->LastLoginEnd;
}

namespace {
// Registers a statement as the one that runs, for Cancel; refuses it after a cancel.
class TActiveStatement {
public:
  TActiveStatement(std::mutex& lock, SQLHSTMT& active, const bool& cancelled, SQLHSTMT stmt)
      : m_lock(lock), m_active(active) {
    const std::lock_guard guard(m_lock);
    if (cancelled) {
      const QString text = Tr("Operation canceled");
      throw TOdbcError(text, {TOdbcDiagRecord{QStringLiteral("HY008"), 0, text}});
    }
    m_active = stmt;
  }
  ~TActiveStatement() {
    const std::lock_guard guard(m_lock);
    m_active = SQL_NULL_HSTMT;
  }
  TActiveStatement(const TActiveStatement&) = delete;
  TActiveStatement& operator=(const TActiveStatement&) = delete;

private:
  std::mutex& m_lock;
  SQLHSTMT& m_active;
};
} // namespace

bool TDataStoreSQLServer::Run(const QString& text, bool openResult) {
  std::vector<TOdbcDiagRecord> info;
  bool ok = true;
  LastFailure.clear();
  try {
    d->EnsureOpen(info, LoginLimits);
    TOdbcStatement statement(d->Connection);
    const SQLHSTMT stmt = statement.Handle();
    if (const int timeout = d->QueryTimeout; timeout > 0)
      OdbcCheck(SQLSetStmtAttrW(stmt, SQL_ATTR_QUERY_TIMEOUT,
                                reinterpret_cast<SQLPOINTER>(SQLULEN(timeout)), 0),
                SQL_HANDLE_STMT, stmt, "SQLSetStmtAttr");
    const TActiveStatement active(d->ActiveLock, d->Active, d->Cancelled, stmt);
    SQLRETURN rc = SQLExecDirectW(stmt, const_cast<SQLWCHAR*>(ToSqlW(text)), SQL_NTS);
    // Every result of the batch is walked, so that its messages and errors are seen; the first
    // one with columns is the query's.
    for (;;) {
      if (rc == SQL_NO_DATA) {
        Append(info, CollectDiagnostics(SQL_HANDLE_STMT, stmt));
        break;
      }
      if (!OdbcSucceeded(rc)) ThrowStatementFailure(stmt);
      if (rc == SQL_SUCCESS_WITH_INFO) Append(info, CollectDiagnostics(SQL_HANDLE_STMT, stmt));
      SQLSMALLINT columns = 0;
      OdbcCheck(SQLNumResultCols(stmt, &columns), SQL_HANDLE_STMT, stmt, "SQLNumResultCols");
      if (columns > 0 && openResult && !d->Query.Active())
        TResultSetBuilder::Fetch(stmt, d->Query, info);
      rc = SQLMoreResults(stmt);
    }
  } catch (const std::exception& e) {
    if (openResult) d->Query.Close();
    AddError(ErrorText(e));
    if (const auto* odbc = dynamic_cast<const TOdbcError*>(&e)) LastFailure = odbc->Records();
    if (LastFailure.empty()) LastFailure.push_back({QString(), 0, ErrorText(e)});
    // Drivers do not always say so in the SQLSTATE (FreeTDS: HY000 "Unknown error" when the
    // server went away between statements); the connection itself knows.
    if (d->Connection.IsDead())
      LastFailure.push_back({QStringLiteral("08S01"), 0, Tr("The connection is broken.")});
    ok = false;
  }
  HandleInfoMessage(JoinDiagnostics(info, true));
  return ok;
}

QString TDataStoreSQLServer::GetServerVersionName() {
  std::vector<TOdbcDiagRecord> info;
  d->EnsureOpen(info, LoginLimits);
  HandleInfoMessage(JoinDiagnostics(info, true));
  return ServerVersionName(d->Connection.DbmsVersion());
}
