#pragma once
// Reads many servers for velmora-cli: each target on a log reader of its own, several at a time,
// into plain reports that the output formats turn into text. No widgets, no Gui.

#include "common/uCommon.h"
#include "session/uSnapshots.h"
#include "verdict/uVerdict.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <functional>
#include <optional>

// One server to read, as the command line or a line of the servers file gives it.
struct TCliTarget {
  QString Server;   // in the recent list's syntax: host, host,port, host\instance, tcp:host,port
  QString Database; // the database the connection opens; empty: the login's default
  QString Login;    // empty: integrated authentication
  QString Password; // never printed
  std::uint8_t Provider = 0;
  int Line = 0;    // in the servers file; 0 from the command line
  QString Problem; // why the target is not even tried (no password); empty: it is

  TSQLConnectionProperties Properties() const;
};

// The level of a database or a server, in the order a run reports the worst of them.
enum class TCliLevel { OK = 0, Warning = 1, Critical = 2, Unknown = 3 };
TCliLevel CliLevel(TVerdictLevel level);
// Which of two levels a summary reports: CRITICAL over UNKNOWN over WARNING over OK.
TCliLevel WorseLevel(TCliLevel a, TCliLevel b);
QString CliLevelName(TCliLevel level); // "OK", "WARNING", "CRITICAL", "UNKNOWN"

struct TCliDatabase {
  QString Name;
  QString State; // sys.databases state_desc ("ONLINE", "OFFLINE", ...); empty: not read
  TDatabaseFacts Facts;
  std::optional<std::int64_t> ActiveVlfCount;
  TVerdict Verdict;
  // With --details, for the one database asked for.
  bool HasDetails = false;
  TDetailsSnapshot Details;

  // Seconds from the last log backup to the server's clock; empty when either is unknown.
  std::optional<std::int64_t> LogBackupAgeSeconds() const;
};

struct TCliServer {
  TCliTarget Target;
  bool Read = false; // false: the server could not be read; Reason says why
  QString Reason;    // why it was not read
  QStringList Notes; // parts that could not be read, each with its reason
  QString Version;   // "SQL Server 2022 - 16.0.1000"
  QString Edition;
  double Seconds = 0; // how long the reading took
  QVector<TCliDatabase> Databases;

  TCliLevel Level() const; // UNKNOWN when not read, else the worst database verdict
};

struct TSurveyOptions {
  int LoginTimeoutSeconds = 15;
  int QueryTimeoutSeconds = 60;
  TVerdictThresholds Thresholds;
  QString OnlyDatabase; // empty: every database
  bool Details = false; // read the details of OnlyDatabase
};

// Reads one server; never throws, a failure is a report with Read false.
TCliServer SurveyServer(const TCliTarget& target, const TSurveyOptions& options);

// Reads every target with at most `jobs` at a time; the reports keep the targets' order.
// `read` replaces SurveyServer (tests).
QVector<TCliServer>
SurveyServers(const QVector<TCliTarget>& targets, const TSurveyOptions& options, int jobs,
              const std::function<TCliServer(const TCliTarget&, const TSurveyOptions&)>& read = {});
