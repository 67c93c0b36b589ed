#include "uSqlSimFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SqlSimFuzzOne(data, size);
  return 0;
}
