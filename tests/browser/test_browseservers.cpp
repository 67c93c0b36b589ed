// The server browser: layout, the OK rules, double-click, Cancel and the error path. Names come
// from a fake enumerator, and once end to end from a loopback responder.

#include "common/uCommonGUI.h"
#include "forms/ufrmBrowseServers.h"
#include "platform/gui/uModalHook.h"
#include "ssrpresponder.h"

#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <stdexcept>

using namespace std::chrono_literals;

namespace {
struct TFakeResult {
  QStringList Names;
  const char* Error = nullptr;
  bool HourglassShown = false;
  int Calls = 0;
};

TServerEnumeratorFactory FakeFactory(TFakeResult& result) {
  class TFake : public TServerEnumeratorBase {
  public:
    explicit TFake(TFakeResult& r) : FResult(r) {}
    QStringList GetServerNames() override {
      ++FResult.Calls;
      const QCursor* cursor = QGuiApplication::overrideCursor();
      FResult.HourglassShown = cursor && cursor->shape() == Qt::WaitCursor;
      if (FResult.Error) throw std::runtime_error(FResult.Error);
      return FResult.Names;
    }

  private:
    TFakeResult& FResult;
  };
  return [&result] { return std::make_unique<TFake>(result); };
}

QPoint ItemCentre(QListWidget* list, int row) {
  return list->visualItemRect(list->item(row)).center();
}

// What the window system delivers for a double-click: press, release, double-click, release.
void DoubleClick(QListWidget* list, int row) {
  const QPoint at = ItemCentre(list, row);
  QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
}
} // namespace

class TestBrowseServers : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void init() {
    ModalHook::ClearAll();
    ModalHook::SetStrict(true);
    TfrmSelectServer::SetEnumeratorFactory({});
  }
  void cleanup() {
    QCOMPARE(ModalHook::UnansweredCount(), 0);
    QVERIFY(!QGuiApplication::overrideCursor());
    TfrmSelectServer::SetEnumeratorFactory({});
  }

  void layout() {
    TfrmSelectServer form;
    QCOMPARE(form.objectName(), QString("frmSelectServer"));
    QCOMPARE(form.windowTitle(), QString("Select Server"));
    QCOMPARE(form.size(), QSize(364, 409));
    QCOMPARE(form.TntLabel1->text(),
             QString("The following servers running SQL Server are currently active on the "
                     "network."));
    QCOMPARE(form.TntLabel2->text(), QString("&Active servers"));
    QCOMPARE(form.TntLabel2->buddy(), form.lbServers);
    QCOMPARE(form.btnOK->text(), QString("OK"));
    QVERIFY(form.btnOK->isDefault());
    QCOMPARE(form.btnCancel->text(), QString("Cancel"));
    QVERIFY(!form.imgServer->pixmap().isNull());
    // Laid out for the designed 364 x 409: the list under its label, the buttons at the
    // bottom right, lined up with the list; a larger font grows it (test_dialogfonts).
    form.layout()->activate();
    QCOMPARE(form.lbServers->x(), 16);
    QVERIFY(form.lbServers->y() > form.TntLabel2->geometry().bottom());
    QVERIFY(form.lbServers->height() >= 200);
    QCOMPARE(form.btnCancel->geometry().right(), form.lbServers->geometry().right());
    QVERIFY(form.btnOK->geometry().right() < form.btnCancel->x());
    QCOMPARE(form.btnOK->y(), form.btnCancel->y());
    QVERIFY(form.btnOK->y() > form.lbServers->geometry().bottom());
    QVERIFY(form.btnOK->width() >= 75 && form.btnOK->height() >= 25);
    QVERIFY(!form.btnOK->isEnabled());
    QCOMPARE(form.GetSelectedServer(), QString());
  }

  void listsNamesInTheOrderGivenOkOnlyWithSelection() {
    TFakeResult fake{{"zeta", "Alpha", "beta"}};
    TfrmSelectServer::SetEnumeratorFactory(FakeFactory(fake));
    ModalHook::SetNextAnswer("frmSelectServer", [&](QDialog& dialog) {
      auto& form = static_cast<TfrmSelectServer&>(dialog);
      QStringList shown;
      for (int i = 0; i < form.lbServers->count(); ++i)
        shown << form.lbServers->item(i)->text();
      [&] { QCOMPARE(shown, fake.Names); }();
      [&] { QVERIFY(!form.btnOK->isEnabled()); }();
      // Enter with nothing selected does not close the browser.
      QTest::keyClick(form.lbServers, Qt::Key_Return);
      [&] { QVERIFY(form.isVisible()); }();
      form.lbServers->setCurrentRow(1);
      [&] { QVERIFY(form.btnOK->isEnabled()); }();
      form.lbServers->clearSelection();
      [&] { QVERIFY(!form.btnOK->isEnabled()); }();
      return int(QDialog::Rejected);
    });
    QString server = "unchanged";
    QVERIFY(!TfrmSelectServer::Execute(nullptr, server));
    QCOMPARE(server, QString("unchanged"));
    QCOMPARE(fake.Calls, 1);
    QVERIFY(fake.HourglassShown);
  }

  void keyboardSelectionAndEnterReturnsIt() {
    TFakeResult fake{{"DB1", "DB1\\SALES"}};
    TfrmSelectServer::SetEnumeratorFactory(FakeFactory(fake));
    ModalHook::SetNextAnswer("frmSelectServer", [](QDialog& dialog) {
      auto& form = static_cast<TfrmSelectServer&>(dialog);
      QTest::keyClick(form.lbServers, Qt::Key_Down);
      QTest::keyClick(form.lbServers, Qt::Key_Down);
      QTest::keyClick(form.lbServers, Qt::Key_Return);
      return form.result();
    });
    QString server;
    QVERIFY(TfrmSelectServer::Execute(nullptr, server));
    QCOMPARE(server, QString("DB1\\SALES"));
  }

  void okButtonReturnsSelection() {
    TFakeResult fake{{"DB1", "DB2"}};
    TfrmSelectServer::SetEnumeratorFactory(FakeFactory(fake));
    ModalHook::SetNextAnswer("frmSelectServer", [](QDialog& dialog) {
      auto& form = static_cast<TfrmSelectServer&>(dialog);
      QTest::mouseClick(form.lbServers->viewport(), Qt::LeftButton, {},
                        ItemCentre(form.lbServers, 0));
      QTest::mouseClick(form.btnOK, Qt::LeftButton);
      return form.result();
    });
    QString server;
    QVERIFY(TfrmSelectServer::Execute(nullptr, server));
    QCOMPARE(server, QString("DB1"));
  }

  void doubleClickReturnsEntry() {
    TFakeResult fake{{"DB1", "DB2", "DB3"}};
    TfrmSelectServer::SetEnumeratorFactory(FakeFactory(fake));
    ModalHook::SetNextAnswer("frmSelectServer", [](QDialog& dialog) {
      auto& form = static_cast<TfrmSelectServer&>(dialog);
      DoubleClick(form.lbServers, 2);
      return form.result();
    });
    QString server;
    QVERIFY(TfrmSelectServer::Execute(nullptr, server));
    QCOMPARE(server, QString("DB3"));
  }

  void cancelReturnsNothing_data() {
    QTest::addColumn<int>("way");
    QTest::newRow("Cancel button") << 0;
    QTest::newRow("Esc") << 1;
    QTest::newRow("window closed") << 2;
  }

  void cancelReturnsNothing() {
    QFETCH(int, way);
    TFakeResult fake{{"DB1"}};
    TfrmSelectServer::SetEnumeratorFactory(FakeFactory(fake));
    ModalHook::SetNextAnswer("frmSelectServer", [way](QDialog& dialog) {
      auto& form = static_cast<TfrmSelectServer&>(dialog);
      form.lbServers->setCurrentRow(0);
      if (way == 0)
        QTest::mouseClick(form.btnCancel, Qt::LeftButton);
      else if (way == 1)
        QTest::keyClick(form.lbServers, Qt::Key_Escape);
      else
        form.close();
      return form.result();
    });
    QString server = "typed before";
    QVERIFY(!TfrmSelectServer::Execute(nullptr, server));
    QCOMPARE(server, QString("typed before"));
  }

  void nothingFound() {
    TFakeResult fake;
    TfrmSelectServer::SetEnumeratorFactory(FakeFactory(fake));
    ModalHook::SetNextAnswer("frmSelectServer", [](QDialog& dialog) {
      auto& form = static_cast<TfrmSelectServer&>(dialog);
      [&] { QCOMPARE(form.lbServers->count(), 0); }();
      [&] { QVERIFY(!form.btnOK->isEnabled()); }();
      form.accept(); // even a forced OK gives no empty name
      return form.result();
    });
    QString server = "kept";
    QVERIFY(!TfrmSelectServer::Execute(nullptr, server));
    QCOMPARE(server, QString("kept"));
  }

  void enumerationErrorReported() {
    TFakeResult fake{{"never shown"}, "Network is unreachable"};
    TfrmSelectServer::SetEnumeratorFactory(FakeFactory(fake));
    QString boxText;
    bool cursorRestored = false;
    ModalHook::SetNextAnswer("ApplicationErrorBox", [&](QDialog& dialog) {
      boxText = static_cast<QMessageBox&>(dialog).text();
      cursorRestored = !QGuiApplication::overrideCursor();
      return int(QMessageBox::Ok);
    });
    ModalHook::SetNextAnswer("frmSelectServer", [](QDialog& dialog) {
      auto& form = static_cast<TfrmSelectServer&>(dialog);
      [&] { QCOMPARE(form.lbServers->count(), 0); }();
      [&] { QVERIFY(!form.btnOK->isEnabled()); }();
      QTest::mouseClick(form.btnOK, Qt::LeftButton);
      return form.result();
    });
    QString server = "kept";
    QVERIFY(!TfrmSelectServer::Execute(nullptr, server));
    QCOMPARE(server, QString("kept"));
    QCOMPARE(boxText, QString("Network is unreachable"));
    QVERIFY(cursorRestored);
    QCOMPARE(ModalHook::PendingAnswers("ApplicationErrorBox"), 0);
  }

  void listIsGatheredAnewOnEveryShow() {
    TFakeResult fake{{"DB1"}};
    TfrmSelectServer::SetEnumeratorFactory(FakeFactory(fake));
    for (int i = 0; i < 2; ++i) {
      ModalHook::SetNextAnswer("frmSelectServer", int(QDialog::Rejected));
      QString server;
      TfrmSelectServer::Execute(nullptr, server);
    }
    QCOMPARE(fake.Calls, 2);
  }

  void endToEndWithLoopbackResponder() {
    TSSRPResponder responder({TSSRPResponder::Reply(TSSRPResponder::Record("DB1", "MSSQLSERVER") +
                                                    TSSRPResponder::Record("DB1", "SALES"))});
    TfrmSelectServer::SetEnumeratorFactory([&responder] {
      TServerEnumeratorOptions options;
      options.SSRPTargets = {responder.Target()};
      options.Timeout = 300ms;
      return std::make_unique<TServerEnumerator>(options);
    });
    QStringList shown;
    ModalHook::SetNextAnswer("frmSelectServer", [&](QDialog& dialog) {
      auto& form = static_cast<TfrmSelectServer&>(dialog);
      for (int i = 0; i < form.lbServers->count(); ++i)
        shown << form.lbServers->item(i)->text();
      DoubleClick(form.lbServers, 1);
      return form.result();
    });
    QString server;
    QVERIFY(TfrmSelectServer::Execute(nullptr, server));
    QCOMPARE(shown, (QStringList{"DB1", "DB1\\SALES"}));
    QCOMPARE(server, QString("DB1\\SALES"));
  }
};

int main(int argc, char** argv) {
  TVelmoraApplication app(argc, argv);
  TestBrowseServers test;
  return QTest::qExec(&test, argc, argv);
}
#include "test_browseservers.moc"
