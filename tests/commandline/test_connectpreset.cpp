// The Connect dialog opened with the command line's connect options: they win over the recent
// connection it proposes, the focus goes where the user types next, and they apply once.

#include "common/uCommon.h"
#include "common/udmCommon.h"
#include "forms/ufrmConnectToDatabase.h"
#include "forms/ufrmMessageBox.h"
#include "platform/gui/uModalHook.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

class TestConnectPreset : public QObject {
  Q_OBJECT
  QTemporaryDir m_dir;
  std::unique_ptr<TdmMain> m_store;

  struct TSeen {
    QString Server, Login, Database;
    bool SQLLogin = false, PasswordFocused = false, OKFocused = false, OKEnabled = false;
  };

  static TSeen Show() {
    TSeen seen;
    ModalHook::SetNextAnswer("frmConnect", [&seen](QDialog& d) {
      auto& c = static_cast<TfrmConnect&>(d);
      seen.Server = c.edtSQLServer->currentText();
      seen.Login = c.edtSQLLogin->text();
      seen.Database = c.edtDatabase->currentText();
      seen.SQLLogin = c.rbSQLLogin->isChecked();
      seen.PasswordFocused = c.focusWidget() == c.edtSQLPassword;
      seen.OKFocused = c.focusWidget() == c.btnOK;
      seen.OKEnabled = c.btnOK->isEnabled();
      return int(QDialog::Rejected);
    });
    ExecuteConnectDialog(nullptr);
    return seen;
  }

private Q_SLOTS:
  void init() {
    ModalHook::ClearAll();
    ModalHook::SetStrict(true);
    InitApplicationFolders(m_dir.filePath("user"), m_dir.filePath("common"));
    QFile f(UserSettingsFile());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Settings]\nConnectionListSQL=SQL01:master:monitor:0|SQL02:master::0|\n");
    f.close();
    m_store = std::make_unique<TdmMain>(UserSettingsFile(), nullptr);
    dmMain = m_store.get();
  }
  void cleanup() {
    QCOMPARE(ModalHook::UnansweredCount(), 0);
    dmMain = nullptr;
    m_store.reset();
  }

  void preset_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("login");
    QTest::addColumn<bool>("integrated");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("shownLogin");
    QTest::addColumn<bool>("sqlLogin");
    QTest::addColumn<QString>("shownDatabase");
    QTest::addColumn<bool>("passwordFocused");
    QTest::addColumn<bool>("okFocused");
    QTest::newRow("server with a recent login") << "SQL01"
                                                << "" << false << ""
                                                << "monitor" << true << "master" << true << false;
    QTest::newRow("login over the recent one") << "SQL01"
                                               << "dba" << false << ""
                                               << "dba" << true << "master" << true << false;
    QTest::newRow("integrated over the recent login") << "SQL01"
                                                      << "" << true << "Sales"
                                                      << "" << false << "Sales" << false << true;
    QTest::newRow("new server and login") << "NEWHOST,1433"
                                          << "sa" << false << ""
                                          << "sa" << true << "master" << true << false;
    QTest::newRow("database only") << ""
                                   << "" << false << "Orders"
                                   << "monitor" << true << "Orders" << true << false;
  }

  void preset() {
    QFETCH(QString, server);
    QFETCH(QString, login);
    QFETCH(bool, integrated);
    QFETCH(QString, database);
    SetConnectDialogPreset({server, login, integrated, database});
    const TSeen seen = Show();
    QCOMPARE(seen.Server, server.isEmpty() ? QString("SQL01") : server);
    QTEST(seen.Login, "shownLogin");
    QTEST(seen.SQLLogin, "sqlLogin");
    QTEST(seen.Database, "shownDatabase");
    QTEST(seen.PasswordFocused, "passwordFocused");
    QTEST(seen.OKFocused, "okFocused");
    QVERIFY(seen.OKEnabled);

    // Only the first dialog opens with the options; the next one proposes as always.
    const TSeen next = Show();
    QCOMPARE(next.Server, QString("SQL01"));
    QCOMPARE(next.Login, QString("monitor"));
    QCOMPARE(next.Database, QString("master"));
  }
};

QTEST_MAIN(TestConnectPreset)
#include "test_connectpreset.moc"
