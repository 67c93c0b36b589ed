#pragma once
// The SQL Server data store over ODBC (unixODBC with FreeTDS or Microsoft's driver).

#include "datastore/uLoginAttempt.h"
#include "datastore/uOdbc.h"
#include "datastore/uResultSet.h"
#include "datastore/udmDataStoreBase.h"

#include <memory>
#include <vector>

class TDataStoreSQLServer : public TDataStoreBase {
public:
  TDataStoreSQLServer();
  ~TDataStoreSQLServer() override;

  bool InitWithConnProps(TSQLConnectionProperties Props) override;
  bool ExecuteSQL() override;
  bool OpenQuery() override;
  bool TestConnection(TSQLConnectionProperties Props) override;
  // The same, ended early when `cancel` is set (from any thread); *end says how it ended.
  bool TestConnection(TSQLConnectionProperties Props, const TLoginCancel* cancel,
                      TLoginEnd* end = nullptr);
  bool ExecuteStatement(const QString& Text) override;

  bool RunQuery(const QString& Text);
  // Throws std::runtime_error when the version cannot be read or parsed.
  QString GetServerVersionName();

  // Informational messages of the last statement or query; one entry per batch of
  // messages, lines joined by CR LF, most recent first.
  QStringList InfoMessages;
  bool IsSQL2005OrNewer = false;
  // The diagnostic records (SQLSTATE, server error number) of the last statement or query that
  // failed, with an 08S01 record added when the driver found the connection dead; empty after
  // one that ran.
  std::vector<TOdbcDiagRecord> LastFailure;
  // The server's major version read when the connection opened; 0 before.
  int ServerMajorVersion = 0;
  // The dotted version the server gave when the connection opened ("13.00.5026"); empty before.
  QString ServerVersion;

  // Seconds a statement or query may run before the client gives up (SQLSTATE HYT00); 0 waits
  // for ever. Applies from the next statement on.
  void SetQueryTimeout(int seconds);
  int QueryTimeout() const;

  static constexpr int kDefaultLoginTimeoutSeconds = 15;
  // Seconds a whole login may take (a wall-clock deadline, see uLoginAttempt.h); 0 means
  // the default.
  // Applies from the next connection on.
  void SetLoginTimeout(int seconds);

  // Safe from any thread: interrupts the statement that runs now (the server gets an attention)
  // and refuses every later one with SQLSTATE HY008 until ResetCancel.
  void Cancel();
  void ResetCancel();
  // How the last login of this store ended (a cancelled one: TLoginEnd::Canceled).
  TLoginEnd LastLoginEnd() const;
  // Every login of this store ends within these limits (uLoginAttempt.h).
  TLoginLimits LoginLimits;

private:
  // Appends one entry: all lines of one failed operation.
  void AddError(const QString& text);
  // Appends one entry: the messages of one statement, most recent line first.
  void HandleInfoMessage(const QString& text);
  // Runs one batch on its own statement handle; the first result set goes into Query when asked.
  bool Run(const QString& text, bool openResult);

  struct Impl;
  std::unique_ptr<Impl> d;
};
