#include "session/uLogReader.h"

#include "datastore/uLogQueries.h"

#include <QCoreApplication>
#include <QSet>

namespace {

QString Tr(const char* text) {
  return QCoreApplication::translate("TLogReader", text);
}

bool HasState(const std::vector<TOdbcDiagRecord>& records, QLatin1String prefix) {
  for (const TOdbcDiagRecord& r : records)
    if (r.State.startsWith(prefix)) return true;
  return false;
}

// FreeTDS reports a connection that broke under a statement with its own message numbers and a
// SQLSTATE of 01000 or HY000 rather than 08S01: 20004 read failed, 20006 write failed, 20017
// unexpected EOF, 20020 a token out of sync (it closes the socket), 20047 connection dead.
bool IsClientConnectionFailure(const std::vector<TOdbcDiagRecord>& records) {
  static const QSet<int> numbers = {20004, 20006, 20017, 20020, 20047};
  for (const TOdbcDiagRecord& r : records)
    if (numbers.contains(int(r.Native)) &&
        (r.State.startsWith(QLatin1String("01")) || r.State.startsWith(QLatin1String("HY"))))
      return true;
  return false;
}

// Why a database cannot be used, by the error that USE (or a statement in it) answered.
QString UnavailableText(int error) {
  switch (error) {
  case 942:
    return Tr("The database is offline.");
  case 927:
    return Tr("The database is being restored.");
  case 922:
    return Tr("The database is being recovered.");
  case 926:
    return Tr("The database is marked suspect.");
  case 911:
    return Tr("The database does not exist.");
  case 924:
    return Tr("The database is in single-user mode and someone else uses it.");
  case 952:
    return Tr("The database is changing its state.");
  default:
    return Tr("The database is not available (error %1).").arg(error);
  }
}

bool IsPermissionError(int error) {
  // 229/230 object and column, 262/297/300 statement and server state, 916 database access,
  // 2571 DBCC.
  static const QSet<int> errors = {229, 230, 262, 297, 300, 916, 2571};
  return errors.contains(error);
}

bool IsUnavailableError(int error) {
  static const QSet<int> errors = {911, 922, 924, 926, 927, 942, 945, 950, 952};
  return errors.contains(error);
}

QString FirstText(TResultSet& q) {
  if (!q.Active() || q.FieldCount() < 1 || q.RecordCount() < 1) return {};
  q.First();
  return q.AsString(0);
}

} // namespace

TOutcome TOutcome::Cancelled() {
  TOutcome o;
  o.Kind = TOutcomeKind::Cancelled;
  o.SqlState = QStringLiteral("HY008");
  o.Text = Tr("Loading was cancelled.");
  return o;
}

TOutcome TOutcome::ConnectionLost() {
  TOutcome o;
  o.Kind = TOutcomeKind::ConnectionLost;
  o.Text = Tr("The connection to the server was lost.");
  return o;
}

TOutcome ClassifyFailure(const std::vector<TOdbcDiagRecord>& records, const QString& errorText,
                         const char* action, const char* needs, int timeoutSeconds) {
  TOutcome o;
  o.ServerText = errorText;
  for (const TOdbcDiagRecord& r : records)
    if (r.Native != 0 && o.ServerError == 0) {
      o.ServerError = int(r.Native);
      o.SqlState = r.State;
    }
  if (o.SqlState.isEmpty() && !records.empty()) o.SqlState = records.front().State;

  if (HasState(records, QLatin1String("08")) || IsClientConnectionFailure(records)) {
    const QString text = o.ServerText;
    o = TOutcome::ConnectionLost();
    o.ServerText = text;
    return o;
  }
  if (HasState(records, QLatin1String("HYT0"))) {
    o.Kind = TOutcomeKind::TimedOut;
    o.Text =
        timeoutSeconds > 0
            ? Tr("The server did not answer within the query time-out (%1 s).").arg(timeoutSeconds)
            : Tr("The server did not answer in time.");
    return o;
  }
  if (HasState(records, QLatin1String("HY008"))) {
    const QString text = o.ServerText;
    o = TOutcome::Cancelled();
    o.ServerText = text;
    return o;
  }
  if (IsPermissionError(o.ServerError)) {
    o.Kind = TOutcomeKind::NotPermitted;
    const QString what = action ? Tr(action) : Tr("run this statement");
    o.Text = needs ? Tr("This login may not %1 (error %2): it needs %3.")
                         .arg(what)
                         .arg(o.ServerError)
                         .arg(Tr(needs))
                   : Tr("This login may not %1 (error %2).").arg(what).arg(o.ServerError);
    return o;
  }
  if (IsUnavailableError(o.ServerError)) {
    o.Kind = TOutcomeKind::Unavailable;
    o.Text = UnavailableText(o.ServerError);
    return o;
  }
  o.Kind = TOutcomeKind::Failed;
  o.Text = o.ServerError ? Tr("The server reported error %1: %2").arg(o.ServerError).arg(errorText)
                         : Tr("The statement failed: %1").arg(errorText);
  return o;
}

TStatementSet StatementsFor(int majorVersion, int build) {
  TStatementSet s;
  s.Version = QStringLiteral("SELECT SERVERPROPERTY('ProductVersion'), SERVERPROPERTY('Edition')");
  s.DatabaseList = QStringLiteral("SELECT name, status FROM master..sysdatabases ORDER BY name");
  s.LogSpace = QStringLiteral("DBCC SQLPERF(LOGSPACE)");
  s.Use = QStringLiteral("USE %1");
  s.VLFs = QStringLiteral("DBCC LOGINFO");
  s.OpenTran = QStringLiteral("DBCC OPENTRAN");
  s.LogFiles = QStringLiteral("SELECT * FROM sysfiles WHERE (status & 64) = 64");
  s.Recovery = QStringLiteral("SELECT DATABASEPROPERTYEX(N'%1', 'RECOVERY')");
  // Three blanks before AND, as the statement has always been sent.
  s.LastLogBackup = QStringLiteral("SELECT TOP 1 a.backup_finish_date FROM msdb..backupset a "
                                   "WHERE a.database_name = N'%1'   AND a.type = 'L' ORDER BY "
                                   "a.backup_finish_date DESC");
  // sys.databases came with SQL Server 2005 (9).
  if (majorVersion >= 9) {
    s.ReuseWait =
        QStringLiteral("SELECT log_reuse_wait_desc FROM sys.databases WHERE name = N'%1'");
    s.Databases = LogQueries::Databases();
    s.LastLogBackups = LogQueries::LastLogBackups();
  }
  // sys.dm_db_log_stats and sys.dm_db_log_info came with 2016 SP2 (13.0.5026).
  if (LogQueries::HasLogDmvs(QStringLiteral("%1.0.%2").arg(majorVersion).arg(build))) {
    s.LogStats = LogQueries::LogStats();
    s.LogInfoView = LogQueries::LogInfo();
  }
  return s;
}

TLogReader::TLogReader(TLogReaderSettings settings)
    : m_settings(std::move(settings)), m_store(std::make_unique<TDataStoreSQLServer>()),
      m_statements(StatementsFor(0)) {
  if (!m_settings.Clock) m_settings.Clock = [] { return QDateTime::currentDateTime(); };
  m_store->SetQueryTimeout(m_settings.QueryTimeoutSeconds);
  m_store->SetLoginTimeout(m_settings.LoginTimeoutSeconds);
}

TLogReader::~TLogReader() = default;

void TLogReader::SetStatementObserver(std::function<void(const QString&)> observer) {
  m_observer = std::move(observer);
}

void TLogReader::Cancel() {
  m_store->Cancel();
}

void TLogReader::ResetCancel() {
  m_store->ResetCancel();
}

bool TLogReader::IsConnected() const {
  return m_store->Connected && !m_lost;
}

TConnectionTest TLogReader::TestConnection(const TSQLConnectionProperties& props) {
  TConnectionTest test;
  test.Passed = m_store->TestConnection(props);
  test.Cancelled = !test.Passed && m_store->LastLoginEnd() == TLoginEnd::Canceled;
  test.Errors = m_store->Errors;
  return test;
}

TConnectSnapshot TLogReader::Connect(const TSQLConnectionProperties& props) {
  m_props = props;
  m_hasProps = true;
  return Open(true);
}

TConnectSnapshot TLogReader::Reconnect() {
  return Open(false);
}

TConnectSnapshot TLogReader::Open(bool readVersion) {
  TConnectSnapshot snapshot;
  if (!m_hasProps) {
    snapshot.Outcome.Kind = TOutcomeKind::Failed;
    snapshot.Outcome.Text = Tr("No server has been chosen yet.");
    return snapshot;
  }
  if (!m_store->InitWithConnProps(m_props)) {
    snapshot.Errors = m_store->Errors;
    snapshot.Outcome.Kind = TOutcomeKind::Failed;
    snapshot.Outcome.ServerText = m_store->Errors.join(QStringLiteral("\r\n"));
    snapshot.Outcome.Text =
        Tr("Could not connect to the server: %1").arg(snapshot.Outcome.ServerText);
    return snapshot;
  }
  m_lost = false;
  m_statements = StatementsFor(m_store->ServerMajorVersion,
                               m_store->ServerVersion.section(QLatin1Char('.'), 2, 2).toInt());
  if (!readVersion) return snapshot;

  snapshot.VersionOutcome = Run(TKind::Query, m_statements.Version, "read the server's version");
  if (snapshot.VersionOutcome.IsOk()) {
    TResultSet& q = *m_store->Query;
    if (q.Active() && q.FieldCount() >= 2 && q.RecordCount() > 0) {
      q.First();
      snapshot.Edition = q.AsString(1);
    }
    try {
      snapshot.VersionName = m_store->GetServerVersionName();
    } catch (const std::exception& e) {
      snapshot.VersionOutcome.Kind = TOutcomeKind::Failed;
      snapshot.VersionOutcome.ServerText = QString::fromUtf8(e.what());
      snapshot.VersionOutcome.Text = snapshot.VersionOutcome.ServerText;
    }
  }
  return snapshot;
}

TOutcome TLogReader::Run(TKind kind, const QString& text, const char* action, const char* needs) {
  if (m_lost) return TOutcome::ConnectionLost();
  if (m_observer) m_observer(text);
  const bool ok = kind == TKind::Query ? m_store->RunQuery(text) : m_store->ExecuteStatement(text);
  if (ok) return {};
  TOutcome o =
      ClassifyFailure(m_store->LastFailure, m_store->Errors.value(m_store->Errors.size() - 1),
                      action, needs, m_settings.QueryTimeoutSeconds);
  if (o.Kind == TOutcomeKind::ConnectionLost) m_lost = true;
  return o;
}

TOutcome TLogReader::RunQuery(const QString& text, const char* action, const char* needs,
                              const std::function<void(TResultSet&)>& rows) {
  TOutcome o = Run(TKind::Query, text, action, needs);
  if (o.IsOk() && rows && m_store->Query->Active()) rows(*m_store->Query);
  return o;
}

TLogSpaceSnapshot TLogReader::ReadLogSpace() {
  TLogSpaceSnapshot snapshot;
  snapshot.Outcome =
      Run(TKind::Query, m_statements.LogSpace, "run DBCC SQLPERF(LOGSPACE)", "VIEW SERVER STATE");
  if (!snapshot.Outcome.IsOk()) return snapshot;
  snapshot.ReadAt = m_settings.Clock();
  TResultSet& q = *m_store->Query;
  if (!q.Active() || q.FieldCount() < 3) return snapshot;
  // A result of another shape is not read at all.
  const TFieldKind k0 = q.FieldKind(0);
  if ((k0 != TFieldKind::Text && k0 != TFieldKind::UnicodeText) ||
      q.FieldKind(1) != TFieldKind::Float || q.FieldKind(2) != TFieldKind::Float)
    return snapshot;
  snapshot.Rows.reserve(q.RecordCount());
  for (q.First(); !q.Eof(); q.Next())
    snapshot.Rows.push_back({q.TextView(0).toString(), q.AsFloat(1), q.AsFloat(2)});
  return snapshot;
}

TOverviewSnapshot TLogReader::ReadOverview() {
  TOverviewSnapshot snapshot;
  snapshot.Outcome =
      Run(TKind::Query, m_statements.DatabaseList, "read the list of databases (sysdatabases)");
  if (snapshot.Outcome.IsOk()) {
    TResultSet& q = *m_store->Query;
    const int name = q.Active() ? q.FieldIndex(QStringLiteral("name")) : -1;
    const int status = q.Active() ? q.FieldIndex(QStringLiteral("status")) : -1;
    if (name >= 0 && status >= 0) {
      snapshot.Databases.reserve(q.RecordCount());
      for (q.First(); !q.Eof(); q.Next())
        snapshot.Databases.push_back({q.AsString(name), q.AsInteger(status)});
    }
  }
  // The figures are read whatever the list gave, as they always were.
  snapshot.LogSpace = ReadLogSpace();
  snapshot.Health = ReadLogHealth();
  return snapshot;
}

TDetailsSnapshot TLogReader::ReadDetails(const QString& database, TLogSpaceSnapshot* logSpace) {
  TDetailsSnapshot d;
  d.Database = database;
  const QString literal = QuoteSQLString(database);
  d.DatabaseOutcome = Run(TKind::Statement, m_statements.Use.arg(QuoteSQLIdentifier(database)),
                          "open the database");
  if (!d.DatabaseOutcome.IsOk()) {
    // Nothing else is sent: every part says why it is empty.
    d.VLFs.Outcome = d.OpenTran.Outcome = d.Files.Outcome = d.DatabaseOutcome;
    d.Summary.RecoveryOutcome = d.Summary.BackupOutcome = d.Summary.ReuseWaitOutcome =
        d.DatabaseOutcome;
    d.Summary.ReuseWaitAvailable = !m_statements.ReuseWait.isEmpty();
    if (logSpace) logSpace->Outcome = d.DatabaseOutcome;
    return d;
  }
  if (logSpace) *logSpace = ReadLogSpace();

  d.VLFs.Outcome = Run(TKind::Query, m_statements.VLFs, "run DBCC LOGINFO", "sysadmin");
  if (d.VLFs.Outcome.IsOk() && m_store->Query->Active())
    d.VLFs.Columns = m_store->Query->TakeColumnData();
  else if (d.VLFs.Outcome.Kind == TOutcomeKind::NotPermitted && !m_statements.LogInfoView.isEmpty())
    ReadVLFsFromView(d.VLFs, TOutcome(d.VLFs.Outcome));

  d.OpenTran.Outcome =
      Run(TKind::Query, m_statements.OpenTran, "run DBCC OPENTRAN", "sysadmin or db_owner");
  if (d.OpenTran.Outcome.IsOk()) d.OpenTran.InfoMessages = m_store->InfoMessages;

  d.Files.Outcome = Run(TKind::Query, m_statements.LogFiles, "read the log files (sysfiles)");
  if (d.Files.Outcome.IsOk() && m_store->Query->Active()) {
    TResultSet& q = *m_store->Query;
    d.Files.Rows.reserve(q.RecordCount());
    try {
      for (q.First(); !q.Eof(); q.Next()) {
        TLogFileRow r;
        r.FileId = q.AsInteger(QStringLiteral("fileid"));
        r.FileName = q.AsString(QStringLiteral("filename"));
        r.SizePages = q.AsLargeInt(QStringLiteral("size"));
        r.MaxSizePages = q.AsLargeInt(QStringLiteral("maxsize"));
        r.Growth = q.AsInteger(QStringLiteral("growth"));
        r.Status = q.AsInteger(QStringLiteral("status"));
        r.Name = q.AsString(QStringLiteral("name"));
        d.Files.Rows.push_back(std::move(r));
      }
    } catch (const std::out_of_range& e) {
      d.Files.Rows.clear();
      d.Files.Outcome.Kind = TOutcomeKind::Failed;
      d.Files.Outcome.ServerText = QString::fromUtf8(e.what());
      d.Files.Outcome.Text =
          Tr("The server's list of log files lacks a column: %1").arg(d.Files.Outcome.ServerText);
    }
  }

  TSummaryPart& s = d.Summary;
  s.RecoveryOutcome = Run(TKind::Query, m_statements.Recovery.arg(literal),
                          "read the recovery model (DATABASEPROPERTYEX)");
  if (s.RecoveryOutcome.IsOk()) s.RecoveryModel = FirstText(*m_store->Query);

  s.BackupOutcome = Run(TKind::Query, m_statements.LastLogBackup.arg(literal),
                        "read the backup history (msdb..backupset)");
  if (s.BackupOutcome.IsOk()) {
    TResultSet& r = *m_store->Query;
    if (r.Active() && r.RecordCount() == 1 && r.FieldCount() >= 1) {
      r.First();
      s.HasLogBackup = true;
      s.LastLogBackup = r.AsDateTime(0);
    }
  }

  s.ReuseWaitAvailable = !m_statements.ReuseWait.isEmpty();
  if (s.ReuseWaitAvailable) {
    s.ReuseWaitOutcome = Run(TKind::Query, m_statements.ReuseWait.arg(literal),
                             "read the log reuse wait (sys.databases)");
    if (s.ReuseWaitOutcome.IsOk()) s.LogReuseWait = FirstText(*m_store->Query);
  }
  return d;
}
