#pragma once
// A TDS server on 127.0.0.1 that logs any client in properly and then answers every batch
// with whatever token stream it was handed: a hostile or broken server, as the data store
// may meet one. It runs on a thread of its own (plain sockets, no event loop), serving one
// connection at a time. Shared by the fuzz target and the test that replays its inputs.

#include "uTdsStream.h"

#include <QByteArray>
#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

class THostileServer {
public:
  THostileServer() {
    m_listen = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK); // loopback only
    address.sin_port = 0;
    bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(m_listen, 4);
    socklen_t length = sizeof(address);
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    std::thread([this] { Serve(); }).detach();
  }

  quint16 Port() const { return m_port; }
  QString ServerName() const { return QStringLiteral("127.0.0.1,%1").arg(m_port); }

  // The token stream that answers every batch from now on.
  void SetAnswer(const QByteArray& tokens) {
    const std::lock_guard lock(m_mutex);
    m_answer = tokens;
  }

private:
  static bool ReadAll(int fd, char* data, qsizetype size) {
    while (size > 0) {
      const ssize_t n = read(fd, data, size_t(size));
      if (n <= 0) return false;
      data += n;
      size -= n;
    }
    return true;
  }
  static bool WriteAll(int fd, const QByteArray& data) {
    qsizetype at = 0;
    while (at < data.size()) {
      const ssize_t n = send(fd, data.constData() + at, size_t(data.size() - at), MSG_NOSIGNAL);
      if (n <= 0) return false;
      at += n;
    }
    return true;
  }
  // One whole message: its type and body.
  static bool ReadMessage(int fd, quint8& type, QByteArray& body) {
    body.clear();
    for (;;) {
      unsigned char header[Tds::HeaderSize];
      if (!ReadAll(fd, reinterpret_cast<char*>(header), Tds::HeaderSize)) return false;
      const int length = (header[2] << 8) | header[3];
      if (length < Tds::HeaderSize) return false;
      QByteArray part(length - Tds::HeaderSize, Qt::Uninitialized);
      if (!ReadAll(fd, part.data(), part.size())) return false;
      type = header[0];
      body += part;
      if (body.size() > 1024 * 1024) return false;
      if (header[1] & Tds::StatusEom) return true;
    }
  }

  void Serve() {
    for (;;) {
      const int fd = accept(m_listen, nullptr, nullptr);
      if (fd < 0) continue;
      Session(fd);
      close(fd);
    }
  }

  void Session(int fd) {
    Tds::TWireFormat format;
    quint8 type = 0;
    QByteArray body;
    while (ReadMessage(fd, type, body)) {
      QByteArray reply;
      if (type == Tds::PktPrelogin) {
        reply = Tds::Packetize(Tds::PreloginReply(10, 50, 1600), 4096, 0);
      } else if (type == Tds::PktLogin7) {
        const auto login = Tds::ParseLogin7(body);
        if (!login || login->TdsVersion < Tds::Tds71) return;
        format.Version = qMin(login->TdsVersion, Tds::Tds74);
        Tds::TTokenWriter w(format);
        w.EnvChange(1, QStringLiteral("master"), QStringLiteral("master"));
        w.EnvChangeCollation();
        w.LoginAck(format.Version, QStringLiteral("Microsoft SQL Server"), 10, 50, 1600);
        w.EnvChange(4, QStringLiteral("4096"), QStringLiteral("4096"));
        w.Done(Tds::DoneFinal, 0, 0);
        reply = Tds::Packetize(w.Bytes(), 4096, 51);
      } else if (type == Tds::PktAttention) {
        Tds::TTokenWriter w(format);
        w.Done(Tds::DoneAttn, 0, 0);
        reply = Tds::Packetize(w.Bytes(), 4096, 51);
      } else {
        {
          const std::lock_guard lock(m_mutex);
          reply = Tds::Packetize(m_answer, 4096, 51);
        }
        // Then the connection ends: an answer cut short must fail, not wait for more.
        WriteAll(fd, reply);
        return;
      }
      if (!WriteAll(fd, reply)) return;
    }
  }

  int m_listen = -1;
  quint16 m_port = 0;
  std::mutex m_mutex;
  QByteArray m_answer;
};
