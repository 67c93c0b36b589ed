#pragma once
// The Check for updates dialog: runs the update checker and reports each step.

#include "platform/uUpdateChecker.h"

#include <QDialog>
#include <QTimer>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

enum class TUpdateCheckStatus {
  usHostUnreachable,
  usNoInfoFile,
  usNoUpdateAvailable,
  usDownloading,
  usLostFile,
  usConnectionLost,
  usUpdateSkipped,
};

class TfrmCheckForUpdates : public QDialog {
  Q_OBJECT
public:
  explicit TfrmCheckForUpdates(QWidget* parent = nullptr);
  ~TfrmCheckForUpdates() override;

  // Where the update information file is looked for: the maker's web site, unless a test put
  // its own (loopback) address in place. An empty address restores the web site.
  static void SetInfoFileURLOverride(const QString& url);
  static QString DefaultInfoFileURL();

  void ShowStatus();
  void AddMessage(const QString& Text);

  TUpdateCheckStatus Status = TUpdateCheckStatus::usNoUpdateAvailable;

  QLabel* Image1 = nullptr;
  QLabel* lblStatus = nullptr;
  QPlainTextEdit* mmMemo = nullptr;
  QFrame* Bevel1 = nullptr;
  QPushButton* btnRetry = nullptr;
  QPushButton* btnClose = nullptr;
  QTimer timerUpdate;
  TUpdateChecker* autoUpgrade = nullptr;

public Q_SLOTS:
  void timerUpdateTimer();
  void btnRetryClick();
  void autoUpgradeHostUnreachable(const QString& URL, const QString& Hostname);
  void autoUpgradeNoInfoFile();
  void autoUpgradeNoUpdateAvailable();
  void autoUpgradeBeginUpgrade(const QString& UpgradeMsg,
                               TUpdateChecker::TUpgradeMethod UpgradeMethod,
                               const QStringList& Files, bool& CanUpgrade);
  void autoUpgradeProgress(const QString& FileURL, qint64 FileSize, qint64 BytesRead,
                           int ElapsedTime, int EstimatedTimeLeft, int PercentsDone,
                           int TotalPercentsDone, double TransferRate);
  void autoUpgradeLostFile(const QString& FileURL, int ErrorCode, bool& ContinueUpgrade);
  void autoUpgradeConnLost();
  void autoUpgradeEndUpgrade(bool& RestartImediately);

  void done(int result) override;

protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void FormCreate();
  void TntFormShow();
  void TntFormClose();
  void mmMemoKeyUp(int key);
  void SetBusyCursor(bool busy);

  QString FFileURL; // the setup being downloaded, for the connection-lost text
  bool m_busyCursor = false;
};
