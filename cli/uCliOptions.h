#pragma once
// The command line of velmora-cli, parsed without side effects so that tests can check every
// rule; files are read and passwords found by the caller.

#include "cli/uCliOutput.h"
#include "cli/uCliSurvey.h"
#include "cli/uCliTargets.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

struct TCliOptions {
  bool Help = false;
  bool ShowVersion = false;
  QString Error;       // a bad command line: the reason; the caller prints it with the usage
  bool Nagios = false; // the exit codes follow the plugin rules (also for a bad command line)

  TCliFormat Format = TCliFormat::Table;
  TCliTarget Single;   // -S (Server empty without it), -U or -E, -d
  QString ServersFile; // --servers
  int Jobs = 8;
  std::optional<int> LoginTimeout, QueryTimeout; // empty: from the settings file
  QString OnlyDatabase;
  bool Details = false;
  QString Warning, Critical; // threshold overrides as typed
  QString CredentialsFile;
  QString SettingsFile;
};

TCliOptions ParseCliArguments(const QStringList& arguments);
QString CliUsage();
// The exit status of a bad command line: 3 in nagios mode, else 2.
int UsageExitCode(const TCliOptions& options);

// Applies "--warning 80" (the log's % used) or "--warning used=80,vlf=300,backup=120,opentran=30"
// (backup and opentran in minutes; opentran has no critical level) to the thresholds. False with
// a reason when the text is not understood; the thresholds are then unchanged.
bool ApplyThresholdOverride(const QString& text, bool critical, TVerdictThresholds& thresholds,
                            QString& error);

// Where passwords come from, in this order: the credentials file's first matching line, the
// environment variable VELMORA_PASSWORD, a prompt on the terminal (asked once per login).
// A target with a login and no password from any of them gets a Problem, and is not connected.
struct TPasswordSources {
  std::optional<QString> Environment;
  QVector<TCredentialLine> Credentials;
  std::function<std::optional<QString>(const QString& login)> Prompt; // null: no terminal
};
void ResolvePasswords(QVector<TCliTarget>& targets, const TPasswordSources& sources);
