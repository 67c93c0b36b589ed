// The parts of TLogReader that read the log health of every database at once and the VLF list
// from sys.dm_db_log_info.

#include "session/uLogReader.h"

#include <QCoreApplication>

namespace {

QString Tr(const char* text) {
  return QCoreApplication::translate("TLogReader", text);
}

// The log stats give 1900-01-01 for a database never backed up.
bool IsNever(const QDateTime& t) {
  return !t.isValid() || t.date().year() <= 1900;
}

// A result whose columns are not those asked for is treated as a failure of its source.
TOutcome Unexpected(const char* source) {
  TOutcome o;
  o.Kind = TOutcomeKind::Failed;
  o.Text = Tr("The server's answer from %1 lacks a column.").arg(QLatin1String(source));
  return o;
}

} // namespace

TLogHealthSnapshot TLogReader::ReadLogHealth() {
  TLogHealthSnapshot s;
  s.ServerVersion = m_store->ServerVersion;
  // SQL Server 2000 has none of these views; its overview keeps the columns it always had.
  if (!m_statements.Databases.isEmpty()) {
    s.Databases.Supported = true;
    s.Databases.Outcome =
        Run(TKind::Query, m_statements.Databases, "read the list of databases (sys.databases)");
    if (s.Databases.Outcome.IsOk() && m_store->Query->Active()) {
      TResultSet& q = *m_store->Query;
      const int name = q.FieldIndex(QStringLiteral("name"));
      const int state = q.FieldIndex(QStringLiteral("state"));
      const int recovery = q.FieldIndex(QStringLiteral("recovery_model_desc"));
      const int wait = q.FieldIndex(QStringLiteral("log_reuse_wait"));
      const int waitDesc = q.FieldIndex(QStringLiteral("log_reuse_wait_desc"));
      const int now = q.FieldIndex(QStringLiteral("server_time"));
      if (name < 0 || recovery < 0 || waitDesc < 0) {
        s.Databases.Outcome = Unexpected("sys.databases");
      } else {
        for (q.First(); !q.Eof(); q.Next()) {
          TLogHealthRow& row = s.Rows[q.AsString(name)];
          row.InCatalog = true;
          row.State = state >= 0 ? q.AsInteger(state) : 0;
          row.RecoveryModel = q.AsString(recovery);
          if (wait >= 0 && !q.IsNull(wait)) row.ReuseWait = q.AsInteger(wait);
          row.ReuseWaitDesc = q.AsString(waitDesc);
          if (now >= 0 && !s.ServerTime.isValid()) s.ServerTime = q.AsDateTime(now);
        }
      }
    }
  }
  if (!m_statements.LastLogBackups.isEmpty()) {
    s.Backups.Supported = true;
    s.Backups.Outcome =
        Run(TKind::Query, m_statements.LastLogBackups,
            "read the backup history (msdb.dbo.backupset)", "SELECT on msdb.dbo.backupset");
    if (s.Backups.Outcome.IsOk() && m_store->Query->Active()) {
      TResultSet& q = *m_store->Query;
      const int name = q.FieldIndex(QStringLiteral("database_name"));
      const int last = q.FieldIndex(QStringLiteral("last_log_backup"));
      if (name < 0 || last < 0) {
        s.Backups.Outcome = Unexpected("msdb.dbo.backupset");
      } else {
        // A database msdb has no log backup of was never log-backed-up.
        for (TLogHealthRow& row : s.Rows)
          row.LogBackupKnown = true;
        for (q.First(); !q.Eof(); q.Next()) {
          TLogHealthRow& row = s.Rows[q.AsString(name)];
          row.LogBackupKnown = true;
          row.LastLogBackup = q.IsNull(last) ? QDateTime() : q.AsDateTime(last);
        }
      }
    }
  }
  if (!m_statements.LogStats.isEmpty()) {
    s.Stats.Supported = true;
    s.Stats.Outcome = Run(
        TKind::Query, m_statements.LogStats, "read the log statistics (sys.dm_db_log_stats)",
        m_store->ServerMajorVersion >= 16 ? "VIEW SERVER PERFORMANCE STATE" : "VIEW SERVER STATE");
    if (s.Stats.Outcome.IsOk() && m_store->Query->Active()) {
      TResultSet& q = *m_store->Query;
      const int name = q.FieldIndex(QStringLiteral("name"));
      const int total = q.FieldIndex(QStringLiteral("total_vlf_count"));
      const int active = q.FieldIndex(QStringLiteral("active_vlf_count"));
      const int backup = q.FieldIndex(QStringLiteral("log_backup_time"));
      const int holdup = q.FieldIndex(QStringLiteral("log_truncation_holdup_reason"));
      if (name < 0 || total < 0 || active < 0) {
        s.Stats.Outcome = Unexpected("sys.dm_db_log_stats");
      } else {
        const bool backupsRead = s.Backups.Outcome.IsOk() && s.Backups.Supported;
        const bool waitsRead = s.Databases.Outcome.IsOk() && s.Databases.Supported;
        for (q.First(); !q.Eof(); q.Next()) {
          TLogHealthRow& row = s.Rows[q.AsString(name)];
          // An availability group's secondary gives NULL here.
          if (!q.IsNull(total)) row.VlfCount = q.AsLargeInt(total);
          if (!q.IsNull(active)) row.ActiveVlfCount = q.AsLargeInt(active);
          // The view stands in for what the other sources could not give.
          if (!backupsRead && backup >= 0 && !q.IsNull(backup)) {
            const QDateTime t = q.AsDateTime(backup);
            row.LogBackupKnown = true;
            row.LastLogBackup = IsNever(t) ? QDateTime() : t;
          }
          if (!waitsRead && holdup >= 0 && !q.IsNull(holdup))
            row.ReuseWaitDesc = q.AsString(holdup);
        }
      }
    }
  }
  return s;
}

void TLogReader::ReadVLFsFromView(TVLFPart& vlfs, const TOutcome& dbcc) {
  vlfs.DbccOutcome = dbcc;
  vlfs.Source = TVLFSource::LogInfoView;
  vlfs.Outcome = Run(
      TKind::Query, m_statements.LogInfoView, "read the VLF list (sys.dm_db_log_info)",
      m_store->ServerMajorVersion >= 16 ? "VIEW DATABASE PERFORMANCE STATE" : "VIEW SERVER STATE");
  if (vlfs.Outcome.IsOk() && m_store->Query->Active())
    vlfs.Columns = m_store->Query->TakeColumnData();
}
