// The whole road as a user meets it: the program starts, the Connect dialog opens by itself,
// OK fills the window; and the failure road, a wrong password followed by Cancel.

#include "common/uCommonGUI.h"
#include "forms/uLogFilesPage.h"
#include "forms/uOverviewPage.h"
#include "forms/uProgram.h"
#include "forms/uSummaryPage.h"
#include "forms/ufrmConnectToDatabase.h"
#include "forms/ufrmMain.h"
#include "forms/ufrmMessageBox.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uModalHook.h"
#include "platform/uMemTable.h"
#include "uSqlSimProcess.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

namespace {

const char* const kPassword = "Road-Pw.42";

QString Scenario() {
  return QString::fromUtf8(R"({
    "server": {"version": "10.50.1600", "edition": "Standard Edition",
               "machine": "ROADSIM", "instance": "MSSQLSERVER"},
    "logins": [{"name": "monitor", "password": "%1", "defaultDatabase": "master"}],
    "databases": [
      {"name": "Alpha", "status": 8, "recovery": "FULL", "logSizeMB": 40, "logUsedPercent": 75,
       "logFiles": [{"name": "Alpha_log", "size": 5120}],
       "vlfs": [{"count": 6, "active": 2}]},
      {"name": "master", "status": 8, "logSizeMB": 2, "logUsedPercent": 30,
       "vlfs": [{"count": 4, "active": 1}]}
    ]
  })")
      .arg(QLatin1String(kPassword));
}

// What the window shows at one moment.
struct TWindowState {
  QString Server, Version, DetailsCaption, RecoveryModel;
  int OverviewRows = -1, SelectedRow = -2, FileRows = -1, VLFRows = -1;
  bool RefreshEnabled = false;
  bool Connected = false; // the window's session holds an open connection
  int QueryTimeout = -1;

  static TWindowState Of(TfrmMain& w) {
    TWindowState s;
    s.Server = w.StatusPanelText(0);
    s.Version = w.StatusPanelText(1);
    s.DetailsCaption = w.pnlHeaderDetails->Caption();
    s.RecoveryModel = w.SummaryPage()->Value(TSummaryPage::itmRecoveryModel);
    s.OverviewRows = w.OverviewPage()->RowCount();
    s.SelectedRow = w.FSelectedRow;
    s.FileRows = w.FilesPage()->RowCount();
    s.VLFRows = w.memVLF->rowCount();
    s.RefreshEnabled = w.actRefreshDBList->isEnabled();
    s.Connected = w.Session() && w.Session()->IsConnected();
    s.QueryTimeout = w.Session() ? w.Session()->QueryTimeout() : -1;
    return s;
  }
};

// Answers the next Connect dialog: the proposal stands, only the password is typed.
void AnswerConnect(const QString& password, int* shown, bool cancelAfterFailure = false) {
  ModalHook::SetNextAnswer("frmConnect", [=](QDialog& d) {
    auto& dialog = static_cast<TfrmConnect&>(d);
    ++*shown;
    QTest::keyClicks(dialog.edtSQLPassword, password);
    dialog.btnOK->click();
    if (cancelAfterFailure && dialog.isVisible()) dialog.btnCancel->click();
    return d.result();
  });
}

// The window works in the background: waits until it has shown every answer.
bool WaitIdle(TfrmMain& w) {
  return QTest::qWaitFor([&w] { return !w.IsBusy(); }, 30000);
}

} // namespace

class TestConnectRoad : public QObject {
  Q_OBJECT

  TSqlSimProcess FSim;
  std::unique_ptr<QTemporaryDir> FDir;

  QString SettingsFile() const { return FDir->filePath("config/Quorvix/Velmora/settings.ini"); }

  // Runs the program as main() does; `whenFilled` runs right after the first connect action
  // has ended, then the main window closes. A guard ends a run whose dialog never came.
  int RunUntilConnected(const std::function<void(TfrmMain&)>& whenFilled) {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(120000);
    bool done = false;
    // Fires in the program's first loop iteration, when the window exists and its connect
    // timer runs; a slot connected after the window's own runs after the action has ended.
    QTimer::singleShot(0, [&] {
      QObject::connect(frmMain->actConnectDB, &QAction::triggered, frmMain, [&] {
        if (done) return;
        done = true;
        whenFilled(*frmMain);
        frmMain->close();
      });
    });
    return RunProgram();
  }

private Q_SLOTS:
  void initTestCase() { QVERIFY2(FSim.Start(Scenario()), qPrintable(FSim.ErrorString())); }

  void init() {
    ModalHook::ClearAll();
    ModalHook::SetStrict(true);
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    // The program's own folders, settings and global values all come from here.
    qputenv("XDG_CONFIG_HOME", FDir->filePath("config").toUtf8());
    qputenv("XDG_CONFIG_DIRS", FDir->filePath("system").toUtf8());
    QVERIFY(QDir().mkpath(FDir->filePath("config/Quorvix/Velmora")));
    QFile f(SettingsFile());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("[Settings]\nConnectionListSQL=%1:master:monitor:0|\n")
                .arg(FSim.ServerName())
                .toUtf8());
  }

  void cleanup() {
    QCOMPARE(ModalHook::UnansweredCount(), 0);
    ModalHook::ClearAll();
    TfrmMain::SetConnectDialogFactory({});
  }

  void startToFilledWindow() {
    int shown = 0;
    AnswerConnect(QLatin1String(kPassword), &shown);
    TWindowState filled;
    bool timerStillActive = true;
    const int rc = RunUntilConnected([&](TfrmMain& w) {
      timerStillActive = w.timerConnect.isActive();
      if (!WaitIdle(w)) return;
      filled = TWindowState::Of(w);
    });
    QCOMPARE(rc, 0);
    QCOMPARE(shown, 1); // by itself, exactly once
    QVERIFY(!timerStillActive);

    QCOMPARE(filled.Server, FSim.ServerName());
    QVERIFY2(filled.Version.endsWith(" (Standard Edition)"), qPrintable(filled.Version));
    QVERIFY(filled.Version.size() > QString(" (Standard Edition)").size());
    QCOMPARE(filled.OverviewRows, 2);
    QCOMPARE(filled.SelectedRow, 0);
    QCOMPARE(filled.DetailsCaption, QString("T-log details for database: Alpha"));
    QCOMPARE(filled.RecoveryModel, QString("FULL"));
    QCOMPARE(filled.FileRows, 1);
    QCOMPARE(filled.VLFRows, 6);
    QVERIFY(filled.RefreshEnabled);
    QVERIFY(filled.Connected);

    // The settings file after the program ended: the connection and its type, no password.
    QFile f(SettingsFile());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray ini = f.readAll();
    QVERIFY(ini.contains(
        QStringLiteral("ConnectionListSQL=%1:master:monitor:0|").arg(FSim.ServerName()).toUtf8()));
    QVERIFY(ini.contains("LastDBType=1"));
    QVERIFY(!ini.contains(kPassword));
    // The query time-out is kept there with its default, for the user to find and change.
    QVERIFY(ini.contains("QueryTimeout=60"));
    QCOMPARE(filled.QueryTimeout, 60);
  }

  void wrongPasswordThenCancelKeepsWindow() {
    int shown = 0;
    AnswerConnect(QLatin1String(kPassword), &shown);
    TWindowState before, after, afterRefresh;
    int errorBoxes = 0;
    QString errorCaption;
    const int rc = RunUntilConnected([&](TfrmMain& w) {
      if (!WaitIdle(w)) return;
      before = TWindowState::Of(w);
      // The user connects again from the toolbar, with a wrong password, then cancels.
      AnswerConnect("wrong", &shown, true);
      ModalHook::SetNextAnswer("frmMessageBox", [&](QDialog& box) {
        ++errorBoxes;
        errorCaption = static_cast<TfrmMessageBox&>(box).lblCaption->text();
        return int(QDialog::Accepted);
      });
      w.actConnectDB->trigger();
      if (!WaitIdle(w)) return;
      after = TWindowState::Of(w);
      // Refresh still works on the connection the window had.
      w.actRefreshDBList->trigger();
      if (!WaitIdle(w)) return;
      afterRefresh = TWindowState::Of(w);
    });
    QCOMPARE(rc, 0);
    QCOMPARE(shown, 2);
    QCOMPARE(errorBoxes, 1);
    QCOMPARE(errorCaption, QString("Connection failure"));
    QCOMPARE(before.OverviewRows, 2);

    // The old lists and the status bar stay; refresh keeps its state.
    QCOMPARE(after.OverviewRows, before.OverviewRows);
    QCOMPARE(after.SelectedRow, before.SelectedRow);
    QCOMPARE(after.Server, before.Server);
    QCOMPARE(after.Version, before.Version);
    QCOMPARE(after.DetailsCaption, before.DetailsCaption);
    QCOMPARE(after.VLFRows, before.VLFRows);
    QVERIFY(after.RefreshEnabled);
    // The failed test left the window's connection as it was.
    QVERIFY(after.Connected);
    QVERIFY(afterRefresh.RefreshEnabled);
    QCOMPARE(afterRefresh.OverviewRows, 2);
    QCOMPARE(afterRefresh.VLFRows, before.VLFRows);

    // Only the good connection is in the list.
    QFile f(SettingsFile());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(!f.readAll().contains("wrong"));
  }

  void queryTimeoutFromSettings() {
    QFile f(SettingsFile());
    QVERIFY(f.open(QIODevice::Append));
    f.write("QueryTimeout=7\n");
    f.close();
    int shown = 0;
    AnswerConnect(QLatin1String(kPassword), &shown);
    TWindowState filled;
    QCOMPARE(RunUntilConnected([&](TfrmMain& w) {
               if (WaitIdle(w)) filled = TWindowState::Of(w);
             }),
             0);
    QCOMPARE(filled.QueryTimeout, 7);
    QCOMPARE(filled.OverviewRows, 2);
  }

  void cancelAtStartLeavesEmptyWindow() {
    ModalHook::SetNextAnswer("frmConnect", QDialog::Rejected);
    TWindowState state;
    const int rc = RunUntilConnected([&](TfrmMain& w) { state = TWindowState::Of(w); });
    QCOMPARE(rc, 0);
    QVERIFY(!state.Connected);
    QCOMPARE(state.OverviewRows, 0);
    QCOMPARE(state.Server, QString());
    QVERIFY(!state.RefreshEnabled);
  }
};

int main(int argc, char** argv) {
  TVelmoraApplication app(argc, argv);
  TestConnectRoad test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_connectroad.moc"
