#include "uSimServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

namespace {

constexpr qsizetype MaxMessage = 64 * 1024 * 1024;

QString TdsName(quint32 v) {
  if (v >= Tds::Tds74) return QStringLiteral("7.4");
  if (v >= 0x730A0003) return QStringLiteral("7.3");
  if (v >= Tds::Tds72) return QStringLiteral("7.2");
  return QStringLiteral("7.1");
}

} // namespace

bool TSimLog::Open(const QString& path, QString* error) {
  FFile.setFileName(path);
  if (!FFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
    if (error) *error = QStringLiteral("cannot write %1: %2").arg(path, FFile.errorString());
    return false;
  }
  return true;
}

void TSimLog::Write(const QJsonObject& entry) {
  FFile.write(QJsonDocument(entry).toJson(QJsonDocument::Compact));
  FFile.write("\n");
  FFile.flush();
}

TSimServer::TSimServer(std::shared_ptr<const TSimScenario> scenario, QObject* parent)
    : QObject(parent), FScenario(std::move(scenario)) {
  FFaultUses.resize(FScenario->Faults.size());
  connect(&FServer, &QTcpServer::newConnection, this, &TSimServer::OnNewConnection);
}

bool TSimServer::Listen(quint16 port, QString* error) {
  // Loopback only: the simulator is never reachable from another machine.
  if (!FServer.listen(QHostAddress::LocalHost, port)) {
    if (error) *error = FServer.errorString();
    return false;
  }
  return true;
}

void TSimServer::SetScenario(std::shared_ptr<const TSimScenario> scenario) {
  FScenario = std::move(scenario);
  FFaultUses = QList<int>(FScenario->Faults.size(), 0);
}

std::optional<TSimFault> TSimServer::TakeFault(const QString& sql, const QString& key,
                                               const QString& login) {
  for (qsizetype i = 0; i < FScenario->Faults.size(); ++i) {
    const TSimFault& f = FScenario->Faults[i];
    if (!f.LoginReply.isEmpty()) continue;
    if (!f.Login.isEmpty() && f.Login.compare(login, Qt::CaseInsensitive) != 0) continue;
    const bool matches =
        f.Statement.isEmpty() ? f.Pattern.match(sql).hasMatch() : f.Statement == key;
    if (!matches) continue;
    if (f.Count >= 0 && FFaultUses[i] >= f.Count) continue;
    ++FFaultUses[i];
    return f;
  }
  return std::nullopt;
}

std::optional<TSimFault> TSimServer::TakeLoginFault(const QString& login) {
  for (qsizetype i = 0; i < FScenario->Faults.size(); ++i) {
    const TSimFault& f = FScenario->Faults[i];
    if (f.LoginReply.isEmpty()) continue;
    if (!f.Login.isEmpty() && f.Login.compare(login, Qt::CaseInsensitive) != 0) continue;
    if (f.Count >= 0 && FFaultUses[i] >= f.Count) continue;
    ++FFaultUses[i];
    return f;
  }
  return std::nullopt;
}

quint16 TSimServer::NextSpid() {
  const quint16 spid = FNextSpid;
  FNextSpid = FNextSpid >= 30000 ? 51 : quint16(FNextSpid + 1);
  return spid;
}

void TSimServer::OnNewConnection() {
  while (QTcpSocket* socket = FServer.nextPendingConnection())
    new TSimSession(this, socket);
}

TSimSession::TSimSession(TSimServer* server, QTcpSocket* socket)
    : QObject(server), FServer(server), FSocket(socket) {
  FState.Spid = server->NextSpid();
  socket->setParent(this);
  socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  FDelay.setSingleShot(true);
  connect(&FDelay, &QTimer::timeout, this, &TSimSession::Deliver);
  connect(&FTrickleTimer, &QTimer::timeout, this, &TSimSession::TrickleNext);
  connect(socket, &QTcpSocket::bytesWritten, this, [this] {
    if (FStreaming) StreamMore();
  });
  connect(socket, &QTcpSocket::readyRead, this, &TSimSession::OnReadyRead);
  connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
  connect(socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
    if (FSocket && FSocket->state() == QAbstractSocket::UnconnectedState) deleteLater();
  });
}

void TSimSession::OnReadyRead() {
  if (!FSocket) return;
  FIn.append(FSocket->readAll());
  while (FPhase != TPhase::Closed && FIn.size() >= Tds::HeaderSize) {
    const auto* h = reinterpret_cast<const unsigned char*>(FIn.constData());
    const int length = (h[2] << 8) | h[3];
    if (length < Tds::HeaderSize) {
      Close();
      return;
    }
    if (FIn.size() < length) break;
    const quint8 type = h[0];
    const bool eom = h[1] & Tds::StatusEom;
    const QByteArray payload = FIn.mid(Tds::HeaderSize, length - Tds::HeaderSize);
    FIn.remove(0, length);
    if (type == Tds::PktAttention) {
      HandleAttention();
      continue;
    }
    if (!FMessage.isEmpty() && type != FMessageType) {
      Close();
      return;
    }
    FMessageType = type;
    FMessage.append(payload);
    if (FMessage.size() > MaxMessage) {
      Close();
      return;
    }
    if (eom) {
      TMessage msg{FMessageType, FMessage};
      FMessage.clear();
      if (FPending || !FQueue.isEmpty())
        FQueue.append(msg);
      else
        Dispatch(msg);
    }
  }
}

void TSimSession::Dispatch(const TMessage& msg) {
  switch (msg.Type) {
  case Tds::PktPrelogin:
    if (FPhase == TPhase::PreLogin)
      HandlePrelogin();
    else
      Close();
    return;
  case Tds::PktLogin7:
    if (FPhase == TPhase::PreLogin || FPhase == TPhase::Login)
      HandleLogin(msg.Body);
    else
      Close();
    return;
  case Tds::PktSqlBatch:
    if (FPhase == TPhase::LoggedIn)
      HandleBatch(msg.Body);
    else
      Close();
    return;
  case Tds::PktTransMgr:
  case Tds::PktRpc:
    if (FPhase != TPhase::LoggedIn) {
      Close();
      return;
    }
    if (msg.Type == Tds::PktRpc) {
      HandleRpc(msg.Body);
    } else {
      Tds::TTokenWriter w(FState.Format);
      w.Done(Tds::DoneFinal, 0, 0);
      SendTokens(w.Bytes());
    }
    return;
  default:
    Close();
  }
}

void TSimSession::HandlePrelogin() {
  const auto s = FServer->Scenario();
  FPhase = TPhase::Login;
  if (FSocket)
    FSocket->write(Tds::Packetize(
        Tds::PreloginReply(quint8(s->Major()), quint8(s->Minor()), quint16(s->Build())), 4096, 0));
}

void TSimSession::FailLogin(const QList<TSimMessage>& messages) {
  SendTokens(SimEngine::Errors(*FServer->Scenario(), FState, messages).Tokens);
  Close();
}

void TSimSession::HandleLogin(const QByteArray& body) {
  const auto login = Tds::ParseLogin7(body);
  if (!login) {
    Close();
    return;
  }
  const auto s = FServer->Scenario();
  // TDS 7.1 to 7.4; anything older (or the 8.0 of strict encryption) is not served.
  if (login->TdsVersion < Tds::Tds71) {
    Close();
    return;
  }
  FState.Format.Version = qMin(login->TdsVersion, Tds::Tds74);
  FState.Login = login->UserName;
  FAppName = login->AppName;

  const TSimLogin* account = s->FindLogin(login->UserName);
  const bool explicitDb = !login->Database.isEmpty();
  const QString dbName = explicitDb
                             ? login->Database
                             : (account ? account->DefaultDatabase : QStringLiteral("master"));
  const TSimDatabase* db = s->FindDatabase(dbName);
  const bool passwordOk = account && account->Password == login->Password;
  const bool dbOk = passwordOk && db && db->Online && account->MayOpen(db->Name);

  QJsonObject entry{{"event", "login"},
                    {"spid", FState.Spid},
                    {"login", login->UserName},
                    {"app", login->AppName},
                    {"host", login->HostName},
                    {"database", login->Database},
                    {"tds", TdsName(FState.Format.Version)},
                    {"ok", dbOk}};
  if (TSimLog* log = FServer->Log()) log->Write(entry);

  const TSimMessage loginFailed{18456, 14, 1,
                                QStringLiteral("Login failed for user '%1'.").arg(login->UserName)};
  if (!passwordOk) {
    FailLogin({loginFailed});
    return;
  }
  if (!dbOk) {
    if (explicitDb)
      FailLogin({TSimMessage{4060, 11, 1,
                             QStringLiteral("Cannot open database \"%1\" requested by the login. "
                                            "The login failed.")
                                 .arg(dbName)},
                 loginFailed});
    else
      FailLogin({TSimMessage{4064, 11, 1,
                             QStringLiteral("Cannot open user default database. Login failed.")},
                 loginFailed});
    return;
  }

  FState.Database = db->Name;
  const int requested = int(login->PacketSize);
  const int packetSize = requested == 0 ? 4096 : qBound(512, requested, 32767);
  Tds::TTokenWriter w(FState.Format);
  w.EnvChange(1, db->Name, QStringLiteral("master"));
  w.Message(false, 5701, 2, 0, QStringLiteral("Changed database context to '%1'.").arg(db->Name),
            s->ServerName());
  w.EnvChangeCollation();
  w.EnvChange(2, QStringLiteral("us_english"), QString());
  w.Message(false, 5703, 1, 0, QStringLiteral("Changed language setting to us_english."),
            s->ServerName());
  w.LoginAck(FState.Format.Version, QStringLiteral("Microsoft SQL Server"), quint8(s->Major()),
             quint8(s->Minor()), quint16(s->Build()));
  w.EnvChange(4, QString::number(packetSize), QString::number(FPacketSize));
  w.Done(Tds::DoneFinal, 0, 0);
  if (const auto fault = FServer->TakeLoginFault(FState.Login)) {
    StartLoginFault(*fault, Tds::Packetize(w.Bytes(), FPacketSize, FState.Spid));
    return;
  }
  SendTokens(w.Bytes()); // still in the pre-login packet size
  FPacketSize = packetSize;
  FPhase = TPhase::LoggedIn;
}

void TSimSession::StartLoginFault(const TSimFault& fault, const QByteArray& answer) {
  if (fault.LoginReply == QLatin1String("trickle")) {
    FTrickle = answer;
    FTrickleTimer.start(fault.IntervalMs);
    TrickleNext();
    return;
  }
  // Full packets of informational messages, none marked as the last of the answer.
  const auto s = FServer->Scenario();
  Tds::TTokenWriter w(FState.Format);
  while (w.Bytes().size() < 60000)
    w.Message(false, 5701, 2, 0, QStringLiteral("Changed database context to 'master'."),
              s->ServerName());
  FStreamChunk = Tds::Packetize(w.Bytes(), FPacketSize, FState.Spid);
  for (qsizetype at = 0; at + Tds::HeaderSize <= FStreamChunk.size();) {
    FStreamChunk[at + 1] = 0; // status: more to come
    at += (quint8(FStreamChunk[at + 2]) << 8) | quint8(FStreamChunk[at + 3]);
  }
  FStreaming = true;
  StreamMore();
}

void TSimSession::TrickleNext() {
  if (!FSocket || FSocket->state() != QAbstractSocket::ConnectedState || FTrickle.isEmpty()) {
    FTrickleTimer.stop();
    return;
  }
  FSocket->write(FTrickle.left(1));
  FTrickle.remove(0, 1);
}

void TSimSession::StreamMore() {
  // Keeps a little queued, so the stream goes as fast as the client reads and no faster.
  while (FSocket && FSocket->state() == QAbstractSocket::ConnectedState &&
         FSocket->bytesToWrite() < 4 * FStreamChunk.size())
    FSocket->write(FStreamChunk);
}

void TSimSession::HandleBatch(const QByteArray& body) {
  const auto sql = Tds::ParseSqlBatch(body, FState.Format);
  if (!sql) {
    Close();
    return;
  }
  Run(*sql, std::nullopt);
}

void TSimSession::HandleRpc(const QByteArray& body) {
  const auto rpc = Tds::ParseRpc(body, FState.Format);
  if (!rpc) {
    Close();
    return;
  }
  const QList<Tds::TRpcParam>& params = rpc->Params;
  auto text = [&](qsizetype i) {
    return i < params.size() ? params[i].Text.value_or(QString()) : QString();
  };
  switch (rpc->ProcId) {
  case Tds::ProcExecuteSql:
    Run(text(0), TRpcWrap{QStringLiteral("sp_executesql"), std::nullopt});
    return;
  case Tds::ProcPrepExec: {
    const qint32 handle = FNextHandle++;
    FPrepared.insert(handle, text(2));
    Run(text(2), TRpcWrap{QStringLiteral("sp_prepexec"), handle});
    return;
  }
  case Tds::ProcPrepare: {
    const qint32 handle = FNextHandle++;
    FPrepared.insert(handle, text(2));
    SendRpcOnly(TRpcWrap{QStringLiteral("sp_prepare"), handle}, {});
    return;
  }
  case Tds::ProcExecute: {
    const qint32 handle = params.isEmpty() ? 0 : qint32(params[0].Int.value_or(0));
    if (!FPrepared.contains(handle)) {
      SendRpcOnly(
          TRpcWrap{QStringLiteral("sp_execute"), std::nullopt},
          {TSimMessage{
              8179, 16, 4,
              QStringLiteral("Could not find prepared statement with handle %1.").arg(handle)}});
      return;
    }
    Run(FPrepared.value(handle), TRpcWrap{QStringLiteral("sp_execute"), std::nullopt});
    return;
  }
  case Tds::ProcUnprepare:
    FPrepared.remove(params.isEmpty() ? 0 : qint32(params[0].Int.value_or(0)));
    SendRpcOnly(TRpcWrap{QStringLiteral("sp_unprepare"), std::nullopt}, {});
    return;
  default: {
    const QString name =
        rpc->ProcName.isEmpty() ? QStringLiteral("#%1").arg(rpc->ProcId) : rpc->ProcName;
    SendRpcOnly(TRpcWrap{name, std::nullopt},
                {TSimMessage{2812, 16, 62,
                             QStringLiteral("Could not find stored procedure '%1'.").arg(name)}});
  }
  }
}

// Turns a batch answer into the answer to an RPC: its final DONE becomes a DONEINPROC with
// DONE_MORE, followed by the return status, the handle of a prepared statement and DONEPROC.
static QByteArray WrapForRpc(QByteArray tokens, const Tds::TWireFormat& fmt,
                             std::optional<qint32> handle) {
  const int doneSize = fmt.Is72OrNewer() ? 13 : 9;
  quint16 status = 0;
  if (tokens.size() >= doneSize && quint8(tokens[tokens.size() - doneSize]) == Tds::TokDone) {
    const qsizetype at = tokens.size() - doneSize;
    status = quint16(quint8(tokens[at + 1]) | (quint8(tokens[at + 2]) << 8));
    tokens[at] = char(Tds::TokDoneInProc);
    tokens[at + 1] = char((status | Tds::DoneMore) & 0xFF);
  }
  Tds::TTokenWriter w(fmt);
  w.Bytes() = tokens;
  w.ReturnStatus((status & Tds::DoneError) ? 1 : 0);
  if (handle) w.ReturnValueInt(0, QStringLiteral("@handle"), *handle);
  w.Done(quint16(status & Tds::DoneError), 0, 0, Tds::TokDoneProc);
  return w.Bytes();
}

void TSimSession::SendRpcOnly(const TRpcWrap& rpc, const QList<TSimMessage>& errors) {
  if (TSimLog* log = FServer->Log())
    log->Write(QJsonObject{{"event", "rpc"}, {"spid", FState.Spid}, {"procedure", rpc.Name}});
  QByteArray tokens;
  if (errors.isEmpty()) {
    Tds::TTokenWriter w(FState.Format);
    w.Done(Tds::DoneFinal, 0, 0);
    tokens = w.Bytes();
  } else {
    tokens = SimEngine::Errors(*FServer->Scenario(), FState, errors).Tokens;
  }
  SendTokens(WrapForRpc(tokens, FState.Format, rpc.Handle));
}

void TSimSession::Run(const QString& sql, const std::optional<TRpcWrap>& rpc) {
  const auto s = FServer->Scenario();
  if (TSimLog* log = FServer->Log()) {
    QJsonObject entry{{"event", "batch"},
                      {"spid", FState.Spid},
                      {"login", FState.Login},
                      {"database", FState.Database},
                      {"sql", sql}};
    if (rpc) entry.insert(QStringLiteral("rpc"), rpc->Name);
    log->Write(entry);
  }
  const QString key = SimEngine::Classify(sql);
  const auto fault = FServer->TakeFault(sql, key, FState.Login);
  TPending reply;
  if (fault && !fault->Errors.isEmpty()) {
    reply.Tokens = SimEngine::Errors(*s, FState, fault->Errors).Tokens;
  } else {
    const TSimReply r = SimEngine::Execute(*s, FState, sql);
    reply.Tokens = r.Tokens;
    reply.RowsOffset = r.RowsOffset;
  }
  if (rpc) reply.Tokens = WrapForRpc(reply.Tokens, FState.Format, rpc->Handle);
  if (fault) {
    reply.Drop = fault->Drop;
    reply.Malformed = fault->Malformed;
  }
  FPending = reply;
  if (fault && fault->DelayMs > 0)
    FDelay.start(fault->DelayMs);
  else
    Deliver();
}

void TSimSession::Deliver() {
  if (!FPending) return;
  TPending p = *FPending;
  FPending.reset();
  if (p.Drop == QLatin1String("before")) {
    Close();
    return;
  }
  if (p.Malformed) {
    // An undefined token type where the rows (or the first token) should be.
    p.Tokens.insert(p.RowsOffset, QByteArray("\x5A\x00\x00\x00", 4));
  }
  if (p.Drop == QLatin1String("middle")) {
    const QByteArray packets = Tds::Packetize(p.Tokens, FPacketSize, FState.Spid);
    if (FSocket) FSocket->write(packets.left(qMax<qsizetype>(1, packets.size() / 2)));
    Close();
    return;
  }
  SendTokens(p.Tokens);
  DrainQueue();
}

void TSimSession::DrainQueue() {
  while (!FPending && !FQueue.isEmpty() && FPhase != TPhase::Closed)
    Dispatch(FQueue.takeFirst());
}

void TSimSession::HandleAttention() {
  if (FPhase != TPhase::LoggedIn) return;
  if (TSimLog* log = FServer->Log())
    log->Write(QJsonObject{{"event", "attention"}, {"spid", FState.Spid}});
  // Whatever was still to come for the cancelled request is dropped. A request still waiting
  // for its answer first gets an empty one, so that the acknowledgement comes as a message of
  // its own, which is what clients read after the cancelled response.
  FDelay.stop();
  const bool wasPending = FPending.has_value();
  FPending.reset();
  FQueue.clear();
  if (wasPending) {
    Tds::TTokenWriter w(FState.Format);
    w.Done(Tds::DoneError, 0, 0);
    SendTokens(w.Bytes());
  }
  SendTokens(SimEngine::AttentionAck(FState));
}

void TSimSession::SendTokens(const QByteArray& tokens) {
  if (FSocket && FSocket->state() == QAbstractSocket::ConnectedState)
    FSocket->write(Tds::Packetize(tokens, FPacketSize, FState.Spid));
}

void TSimSession::Close() {
  FPhase = TPhase::Closed;
  FDelay.stop();
  FPending.reset();
  FQueue.clear();
  if (FSocket) {
    // Written data still goes out before the connection closes.
    FSocket->disconnectFromHost();
    if (FSocket->state() == QAbstractSocket::UnconnectedState) deleteLater();
  }
}
