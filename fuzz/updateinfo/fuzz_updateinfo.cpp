// libFuzzer target: the update information file and the version history.

#include "fuzz/updateinfo/uFuzzUpdateInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzUpdateInfoOnce(data, size);
  return 0;
}
