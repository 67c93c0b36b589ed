#include "uSimEngine.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <vector>

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

// The statements that read every database at once, as the monitor sends them. Compared after
// Normalized(): blanks collapsed and dropped around punctuation, letter case ignored.
struct TCanonical {
  const char* Key;
  const char* Text;
};
const TCanonical Canonicals[] = {
    {"databases", "SELECT d.name, d.database_id, d.state, d.recovery_model_desc, d.log_reuse_wait, "
                  "d.log_reuse_wait_desc, GETDATE() AS server_time FROM sys.databases d"},
    {"lastbackups", "SELECT b.database_name, MAX(b.backup_finish_date) AS last_log_backup "
                    "FROM msdb.dbo.backupset b WHERE b.type = 'L' GROUP BY b.database_name"},
    {"logstats",
     "SELECT d.name, s.total_vlf_count, s.active_vlf_count, s.log_backup_time, "
     "s.log_truncation_holdup_reason, s.total_log_size_mb, s.active_log_size_mb "
     "FROM sys.databases d CROSS APPLY sys.dm_db_log_stats(d.database_id) s WHERE d.state = 0"},
    {"loginfodmv",
     "SELECT CAST(0 AS int) AS RecoveryUnitId, CAST(li.file_id AS int) AS FileId, "
     "COALESCE(LEAD(li.vlf_begin_offset) OVER (PARTITION BY li.file_id ORDER BY "
     "li.vlf_begin_offset) - li.vlf_begin_offset, CAST(ROUND(li.vlf_size_mb * 1048576, 0) AS "
     "bigint)) AS FileSize, li.vlf_begin_offset AS StartOffset, CAST(li.vlf_sequence_number AS "
     "int) AS FSeqNo, li.vlf_status AS Status, li.vlf_parity AS Parity, li.vlf_create_lsn AS "
     "CreateLSN FROM sys.dm_db_log_info(DB_ID()) li ORDER BY li.file_id, li.vlf_begin_offset"},
};

QString Normalized(const QString& sql) {
  QString t = sql.simplified();
  while (t.endsWith(QLatin1Char(';')))
    t = t.chopped(1).trimmed();
  static const QRegularExpression aroundPunct(QStringLiteral(R"(\s*([,()=.*\-])\s*)"));
  t.replace(aroundPunct, QStringLiteral("\\1"));
  return t.toLower();
}

QString CanonicalKey(const QString& sql) {
  static const QList<QPair<QString, QString>> known = [] {
    QList<QPair<QString, QString>> list;
    for (const TCanonical& c : Canonicals)
      list << qMakePair(Normalized(QString::fromLatin1(c.Text)), QString::fromLatin1(c.Key));
    return list;
  }();
  const QString n = Normalized(sql);
  for (const auto& k : known)
    if (k.first == n) return k.second;
  return {};
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
  if (key == QLatin1String("lastbackups") || key == QLatin1String("backupset"))
    return ErrorReply(s, st, 229, 14, 5,
                      QStringLiteral("The SELECT permission was denied on the object 'backupset', "
                                     "database 'msdb', schema 'dbo'."));
  if (key == QLatin1String("loginfo") || key == QLatin1String("opentran") ||
      key == QLatin1String("sqlperf"))
    return ErrorReply(s, st, 2571, 14, 3,
                      QStringLiteral("User '%1' does not have permission to run DBCC %2.")
                          .arg(st.Login, DbccName(key)));
  static const QHash<QString, QString> objects = {
      {"sysdatabases", "sysdatabases"}, {"sysfiles", "sysfiles"},
      {"backupset", "backupset"},       {"reusewait", "databases"},
      {"version", "SERVERPROPERTY"},    {"recovery", "DATABASEPROPERTYEX"},
      {"databases", "databases"},       {"logstats", "dm_db_log_stats"},
      {"loginfodmv", "dm_db_log_info"}};
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

// sys.dm_db_log_stats and sys.dm_db_log_info came with 2016 SP2 (13.0.5026).
bool HasLogDmvs(const TSimScenario& s) {
  return s.Major() > 13 || (s.Major() == 13 && (s.Minor() > 0 || s.Build() >= 5026));
}

TSimReply InvalidObject(const TSimScenario& s, const TSimSessionState& st, const QString& object) {
  return ErrorReply(s, st, 208, 16, 1, QStringLiteral("Invalid object name '%1'.").arg(object));
}

// A login without VIEW SERVER STATE (from 2022: the PERFORMANCE STATE permissions).
TSimReply NoServerState(const TSimScenario& s, const TSimSessionState& st, bool databaseLevel) {
  QString first;
  if (s.Major() < 16)
    first = QStringLiteral("VIEW SERVER STATE permission was denied on object 'server', database "
                           "'master'.");
  else if (!databaseLevel)
    first = QStringLiteral("VIEW SERVER PERFORMANCE STATE permission was denied on object "
                           "'server', database 'master'.");
  else
    first = QStringLiteral("VIEW DATABASE PERFORMANCE STATE permission denied in database '%1'.")
                .arg(st.Database);
  return SimEngine::Errors(
      s, st,
      {TSimMessage{300, 14, 1, first},
       TSimMessage{297, 16, 1,
                   QStringLiteral("The user does not have permission to perform this "
                                  "action.")}});
}

// The databases a login sees in sys.databases: offline ones need more than a plain login.
bool Visible(const TSimDatabase& db, const TSimLogin* login) {
  return db.Online || !login || login->Sysadmin;
}

TSimReply Databases(const TSimScenario& s, const TSimSessionState& st) {
  if (s.Major() < 9) return InvalidObject(s, st, QStringLiteral("sys.databases"));
  const TSimLogin* login = s.FindLogin(st.Login);
  const QDateTime local = QDateTime::currentDateTime();
  const QDateTime now(local.date(), local.time(), Qt::UTC);
  TTokenWriter w(st.Format);
  w.ColMetadata({TColumn{QStringLiteral("name"), TColType::NVarChar, 128},
                 TColumn{QStringLiteral("database_id"), TColType::Int},
                 TColumn{QStringLiteral("state"), TColType::TinyInt},
                 TColumn{QStringLiteral("recovery_model_desc"), TColType::NVarChar, 60},
                 TColumn{QStringLiteral("log_reuse_wait"), TColType::TinyInt},
                 TColumn{QStringLiteral("log_reuse_wait_desc"), TColType::NVarChar, 60},
                 TColumn{QStringLiteral("server_time"), TColType::DateTime}});
  const qsizetype rows = w.Bytes().size();
  quint64 n = 0;
  for (int i = 0; i < s.Databases.size(); ++i) {
    const TSimDatabase& db = s.Databases[i];
    if (!Visible(db, login)) continue;
    w.Row();
    w.NVarChar(db.Name);
    w.IntN(4, i + 1);
    w.IntN(1, db.Online ? 0 : 6); // 6: OFFLINE
    w.NVarChar(db.Recovery);
    w.IntN(1, db.LogReuseWaitNumber);
    w.NVarChar(db.LogReuseWait);
    w.DateTimeN(now);
    ++n;
  }
  w.Done(Tds::DoneCount, CmdSelect, n);
  return {w.Bytes(), rows};
}

TSimReply LastBackups(const TSimScenario& s, const TSimSessionState& st) {
  TTokenWriter w(st.Format);
  w.ColMetadata({TColumn{QStringLiteral("database_name"), TColType::NVarChar, 128},
                 TColumn{QStringLiteral("last_log_backup"), TColType::DateTime}});
  const qsizetype rows = w.Bytes().size();
  quint64 n = 0;
  for (const TSimDatabase& db : s.Databases) {
    if (db.LogBackups.isEmpty()) continue;
    w.Row();
    w.NVarChar(db.Name);
    w.DateTimeN(*std::max_element(db.LogBackups.begin(), db.LogBackups.end()));
    ++n;
  }
  w.Done(Tds::DoneCount, CmdSelect, n);
  return {w.Bytes(), rows};
}

TSimReply LogStats(const TSimScenario& s, const TSimSessionState& st) {
  if (!HasLogDmvs(s)) return InvalidObject(s, st, QStringLiteral("sys.dm_db_log_stats"));
  const TSimLogin* login = s.FindLogin(st.Login);
  if (login && !login->ViewServerState) return NoServerState(s, st, false);
  TTokenWriter w(st.Format);
  w.ColMetadata({TColumn{QStringLiteral("name"), TColType::NVarChar, 128},
                 TColumn{QStringLiteral("total_vlf_count"), TColType::BigInt},
                 TColumn{QStringLiteral("active_vlf_count"), TColType::BigInt},
                 TColumn{QStringLiteral("log_backup_time"), TColType::DateTime},
                 TColumn{QStringLiteral("log_truncation_holdup_reason"), TColType::NVarChar, 60},
                 TColumn{QStringLiteral("total_log_size_mb"), TColType::Float},
                 TColumn{QStringLiteral("active_log_size_mb"), TColType::Float}});
  const qsizetype rows = w.Bytes().size();
  // A database never backed up shows the smallest datetime the view uses, 1900-01-01.
  static const QDateTime never(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC);
  quint64 n = 0;
  for (const TSimDatabase& db : s.Databases) {
    if (!db.Online) continue;
    w.Row();
    w.NVarChar(db.Name);
    w.IntN(8, db.VlfCount());
    w.IntN(8, db.ActiveVlfCount());
    w.DateTimeN(db.LogBackups.isEmpty()
                    ? never
                    : *std::max_element(db.LogBackups.begin(), db.LogBackups.end()));
    w.NVarChar(db.LogReuseWait);
    w.Float(db.LogSizeMB);
    w.Float(db.LogSizeMB * db.LogUsedPercent / 100.0);
    ++n;
  }
  w.Done(Tds::DoneCount, CmdSelect, n);
  return {w.Bytes(), rows};
}

// An LSN as text: the VLF, block and slot parts of the decimal LSN, in hex as the log shows
// them ("00000025:00000068:0001"). The view's own format is not documented.
QString LsnText(__int128 lsn) {
  const qint64 slot = qint64(lsn % 100000);
  const qint64 block = qint64((lsn / 100000) % 10000000000LL);
  const qint64 vlf = qint64(lsn / __int128(1000000000000000LL));
  return QStringLiteral("%1:%2:%3")
      .arg(vlf, 8, 16, QLatin1Char('0'))
      .arg(block, 8, 16, QLatin1Char('0'))
      .arg(slot, 4, 16, QLatin1Char('0'));
}

TSimReply LogInfoDmv(const TSimScenario& s, const TSimSessionState& st) {
  if (!HasLogDmvs(s)) return InvalidObject(s, st, QStringLiteral("sys.dm_db_log_info"));
  const TSimLogin* login = s.FindLogin(st.Login);
  if (login && !login->ViewServerState) return NoServerState(s, st, true);
  const TSimDatabase* db = CurrentDb(s, st);
  TTokenWriter w(st.Format);
  w.ColMetadata({TColumn{QStringLiteral("RecoveryUnitId"), TColType::Int},
                 TColumn{QStringLiteral("FileId"), TColType::Int},
                 TColumn{QStringLiteral("FileSize"), TColType::BigInt},
                 TColumn{QStringLiteral("StartOffset"), TColType::BigInt},
                 TColumn{QStringLiteral("FSeqNo"), TColType::Int},
                 TColumn{QStringLiteral("Status"), TColType::Int},
                 TColumn{QStringLiteral("Parity"), TColType::TinyInt},
                 TColumn{QStringLiteral("CreateLSN"), TColType::NVarChar, 48}});
  const qsizetype rows = w.Bytes().size();
  quint64 n = 0;
  if (db) {
    // Expanded here (the same VLFs DBCC LOGINFO lists), to know each file's last VLF, whose
    // size the statement takes from vlf_size_mb, rounded to two decimals.
    std::vector<TSimVlf> vlfs;
    vlfs.reserve(std::size_t(db->VlfCount()));
    qint64 ordinal = 0;
    static const __int128 lsnScale = __int128(1000000000000000LL);
    for (const TSimVlfRun& run : db->Vlfs) {
      if (run.Explicit) {
        vlfs.push_back(*run.Explicit);
        ++ordinal;
        continue;
      }
      for (qint64 i = 0; i < run.Count; ++i, ++ordinal) {
        TSimVlf v;
        v.FileId = run.FileId;
        v.FileSize = run.Size;
        v.StartOffset = run.StartOffset + i * run.Size;
        v.FSeqNo = run.FirstSeqNo == 0 ? 0 : qint32(run.FirstSeqNo + i);
        v.Status = i >= run.Count - run.Active ? 2 : 0;
        v.Parity = v.FSeqNo == 0 ? 0 : (v.FSeqNo % 2 ? 64 : 128);
        v.CreateLsn =
            ordinal < 4 ? 0 : __int128(run.FirstSeqNo + i) * lsnScale + (i % 100000) * 100000 + 1;
        vlfs.push_back(v);
      }
    }
    std::stable_sort(vlfs.begin(), vlfs.end(), [](const TSimVlf& a, const TSimVlf& b) {
      return a.FileId != b.FileId ? a.FileId < b.FileId : a.StartOffset < b.StartOffset;
    });
    for (std::size_t i = 0; i < vlfs.size(); ++i) {
      const TSimVlf& v = vlfs[i];
      const bool last = i + 1 == vlfs.size() || vlfs[i + 1].FileId != v.FileId;
      const qint64 size =
          last ? qint64(std::llround(std::round(double(v.FileSize) / 1048576.0 * 100) / 100 *
                                     1048576.0))
               : vlfs[i + 1].StartOffset - v.StartOffset;
      w.Row();
      w.IntN(4, 0);
      w.IntN(4, v.FileId);
      w.IntN(8, size);
      w.IntN(8, v.StartOffset);
      w.IntN(4, v.FSeqNo);
      // vlf_status: 2 active, 1 never used since the file was made, 0 reusable.
      w.IntN(4, v.Status == 2 ? 2 : v.FSeqNo == 0 ? 1 : 0);
      w.IntN(1, v.Parity);
      w.NVarChar(LsnText(v.CreateLsn));
      ++n;
    }
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
  return CanonicalKey(sql);
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
    // DBCC LOGINFO and OPENTRAN need sysadmin (or db_owner, which no simulated login has).
    if (login && !login->Sysadmin &&
        (key == QLatin1String("loginfo") || key == QLatin1String("opentran")))
      return Denied(s, st, key);
    if (key == QLatin1String("version")) return Version(s, st);
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
  if (const QString key = CanonicalKey(sql); !key.isEmpty()) {
    if (login && !login->MayRun(key)) return Denied(s, st, key);
    if (key == QLatin1String("databases")) return Databases(s, st);
    if (key == QLatin1String("lastbackups")) return LastBackups(s, st);
    if (key == QLatin1String("logstats")) return LogStats(s, st);
    return LogInfoDmv(s, st);
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
