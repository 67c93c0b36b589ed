#pragma once
// A bare TDS client for protocol tests and benchmarks: it sends PRELOGIN, LOGIN7, SQL batches
// and attentions, and hands back the raw reply packets and their token stream, unparsed.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTcpSocket>

struct TTdsPacket {
  quint8 Type = 0;
  quint8 Status = 0;
  quint16 Spid = 0;
  QByteArray Payload;
};

struct TTdsReply {
  QList<TTdsPacket> Packets;
  QByteArray Tokens;     // the payloads joined
  bool Complete = false; // ended with an end-of-message packet
};

class TTdsTestClient {
public:
  explicit TTdsTestClient(int timeoutMs = 10000) : FTimeoutMs(timeoutMs) {}

  bool Connect(quint16 port);
  // PRELOGIN then LOGIN7; tdsVersion as LOGIN7 carries it (0x74000004 for 7.4).
  TTdsReply Login(const QString& user, const QString& password, const QString& database = {},
                  quint32 tdsVersion = 0x74000004, quint32 packetSize = 4096,
                  const QString& appName = QStringLiteral("tds-test"));
  // Sends one batch (split into packets of the negotiated size) and reads the whole reply.
  TTdsReply Batch(const QString& sql);
  // Sends one batch without waiting for its reply.
  void SendBatch(const QString& sql);
  // Sends raw bytes (for malformed input) and reads what comes back until EOM or close.
  TTdsReply SendRaw(const QByteArray& bytes);
  void SendAttention();
  TTdsReply ReadReply();
  bool IsConnected() const { return FSocket.state() == QAbstractSocket::ConnectedState; }
  // Waits until the server closes the connection.
  bool WaitForClose();

  static QByteArray BuildLogin7(const QString& user, const QString& password,
                                const QString& database, quint32 tdsVersion, quint32 packetSize,
                                const QString& appName);
  static QByteArray Packets(quint8 type, const QByteArray& payload, int packetSize);

private:
  QTcpSocket FSocket;
  QByteArray FIn;
  int FTimeoutMs;
  int FPacketSize = 4096;
  quint32 FTdsVersion = 0x74000004;
};
