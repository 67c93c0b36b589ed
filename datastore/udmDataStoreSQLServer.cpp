#include "datastore/udmDataStoreSQLServer.h"

#include "datastore/uOdbc.h"
#include "datastore/uOdbcConnectionString.h"
#include "datastore/uResultSetBuilder.h"
#include "datastore/uServerVersion.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>

#ifndef _WIN32
#include <unistd.h>
#endif

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
  return BuildConnectionString(props, MachineClientSetup(*target.Environment()), applicationName);
}

std::vector<TOdbcDiagRecord> Open(TOdbcConnection& connection,
                                  const TOdbcConnectionString& settings, const TLoginLimits& limits,
                                  const TLoginCancel* cancel = nullptr, TLoginEnd* end = nullptr) {
  if (!settings.Error.isEmpty()) throw TOdbcError(settings.Error);
  if (!settings.FreeTdsSectionName.isEmpty()) {
    QString error;
    if (!TFreeTdsPrivateConf::Instance().Ensure(settings.FreeTdsSectionName,
                                                settings.FreeTdsSectionText, &error))
      throw TOdbcError(
          Tr("Velmora cannot write its settings for the FreeTDS driver: %1").arg(error));
  }
  return OpenWithinLimits(connection, settings.Text, settings.Host, limits, cancel, end);
}

// The text of a caught failure: all lines of the driver's records, or the error's own message.
QString ErrorText(const std::exception& e) {
  if (const auto* odbc = dynamic_cast<const TOdbcError*>(&e)) return odbc->Text();
  return QString::fromUtf8(e.what());
}

// A failed login: the driver's lines with their error numbers, and what to check where the
// cause is known.
QString ConnectFailureText(const std::exception& e, const TSQLConnectionProperties& props) {
  const auto* odbc = dynamic_cast<const TOdbcError*>(&e);
  if (!odbc || odbc->Records().empty()) return ErrorText(e);
  QString text = JoinErrorDiagnostics(odbc->Records());
  const QString advice = ConnectFailureAdvice(props, odbc->Records());
  if (!advice.isEmpty()) text += QStringLiteral("\r\n\r\n") + advice;
  return text;
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

TClientSetup MachineClientSetup(const TOdbcEnvironment& environment) {
  TClientSetup setup;
  for (const TOdbcEnvironment::TDriver& d : environment.InstalledDriverInfo())
    setup.Drivers << TOdbcDriverInfo{d.Name, d.Library};
  setup.FreeTds = TFreeTdsConfig::Load(TFreeTdsSearch::FromEnvironment().Files());
  setup.DsnValue = &OdbcDataSourceValue;
  return setup;
}

QList<TOdbcDriverInfo> InstalledSqlServerDrivers() {
  try {
    const TOdbcEnvironment environment;
    QList<TOdbcDriverInfo> drivers;
    for (const TOdbcEnvironment::TDriver& d : environment.InstalledDriverInfo())
      drivers << TOdbcDriverInfo{d.Name, d.Library};
    return SqlServerDrivers(drivers, kOdbcOnWindows);
  } catch (const std::exception&) {
    return {}; // no driver manager: "(auto)" alone, and the connection test says why
  }
}

QString DescribeDriver(const TOdbcConnection& connection, const QString& registeredName) {
  const QString library = connection.InfoText(SQL_DRIVER_NAME);
  const QString version = connection.InfoText(SQL_DRIVER_VER);
  QString text = registeredName.isEmpty() ? library : registeredName;
  if (!version.isEmpty()) text += u' ' + version;
  if (!library.isEmpty() && library != registeredName) text += QStringLiteral(" (%1)").arg(library);
  return text;
}

bool HasKerberosTicket() {
#ifdef _WIN32
  return true;
#else
  // klist -s says it without output; without klist, the default credentials cache must exist.
  QProcess klist;
  klist.start(QStringLiteral("klist"), {QStringLiteral("-s")});
  if (klist.waitForStarted(2000)) {
    if (klist.waitForFinished(5000))
      return klist.exitStatus() == QProcess::NormalExit && klist.exitCode() == 0;
    klist.kill();
    klist.waitForFinished(1000);
    return true; // no verdict: say nothing
  }
  QString cache = qEnvironmentVariable("KRB5CCNAME");
  if (cache.isEmpty()) cache = QStringLiteral("FILE:/tmp/krb5cc_%1").arg(::getuid());
  if (!cache.startsWith(QLatin1String("FILE:"))) return true; // a kind we cannot look into
  return QFileInfo::exists(cache.mid(5));
#endif
}

QString ConnectFailureAdvice(const TSQLConnectionProperties& props,
                             const std::vector<TOdbcDiagRecord>& records,
                             const std::function<bool()>& hasKerberosTicket) {
  QStringList advice;
  const bool loginFailed = std::any_of(records.begin(), records.end(),
                                       [](const TOdbcDiagRecord& r) { return r.Native == 18456; });
  if (loginFailed && !props.SQLLogin.isEmpty())
    advice << Tr("What to check: the login name and its password (passwords are case-sensitive); "
                 "that the login exists on this server and is enabled; that the server accepts "
                 "SQL Server authentication (mixed mode); and that the login may open the "
                 "database. The server's error log gives the reason as the error's state.");
  else if (loginFailed)
    advice << Tr("What to check: that your Windows account has a login on this server, and that "
                 "it may open the database. The server's error log gives the reason.");
  if (props.SQLLogin.isEmpty() && !kOdbcOnWindows &&
      !(hasKerberosTicket ? hasKerberosTicket() : HasKerberosTicket()))
    advice << Tr("Windows authentication from Linux needs a Kerberos ticket, and there is none. "
                 "Get one in a terminal with \"kinit user@EXAMPLE.COM\" (your Windows account and "
                 "its domain in capitals), then connect again; or choose SQL Server "
                 "authentication.");
  return advice.join(QStringLiteral("\r\n\r\n"));
}

std::optional<TTlsProbeRequest> CertificateProbeFor(const TSQLConnectionProperties& props,
                                                    const TClientSetup& setup) {
  TTlsProbeRequest q;
  q.Strict = props.Encryption == TEncryption::Strict;
  q.CAFile = props.CAFile;
  q.ServerCertificate = props.ServerCertificate;
  q.HostNameInCertificate = props.HostNameInCertificate;
  if (props.Kind == TServerKind::Address) {
    TServerAddress a;
    QString error;
    if (!ParseServerName(props.Instance, a, error)) return std::nullopt;
    if (!a.Instance.isEmpty() && a.Port == 0) return std::nullopt;
    q.Host = a.Host;
    q.Port = quint16(a.Port ? a.Port : 1433);
  } else if (props.Kind == TServerKind::FreeTdsName) {
    const TFreeTdsConfig::TResolved conf = setup.FreeTds.Resolve(props.Instance.trimmed());
    const std::optional<QString> host = FreeTdsValue(conf.Options, QStringLiteral("host"));
    if (!host || FreeTdsValue(conf.Options, QStringLiteral("instance"))) return std::nullopt;
    q.Host = *host;
    q.Port = quint16(FreeTdsValue(conf.Options, QStringLiteral("port")).value_or("1433").toUInt());
    if (q.CAFile.isEmpty() && q.ServerCertificate.isEmpty())
      q.CAFile = FreeTdsValue(conf.Options, QStringLiteral("ca file")).value_or(QString());
    if (q.CAFile == QLatin1String("system")) q.CAFile.clear();
  } else {
    return std::nullopt;
  }
  return q;
}

namespace {

// After a failed login with the certificate checked: looks at what the server presents, and
// when that is the reason, says so in plain words and what to do.
std::optional<TTlsProbeResult> ExplainCertificate(const TSQLConnectionProperties& props,
                                                  const std::exception& e,
                                                  const TOdbcEnvironment& environment,
                                                  QString& text) {
  const auto* odbc = dynamic_cast<const TOdbcError*>(&e);
  if (!odbc || props.TrustServerCertificate) return std::nullopt;
  // A server message (a refused login, a database that cannot be opened) means TLS got through;
  // the client's own messages (FreeTDS numbers them from 20000) do not.
  for (const TOdbcDiagRecord& r : odbc->Records())
    if (r.Native > 0 && r.Native < 20000) return std::nullopt;
  const std::optional<TTlsProbeRequest> q =
      CertificateProbeFor(props, MachineClientSetup(environment));
  if (!q) return std::nullopt;
  TTlsProbeResult r = ProbeServerCertificate(*q);
  if (r.Outcome == TTlsProbeResult::TOutcome::Untrusted) {
    text += QStringLiteral("\r\n\r\n") + r.Reason + u' ' +
            Tr("If the server should have a certificate you trust, ask its administrator, or give "
               "the CA's file. If you know this is the right server, you can trust this one "
               "certificate for this connection (fingerprint SHA-256 %1).")
                .arg(r.Sha256);
    return r;
  }
  if (r.Outcome == TTlsProbeResult::TOutcome::NoEncryption) {
    // The login failed although the server would have taken it in clear: encryption was
    // required, by this connection's choice or by the driver's configuration.
    text += QStringLiteral("\r\n\r\n") + r.Reason + u' ' +
            (props.Encryption == TEncryption::Optional
                 ? Tr("The driver's configuration (freetds.conf) requires encryption, so the "
                      "login is not sent in clear. Ask the server's administrator to give SQL "
                      "Server a certificate.")
                 : Tr("With Mandatory encryption Velmora does not send the login in clear. Ask the "
                      "server's administrator to give SQL Server a certificate, or choose Optional "
                      "if clear text on this network is acceptable."));
    return r;
  }
  return std::nullopt;
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
  CertificateProblem.reset();
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
    DriverInUse = DescribeDriver(d->Connection, d->Settings->Driver);
    const QString version = d->Connection.DbmsVersion();
    ServerVersion = version;
    if (const std::optional<int> major = ::ServerMajorVersion(version)) {
      IsSQL2005OrNewer = *major >= 9;
      ServerMajorVersion = *major;
    }
  } catch (const std::exception& e) {
    if (Connected) {
      AddError(ErrorText(e));
    } else {
      QString text = ConnectFailureText(e, Props);
      CertificateProblem = ExplainCertificate(Props, e, *d->Connection.Environment(), text);
      AddError(text);
    }
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
  CertificateProblem.reset();
  try {
    // The client's defaults: no application name and no message handler.
    TOdbcConnection temporary;
    const TOdbcConnectionString settings = ApplyConnectionProperties(temporary, Props, QString());
    Open(temporary, settings, LoginLimits, cancel, end);
    TestedDriver = DescribeDriver(temporary, settings.Driver);
    return true;
  } catch (const std::exception& e) {
    QString text = ConnectFailureText(e, Props);
    TOdbcEnvironment environment;
    CertificateProblem = ExplainCertificate(Props, e, environment, text);
    Errors << Tr("Error connecting to database (%1) on instance (%2): %3")
                  .arg(Props.Database, Props.Instance, text);
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
