// The main window's shell: layout, actions, the start-up connect timer and the error handler.

#include "common/uCommonGUI.h"
#include "forms/ufrmMain.h"
#include "forms/ufrmMessageBox.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uModalHook.h"

#include <QAction>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QLabel>
#include <QMessageBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <stdexcept>

class TestMainWindow : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void init() {
    ModalHook::ClearAll();
    ModalHook::SetStrict(true);
    TfrmMain::SetConnectDialogFactory({});
  }

  void layout() {
    TfrmMain w;
    QCOMPARE(w.windowTitle(), QString("Velmora"));
    QCOMPARE(w.pnlHeaderOverview->Caption(), QString("T-log overview"));
    QCOMPARE(w.pnlHeaderDetails->Caption(), QString("T-log details for database:"));
    QCOMPARE(w.FSelectedRow, -1);
    QCOMPARE(w.font().family(), SystemIconFont().family());
    QVERIFY(w.FOpenTranLines.isEmpty());
    QVERIFY(!w.timerConnect.isActive());

    const QStringList pages = {"Summary", "Files", "Virtual log files",
                               "Oldest active transaction"};
    QCOMPARE(w.pgcDetails->count(), pages.size());
    for (int i = 0; i < pages.size(); ++i)
      QCOMPARE(w.pgcDetails->tabText(i), pages[i]);

    QCOMPARE(w.StatusPanelText(0), QString());
    QCOMPARE(w.StatusPanelText(1), QString());
    QCOMPARE(w.StatusPanelWidth(0), 240);
    QCOMPARE(w.Image1->height() > 0 || w.Image1->minimumHeight() == 105, true);
    QCOMPARE(w.Image1->minimumHeight(), 105);
  }

  void toolbar_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("connect") << "ToolButton1"
                             << "actConnectDB"
                             << "Connect to SQL Server" << true;
    QTest::newRow("refresh") << "ToolButton6"
                             << "actRefreshDBList"
                             << "Refresh database list" << false;
    QTest::newRow("updates") << "ToolButton7"
                             << "actCheckForUpdates"
                             << "Check for updates" << true;
    QTest::newRow("about") << "ToolButton2"
                           << "actAbout"
                           << "About" << true;
    QTest::newRow("exit") << "ToolButton3"
                          << "actExit"
                          << "Exit" << true;
  }

  void toolbar() {
    QFETCH(QString, button);
    QFETCH(QString, action);
    QFETCH(QString, hint);
    QFETCH(bool, enabled);
    TfrmMain w;
    auto* b = w.ToolBar1->findChild<QToolButton*>(button);
    QVERIFY(b);
    QCOMPARE(b->defaultAction()->objectName(), action);
    QCOMPARE(b->defaultAction()->toolTip(), hint);
    QCOMPARE(b->defaultAction()->isEnabled(), enabled);
    QVERIFY(!b->icon().isNull());
    QVERIFY(b->defaultAction()->shortcut().isEmpty());
    // The hint is a tooltip only: hovering a button leaves the status bar's panels in view.
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(b, &enter);
    QCOMPARE(w.sbMain->currentMessage(), QString());
  }

  void toolbarOrder() {
    TfrmMain w;
    QStringList names;
    for (QAction* a : w.ToolBar1->actions()) {
      QWidget* widget = w.ToolBar1->widgetForAction(a);
      names << (widget ? widget->objectName() : QString());
    }
    QCOMPARE(names, QStringList({"ToolButton1", "ToolButton5", "ToolButton6", "ToolButton4",
                                 "ToolButton7", "ToolButton2", "ToolButton8", "ToolButton3"}));
  }

  // The connect timer fires once, about 200 ms after the window shows, and runs Connect once.
  void connectTimerFiresOnce() {
    int calls = 0;
    QElapsedTimer clock;
    qint64 firedAfter = -1;
    TfrmMain::SetConnectDialogFactory([&](QWidget*) {
      ++calls;
      firedAfter = clock.elapsed();
      return TConnectDialogOutcome{};
    });
    TfrmMain w;
    clock.start();
    w.show();
    QVERIFY(w.timerConnect.isActive());
    QCOMPARE(w.timerConnect.interval(), 200);
    QTRY_COMPARE(calls, 1);
    QVERIFY2(firedAfter >= 150, qPrintable(QString::number(firedAfter)));
    // Showing again (restore from minimised) does not restart it.
    w.hide();
    w.show();
    QTest::qWait(400);
    QCOMPARE(calls, 1);
    QVERIFY(!w.actRefreshDBList->isEnabled());
  }

  void cancelledConnectChangesNothing() {
    TfrmMain::SetConnectDialogFactory([](QWidget*) { return TConnectDialogOutcome{}; });
    TfrmMain w;
    w.actConnectDB->trigger();
    QVERIFY(!w.actRefreshDBList->isEnabled());
    QCOMPARE(w.StatusPanelText(0), QString());
  }

  // An error that no handler catches shows its own text and the program goes on.
  void uncaughtErrorIsShown() {
    QString shown;
    ModalHook::SetNextAnswer("ApplicationErrorBox", [&](QDialog& d) {
      shown = static_cast<QMessageBox&>(d).text();
      return int(QMessageBox::Ok);
    });
    TfrmMain::SetConnectDialogFactory([](QWidget*) -> TConnectDialogOutcome {
      throw std::runtime_error("'x' is not a valid integer value");
    });
    TfrmMain w;
    QTest::mouseClick(w.ToolBar1->findChild<QToolButton*>("ToolButton1"), Qt::LeftButton);
    QCOMPARE(shown, QString("'x' is not a valid integer value"));
    QCOMPARE(ModalHook::UnansweredCount(), 0);
    // Still alive and responsive.
    int calls = 0;
    TfrmMain::SetConnectDialogFactory([&](QWidget*) {
      ++calls;
      return TConnectDialogOutcome{};
    });
    QTest::mouseClick(w.ToolBar1->findChild<QToolButton*>("ToolButton1"), Qt::LeftButton);
    QCOMPARE(calls, 1);
  }

  // The last resort: an event handler that lets an error escape reaches the same box.
  void errorEscapingAnEventHandlerIsShown() {
    struct Throwing : QObject {
      bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw std::runtime_error("disk full");
        return QObject::event(e);
      }
    } receiver;
    QString shown;
    ModalHook::SetNextAnswer("ApplicationErrorBox", [&](QDialog& d) {
      shown = static_cast<QMessageBox&>(d).text();
      return int(QMessageBox::Ok);
    });
    QEvent e(QEvent::User);
    QVERIFY(!QCoreApplication::sendEvent(&receiver, &e));
    QCOMPARE(shown, QString("disk full"));
  }

  void runGuardedRoutesErrors() {
    ModalHook::SetNextAnswer("ApplicationErrorBox", QMessageBox::Ok);
    QVERIFY(!RunGuarded([] { throw std::runtime_error("boom"); }));
    QCOMPARE(ModalHook::PendingAnswers("ApplicationErrorBox"), 0);
    QVERIFY(RunGuarded([] {}));
  }
};

int main(int argc, char** argv) {
  TVelmoraApplication app(argc, argv);
  TestMainWindow t;
  return QTest::qExec(&t, argc, argv);
}

#include "test_mainwindow.moc"
