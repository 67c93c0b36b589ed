#include "uSimEngine.h"

#include <QRegularExpression>

#include <algorithm>

using Tds::TColType;
using Tds::TColumn;
using Tds::TTokenWriter;

namespace {

constexpr quint16 CmdSelect = 0xC1;
constexpr quint16 CmdDbcc = 0x00;

struct TPattern {
  const char* Key;
  QRegularExpression Re;
};

QRegularExpression Re(const char* pattern) {
  return QRegularExpression(QString::fromLatin1(pattern),
                            QRegularExpression::CaseInsensitiveOption |
                                QRegularExpression::DotMatchesEverythingOption);
}

// Each statement as the monitor sends it, tolerant of whitespace and of a trailing semicolon.
const QList<TPattern>& Patterns() {
  static const QList<TPattern> patterns = {
      {"version", Re(R"(^\s*SELECT\s+SERVERPROPERTY\s*\(\s*'ProductVersion'\s*\)\s*,\s*)"
                     R"(SERVERPROPERTY\s*\(\s*'Edition'\s*\)\s*;?\s*$)")},
      {"engineedition", Re(R"(^\s*SELECT\s+SERVERPROPERTY\s*\(\s*'EngineEdition'\s*\)\s*;?\s*$)")},
      {"sysdatabases",
       Re(R"(^\s*SELECT\s+name\s*,\s*status\s+FROM\s+master\s*\.\s*(dbo)?\s*\.\s*sysdatabases\s+)"
          R"(ORDER\s+BY\s+name\s*;?\s*$)")},
      {"sqlperf", Re(R"(^\s*DBCC\s+SQLPERF\s*\(\s*LOGSPACE\s*\)\s*;?\s*$)")},
      {"use", Re(R"(^\s*USE\s+(?:\[((?:[^\]]|\]\])*)\]|([A-Za-z_@#][\w@#$]*))\s*;?\s*$)")},
      {"loginfo", Re(R"(^\s*DBCC\s+LOGINFO\s*;?\s*$)")},
      {"opentran", Re(R"(^\s*DBCC\s+OPENTRAN\s*;?\s*$)")},
      {"sysfiles", Re(R"(^\s*SELECT\s+\*\s+FROM\s+sysfiles\s+WHERE\s+\(\s*status\s*&\s*64\s*\)\s*)"
                      R"(=\s*64\s*;?\s*$)")},
      {"recovery", Re(R"(^\s*SELECT\s+DATABASEPROPERTYEX\s*\(\s*N?'((?:[^']|'')*)'\s*,\s*)"
                      R"('RECOVERY'\s*\)\s*;?\s*$)")},
      {"backupset",
       Re(R"(^\s*SELECT\s+TOP\s+1\s+a\s*\.\s*backup_finish_date\s+FROM\s+msdb\s*\.\s*(dbo)?\s*\.\s*)"
          R"(backupset\s+a\s+WHERE\s+a\s*\.\s*database_name\s*=\s*N?'((?:[^']|'')*)'\s+AND\s+)"
          R"(a\s*\.\s*type\s*=\s*'L'\s+ORDER\s+BY\s+a\s*\.\s*backup_finish_date\s+DESC\s*;?\s*$)")},
      {"reusewait",
       Re(R"(^\s*SELECT\s+log_reuse_wait_desc\s+FROM\s+sys\s*\.\s*databases\s+WHERE\s+)"
          R"(name\s*=\s*N?'((?:[^']|'')*)'\s*;?\s*$)")},
  };
  return patterns;
}

QString ServerName(const TSimScenario& s) {
  return s.ServerName();
}

void Info(TTokenWriter& w, const TSimScenario& s, qint32 number, const QString& text,
          quint8 state = 1) {
  w.Message(false, number, state, 0, text, ServerName(s));
}

TSimReply ErrorReply(const TSimScenario& s, const TSimSessionState& st, qint32 number,
                     quint8 severity, quint8 state, const QString& text) {
  return SimEngine::Errors(s, st, {TSimMessage{number, severity, state, text}});
}

const TSimDatabase* CurrentDb(const TSimScenario& s, const TSimSessionState& st) {
  return s.FindDatabase(st.Database);
}

QString DbccName(const QString& key) {
  if (key == QLatin1String("loginfo")) return QStringLiteral("LOGINFO");
  if (key == QLatin1String("opentran")) return QStringLiteral("OPENTRAN");
  return QStringLiteral("SQLPERF");
}

TSimReply Denied(const TSimScenario& s, const TSimSessionState& st, const QString& key) {
  if (key == QLatin1String("loginfo") || key == QLatin1String("opentran") ||
      key == QLatin1String("sqlperf"))
    return ErrorReply(s, st, 2571, 14, 3,
                      QStringLiteral("User '%1' does not have permission to run DBCC %2.")
                          .arg(st.Login, DbccName(key)));
  static const QHash<QString, QString> objects = {
      {"sysdatabases", "sysdatabases"},   {"sysfiles", "sysfiles"},
      {"backupset", "backupset"},         {"reusewait", "databases"},
      {"version", "SERVERPROPERTY"},      {"recovery", "DATABASEPROPERTYEX"},
      {"engineedition", "SERVERPROPERTY"}};
  return ErrorReply(s, st, 229, 14, 5,
                    QStringLiteral("The SELECT permission was denied on the object '%1', database "
                                   "'mssqlsystemresource', schema 'sys'.")
                        .arg(objects.value(key, key)));
}

TSimReply Version(const TSimScenario& s, const TSimSessionState& st) {
  TTokenWriter w(st.Format);
  w.ColMetadata({TColumn{QString(), TColType::Variant}, TColumn{QString(), TColType::Variant}});
  const qsizetype rows = w.Bytes().size();
  w.Row();
  w.VariantNVarChar(s.Version);
  w.VariantNVarChar(s.Edition);
  w.Done(Tds::DoneCount, CmdSelect, 1);
  return {w.Bytes(), rows};
}

TSimReply SysDatabases(const TSimScenario& s, const TSimSessionState& st) {
  TTokenWriter w(st.Format);
  w.ColMetadata({TColumn{QStringLiteral("name"), TColType::NVarChar, 128},
                 TColumn{QStringLiteral("status"), TColType::Int}});
  const qsizetype rows = w.Bytes().size();
  for (int i : s.ByName) {
    const TSimDatabase& db = s.Databases[i];
    w.Row();
    w.NVarChar(db.Name);
    w.IntN(4, db.Status);
  }
  w.Done(Tds::DoneCount, CmdSelect, quint64(s.ByName.size()));
  return {w.Bytes(), rows};
}

TSimReply SqlPerf(const TSimScenario& s, const TSimSessionState& st) {
  TTokenWriter w(st.Format);
  w.ColMetadata({TColumn{QStringLiteral("Database Name"), TColType::NVarChar, 128},
                 TColumn{QStringLiteral("Log Size (MB)"), TColType::Real},
                 TColumn{QStringLiteral("Log Space Used (%)"), TColType::Real},
                 TColumn{QStringLiteral("Status"), TColType::Int}});
  const qsizetype rows = w.Bytes().size();
  quint64 n = 0;
  for (const TSimDatabase& db : s.Databases) {
    if (!db.Online) continue;
    w.Row();
    w.NVarChar(db.Name);
    w.Real(float(db.LogSizeMB));
    w.Real(float(db.LogUsedPercent));
    w.IntN(4, db.LogSpaceStatus);
    ++n;
  }
  Info(w, s, 2528,
       QStringLiteral("DBCC execution completed. If DBCC printed error messages, contact your "
                      "system administrator."));
  w.Done(Tds::DoneCount, CmdDbcc, n);
  return {w.Bytes(), rows};
}

TSimReply Use(const TSimScenario& s, TSimSessionState& st, const QString& name) {
  const TSimDatabase* db = s.FindDatabase(name);
  if (!db)
    return ErrorReply(s, st, 911, 16, 1,
                      QStringLiteral("Database '%1' does not exist. Make sure that the name is "
                                     "entered correctly.")
                          .arg(name));
  if (!db->Online)
    return ErrorReply(
        s, st, 942, 14, 4,
        QStringLiteral("Database '%1' cannot be opened because it is offline.").arg(db->Name));
  if (s.EngineEdition == 5 && db->Name.compare(st.Database, Qt::CaseInsensitive) != 0)
    return ErrorReply(s, st, 40508, 16, 1,
                      QStringLiteral("USE statement is not supported to switch between "
                                     "databases. Use a new connection to connect to a different "
                                     "database."));
  if (!db->Readable)
    return ErrorReply(
        s, st, 976, 14, 1,
        QStringLiteral("The target database, '%1', is participating in an availability group and "
                       "is currently not accessible for queries. Either data movement is "
                       "suspended or the availability replica is not enabled for read access. To "
                       "allow read-only access to this and other databases in the availability "
                       "group, enable read access to one or more secondary availability replicas "
                       "in the group.  For more information, see the ALTER AVAILABILITY GROUP "
                       "statement in SQL Server Books Online.")
            .arg(db->Name));
  const TSimLogin* login = s.FindLogin(st.Login);
  if (login && !login->MayOpen(db->Name))
    return ErrorReply(s, st, 916, 14, 1,
                      QStringLiteral("The server principal \"%1\" is not able to access the "
                                     "database \"%2\" under the current security context.")
                          .arg(st.Login, db->Name));
  TTokenWriter w(st.Format);
  w.EnvChange(1, db->Name, st.Database);
  Info(w, s, 5701, QStringLiteral("Changed database context to '%1'.").arg(db->Name));
  w.Done(Tds::DoneFinal, 0, 0);
  st.Database = db->Name;
  return {w.Bytes(), 0};
}

// Writes the rows of every VLF of a database; generated runs are expanded on the fly.
quint64 WriteVlfRows(TTokenWriter& w, const TSimDatabase& db, bool withRecoveryUnit) {
  quint64 n = 0;
  static const __int128 lsnScale = __int128(1000000000000000LL); // VLF sequence part of an LSN
  qint64 ordinal = 0;
  for (const TSimVlfRun& run : db.Vlfs) {
    if (run.Explicit) {
      const TSimVlf& v = *run.Explicit;
      w.Row();
      if (withRecoveryUnit) w.IntN(4, v.RecoveryUnitId);
      w.IntN(4, v.FileId);
      w.IntN(8, v.FileSize);
      w.IntN(8, v.StartOffset);
      w.IntN(4, v.FSeqNo);
      w.IntN(4, v.Status);
      w.IntN(1, v.Parity);
      w.NumericN(v.CreateLsn);
      ++n;
      ++ordinal;
      continue;
    }
    for (qint64 i = 0; i < run.Count; ++i, ++ordinal) {
      const bool active = i >= run.Count - run.Active;
      const qint32 seq = run.FirstSeqNo == 0 ? 0 : qint32(run.FirstSeqNo + i);
      w.Row();
      if (withRecoveryUnit) w.IntN(4, 0);
      w.IntN(4, run.FileId);
      w.IntN(8, run.Size);
      w.IntN(8, run.StartOffset + i * run.Size);
      w.IntN(4, seq);
      w.IntN(4, active ? 2 : 0);
      w.IntN(1, seq == 0 ? 0 : (seq % 2 ? 64 : 128));
      // The first four VLFs come with the file; later ones were added by growth at some LSN.
      const __int128 lsn =
          ordinal < 4 ? 0 : __int128(run.FirstSeqNo + i) * lsnScale + (i % 100000) * 100000 + 1;
      w.NumericN(lsn);
      ++n;
    }
  }
  return n;
}

TSimReply LogInfo(const TSimScenario& s, const TSimSessionState& st) {
  if (s.EngineEdition == 5)
    return ErrorReply(s, st, 40518, 16, 1,
                      QStringLiteral("DBCC command 'LOGINFO' is not supported in this version of "
                                     "SQL Server."));
  const TSimDatabase* db = CurrentDb(s, st);
  if (!db || !db->Online)
    return ErrorReply(
        s, st, 942, 14, 4,
        QStringLiteral("Database '%1' cannot be opened because it is offline.").arg(st.Database));
  const bool ru = s.Major() >= 11;
  QList<TColumn> cols;
  if (ru) cols << TColumn{QStringLiteral("RecoveryUnitId"), TColType::Int};
  cols << TColumn{QStringLiteral("FileId"), TColType::Int}
       << TColumn{QStringLiteral("FileSize"), TColType::BigInt}
       << TColumn{QStringLiteral("StartOffset"), TColType::BigInt}
       << TColumn{QStringLiteral("FSeqNo"), TColType::Int}
       << TColumn{QStringLiteral("Status"), TColType::Int}
       << TColumn{QStringLiteral("Parity"), TColType::TinyInt}
       << TColumn{QStringLiteral("CreateLSN"), TColType::Numeric, 0, 25, 0};
  TTokenWriter w(st.Format);
  w.Bytes().reserve(qsizetype(64 + db->VlfCount() * 56));
  w.ColMetadata(cols);
  const qsizetype rows = w.Bytes().size();
  const quint64 n = WriteVlfRows(w, *db, ru);
  Info(w, s, 2528,
       QStringLiteral("DBCC execution completed. If DBCC printed error messages, contact your "
                      "system administrator."));
  w.Done(Tds::DoneCount, CmdDbcc, n);
  return {w.Bytes(), rows};
}

TSimReply OpenTran(const TSimScenario& s, const TSimSessionState& st) {
  const TSimDatabase* db = CurrentDb(s, st);
  if (!db || !db->Online)
    return ErrorReply(
        s, st, 942, 14, 4,
        QStringLiteral("Database '%1' cannot be opened because it is offline.").arg(st.Database));
  TTokenWriter w(st.Format);
  if (!db->OpenTran && !db->Replication) {
    Info(w, s, 7969, QStringLiteral("No active open transactions."));
  } else {
    Info(w, s, 7968, QStringLiteral("Transaction information for database '%1'.").arg(db->Name));
    if (db->Replication) {
      Info(w, s, 7977, QStringLiteral("Replicated Transaction Information:"));
      Info(w, s, 7978,
           QStringLiteral("        Oldest distributed LSN     : %1")
               .arg(db->Replication->DistributedLsn));
      Info(w, s, 7979,
           QStringLiteral("        Oldest non-distributed LSN : %1")
               .arg(db->Replication->NonDistributedLsn));
    }
    if (db->OpenTran) {
      const TSimOpenTran& t = *db->OpenTran;
      Info(w, s, 7970, QStringLiteral("Oldest active transaction:"));
      Info(w, s, 7971, QStringLiteral("    SPID (server process ID): %1").arg(t.Spid));
      Info(w, s, 7972, QStringLiteral("    UID (user ID) : %1").arg(t.Uid));
      Info(w, s, 7973, QStringLiteral("    Name          : %1").arg(t.Name));
      Info(w, s, 7974, QStringLiteral("    LSN           : %1").arg(t.Lsn));
      Info(w, s, 7975, QStringLiteral("    Start time    : %1").arg(t.StartTime));
      Info(w, s, 7976, QStringLiteral("    SID           : %1").arg(t.Sid));
    }
  }
  Info(w, s, 2528,
       QStringLiteral("DBCC execution completed. If DBCC printed error messages, contact your "
                      "system administrator."));
  w.Done(Tds::DoneFinal, CmdDbcc, 0);
  return {w.Bytes(), 0};
}

TSimReply SysFiles(const TSimScenario& s, const TSimSessionState& st) {
  const TSimDatabase* db = CurrentDb(s, st);
  TTokenWriter w(st.Format);
  w.ColMetadata({TColumn{QStringLiteral("fileid"), TColType::SmallInt},
                 TColumn{QStringLiteral("groupid"), TColType::SmallInt},
                 TColumn{QStringLiteral("size"), TColType::Int},
                 TColumn{QStringLiteral("maxsize"), TColType::Int},
                 TColumn{QStringLiteral("growth"), TColType::Int},
                 TColumn{QStringLiteral("status"), TColType::Int},
                 TColumn{QStringLiteral("perf"), TColType::Int},
                 TColumn{QStringLiteral("name"), TColType::NVarChar, 128},
                 TColumn{QStringLiteral("filename"), TColType::NVarChar, 260}});
  const qsizetype rows = w.Bytes().size();
  quint64 n = 0;
  if (db) {
    for (const TSimLogFile& f : db->LogFiles) {
      if ((f.Status & 64) != 64) continue;
      w.Row();
      w.IntN(2, f.FileId);
      w.IntN(2, f.GroupId);
      w.IntN(4, f.Size);
      w.IntN(4, f.MaxSize);
      w.IntN(4, f.Growth);
      w.IntN(4, f.Status);
      w.IntN(4, f.Perf);
      w.NVarChar(f.Name);
      w.NVarChar(f.FileName);
      ++n;
    }
  }
  w.Done(Tds::DoneCount, CmdSelect, n);
  return {w.Bytes(), rows};
}

TSimReply Recovery(const TSimScenario& s, const TSimSessionState& st, const QString& name) {
  const TSimDatabase* db = s.FindDatabase(name);
  TTokenWriter w(st.Format);
  w.ColMetadata({TColumn{QString(), TColType::Variant}});
  const qsizetype rows = w.Bytes().size();
  w.Row();
  if (db)
    w.VariantNVarChar(db->Recovery);
  else
    w.VariantNull();
  w.Done(Tds::DoneCount, CmdSelect, 1);
  return {w.Bytes(), rows};
}

TSimReply BackupSet(const TSimScenario& s, const TSimSessionState& st, const QString& name) {
  // database_name is compared as the server's case-insensitive collation does.
  const TSimDatabase* db = s.FindDatabase(name);
  TTokenWriter w(st.Format);
  w.ColMetadata({TColumn{QStringLiteral("backup_finish_date"), TColType::DateTime}});
  const qsizetype rows = w.Bytes().size();
  quint64 n = 0;
  if (db && !db->LogBackups.isEmpty()) {
    w.Row();
    w.DateTimeN(*std::max_element(db->LogBackups.begin(), db->LogBackups.end()));
    n = 1;
  }
  w.Done(Tds::DoneCount, CmdSelect, n);
  return {w.Bytes(), rows};
}

TSimReply ReuseWait(const TSimScenario& s, const TSimSessionState& st, const QString& name) {
  if (s.Major() < 9)
    return ErrorReply(s, st, 208, 16, 1, QStringLiteral("Invalid object name 'sys.databases'."));
  const TSimDatabase* db = s.FindDatabase(name);
  TTokenWriter w(st.Format);
  w.ColMetadata({TColumn{QStringLiteral("log_reuse_wait_desc"), TColType::NVarChar, 60}});
  const qsizetype rows = w.Bytes().size();
  quint64 n = 0;
  if (db) {
    w.Row();
    w.NVarChar(db->LogReuseWait);
    n = 1;
  }
  w.Done(Tds::DoneCount, CmdSelect, n);
  return {w.Bytes(), rows};
}

QString ProductLine(const TSimScenario& s) {
  switch (s.Major()) {
  case 8:
    return QStringLiteral("2000");
  case 9:
    return QStringLiteral("2005");
  case 10:
    return s.Minor() == 50 ? QStringLiteral("2008 R2") : QStringLiteral("2008");
  case 11:
    return QStringLiteral("2012");
  case 12:
    return QStringLiteral("2014");
  case 13:
    return QStringLiteral("2016");
  case 14:
    return QStringLiteral("2017");
  case 15:
    return QStringLiteral("2019");
  default:
    return QStringLiteral("2022");
  }
}

TSimReply SingleValue(const TSimScenario&, const TSimSessionState& st, const QString& value) {
  TTokenWriter w(st.Format);
  w.ColMetadata({TColumn{QString(), TColType::NVarChar, 300}});
  const qsizetype rows = w.Bytes().size();
  w.Row();
  w.NVarChar(value);
  w.Done(Tds::DoneCount, CmdSelect, 1);
  return {w.Bytes(), rows};
}

TSimReply SingleInt(const TSimSessionState& st, qint64 value) {
  TTokenWriter w(st.Format);
  w.ColMetadata({TColumn{QString(), TColType::Int}});
  const qsizetype rows = w.Bytes().size();
  w.Row();
  w.IntN(4, value);
  w.Done(Tds::DoneCount, CmdSelect, 1);
  return {w.Bytes(), rows};
}

TSimReply Unknown(const TSimScenario& s, const TSimSessionState& st, const QString& sql) {
  const QString t = sql.trimmed();
  static const QRegularExpression procName(
      QStringLiteral(R"(^(?:EXEC(?:UTE)?\s+)?([\w@#$\[\]]+(?:\.[\w@#$\[\]]*){0,3})\s*;?$)"),
      QRegularExpression::CaseInsensitiveOption);
  static const QStringList keywords = {"SELECT", "INSERT", "UPDATE", "DELETE", "DBCC",
                                       "USE",    "SET",    "BEGIN",  "COMMIT", "ROLLBACK",
                                       "CREATE", "DROP",   "ALTER",  "WITH",   "GO"};
  const auto m = procName.match(t);
  if (m.hasMatch() && !keywords.contains(m.captured(1), Qt::CaseInsensitive))
    return ErrorReply(s, st, 2812, 16, 62,
                      QStringLiteral("Could not find stored procedure '%1'.").arg(m.captured(1)));
  // USE [a]b]: the identifier ends at the first lone ], the parser stumbles on what follows.
  static const QRegularExpression badUse(
      QStringLiteral(R"(^USE\s+\[(?:[^\]]|\]\])*\]([^\s\]\[;]+))"),
      QRegularExpression::CaseInsensitiveOption);
  if (const auto u = badUse.match(t); u.hasMatch())
    return ErrorReply(s, st, 102, 15, 1,
                      QStringLiteral("Incorrect syntax near '%1'.").arg(u.captured(1)));
  // Report the last word, as the parser stops at the end of what it could not place.
  QString near = t.section(QRegularExpression(QStringLiteral("\\s+")), -1);
  if (near.endsWith(QLatin1Char(';'))) near.chop(1);
  if (near.isEmpty()) near = t;
  return ErrorReply(s, st, 102, 15, 1,
                    QStringLiteral("Incorrect syntax near '%1'.").arg(near.left(128)));
}

} // namespace

namespace SimEngine {

QString UnquoteString(const QString& body) {
  QString r = body;
  return r.replace(QStringLiteral("''"), QStringLiteral("'"));
}

QString UnquoteIdentifier(const QString& body) {
  QString r = body;
  return r.replace(QStringLiteral("]]"), QStringLiteral("]"));
}

QString Classify(const QString& sql) {
  for (const TPattern& p : Patterns())
    if (p.Re.match(sql).hasMatch()) return QString::fromLatin1(p.Key);
  return QString();
}

TSimReply Errors(const TSimScenario& scenario, const TSimSessionState& state,
                 const QList<TSimMessage>& messages) {
  TTokenWriter w(state.Format);
  bool anyError = false;
  for (const TSimMessage& m : messages) {
    const bool isError = m.Severity > 10;
    anyError = anyError || isError;
    w.Message(isError, m.Number, m.State, m.Severity, m.Text, scenario.ServerName());
  }
  w.Done(anyError ? Tds::DoneError : Tds::DoneFinal, 0, 0);
  return {w.Bytes(), 0};
}

QByteArray AttentionAck(const TSimSessionState& state) {
  TTokenWriter w(state.Format);
  w.Done(Tds::DoneAttn, 0, 0);
  return w.Bytes();
}

TSimReply Execute(const TSimScenario& s, TSimSessionState& st, const QString& sql) {
  static const QRegularExpression setStmt(QStringLiteral(R"(^\s*SET\s)"),
                                          QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression selectVersion(
      QStringLiteral(R"(^\s*SELECT\s+@@VERSION\s*;?\s*$)"),
      QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression selectSpid(QStringLiteral(R"(^\s*SELECT\s+@@SPID\s*;?\s*$)"),
                                             QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression selectInt(QStringLiteral(R"(^\s*SELECT\s+(-?\d{1,9})\s*;?\s*$)"),
                                            QRegularExpression::CaseInsensitiveOption);
  if (sql.trimmed().isEmpty() || setStmt.match(sql).hasMatch()) {
    TTokenWriter w(st.Format);
    w.Done(Tds::DoneFinal, 0, 0);
    return {w.Bytes(), 0};
  }
  const TSimLogin* login = s.FindLogin(st.Login);
  for (const TPattern& p : Patterns()) {
    const auto m = p.Re.match(sql);
    if (!m.hasMatch()) continue;
    const QString key = QString::fromLatin1(p.Key);
    if (login && !login->MayRun(key)) return Denied(s, st, key);
    if (key == QLatin1String("version")) return Version(s, st);
    if (key == QLatin1String("engineedition")) return SingleInt(st, s.EngineEdition);
    if (key == QLatin1String("sysdatabases")) return SysDatabases(s, st);
    if (key == QLatin1String("sqlperf")) return SqlPerf(s, st);
    if (key == QLatin1String("use"))
      return Use(s, st,
                 m.capturedLength(1) > 0 || m.captured(2).isEmpty()
                     ? UnquoteIdentifier(m.captured(1))
                     : m.captured(2));
    if (key == QLatin1String("loginfo")) return LogInfo(s, st);
    if (key == QLatin1String("opentran")) return OpenTran(s, st);
    if (key == QLatin1String("sysfiles")) return SysFiles(s, st);
    if (key == QLatin1String("recovery")) return Recovery(s, st, UnquoteString(m.captured(1)));
    if (key == QLatin1String("backupset")) return BackupSet(s, st, UnquoteString(m.captured(2)));
    if (key == QLatin1String("reusewait")) return ReuseWait(s, st, UnquoteString(m.captured(1)));
  }
  if (selectVersion.match(sql).hasMatch())
    return SingleValue(s, st,
                       QStringLiteral("Microsoft SQL Server %1 - %2 (X64) \n\t%3 on Windows NT 6.1 "
                                      "<X64> (Build 7601: Service Pack 1)\n")
                           .arg(ProductLine(s), s.Version, s.Edition));
  if (selectSpid.match(sql).hasMatch()) return SingleInt(st, st.Spid);
  if (const auto m = selectInt.match(sql); m.hasMatch())
    return SingleInt(st, m.captured(1).toLongLong());
  return Unknown(s, st, sql);
}

} // namespace SimEngine
