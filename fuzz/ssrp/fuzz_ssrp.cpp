// Feeds arbitrary datagrams to the resolution protocol's reply parser.

#include "platform/uServerEnumerator.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArrayView datagram(reinterpret_cast<const char*>(data), qsizetype(size));
  const auto instances = ParseSSRPReply(datagram);
  if (instances) {
    // What an accepted reply gives must hold what the parser promises.
    if (instances->size() > kSSRPMaxInstances) __builtin_trap();
    for (const TSSRPInstance& instance : *instances) {
      if (instance.ServerName.isEmpty() || instance.InstanceName.isEmpty() ||
          instance.ServerName.contains(QLatin1Char('\\')) ||
          instance.InstanceName.contains(QLatin1Char('\\')) || instance.TcpPort < 0 ||
          instance.TcpPort > 65535 || SSRPDisplayName(instance).isEmpty())
        __builtin_trap();
    }
  }
  return 0;
}
