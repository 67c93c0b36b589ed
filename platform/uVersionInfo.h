#pragma once
// The version values of the running program. They come from the build (the generated
// uVersion.h, and on Windows the same values in the file's version resource); tests put
// another source in place to see the program without them.

#include <QString>
#include <functional>
#include <optional>

struct TVersionInfo {
  QString FileVersion;
  QString LegalCopyright;
};

// No value: the program carries no version values. The source may also throw.
using TVersionInfoSource = std::function<std::optional<TVersionInfo>()>;

std::optional<TVersionInfo> ReadVersionInfo();
// An empty source brings back the build's values.
void SetVersionInfoSource(TVersionInfoSource source);
