// Feeds arbitrary datagrams to the resolution protocol's reply parser.

#include "platform/uServerEnumerator.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

namespace {
void Check(QByteArrayView datagram) {
  const auto instances = ParseSSRPReply(datagram);
  if (!instances) return;
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
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
  Check(input);
  // Most mutations break the size field; also frame the rest as a reply with a matching
  // header so the records themselves get explored.
  if (size >= 1 && size - 1 <= 65535) {
    QByteArray framed(1, '\x05');
    framed.append(char((size - 1) & 0xff));
    framed.append(char(((size - 1) >> 8) & 0xff));
    framed.append(input.sliced(1));
    Check(framed);
  }
  return 0;
}
