#pragma once
// The health verdict of one database's transaction log: one table of rules over plain values,
// so the window and a command-line program judge alike. No widgets, no server access.

#include <QDateTime>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

enum class TVerdictLevel { OK = 0, Warning = 1, Critical = 2 };

// Every threshold the rules use. The defaults are the program's; the settings file may
// override each (see Settings::Verdict* in common/udmCommon.h).
struct TVerdictThresholds {
  int LogUsedWarningPercent = 70; // the overview's highlight starts here too
  int LogUsedCriticalPercent = 90;
  int VlfWarningAbove = 200;  // Glenn Berry's diagnostic queries advise staying under 200
  int VlfCriticalFrom = 1000; // sp_Blitz flags 1,000 VLFs or more (its check 69)
  int LogBackupWarningMinutes = 60;
  int LogBackupCriticalMinutes = 24 * 60;
  int GrowthCheckLogAboveMB = 1024; // growth settings matter once a log passes 1 GB
  int SmallGrowthBelowMB = 64;
  int MaxSizeMarginPercent = 10;
  int OpenTransactionWarningMinutes = 60;
};

struct TVerdictLogFile {
  QString Name;
  std::int64_t SizeBytes = 0;
  std::int64_t MaxSizeBytes = -1; // -1: unlimited
  bool PercentGrowth = false;
  std::int64_t Growth = 0; // bytes, or percent with PercentGrowth; 0: does not grow
};

// What is known of one database. Everything is optional: a rule without its facts stays quiet.
struct TDatabaseFacts {
  QString Name;
  int ServerMajor = 0; // 0: unknown (the newest rules are assumed for advice)
  std::optional<double> LogUsedPercent;
  std::optional<double> LogSizeMB;
  std::optional<std::int64_t> VlfCount;
  QString RecoveryModel; // FULL, BULK_LOGGED or SIMPLE; empty: unknown
  bool LogBackupRead = false;
  QDateTime LastLogBackup;      // invalid while LogBackupRead: never backed up
  std::optional<int> ReuseWait; // log_reuse_wait, when the server gave the number
  QString ReuseWaitDesc;
  QList<TVerdictLogFile> LogFiles;  // empty: not read
  QDateTime OldestTransactionStart; // invalid: none open, or not read
  std::optional<int> OldestTransactionSpid;
  QDateTime Now; // the server's clock; ages are not judged without it
};

struct TVerdictReason {
  TVerdictLevel Level = TVerdictLevel::OK;
  QString Rule;   // which rule of the table spoke: "logspace", "vlfcount", ...
  QString Text;   // what is wrong, with the threshold
  QString Advice; // what to do
  QString Line() const { return Advice.isEmpty() ? Text : Text + QStringLiteral(": ") + Advice; }
};

struct TVerdict {
  TVerdictLevel Level = TVerdictLevel::OK;
  QList<TVerdictReason> Reasons; // the most severe first; empty for OK
};

TVerdict JudgeDatabase(const TDatabaseFacts& facts,
                       const TVerdictThresholds& thresholds = TVerdictThresholds());

// "OK", "Warning", "Critical" (translated).
QString VerdictLevelName(TVerdictLevel level);

// A value of log_reuse_wait / log_reuse_wait_desc, explained.
struct TReuseWaitExplanation {
  QString Name;        // as the server spells it, or the text it gave
  QString Explanation; // one line: what holds the log
  QString NextStep;    // one line: what to do; empty when nothing is to be done
  bool Known = false;
};
// Matches on the number when there is one (names differ between versions), else on the text.
TReuseWaitExplanation ExplainReuseWait(std::optional<int> number, const QString& desc,
                                       int serverMajor);

// How many VLFs one growth of `growthBytes` adds to a log of `logBytes` on a server of this
// major version (0: the newest rules).
int VlfsPerGrowth(int serverMajor, std::int64_t logBytes, std::int64_t growthBytes);
// The fixed growth to advise for a log of this size.
std::int64_t AdvisedGrowthBytes(int serverMajor, std::int64_t logBytes);

// "35 min", "5 h", "3 d" for an age in seconds (negative ages count as 0).
QString FormatAge(std::int64_t seconds);
// "512 KB", "64 MB", "9.6 GB": at most one decimal, units of 1024.
QString FormatShortSize(std::int64_t bytes);

// The start time DBCC OPENTRAN prints ("Jan 10 2011  4:17:01:240PM"); invalid when unreadable.
QDateTime ParseOpenTranStartTime(const QString& text);
// The SPID of the oldest active transaction in DBCC OPENTRAN's lines, if it printed one.
std::optional<int> ParseOpenTranSpid(const QStringList& lines);
