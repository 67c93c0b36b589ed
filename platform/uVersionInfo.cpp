#include "platform/uVersionInfo.h"

#include "uVersion.h"

namespace {
TVersionInfoSource& Source() {
  static TVersionInfoSource source;
  return source;
}
} // namespace

std::optional<TVersionInfo> ReadVersionInfo() {
  if (Source()) return Source()();
  return TVersionInfo{QStringLiteral(VELMORA_FILE_VERSION),
                      QStringLiteral(VELMORA_LEGAL_COPYRIGHT)};
}

void SetVersionInfoSource(TVersionInfoSource source) {
  Source() = std::move(source);
}
