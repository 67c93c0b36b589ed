#include "uTdsTestClient.h"

#include <QDeadlineTimer>
#include <QHostAddress>

namespace {

void PutU16(QByteArray& b, quint16 v) {
  b.append(char(v & 0xFF));
  b.append(char(v >> 8));
}

void PutU32(QByteArray& b, quint32 v) {
  for (int i = 0; i < 4; ++i)
    b.append(char((v >> (8 * i)) & 0xFF));
}

QByteArray Ucs2(const QString& s) {
  QByteArray out;
  for (QChar c : s)
    PutU16(out, c.unicode());
  return out;
}

} // namespace

bool TTdsTestClient::Connect(quint16 port) {
  FSocket.connectToHost(QHostAddress::LocalHost, port);
  return FSocket.waitForConnected(FTimeoutMs);
}

QByteArray TTdsTestClient::Packets(quint8 type, const QByteArray& payload, int packetSize) {
  QByteArray out;
  const int chunk = packetSize - 8;
  qsizetype pos = 0;
  quint8 id = 1;
  do {
    const qsizetype n = qMin<qsizetype>(chunk, payload.size() - pos);
    const bool last = pos + n >= payload.size();
    const quint16 len = quint16(n + 8);
    out.append(char(type));
    out.append(char(last ? 1 : 0));
    out.append(char(len >> 8));
    out.append(char(len & 0xFF));
    out.append(char(0));
    out.append(char(0));
    out.append(char(id++));
    out.append(char(0));
    out.append(payload.mid(pos, n));
    pos += n;
  } while (pos < payload.size());
  return out;
}

QByteArray TTdsTestClient::BuildLogin7(const QString& user, const QString& password,
                                       const QString& database, quint32 tdsVersion,
                                       quint32 packetSize, const QString& appName) {
  QByteArray pw = Ucs2(password);
  for (char& c : pw) {
    const quint8 b = quint8(c);
    c = char(quint8(((b << 4) | (b >> 4)) ^ 0xA5));
  }
  // Variable part in the order of the offset table: host, user, password, app, server,
  // extension (unused), library, language, database.
  const QList<QByteArray> fields = {Ucs2("testhost"), Ucs2(user),     pw,
                                    Ucs2(appName),    Ucs2("server"), QByteArray(),
                                    Ucs2("tds-test"), QByteArray(),   Ucs2(database)};
  const int fixed = 94;
  QByteArray head;
  PutU32(head, 0); // length, patched below
  PutU32(head, tdsVersion);
  PutU32(head, packetSize);
  PutU32(head, 7);         // client program version
  PutU32(head, 1234);      // client PID
  PutU32(head, 0);         // connection id
  head.append(char(0xE0)); // option flags 1
  head.append(char(0x03)); // option flags 2: ODBC, language fatal
  head.append(char(0));
  head.append(char(0));
  PutU32(head, 0); // time zone
  PutU32(head, 0x0409);
  QByteArray data;
  int offset = fixed;
  for (const QByteArray& f : fields) {
    PutU16(head, quint16(offset));
    PutU16(head, quint16(f.size() / 2));
    data += f;
    offset += int(f.size());
  }
  head.append(QByteArray(6, '\x01')); // client MAC address
  PutU16(head, quint16(offset));      // SSPI
  PutU16(head, 0);
  PutU16(head, quint16(offset)); // attach file
  PutU16(head, 0);
  PutU16(head, quint16(offset)); // change password
  PutU16(head, 0);
  PutU32(head, 0); // long SSPI length
  Q_ASSERT(head.size() == fixed);
  QByteArray login = head + data;
  const quint32 len = quint32(login.size());
  for (int i = 0; i < 4; ++i)
    login[i] = char((len >> (8 * i)) & 0xFF);
  return login;
}

TTdsReply TTdsTestClient::ReadReply() {
  TTdsReply reply;
  QDeadlineTimer deadline(FTimeoutMs);
  qsizetype pos = 0; // packets are consumed by offset; the buffer is trimmed once at the end
  auto finish = [&] {
    FIn.remove(0, pos);
    return reply;
  };
  for (;;) {
    while (FIn.size() - pos >= 8) {
      const auto* h = reinterpret_cast<const unsigned char*>(FIn.constData() + pos);
      const int len = (h[2] << 8) | h[3];
      if (len < 8 || FIn.size() - pos < len) break;
      TTdsPacket p;
      p.Type = h[0];
      p.Status = h[1];
      p.Spid = quint16((h[4] << 8) | h[5]);
      p.Payload = FIn.mid(pos + 8, len - 8);
      pos += len;
      reply.Tokens += p.Payload;
      reply.Packets << p;
      if (p.Status & 1) {
        reply.Complete = true;
        return finish();
      }
    }
    if (FSocket.state() != QAbstractSocket::ConnectedState && FSocket.bytesAvailable() == 0)
      return finish();
    if (deadline.hasExpired()) return finish();
    if (FSocket.bytesAvailable() == 0)
      FSocket.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 1000)));
    FIn += FSocket.readAll();
  }
}

TTdsReply TTdsTestClient::Login(const QString& user, const QString& password,
                                const QString& database, quint32 tdsVersion, quint32 packetSize,
                                const QString& appName) {
  // PRELOGIN: version and encryption off; the answer is not needed here.
  QByteArray pre;
  pre += QByteArray("\x00\x00\x0B\x00\x06\x01\x00\x11\x00\x01\xFF", 11);
  pre += QByteArray("\x0B\x00\x00\x00\x00\x00", 6);
  pre += QByteArray(1, '\x00');
  FSocket.write(Packets(0x12, pre, 4096));
  const TTdsReply preReply = ReadReply();
  if (!preReply.Complete) return preReply;
  FTdsVersion = tdsVersion;
  FSocket.write(
      Packets(0x10, BuildLogin7(user, password, database, tdsVersion, packetSize, appName), 4096));
  TTdsReply reply = ReadReply();
  FPacketSize = packetSize == 0 ? 4096 : int(packetSize);
  return reply;
}

TTdsReply TTdsTestClient::Batch(const QString& sql) {
  SendBatch(sql);
  return ReadReply();
}

void TTdsTestClient::SendBatch(const QString& sql) {
  QByteArray payload;
  if (FTdsVersion >= 0x72090002) {
    // ALL_HEADERS with the transaction descriptor header.
    PutU32(payload, 22);
    PutU32(payload, 18);
    PutU16(payload, 2);
    payload.append(QByteArray(8, '\0'));
    PutU32(payload, 1);
  }
  payload += Ucs2(sql);
  FSocket.write(Packets(0x01, payload, FPacketSize));
  FSocket.flush();
}

TTdsReply TTdsTestClient::SendRaw(const QByteArray& bytes) {
  FSocket.write(bytes);
  return ReadReply();
}

void TTdsTestClient::SendAttention() {
  FSocket.write(Packets(0x06, QByteArray(), 4096));
  FSocket.flush();
}

bool TTdsTestClient::WaitForClose() {
  QDeadlineTimer deadline(FTimeoutMs);
  while (FSocket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
    FSocket.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 1000)));
    FIn += FSocket.readAll();
  }
  return FSocket.state() != QAbstractSocket::ConnectedState;
}
