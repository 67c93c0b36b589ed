#include "cli/uCliOutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

struct TVlfStats {
  std::int64_t Count = 0, Active = 0;
  std::int64_t Smallest = 0, Largest = 0, Total = 0;
};

const TColumnData* Column(const TVLFPart& part, const char* name) {
  for (const TColumnData& c : part.Columns)
    if (c.Name.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return &c;
  return nullptr;
}

std::int64_t IntAt(const TColumnData& c, std::size_t row) {
  if (c.IsNullAt(row)) return 0;
  if (c.Kind == TFieldKind::Int64) return c.Int64[row];
  if (c.Kind == TFieldKind::Integer) return c.Int32[row];
  if (c.Kind == TFieldKind::Float) return std::int64_t(c.Float[row]);
  if (c.IsText()) return c.Text(row).toLongLong();
  return 0;
}

TVlfStats VlfStats(const TVLFPart& part) {
  TVlfStats s;
  const TColumnData* size = Column(part, "FileSize");
  const TColumnData* status = Column(part, "Status");
  s.Count = part.RowCount();
  if (!size || s.Count == 0) return s;
  s.Smallest = std::numeric_limits<std::int64_t>::max();
  for (std::size_t r = 0; r < size->Count; ++r) {
    const std::int64_t bytes = IntAt(*size, r);
    s.Smallest = std::min(s.Smallest, bytes);
    s.Largest = std::max(s.Largest, bytes);
    s.Total += bytes;
    if (status && IntAt(*status, r) == 2) ++s.Active;
  }
  return s;
}

QStringList OpenTranLines(const TOpenTranPart& part) {
  QStringList lines;
  for (auto it = part.InfoMessages.crbegin(); it != part.InfoMessages.crend(); ++it)
    lines += it->split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  return lines;
}

QString Number(double v, int decimals = 2) {
  return QString::number(v, 'f', decimals);
}

QString ServerLabel(const TCliServer& s) {
  return s.Target.Server;
}

QString Iso(const QDateTime& t) {
  return t.isValid() ? t.toString(Qt::ISODateWithMs) : QString();
}

QString ReasonsText(const TCliDatabase& db) {
  QStringList r;
  for (const TVerdictReason& reason : db.Verdict.Reasons)
    r << reason.Line();
  return r.join(QStringLiteral("; "));
}

QString DatabaseLevelName(const TCliDatabase& db) {
  return CliLevelName(CliLevel(db.Verdict.Level));
}

} // namespace

TCliLevel RunLevel(const QVector<TCliServer>& servers) {
  if (servers.isEmpty()) return TCliLevel::Unknown;
  TCliLevel level = TCliLevel::OK;
  for (const TCliServer& s : servers)
    level = WorseLevel(level, s.Level());
  return level;
}

// --- table -------------------------------------------------------------------

QString FormatTable(const QVector<TCliServer>& servers) {
  const QStringList head = {QStringLiteral("SERVER"),     QStringLiteral("DATABASE"),
                            QStringLiteral("STATE"),      QStringLiteral("RECOVERY"),
                            QStringLiteral("LOG MB"),     QStringLiteral("USED %"),
                            QStringLiteral("VLFS"),       QStringLiteral("LOG BACKUP"),
                            QStringLiteral("REUSE WAIT"), QStringLiteral("VERDICT")};
  QList<QStringList> rows;
  QStringList findings, extra;
  for (const TCliServer& s : servers) {
    if (!s.Read) {
      rows << QStringList{
          ServerLabel(s), QString(), QString(), QString(), QString(),
          QString(),      QString(), QString(), QString(), QStringLiteral("UNKNOWN")};
      findings << QStringLiteral("%1: UNKNOWN: %2").arg(ServerLabel(s), s.Reason);
      continue;
    }
    for (const QString& note : s.Notes)
      findings << QStringLiteral("%1: note: %2").arg(ServerLabel(s), note);
    for (const TCliDatabase& db : s.Databases) {
      const TDatabaseFacts& f = db.Facts;
      const auto age = db.LogBackupAgeSeconds();
      rows << QStringList{ServerLabel(s),
                          db.Name,
                          db.State,
                          f.RecoveryModel,
                          f.LogSizeMB ? Number(*f.LogSizeMB) : QString(),
                          f.LogUsedPercent ? Number(*f.LogUsedPercent) : QString(),
                          f.VlfCount ? QString::number(*f.VlfCount) : QString(),
                          age               ? FormatAge(*age)
                          : f.LogBackupRead ? QStringLiteral("never")
                                            : QString(),
                          f.ReuseWaitDesc,
                          DatabaseLevelName(db)};
      for (const TVerdictReason& r : db.Verdict.Reasons)
        findings << QStringLiteral("%1/%2: %3: %4")
                        .arg(ServerLabel(s), db.Name, CliLevelName(CliLevel(r.Level)), r.Line());
      if (!db.HasDetails) continue;
      const TDetailsSnapshot& d = db.Details;
      extra << QString() << QStringLiteral("Details of %1 on %2").arg(db.Name, ServerLabel(s));
      if (!d.Files.Outcome.IsOk())
        extra << QStringLiteral("  Log files: %1").arg(d.Files.Outcome.Text);
      for (const TLogFileRow& r : d.Files.Rows)
        extra << QStringLiteral("  Log file %1 (%2): %3, max %4, growth %5")
                     .arg(r.Name, r.FileName, FormatShortSize(r.SizePages * 8192),
                          r.MaxSizePages < 0 ? QStringLiteral("unlimited")
                                             : FormatShortSize(r.MaxSizePages * 8192),
                          (r.Status & 0x100000) ? QStringLiteral("%1 %").arg(r.Growth)
                                                : FormatShortSize(std::int64_t(r.Growth) * 8192));
      if (d.VLFs.Outcome.IsOk()) {
        const TVlfStats v = VlfStats(d.VLFs);
        extra << QStringLiteral("  VLFs: %1, active %2, smallest %3, largest %4, average %5")
                     .arg(v.Count)
                     .arg(v.Active)
                     .arg(FormatShortSize(v.Smallest), FormatShortSize(v.Largest),
                          FormatShortSize(v.Count ? v.Total / v.Count : 0));
      } else {
        extra << QStringLiteral("  VLFs: %1").arg(d.VLFs.Outcome.Text);
      }
      if (d.OpenTran.Outcome.IsOk())
        for (const QString& line : OpenTranLines(d.OpenTran))
          extra << QStringLiteral("  ") + line;
      else
        extra << QStringLiteral("  DBCC OPENTRAN: %1").arg(d.OpenTran.Outcome.Text);
    }
  }
  QVector<qsizetype> width(head.size());
  for (qsizetype c = 0; c < head.size(); ++c)
    width[c] = head[c].size();
  for (const QStringList& r : rows)
    for (qsizetype c = 0; c < r.size(); ++c)
      width[c] = std::max(width[c], r[c].size());
  QString out;
  const auto line = [&](const QStringList& r) {
    QString text;
    for (qsizetype c = 0; c < r.size(); ++c)
      text += (c ? QStringLiteral("  ") : QString()) + r[c].leftJustified(width[c]);
    out += text.trimmed() + u'\n';
  };
  line(head);
  for (const QStringList& r : rows)
    line(r);
  if (!findings.isEmpty()) out += u'\n' + findings.join(u'\n') + u'\n';
  if (!extra.isEmpty()) out += extra.join(u'\n') + u'\n';
  return out;
}

// --- JSON --------------------------------------------------------------------

namespace {

QJsonValue Optional(const std::optional<double>& v) {
  return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}
QJsonValue Optional(const std::optional<std::int64_t>& v) {
  return v ? QJsonValue(qint64(*v)) : QJsonValue(QJsonValue::Null);
}
QJsonValue OptionalText(const QString& v) {
  return v.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(v);
}

QJsonObject OutcomeJson(const TOutcome& o) {
  return {{QStringLiteral("ok"), o.IsOk()}, {QStringLiteral("text"), OptionalText(o.Text)}};
}

QJsonObject DetailsJson(const TDetailsSnapshot& d) {
  QJsonArray files;
  for (const TLogFileRow& r : d.Files.Rows)
    files.append(QJsonObject{{QStringLiteral("file_id"), r.FileId},
                             {QStringLiteral("name"), r.Name},
                             {QStringLiteral("file_name"), r.FileName},
                             {QStringLiteral("size_bytes"), qint64(r.SizePages * 8192)},
                             {QStringLiteral("max_size_bytes"),
                              r.MaxSizePages < 0 ? QJsonValue(QJsonValue::Null)
                                                 : QJsonValue(qint64(r.MaxSizePages * 8192))},
                             {QStringLiteral("percent_growth"), (r.Status & 0x100000) != 0},
                             {QStringLiteral("growth"),
                              (r.Status & 0x100000) ? qint64(r.Growth) : qint64(r.Growth) * 8192}});
  QJsonObject vlfs = OutcomeJson(d.VLFs.Outcome);
  if (d.VLFs.Outcome.IsOk()) {
    const TVlfStats v = VlfStats(d.VLFs);
    vlfs.insert(QStringLiteral("count"), qint64(v.Count));
    vlfs.insert(QStringLiteral("active"), qint64(v.Active));
    vlfs.insert(QStringLiteral("smallest_bytes"), qint64(v.Smallest));
    vlfs.insert(QStringLiteral("largest_bytes"), qint64(v.Largest));
    vlfs.insert(QStringLiteral("average_bytes"), qint64(v.Count ? v.Total / v.Count : 0));
  }
  QJsonObject filesPart = OutcomeJson(d.Files.Outcome);
  filesPart.insert(QStringLiteral("files"), files);
  QJsonObject open = OutcomeJson(d.OpenTran.Outcome);
  open.insert(QStringLiteral("lines"), QJsonArray::fromStringList(OpenTranLines(d.OpenTran)));
  return {{QStringLiteral("database"), OutcomeJson(d.DatabaseOutcome)},
          {QStringLiteral("log_files"), filesPart},
          {QStringLiteral("vlfs"), vlfs},
          {QStringLiteral("open_transactions"), open}};
}

} // namespace

QByteArray FormatJson(const QVector<TCliServer>& servers, const TVerdictThresholds& t) {
  QJsonArray list;
  for (const TCliServer& s : servers) {
    QJsonArray dbs;
    for (const TCliDatabase& db : s.Databases) {
      const TDatabaseFacts& f = db.Facts;
      QJsonArray reasons;
      for (const TVerdictReason& r : db.Verdict.Reasons)
        reasons.append(QJsonObject{{QStringLiteral("level"), CliLevelName(CliLevel(r.Level))},
                                   {QStringLiteral("rule"), r.Rule},
                                   {QStringLiteral("text"), r.Text},
                                   {QStringLiteral("advice"), OptionalText(r.Advice)}});
      QJsonObject o{{QStringLiteral("name"), db.Name},
                    {QStringLiteral("state"), OptionalText(db.State)},
                    {QStringLiteral("recovery_model"), OptionalText(f.RecoveryModel)},
                    {QStringLiteral("log_size_mb"), Optional(f.LogSizeMB)},
                    {QStringLiteral("log_used_percent"), Optional(f.LogUsedPercent)},
                    {QStringLiteral("vlf_count"), Optional(f.VlfCount)},
                    {QStringLiteral("active_vlf_count"), Optional(db.ActiveVlfCount)},
                    {QStringLiteral("log_backup_read"), f.LogBackupRead},
                    {QStringLiteral("last_log_backup"), OptionalText(Iso(f.LastLogBackup))},
                    {QStringLiteral("log_backup_age_seconds"), Optional(db.LogBackupAgeSeconds())},
                    {QStringLiteral("log_reuse_wait"), OptionalText(f.ReuseWaitDesc)},
                    {QStringLiteral("verdict"), DatabaseLevelName(db)},
                    {QStringLiteral("level"), int(db.Verdict.Level)},
                    {QStringLiteral("reasons"), reasons}};
      if (db.HasDetails) o.insert(QStringLiteral("details"), DetailsJson(db.Details));
      dbs.append(o);
    }
    list.append(QJsonObject{{QStringLiteral("server"), s.Target.Server},
                            {QStringLiteral("login"), OptionalText(s.Target.Login)},
                            {QStringLiteral("read"), s.Read},
                            {QStringLiteral("status"), CliLevelName(s.Level())},
                            {QStringLiteral("reason"), OptionalText(s.Reason)},
                            {QStringLiteral("notes"), QJsonArray::fromStringList(s.Notes)},
                            {QStringLiteral("version"), OptionalText(s.Version)},
                            {QStringLiteral("edition"), OptionalText(s.Edition)},
                            {QStringLiteral("seconds"), s.Seconds},
                            {QStringLiteral("databases"), dbs}});
  }
  const QJsonObject thresholds{
      {QStringLiteral("log_used_warning_percent"), t.LogUsedWarningPercent},
      {QStringLiteral("log_used_critical_percent"), t.LogUsedCriticalPercent},
      {QStringLiteral("vlf_warning_above"), t.VlfWarningAbove},
      {QStringLiteral("vlf_critical_from"), t.VlfCriticalFrom},
      {QStringLiteral("log_backup_warning_minutes"), t.LogBackupWarningMinutes},
      {QStringLiteral("log_backup_critical_minutes"), t.LogBackupCriticalMinutes}};
  const QJsonObject root{{QStringLiteral("status"), CliLevelName(RunLevel(servers))},
                         {QStringLiteral("thresholds"), thresholds},
                         {QStringLiteral("servers"), list}};
  return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

// --- CSV ---------------------------------------------------------------------

QString CsvField(const QString& value) {
  if (!value.contains(u',') && !value.contains(u'"') && !value.contains(u'\n') &&
      !value.contains(u'\r'))
    return value;
  QString quoted = value;
  quoted.replace(u'"', QStringLiteral("\"\""));
  return u'"' + quoted + u'"';
}

QString FormatCsv(const QVector<TCliServer>& servers) {
  QString out;
  const auto row = [&out](const QStringList& fields) {
    QStringList escaped;
    for (const QString& f : fields)
      escaped << CsvField(f);
    out += escaped.join(u',') + QStringLiteral("\r\n");
  };
  row({QStringLiteral("server"), QStringLiteral("database"), QStringLiteral("state"),
       QStringLiteral("recovery_model"), QStringLiteral("log_size_mb"),
       QStringLiteral("log_used_percent"), QStringLiteral("vlf_count"),
       QStringLiteral("active_vlf_count"), QStringLiteral("last_log_backup"),
       QStringLiteral("log_backup_age_seconds"), QStringLiteral("log_reuse_wait"),
       QStringLiteral("verdict"), QStringLiteral("reasons")});
  for (const TCliServer& s : servers) {
    if (!s.Read) {
      row({s.Target.Server, QString(), QString(), QString(), QString(), QString(), QString(),
           QString(), QString(), QString(), QString(), QStringLiteral("UNKNOWN"), s.Reason});
      continue;
    }
    for (const TCliDatabase& db : s.Databases) {
      const TDatabaseFacts& f = db.Facts;
      const auto age = db.LogBackupAgeSeconds();
      row({s.Target.Server, db.Name, db.State, f.RecoveryModel,
           f.LogSizeMB ? Number(*f.LogSizeMB) : QString(),
           f.LogUsedPercent ? Number(*f.LogUsedPercent) : QString(),
           f.VlfCount ? QString::number(*f.VlfCount) : QString(),
           db.ActiveVlfCount ? QString::number(*db.ActiveVlfCount) : QString(),
           Iso(f.LastLogBackup), age ? QString::number(*age) : QString(), f.ReuseWaitDesc,
           DatabaseLevelName(db), ReasonsText(db)});
    }
  }
  return out;
}

// --- Prometheus ----------------------------------------------------------------

QString PrometheusLabelValue(const QString& value) {
  QString v = value;
  v.replace(u'\\', QStringLiteral("\\\\"));
  v.replace(u'"', QStringLiteral("\\\""));
  v.replace(u'\n', QStringLiteral("\\n"));
  return v;
}

QString FormatPrometheus(const QVector<TCliServer>& servers) {
  struct TMetric {
    const char* Name;
    const char* Help;
    QStringList Samples;
  };
  TMetric up{"velmora_server_up", "1 when the server was read, 0 when it could not be.", {}};
  TMetric serverLevel{"velmora_server_verdict_level",
                      "Worst verdict of the server: 0 OK, 1 warning, 2 critical, 3 unknown.",
                      {}};
  TMetric duration{"velmora_server_read_duration_seconds", "How long reading the server took.", {}};
  TMetric size{"velmora_log_size_bytes", "Size of the database's transaction log.", {}};
  TMetric used{"velmora_log_used_percent", "Share of the transaction log in use, 0 to 100.", {}};
  TMetric vlfs{"velmora_log_vlf_count", "Virtual log files in the transaction log.", {}};
  TMetric activeVlfs{"velmora_log_active_vlf_count", "Active virtual log files.", {}};
  TMetric backup{"velmora_log_backup_age_seconds",
                 "Seconds since the last log backup; +Inf when the log was never backed up.",
                 {}};
  TMetric level{"velmora_database_verdict_level",
                "Verdict of the database's log: 0 OK, 1 warning, 2 critical.",
                {}};

  const auto labels = [](const QString& server, const QString* database) {
    QString l = QStringLiteral("server=\"%1\"").arg(PrometheusLabelValue(server));
    if (database) l += QStringLiteral(",database=\"%1\"").arg(PrometheusLabelValue(*database));
    return u'{' + l + u'}';
  };
  const auto sample = [](TMetric& m, const QString& labelText, const QString& value) {
    m.Samples << QString::fromLatin1(m.Name) + labelText + u' ' + value;
  };
  const auto number = [](double v) {
    return std::isfinite(v) ? QString::number(v, 'g', 17) : QStringLiteral("NaN");
  };

  for (const TCliServer& s : servers) {
    const QString sl = labels(s.Target.Server, nullptr);
    sample(up, sl, s.Read ? QStringLiteral("1") : QStringLiteral("0"));
    sample(serverLevel, sl, QString::number(int(s.Level())));
    sample(duration, sl, number(s.Seconds));
    for (const TCliDatabase& db : s.Databases) {
      const QString dl = labels(s.Target.Server, &db.Name);
      const TDatabaseFacts& f = db.Facts;
      if (f.LogSizeMB) sample(size, dl, number(std::round(*f.LogSizeMB * 1048576.0)));
      if (f.LogUsedPercent) sample(used, dl, number(*f.LogUsedPercent));
      if (f.VlfCount) sample(vlfs, dl, QString::number(*f.VlfCount));
      if (db.ActiveVlfCount) sample(activeVlfs, dl, QString::number(*db.ActiveVlfCount));
      if (const auto age = db.LogBackupAgeSeconds())
        sample(backup, dl, QString::number(*age));
      else if (f.LogBackupRead && !f.LastLogBackup.isValid())
        sample(backup, dl, QStringLiteral("+Inf"));
      sample(level, dl, QString::number(int(db.Verdict.Level)));
    }
  }
  QString out;
  for (const TMetric* m :
       {&up, &serverLevel, &duration, &size, &used, &vlfs, &activeVlfs, &backup, &level}) {
    if (m->Samples.isEmpty()) continue;
    out += QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n")
               .arg(QLatin1String(m->Name), QLatin1String(m->Help));
    for (const QString& line : m->Samples)
      out += line + u'\n';
  }
  return out;
}

// --- Nagios --------------------------------------------------------------------

QString NagiosLabel(const QString& label) {
  // Quoted, quotes doubled; '=' would end the label for many parsers, and a line break would
  // end the performance data.
  QString l = label;
  l.replace(u'=', u'_');
  l.replace(u'\n', u' ');
  l.replace(u'\r', u' ');
  l.replace(u'|', u'/');
  l.replace(u'\'', QStringLiteral("''"));
  return u'\'' + l + u'\'';
}

TNagiosResult FormatNagios(const QVector<TCliServer>& servers, const TVerdictThresholds& t) {
  int counts[4] = {};
  int databases = 0;
  QStringList findings, perf;
  QString first;
  const TCliLevel overall = RunLevel(servers);
  for (const TCliServer& s : servers) {
    if (!s.Read) {
      ++counts[int(TCliLevel::Unknown)];
      const QString text = QStringLiteral("%1: UNKNOWN: %2").arg(s.Target.Server, s.Reason);
      findings << text;
      if (first.isEmpty() && overall == TCliLevel::Unknown) first = text;
      continue;
    }
    for (const TCliDatabase& db : s.Databases) {
      ++databases;
      const TCliLevel level = CliLevel(db.Verdict.Level);
      ++counts[int(level)];
      if (level != TCliLevel::OK) {
        const QString text = QStringLiteral("%1/%2: %3: %4")
                                 .arg(s.Target.Server, db.Name, CliLevelName(level),
                                      db.Verdict.Reasons.value(0).Line());
        findings << text;
        if (first.isEmpty() && level == overall) first = text;
      }
      const QString prefix = servers.size() > 1 ? s.Target.Server + u'/' + db.Name : db.Name;
      const TDatabaseFacts& f = db.Facts;
      if (f.LogUsedPercent)
        perf << QStringLiteral("%1=%2%;%3;%4;0;100")
                    .arg(NagiosLabel(prefix + QStringLiteral(" log used")),
                         Number(*f.LogUsedPercent))
                    .arg(t.LogUsedWarningPercent)
                    .arg(t.LogUsedCriticalPercent);
      if (f.LogSizeMB)
        perf << QStringLiteral("%1=%2MB;;;0")
                    .arg(NagiosLabel(prefix + QStringLiteral(" log size")), Number(*f.LogSizeMB));
      if (f.VlfCount)
        perf << QStringLiteral("%1=%2;%3;%4;0")
                    .arg(NagiosLabel(prefix + QStringLiteral(" vlfs")))
                    .arg(*f.VlfCount)
                    .arg(t.VlfWarningAbove)
                    .arg(t.VlfCriticalFrom - 1);
      if (const auto age = db.LogBackupAgeSeconds())
        perf << QStringLiteral("%1=%2s;%3;%4;0")
                    .arg(NagiosLabel(prefix + QStringLiteral(" log backup age")))
                    .arg(*age)
                    .arg(qint64(t.LogBackupWarningMinutes) * 60)
                    .arg(qint64(t.LogBackupCriticalMinutes) * 60);
    }
  }
  QString summary;
  if (servers.isEmpty())
    summary = QStringLiteral("no server to read");
  else
    summary = QStringLiteral("%1 databases on %2 servers: %3 critical, %4 warning, %5 servers "
                             "unknown")
                  .arg(databases)
                  .arg(servers.size())
                  .arg(counts[int(TCliLevel::Critical)])
                  .arg(counts[int(TCliLevel::Warning)])
                  .arg(counts[int(TCliLevel::Unknown)]);
  if (!first.isEmpty()) summary += QStringLiteral("; ") + first;
  summary.replace(u'|', u'/'); // a bar would start the performance data
  summary.replace(u'\n', u' ');
  TNagiosResult r;
  r.ExitCode = int(overall);
  r.Text = QStringLiteral("VELMORA %1 - %2").arg(CliLevelName(overall), summary);
  if (!perf.isEmpty()) r.Text += QStringLiteral(" | ") + perf.join(u' ');
  r.Text += u'\n';
  for (QString f : findings) {
    f.replace(u'|', u'/');
    f.replace(u'\n', u' ');
    r.Text += f + u'\n';
  }
  return r;
}
