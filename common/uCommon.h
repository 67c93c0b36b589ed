#pragma once
// Shared types and small helpers used across the program. No GUI here.

#include <QString>
#include <cstdint>

enum class TDBType : std::uint8_t {
  dbtLocal = 0, // a local database given by a data path; not served by the data store
  dbtSQLServer = 1,
};

// Copied by value; field order matters to callers that build it field by field.
struct TSQLConnectionProperties {
  TDBType DBType = TDBType::dbtSQLServer;
  QString Instance;          // as typed or picked; not trimmed
  QString Database;          // empty: the login's default database
  QString SQLLogin;          // empty: integrated authentication
  QString SQLPassword;       // ignored when SQLLogin is empty; never stored
  std::uint8_t Provider = 0; // 0 "(auto)", 1 "MDAC"

  bool operator==(const TSQLConnectionProperties&) const = default;
};

// Application folders, fixed once at start-up (see InitApplicationFolders).
const QString& UserDataFolder();
const QString& CommonDataFolder();
const QString& UserSettingsFile();

// Called once at start-up: a write beyond the file-size limit (ulimit -f) then fails with an
// error the caller reports, instead of SIGXFSZ ending the process.
void IgnoreFileSizeLimitSignal();

// Computes the folders and creates the per-user one (on Windows the all-users one too); a
// folder that cannot be created is ignored.
// Empty arguments mean the platform's own locations.
void InitApplicationFolders(const QString& userBase = QString(),
                            const QString& commonBase = QString());

// "1.5 GB", "320.0 MB", "64 kB", "0 bytes"; see the implementation for the thresholds.
QString FormatByteSize(std::int64_t bytes);

// Doubles every single quote, for use inside N'...'.
QString QuoteSQLString(const QString& text);

// Quotes an identifier as QUOTENAME does: [name] with every ']' doubled.
QString QuoteSQLIdentifier(const QString& name);
