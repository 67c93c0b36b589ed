#pragma once
// One fuzz input through the server version readers, with the properties they must keep.
// Shared by the fuzz target and the test that replays its inputs.

#include "datastore/uServerVersion.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

inline void FuzzServerVersionOnce(const std::uint8_t* data, std::size_t size) {
  const auto check = [](bool condition) {
    if (!condition) std::abort();
  };
  const QString version = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
  const std::optional<int> major = ServerMajorVersion(version);
  check(!major || version.contains(u'.'));
  try {
    const QString name = ServerVersionName(version);
    check(name.startsWith(QLatin1String("SQL Server ")) && name.endsWith(version));
    // A name was found only for a readable major version.
    if (name != QLatin1String("SQL Server ") + version) check(major.has_value());
  } catch (const std::runtime_error&) {
    check(version.contains(u'.')); // only a number part that is not one may fail
  }
}
