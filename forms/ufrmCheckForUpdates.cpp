#include "forms/ufrmCheckForUpdates.h"

#include "common/uCommonGUI.h"
#include "forms/ufrmWebUpdateInformation.h"
#include "platform/gui/uModalHook.h"
#include "platform/uVersionInfo.h"
#include "uVersion.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QVBoxLayout>
#include <memory>

static void InitCheckResources() {
  Q_INIT_RESOURCE(velmora);
}

namespace {

QString& InfoFileURLOverride() {
  static QString url;
  return url;
}

struct TStatusRow {
  const char* StatusLine;
  bool ButtonsEnabled;
  bool Busy;
};

// Indexed by TUpdateCheckStatus.
constexpr TStatusRow StatusTable[] = {
    {QT_TRANSLATE_NOOP("TfrmCheckForUpdates", "Failed with errors"), true, false},
    {QT_TRANSLATE_NOOP("TfrmCheckForUpdates", "Failed with errors"), true, false},
    {QT_TRANSLATE_NOOP("TfrmCheckForUpdates", "Completed"), true, false},
    {QT_TRANSLATE_NOOP("TfrmCheckForUpdates", "Downloading updates..."), false, true},
    {QT_TRANSLATE_NOOP("TfrmCheckForUpdates", "Failed with errors"), true, false},
    {QT_TRANSLATE_NOOP("TfrmCheckForUpdates", "Failed with errors"), true, false},
    {QT_TRANSLATE_NOOP("TfrmCheckForUpdates", "Completed"), true, false},
};

} // namespace

void TfrmCheckForUpdates::SetInfoFileURLOverride(const QString& url) {
  InfoFileURLOverride() = url;
}

QString TfrmCheckForUpdates::DefaultInfoFileURL() {
  return QStringLiteral(VELMORA_WEBSITE "/downloads/velmora/update.inf");
}

TfrmCheckForUpdates::TfrmCheckForUpdates(QWidget* parent) : QDialog(parent) {
  InitCheckResources();
  setObjectName("frmCheckForUpdates");
  setWindowTitle(tr("Check For Updates"));
  // Laid out for 459 x 298 at the design font; the layout grows the dialog with a larger one.
  setMinimumSize(459, 298);
  resize(459, 298);

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setFixedSize(48, 48);
  Image1->setPixmap(QIcon(QStringLiteral(":/velmora/update_server.svg")).pixmap(48, 48));
  Image1->setAccessibleName(tr("Update"));
  lblStatus = new QLabel(QStringLiteral("..."), this);
  lblStatus->setObjectName("lblStatus");
  lblStatus->setMinimumHeight(48);
  lblStatus->setWordWrap(true);
  lblStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  mmMemo = new QPlainTextEdit(this);
  mmMemo->setObjectName("mmMemo");
  mmMemo->setMinimumSize(200, 80);
  mmMemo->setReadOnly(true);
  mmMemo->setAccessibleName(tr("Messages"));
  mmMemo->installEventFilter(this);
  Bevel1 = new QFrame(this);
  Bevel1->setObjectName("Bevel1");
  Bevel1->setFrameShape(QFrame::HLine);
  Bevel1->setFrameShadow(QFrame::Sunken);
  Bevel1->setFixedHeight(2);
  btnRetry = new QPushButton(tr("Retry"), this);
  btnRetry->setObjectName("btnRetry");
  btnRetry->setMinimumSize(75, 25);
  btnRetry->setDefault(true);
  btnRetry->setEnabled(false);
  connect(btnRetry, &QPushButton::clicked, this, &TfrmCheckForUpdates::btnRetryClick);
  btnClose = new QPushButton(tr("Close"), this);
  btnClose->setObjectName("btnClose");
  btnClose->setMinimumSize(75, 25);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

  auto* top = new QHBoxLayout;
  top->setSpacing(18);
  top->addWidget(Image1, 0, Qt::AlignTop);
  top->addWidget(lblStatus, 1);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(11);
  buttons->addStretch(1);
  buttons->addWidget(btnRetry);
  buttons->addWidget(btnClose);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 14, 18, 17);
  layout->setSpacing(6);
  layout->addLayout(top);
  layout->addSpacing(12);
  layout->addWidget(mmMemo, 1);
  layout->addWidget(Bevel1);
  layout->addSpacing(24);
  layout->addLayout(buttons);

  timerUpdate.setObjectName("timerUpdate");
  timerUpdate.setInterval(200);
  connect(&timerUpdate, &QTimer::timeout, this, &TfrmCheckForUpdates::timerUpdateTimer);

  autoUpgrade = new TUpdateChecker(this);
  autoUpgrade->setObjectName("autoUpgrade");
  connect(autoUpgrade, &TUpdateChecker::OnHostUnreachable, this,
          &TfrmCheckForUpdates::autoUpgradeHostUnreachable);
  connect(autoUpgrade, &TUpdateChecker::OnNoInfoFile, this,
          &TfrmCheckForUpdates::autoUpgradeNoInfoFile);
  connect(autoUpgrade, &TUpdateChecker::OnNoUpdateAvailable, this,
          &TfrmCheckForUpdates::autoUpgradeNoUpdateAvailable);
  // Direct connections: the handlers answer through the reference arguments.
  connect(autoUpgrade, &TUpdateChecker::OnBeginUpgrade, this,
          &TfrmCheckForUpdates::autoUpgradeBeginUpgrade, Qt::DirectConnection);
  connect(autoUpgrade, &TUpdateChecker::OnProgress, this,
          &TfrmCheckForUpdates::autoUpgradeProgress);
  connect(autoUpgrade, &TUpdateChecker::OnLostFile, this, &TfrmCheckForUpdates::autoUpgradeLostFile,
          Qt::DirectConnection);
  connect(autoUpgrade, &TUpdateChecker::OnConnLost, this,
          &TfrmCheckForUpdates::autoUpgradeConnLost);
  connect(autoUpgrade, &TUpdateChecker::OnEndUpgrade, this,
          &TfrmCheckForUpdates::autoUpgradeEndUpgrade, Qt::DirectConnection);

  FormCreate();
}

TfrmCheckForUpdates::~TfrmCheckForUpdates() {
  SetBusyCursor(false);
}

void TfrmCheckForUpdates::FormCreate() {
  ApplySystemFont(this);
}

void TfrmCheckForUpdates::SetBusyCursor(bool busy) {
  if (busy == m_busyCursor) return;
  m_busyCursor = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void TfrmCheckForUpdates::ShowStatus() {
  SetBusyCursor(false);
  const TStatusRow& row = StatusTable[int(Status)];
  lblStatus->setText(tr(row.StatusLine));
  btnRetry->setEnabled(row.ButtonsEnabled);
  btnClose->setEnabled(row.ButtonsEnabled);
  if (row.Busy) SetBusyCursor(true);
}

void TfrmCheckForUpdates::AddMessage(const QString& Text) {
  mmMemo->appendPlainText(Text);
}

void TfrmCheckForUpdates::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) TntFormShow();
}

void TfrmCheckForUpdates::TntFormShow() {
  // Without readable version values the checker keeps its stored version.
  try {
    if (const std::optional<TVersionInfo> info = ReadVersionInfo();
        info && !info->FileVersion.isEmpty())
      autoUpgrade->SetVersionNumber(info->FileVersion);
  } catch (...) {
  }
  const QString url = InfoFileURLOverride();
  autoUpgrade->SetInfoFileURL(url.isEmpty() ? DefaultInfoFileURL() : url);
  timerUpdate.start();
}

void TfrmCheckForUpdates::timerUpdateTimer() {
  timerUpdate.stop();
  btnClose->setEnabled(false);
  btnRetry->setEnabled(false);
  mmMemo->clear();
  // Paint the cleared dialog before the check begins; user input waits.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  lblStatus->setText(tr("Checking for updates ..."));
  SetBusyCursor(true);
  const auto restoreCursor = qScopeGuard([this] { SetBusyCursor(false); });
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  autoUpgrade->CheckUpdate();
}

void TfrmCheckForUpdates::btnRetryClick() {
  timerUpdate.start();
}

void TfrmCheckForUpdates::autoUpgradeHostUnreachable(const QString& URL, const QString& Hostname) {
  Q_UNUSED(URL);
  Status = TUpdateCheckStatus::usHostUnreachable;
  AddMessage(tr("Failed to contact web site to retrieve update information: ") + Hostname);
  ShowStatus();
}

void TfrmCheckForUpdates::autoUpgradeNoInfoFile() {
  Status = TUpdateCheckStatus::usNoInfoFile;
  AddMessage(tr("The update information file could not be retrieved."));
  ShowStatus();
}

void TfrmCheckForUpdates::autoUpgradeNoUpdateAvailable() {
  Status = TUpdateCheckStatus::usNoUpdateAvailable;
  AddMessage(tr("The version you are using is the latest version."));
  ShowStatus();
}

void TfrmCheckForUpdates::autoUpgradeBeginUpgrade(const QString& UpgradeMsg,
                                                  TUpdateChecker::TUpgradeMethod UpgradeMethod,
                                                  const QStringList& Files, bool& CanUpgrade) {
  Q_UNUSED(UpgradeMethod);
  FFileURL = Files.value(0);
  bool latest = false;
  {
    auto info = std::make_unique<TfrmUpdateInformation>(this);
    info->SetUpdateInfo(UpgradeMsg);
    CanUpgrade = ModalHook::Exec(*info) == QDialog::Accepted;
    latest = info->IsLatestVersion;
  }

  mmMemo->setUpdatesEnabled(false);
  if (CanUpgrade) {
    btnRetry->setEnabled(false);
    btnClose->setEnabled(false);
    Status = TUpdateCheckStatus::usDownloading;
  } else {
    Status = TUpdateCheckStatus::usUpdateSkipped;
    AddMessage(tr("Update skipped"));
  }
  mmMemo->setUpdatesEnabled(true);
  ShowStatus();

  if (latest) done(QDialog::Accepted);
}

void TfrmCheckForUpdates::autoUpgradeProgress(const QString& FileURL, qint64 FileSize,
                                              qint64 BytesRead, int ElapsedTime,
                                              int EstimatedTimeLeft, int PercentsDone,
                                              int TotalPercentsDone, double TransferRate) {
  Q_UNUSED(FileSize);
  Q_UNUSED(BytesRead);
  Q_UNUSED(ElapsedTime);
  Q_UNUSED(EstimatedTimeLeft);
  Q_UNUSED(TotalPercentsDone);
  Q_UNUSED(TransferRate);
  FFileURL = FileURL;
  mmMemo->clear();
  AddMessage(tr("Downloading: ") + FileURL);
  AddMessage(QStringLiteral("  ") + tr("Progress: ") + QString::number(PercentsDone) +
             QStringLiteral("%"));
}

void TfrmCheckForUpdates::autoUpgradeLostFile(const QString& FileURL, int ErrorCode,
                                              bool& ContinueUpgrade) {
  Q_UNUSED(ErrorCode);
  mmMemo->setPlainText(
      tr("Velmora failed to download the new setup file from %1.  Please try again later.")
          .arg(FileURL));
  Status = TUpdateCheckStatus::usLostFile;
  ShowStatus();
  ContinueUpgrade = false;
}

void TfrmCheckForUpdates::autoUpgradeConnLost() {
  mmMemo->setPlainText(tr("Velmora failed to download the new setup file from %1.  The "
                          "connection was lost.  Please try again later.")
                           .arg(FFileURL));
  Status = TUpdateCheckStatus::usConnectionLost;
  ShowStatus();
}

void TfrmCheckForUpdates::autoUpgradeEndUpgrade(bool& RestartImediately) {
  Q_UNUSED(RestartImediately);
  QMessageBox box(QMessageBox::Information, tr("Information"),
                  tr("Velmora will now close to allow the update to proceed.  Once the update "
                     "has completed, Velmora will restart."),
                  QMessageBox::Ok, this);
  box.setObjectName("msgEndUpgrade");
  ModalHook::Exec(box);
}

void TfrmCheckForUpdates::keyPressEvent(QKeyEvent* event) {
  // Esc answers like Close, and only while Close is enabled.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (btnClose->isEnabled()) btnClose->click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool TfrmCheckForUpdates::eventFilter(QObject* watched, QEvent* event) {
  if (watched == mmMemo &&
      (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
      // The message area closes the dialog on the key's release, at any time.
      if (event->type() == QEvent::KeyRelease && !key->isAutoRepeat()) mmMemoKeyUp(key->key());
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmCheckForUpdates::mmMemoKeyUp(int key) {
  if (key == Qt::Key_Escape) done(QDialog::Rejected);
}

void TfrmCheckForUpdates::done(int result) {
  // Closing ends whatever the checker is doing; nothing may report into a closed dialog.
  timerUpdate.stop();
  autoUpgrade->Abort();
  TntFormClose();
  QDialog::done(result);
}

void TfrmCheckForUpdates::TntFormClose() {
  SetBusyCursor(false);
}
