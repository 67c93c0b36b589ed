#pragma once
// A tiny HTTP/1.1 server on 127.0.0.1 for the update tests: fixed answers per path, and the
// faults a download can meet (a connection closed half way, a stalled transfer).

#include <QHash>
#include <QMetaType>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

struct TLoopbackRoute {
  int Status = 200;
  QByteArray Body;
  QByteArray ExtraHeaders; // e.g. "Location: ...\r\n"
  qint64 SendBytes = -1;   // send only this much of Body, then close the connection
  bool Stall = false;      // after SendBytes, keep the connection open and send nothing
};
// Declared before any test names it in a data table (Release and clang builds need that).
Q_DECLARE_METATYPE(TLoopbackRoute)

class TLoopbackHttpServer {
public:
  TLoopbackHttpServer() {
    m_server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
      while (QTcpSocket* socket = m_server.nextPendingConnection())
        Serve(socket);
    });
  }

  bool IsListening() const { return m_server.isListening(); }
  quint16 Port() const { return m_server.serverPort(); }
  QString Url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(Port()).arg(path);
  }
  void SetRoute(const QString& path, const TLoopbackRoute& route) { m_routes[path] = route; }
  // Every path asked for, in order.
  const QStringList& Requests() const { return m_requests; }

  // A loopback port on which nobody listens.
  static quint16 ClosedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
  }

private:
  void Serve(QTcpSocket* socket) {
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
      QByteArray& buffer = m_buffers[socket];
      buffer += socket->readAll();
      const qsizetype end = buffer.indexOf("\r\n\r\n");
      if (end < 0) return;
      const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
      m_buffers.remove(socket);
      const QString path = requestLine.size() >= 2 ? QString::fromLatin1(requestLine[1]) : "";
      m_requests.append(path);
      Answer(socket, m_routes.value(path, TLoopbackRoute{404, "not found", {}, -1, false}));
    });
  }

  void Answer(QTcpSocket* socket, const TLoopbackRoute& route) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(route.Status) + " X\r\n";
    head += "Content-Length: " + QByteArray::number(route.Body.size()) + "\r\n";
    head += route.ExtraHeaders;
    if (!route.Stall) head += "Connection: close\r\n";
    head += "\r\n";
    socket->write(head);
    socket->write(route.SendBytes < 0 ? route.Body : route.Body.left(route.SendBytes));
    if (!route.Stall) socket->disconnectFromHost();
  }

  QTcpServer m_server;
  QHash<QString, TLoopbackRoute> m_routes;
  QHash<QTcpSocket*, QByteArray> m_buffers;
  QStringList m_requests;
};
