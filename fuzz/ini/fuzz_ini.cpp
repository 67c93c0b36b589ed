// The INI reader and writer on arbitrary bytes; the property is in uIniRoundTrip.h.

#include "fuzz/ini/uIniRoundTrip.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* failure =
      IniRoundTrip::Check(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
  if (*failure) {
    std::fprintf(stderr, "%s\n", failure);
    std::abort();
  }
  return 0;
}
