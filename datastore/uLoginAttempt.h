#pragma once
// A login to the server that ends when it should: within a wall-clock deadline, at once when
// cancelled, and before the server can make it hold unbounded memory.
//
// Why not the driver's own limits: FreeTDS's login time-out only measures idle time between
// packets, so a server that trickles one byte every few seconds keeps a login going for ever,
// and a server that streams without end makes the driver keep what it reads (messages pile
// up) until memory runs out. SQLDriverConnect cannot be interrupted from another thread.
//
// How it is done: the driver's connect runs on a thread of its own while the caller waits,
// watching the clock, the cancel flag and how many bytes the attempt's sockets received.
// When one of them says stop, the TCP sockets that this attempt opened to the server are
// shut down underneath the driver (shutdown(SHUT_RDWR)), so its blocked read or write fails
// and the login ends with an error. The sockets are found in /proc/self/fd: those created
// after the attempt started whose remote address is one of the server's (any new TCP socket
// when the name could not be resolved); the bytes received come from TCP_INFO. Should the
// driver still not return shortly after (a name lookup that hangs, a platform without
// /proc), the attempt is abandoned: its thread owns the half-made connection and frees it
// when the driver finally returns; the caller has its answer at the deadline either way.
//
// The caller's thread only waits; it may be any thread (the Connect dialog runs the whole
// connection test off the GUI thread and cancels through the flag).

#include "datastore/uOdbc.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <vector>

// Set from any thread; the login it was given to ends as soon as it notices (within ~50 ms).
class TLoginCancel {
public:
  void Cancel() { m_canceled.store(true); }
  bool IsCanceled() const { return m_canceled.load(); }
  void Reset() { m_canceled.store(false); }

private:
  std::atomic<bool> m_canceled{false};
};

struct TLoginLimits {
  // The whole login, from the first packet to the server's acknowledgement.
  std::chrono::milliseconds Deadline{std::chrono::seconds(15)};
  // A real login answer is a few kilobytes (tens with TLS); more is a broken or hostile server.
  qint64 MaxReceivedBytes = 1024 * 1024;
};

enum class TLoginEnd { Opened, DriverFailed, TimedOut, Canceled, TooMuchData };

// Opens `connection` (closed first) with the connection string, within the limits. On
// success returns the login's informational records. Otherwise throws TOdbcError with the
// driver's text or with ours for a deadline, a cancel or too much data; *end (when given)
// says which. `host` is the server's host name or address as the driver is given it.
std::vector<TOdbcDiagRecord> OpenWithinLimits(TOdbcConnection& connection,
                                              const QString& connectionString, const QString& host,
                                              const TLoginLimits& limits,
                                              const TLoginCancel* cancel = nullptr,
                                              TLoginEnd* end = nullptr);
