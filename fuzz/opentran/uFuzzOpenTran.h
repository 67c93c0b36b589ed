#pragma once
// One fuzz input through the reading of DBCC OPENTRAN's messages, as the server could send
// them: entries separated by NUL bytes, lines inside them by any line break. Shared by the
// fuzz target and the test that replays its inputs.

#include "forms/uLogReading.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

inline void FuzzOpenTranOnce(const std::uint8_t* data, std::size_t size) {
  const auto check = [](bool condition) {
    if (!condition) std::abort();
  };
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  QStringList messages;
  for (const QByteArray& entry : bytes.split('\0'))
    messages << QString::fromUtf8(entry);
  const QStringList lines = SplitInfoMessages(messages);
  for (const QString& line : lines)
    check(!line.contains(u'\r') && !line.contains(u'\n'));
  const QStringList page = OpenTranPageLines(lines);
  // The same lines in reverse order, each line with "DBCC" after an empty one.
  qsizetype dbcc = 0;
  for (const QString& line : lines)
    dbcc += line.contains(QLatin1String("DBCC")) ? 1 : 0;
  check(page.size() == lines.size() + dbcc);
  if (!lines.isEmpty()) check(page.last() == lines.first());
  const QString oldest = ReadOldestActiveTransaction(page);
  check(oldest == QLatin1String("-") || oldest.size() <= bytes.size());
}
