#pragma once
// The web update checker: fetches the update information file, compares versions, downloads
// and verifies the setup program and starts it. No GUI; every signal is emitted on the thread
// the checker lives on (the GUI thread), so handlers may answer through reference arguments.

#include "platform/uUpdateInfo.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

class QFile;
class QNetworkAccessManager;
class QNetworkReply;
class QCryptographicHash;
class QTemporaryDir;

class TUpdateChecker : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString InfoFileURL READ InfoFileURL WRITE SetInfoFileURL)
  Q_PROPERTY(QString VersionNumber READ VersionNumber WRITE SetVersionNumber)
public:
  // How an update is applied: a setup program that is downloaded and run.
  enum TUpgradeMethod { umUseExternalSetup };
  Q_ENUM(TUpgradeMethod)

  // The ErrorCode of OnLostFile: an HTTP status (400 and above), or one of these.
  enum TLostFileError {
    lfSizeMismatch = 1,     // more or fewer bytes than the information file promised
    lfChecksumMismatch = 2, // SHA-256 differs
    lfWriteFailed = 3,      // the download folder or file could not be written
    lfUrlNotAllowed = 4,    // not HTTPS (and not loopback http)
    lfLaunchFailed = 5,     // the setup program could not be started
  };
  Q_ENUM(TLostFileError)

  // Starts the setup detached; returns false if it could not be started. Tests put their own
  // in place so that nothing is ever run.
  using TLauncher = std::function<bool(const QString& program, const QString& workingDir)>;
  // Ends the program after the setup was started.
  using TQuitter = std::function<void()>;

  explicit TUpdateChecker(QObject* parent = nullptr);
  ~TUpdateChecker() override;

  QString InfoFileURL() const { return m_infoFileURL; }
  void SetInfoFileURL(const QString& url) { m_infoFileURL = url; }
  QString VersionNumber() const { return m_versionNumber; }
  void SetVersionNumber(const QString& version) { m_versionNumber = version; }

  void SetLauncher(TLauncher launcher) { m_launcher = std::move(launcher); }
  void SetQuitter(TQuitter quitter) { m_quitter = std::move(quitter); }
  // Where the private download folder is made (default: the system's temporary folder).
  void SetDownloadBase(const QString& folder) { m_downloadBase = folder; }
  // Inactivity limit of each transfer.
  void SetTransferTimeout(int msec) { m_transferTimeout = msec; }

  // Starts one check and returns at once; false if a check or download is already running.
  bool CheckUpdate();
  bool IsBusy() const;
  // Stops whatever runs; no further signal is emitted for it.
  void Abort();

Q_SIGNALS:
  void OnHostUnreachable(const QString& URL, const QString& Hostname);
  void OnNoInfoFile();
  void OnNoUpdateAvailable();
  // UpgradeMsg is the version history (HTML). The download starts only if CanUpgrade is still
  // true when the handlers return.
  void OnBeginUpgrade(const QString& UpgradeMsg, TUpdateChecker::TUpgradeMethod UpgradeMethod,
                      const QStringList& Files, bool& CanUpgrade);
  void OnProgress(const QString& FileURL, qint64 FileSize, qint64 BytesRead, int ElapsedTime,
                  int EstimatedTimeLeft, int PercentsDone, int TotalPercentsDone,
                  double TransferRate);
  // A file failed to download or to verify; it is never run. The update stops when a handler
  // sets ContinueUpgrade false; otherwise the remaining files are fetched, but without its
  // setup program an update still ends here.
  void OnLostFile(const QString& FileURL, int ErrorCode, bool& ContinueUpgrade);
  void OnConnLost();
  // Every file is verified. When the handlers return, the setup is started and the program
  // ends; with RestartImediately false the setup starts only when the program quits.
  void OnEndUpgrade(bool& RestartImediately);

private:
  void InfoFileFinished();
  void StartNextFile();
  bool StoreReceived();
  void FileReadyRead();
  void FileProgress(qint64 received, qint64 total);
  void FileFinished();
  void LostFile(int errorCode);
  void FinishUpgrade();
  void Reset();
  QNetworkReply* Get(const QUrl& url);

  QNetworkAccessManager* m_nam = nullptr;
  QString m_infoFileURL;
  QString m_versionNumber = QStringLiteral("1.0.0");
  TLauncher m_launcher;
  TQuitter m_quitter;
  QString m_downloadBase;
  int m_transferTimeout = 30000;

  QPointer<QNetworkReply> m_reply;
  TUpdateInfo m_info;
  int m_fileIndex = -1;
  bool m_busy = false;
  quint64 m_generation = 0; // bumped by Abort, so a handler that aborts ends the flow
  std::unique_ptr<QTemporaryDir> m_folder;
  std::unique_ptr<QFile> m_file;
  std::unique_ptr<QCryptographicHash> m_hash;
  qint64 m_received = 0;
  qint64 m_totalDone = 0; // bytes of the files before the current one
  int m_lastPercent = -1;
  QElapsedTimer m_clock;
};
