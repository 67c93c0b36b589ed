#pragma once
// Reading the dotted server version string ("10.50.1600").

#include <QString>
#include <optional>

// The product name and version for the status bar, for example "SQL Server 2008 R2 - 10.50.1600";
// "SQL Server <version>" for a major version without a known name or a string without a full
// stop. Throws std::runtime_error when a number part is not an integer.
QString ServerVersionName(const QString& version);

// The major version, or nothing when the string has no full stop or its first part is no number.
std::optional<int> ServerMajorVersion(const QString& version);
