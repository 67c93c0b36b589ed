#pragma once
// The SQL Server data store over ODBC (unixODBC with FreeTDS or Microsoft's driver).

#include "datastore/uLoginAttempt.h"
#include "datastore/uResultSet.h"
#include "datastore/udmDataStoreBase.h"

#include <memory>

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

// The program's one data store. Created, replaced and freed only by the Connect dialog's OK.
extern std::unique_ptr<TDataStoreSQLServer> DataStore;
