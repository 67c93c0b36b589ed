#pragma once
// The statements that read the log health of every database at once, and the version rules
// that decide which of them a server understands.

#include <QString>

namespace LogQueries {

// sys.databases (SQL Server 2005 and later): name, database_id, state, recovery_model_desc,
// log_reuse_wait, log_reuse_wait_desc and the server's clock (server_time), one row per
// database the login may see.
QString Databases();

// The latest log backup per database from msdb's backup history: database_name,
// last_log_backup (finish time). Databases never backed up have no row.
QString LastLogBackups();

// sys.dm_db_log_stats for every online database (SQL Server 2016 SP2 and later): name,
// total_vlf_count, active_vlf_count, log_backup_time, log_truncation_holdup_reason,
// total_log_size_mb, active_log_size_mb.
QString LogStats();

// sys.dm_db_log_info for the current database, in DBCC LOGINFO's columns (RecoveryUnitId,
// FileId, FileSize, StartOffset, FSeqNo, Status, Parity, CreateLSN) and order. It needs
// VIEW SERVER STATE (VIEW DATABASE PERFORMANCE STATE from 2022) instead of sysadmin.
// FileSize is exact from the offsets, except for each file's last VLF (the view gives MB with
// two decimals); CreateLSN is the view's text.
QString LogInfo();

// Whether the server has sys.dm_db_log_stats and sys.dm_db_log_info: 13.0.5026 (2016 SP2) and
// later. `productVersion` as SERVERPROPERTY('ProductVersion') gives it ("13.0.5026.0").
bool HasLogDmvs(const QString& productVersion);
// Whether the server has sys.databases: 9 (2005) and later.
bool HasCatalogViews(const QString& productVersion);

} // namespace LogQueries
