// libFuzzer target: the data store decoding a hostile server's answer to a query (the
// input is the token stream), after a valid login to a server on loopback.

#include "fuzz/hostileserver/uFuzzHostileServer.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!FuzzHostileServerOnce(data, size)) {
    std::fprintf(stderr, "the login to the loopback server failed\n");
    std::abort();
  }
  return 0;
}
