#include "uSimScenario.h"

#include "uTdsStream.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <algorithm>
#include <stdexcept>

namespace {

struct TScenarioError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const QString& what) {
  throw TScenarioError(what.toStdString());
}

// Keys the parser does not know are most likely typing errors: they are reported, not fatal.
// Keys beginning with "_" are comments.
QStringList* Warnings = nullptr;

void CheckKeys(const QJsonObject& o, std::initializer_list<const char*> known,
               const QString& where) {
  if (!Warnings) return;
  for (auto it = o.begin(); it != o.end(); ++it) {
    const QString key = it.key();
    if (key.startsWith(QLatin1Char('_'))) continue;
    bool ok = false;
    for (const char* k : known)
      ok = ok || key == QLatin1String(k);
    if (!ok) *Warnings << QStringLiteral("%1: unknown key \"%2\"").arg(where, key);
  }
}

qint64 Int(const QJsonObject& o, const char* key, qint64 def, const QString& where) {
  const QJsonValue v = o.value(QLatin1String(key));
  if (v.isUndefined() || v.isNull()) return def;
  if (!v.isDouble())
    Fail(QStringLiteral("%1: \"%2\" must be a number").arg(where, QLatin1String(key)));
  const double d = v.toDouble();
  // JSON numbers are doubles: one outside the 64-bit range (1e300) has no integer value.
  if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
    Fail(QStringLiteral("%1: \"%2\" is out of range").arg(where, QLatin1String(key)));
  return qint64(d);
}

double Num(const QJsonObject& o, const char* key, double def, const QString& where) {
  const QJsonValue v = o.value(QLatin1String(key));
  if (v.isUndefined() || v.isNull()) return def;
  if (!v.isDouble())
    Fail(QStringLiteral("%1: \"%2\" must be a number").arg(where, QLatin1String(key)));
  return v.toDouble();
}

QString Str(const QJsonObject& o, const char* key, const QString& def, const QString& where) {
  const QJsonValue v = o.value(QLatin1String(key));
  if (v.isUndefined() || v.isNull()) return def;
  if (!v.isString())
    Fail(QStringLiteral("%1: \"%2\" must be a string").arg(where, QLatin1String(key)));
  return v.toString();
}

bool Bool(const QJsonObject& o, const char* key, bool def, const QString& where) {
  const QJsonValue v = o.value(QLatin1String(key));
  if (v.isUndefined() || v.isNull()) return def;
  if (!v.isBool())
    Fail(QStringLiteral("%1: \"%2\" must be true or false").arg(where, QLatin1String(key)));
  return v.toBool();
}

QStringList Strings(const QJsonObject& o, const char* key, const QString& where) {
  QStringList out;
  const QJsonValue v = o.value(QLatin1String(key));
  if (v.isUndefined() || v.isNull()) return out;
  if (!v.isArray())
    Fail(QStringLiteral("%1: \"%2\" must be an array of strings").arg(where, QLatin1String(key)));
  for (const QJsonValue& e : v.toArray()) {
    if (!e.isString())
      Fail(QStringLiteral("%1: \"%2\" must be an array of strings").arg(where, QLatin1String(key)));
    out << e.toString();
  }
  return out;
}

QJsonArray Array(const QJsonObject& o, const char* key, const QString& where) {
  const QJsonValue v = o.value(QLatin1String(key));
  if (v.isUndefined() || v.isNull()) return {};
  if (!v.isArray())
    Fail(QStringLiteral("%1: \"%2\" must be an array").arg(where, QLatin1String(key)));
  return v.toArray();
}

QJsonObject Object(const QJsonValue& v, const QString& where) {
  if (!v.isObject()) Fail(QStringLiteral("%1 must be an object").arg(where));
  return v.toObject();
}

const QSet<QString>& StatementKeys() {
  static const QSet<QString> keys = {"version",   "sysdatabases", "sqlperf",   "use",
                                     "loginfo",   "opentran",     "sysfiles",  "recovery",
                                     "backupset", "reusewait",    "databases", "lastbackups",
                                     "logstats",  "loginfodmv"};
  return keys;
}

// log_reuse_wait by its _desc, as sys.databases documents them (2012 and later).
qint32 ReuseWaitNumber(const QString& desc) {
  static const QHash<QString, qint32> numbers = {{"NOTHING", 0},
                                                 {"CHECKPOINT", 1},
                                                 {"LOG_BACKUP", 2},
                                                 {"ACTIVE_BACKUP_OR_RESTORE", 3},
                                                 {"ACTIVE_TRANSACTION", 4},
                                                 {"DATABASE_MIRRORING", 5},
                                                 {"REPLICATION", 6},
                                                 {"DATABASE_SNAPSHOT_CREATION", 7},
                                                 {"LOG_SCAN", 8},
                                                 {"AVAILABILITY_REPLICA", 9},
                                                 {"OLDEST_PAGE", 13},
                                                 {"OTHER_TRANSIENT", 14},
                                                 {"XTP_CHECKPOINT", 16},
                                                 {"SLOG_SCAN", 17}};
  return numbers.value(desc.toUpper(), 0);
}

// "now", "now-35m", "now-3d": relative to the simulator's clock when the scenario is read.
std::optional<QDateTime> RelativeTime(const QString& text) {
  static const QRegularExpression re(QStringLiteral(R"(^\s*now\s*(?:-\s*(\d+)\s*([smhd]))?\s*$)"),
                                     QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch m = re.match(text);
  if (!m.hasMatch()) return std::nullopt;
  const QDateTime local = QDateTime::currentDateTime();
  QDateTime now(local.date(), local.time(), Qt::UTC); // the server's wall clock
  now = now.addMSecs(-(now.time().msec()));
  if (m.captured(1).isEmpty()) return now;
  const qint64 n = m.captured(1).toLongLong();
  const QChar unit = m.captured(2).toLower().front();
  const qint64 seconds = unit == u's'   ? n
                         : unit == u'm' ? n * 60
                         : unit == u'h' ? n * 3600
                                        : n * 86400;
  return now.addSecs(-seconds);
}

// As DBCC OPENTRAN prints a start time: "Jan 10 2011  4:17:01:240PM".
QString OpenTranTime(const QDateTime& t) {
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int h = t.time().hour() % 12 == 0 ? 12 : t.time().hour() % 12;
  return QStringLiteral("%1 %2 %3 %4:%5:%6:%7%8")
      .arg(QLatin1String(months[t.date().month() - 1]))
      .arg(t.date().day(), 2)
      .arg(t.date().year())
      .arg(h, 2)
      .arg(t.time().minute(), 2, 10, QLatin1Char('0'))
      .arg(t.time().second(), 2, 10, QLatin1Char('0'))
      .arg(t.time().msec(), 3, 10, QLatin1Char('0'))
      .arg(t.time().hour() < 12 ? QLatin1String("AM") : QLatin1String("PM"));
}

TSimMessage ParseMessage(const QJsonObject& o, const QString& where) {
  CheckKeys(o, {"number", "severity", "state", "text"}, where);
  TSimMessage m;
  m.Number = qint32(Int(o, "number", 50000, where));
  m.Severity = quint8(std::clamp<qint64>(Int(o, "severity", 16, where), 0, 25));
  m.State = quint8(std::clamp<qint64>(Int(o, "state", 1, where), 0, 255));
  m.Text = Str(o, "text", QString(), where);
  return m;
}

QDateTime ParseTime(const QString& text, const QString& where) {
  if (const std::optional<QDateTime> relative = RelativeTime(text)) return *relative;
  QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
  if (!t.isValid()) t = QDateTime::fromString(text, Qt::ISODate);
  if (!t.isValid())
    Fail(QStringLiteral("%1: \"%2\" is not a date and time (yyyy-MM-ddTHH:mm:ss[.zzz])")
             .arg(where, text));
  t.setTimeSpec(Qt::UTC); // the server's wall clock, no time-zone arithmetic
  return t;
}

TSimVlfRun ParseVlf(const QJsonObject& o, const QString& where) {
  TSimVlfRun run;
  if (o.contains(QLatin1String("count"))) {
    CheckKeys(o, {"fileId", "count", "size", "active", "startOffset", "firstSeqNo"},
              where + QStringLiteral(", a VLF generator"));
    run.FileId = qint32(Int(o, "fileId", 2, where));
    run.Count = Int(o, "count", 0, where);
    run.Size = Int(o, "size", 262144, where);
    run.Active = Int(o, "active", 1, where);
    run.StartOffset = Int(o, "startOffset", 8192, where);
    run.FirstSeqNo = qint32(Int(o, "firstSeqNo", 20, where));
    if (run.Count < 0 || run.Size <= 0 || run.Active < 0 || run.Active > run.Count)
      Fail(QStringLiteral("%1: a VLF generator needs count >= 0, size > 0, 0 <= active <= count")
               .arg(where));
    return run;
  }
  CheckKeys(o,
            {"recoveryUnitId", "fileId", "fileSize", "startOffset", "fSeqNo", "status", "parity",
             "createLsn"},
            where + QStringLiteral(", a VLF"));
  TSimVlf v;
  v.RecoveryUnitId = qint32(Int(o, "recoveryUnitId", 0, where));
  v.FileId = qint32(Int(o, "fileId", 2, where));
  v.FileSize = Int(o, "fileSize", 262144, where);
  v.StartOffset = Int(o, "startOffset", 8192, where);
  v.FSeqNo = qint32(Int(o, "fSeqNo", 0, where));
  v.Status = qint32(Int(o, "status", 0, where));
  v.Parity = qint32(Int(o, "parity", 64, where));
  const QJsonValue lsn = o.value(QLatin1String("createLsn"));
  if (lsn.isString()) {
    const auto value = Tds::ParseDecimal(lsn.toString());
    if (!value)
      Fail(QStringLiteral("%1: \"createLsn\" must be a decimal number of up to 25 digits")
               .arg(where));
    v.CreateLsn = *value;
  } else if (lsn.isDouble()) {
    v.CreateLsn = qint64(lsn.toDouble());
  }
  run.Explicit = v;
  run.FileId = v.FileId;
  run.Count = 1;
  return run;
}

QString DataFolder(const TSimScenario& s) {
  const QString inst = s.Instance.compare(QLatin1String("MSSQLSERVER"), Qt::CaseInsensitive) == 0
                           ? QStringLiteral("MSSQLSERVER")
                           : s.Instance.toUpper();
  const QString ver = s.Major() == 10 && s.Minor() == 50 ? QStringLiteral("MSSQL10_50")
                                                         : QStringLiteral("MSSQL%1").arg(s.Major());
  return QStringLiteral("C:\\Program Files\\Microsoft SQL Server\\%1.%2\\MSSQL\\DATA\\")
      .arg(ver, inst);
}

void AddDefaults(TSimDatabase& db, const TSimScenario& s) {
  if (db.LogFiles.isEmpty()) {
    TSimLogFile f;
    f.Name = db.Name + QStringLiteral("_log");
    f.FileName = DataFolder(s) + db.Name + QStringLiteral("_log.ldf");
    f.Size = qint32(std::max(64.0, db.LogSizeMB * 128.0));
    f.Status = 0x100042; // 10 % growth, the server's default for a log
    db.LogFiles << f;
  }
  if (db.Vlfs.isEmpty()) {
    // Four equal VLFs per log file, the way a new log starts; the first one in use.
    int seq = 20;
    for (const TSimLogFile& f : db.LogFiles) {
      TSimVlfRun run;
      run.FileId = f.FileId;
      run.Count = 4;
      run.Size = std::max<qint64>(8192, (qint64(f.Size) * 8192 - 8192) / 4);
      run.Active = 0;
      run.FirstSeqNo = seq;
      db.Vlfs << run;
      seq += 4;
    }
    if (!db.Vlfs.isEmpty()) {
      // Mark the first VLF active by splitting it off as an explicit one.
      TSimVlfRun& first = db.Vlfs.first();
      TSimVlf v;
      v.FileId = first.FileId;
      v.FileSize = first.Size;
      v.StartOffset = first.StartOffset;
      v.FSeqNo = first.FirstSeqNo;
      v.Status = 2;
      TSimVlfRun head;
      head.Explicit = v;
      head.FileId = v.FileId;
      head.Count = 1;
      first.Count -= 1;
      first.StartOffset += first.Size;
      first.FirstSeqNo = 0; // inactive VLFs that were never used carry sequence 0
      db.Vlfs.prepend(head);
    }
  }
}

TSimDatabase ParseDatabase(const QJsonObject& o, const TSimScenario& s, const QString& where) {
  TSimDatabase db;
  db.Name = Str(o, "name", QString(), where);
  if (db.Name.isEmpty()) Fail(QStringLiteral("%1: \"name\" is required").arg(where));
  const QString w = QStringLiteral("database '%1'").arg(db.Name);
  CheckKeys(o,
            {"name", "status", "online", "recovery", "logReuseWait", "logSizeMB", "logUsedPercent",
             "logSpaceStatus", "logFiles", "vlfs", "openTransaction", "replication", "logBackups",
             "logReuseWaitNumber"},
            w);
  db.Status = qint32(Int(o, "status", 0, w));
  db.Online = Bool(o, "online", (db.Status & 0x200) == 0, w);
  db.Recovery = Str(o, "recovery", QStringLiteral("SIMPLE"), w).toUpper();
  db.LogReuseWait = Str(o, "logReuseWait", QStringLiteral("NOTHING"), w);
  db.LogReuseWaitNumber = qint32(Int(o, "logReuseWaitNumber", ReuseWaitNumber(db.LogReuseWait), w));
  db.LogSizeMB = Num(o, "logSizeMB", 1.0, w);
  db.LogUsedPercent = Num(o, "logUsedPercent", 10.0, w);
  db.LogSpaceStatus = qint32(Int(o, "logSpaceStatus", 0, w));
  qint16 nextId = 2;
  for (const QJsonValue& fv : Array(o, "logFiles", w)) {
    const QJsonObject f = Object(fv, w + QStringLiteral(": a log file"));
    CheckKeys(f,
              {"fileId", "groupId", "size", "maxSize", "growth", "percentGrowth", "status", "perf",
               "name", "fileName"},
              w + QStringLiteral(", a log file"));
    TSimLogFile lf;
    lf.FileId = qint16(Int(f, "fileId", nextId, w));
    nextId = qint16(lf.FileId + 1);
    lf.GroupId = qint16(Int(f, "groupId", 0, w));
    lf.Size = qint32(Int(f, "size", 128, w));
    lf.MaxSize = qint32(Int(f, "maxSize", -1, w));
    lf.Growth = qint32(Int(f, "growth", 10, w));
    const bool percent = Bool(f, "percentGrowth", false, w);
    lf.Status = qint32(Int(f, "status", 0x42 | (percent ? 0x100000 : 0), w));
    lf.Perf = qint32(Int(f, "perf", 0, w));
    lf.Name = Str(f, "name", db.Name + QStringLiteral("_log"), w);
    lf.FileName = Str(f, "fileName", DataFolder(s) + lf.Name + QStringLiteral(".ldf"), w);
    db.LogFiles << lf;
  }
  for (const QJsonValue& vv : Array(o, "vlfs", w))
    db.Vlfs << ParseVlf(Object(vv, w + QStringLiteral(": a VLF")), w);
  const QJsonValue ot = o.value(QLatin1String("openTransaction"));
  if (ot.isObject()) {
    const QJsonObject t = ot.toObject();
    CheckKeys(t, {"spid", "uid", "name", "lsn", "startTime", "sid"},
              w + QStringLiteral(", openTransaction"));
    TSimOpenTran tr;
    tr.Spid = qint32(Int(t, "spid", tr.Spid, w));
    tr.Uid = qint32(Int(t, "uid", tr.Uid, w));
    tr.Name = Str(t, "name", tr.Name, w);
    tr.Lsn = Str(t, "lsn", tr.Lsn, w);
    tr.StartTime = Str(t, "startTime", tr.StartTime, w);
    if (const std::optional<QDateTime> relative = RelativeTime(tr.StartTime))
      tr.StartTime = OpenTranTime(*relative);
    tr.Sid = Str(t, "sid", tr.Sid, w);
    db.OpenTran = tr;
  } else if (!ot.isUndefined() && !ot.isNull()) {
    Fail(QStringLiteral("%1: \"openTransaction\" must be an object or null").arg(w));
  }
  const QJsonValue rep = o.value(QLatin1String("replication"));
  if (rep.isObject()) {
    CheckKeys(rep.toObject(), {"distributedLsn", "nonDistributedLsn"},
              w + QStringLiteral(", replication"));
    TSimReplication r;
    r.DistributedLsn = Str(rep.toObject(), "distributedLsn", r.DistributedLsn, w);
    r.NonDistributedLsn = Str(rep.toObject(), "nonDistributedLsn", r.NonDistributedLsn, w);
    db.Replication = r;
  }
  for (const QString& b : Strings(o, "logBackups", w))
    db.LogBackups << ParseTime(b, w);
  AddDefaults(db, s);
  return db;
}

// Builds `count` databases for benchmarks: names prefix00001..., varied log figures.
void Generate(TSimScenario& s, const QJsonObject& g) {
  const QString w = QStringLiteral("databaseGenerator");
  CheckKeys(g, {"count", "namePrefix", "logSizeMB", "vlfs"}, w);
  CheckKeys(g.value(QLatin1String("vlfs")).toObject(), {"count", "size", "active"},
            w + QStringLiteral(", vlfs"));
  const qint64 count = Int(g, "count", 0, w);
  if (count < 0 || count > 1000000)
    Fail(QStringLiteral("%1: \"count\" must be between 0 and 1000000").arg(w));
  const QString prefix = Str(g, "namePrefix", QStringLiteral("db"), w);
  const double size = Num(g, "logSizeMB", 8.0, w);
  const QJsonObject vlf = g.value(QLatin1String("vlfs")).toObject();
  const qint64 vlfCount = Int(vlf, "count", 4, w);
  const qint64 vlfActive = Int(vlf, "active", 1, w);
  const qint64 vlfSize = Int(vlf, "size", 262144, w);
  if (vlfCount < 0 || vlfActive < 0 || vlfActive > vlfCount || vlfSize <= 0)
    Fail(QStringLiteral("%1: \"vlfs\" needs count >= 0, size > 0, 0 <= active <= count").arg(w));
  const int digits = qMax(5, int(QString::number(count).size()));
  for (qint64 i = 1; i <= count; ++i) {
    TSimDatabase db;
    db.Name = prefix + QStringLiteral("%1").arg(i, digits, 10, QLatin1Char('0'));
    db.Recovery = i % 3 == 0 ? QStringLiteral("FULL") : QStringLiteral("SIMPLE");
    db.LogSizeMB = size + double(i % 7);
    db.LogUsedPercent = double((i * 37) % 100) + 0.25;
    TSimLogFile f;
    f.Name = db.Name + QStringLiteral("_log");
    f.FileName = DataFolder(s) + f.Name + QStringLiteral(".ldf");
    f.Size = qint32(qMin<qint64>(INT32_MAX, vlfCount * vlfSize / 8192 + 1));
    db.LogFiles << f;
    TSimVlfRun run;
    run.Count = vlfCount;
    run.Size = vlfSize;
    run.Active = vlfActive;
    run.FirstSeqNo = 20;
    db.Vlfs << run;
    s.Databases << db;
  }
}

} // namespace

bool TSimLogin::MayOpen(const QString& database) const {
  return Databases.isEmpty() || Databases.contains(database, Qt::CaseInsensitive);
}

bool TSimLogin::MayRun(const QString& statementKey) const {
  return !Denied.contains(statementKey, Qt::CaseInsensitive);
}

qint64 TSimDatabase::ActiveVlfCount() const {
  qint64 n = 0;
  for (const TSimVlfRun& r : Vlfs)
    n += r.Explicit ? (r.Explicit->Status == 2 ? 1 : 0) : r.Active;
  return n;
}

qint64 TSimDatabase::VlfCount() const {
  qint64 n = 0;
  for (const TSimVlfRun& r : Vlfs)
    n += r.Count;
  return n;
}

static int VersionPart(const QString& v, int i) {
  return v.section(QLatin1Char('.'), i, i).toInt();
}
int TSimScenario::Major() const {
  return VersionPart(Version, 0);
}
int TSimScenario::Minor() const {
  return VersionPart(Version, 1);
}
int TSimScenario::Build() const {
  return VersionPart(Version, 2);
}

QString TSimScenario::ServerName() const {
  if (Instance.isEmpty() ||
      Instance.compare(QLatin1String("MSSQLSERVER"), Qt::CaseInsensitive) == 0)
    return Machine;
  return Machine + QLatin1Char('\\') + Instance;
}

const TSimLogin* TSimScenario::FindLogin(const QString& name) const {
  for (const TSimLogin& l : Logins)
    if (l.Name.compare(name, Qt::CaseInsensitive) == 0) return &l;
  return nullptr;
}

const TSimDatabase* TSimScenario::FindDatabase(const QString& name) const {
  const auto it = ByFoldedName.constFind(name.toCaseFolded());
  return it == ByFoldedName.cend() ? nullptr : &Databases[*it];
}

std::shared_ptr<const TSimScenario> ParseScenario(const QByteArray& json, QString* error,
                                                  QStringList* warnings) {
  struct TWarningsScope {
    explicit TWarningsScope(QStringList* w) { Warnings = w; }
    ~TWarningsScope() { Warnings = nullptr; }
  } scope(warnings);
  QJsonParseError pe;
  const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
  if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
    if (error)
      *error =
          pe.error != QJsonParseError::NoError
              ? QStringLiteral("JSON error at offset %1: %2").arg(pe.offset).arg(pe.errorString())
              : QStringLiteral("the scenario must be a JSON object");
    return nullptr;
  }
  try {
    auto s = std::make_shared<TSimScenario>();
    const QJsonObject root = doc.object();
    const QJsonObject server = root.value(QLatin1String("server")).toObject();
    CheckKeys(root, {"server", "logins", "databases", "databaseGenerator", "faults", "instances"},
              QStringLiteral("scenario"));
    CheckKeys(server, {"version", "edition", "machine", "instance"}, QStringLiteral("server"));
    s->Version = Str(server, "version", s->Version, QStringLiteral("server"));
    if (s->Major() <= 0 || s->Version.count(QLatin1Char('.')) < 2)
      Fail(QStringLiteral("server: \"version\" must look like 10.50.1600 or 10.50.1600.1"));
    s->Edition = Str(server, "edition", s->Edition, QStringLiteral("server"));
    s->Machine = Str(server, "machine", s->Machine, QStringLiteral("server"));
    s->Instance = Str(server, "instance", s->Instance, QStringLiteral("server"));

    for (const QJsonValue& lv : Array(root, "logins", QStringLiteral("scenario"))) {
      const QJsonObject o = Object(lv, QStringLiteral("a login"));
      TSimLogin l;
      l.Name = Str(o, "name", QString(), QStringLiteral("a login"));
      if (l.Name.isEmpty()) Fail(QStringLiteral("a login: \"name\" is required"));
      const QString w = QStringLiteral("login '%1'").arg(l.Name);
      CheckKeys(o,
                {"name", "password", "defaultDatabase", "databases", "denied", "sysadmin",
                 "viewServerState"},
                w);
      l.Sysadmin = Bool(o, "sysadmin", true, w);
      l.ViewServerState = Bool(o, "viewServerState", true, w);
      l.Password = Str(o, "password", QString(), w);
      l.DefaultDatabase = Str(o, "defaultDatabase", QStringLiteral("master"), w);
      l.Databases = Strings(o, "databases", w);
      l.Denied = Strings(o, "denied", w);
      for (const QString& k : l.Denied)
        if (!StatementKeys().contains(k.toLower()))
          Fail(QStringLiteral("%1: unknown statement key \"%2\"").arg(w, k));
      s->Logins << l;
    }

    for (const QJsonValue& dv : Array(root, "databases", QStringLiteral("scenario")))
      s->Databases << ParseDatabase(Object(dv, QStringLiteral("a database")), *s,
                                    QStringLiteral("a database"));
    const QJsonValue gen = root.value(QLatin1String("databaseGenerator"));
    if (gen.isObject()) Generate(*s, gen.toObject());
    for (int i = 0; i < s->Databases.size(); ++i) {
      s->ByName << i;
      s->ByFoldedName.insert(s->Databases[i].Name.toCaseFolded(), i);
    }
    std::stable_sort(s->ByName.begin(), s->ByName.end(), [&](int a, int b) {
      return s->Databases[a].Name.compare(s->Databases[b].Name, Qt::CaseInsensitive) < 0;
    });
    for (qsizetype i = 1; i < s->ByName.size(); ++i) {
      const QString& name = s->Databases[s->ByName[i]].Name;
      if (name.compare(s->Databases[s->ByName[i - 1]].Name, Qt::CaseInsensitive) == 0)
        Fail(QStringLiteral("database '%1' is listed twice").arg(name));
    }

    for (const QJsonValue& fv : Array(root, "faults", QStringLiteral("scenario"))) {
      const QJsonObject o = Object(fv, QStringLiteral("a fault"));
      const QString w = QStringLiteral("a fault");
      CheckKeys(o,
                {"pattern", "statement", "login", "delayMs", "error", "errors", "drop", "malformed",
                 "count", "loginReply", "intervalMs"},
                w);
      TSimFault f;
      const QString pattern = Str(o, "pattern", QString(), w);
      if (!pattern.isEmpty()) {
        f.Pattern = QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption);
        if (!f.Pattern.isValid())
          Fail(QStringLiteral("a fault: invalid pattern \"%1\": %2")
                   .arg(pattern, f.Pattern.errorString()));
      }
      f.Statement = Str(o, "statement", QString(), w).toLower();
      f.LoginReply = Str(o, "loginReply", QString(), w).toLower();
      if (!f.LoginReply.isEmpty() && f.LoginReply != QLatin1String("trickle") &&
          f.LoginReply != QLatin1String("stream"))
        Fail(QStringLiteral("a fault: \"loginReply\" must be \"trickle\" or \"stream\""));
      f.IntervalMs = int(std::clamp<qint64>(Int(o, "intervalMs", 1000, w), 1, 3600000));
      if (pattern.isEmpty() && f.Statement.isEmpty() && f.LoginReply.isEmpty())
        Fail(QStringLiteral("a fault needs \"pattern\", \"statement\" or \"loginReply\""));
      if (!f.Statement.isEmpty() && !StatementKeys().contains(f.Statement))
        Fail(QStringLiteral("a fault: unknown statement key \"%1\"").arg(f.Statement));
      f.Login = Str(o, "login", QString(), w);
      f.DelayMs = int(Int(o, "delayMs", 0, w));
      if (o.value(QLatin1String("error")).isObject())
        f.Errors << ParseMessage(o.value(QLatin1String("error")).toObject(), w);
      for (const QJsonValue& e : Array(o, "errors", w))
        f.Errors << ParseMessage(Object(e, QStringLiteral("a fault's error")), w);
      f.Drop = Str(o, "drop", QString(), w).toLower();
      if (!f.Drop.isEmpty() && f.Drop != QLatin1String("before") &&
          f.Drop != QLatin1String("middle"))
        Fail(QStringLiteral("a fault: \"drop\" must be \"before\" or \"middle\""));
      f.Malformed = Bool(o, "malformed", false, w);
      f.Count = int(Int(o, "count", -1, w));
      s->Faults << f;
    }

    for (const QJsonValue& iv : Array(root, "instances", QStringLiteral("scenario"))) {
      const QJsonObject o = Object(iv, QStringLiteral("an instance"));
      CheckKeys(o, {"machine", "instance", "version", "tcpPort", "clustered"},
                QStringLiteral("an instance"));
      TSimInstance i;
      i.Machine = Str(o, "machine", s->Machine, QStringLiteral("an instance"));
      i.Instance = Str(o, "instance", QString(), QStringLiteral("an instance"));
      i.Version = Str(o, "version", s->Version, QStringLiteral("an instance"));
      i.TcpPort = int(Int(o, "tcpPort", 1433, QStringLiteral("an instance")));
      i.Clustered = Bool(o, "clustered", false, QStringLiteral("an instance"));
      if (i.Instance.isEmpty()) Fail(QStringLiteral("an instance needs \"instance\""));
      s->Instances << i;
    }
    return s;
  } catch (const TScenarioError& e) {
    if (error) *error = QString::fromStdString(e.what());
    return nullptr;
  }
}

std::shared_ptr<const TSimScenario> LoadScenarioFile(const QString& path, QString* error,
                                                     QStringList* warnings) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    if (error) *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
    return nullptr;
  }
  return ParseScenario(f.readAll(), error, warnings);
}
