#include "cli/uCliSurvey.h"

#include "datastore/uLogQueries.h"
#include "session/uLogReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QRegularExpression>
#include <algorithm>
#include <atomic>
#include <thread>

namespace {

QString Tr(const char* text) {
  return QCoreApplication::translate("TCliSurvey", text);
}

// sys.databases.state as its state_desc spells it.
QString StateName(int state) {
  switch (state) {
  case 0:
    return QStringLiteral("ONLINE");
  case 1:
    return QStringLiteral("RESTORING");
  case 2:
    return QStringLiteral("RECOVERING");
  case 3:
    return QStringLiteral("RECOVERY_PENDING");
  case 4:
    return QStringLiteral("SUSPECT");
  case 5:
    return QStringLiteral("EMERGENCY");
  case 6:
    return QStringLiteral("OFFLINE");
  case 7:
    return QStringLiteral("COPYING");
  case 10:
    return QStringLiteral("OFFLINE_SECONDARY");
  default:
    return QString::number(state);
  }
}

// "SQL Server 2022 - 16.0.1000" -> "16.0.1000"; empty when the name holds no version.
QString ProductVersion(const QString& versionName) {
  static const QRegularExpression re(QStringLiteral(R"((\d+)\.(\d+)\.(\d+))"));
  const QRegularExpressionMatch m = re.match(versionName);
  return m.hasMatch() ? m.captured(0) : QString();
}

// A statement that times out or finds the connection gone ends the server's reading: every
// later one would cost its time-out again.
bool EndsReading(const TOutcome& o) {
  return o.Kind == TOutcomeKind::TimedOut || o.Kind == TOutcomeKind::ConnectionLost;
}

// DBCC OPENTRAN's lines in the order the server printed them.
QStringList OpenTranLines(const TOpenTranPart& part) {
  QStringList lines;
  for (auto it = part.InfoMessages.crbegin(); it != part.InfoMessages.crend(); ++it)
    lines += it->split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  return lines;
}

void AddDetailsToFacts(TCliDatabase& db) {
  const TDetailsSnapshot& d = db.Details;
  if (d.Files.Outcome.IsOk())
    for (const TLogFileRow& r : d.Files.Rows) {
      TVerdictLogFile f;
      f.Name = r.Name;
      f.SizeBytes = r.SizePages * 8192;
      f.MaxSizeBytes = r.MaxSizePages < 0 ? -1 : r.MaxSizePages * 8192;
      f.PercentGrowth = (r.Status & 0x100000) != 0;
      f.Growth = f.PercentGrowth ? r.Growth : std::int64_t(r.Growth) * 8192;
      db.Facts.LogFiles.push_back(f);
    }
  if (d.VLFs.Outcome.IsOk() && !db.Facts.VlfCount) db.Facts.VlfCount = d.VLFs.RowCount();
  if (d.OpenTran.Outcome.IsOk()) {
    const QStringList lines = OpenTranLines(d.OpenTran);
    db.Facts.OldestTransactionSpid = ParseOpenTranSpid(lines);
    for (const QString& line : lines)
      if (line.trimmed().startsWith(QLatin1String("Start time"), Qt::CaseInsensitive))
        db.Facts.OldestTransactionStart = ParseOpenTranStartTime(line.section(u':', 1));
  }
}

} // namespace

TSQLConnectionProperties TCliTarget::Properties() const {
  TSQLConnectionProperties p;
  p.Instance = Server;
  p.Database = Database;
  p.SQLLogin = Login;
  p.SQLPassword = Password;
  p.Provider = Provider;
  return p;
}

TCliLevel CliLevel(TVerdictLevel level) {
  return TCliLevel(int(level));
}

TCliLevel WorseLevel(TCliLevel a, TCliLevel b) {
  static const int rank[] = {0, 1, 3, 2}; // OK, WARNING, CRITICAL, UNKNOWN
  return rank[int(a)] >= rank[int(b)] ? a : b;
}

QString CliLevelName(TCliLevel level) {
  switch (level) {
  case TCliLevel::OK:
    return QStringLiteral("OK");
  case TCliLevel::Warning:
    return QStringLiteral("WARNING");
  case TCliLevel::Critical:
    return QStringLiteral("CRITICAL");
  case TCliLevel::Unknown:
    break;
  }
  return QStringLiteral("UNKNOWN");
}

std::optional<std::int64_t> TCliDatabase::LogBackupAgeSeconds() const {
  if (!Facts.LogBackupRead || !Facts.LastLogBackup.isValid() || !Facts.Now.isValid()) return {};
  return std::max<std::int64_t>(0, Facts.LastLogBackup.secsTo(Facts.Now));
}

TCliLevel TCliServer::Level() const {
  if (!Read) return TCliLevel::Unknown;
  TCliLevel level = TCliLevel::OK;
  for (const TCliDatabase& db : Databases)
    level = WorseLevel(level, CliLevel(db.Verdict.Level));
  return level;
}

TCliServer SurveyServer(const TCliTarget& target, const TSurveyOptions& options) {
  QElapsedTimer timer;
  timer.start();
  TCliServer s;
  s.Target = target;
  s.Target.Password.clear();
  const auto done = [&] {
    s.Seconds = double(timer.elapsed()) / 1000.0;
    return s;
  };
  const auto fail = [&](const QString& reason) {
    s.Read = false;
    s.Reason = reason;
    s.Databases.clear();
    return done();
  };

  if (!target.Problem.isEmpty()) return fail(target.Problem);

  TLogReaderSettings settings;
  settings.QueryTimeoutSeconds = options.QueryTimeoutSeconds;
  settings.LoginTimeoutSeconds = options.LoginTimeoutSeconds;
  TLogReader reader(settings);
  const TConnectSnapshot connect = reader.Connect(target.Properties());
  if (!connect.Outcome.IsOk()) return fail(connect.Outcome.Text);
  if (EndsReading(connect.VersionOutcome)) return fail(connect.VersionOutcome.Text);
  if (!connect.VersionOutcome.IsOk()) s.Notes << connect.VersionOutcome.Text;
  s.Version = connect.VersionName;
  s.Edition = connect.Edition;
  const QString version = ProductVersion(s.Version);
  const int major = version.section(u'.', 0, 0).toInt();

  const TOverviewSnapshot overview = reader.ReadOverview();
  if (!overview.Outcome.IsOk()) return fail(overview.Outcome.Text);
  if (EndsReading(overview.LogSpace.Outcome)) return fail(overview.LogSpace.Outcome.Text);
  if (!overview.LogSpace.Outcome.IsOk()) s.Notes << overview.LogSpace.Outcome.Text;

  QHash<QString, int> index; // by name, as the server compares them
  for (const TDatabaseRow& row : overview.Databases) {
    if (!options.OnlyDatabase.isEmpty() &&
        row.Name.compare(options.OnlyDatabase, Qt::CaseInsensitive) != 0)
      continue;
    TCliDatabase db;
    db.Name = row.Name;
    db.Facts.Name = row.Name;
    db.Facts.ServerMajor = major;
    db.State = (row.Status & 512) ? QStringLiteral("OFFLINE") : QString();
    index.insert(row.Name.toLower(), int(s.Databases.size()));
    s.Databases.push_back(std::move(db));
  }
  if (!options.OnlyDatabase.isEmpty() && s.Databases.isEmpty())
    return fail(Tr("The server has no database %1, or this login cannot see it.")
                    .arg(options.OnlyDatabase));
  const auto find = [&](const QString& name) -> TCliDatabase* {
    const int i = index.value(name.toLower(), -1);
    return i < 0 ? nullptr : &s.Databases[i];
  };

  for (const TLogSpaceRow& row : overview.LogSpace.Rows)
    if (TCliDatabase* db = find(row.Name)) {
      db->Facts.LogSizeMB = row.LogSizeMB;
      db->Facts.LogUsedPercent = row.UsedPercent;
    }

  bool haveVlfs = false;
  if (LogQueries::HasCatalogViews(version)) {
    TOutcome o = reader.RunQuery(
        LogQueries::Databases(), "read the databases (sys.databases)", nullptr, [&](TResultSet& q) {
          const int name = q.FieldIndex(QStringLiteral("name")),
                    state = q.FieldIndex(QStringLiteral("state")),
                    recovery = q.FieldIndex(QStringLiteral("recovery_model_desc")),
                    wait = q.FieldIndex(QStringLiteral("log_reuse_wait")),
                    waitDesc = q.FieldIndex(QStringLiteral("log_reuse_wait_desc")),
                    now = q.FieldIndex(QStringLiteral("server_time"));
          if (name < 0) return;
          for (q.First(); !q.Eof(); q.Next()) {
            TCliDatabase* db = find(q.AsString(name));
            if (!db) continue;
            if (state >= 0 && !q.IsNull(state)) db->State = StateName(q.AsInteger(state));
            if (recovery >= 0) db->Facts.RecoveryModel = q.AsString(recovery);
            if (wait >= 0 && !q.IsNull(wait)) db->Facts.ReuseWait = q.AsInteger(wait);
            if (waitDesc >= 0) db->Facts.ReuseWaitDesc = q.AsString(waitDesc);
            if (now >= 0) db->Facts.Now = q.AsDateTime(now);
          }
        });
    if (EndsReading(o)) return fail(o.Text);
    if (!o.IsOk()) s.Notes << o.Text;

    QHash<QString, QDateTime> backups;
    o = reader.RunQuery(LogQueries::LastLogBackups(), "read the backup history (msdb)", nullptr,
                        [&](TResultSet& q) {
                          const int name = q.FieldIndex(QStringLiteral("database_name")),
                                    last = q.FieldIndex(QStringLiteral("last_log_backup"));
                          if (name < 0 || last < 0) return;
                          for (q.First(); !q.Eof(); q.Next())
                            backups.insert(q.AsString(name).toLower(), q.AsDateTime(last));
                        });
    if (EndsReading(o)) return fail(o.Text);
    if (o.IsOk())
      for (TCliDatabase& db : s.Databases) {
        db.Facts.LogBackupRead = true;
        db.Facts.LastLogBackup = backups.value(db.Name.toLower());
      }
    else
      s.Notes << o.Text;
  }
  if (LogQueries::HasLogDmvs(version)) {
    const TOutcome o =
        reader.RunQuery(LogQueries::LogStats(), "read the VLF counts (sys.dm_db_log_stats)",
                        "VIEW SERVER STATE", [&](TResultSet& q) {
                          const int name = q.FieldIndex(QStringLiteral("name")),
                                    total = q.FieldIndex(QStringLiteral("total_vlf_count")),
                                    active = q.FieldIndex(QStringLiteral("active_vlf_count"));
                          if (name < 0 || total < 0 || active < 0) return;
                          for (q.First(); !q.Eof(); q.Next())
                            if (TCliDatabase* db = find(q.AsString(name))) {
                              db->Facts.VlfCount = q.AsLargeInt(total);
                              db->ActiveVlfCount = q.AsLargeInt(active);
                            }
                        });
    if (EndsReading(o)) return fail(o.Text);
    if (!o.IsOk())
      s.Notes << o.Text;
    else
      haveVlfs = true;
  }
  if (!haveVlfs && !options.Details)
    s.Notes << Tr("VLF counts need sys.dm_db_log_stats (SQL Server 2016 SP2 or later) and VIEW "
                  "SERVER STATE; --database NAME --details counts them with DBCC LOGINFO.");

  if (options.Details && !s.Databases.isEmpty()) {
    TCliDatabase& db = s.Databases.front();
    db.Details = reader.ReadDetails(db.Name);
    db.HasDetails = true;
    if (EndsReading(db.Details.DatabaseOutcome)) return fail(db.Details.DatabaseOutcome.Text);
    AddDetailsToFacts(db);
  }

  for (TCliDatabase& db : s.Databases)
    db.Verdict = JudgeDatabase(db.Facts, options.Thresholds);
  s.Read = true;
  return done();
}

QVector<TCliServer>
SurveyServers(const QVector<TCliTarget>& targets, const TSurveyOptions& options, int jobs,
              const std::function<TCliServer(const TCliTarget&, const TSurveyOptions&)>& read) {
  QVector<TCliServer> reports(targets.size());
  std::atomic<qsizetype> next{0};
  const auto work = [&] {
    for (qsizetype i = next++; i < targets.size(); i = next++)
      reports[i] = read ? read(targets[i], options) : SurveyServer(targets[i], options);
  };
  const int threads = int(std::clamp<qsizetype>(jobs, 1, std::max<qsizetype>(1, targets.size())));
  std::vector<std::thread> pool;
  pool.reserve(threads);
  for (int i = 0; i < threads; ++i)
    pool.emplace_back(work);
  for (std::thread& t : pool)
    t.join();
  return reports;
}
