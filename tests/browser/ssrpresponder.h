#pragma once
// A stand-in for the servers on the network: a UDP socket on loopback, served from its own
// thread (the enumerator blocks the test's thread while it waits for replies), that answers
// every datagram it receives with the replies it was given.

#include "platform/uServerEnumerator.h"

#include <QByteArrayList>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <atomic>
#include <future>
#include <mutex>
#include <thread>

class TSSRPResponder {
public:
  explicit TSSRPResponder(QByteArrayList replies,
                          QHostAddress address = QHostAddress(QHostAddress::LocalHost))
      : FReplies(std::move(replies)) {
    std::promise<quint16> bound;
    std::future<quint16> port = bound.get_future();
    FThread = std::thread([this, address, p = std::move(bound)]() mutable { Run(address, p); });
    FPort = port.get();
  }
  ~TSSRPResponder() {
    FStop = true;
    FThread.join();
  }
  TSSRPResponder(const TSSRPResponder&) = delete;
  TSSRPResponder& operator=(const TSSRPResponder&) = delete;

  quint16 Port() const { return FPort; }
  TSSRPTarget Target() const { return {FAddress(), FPort}; }
  QByteArrayList Requests() const {
    std::lock_guard lock(FMutex);
    return FRequests;
  }

  // A reply datagram around the given records: 0x05, the little-endian size, the data.
  static QByteArray Reply(const QByteArray& data) {
    QByteArray datagram(1, '\x05');
    datagram.append(char(data.size() & 0xff));
    datagram.append(char((data.size() >> 8) & 0xff));
    return datagram + data;
  }
  static QByteArray Record(const QByteArray& server, const QByteArray& instance,
                           const QByteArray& tail = "tcp;1433;") {
    return "ServerName;" + server + ";InstanceName;" + instance +
           ";IsClustered;No;Version;16.0.1000.6;" + tail + ";";
  }

private:
  QHostAddress FAddress() const { return FBoundAddress; }

  void Run(const QHostAddress& address, std::promise<quint16>& bound) {
    QUdpSocket socket;
    if (!socket.bind(address, 0)) {
      bound.set_value(0);
      return;
    }
    FBoundAddress = address;
    bound.set_value(socket.localPort());
    while (!FStop) {
      if (!socket.waitForReadyRead(20)) continue;
      while (socket.hasPendingDatagrams()) {
        const QNetworkDatagram request = socket.receiveDatagram();
        {
          std::lock_guard lock(FMutex);
          FRequests.append(request.data());
        }
        for (const QByteArray& reply : FReplies)
          socket.writeDatagram(reply, request.senderAddress(), quint16(request.senderPort()));
      }
    }
  }

  const QByteArrayList FReplies;
  QHostAddress FBoundAddress;
  quint16 FPort = 0;
  std::atomic<bool> FStop{false};
  mutable std::mutex FMutex;
  QByteArrayList FRequests;
  std::thread FThread;
};
