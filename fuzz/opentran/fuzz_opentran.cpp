// libFuzzer target: the informational messages of DBCC OPENTRAN as the details pages read them.

#include "fuzz/opentran/uFuzzOpenTran.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzOpenTranOnce(data, size);
  return 0;
}
