#pragma once
// Private to TSession: the object that lives on the session's worker thread and owns the reader.

#include "session/uLogReader.h"
#include "session/uSnapshots.h"

#include <QObject>
#include <mutex>

// What the session's thread and the worker share: which request is the newest, which runs,
// and up to which one everything is cancelled.
struct TSessionShared {
  std::mutex Lock;
  int Latest = 0;
  int Running = 0;
  int CancelUpTo = 0;
};

class TSessionWorker : public QObject {
  Q_OBJECT
public:
  TSessionWorker(const TLogReaderSettings& settings, std::shared_ptr<TSessionShared> shared);

  // Safe from any thread: cancels the running request when its id is at most `upTo`, and every
  // request up to it that has not started yet.
  void CancelUpTo(int upTo);

  // On the worker thread.
  void TestConnection(int request, const TSQLConnectionProperties& props);
  void Connect(int request, const TSQLConnectionProperties& props);
  void Refresh(int request, bool reconnect);
  void LoadDetails(int request, const QString& database);

Q_SIGNALS:
  void ConnectionTested(int request, const TConnectionTest& test);
  void Connected(int request, const TConnectSnapshot& snapshot);
  void OverviewRead(int request, const TOverviewSnapshot& snapshot);
  void LogSpaceRead(int request, const TLogSpaceSnapshot& snapshot);
  void DetailsRead(int request, const TDetailsSnapshot& snapshot);
  void StatementStarted(int request, const QString& statement);
  void Finished(int request);

private:
  // False when a newer request has already taken this one's place: it does nothing.
  bool Begin(int request);
  void End(int request);

  std::shared_ptr<TSessionShared> m_shared;
  TLogReader m_reader;
  int m_current = 0;
};
