#pragma once
// The simulated instance: server identity, logins, databases and faults, read from JSON.

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

struct TSimMessage {
  qint32 Number = 50000;
  quint8 Severity = 16;
  quint8 State = 1;
  QString Text;
};

struct TSimLogin {
  QString Name;
  QString Password;
  QString DefaultDatabase = QStringLiteral("master");
  QStringList Databases;       // databases the login may open; empty: all
  QStringList Denied;          // statement keys the login may not run
  bool Sysadmin = true;        // false: DBCC LOGINFO and OPENTRAN refused, offline databases hidden
  bool ViewServerState = true; // false: the log DMVs refused
  bool MayOpen(const QString& database) const;
  bool MayRun(const QString& statementKey) const;
};

struct TSimLogFile {
  qint16 FileId = 2;
  qint16 GroupId = 0;
  qint32 Size = 128;    // pages of 8 KB
  qint32 MaxSize = -1;  // pages; -1 unlimited
  qint32 Growth = 10;   // pages, or percent with status bit 0x100000
  qint32 Status = 0x42; // 0x40: log file
  qint32 Perf = 0;
  QString Name;
  QString FileName;
};

struct TSimVlf {
  qint32 RecoveryUnitId = 0;
  qint32 FileId = 2;
  qint64 FileSize = 0;
  qint64 StartOffset = 8192;
  qint32 FSeqNo = 0;
  qint32 Status = 0;
  qint32 Parity = 64;
  __int128 CreateLsn = 0;
};

// A run of VLFs: either one explicit VLF (Count 1, Explicit set) or a generated series.
struct TSimVlfRun {
  std::optional<TSimVlf> Explicit;
  qint32 FileId = 2;
  qint64 Count = 0;
  qint64 Size = 0;
  qint64 Active = 0; // how many of the run are in use (Status 2), at the end of the run
  qint64 StartOffset = 8192;
  qint32 FirstSeqNo = 0;
};

struct TSimOpenTran {
  qint32 Spid = 54;
  qint32 Uid = -1;
  QString Name = QStringLiteral("user_transaction");
  QString Lsn = QStringLiteral("(20:339:1)");
  QString StartTime = QStringLiteral("Jan 10 2011  4:17:01:240PM");
  QString Sid = QStringLiteral("0x01");
};

struct TSimReplication {
  QString DistributedLsn = QStringLiteral("(0:0:0)");
  QString NonDistributedLsn = QStringLiteral("(0:0:0)");
};

struct TSimDatabase {
  QString Name;
  qint32 Status = 0;
  bool Online = true;
  QString Recovery = QStringLiteral("SIMPLE");
  QString LogReuseWait = QStringLiteral("NOTHING");
  qint32 LogReuseWaitNumber = 0; // log_reuse_wait; from the name unless the scenario gives it
  double LogSizeMB = 1.0;
  double LogUsedPercent = 10.0;
  qint32 LogSpaceStatus = 0;
  QList<TSimLogFile> LogFiles;
  QList<TSimVlfRun> Vlfs;
  std::optional<TSimOpenTran> OpenTran;
  std::optional<TSimReplication> Replication;
  QList<QDateTime> LogBackups;
  qint64 VlfCount() const;
  qint64 ActiveVlfCount() const;
};

struct TSimFault {
  QRegularExpression Pattern; // matched against the batch text; invalid: not used
  QString Statement;          // statement key, alternative to Pattern
  QString Login;              // only for this login; empty: all
  int DelayMs = 0;
  QList<TSimMessage> Errors;
  QString Drop; // "", "before" or "middle"
  bool Malformed = false;
  int Count = -1; // how many times the fault fires; -1: always
  // A login that never finishes properly: "trickle" sends the login's answer one byte every
  // IntervalMs; "stream" sends informational messages without end and never completes.
  QString LoginReply;
  int IntervalMs = 1000;
};

struct TSimInstance {
  QString Machine;
  QString Instance;
  QString Version;
  int TcpPort = 0; // 0: the simulator's own port
  bool Clustered = false;
};

struct TSimScenario {
  QString Version = QStringLiteral("10.50.1600.1");
  QString Edition = QStringLiteral("Enterprise Edition (64-bit)");
  QString Machine = QStringLiteral("SQLSIM");
  QString Instance = QStringLiteral("MSSQLSERVER");
  QList<TSimLogin> Logins;
  QList<TSimDatabase> Databases;    // in creation order (database id order)
  QList<int> ByName;                // indexes of Databases sorted by name
  QHash<QString, int> ByFoldedName; // index of each database by its case-folded name
  QList<TSimFault> Faults;
  QList<TSimInstance> Instances; // extra instances listed by SSRP

  int Major() const;
  int Minor() const;
  int Build() const;
  // "MACHINE" for the default instance, else "MACHINE\INSTANCE".
  QString ServerName() const;
  const TSimLogin* FindLogin(const QString& name) const;
  const TSimDatabase* FindDatabase(const QString& name) const;
};

// Parses a scenario; on failure returns nullptr and sets *error. Keys it does not know are
// listed in *warnings (when given) and otherwise ignored.
std::shared_ptr<const TSimScenario> ParseScenario(const QByteArray& json, QString* error,
                                                  QStringList* warnings = nullptr);
std::shared_ptr<const TSimScenario> LoadScenarioFile(const QString& path, QString* error,
                                                     QStringList* warnings = nullptr);
