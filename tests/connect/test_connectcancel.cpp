// The Connect dialog while its connection test runs against a server that never finishes the
// login: the dialog keeps answering, Cancel stops the test at once and gives the dialog back.

#include "common/udmCommon.h"
#include "forms/ufrmConnectToDatabase.h"
#include "forms/ufrmMessageBox.h"
#include "platform/gui/uModalHook.h"
#include "uSqlSimProcess.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestConnectCancel : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void cancelDuringTest() {
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(R"({"logins": [{"name": "slow", "password": "slow"}],
                           "databases": [{"name": "master"}],
                           "faults": [{"loginReply": "trickle", "intervalMs": 500}]})"),
             qPrintable(sim.ErrorString()));
    QTemporaryDir dir;
    TdmMain store(dir.filePath("settings.ini"), nullptr);
    dmMain = &store;
    TfrmMessageBox box;
    frmMessageBox = &box;
    ModalHook::ClearAll();
    ModalHook::SetStrict(true); // an error box would be counted as unanswered

    bool visibleAfter = false, okEnabledAfter = false, inputsEnabledAfter = false;
    bool inputsDisabledDuring = false;
    qint64 cancelledAfterMs = -1;
    ModalHook::SetNextAnswer("frmConnect", [&](QDialog& d) {
      auto& dlg = static_cast<TfrmConnect&>(d);
      dlg.edtSQLServer->setEditText(sim.ServerName());
      dlg.rbSQLLogin->click();
      dlg.edtSQLLogin->setText("slow");
      dlg.edtSQLPassword->setText("slow");
      // This simulator has no certificate: ask for encryption only where it is offered.
      dlg.cbEncryption->setCurrentIndex(int(TEncryption::Optional));
      // The user presses Cancel once the server is answering (slowly); timers keep running
      // because the test runs off the GUI thread.
      QElapsedTimer clock;
      QTimer poll;
      QObject::connect(&poll, &QTimer::timeout, &dlg, [&] {
        for (const QJsonObject& e : sim.LogEntries())
          if (e.value("event").toString() == u"login") {
            poll.stop();
            inputsDisabledDuring = !dlg.edtSQLServer->isEnabled() && !dlg.btnOK->isEnabled() &&
                                   dlg.btnCancel->isEnabled();
            clock.start();
            dlg.btnCancel->click();
            return;
          }
      });
      poll.start(20);
      dlg.btnOK->click();
      cancelledAfterMs = clock.isValid() ? clock.elapsed() : -1;
      visibleAfter = dlg.isVisible();
      okEnabledAfter = dlg.btnOK->isEnabled();
      inputsEnabledAfter = dlg.edtSQLServer->isEnabled();
      dlg.btnCancel->click(); // now it closes the dialog
      return d.result();
    });
    const TConnectDialogOutcome outcome = ExecuteConnectDialog(nullptr);

    QCOMPARE(ModalHook::UnansweredCount(), 0);
    QVERIFY(inputsDisabledDuring);
    QVERIFY(cancelledAfterMs >= 0);
    // The login alone would take minutes; the default deadline is 15 s.
    QVERIFY2(cancelledAfterMs < 5000, qPrintable(QString::number(cancelledAfterMs)));
    QVERIFY(visibleAfter && okEnabledAfter && inputsEnabledAfter);
    QVERIFY(!outcome.Accepted);
    QVERIFY(!outcome.Session);
    QCOMPARE(store.GetSettingString(Settings::ConnectionListSQL), QString());
    dmMain = nullptr;
    frmMessageBox = nullptr;
  }
};

QTEST_MAIN(TestConnectCancel)
#include "test_connectcancel.moc"
