#pragma once
// Reads the state of a server's transaction logs, synchronously, over one data store
// connection of its own, and answers with snapshots. No threads, no widgets and no globals: a
// window drives it from its worker thread, a command-line program from threads of its own.
// Cancel is the one call that may come from another thread.

#include "common/uCommon.h"
#include "datastore/udmDataStoreSQLServer.h"
#include "session/uSnapshots.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

// The statements the reader sends, chosen by the server's major version in StatementsFor and
// nowhere else. Patterns take the database name: %1 quoted as an identifier in Use, as the
// inside of N'...' in the others. An empty text means the server has no such statement.
struct TStatementSet {
  QString Version;
  QString DatabaseList;
  QString LogSpace;
  QString Use;
  QString VLFs;
  QString OpenTran;
  QString LogFiles;
  QString Recovery;
  QString LastLogBackup;
  QString ReuseWait;
  // Over all databases at once (see datastore/uLogQueries.h); empty where the server lacks them.
  QString Databases;
  QString LastLogBackups;
  QString LogStats;
  QString LogInfoView;
};
// `build` tells 2016 SP2 (13.0.5026) from earlier 2016 builds.
TStatementSet StatementsFor(int majorVersion, int build = 0);

struct TLogReaderSettings {
  int QueryTimeoutSeconds = 60;                                               // 0: no time-out
  int LoginTimeoutSeconds = TDataStoreSQLServer::kDefaultLoginTimeoutSeconds; // 0: none
  std::function<QDateTime()> Clock; // when figures were read; the local time when empty
};

class TLogReader {
public:
  explicit TLogReader(TLogReaderSettings settings = {});
  ~TLogReader();
  TLogReader(const TLogReader&) = delete;
  TLogReader& operator=(const TLogReader&) = delete;

  // Called with each statement's text just before it goes to the server.
  void SetStatementObserver(std::function<void(const QString&)> observer);

  // Opens a temporary connection and closes it; this reader's own connection stays as it is.
  TConnectionTest TestConnection(const TSQLConnectionProperties& props);
  // Opens the connection and reads the version and edition. The properties (password included)
  // stay in memory for Reconnect, for this reader's life only.
  TConnectSnapshot Connect(const TSQLConnectionProperties& props);
  // Opens the connection again with the properties of the last Connect.
  TConnectSnapshot Reconnect();

  // The database list and the log figures of every database.
  TOverviewSnapshot ReadOverview();
  // Makes `database` current and reads its details; with `logSpace`, the log figures of every
  // database are read too, right after the database was made current.
  TDetailsSnapshot ReadDetails(const QString& database, TLogSpaceSnapshot* logSpace = nullptr);

  // Sends a query of the caller's own on this reader's connection; `rows` reads the result when
  // it ran. For programs that read more than the window does.
  TOutcome RunQuery(const QString& text, const char* action, const char* needs,
                    const std::function<void(TResultSet&)>& rows);

  // Safe from any thread: ends the statement that runs now, and every later one fails as
  // cancelled without reaching the server, until ResetCancel.
  void Cancel();
  void ResetCancel();

  bool IsConnected() const;
  // A statement found the connection gone; nothing more is sent until a reconnect.
  bool IsConnectionLost() const { return m_lost; }
  int QueryTimeout() const { return m_settings.QueryTimeoutSeconds; }
  const TStatementSet& Statements() const { return m_statements; }

private:
  enum class TKind { Statement, Query };
  // Sends one text unless the connection is known lost. `action` and `needs` word a refusal:
  // "This login may not <action> (error N): it needs <needs>."
  TOutcome Run(TKind kind, const QString& text, const char* action, const char* needs = nullptr);
  TLogSpaceSnapshot ReadLogSpace();
  // Recovery models, reuse waits, last log backups and VLF counts of every database.
  TLogHealthSnapshot ReadLogHealth();
  // The VLF list from sys.dm_db_log_info, after DBCC LOGINFO failed with `dbcc`.
  void ReadVLFsFromView(TVLFPart& vlfs, const TOutcome& dbcc);
  TConnectSnapshot Open(bool readVersion);

  TLogReaderSettings m_settings;
  std::unique_ptr<TDataStoreSQLServer> m_store;
  TSQLConnectionProperties m_props;
  bool m_hasProps = false;
  bool m_lost = false;
  TStatementSet m_statements;
  std::function<void(const QString&)> m_observer;
};

// What a failure means, from its diagnostic records: the SQLSTATE tells a lost connection, a
// time-out and a cancel apart; the server's error number a refusal and an unusable database.
TOutcome ClassifyFailure(const std::vector<TOdbcDiagRecord>& records, const QString& errorText,
                         const char* action, const char* needs, int timeoutSeconds);
