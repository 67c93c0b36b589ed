#include "verdict/uVerdict.h"

#include <QCoreApplication>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {

constexpr std::int64_t KB = 1024;
constexpr std::int64_t MB = 1024 * KB;
constexpr std::int64_t GB = 1024 * MB;

QString Tr(const char* text) {
  return QCoreApplication::translate("Verdict", text);
}

// Counts as DBAs write them: "1,250".
QString Count(std::int64_t n) {
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
  return locale.toString(qlonglong(n));
}

// Up to two decimals, without trailing zeros: "95.13", "70", "69.9".
QString Percent(double value) {
  QString text = QLocale().toString(value, 'f', 2);
  const QChar point = QLocale().decimalPoint().front();
  if (text.contains(point)) {
    while (text.endsWith(u'0'))
      text.chop(1);
    if (text.endsWith(point)) text.chop(1);
  }
  return text;
}

// Seconds between two readings of the server's wall clock, whatever zone each was tagged with.
std::int64_t WallSeconds(const QDateTime& from, const QDateTime& to) {
  return QDateTime(from.date(), from.time(), Qt::UTC)
      .secsTo(QDateTime(to.date(), to.time(), Qt::UTC));
}

bool NeedsLogBackups(const QString& recovery) {
  return recovery.compare(QLatin1String("FULL"), Qt::CaseInsensitive) == 0 ||
         recovery.compare(QLatin1String("BULK_LOGGED"), Qt::CaseInsensitive) == 0;
}

std::int64_t LogBytes(const TDatabaseFacts& f) {
  std::int64_t files = 0;
  for (const TVerdictLogFile& lf : f.LogFiles)
    files += lf.SizeBytes;
  if (files > 0) return files;
  return f.LogSizeMB ? std::int64_t(*f.LogSizeMB * double(MB)) : 0;
}

// What the reuse wait says to do, when the log is held by something other than nothing.
QString ReuseWaitStep(const TDatabaseFacts& f) {
  if (!f.ReuseWait && f.ReuseWaitDesc.isEmpty()) return {};
  const TReuseWaitExplanation w = ExplainReuseWait(f.ReuseWait, f.ReuseWaitDesc, f.ServerMajor);
  if (w.NextStep.isEmpty()) return {};
  return Tr("the log waits on %1: %2").arg(w.Name, w.NextStep);
}

// --- the rules --------------------------------------------------------------------------

using TReasons = QList<TVerdictReason>;

void CheckLogSpace(const TDatabaseFacts& f, const TVerdictThresholds& t, TReasons& out) {
  if (!f.LogUsedPercent) return;
  const double used = *f.LogUsedPercent;
  // tempdb and the other system databases count here, unlike in the overview's highlight.
  TVerdictLevel level;
  int from;
  if (used >= t.LogUsedCriticalPercent) {
    level = TVerdictLevel::Critical;
    from = t.LogUsedCriticalPercent;
  } else if (used >= t.LogUsedWarningPercent) {
    level = TVerdictLevel::Warning;
    from = t.LogUsedWarningPercent;
  } else {
    return;
  }
  QString advice = ReuseWaitStep(f);
  if (advice.isEmpty())
    advice = Tr("find what keeps the log from being reused (Log reuse wait) before it fills up");
  out << TVerdictReason{level, QStringLiteral("logspace"),
                        (level == TVerdictLevel::Critical ? Tr("Log %1 % full (critical from %2 %)")
                                                          : Tr("Log %1 % full (warning from %2 %)"))
                            .arg(Percent(used), QString::number(from)),
                        advice};
}

void CheckLogBackup(const TDatabaseFacts& f, const TVerdictThresholds& t, TReasons& out) {
  if (!f.LogBackupRead || !NeedsLogBackups(f.RecoveryModel)) return;
  // model is FULL on most servers only so that new databases inherit it; its log stays tiny.
  if (f.Name == QLatin1String("model")) return;
  const QString schedule = Tr("back up the log now and schedule log backups");
  if (!f.LastLogBackup.isValid()) {
    out << TVerdictReason{TVerdictLevel::Critical, QStringLiteral("logbackup"),
                          Tr("%1 recovery and never a log backup").arg(f.RecoveryModel.toUpper()),
                          schedule + Tr(", or switch to SIMPLE recovery if nobody needs "
                                        "point-in-time restores")};
    return;
  }
  if (!f.Now.isValid()) return;
  const std::int64_t age = WallSeconds(f.LastLogBackup, f.Now);
  if (age >= std::int64_t(t.LogBackupCriticalMinutes) * 60)
    out << TVerdictReason{
        TVerdictLevel::Critical, QStringLiteral("logbackup"),
        Tr("Last log backup %1 ago (critical from %2)")
            .arg(FormatAge(age), FormatAge(std::int64_t(t.LogBackupCriticalMinutes) * 60)),
        schedule};
  else if (age > std::int64_t(t.LogBackupWarningMinutes) * 60)
    out << TVerdictReason{
        TVerdictLevel::Warning, QStringLiteral("logbackup"),
        Tr("Last log backup %1 ago (warning after %2)")
            .arg(FormatAge(age), FormatAge(std::int64_t(t.LogBackupWarningMinutes) * 60)),
        Tr("check that the log backup job runs")};
}

void CheckVlfCount(const TDatabaseFacts& f, const TVerdictThresholds& t, TReasons& out) {
  if (!f.VlfCount) return;
  const std::int64_t n = *f.VlfCount;
  TVerdictLevel level;
  QString text;
  if (n >= t.VlfCriticalFrom) {
    level = TVerdictLevel::Critical;
    text = Tr("%1 VLFs (critical from %2)").arg(Count(n), Count(t.VlfCriticalFrom));
  } else if (n > t.VlfWarningAbove) {
    level = TVerdictLevel::Warning;
    text = Tr("%1 VLFs (warning above %2)").arg(Count(n), Count(t.VlfWarningAbove));
  } else {
    return;
  }
  const QString step = FormatShortSize(AdvisedGrowthBytes(f.ServerMajor, LogBytes(f)));
  const QString advice =
      NeedsLogBackups(f.RecoveryModel)
          ? Tr("in a quiet hour, back up the log, shrink it and grow it again in steps of %1; "
               "set a fixed growth of %1.")
          : Tr("in a quiet hour, run CHECKPOINT, shrink the log and grow it again in steps of "
               "%1; set a fixed growth of %1.");
  out << TVerdictReason{level, QStringLiteral("vlfcount"), text, advice.arg(step)};
}

void CheckGrowth(const TDatabaseFacts& f, const TVerdictThresholds& t, TReasons& out) {
  const std::int64_t logBytes = LogBytes(f);
  if (logBytes <= std::int64_t(t.GrowthCheckLogAboveMB) * MB) return;
  const QString advised = FormatShortSize(AdvisedGrowthBytes(f.ServerMajor, logBytes));
  for (const TVerdictLogFile& lf : f.LogFiles) {
    if (lf.Growth <= 0) continue; // a file that does not grow has no growth to judge
    if (lf.PercentGrowth) {
      out << TVerdictReason{
          TVerdictLevel::Warning, QStringLiteral("growth"),
          Tr("%1 grows by %2 % on a %3 log")
              .arg(lf.Name)
              .arg(lf.Growth)
              .arg(FormatShortSize(logBytes)),
          Tr("set a fixed growth of %1: a percentage grows with the log, and writers wait "
             "while each growth is zeroed")
              .arg(advised)};
    } else if (lf.Growth < std::int64_t(t.SmallGrowthBelowMB) * MB) {
      const int vlfs = VlfsPerGrowth(f.ServerMajor, logBytes, lf.Growth);
      out << TVerdictReason{TVerdictLevel::Warning, QStringLiteral("growth"),
                            (vlfs == 1 ? Tr("%1 grows by %2 on a %3 log, 1 VLF per growth")
                                       : Tr("%1 grows by %2 on a %3 log, %4 VLFs per growth"))
                                .arg(lf.Name, FormatShortSize(lf.Growth), FormatShortSize(logBytes))
                                .arg(vlfs),
                            Tr("set a fixed growth of %1").arg(advised)};
    }
  }
}

void CheckMaxSize(const TDatabaseFacts& f, const TVerdictThresholds& t, TReasons& out) {
  for (const TVerdictLogFile& lf : f.LogFiles) {
    if (lf.MaxSizeBytes < 0 || lf.MaxSizeBytes == 0) continue; // unlimited, or not known
    // Within the margin: size >= max - max * margin / 100, in integers to keep boundaries exact.
    const std::int64_t margin = lf.MaxSizeBytes / 100 * t.MaxSizeMarginPercent +
                                lf.MaxSizeBytes % 100 * t.MaxSizeMarginPercent / 100;
    if (lf.SizeBytes < lf.MaxSizeBytes - margin) continue;
    const QString text =
        lf.SizeBytes >= lf.MaxSizeBytes
            ? Tr("%1 has reached its maximum size of %2")
                  .arg(lf.Name, FormatShortSize(lf.MaxSizeBytes))
            : Tr("%1 is at %2 of its maximum size of %3 (warning within %4 %)")
                  .arg(lf.Name, FormatShortSize(lf.SizeBytes), FormatShortSize(lf.MaxSizeBytes))
                  .arg(t.MaxSizeMarginPercent);
    QString advice = Tr("raise the maximum size, or make room in the log");
    if (const QString step = ReuseWaitStep(f); !step.isEmpty())
      advice += QStringLiteral("; ") + step;
    out << TVerdictReason{TVerdictLevel::Warning, QStringLiteral("maxsize"), text, advice};
  }
}

void CheckOpenTransaction(const TDatabaseFacts& f, const TVerdictThresholds& t, TReasons& out) {
  if (!f.OldestTransactionStart.isValid() || !f.Now.isValid()) return;
  const std::int64_t age = WallSeconds(f.OldestTransactionStart, f.Now);
  if (age <= std::int64_t(t.OpenTransactionWarningMinutes) * 60) return;
  const QString who = f.OldestTransactionSpid
                          ? Tr("Oldest open transaction (SPID %1)").arg(*f.OldestTransactionSpid)
                          : Tr("Oldest open transaction");
  const QString session =
      f.OldestTransactionSpid ? Tr("session %1").arg(*f.OldestTransactionSpid) : Tr("the session");
  out << TVerdictReason{
      TVerdictLevel::Warning, QStringLiteral("opentran"),
      Tr("%1 open for %2 (warning after %3)")
          .arg(who, FormatAge(age), FormatAge(std::int64_t(t.OpenTransactionWarningMinutes) * 60)),
      Tr("find what %1 is doing and have it commit or roll back; the log cannot be reused "
         "past it")
          .arg(session)};
}

// The one table of rules. Each reads only the facts it names and the thresholds.
struct TRule {
  const char* Id;
  void (*Check)(const TDatabaseFacts&, const TVerdictThresholds&, TReasons&);
};
constexpr TRule Rules[] = {
    {"logspace", CheckLogSpace}, {"logbackup", CheckLogBackup}, {"vlfcount", CheckVlfCount},
    {"growth", CheckGrowth},     {"maxsize", CheckMaxSize},     {"opentran", CheckOpenTransaction},
};

} // namespace

TVerdict JudgeDatabase(const TDatabaseFacts& facts, const TVerdictThresholds& thresholds) {
  TVerdict v;
  for (const TRule& rule : Rules)
    rule.Check(facts, thresholds, v.Reasons);
  std::stable_sort(
      v.Reasons.begin(), v.Reasons.end(),
      [](const TVerdictReason& a, const TVerdictReason& b) { return a.Level > b.Level; });
  if (!v.Reasons.isEmpty()) v.Level = v.Reasons.first().Level;
  return v;
}

QString VerdictLevelName(TVerdictLevel level) {
  switch (level) {
  case TVerdictLevel::Critical:
    return Tr("Critical");
  case TVerdictLevel::Warning:
    return Tr("Warning");
  case TVerdictLevel::OK:
    break;
  }
  return Tr("OK");
}

// --- reuse waits ------------------------------------------------------------------------

namespace {
struct TReuseWaitRow {
  int Number;
  const char* Name;
  const char* Explanation;
  const char* NextStep;
};
// log_reuse_wait and its _desc, as sys.databases documents them.
constexpr TReuseWaitRow ReuseWaits[] = {
    {0, "NOTHING", QT_TRANSLATE_NOOP("Verdict", "Reusable VLFs exist; nothing holds the log."), ""},
    {1, "CHECKPOINT",
     QT_TRANSLATE_NOOP("Verdict", "No checkpoint has run since the log was last truncated."),
     QT_TRANSLATE_NOOP("Verdict", "run CHECKPOINT in the database, or wait for the next one")},
    {2, "LOG_BACKUP",
     QT_TRANSLATE_NOOP("Verdict", "The log can be reused only after a log backup."),
     QT_TRANSLATE_NOOP("Verdict", "back up the log")},
    {3, "ACTIVE_BACKUP_OR_RESTORE",
     QT_TRANSLATE_NOOP("Verdict", "A data backup or a restore is running."),
     QT_TRANSLATE_NOOP("Verdict", "let it finish; if it seems stuck, look at its progress in "
                                  "sys.dm_exec_requests")},
    {4, "ACTIVE_TRANSACTION",
     QT_TRANSLATE_NOOP("Verdict", "A long-running or deferred transaction holds the log."),
     QT_TRANSLATE_NOOP("Verdict", "find the oldest open transaction (DBCC OPENTRAN) and have it "
                                  "commit or roll back")},
    {5, "DATABASE_MIRRORING",
     QT_TRANSLATE_NOOP("Verdict", "Database mirroring is paused, or the mirror lags behind."),
     QT_TRANSLATE_NOOP("Verdict", "resume mirroring, or check the mirror's connection and its "
                                  "send queue")},
    {6, "REPLICATION",
     QT_TRANSLATE_NOOP("Verdict",
                       "Replicated transactions have not reached the distribution database."),
     QT_TRANSLATE_NOOP("Verdict", "check that the Log Reader Agent runs")},
    {7, "DATABASE_SNAPSHOT_CREATION",
     QT_TRANSLATE_NOOP("Verdict", "A database snapshot is being created."),
     QT_TRANSLATE_NOOP("Verdict", "nothing: this passes once the snapshot exists")},
    {8, "LOG_SCAN", QT_TRANSLATE_NOOP("Verdict", "A scan of the log is running."),
     QT_TRANSLATE_NOOP("Verdict", "nothing: this is brief; look again in a minute")},
    {9, "AVAILABILITY_REPLICA",
     QT_TRANSLATE_NOOP(
         "Verdict", "A secondary replica of an availability group has not applied this log yet."),
     QT_TRANSLATE_NOOP("Verdict", "check the secondary replicas' send and redo queues")},
    {10, "", QT_TRANSLATE_NOOP("Verdict", "For the server's internal use."),
     QT_TRANSLATE_NOOP("Verdict", "nothing: look again in a minute")},
    {11, "", QT_TRANSLATE_NOOP("Verdict", "For the server's internal use."),
     QT_TRANSLATE_NOOP("Verdict", "nothing: look again in a minute")},
    {12, "", QT_TRANSLATE_NOOP("Verdict", "For the server's internal use."),
     QT_TRANSLATE_NOOP("Verdict", "nothing: look again in a minute")},
    {13, "OLDEST_PAGE",
     QT_TRANSLATE_NOOP("Verdict",
                       "With indirect checkpoints, the oldest dirty page predates the checkpoint."),
     QT_TRANSLATE_NOOP("Verdict", "run CHECKPOINT in the database; check its target recovery "
                                  "time")},
    {14, "OTHER_TRANSIENT", QT_TRANSLATE_NOOP("Verdict", "A passing internal state."),
     QT_TRANSLATE_NOOP("Verdict", "nothing: look again in a minute")},
    {16, "XTP_CHECKPOINT", QT_TRANSLATE_NOOP("Verdict", "An In-Memory OLTP checkpoint is needed."),
     QT_TRANSLATE_NOOP("Verdict", "run CHECKPOINT in the database")},
    {17, "SLOG_SCAN",
     QT_TRANSLATE_NOOP("Verdict",
                       "Accelerated database recovery is scanning its secondary log (sLog)."),
     QT_TRANSLATE_NOOP("Verdict", "nothing: this passes; if it persists, look at the ADR "
                                  "cleaner")},
};

TReuseWaitExplanation FromRow(const TReuseWaitRow& r, const QString& given) {
  TReuseWaitExplanation e;
  e.Name = *r.Name ? QString::fromLatin1(r.Name) : given;
  if (e.Name.isEmpty()) e.Name = QString::number(r.Number);
  e.Explanation = Tr(r.Explanation);
  e.NextStep = Tr(r.NextStep);
  e.Known = true;
  return e;
}
} // namespace

TReuseWaitExplanation ExplainReuseWait(std::optional<int> number, const QString& desc,
                                       int serverMajor) {
  const QString given = desc.trimmed();
  if (number) {
    // Up to 2008 R2, 9 was a passing internal state; availability groups came with 2012.
    if (*number == 9 && serverMajor > 0 && serverMajor <= 10)
      for (const TReuseWaitRow& r : ReuseWaits)
        if (r.Number == 14) {
          TReuseWaitExplanation e = FromRow(r, given);
          e.Name = given.isEmpty() ? QStringLiteral("OTHER_TRANSIENT") : given;
          return e;
        }
    for (const TReuseWaitRow& r : ReuseWaits)
      if (r.Number == *number) return FromRow(r, given);
  } else if (!given.isEmpty()) {
    // The text alone (sys.dm_db_log_stats gives no number); the sLog wait has two spellings.
    const QString upper = given.toUpper();
    for (const TReuseWaitRow& r : ReuseWaits)
      if (*r.Name && (upper == QLatin1String(r.Name) ||
                      (r.Number == 17 && upper == QLatin1String("SLOG_SCANNING"))))
        return FromRow(r, given);
  }
  TReuseWaitExplanation e;
  e.Name = !given.isEmpty() ? given : number ? QString::number(*number) : QString();
  e.Explanation = Tr("A reason this program does not know yet (%1).").arg(e.Name);
  e.NextStep = Tr("look it up under log_reuse_wait in the documentation of sys.databases");
  return e;
}

// --- growth -----------------------------------------------------------------------------

// How many VLFs a growth creates, per Microsoft's "SQL Server transaction log architecture and
// management guide", section "Virtual log files (VLFs)":
// https://learn.microsoft.com/en-us/sql/relational-databases/sql-server-transaction-log-architecture-and-management-guide
//  - up to 2012: 4 VLFs for a growth up to 64 MB, 8 up to 1 GB, 16 above;
//  - from 2014: 1 VLF when the growth is under 1/8 of the current log size, else as above;
//  - from 2022: 1 VLF for a growth of 64 MB or less.
// The page leaves the exact boundaries open; a growth of exactly 64 MB counts as "up to 64 MB",
// as the page's 2022 rule ("64 MB or less") and the usual descriptions of the old rule do.
int VlfsPerGrowth(int serverMajor, std::int64_t logBytes, std::int64_t growthBytes) {
  const int major = serverMajor > 0 ? serverMajor : 16;
  if (major >= 16 && growthBytes <= 64 * MB) return 1;
  if (major >= 12 && growthBytes < logBytes / 8) return 1;
  if (growthBytes <= 64 * MB) return 4;
  if (growthBytes <= GB) return 8;
  return 16;
}

// Steps of 8 GB keep a big log at 512 MB VLFs even under the old rule (16 per growth); smaller
// logs get steps that still give few, evenly sized VLFs.
std::int64_t AdvisedGrowthBytes(int serverMajor, std::int64_t logBytes) {
  const int major = serverMajor > 0 ? serverMajor : 16;
  if (logBytes >= 8 * GB) return 8 * GB;
  if (logBytes >= GB) return GB;
  return major >= 16 ? 64 * MB : 256 * MB;
}

// --- formatting -------------------------------------------------------------------------

QString FormatAge(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  if (seconds < 3600) return Tr("%1 min").arg(seconds / 60);
  if (seconds < 86400) return Tr("%1 h").arg(seconds / 3600);
  return Tr("%1 d").arg(seconds / 86400);
}

QString FormatShortSize(std::int64_t bytes) {
  const auto format = [](double value, const char* unit) {
    const double rounded = std::round(value * 10) / 10;
    const QString number = rounded == std::floor(rounded) ? QLocale().toString(qlonglong(rounded))
                                                          : QLocale().toString(rounded, 'f', 1);
    return number + QLatin1Char(' ') + Tr(unit);
  };
  if (bytes >= GB) return format(double(bytes) / double(GB), "GB");
  if (bytes >= MB) return format(double(bytes) / double(MB), "MB");
  if (bytes >= KB) return format(double(bytes) / double(KB), "KB");
  return Tr("%1 bytes").arg(bytes);
}

QDateTime ParseOpenTranStartTime(const QString& text) {
  // "Jan 10 2011  4:17:01:240PM": month, day, year, h:mm:ss:mmm and AM or PM.
  static const QRegularExpression re(
      QStringLiteral(
          R"(^\s*([A-Za-z]{3})\s+(\d{1,2})\s+(\d{4})\s+(\d{1,2}):(\d{2}):(\d{2})(?::(\d{1,3}))?\s*([AP]M)\s*$)"),
      QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch m = re.match(text);
  if (!m.hasMatch()) return {};
  static const QStringList months = {"jan", "feb", "mar", "apr", "may", "jun",
                                     "jul", "aug", "sep", "oct", "nov", "dec"};
  const int month = int(months.indexOf(m.captured(1).toLower())) + 1;
  int hour = m.captured(4).toInt();
  if (month < 1 || hour < 1 || hour > 12) return {};
  const bool pm = m.captured(8).compare(QLatin1String("PM"), Qt::CaseInsensitive) == 0;
  hour = hour % 12 + (pm ? 12 : 0);
  const QDate date(m.captured(3).toInt(), month, m.captured(2).toInt());
  const QTime time(hour, m.captured(5).toInt(), m.captured(6).toInt(), m.captured(7).toInt());
  if (!date.isValid() || !time.isValid()) return {};
  // The server's wall clock, compared with the server's clock: no zone arithmetic.
  return QDateTime(date, time, Qt::UTC);
}

std::optional<int> ParseOpenTranSpid(const QStringList& lines) {
  static const QRegularExpression re(QStringLiteral(R"(^\s*SPID\b[^:]*:\s*(\d+)\s*$)"));
  for (const QString& line : lines)
    if (const QRegularExpressionMatch m = re.match(line); m.hasMatch())
      return m.captured(1).toInt();
  return std::nullopt;
}
