// The main window's placement: kept in section "frmMain" of the settings store, restored when
// the window shows, saved when it closes, and never restored off every screen.

#include "common/udmCommon.h"
#include "forms/ufrmMain.h"
#include "platform/gui/uFormStorage.h"
#include "platform/gui/uModalHook.h"
#include "settings/uTestFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Sets the global dmMain for one scope, as the program entry does.
struct TScopedStore {
  explicit TScopedStore(const QString& file) : store(file, nullptr) { dmMain = &store; }
  ~TScopedStore() { dmMain = nullptr; }
  TdmMain store;
};

QRect Screen() {
  return QGuiApplication::primaryScreen()->availableGeometry();
}

int DetailsHeight(const TfrmMain& w) {
  return w.NxSplitter1->sizes().value(1);
}
} // namespace

class TestPlacement : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void init() {
    ModalHook::ClearAll();
    ModalHook::SetStrict(true);
    TfrmMain::SetConnectDialogFactory({});
  }

  void cleanup() { QCOMPARE(ModalHook::UnansweredCount(), 0); }

  // Placement and details height survive a restart, through the file on disk.
  void roundTrip_data() {
    QTest::addColumn<bool>("maximized");
    QTest::newRow("normal") << false;
    QTest::newRow("maximised") << true;
  }
  void roundTrip() {
    QFETCH(bool, maximized);
    QTemporaryDir dir;
    const QString file = dir.filePath("settings.ini");
    const QRect wanted(Screen().left() + 40, Screen().top() + 30, 560, 470);
    {
      TScopedStore scope(file);
      TfrmMain w;
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      w.setGeometry(wanted);
      QTRY_COMPARE(w.geometry(), wanted);
      const int total = w.NxSplitter1->sizes().value(0) + DetailsHeight(w);
      w.NxSplitter1->setSizes({total - 150, 150});
      QCOMPARE(DetailsHeight(w), 150);
      if (maximized) {
        w.showMaximized();
        QTRY_VERIFY(w.isMaximized());
      }
      w.close();
    }
    const QByteArray content = ReadAll(file);
    QVERIFY2(content.contains("[frmMain]"), content.constData());
    QVERIFY2(content.contains("pnlHeaderDetails.Height=150"), content.constData());
    QVERIFY2(content.contains(maximized ? "WindowState=2" : "WindowState=0"), content.constData());

    TScopedStore scope(file);
    TfrmMain w;
    w.showMaximized(); // as the program starts it
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    if (maximized) {
      QTRY_VERIFY(w.isMaximized());
      QCOMPARE(w.normalGeometry(), wanted);
    } else {
      QTRY_VERIFY(!w.isMaximized());
      QTRY_COMPARE(w.geometry(), wanted);
    }
    QTRY_COMPARE(DetailsHeight(w), 150);
  }

  // Values that are not numbers, or make no sense, leave the window as designed and show no
  // error; a window stored off every screen comes back on the screen.
  void storedValues_data() {
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<bool>("designed");
    QTest::newRow("not numbers") << QByteArray("Left=abc\nTop=1\nWidth=x\nHeight=\n") << true;
    QTest::newRow("zero size") << QByteArray("Left=0\nTop=0\nWidth=0\nHeight=500\n") << true;
    QTest::newRow("far off") << QByteArray("Left=90000\nTop=-90000\nWidth=600\nHeight=450\n")
                             << false;
    QTest::newRow("beyond int") << QByteArray("Left=2147483647\nTop=2147483647\nWidth=2147483647\n"
                                              "Height=2147483647\npnlHeaderDetails.Height=-5\n")
                                << false;
  }
  void storedValues() {
    QFETCH(QByteArray, section);
    QFETCH(bool, designed);
    QTemporaryDir dir;
    const QString file = dir.filePath("settings.ini");
    QVERIFY(WriteAll(file, "[frmMain]\nWindowState=0\n" + section));
    TScopedStore scope(file);
    TfrmMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect g = w.geometry();
    if (designed) {
      QCOMPARE(g.size(), QSize(680, 488));
    } else {
      // Its top left corner, where the title bar is grabbed, lies on the screen; the window
      // may still be taller than a small screen when its layout needs more.
      QVERIFY2(
          Screen().contains(g.topLeft()) && g.width() <= Screen().width(),
          qPrintable(
              QStringLiteral("%1,%2 %3x%4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height())));
    }
    QVERIFY(DetailsHeight(w) >= 0);
  }

  void fitOnScreens_data() {
    QTest::addColumn<QRect>("wanted");
    QTest::addColumn<QRect>("expected");
    // Two screens side by side; the first is the primary one.
    QTest::newRow("on the primary") << QRect(100, 100, 600, 400) << QRect(100, 100, 600, 400);
    QTest::newRow("on the second") << QRect(2000, 100, 600, 400) << QRect(2000, 100, 600, 400);
    QTest::newRow("across both") << QRect(1700, 100, 600, 400) << QRect(1700, 100, 600, 400);
    QTest::newRow("mostly off, still grabbable")
        << QRect(1850, 100, 600, 400) << QRect(1850, 100, 600, 400);
    QTest::newRow("right of everything") << QRect(5000, 100, 600, 400) << QRect(660, 340, 600, 400);
    QTest::newRow("title bar above the screen")
        << QRect(100, -300, 600, 400) << QRect(660, 340, 600, 400);
    QTest::newRow("below the second, shorter screen")
        << QRect(2000, 800, 600, 400) << QRect(660, 340, 600, 400);
    QTest::newRow("larger than the screen") << QRect(0, 0, 5000, 5000) << QRect(0, 0, 1920, 1080);
    QTest::newRow("lost and larger") << QRect(-9000, 0, 5000, 5000) << QRect(0, 0, 1920, 1080);
  }
  void fitOnScreens() {
    QFETCH(QRect, wanted);
    QFETCH(QRect, expected);
    const QList<QRect> screens = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 800)};
    QCOMPARE(TFormStorage::FitOnScreens(wanted, screens), expected);
  }

  // A settings folder that cannot be created: the window still shows and closes, and the
  // settings of the run are not kept.
  void startWithoutFolder() {
    QTemporaryDir dir;
    const QString blocker = dir.filePath("config");
    QVERIFY(WriteAll(blocker, QByteArray()));
    InitApplicationFolders(blocker, blocker);
    {
      TfrmMain w;
      TdmMain store; // the program's own: UserSettingsFile()
      dmMain = &store;
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      w.close();
      dmMain = nullptr;
    }
    QVERIFY(!QFileInfo::exists(UserSettingsFile()));
    QCOMPARE(QFileInfo(blocker).size(), 0);
  }

  // Without dmMain (a test, or a start that failed before it) nothing is read or written.
  void noStore() {
    QVERIFY(!dmMain);
    TfrmMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.close();
  }
};

QTEST_MAIN(TestPlacement)
#include "test_placement.moc"
