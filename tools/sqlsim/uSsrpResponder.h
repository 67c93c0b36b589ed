#pragma once
// Answers SQL Server Resolution Protocol requests on UDP loopback with the scenario's instances.

#include "uSimScenario.h"

#include <QObject>
#include <QUdpSocket>

#include <functional>
#include <memory>

class TSsrpResponder : public QObject {
  Q_OBJECT
public:
  using TScenarioFn = std::function<std::shared_ptr<const TSimScenario>()>;
  TSsrpResponder(TScenarioFn scenario, quint16 tcpPort, QObject* parent = nullptr);

  bool Listen(quint16 port, QString* error);
  quint16 Port() const { return FSocket.localPort(); }

  // The reply to one request datagram; empty when nothing is to be sent.
  static QByteArray Reply(const QByteArray& request, const TSimScenario& scenario, quint16 tcpPort);

private:
  void OnReadyRead();

  TScenarioFn FScenario;
  quint16 FTcpPort;
  QUdpSocket FSocket;
};
