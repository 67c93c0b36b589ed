#pragma once
// One fuzz input through the information-file parser and the version-history parser, with the
// properties both must keep. Shared by the fuzz target and the unit test that replays the
// inputs kept under fuzz/regressions/updateinfo.

#include "platform/uUpdateInfo.h"

#include <cstdint>
#include <cstdlib>

inline void FuzzCheck(bool condition) {
  if (!condition) std::abort();
}

inline void FuzzHistory(const QString& input) {
  QString text = ReplaceBraceTokens(input);
  QString latest;
  ParseVersionHistory(text, latest);
  FuzzCheck(text.isEmpty() || text.endsWith(QStringLiteral("\r\n")));
  FuzzCheck(!latest.contains(u' '));
  // The result is already in normal form: a second pass changes nothing.
  QString again = text;
  QString latestAgain;
  ParseVersionHistory(again, latestAgain);
  FuzzCheck(again == text && latestAgain == latest);
}

inline void FuzzUpdateInfoOnce(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  if (const std::optional<TUpdateInfo> info = ParseUpdateInfoFile(bytes)) {
    FuzzCheck(IsValidVersionNumber(info->Version));
    FuzzCheck(CompareVersions(info->Version, info->Version) == 0);
    FuzzCheck(!info->Files.isEmpty());
    for (const TUpdateFile& file : info->Files)
      FuzzCheck(file.Size > 0 && file.Sha256.size() == 32 && !file.FileName.isEmpty() &&
                !file.FileName.contains(u'/') && !file.FileName.startsWith(u'.'));
    FuzzHistory(info->VersionHistory);
  }
  const QString text = QString::fromUtf8(bytes);
  FuzzHistory(text);
  // Version comparison stays antisymmetric on any two strings.
  const qsizetype half = text.size() / 2;
  const QString a = text.left(half), b = text.mid(half);
  const std::optional<int> ab = CompareVersions(a, b), ba = CompareVersions(b, a);
  FuzzCheck(ab.has_value() == ba.has_value());
  if (ab) FuzzCheck(*ab == -*ba);
}
