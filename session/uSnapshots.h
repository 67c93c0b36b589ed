#pragma once
// What the session reads from the server, as plain values: they cross threads by copy and the
// pages show them without asking the server anything. Each part carries its outcome, so a page
// can say why it is empty instead of showing a failure as a figure.

#include "platform/uColumnData.h"

#include <QDateTime>
#include <QHash>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <vector>

enum class TOutcomeKind {
  Ok,
  NotPermitted,   // the server refused the login the statement (error 229, 2571, ...)
  Unavailable,    // the database cannot be used now: offline, restoring, suspect, ...
  ConnectionLost, // SQLSTATE class 08: the connection is gone
  TimedOut,       // the query time-out struck (HYT00)
  Cancelled,      // the user cancelled, or a newer request took the place of this one
  Failed,         // any other error the server or the client reported
};

struct TOutcome {
  TOutcomeKind Kind = TOutcomeKind::Ok;
  int ServerError = 0; // the server's error number, 0 when the client failed
  QString SqlState;
  QString ServerText; // the server's or the client's own message
  QString Text;       // what a page shows in place of the figures

  bool IsOk() const { return Kind == TOutcomeKind::Ok; }
  static TOutcome Cancelled();
  static TOutcome ConnectionLost();
};

// A database as the overview lists it. More columns join as fields here.
struct TDatabaseRow {
  QString Name;
  std::int32_t Status = 0; // master..sysdatabases.status
};

// One row of DBCC SQLPERF(LOGSPACE).
struct TLogSpaceRow {
  QString Name;
  double LogSizeMB = 0;
  double UsedPercent = 0;
};

struct TLogSpaceSnapshot {
  TOutcome Outcome;
  QDateTime ReadAt; // when the server answered; every row of one pass carries it
  QVector<TLogSpaceRow> Rows;
};

// One database's log health as the views over all databases give it.
struct TLogHealthRow {
  // From sys.databases.
  bool InCatalog = false;
  int State = 0; // 0 online
  QString RecoveryModel;
  int ReuseWait = -1; // log_reuse_wait; -1: not given
  QString ReuseWaitDesc;
  // From msdb's backup history, or from the log stats when msdb could not be read.
  bool LogBackupKnown = false;
  QDateTime LastLogBackup; // invalid while known: never
  // From sys.dm_db_log_stats.
  std::int64_t VlfCount = -1; // -1: not given
  std::int64_t ActiveVlfCount = -1;
};

// Where one source of the log health stands.
struct TLogHealthSource {
  bool Supported = false; // false: the server version has no such source
  TOutcome Outcome;
};

struct TLogHealthSnapshot {
  QString ServerVersion; // as the server gave it ("13.00.5026")
  TLogHealthSource Databases, Backups, Stats;
  QDateTime ServerTime; // the server's clock when the catalog was read; invalid when not read
  QHash<QString, TLogHealthRow> Rows; // by exact database name
};

struct TOverviewSnapshot {
  TOutcome Outcome; // of the list itself
  QVector<TDatabaseRow> Databases;
  TLogSpaceSnapshot LogSpace;
  TLogHealthSnapshot Health;
};

// A transaction-log file as sysfiles describes it (sizes in pages of 8 KB).
struct TLogFileRow {
  std::int32_t FileId = 0;
  QString Name;
  QString FileName;
  std::int64_t SizePages = 0;
  std::int64_t MaxSizePages = 0; // -1: unlimited
  std::int32_t Growth = 0;
  std::int32_t Status = 0; // 0x100000: growth in percent
};

struct TLogFilesPart {
  TOutcome Outcome;
  QVector<TLogFileRow> Rows;
};

// Where the VLF list came from: DBCC LOGINFO, or sys.dm_db_log_info in the same columns when
// the login may not run DBCC LOGINFO (2016 SP2 and later).
enum class TVLFSource { DbccLogInfo, LogInfoView };

struct TVLFPart {
  TOutcome Outcome;
  TVLFSource Source = TVLFSource::DbccLogInfo;
  TOutcome DbccOutcome; // why DBCC LOGINFO gave way to the view
  TColumnSet Columns;   // the result as the server sent it, column by column; copies share it
  int RowCount() const { return Columns.empty() ? 0 : int(Columns.front().Count); }
};

struct TOpenTranPart {
  TOutcome Outcome;
  // The informational messages as the data store delivers them: one entry per batch of
  // messages, its lines joined by CR LF, most recent line first.
  QStringList InfoMessages;
};

struct TSummaryPart {
  TOutcome RecoveryOutcome;
  QString RecoveryModel;
  TOutcome BackupOutcome;
  bool HasLogBackup = false;
  QDateTime LastLogBackup;
  // False on servers before 2005, which have no log reuse wait to ask for.
  bool ReuseWaitAvailable = true;
  TOutcome ReuseWaitOutcome;
  QString LogReuseWait;
};

struct TDetailsSnapshot {
  QString Database;
  TOutcome DatabaseOutcome; // of making the database current; when it failed, no part ran
  TVLFPart VLFs;
  TOpenTranPart OpenTran;
  TLogFilesPart Files;
  TSummaryPart Summary;
};

struct TConnectSnapshot {
  TOutcome Outcome;
  QStringList Errors; // the data store's texts when the connection failed
  TOutcome VersionOutcome;
  QString VersionName; // "SQL Server 2008 R2 - 10.50.1600"
  QString Edition;
};

struct TConnectionTest {
  bool Passed = false;
  bool Cancelled = false; // the user stopped the login
  QStringList Errors;
};

Q_DECLARE_METATYPE(TOutcome)
Q_DECLARE_METATYPE(TOverviewSnapshot)
Q_DECLARE_METATYPE(TLogSpaceSnapshot)
Q_DECLARE_METATYPE(TDetailsSnapshot)
Q_DECLARE_METATYPE(TConnectSnapshot)
Q_DECLARE_METATYPE(TConnectionTest)

// Registers the types above for queued signals; cheap to call again.
void RegisterSnapshotTypes();
