#pragma once
// The TCP side: one session per client connection, all on one event loop.

#include "uSimEngine.h"
#include "uSimScenario.h"

#include <QFile>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

#include <memory>
#include <optional>

class QTcpSocket;

// Writes one JSON object per line for every login and batch, flushed at once so that a test
// can read it as soon as its client has the answer.
class TSimLog {
public:
  bool Open(const QString& path, QString* error);
  void Write(const QJsonObject& entry);

private:
  QFile FFile;
};

class TSimServer : public QObject {
  Q_OBJECT
public:
  explicit TSimServer(std::shared_ptr<const TSimScenario> scenario, QObject* parent = nullptr);

  bool Listen(quint16 port, QString* error);
  quint16 Port() const { return FServer.serverPort(); }

  std::shared_ptr<const TSimScenario> Scenario() const { return FScenario; }
  void SetScenario(std::shared_ptr<const TSimScenario> scenario);
  TSimLog* Log() { return FLog.get(); }
  void SetLog(std::unique_ptr<TSimLog> log) { FLog = std::move(log); }

  // The fault that applies to this batch, if any; counts one use of it.
  std::optional<TSimFault> TakeFault(const QString& sql, const QString& key, const QString& login);
  // The login-answer fault for this login, if any; counts one use of it.
  std::optional<TSimFault> TakeLoginFault(const QString& login);
  quint16 NextSpid();

private:
  void OnNewConnection();

  QTcpServer FServer;
  std::shared_ptr<const TSimScenario> FScenario;
  QList<int> FFaultUses;
  std::unique_ptr<TSimLog> FLog;
  quint16 FNextSpid = 51;
};

class TSimSession : public QObject {
  Q_OBJECT
public:
  TSimSession(TSimServer* server, QTcpSocket* socket);

private:
  enum class TPhase { PreLogin, Login, LoggedIn, Closed };
  struct TMessage {
    quint8 Type;
    QByteArray Body;
  };

  void OnReadyRead();
  void Dispatch(const TMessage& msg);
  void HandlePrelogin();
  void HandleLogin(const QByteArray& body);
  void HandleBatch(const QByteArray& body);
  void HandleRpc(const QByteArray& body);
  // How an answer is wrapped up for an RPC: DONEINPROC, return status, the handle, DONEPROC.
  struct TRpcWrap {
    QString Name;
    std::optional<qint32> Handle;
  };
  void Run(const QString& sql, const std::optional<TRpcWrap>& rpc);
  void SendRpcOnly(const TRpcWrap& rpc, const QList<TSimMessage>& errors);
  void HandleAttention();
  void SendTokens(const QByteArray& tokens);
  void Deliver();
  void FailLogin(const QList<TSimMessage>& messages);
  // The login answer under a "loginReply" fault: trickled byte by byte, or endless messages.
  void StartLoginFault(const TSimFault& fault, const QByteArray& answer);
  void TrickleNext();
  void StreamMore();
  void Close();
  void DrainQueue();

  TSimServer* FServer;
  QPointer<QTcpSocket> FSocket;
  TPhase FPhase = TPhase::PreLogin;
  TSimSessionState FState;
  QString FAppName;
  int FPacketSize = 4096;
  QByteArray FIn;
  QByteArray FMessage;
  quint8 FMessageType = 0;
  QList<TMessage> FQueue;
  QHash<qint32, QString> FPrepared;
  qint32 FNextHandle = 1;

  // A reply held back by a delay fault; an attention cancels it.
  struct TPending {
    QByteArray Tokens;
    qsizetype RowsOffset = 0;
    QString Drop;
    bool Malformed = false;
  };
  std::optional<TPending> FPending;
  QTimer FDelay;
  QByteArray FTrickle; // the rest of a trickled login answer
  QTimer FTrickleTimer;
  QByteArray FStreamChunk; // packets of messages, none of them the last
  bool FStreaming = false;
};
