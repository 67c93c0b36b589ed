#pragma once
// The scenario and helpers the simulator tests share: a small instance with the awkward cases,
// the statements as Velmora sends them, and readers of the clients' output.

#include "uClientRunner.h"
#include "uSqlSimProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace SqlSimFixture {

// A small instance with the awkward cases: a name with ', ] and a non-ASCII letter, two log
// files, an LSN of 25 digits, an offline database, a login with restricted rights.
inline const char* const Fixture = R"json({
  "server": {"version": "%VERSION%", "edition": "Developer Edition (64-bit)", "machine": "SIMHOST"},
  "logins": [
    {"name": "demo", "password": "demo"},
    {"name": "limited", "password": "pw", "denied": ["loginfo"], "databases": ["master", "Quiet"]}
  ],
  "databases": [
    {"name": "master", "logSizeMB": 2.5, "logUsedPercent": 31.5},
    {"name": "Zürich's]db", "recovery": "FULL", "logReuseWait": "LOG_BACKUP",
     "logSizeMB": 12.5, "logUsedPercent": 75.25,
     "logFiles": [
       {"fileId": 2, "name": "z_log", "fileName": "L:\\z_log.ldf", "size": 1600,
        "maxSize": 268435456, "growth": 10, "percentGrowth": true},
       {"fileId": 3, "name": "z_log2", "fileName": "L:\\z_log2.ldf", "size": 128, "growth": 128}],
     "vlfs": [
       {"fileId": 2, "fileSize": 253952, "startOffset": 8192, "fSeqNo": 37, "status": 2,
        "parity": 64, "createLsn": "0"},
       {"fileId": 2, "fileSize": 327680, "startOffset": 262144, "fSeqNo": 38, "status": 0,
        "parity": 128, "createLsn": "1234567890123456789012345"},
       {"fileId": 3, "fileSize": 1048576, "startOffset": 8192, "fSeqNo": 0, "status": 0,
        "parity": 0, "createLsn": "37000000012800001"}],
     "openTransaction": {"spid": 57, "uid": -1, "name": "user_transaction", "lsn": "(37:120:1)",
                         "startTime": "Jan 10 2011  4:17:01:240PM", "sid": "0x0105"},
     "logBackups": ["2011-01-09T23:00:00", "2011-01-10T16:17:01.240"]},
    {"name": "Quiet", "logSizeMB": 1, "logUsedPercent": 5},
    {"name": "Offline", "status": 512}
  ]
})json";

inline QString FixtureFor(const QString& version) {
  return QString::fromUtf8(Fixture).replace(QStringLiteral("%VERSION%"), version);
}

inline const QString UseZ = QStringLiteral("USE [Zürich's]]db]");
inline const QString LogInfo = QStringLiteral("DBCC LOGINFO");
inline const QString OpenTran = QStringLiteral("DBCC OPENTRAN");
inline const QString SqlPerf = QStringLiteral("DBCC SQLPERF(LOGSPACE)");
inline const QString SysFiles = QStringLiteral("SELECT * FROM sysfiles WHERE (status & 64) = 64");
inline const QString VersionQuery =
    QStringLiteral("SELECT SERVERPROPERTY('ProductVersion'), SERVERPROPERTY('Edition')");
inline const QString SysDatabases =
    QStringLiteral("SELECT name, status FROM master..sysdatabases ORDER BY name");

inline QString Recovery(const QString& quoted) {
  return QStringLiteral("SELECT DATABASEPROPERTYEX(N'%1', 'RECOVERY')").arg(quoted);
}
inline QString BackupSet(const QString& quoted) {
  return QStringLiteral("SELECT TOP 1 a.backup_finish_date FROM msdb..backupset a WHERE "
                        "a.database_name = N'%1'   AND a.type = 'L' ORDER BY "
                        "a.backup_finish_date DESC")
      .arg(quoted);
}
inline QString ReuseWait(const QString& quoted) {
  return QStringLiteral("SELECT log_reuse_wait_desc FROM sys.databases WHERE name = N'%1'")
      .arg(quoted);
}

// "name:Type" with the size that tells the SQL type apart (bytes of an integer, float or date,
// characters of a string, precision and scale of a numeric).
inline QString Describe(const QJsonObject& c) {
  const QString type = c.value("type").toString();
  QString d = c.value("name").toString() + ":" + type;
  if (type == "IntN" || type == "FloatN" || type == "DateTimeN")
    d += QString::number(c.value("dataLength").toInt());
  else if (type == "NVarChar")
    d += QString::number(c.value("dataLength").toInt() / 2);
  else if (type == "NumericN")
    d += QStringLiteral("(%1,%2)").arg(c.value("precision").toInt()).arg(c.value("scale").toInt());
  return d;
}

// Numbers compare with a relative tolerance: tedious turns numeric(25,0) into a double.
inline bool SameJson(const QJsonValue& a, const QJsonValue& b) {
  if (a.isDouble() && b.isDouble())
    return qAbs(a.toDouble() - b.toDouble()) <= 1e-12 * qMax(1.0, qAbs(b.toDouble()));
  if (a.isArray() && b.isArray()) {
    const QJsonArray x = a.toArray(), y = b.toArray();
    if (x.size() != y.size()) return false;
    for (qsizetype i = 0; i < x.size(); ++i)
      if (!SameJson(x[i], y[i])) return false;
    return true;
  }
  return a == b;
}

inline QString Compact(const QJsonValue& v) {
  return QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact));
}

struct TMsg {
  int Number;
  QString Text;
};

// The server messages tsql prints on stderr: Msg N (severity S, state T) from HOST Line
// 1:\n\t"text"
inline QList<TMsg> TsqlMessages(const QString& err) {
  static const QRegularExpression re(
      QStringLiteral(R"(Msg (\d+) \(severity \d+, state \d+\)[^\n]*\n\t"([^\n]*)\")"));
  QList<TMsg> out;
  for (auto it = re.globalMatch(err); it.hasNext();) {
    const auto m = it.next();
    out << TMsg{m.captured(1).toInt(), m.captured(2)};
  }
  return out;
}

inline QList<int> Numbers(const QJsonArray& messages) {
  QList<int> out;
  for (const QJsonValue& m : messages)
    out << m.toObject().value("number").toInt();
  return out;
}

// The batches the server received, without the SET batches clients send on their own and
// without the line break tsql appends.
inline QStringList SentBatches(const TSqlSimProcess& sim) {
  QStringList out;
  for (const QString& b : sim.LogLines())
    if (!b.trimmed().startsWith("set ", Qt::CaseInsensitive)) out << b.trimmed();
  return out;
}

inline const QString DbccDone = QStringLiteral(
    "DBCC execution completed. If DBCC printed error messages, contact your system administrator.");

} // namespace SqlSimFixture

using namespace SqlSimFixture;
