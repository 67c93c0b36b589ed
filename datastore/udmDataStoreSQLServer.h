#pragma once
// The SQL Server data store over ODBC (unixODBC with FreeTDS or Microsoft's driver).

#include "datastore/uLoginAttempt.h"
#include "datastore/uOdbc.h"
#include "datastore/uOdbcConnectionString.h"
#include "datastore/uResultSet.h"
#include "datastore/uTlsProbe.h"
#include "datastore/udmDataStoreBase.h"

#include <functional>
#include <memory>
#include <optional>
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
  // The ODBC driver of the open connection ("FreeTDS 01.03.0017 (libtdsodbc.so)"); empty until
  // InitWithConnProps opened one.
  QString DriverInUse;
  // The driver with which the last TestConnection succeeded.
  QString TestedDriver;
  // Set when the last TestConnection or InitWithConnProps failed on the server's certificate
  // (or on a server without encryption): what the server presented, and why it was refused.
  std::optional<TTlsProbeResult> CertificateProblem;
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

// The drivers, the freetds.conf files and the data sources of this machine.
TClientSetup MachineClientSetup(const TOdbcEnvironment& environment);
// The SQL Server drivers registered on this machine, best first; empty without a driver manager.
QList<TOdbcDriverInfo> InstalledSqlServerDrivers();
// "NAME VERSION (LIBRARY)" of an open connection's driver.
QString DescribeDriver(const TOdbcConnection& connection, const QString& registeredName);
// Whether a Kerberos ticket is at hand for integrated authentication (always true on Windows).
bool HasKerberosTicket();
// Where to look at the server's certificate for `props`; nullopt when Velmora cannot tell
// (a data source, an instance found through the browser service).
std::optional<TTlsProbeRequest> CertificateProbeFor(const TSQLConnectionProperties& props,
                                                    const TClientSetup& setup);
// What to check after a failed login, from its records; empty when nothing is known.
QString ConnectFailureAdvice(const TSQLConnectionProperties& props,
                             const std::vector<TOdbcDiagRecord>& records,
                             const std::function<bool()>& hasKerberosTicket = {});

// The program's one data store. Created, replaced and freed only by the Connect dialog's OK.
extern std::unique_ptr<TDataStoreSQLServer> DataStore;
