#include "session/uSession.h"

#include "session/uSessionWorker.h"

#include <QThread>
#include <limits>

// --- the worker, on its own thread ---------------------------------------------------------

TSessionWorker::TSessionWorker(const TLogReaderSettings& settings,
                               std::shared_ptr<TSessionShared> shared)
    : m_shared(std::move(shared)), m_reader(settings) {
  m_reader.SetStatementObserver(
      [this](const QString& statement) { Q_EMIT StatementStarted(m_current, statement); });
}

void TSessionWorker::CancelUpTo(int upTo) {
  const std::lock_guard lock(m_shared->Lock);
  m_shared->CancelUpTo = std::max(m_shared->CancelUpTo, upTo);
  if (m_shared->Running != 0 && m_shared->Running <= upTo) m_reader.Cancel();
}

bool TSessionWorker::Begin(int request) {
  const std::lock_guard lock(m_shared->Lock);
  if (request < m_shared->Latest) return false;
  m_shared->Running = request;
  m_current = request;
  // Under the lock, so that a cancel meant for an earlier request cannot strike this one.
  if (request <= m_shared->CancelUpTo)
    m_reader.Cancel();
  else
    m_reader.ResetCancel();
  return true;
}

void TSessionWorker::End(int request) {
  {
    const std::lock_guard lock(m_shared->Lock);
    m_shared->Running = 0;
  }
  Q_EMIT Finished(request);
}

void TSessionWorker::TestConnection(int request, const TSQLConnectionProperties& props) {
  if (!Begin(request)) return;
  Q_EMIT ConnectionTested(request, m_reader.TestConnection(props));
  End(request);
}

void TSessionWorker::Connect(int request, const TSQLConnectionProperties& props) {
  if (!Begin(request)) return;
  Q_EMIT Connected(request, m_reader.Connect(props));
  End(request);
}

void TSessionWorker::Refresh(int request, bool reconnect) {
  if (!Begin(request)) return;
  if (reconnect || m_reader.IsConnectionLost()) {
    const TConnectSnapshot connected = m_reader.Reconnect();
    Q_EMIT Connected(request, connected);
    if (!connected.Outcome.IsOk()) {
      End(request);
      return;
    }
  }
  const TOverviewSnapshot overview = m_reader.ReadOverview();
  Q_EMIT OverviewRead(request, overview);
  // The first database's details; the figures just read stand, so they are not read again.
  if (!overview.Databases.isEmpty() && !overview.Databases.first().Name.isEmpty())
    Q_EMIT DetailsRead(request, m_reader.ReadDetails(overview.Databases.first().Name));
  End(request);
}

void TSessionWorker::LoadDetails(int request, const QString& database) {
  if (!Begin(request)) return;
  TLogSpaceSnapshot logSpace;
  TDetailsSnapshot details = m_reader.ReadDetails(database, &logSpace);
  Q_EMIT LogSpaceRead(request, logSpace);
  Q_EMIT DetailsRead(request, details);
  End(request);
}

// --- the session, on the caller's thread -----------------------------------------------------

namespace {
bool AnyLost(std::initializer_list<const TOutcome*> outcomes) {
  for (const TOutcome* o : outcomes)
    if (o->Kind == TOutcomeKind::ConnectionLost) return true;
  return false;
}
} // namespace

TSession::TSession(TSessionSettings settings, QObject* parent)
    : QObject(parent), m_shared(std::make_shared<TSessionShared>()),
      m_queryTimeout(settings.QueryTimeoutSeconds) {
  RegisterSnapshotTypes();
  m_thread = new QThread(this);
  m_thread->setObjectName(QStringLiteral("session"));
  TLogReaderSettings readerSettings;
  readerSettings.QueryTimeoutSeconds = settings.QueryTimeoutSeconds;
  readerSettings.Clock = std::move(settings.Clock);
  m_worker = new TSessionWorker(readerSettings, m_shared);
  m_worker->moveToThread(m_thread);

  // Queued: emitted on the worker thread, delivered on this one, and only for the newest request.
  connect(m_worker, &TSessionWorker::ConnectionTested, this,
          [this](int id, const TConnectionTest& t) {
            if (IsLatest(id)) Q_EMIT ConnectionTested(id, t);
          });
  connect(m_worker, &TSessionWorker::Connected, this, [this](int id, const TConnectSnapshot& s) {
    if (!IsLatest(id)) return;
    if (s.Outcome.IsOk()) {
      m_connected = true;
      if (m_lost) {
        m_lost = false;
        Q_EMIT ConnectionRestored();
      }
    }
    Q_EMIT Connected(id, s);
    NoteOutcome(s.VersionOutcome);
  });
  connect(m_worker, &TSessionWorker::OverviewRead, this,
          [this](int id, const TOverviewSnapshot& s) {
            if (!IsLatest(id)) return;
            Q_EMIT OverviewRead(id, s);
            NoteOutcome(AnyLost({&s.Outcome, &s.LogSpace.Outcome}) ? TOutcome::ConnectionLost()
                                                                   : TOutcome());
          });
  connect(m_worker, &TSessionWorker::LogSpaceRead, this,
          [this](int id, const TLogSpaceSnapshot& s) {
            if (!IsLatest(id)) return;
            Q_EMIT LogSpaceRead(id, s);
            NoteOutcome(s.Outcome);
          });
  connect(m_worker, &TSessionWorker::DetailsRead, this, [this](int id, const TDetailsSnapshot& s) {
    if (!IsLatest(id)) return;
    Q_EMIT DetailsRead(id, s);
    const TSummaryPart& m = s.Summary;
    NoteOutcome(AnyLost({&s.DatabaseOutcome, &s.VLFs.Outcome, &s.OpenTran.Outcome, &s.Files.Outcome,
                         &m.RecoveryOutcome, &m.BackupOutcome, &m.ReuseWaitOutcome})
                    ? TOutcome::ConnectionLost()
                    : TOutcome());
  });
  connect(m_worker, &TSessionWorker::StatementStarted, this, [this](int id, const QString& text) {
    if (IsLatest(id)) Q_EMIT StatementStarted(id, text);
  });
  connect(m_worker, &TSessionWorker::Finished, this, [this](int id) {
    if (!IsLatest(id)) return;
    m_finished = id;
    Q_EMIT Finished(id);
  });
  m_thread->start();
}

TSession::~TSession() {
  m_worker->CancelUpTo(std::numeric_limits<int>::max());
  {
    const std::lock_guard lock(m_shared->Lock);
    m_shared->Latest = std::numeric_limits<int>::max();
  }
  // The worker goes on its own thread: its connection closes there.
  TSessionWorker* worker = m_worker;
  QMetaObject::invokeMethod(worker, [worker] {
    delete worker;
    QThread::currentThread()->quit();
  });
  m_thread->wait();
}

void TSession::NoteOutcome(const TOutcome& outcome) {
  if (outcome.Kind != TOutcomeKind::ConnectionLost || m_lost) return;
  m_lost = true;
  Q_EMIT ConnectionLost();
}

int TSession::Post(std::function<void(TSessionWorker&, int)> work) {
  const int id = ++m_next;
  {
    const std::lock_guard lock(m_shared->Lock);
    m_shared->Latest = id;
  }
  m_latest = id;
  // Whatever runs or waits now is superseded.
  m_worker->CancelUpTo(id - 1);
  TSessionWorker* worker = m_worker;
  QMetaObject::invokeMethod(
      m_worker, [worker, id, work = std::move(work)] { work(*worker, id); }, Qt::QueuedConnection);
  return id;
}

int TSession::TestConnection(const TSQLConnectionProperties& props) {
  return Post([props](TSessionWorker& w, int id) { w.TestConnection(id, props); });
}

int TSession::Connect(const TSQLConnectionProperties& props) {
  return Post([props](TSessionWorker& w, int id) { w.Connect(id, props); });
}

int TSession::Refresh() {
  return Post([](TSessionWorker& w, int id) { w.Refresh(id, false); });
}

int TSession::Reconnect() {
  return Post([](TSessionWorker& w, int id) { w.Refresh(id, true); });
}

int TSession::LoadDetails(const QString& database) {
  return Post([database](TSessionWorker& w, int id) { w.LoadDetails(id, database); });
}

void TSession::Cancel() {
  m_worker->CancelUpTo(m_latest);
}
