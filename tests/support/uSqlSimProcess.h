#pragma once
// Runs the TDS simulator (sqlsim) as a child process for a test or a benchmark.
//
//   TSqlSimProcess sim;
//   QVERIFY2(sim.Start(R"({"logins":[{"name":"demo","password":"demo"}], ...})"),
//            qPrintable(sim.ErrorString()));
//   connect to sim.ServerName() ("127.0.0.1,PORT") ...
//   QVERIFY(sim.ApplyScenario(changedJson)); // the running simulator now serves the new scenario
//   QCOMPARE(sim.LogLines().last(), "DBCC LOGINFO");
//
// The simulator binary comes from the environment variable VELMORA_SQLSIM (set by
// velmora_add_test and by scripts/bench).

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

struct TSqlSimOptions {
  QString LogFile;      // where the simulator logs; empty: a file in the temporary folder
  bool Ssrp = false;    // also answer SSRP on UDP loopback
  quint16 SsrpPort = 0; // with Ssrp: 0 picks a free port (see SsrpPort())
  int StartTimeoutMs = 30000;
  QStringList TlsNames; // names in the server's certificate; empty: the simulator's default
};

class TSqlSimProcess {
public:
  TSqlSimProcess();
  ~TSqlSimProcess(); // stops the simulator
  TSqlSimProcess(const TSqlSimProcess&) = delete;
  TSqlSimProcess& operator=(const TSqlSimProcess&) = delete;

  // Starts the simulator. `scenario` is either the scenario's JSON text (it begins with "{")
  // or the path of a scenario file, which is copied (ApplyScenario rewrites the copy).
  // Returns false with ErrorString() when it did not come up.
  bool Start(const QString& scenario, const TSqlSimOptions& options = {});
  void Stop();
  bool IsRunning() const;

  quint16 Port() const { return FPort; }
  quint16 SsrpPort() const { return FSsrpPort; }
  QString ServerName() const; // "127.0.0.1,PORT", as a client names the server
  QString ScenarioPath() const { return FScenarioPath; }
  QString LogPath() const { return FLogPath; }
  // The certificates the simulator made when it started (PEM files): the CA that signed the
  // server's certificate, that certificate itself, and an unrelated CA.
  QString CaFile() const { return FDir ? FDir->filePath(QStringLiteral("ca.pem")) : QString(); }
  QString ServerCertFile() const {
    return FDir ? FDir->filePath(QStringLiteral("server.pem")) : QString();
  }
  QString OtherCaFile() const {
    return FDir ? FDir->filePath(QStringLiteral("other-ca.pem")) : QString();
  }
  QString ErrorString() const { return FError; }
  // What the simulator warned about in the scenarios it read (unknown keys, most likely typing
  // errors); each is also passed to qWarning.
  QStringList Warnings() const { return FWarnings; }

  // The SQL texts of the batches received so far, in order (all sessions).
  QStringList LogLines() const;
  // Every log entry: objects with "event" = "login" (login, app, database, tds, encryption,
  // alpn, ok), "batch" (login, database, sql) or "attention".
  QList<QJsonObject> LogEntries() const;

  // Writes the scenario file anew and waits until the running simulator serves it. With
  // signal false no SIGHUP is sent: the simulator's file watcher has to notice the change.
  bool ApplyScenario(const QString& json, int timeoutMs = 10000, bool signal = true);

  // The path of the simulator binary, or an empty string when VELMORA_SQLSIM is not set.
  static QString SimulatorPath();

private:
  bool WaitForLine(const QString& prefix, QString* line, int timeoutMs);

  std::unique_ptr<QTemporaryDir> FDir;
  std::unique_ptr<QProcess> FProcess;
  QString FScenarioPath;
  QString FLogPath;
  QString FError;
  QStringList FWarnings;
  QByteArray FStdout;
  quint16 FPort = 0;
  quint16 FSsrpPort = 0;
};
