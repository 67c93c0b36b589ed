#include "uSsrpResponder.h"

#include <QNetworkDatagram>

namespace {

constexpr quint8 ClntBcastEx = 0x02;
constexpr quint8 ClntUcastEx = 0x03;
constexpr quint8 ClntUcastInst = 0x04;
constexpr quint8 ClntUcastDac = 0x0F;
constexpr quint8 SvrResp = 0x05;

QByteArray Record(const TSimInstance& i) {
  return QStringLiteral("ServerName;%1;InstanceName;%2;IsClustered;%3;Version;%4;tcp;%5;;")
      .arg(i.Machine, i.Instance, i.Clustered ? QStringLiteral("Yes") : QStringLiteral("No"),
           i.Version)
      .arg(i.TcpPort)
      .toLocal8Bit();
}

QByteArray Response(const QByteArray& data) {
  QByteArray out;
  out.append(char(SvrResp));
  out.append(char(data.size() & 0xFF));
  out.append(char((data.size() >> 8) & 0xFF));
  return out + data;
}

} // namespace

TSsrpResponder::TSsrpResponder(TScenarioFn scenario, quint16 tcpPort, QObject* parent)
    : QObject(parent), FScenario(std::move(scenario)), FTcpPort(tcpPort) {
  connect(&FSocket, &QUdpSocket::readyRead, this, &TSsrpResponder::OnReadyRead);
}

bool TSsrpResponder::Listen(quint16 port, QString* error) {
  if (!FSocket.bind(QHostAddress::LocalHost, port)) {
    if (error) *error = FSocket.errorString();
    return false;
  }
  return true;
}

QByteArray TSsrpResponder::Reply(const QByteArray& request, const TSimScenario& s,
                                 quint16 tcpPort) {
  if (request.isEmpty()) return {};
  QList<TSimInstance> all;
  all << TSimInstance{s.Machine, s.Instance, s.Version, tcpPort, false};
  all << s.Instances;
  const quint8 kind = quint8(request[0]);
  if (kind == ClntBcastEx || kind == ClntUcastEx) {
    QByteArray data;
    for (const TSimInstance& i : all)
      data += Record(i);
    // The reply's length field is 16 bits.
    return data.size() > 65535 ? QByteArray() : Response(data);
  }
  if (kind == ClntUcastInst || kind == ClntUcastDac) {
    QByteArray name = request.mid(kind == ClntUcastDac ? 2 : 1);
    const qsizetype nul = name.indexOf('\0');
    if (nul >= 0) name.truncate(nul);
    if (name.size() > 32) return {};
    const QString wanted = QString::fromLocal8Bit(name);
    for (const TSimInstance& i : all) {
      if (i.Instance.compare(wanted, Qt::CaseInsensitive) != 0) continue;
      if (kind == ClntUcastInst) return Response(Record(i));
      // DAC: protocol version 1 and the port of the dedicated connection (ours).
      QByteArray out;
      out.append(char(SvrResp));
      out.append(char(6));
      out.append(char(0));
      out.append(char(1));
      out.append(char(i.TcpPort & 0xFF));
      out.append(char((i.TcpPort >> 8) & 0xFF));
      return out;
    }
    return {}; // an unknown instance gets no answer, as from the real browser service
  }
  return {};
}

void TSsrpResponder::OnReadyRead() {
  while (FSocket.hasPendingDatagrams()) {
    const QNetworkDatagram d = FSocket.receiveDatagram();
    // Only loopback senders are answered.
    if (!d.senderAddress().isLoopback()) continue;
    const auto scenario = FScenario();
    const QByteArray reply = Reply(d.data(), *scenario, FTcpPort);
    if (!reply.isEmpty()) FSocket.writeDatagram(reply, d.senderAddress(), quint16(d.senderPort()));
  }
}
