#include "datastore/uLoginAttempt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#ifdef __linux__
#include <arpa/inet.h>
#include <linux/tcp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString Tr(const char* text) {
  return QCoreApplication::translate("TDataStoreSQLServer", text);
}

// An address without its port; IPv4-mapped IPv6 addresses count as IPv4.
using TAddress = QByteArray;

#ifdef __linux__
TAddress AddressOf(const sockaddr* sa) {
  if (sa->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
    return QByteArray(reinterpret_cast<const char*>(&in->sin_addr), 4);
  }
  if (sa->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(sa);
    if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
      return QByteArray(reinterpret_cast<const char*>(&in6->sin6_addr) + 12, 4);
    return QByteArray(reinterpret_cast<const char*>(&in6->sin6_addr), 16);
  }
  return {};
}

QList<TAddress> Resolve(const QString& host) {
  QList<TAddress> addresses;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found) != 0) return addresses;
  for (const addrinfo* a = found; a; a = a->ai_next)
    addresses << AddressOf(a->ai_addr);
  freeaddrinfo(found);
  return addresses;
}

// Every socket of this process: descriptor -> inode.
QList<std::pair<int, quint64>> Sockets() {
  QList<std::pair<int, quint64>> sockets;
  const QDir fds(QStringLiteral("/proc/self/fd"));
  for (const QString& name : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
    const QString target = QFileInfo(fds.filePath(name)).symLinkTarget();
    // "socket:[12345]"; symLinkTarget makes it absolute, so look at the file name only.
    const QString link = QFileInfo(target).fileName();
    if (!link.startsWith(QLatin1String("socket:["))) continue;
    bool ok = false;
    const quint64 inode = link.mid(8, link.size() - 9).toULongLong(&ok);
    const int fd = name.toInt();
    if (ok) sockets.append({fd, inode});
  }
  return sockets;
}

QSet<quint64> SocketInodes() {
  QSet<quint64> inodes;
  for (const auto& [fd, inode] : Sockets())
    inodes.insert(inode);
  return inodes;
}

// The TCP sockets that appeared since `before` and are connected to one of `targets` (to
// anything when there are none).
QList<std::pair<int, quint64>> AttemptSockets(const QSet<quint64>& before,
                                              const QList<TAddress>& targets) {
  QList<std::pair<int, quint64>> found;
  for (const auto& [fd, inode] : Sockets()) {
    if (before.contains(inode)) continue;
    int type = 0;
    socklen_t length = sizeof(type);
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) continue;
    sockaddr_storage peer{};
    length = sizeof(peer);
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) continue;
    const TAddress address = AddressOf(reinterpret_cast<const sockaddr*>(&peer));
    if (address.isEmpty() || (!targets.isEmpty() && !targets.contains(address))) continue;
    found.append({fd, inode});
  }
  return found;
}

qint64 BytesReceived(const QList<std::pair<int, quint64>>& sockets) {
  qint64 total = 0;
  for (const auto& [fd, inode] : sockets) {
    tcp_info info{};
    socklen_t length = sizeof(info);
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 &&
        length >= socklen_t(offsetof(tcp_info, tcpi_bytes_received) + sizeof(__u64)))
      total += qint64(info.tcpi_bytes_received);
  }
  return total;
}

void ShutDown(const QList<std::pair<int, quint64>>& sockets) {
  for (const auto& [fd, inode] : sockets) {
    // The descriptor may have been closed and reused since it was listed: only the same
    // socket is shut down.
    struct stat st {};
    if (fstat(fd, &st) == 0 && quint64(st.st_ino) == inode) shutdown(fd, SHUT_RDWR);
  }
}
#else
QList<TAddress> Resolve(const QString&) {
  return {};
}
QSet<quint64> SocketInodes() {
  return {};
}
QList<std::pair<int, quint64>> AttemptSockets(const QSet<quint64>&, const QList<TAddress>&) {
  return {};
}
qint64 BytesReceived(const QList<std::pair<int, quint64>>&) {
  return 0;
}
void ShutDown(const QList<std::pair<int, quint64>>&) {}
#endif

// What the attempt's thread and the waiting caller share. The thread keeps it alive, so an
// abandoned attempt still has its connection to close when the driver returns.
struct TAttempt {
  std::mutex Mutex;
  std::condition_variable Done;
  bool Finished = false;
  bool Resolved = false;
  QList<TAddress> Targets;
  TOdbcConnection Connection;
  std::vector<TOdbcDiagRecord> Info;
  // The driver's failure with its records: callers read the server's error numbers.
  std::optional<TOdbcError> Error;
};

} // namespace

std::vector<TOdbcDiagRecord> OpenWithinLimits(TOdbcConnection& connection,
                                              const QString& connectionString, const QString& host,
                                              const TLoginLimits& limits,
                                              const TLoginCancel* cancel, TLoginEnd* end) {
  using Clock = std::chrono::steady_clock;
  const auto finish = [end](TLoginEnd how) {
    if (end) *end = how;
  };
  connection.Close();
  const Clock::time_point deadline = Clock::now() + limits.Deadline;
  const QSet<quint64> before = SocketInodes();
  auto attempt = std::make_shared<TAttempt>();
  // The driver's own idle time-out stays as a second line of defence, in whole seconds.
  const int idleSeconds = int(std::max<qint64>(
      1, std::chrono::duration_cast<std::chrono::seconds>(limits.Deadline).count() + 1));

  std::thread([attempt, connectionString, host, idleSeconds] {
    const QList<TAddress> targets = Resolve(host);
    {
      const std::lock_guard lock(attempt->Mutex);
      attempt->Targets = targets;
      attempt->Resolved = true;
    }
    std::vector<TOdbcDiagRecord> info;
    std::optional<TOdbcError> error;
    try {
      info = attempt->Connection.Open(connectionString, idleSeconds);
    } catch (const TOdbcError& e) {
      error = e;
    } catch (const std::exception& e) {
      error = TOdbcError(QString::fromUtf8(e.what()));
    }
    const std::lock_guard lock(attempt->Mutex);
    attempt->Info = std::move(info);
    attempt->Error = std::move(error);
    attempt->Finished = true;
    attempt->Done.notify_all();
  }).detach();

  std::optional<TLoginEnd> stop;
  std::unique_lock lock(attempt->Mutex);
  while (!attempt->Finished) {
    attempt->Done.wait_for(lock, std::chrono::milliseconds(50));
    if (attempt->Finished) break;
    if (cancel && cancel->IsCanceled()) {
      stop = TLoginEnd::Canceled;
    } else if (Clock::now() >= deadline) {
      stop = TLoginEnd::TimedOut;
    } else if (attempt->Resolved) {
      const QList<TAddress> targets = attempt->Targets;
      lock.unlock();
      const qint64 received = BytesReceived(AttemptSockets(before, targets));
      lock.lock();
      if (received > limits.MaxReceivedBytes) stop = TLoginEnd::TooMuchData;
    }
    if (stop) break;
  }

  if (stop) {
    const QList<TAddress> targets = attempt->Resolved ? attempt->Targets : QList<TAddress>();
    lock.unlock();
    ShutDown(AttemptSockets(before, targets));
    lock.lock();
    // With its sockets gone the driver returns at once; if not, the attempt is left behind.
    attempt->Done.wait_for(lock, std::chrono::seconds(2), [&] { return attempt->Finished; });
    if (attempt->Finished) attempt->Connection.Close();
    finish(*stop);
    const qint64 seconds =
        std::chrono::duration_cast<std::chrono::seconds>(limits.Deadline).count();
    switch (*stop) {
    case TLoginEnd::Canceled:
      throw TOdbcError(Tr("The login was cancelled."));
    case TLoginEnd::TimedOut:
      throw TOdbcError(Tr("The login did not complete within %1 seconds.").arg(seconds));
    default:
      throw TOdbcError(Tr("The server sent more than %1 bytes during the login; the login was "
                          "stopped.")
                           .arg(limits.MaxReceivedBytes));
    }
  }

  if (attempt->Error) {
    finish(TLoginEnd::DriverFailed);
    throw *attempt->Error;
  }
  connection.Swap(attempt->Connection);
  finish(TLoginEnd::Opened);
  return std::move(attempt->Info);
}
