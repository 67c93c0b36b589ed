#pragma once
// The window's connection to one server: every statement runs on a worker thread of its own,
// through a TLogReader, while the caller's thread stays free. Requests return an id and are
// answered by queued signals carrying snapshots. A newer request takes the place of an older
// one: the older one is cancelled on the server and its answers are never delivered, so what
// the caller sees always comes from one request.

#include "common/uCommon.h"
#include "session/uSnapshots.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QThread;
class TSessionWorker;
struct TSessionShared;

struct TSessionSettings {
  int QueryTimeoutSeconds = 60;     // 0: no time-out
  std::function<QDateTime()> Clock; // when figures were read (called on the worker thread)
};

class TSession : public QObject {
  Q_OBJECT
public:
  explicit TSession(TSessionSettings settings = {}, QObject* parent = nullptr);
  // Cancels what runs and waits for the worker to end.
  ~TSession() override;

  // A connection test on a temporary connection; this session's connection is not touched.
  int TestConnection(const TSQLConnectionProperties& props);
  // Opens the connection, reads version and edition. The properties, password included, stay in
  // memory for reconnects while this session lives.
  int Connect(const TSQLConnectionProperties& props);
  // The database list with its log figures, then the details of its first database. When the
  // connection was lost, it is opened again first.
  int Refresh();
  // Opens the connection again, then reads as Refresh does.
  int Reconnect();
  // Makes the database current, refreshes the log figures of all databases and reads its
  // details.
  int LoadDetails(const QString& database);
  // Ends the request that runs (the server gets an attention) and drops those that wait; their
  // answers still arrive, with the parts that were not read marked cancelled.
  void Cancel();

  bool IsBusy() const { return m_latest != m_finished; }
  int CurrentRequest() const { return m_latest; }
  // The last answer found the connection gone; a reconnect clears it.
  bool IsConnectionLost() const { return m_lost; }
  bool IsConnected() const { return m_connected && !m_lost; }
  int QueryTimeout() const { return m_queryTimeout; }

Q_SIGNALS:
  void ConnectionTested(int request, const TConnectionTest& test);
  void Connected(int request, const TConnectSnapshot& snapshot);
  void OverviewRead(int request, const TOverviewSnapshot& snapshot);
  void LogSpaceRead(int request, const TLogSpaceSnapshot& snapshot);
  void DetailsRead(int request, const TDetailsSnapshot& snapshot);
  // A statement of the request is about to go to the server.
  void StatementStarted(int request, const QString& statement);
  // The request has answered everything it will; the session is idle unless another waits.
  void Finished(int request);
  // Said once per loss, by the first answer that found the connection gone.
  void ConnectionLost();
  void ConnectionRestored();

private:
  int Post(std::function<void(TSessionWorker&, int)> work);
  bool IsLatest(int request) const { return request == m_latest; }
  void NoteOutcome(const TOutcome& outcome);

  std::shared_ptr<TSessionShared> m_shared;
  QThread* m_thread = nullptr;
  TSessionWorker* m_worker = nullptr;
  int m_next = 0;
  int m_latest = 0;
  int m_finished = 0;
  bool m_lost = false;
  bool m_connected = false;
  int m_queryTimeout = 60;
};
