#include "datastore/uLogQueries.h"

#include <QStringList>

namespace LogQueries {

QString Databases() {
  return QStringLiteral(
      "SELECT d.name, d.database_id, d.state, d.recovery_model_desc, d.log_reuse_wait, "
      "d.log_reuse_wait_desc, GETDATE() AS server_time FROM sys.databases d");
}

QString LastLogBackups() {
  return QStringLiteral("SELECT b.database_name, MAX(b.backup_finish_date) AS last_log_backup "
                        "FROM msdb.dbo.backupset b WHERE b.type = 'L' GROUP BY b.database_name");
}

QString LogStats() {
  // Offline databases are left out: what the function does for them is not documented.
  return QStringLiteral(
      "SELECT d.name, s.total_vlf_count, s.active_vlf_count, s.log_backup_time, "
      "s.log_truncation_holdup_reason, s.total_log_size_mb, s.active_log_size_mb "
      "FROM sys.databases d CROSS APPLY sys.dm_db_log_stats(d.database_id) s WHERE d.state = 0");
}

QString LogInfo() {
  return QStringLiteral(
      "SELECT CAST(0 AS int) AS RecoveryUnitId, CAST(li.file_id AS int) AS FileId, "
      "COALESCE(LEAD(li.vlf_begin_offset) OVER (PARTITION BY li.file_id ORDER BY "
      "li.vlf_begin_offset) - li.vlf_begin_offset, CAST(ROUND(li.vlf_size_mb * 1048576, 0) AS "
      "bigint)) AS FileSize, li.vlf_begin_offset AS StartOffset, CAST(li.vlf_sequence_number AS "
      "int) AS FSeqNo, li.vlf_status AS Status, li.vlf_parity AS Parity, li.vlf_create_lsn AS "
      "CreateLSN FROM sys.dm_db_log_info(DB_ID()) li ORDER BY li.file_id, li.vlf_begin_offset");
}

namespace {
int Part(const QString& version, int i) {
  return version.section(QLatin1Char('.'), i, i).toInt();
}
} // namespace

bool HasLogDmvs(const QString& productVersion) {
  const int major = Part(productVersion, 0);
  if (major != 13) return major > 13;
  return Part(productVersion, 1) > 0 || Part(productVersion, 2) >= 5026;
}

bool HasCatalogViews(const QString& productVersion) {
  return Part(productVersion, 0) >= 9;
}

} // namespace LogQueries
