#include "platform/uUpdateChecker.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

namespace {

const char* const RefusedProperty = "velmoraRefused";
constexpr QFile::Permissions PrivateFolder =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner; // 0700
constexpr QFile::Permissions PrivateFile = QFile::ReadOwner | QFile::WriteOwner;

// Failures to reach the other side at all, as opposed to answers we do not like.
bool IsConnectionError(QNetworkReply::NetworkError error) {
  switch (error) {
  case QNetworkReply::ConnectionRefusedError:
  case QNetworkReply::RemoteHostClosedError:
  case QNetworkReply::HostNotFoundError:
  case QNetworkReply::TimeoutError:
  case QNetworkReply::OperationCanceledError: // the transfer timeout
  case QNetworkReply::TemporaryNetworkFailureError:
  case QNetworkReply::NetworkSessionFailedError:
  case QNetworkReply::UnknownNetworkError:
  case QNetworkReply::ProxyConnectionRefusedError:
  case QNetworkReply::ProxyConnectionClosedError:
  case QNetworkReply::ProxyNotFoundError:
  case QNetworkReply::ProxyTimeoutError:
    return true;
  default:
    return false;
  }
}

bool DefaultLauncher(const QString& program, const QString& workingDir) {
  return QProcess::startDetached(program, {}, workingDir);
}

void DefaultQuitter() {
  if (auto* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(
        app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

} // namespace

TUpdateChecker::TUpdateChecker(QObject* parent)
    : QObject(parent), m_nam(new QNetworkAccessManager(this)), m_launcher(DefaultLauncher),
      m_quitter(DefaultQuitter) {}

TUpdateChecker::~TUpdateChecker() {
  Abort();
}

bool TUpdateChecker::IsBusy() const {
  return m_busy;
}

QNetworkReply* TUpdateChecker::Get(const QUrl& url) {
  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::UserVerifiedRedirectPolicy);
  request.setTransferTimeout(m_transferTimeout);
  request.setHeader(QNetworkRequest::UserAgentHeader,
                    QStringLiteral("Velmora/%1").arg(m_versionNumber));
  QNetworkReply* reply = m_nam->get(request);
  // A redirect must obey the same rule as the address it came from.
  connect(reply, &QNetworkReply::redirected, reply, [reply](const QUrl& target) {
    if (IsAllowedUpdateUrl(target)) {
      Q_EMIT reply->redirectAllowed();
    } else {
      reply->setProperty(RefusedProperty, true);
      reply->abort();
    }
  });
  return reply;
}

bool TUpdateChecker::CheckUpdate() {
  if (m_busy) return false;
  Reset();
  m_busy = true;
  const quint64 generation = m_generation;
  const QUrl url(m_infoFileURL);
  if (!IsAllowedUpdateUrl(url)) {
    qWarning("Update check refused: %s is not an HTTPS address", qPrintable(m_infoFileURL));
    // The outcome is always reported after CheckUpdate returned.
    QTimer::singleShot(0, this, [this, generation] {
      if (generation != m_generation) return;
      m_busy = false;
      Q_EMIT OnNoInfoFile();
    });
    return true;
  }
  m_reply = Get(url);
  connect(m_reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
    if (received > MaxUpdateInfoFileSize && m_reply) {
      m_reply->setProperty(RefusedProperty, true);
      m_reply->abort();
    }
  });
  connect(m_reply, &QNetworkReply::finished, this, &TUpdateChecker::InfoFileFinished);
  return true;
}

void TUpdateChecker::InfoFileFinished() {
  QNetworkReply* reply = m_reply;
  m_reply = nullptr;
  if (!reply) return;
  reply->deleteLater();
  const QUrl url = reply->request().url();

  if (reply->error() != QNetworkReply::NoError) {
    const bool unreachable =
        IsConnectionError(reply->error()) && !reply->property(RefusedProperty).toBool();
    qInfo("Update information not retrieved: %s", qPrintable(reply->errorString()));
    m_busy = false;
    if (unreachable)
      Q_EMIT OnHostUnreachable(url.toString(), url.host());
    else
      Q_EMIT OnNoInfoFile();
    return;
  }

  QString error;
  std::optional<TUpdateInfo> info = ParseUpdateInfoFile(reply->readAll(), &error);
  if (!info) {
    qWarning("Update information file rejected: %s", qPrintable(error));
    m_busy = false;
    Q_EMIT OnNoInfoFile();
    return;
  }
  // A running version we cannot read counts as the oldest, so a valid file still offers help.
  const QString running =
      IsValidVersionNumber(m_versionNumber) ? m_versionNumber : QStringLiteral("0");
  if (CompareVersions(info->Version, running).value_or(0) <= 0) {
    m_busy = false;
    Q_EMIT OnNoUpdateAvailable();
    return;
  }

  m_info = std::move(*info);
  QStringList files;
  for (const TUpdateFile& file : std::as_const(m_info.Files))
    files.append(file.Url.toString());
  bool canUpgrade = true;
  const quint64 generation = m_generation;
  QPointer<TUpdateChecker> alive(this);
  Q_EMIT OnBeginUpgrade(m_info.VersionHistory, umUseExternalSetup, files, canUpgrade);
  if (!alive || generation != m_generation) return;
  if (!canUpgrade) {
    Reset();
    return;
  }

  const QString base = m_downloadBase.isEmpty() ? QDir::tempPath() : m_downloadBase;
  m_folder = std::make_unique<QTemporaryDir>(base + QStringLiteral("/velmora-update-XXXXXX"));
  m_fileIndex = 0;
  if (!m_folder->isValid() || !QFile::setPermissions(m_folder->path(), PrivateFolder)) {
    LostFile(lfWriteFailed);
    return;
  }
  m_clock.start();
  m_fileIndex = -1;
  StartNextFile();
}

void TUpdateChecker::StartNextFile() {
  ++m_fileIndex;
  if (m_fileIndex >= m_info.Files.size()) {
    FinishUpgrade();
    return;
  }
  const TUpdateFile& file = m_info.Files[m_fileIndex];
  if (!IsAllowedUpdateUrl(file.Url)) {
    LostFile(lfUrlNotAllowed);
    return;
  }
  m_file = std::make_unique<QFile>(m_folder->filePath(file.FileName));
  if (!m_file->open(QIODevice::WriteOnly | QIODevice::NewOnly, PrivateFile)) {
    LostFile(lfWriteFailed);
    return;
  }
  m_hash = std::make_unique<QCryptographicHash>(QCryptographicHash::Sha256);
  m_received = 0;
  m_lastPercent = -1;
  m_reply = Get(file.Url);
  connect(m_reply, &QNetworkReply::readyRead, this, &TUpdateChecker::FileReadyRead);
  connect(m_reply, &QNetworkReply::downloadProgress, this, &TUpdateChecker::FileProgress);
  connect(m_reply, &QNetworkReply::finished, this, &TUpdateChecker::FileFinished);
  FileProgress(0, file.Size);
}

bool TUpdateChecker::StoreReceived() {
  if (!m_reply || !m_file) return false;
  const QByteArray data = m_reply->readAll();
  const TUpdateFile& file = m_info.Files[m_fileIndex];
  if (m_received + data.size() > file.Size) {
    LostFile(lfSizeMismatch);
    return false;
  }
  if (m_file->write(data) != data.size()) {
    LostFile(lfWriteFailed);
    return false;
  }
  m_hash->addData(data);
  m_received += data.size();
  return true;
}

void TUpdateChecker::FileReadyRead() {
  // Only write what an answer of success carries; an error page is not the setup.
  if (m_reply && m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() < 300)
    StoreReceived();
}

void TUpdateChecker::FileProgress(qint64 received, qint64 /*total*/) {
  if (m_fileIndex < 0 || m_fileIndex >= m_info.Files.size()) return;
  const TUpdateFile& file = m_info.Files[m_fileIndex];
  const qint64 done = qBound<qint64>(0, received, file.Size);
  const int percent = int(done * 100 / file.Size);
  if (percent == m_lastPercent) return;
  m_lastPercent = percent;
  qint64 total = 0;
  for (const TUpdateFile& f : std::as_const(m_info.Files))
    total += f.Size;
  const qint64 totalDone = m_totalDone + done;
  const int totalPercent = int(totalDone * 100 / total);
  const qint64 elapsedMs = qMax<qint64>(1, m_clock.elapsed());
  const double rate = double(totalDone) * 1000.0 / double(elapsedMs); // bytes per second
  const int left = rate > 0 ? int(double(total - totalDone) / rate) : 0;
  Q_EMIT OnProgress(file.Url.toString(), file.Size, done, int(elapsedMs / 1000), left, percent,
                    totalPercent, rate);
}

void TUpdateChecker::FileFinished() {
  QNetworkReply* reply = m_reply;
  if (!reply) return;
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  const QNetworkReply::NetworkError error = reply->error();
  if (error == QNetworkReply::NoError && status < 300 && !StoreReceived())
    return; // StoreReceived reported the lost file

  m_reply = nullptr;
  reply->disconnect(this);
  reply->deleteLater();

  if (reply->property(RefusedProperty).toBool()) {
    LostFile(lfUrlNotAllowed);
    return;
  }
  if (error != QNetworkReply::NoError && IsConnectionError(error)) {
    qInfo("Update download broke off: %s", qPrintable(reply->errorString()));
    Reset();
    Q_EMIT OnConnLost();
    return;
  }
  if (error != QNetworkReply::NoError || status >= 300) {
    LostFile(status >= 400 ? status : 1000 + int(error));
    return;
  }

  const TUpdateFile& file = m_info.Files[m_fileIndex];
  m_file->close();
  if (m_file->error() != QFile::NoError) {
    LostFile(lfWriteFailed);
    return;
  }
  if (m_received != file.Size) {
    LostFile(lfSizeMismatch);
    return;
  }
  if (m_hash->result() != file.Sha256) {
    LostFile(lfChecksumMismatch);
    return;
  }
  if (!m_file->setPermissions(PrivateFolder)) { // owner may run it, nobody else may touch it
    LostFile(lfWriteFailed);
    return;
  }
  m_file.reset();
  m_hash.reset();
  m_totalDone += file.Size;
  StartNextFile();
}

void TUpdateChecker::LostFile(int errorCode) {
  QString url;
  if (m_fileIndex >= 0 && m_fileIndex < m_info.Files.size())
    url = m_info.Files[m_fileIndex].Url.toString();
  if (m_reply) {
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
  }
  if (m_file) {
    m_file->remove(); // nothing unverified stays behind
    m_file.reset();
  }
  m_hash.reset();
  if (m_fileIndex >= 0 && m_fileIndex < m_info.Files.size())
    m_totalDone += m_info.Files[m_fileIndex].Size;

  qWarning("Update file lost (%d): %s", errorCode, qPrintable(url));
  bool continueUpgrade = true;
  const quint64 generation = m_generation;
  QPointer<TUpdateChecker> alive(this);
  Q_EMIT OnLostFile(url, errorCode, continueUpgrade);
  if (!alive || generation != m_generation) return;
  // Without its setup program there is nothing to run.
  if (!continueUpgrade || m_fileIndex <= 0 || errorCode == lfLaunchFailed) {
    Reset();
    return;
  }
  StartNextFile();
}

void TUpdateChecker::FinishUpgrade() {
  bool restartImmediately = true;
  const quint64 generation = m_generation;
  QPointer<TUpdateChecker> alive(this);
  Q_EMIT OnEndUpgrade(restartImmediately);
  if (!alive || generation != m_generation) return;

  const QString folder = m_folder->path();
  const QString setup = m_folder->filePath(m_info.Files.first().FileName);
  m_folder->setAutoRemove(false); // the setup runs from there after we are gone
  if (!restartImmediately) {
    if (auto* app = QCoreApplication::instance()) {
      TLauncher launcher = m_launcher;
      connect(
          app, &QCoreApplication::aboutToQuit, app,
          [launcher, setup, folder] { launcher(setup, folder); }, Qt::SingleShotConnection);
    }
    Reset();
    return;
  }
  if (!m_launcher(setup, folder)) {
    m_folder->setAutoRemove(true);
    m_fileIndex = 0;
    LostFile(lfLaunchFailed);
    return;
  }
  TQuitter quitter = m_quitter;
  Reset();
  quitter();
}

void TUpdateChecker::Reset() {
  if (m_reply) {
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
  }
  if (m_file) {
    m_file->remove();
    m_file.reset();
  }
  m_hash.reset();
  m_folder.reset();
  m_info = TUpdateInfo();
  m_fileIndex = -1;
  m_received = 0;
  m_totalDone = 0;
  m_lastPercent = -1;
  m_busy = false;
}

void TUpdateChecker::Abort() {
  ++m_generation;
  Reset();
}
