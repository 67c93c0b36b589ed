// libFuzzer target: the server's version string as the data store and the status bar read it.

#include "fuzz/serverversion/uFuzzServerVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzServerVersionOnce(data, size);
  return 0;
}
