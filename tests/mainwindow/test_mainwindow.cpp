// The main window's shell: layout, actions, the start-up connect timer and the error handler.

#include "common/uCommonGUI.h"
#include "forms/ufrmMain.h"
#include "forms/ufrmMessageBox.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uModalHook.h"

#include <QAccessible>
#include <QAction>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
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
    QTest::addColumn<QString>("spoken"); // what a screen reader says for the button
    QTest::addColumn<QKeySequence>("shortcut");
    QTest::newRow("connect") << "ToolButton1"
                             << "actConnectDB"
                             << "Connect to SQL Server" << true << "Connect to SQL Server"
                             << QKeySequence("Ctrl+N");
    QTest::newRow("refresh") << "ToolButton6"
                             << "actRefreshDBList"
                             << "Refresh database list" << false << "Refresh database list"
                             << QKeySequence("F5");
    QTest::newRow("updates") << "ToolButton7"
                             << "actCheckForUpdates"
                             << "Check for updates" << true << "Check for updates"
                             << QKeySequence();
    QTest::newRow("about") << "ToolButton2"
                           << "actAbout"
                           << "About" << true << "About Velmora" << QKeySequence("F1");
    QTest::newRow("exit") << "ToolButton3"
                          << "actExit"
                          << "Exit" << true << "Exit" << QKeySequence("Ctrl+Q");
  }

  void toolbar() {
    QFETCH(QString, button);
    QFETCH(QString, action);
    QFETCH(QString, hint);
    QFETCH(bool, enabled);
    QFETCH(QString, spoken);
    QFETCH(QKeySequence, shortcut);
    TfrmMain w;
    auto* b = w.ToolBar1->findChild<QToolButton*>(button);
    QVERIFY(b);
    QCOMPARE(b->defaultAction()->objectName(), action);
    QCOMPARE(b->defaultAction()->toolTip(), hint);
    QCOMPARE(b->defaultAction()->isEnabled(), enabled);
    QVERIFY(!b->icon().isNull());
    QCOMPARE(b->toolButtonStyle(), Qt::ToolButtonIconOnly);
    QCOMPARE(b->size(), QSize(39, 38));
    QVERIFY(b->focusPolicy() & Qt::TabFocus);
    QCOMPARE(b->defaultAction()->shortcut(), shortcut);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
    QVERIFY(a);
    QCOMPARE(a->text(QAccessible::Name), spoken);
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

  // The menu bar carries the toolbar's actions and the page keys.
  void menuBar() {
    TfrmMain w;
    QStringList menus;
    for (QAction* m : w.menuBar()->actions())
      menus << m->text();
    QCOMPARE(menus, QStringList({"&Server", "&View", "&Help"}));
    const auto names = [](QMenu* menu) {
      QStringList list;
      for (QAction* a : menu->actions())
        list << (a->isSeparator() ? QString("-") : a->objectName());
      return list;
    };
    QCOMPARE(names(w.menuBar()->actions()[0]->menu()),
             QStringList({"actConnectDB", "actRefreshDBList", "-", "actExit"}));
    QCOMPARE(names(w.menuBar()->actions()[1]->menu()),
             QStringList({"actNextPage", "actPreviousPage"}));
    QCOMPARE(names(w.menuBar()->actions()[2]->menu()),
             QStringList({"actCheckForUpdates", "-", "actAbout"}));
  }

  // Ctrl+PgDn and Ctrl+PgUp walk the detail pages, round the ends, wherever the focus is.
  void pageKeys() {
    TfrmMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.timerConnect.stop();
    w.grdOverview->setFocus();
    QCOMPARE(w.pgcDetails->currentIndex(), 0);
    QTest::keyClick(w.grdOverview, Qt::Key_PageDown, Qt::ControlModifier);
    QCOMPARE(w.pgcDetails->currentIndex(), 1);
    QTest::keyClick(w.grdOverview, Qt::Key_PageUp, Qt::ControlModifier);
    QTest::keyClick(w.grdOverview, Qt::Key_PageUp, Qt::ControlModifier);
    QCOMPARE(w.pgcDetails->currentIndex(), 3);
    // F1 opens About through the window's shortcut.
    TfrmMessageBox box;
    frmMessageBox = &box;
    ModalHook::SetNextAnswer("frmMessageBox", QDialog::Accepted);
    QTest::keyClick(w.grdOverview, Qt::Key_F1);
    QCOMPARE(ModalHook::PendingAnswers("frmMessageBox"), 0);
    frmMessageBox = nullptr;
  }

  // Tab leaves a grid for the next control instead of walking its cells.
  void tabLeavesTheGrids() {
    TfrmMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.timerConnect.stop();
    for (QTableView* grid : {w.grdOverview, w.grdFileDetails, w.grdVLF}) {
      QVERIFY(!grid->tabKeyNavigation());
      QCOMPARE(grid->selectionBehavior(), QAbstractItemView::SelectRows);
      QCOMPARE(grid->selectionMode(), QAbstractItemView::ExtendedSelection);
    }
    w.grdOverview->setFocus();
    QTest::keyClick(w.grdOverview, Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != w.grdOverview);
  }

  // Every control a user can reach says what it is in words: no object names, no "...".
  void accessibleNamesInWords() {
    TfrmMain w;
    QList<QWidget*> controls = w.findChildren<QWidget*>();
    int checked = 0;
    for (QWidget* c : controls) {
      if (c->focusPolicy() == Qt::NoFocus || c->isWindow() || qobject_cast<QMenu*>(c)) continue;
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c);
      QVERIFY(a);
      const QString name = a->text(QAccessible::Name);
      const QByteArray where = c->objectName().toUtf8() + " (" + c->metaObject()->className() +
                               "): '" + name.toUtf8() + "'";
      QVERIFY2(!name.trimmed().isEmpty(), where);
      QVERIFY2(name != "..." && !name.startsWith("act") && name != c->objectName(), where);
      ++checked;
    }
    QVERIFY(checked >= 9);
  }

  void titleShowsTheServer() {
    TfrmMain w;
    QCOMPARE(w.windowTitle(), QString("Velmora"));
    w.ShowServerInTitle("SQL01\\INST");
    QCOMPARE(w.windowTitle(), QString("Velmora - SQL01\\INST"));
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
