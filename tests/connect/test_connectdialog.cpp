// The Connect dialog on its own: what it proposes from the settings, how the recent lines fill
// it, the OK button's rules, and OK against the simulator (success and failure).

#include "common/uCommon.h"
#include "common/udmCommon.h"
#include "datastore/udmDataStoreSQLServer.h"
#include "forms/ufrmBrowseServers.h"
#include "forms/ufrmConnectToDatabase.h"
#include "forms/ufrmMessageBox.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uModalHook.h"
#include "platform/gui/uRichEditURL.h"
#include "uSqlSimProcess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <functional>
#include <map>
#include <memory>

namespace {

const char* const kPassword = "Pw-7Zq!x";

// One login with a password nobody would find by chance in a file or a log.
QString Scenario() {
  return QString::fromUtf8(R"js({
    "server": {"version": "10.50.1600", "edition": "Developer Edition (64-bit)",
               "machine": "SIM", "instance": "MSSQLSERVER"},
    "logins": [{"name": "monitor", "password": "%1", "defaultDatabase": "master"}],
    "databases": [{"name": "master", "status": 8}]
})js")
      .arg(QLatin1String(kPassword));
}

class TFakeGlobals : public TGlobalSettingsSource {
public:
  explicit TFakeGlobals(std::map<QString, QString> values) : FValues(std::move(values)) {}
  std::optional<QString> ReadText(const QString& name) const override {
    const auto it = FValues.find(name);
    if (it == FValues.end()) return std::nullopt;
    return it->second;
  }

private:
  std::map<QString, QString> FValues;
};

class TFakeEnumerator : public TServerEnumeratorBase {
public:
  QStringList GetServerNames() override { return {"ALPHA", "BRAVO\\SQL2008"}; }
};

// Every message the program writes, to prove the password never reaches a log.
QStringList& CapturedMessages() {
  static QStringList messages;
  return messages;
}
QtMessageHandler g_previousHandler = nullptr;
void CaptureMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  CapturedMessages() << text;
  if (g_previousHandler) g_previousHandler(type, context, text);
}

struct TErrorBoxSeen {
  int Count = 0;
  QString WindowTitle, Header, Caption, Text;
};

} // namespace

class TestConnectDialog : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> FDir;
  std::unique_ptr<TdmMain> FStore;
  std::unique_ptr<TfrmMessageBox> FBox;
  TSqlSimProcess FSim;

  QString SettingsFile() const { return FDir->filePath("user/Quorvix/Velmora/settings.ini"); }

  // A store over a settings file holding `iniText` (none when empty) and these global values.
  void OpenStore(const QString& iniText, std::map<QString, QString> globals = {}) {
    if (!iniText.isEmpty()) {
      QFile f(SettingsFile());
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(iniText.toUtf8());
    }
    FStore = std::make_unique<TdmMain>(SettingsFile(),
                                       std::make_unique<TFakeGlobals>(std::move(globals)));
    dmMain = FStore.get();
  }

  static QString RecentList(const QString& list) {
    return QStringLiteral("[Settings]\nConnectionListSQL=%1\n").arg(list);
  }

  // Opens the dialog through the production factory and runs `body` while it is shown; the
  // dialog's result is whatever the body left it with.
  static TConnectDialogOutcome RunDialog(const std::function<void(TfrmConnect&)>& body) {
    ModalHook::SetNextAnswer("frmConnect", [&body](QDialog& d) {
      body(static_cast<TfrmConnect&>(d));
      return d.result();
    });
    return ExecuteConnectDialog(nullptr);
  }

  static bool FocusInServerBox(TfrmConnect& d) {
    return d.focusWidget() == d.edtSQLServer || d.focusWidget() == d.edtSQLServer->lineEdit();
  }

  // Types character by character as key events, any letter included.
  static void Type(QWidget* widget, const QString& text) {
    for (const QChar ch : text) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
      QApplication::sendEvent(widget, &press);
      QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
      QApplication::sendEvent(widget, &release);
    }
  }

  static void TypeServer(TfrmConnect& d, const QString& text) {
    d.edtSQLServer->lineEdit()->selectAll();
    QTest::keyClick(d.edtSQLServer->lineEdit(), Qt::Key_Delete);
    Type(d.edtSQLServer->lineEdit(), text);
  }

  // Queues an answer for the error box that records what it showed.
  static void ExpectErrorBox(TErrorBoxSeen& seen) {
    ModalHook::SetNextAnswer("frmMessageBox", [&seen](QDialog& d) {
      auto& box = static_cast<TfrmMessageBox&>(d);
      ++seen.Count;
      seen.WindowTitle = box.windowTitle();
      seen.Header = box.pnlHeader->Caption();
      seen.Caption = box.lblCaption->text();
      seen.Text = box.mmText->toPlainText();
      return int(QDialog::Accepted);
    });
  }

private Q_SLOTS:
  void initTestCase() {
    g_previousHandler = qInstallMessageHandler(CaptureMessage);
    QVERIFY2(FSim.Start(Scenario()), qPrintable(FSim.ErrorString()));
  }

  void init() {
    ModalHook::ClearAll();
    ModalHook::SetStrict(true);
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    InitApplicationFolders(FDir->filePath("user"), FDir->filePath("common"));
    FBox = std::make_unique<TfrmMessageBox>();
    frmMessageBox = FBox.get();
    TfrmSelectServer::SetEnumeratorFactory([] { return std::make_unique<TFakeEnumerator>(); });
    TfrmConnect::SetDriverSource([] {
      return QList<TOdbcDriverInfo>{{"FreeTDS", "libtdsodbc.so"}};
    });
    TfrmConnect::SetCertificateFolder(FDir->filePath("certificates"));
  }

  void cleanup() {
    QCOMPARE(ModalHook::UnansweredCount(), 0);
    ModalHook::ClearAll();
    TfrmSelectServer::SetEnumeratorFactory({});
    TfrmConnect::SetDriverSource({});
    TfrmConnect::SetCertificateFolder({});
    dmMain = nullptr;
    FStore.reset();
    frmMessageBox = nullptr;
    FBox.reset();
  }

  void cleanupTestCase() {
    qInstallMessageHandler(g_previousHandler);
    for (const QString& message : std::as_const(CapturedMessages()))
      QVERIFY2(!message.contains(QLatin1String(kPassword)), qPrintable(message));
  }

  void layout() {
    OpenStore({});
    RunDialog([](TfrmConnect& d) {
      QCOMPARE(d.windowTitle(), QString("Connect to Database"));
      QCOMPARE(d.pnlJobList->Caption(), QString("  Connect to database"));
      QCOMPARE(d.pnlJobList->HeaderHeight(), 48);
      // The designed size at least; the layout may need more.
      QVERIFY(d.width() >= 505 && d.height() >= 416);
      QCOMPARE(d.btnBrowseSQLServer->text(), QString("..."));
      QCOMPARE(d.btnBrowseSQLServer->toolTip(), QString("Browse for SQL Server instances..."));
      QCOMPARE(d.btnOK->text(), QString("OK"));
      QVERIFY(d.btnOK->isDefault());
      QCOMPARE(d.btnCancel->text(), QString("Cancel"));
      // The drivers found, after "(auto)".
      QCOMPARE(d.cbProvider->count(), 2);
      QCOMPARE(d.cbProvider->itemText(0), QString("(auto)"));
      QCOMPARE(d.cbProvider->itemText(1), QString("FreeTDS"));
      QCOMPARE(d.cbEncryption->currentText(), QString("Mandatory"));
      QVERIFY(!d.chkTrustServerCertificate->isChecked());
      QVERIFY(!d.edtDatabase->isEnabled());
      QCOMPARE(d.edtSQLPassword->echoMode(), QLineEdit::Password);
      QCOMPARE(d.edtSQLPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                                    d.edtSQLPassword),
               int('*'));

      // Only the SQL Server page shows.
      QCOMPARE(d.pgcMain->currentWidget(), d.tabSQLServer);
      QCOMPARE(d.pgcMain->tabText(d.pgcMain->indexOf(d.tabSQLServer)),
               QString("SQL Server database"));
      QVERIFY(!d.pgcMain->isTabVisible(d.pgcMain->indexOf(d.tabLocal)));

      // Access keys lead to their boxes.
      const std::pair<QLabel*, QWidget*> buddies[] = {
          {d.TntLabel1, d.edtSQLServer},        {d.lblDatabase, d.edtDatabase},
          {d.TntLabel2, d.cbProvider},          {d.lblSQLLogin, d.edtSQLLogin},
          {d.lblSQLPassword, d.edtSQLPassword}, {d.lblEncryption, d.cbEncryption}};
      const QStringList texts = {"S&QL Server", "&Database", "Pro&vider",
                                 "Login &name", "&Password", "&Encryption"};
      for (int i = 0; i < texts.size(); ++i) {
        QCOMPARE(buddies[i].first->text(), texts[i]);
        QCOMPARE(buddies[i].first->buddy(), buddies[i].second);
      }
      QCOMPARE(d.rbWinLogin->text(), QString("&Windows authentication"));
      QCOMPARE(d.rbSQLLogin->text(), QString("SQL Server &authentication"));
      QCOMPARE(d.TntLabel3->text(), QString("Connect using"));
      QCOMPARE(d.chkTrustServerCertificate->text(), QString("&Trust the server certificate"));

      // Tab order over the page's named controls, with every box that can be enabled enabled.
      d.rbSQLLogin->click();
      const QStringList named = {"edtSQLServer",   "btnBrowseSQLServer",
                                 "edtDatabase",    "rbWinLogin",
                                 "rbSQLLogin",     "edtSQLLogin",
                                 "edtSQLPassword", "cbProvider",
                                 "cbEncryption",   "chkTrustServerCertificate",
                                 "btnOK",          "btnCancel"};
      QStringList order;
      QWidget* w = d.edtSQLServer;
      do {
        if (named.contains(w->objectName()) && !order.contains(w->objectName()))
          order << w->objectName();
        w = w->nextInFocusChain();
      } while (w != d.edtSQLServer);
      QCOMPARE(order, named);
    });
  }

  void localPageHiddenEachShow() {
    OpenStore({});
    TfrmConnect d;
    d.setAttribute(Qt::WA_DontShowOnScreen);
    for (int i = 0; i < 2; ++i) {
      d.show();
      QVERIFY(!d.pgcMain->isTabVisible(d.pgcMain->indexOf(d.tabLocal)));
      QCOMPARE(d.pgcMain->currentWidget(), d.tabSQLServer);
      // Whatever happened to the page in between, the next showing hides it again.
      d.pgcMain->setTabVisible(d.pgcMain->indexOf(d.tabLocal), true);
      d.pgcMain->setCurrentWidget(d.tabLocal);
      d.hide();
    }
  }

  void firstRun() {
    OpenStore({});
    const TConnectDialogOutcome outcome = RunDialog([](TfrmConnect& d) {
      QCOMPARE(d.edtSQLServer->currentText(), QString());
      QCOMPARE(d.edtSQLServer->count(), 0);
      QCOMPARE(d.edtDatabase->currentText(), QString("master"));
      QVERIFY(d.lblDatabase->isEnabled());
      // Without a Kerberos set-up Windows authentication rarely works from Linux: a fresh
      // profile proposes SQL Server authentication there. OK waits for a server and a login.
      QCOMPARE(d.rbSQLLogin->isChecked(), !kOdbcOnWindows);
      QCOMPARE(d.edtSQLLogin->isEnabled(), !kOdbcOnWindows);
      QCOMPARE(d.lblSQLLogin->isEnabled(), !kOdbcOnWindows);
      QVERIFY(!d.btnOK->isEnabled());
      QVERIFY(FocusInServerBox(d));
      QCOMPARE(d.cbProvider->currentText(), QString("(auto)"));
      QCOMPARE(d.cbEncryption->currentText(), QString("Mandatory"));
    });
    QVERIFY(!outcome.Accepted);
    QVERIFY(!outcome.Session); // Cancel opens nothing
    QVERIFY(!QFile::exists(SettingsFile()));
  }

  void recentLineWithLogin() {
    OpenStore(RecentList("SQL01:master:monitor:0|sql02\\inst:master::1|:nohost:x:0|"));
    RunDialog([](TfrmConnect& d) {
      QCOMPARE(d.edtSQLServer->currentText(), QString("SQL01"));
      QCOMPARE(d.edtSQLServer->count(), 2); // the line without a server is not offered
      QCOMPARE(d.edtSQLServer->itemText(1), QString("sql02\\inst"));
      QVERIFY(d.rbSQLLogin->isChecked());
      QVERIFY(d.edtSQLLogin->isEnabled());
      QVERIFY(d.edtSQLPassword->isEnabled());
      QCOMPARE(d.edtSQLLogin->text(), QString("monitor"));
      QCOMPARE(d.edtSQLPassword->text(), QString());
      QCOMPARE(d.focusWidget(), d.edtSQLPassword);
      QVERIFY(d.btnOK->isEnabled());
      // The database field of a line never reaches the database box.
      QCOMPARE(d.edtDatabase->currentText(), QString("master"));
    });
  }

  void recentLines_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("typed"); // texts typed into the server box, in turn
    QTest::addColumn<bool>("sqlAuth");
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("provider");
    QTest::addColumn<bool>("okEnabled");

    QTest::newRow("other letter case fills the login")
        << "A:master::0|SQL01:master:monitor:0|" << QStringList{"sql01"} << true << "monitor"
        << "(auto)" << true;
    QTest::newRow("typing on keeps the filled values")
        << "A:master::0|SQL01:master:monitor:0|" << QStringList{"sql01", "sql01x"} << true
        << "monitor"
        << "(auto)" << true;
    QTest::newRow("non-ASCII letters match in any case")
        << "A:master::0|ÉTÉ:master:ops:0|" << QStringList{"été"} << true << "ops"
        << "(auto)" << true;
    QTest::newRow("Windows line empties the login, SQL auth stays")
        << "SQL01:master:monitor:0|WIN1:master::0|" << QStringList{"win1"} << true << ""
        << "(auto)" << false;
    // Provider 1 ("MDAC") is the platform's plain driver: FreeTDS here.
    QTest::newRow("MDAC set from a line")
        << "A:master::0|OLD:master::1|" << QStringList{"old"} << false << ""
        << "FreeTDS" << true;
    QTest::newRow("MDAC never set back")
        << "A:master::0|OLD:master::1|NEW:master::0|" << QStringList{"old", "new"} << false << ""
        << "FreeTDS" << true;
    QTest::newRow("first matching line wins")
        << "A:master::0|dup:master:first:0|DUP:master:second:1|" << QStringList{"Dup"} << true
        << "first"
        << "(auto)" << true;
    QTest::newRow("no match changes nothing")
        << "A:master::0|SQL01:master:monitor:1|" << QStringList{"SQL0"} << false << ""
        << "(auto)" << true;
    QTest::newRow("malformed lines never raise")
        << "A:master::0|x|:lead:colon:1|short:db|two:db:lg|bad:db:lg:z|"
        << QStringList{"x", "short", "two", "bad"} << true << "lg"
        << "(auto)" << true;
    QTest::newRow("an empty server box disables OK")
        << "A:master::0|" << QStringList{""} << false << ""
        << "(auto)" << false;
    QTest::newRow("provider digit other than 1 ignored")
        << "A:master::0|P:db::2|" << QStringList{"p"} << false << ""
        << "(auto)" << true;
  }

  void recentLines() {
    QFETCH(QString, list);
    QFETCH(QStringList, typed);
    QFETCH(bool, sqlAuth);
    QFETCH(QString, login);
    QFETCH(QString, provider);
    QFETCH(bool, okEnabled);
    OpenStore(RecentList(list));
    RunDialog([&](TfrmConnect& d) {
      // The first line ("A", Windows) is proposed; the "Windows line" case starts from a
      // SQL login chosen by hand.
      if (list.startsWith("SQL01")) {
        QVERIFY(d.rbSQLLogin->isChecked());
      }
      d.edtSQLServer->setFocus();
      for (const QString& text : typed)
        TypeServer(d, text);
      QCOMPARE(d.rbSQLLogin->isChecked(), sqlAuth);
      QCOMPARE(d.edtSQLLogin->text(), login);
      QCOMPARE(d.cbProvider->currentText(), provider);
      QCOMPARE(d.btnOK->isEnabled(), okEnabled);
      // Typing never moves the focus away from the server box.
      QVERIFY(FocusInServerBox(d));
    });
  }

  void choosingFromListMovesFocus() {
    OpenStore(RecentList("WIN1:master::0|SQL01:master:monitor:0|"));
    RunDialog([](TfrmConnect& d) {
      QVERIFY(d.rbWinLogin->isChecked());
      QTest::keyClick(d.edtSQLServer, Qt::Key_Down);
      QCOMPARE(d.edtSQLServer->currentText(), QString("SQL01"));
      QVERIFY(d.rbSQLLogin->isChecked());
      QCOMPARE(d.edtSQLLogin->text(), QString("monitor"));
      QCOMPARE(d.focusWidget(), d.edtSQLPassword);
    });
  }

  // Leaving the server box (Tab, a click elsewhere) or pressing Enter in it changes no text: it
  // must neither replace the name as typed nor apply its recent line again over a login that
  // the user has changed since.
  void leavingServerBoxKeepsTypedText_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("enter");
    QTest::newRow("other case, focus leaves") << "sql02" << false;
    QTest::newRow("other case, Enter") << "sql02" << true;
    QTest::newRow("same case, focus leaves") << "SQL02" << false;
    QTest::newRow("same case, Enter") << "SQL02" << true;
  }

  void leavingServerBoxKeepsTypedText() {
    QFETCH(QString, typed);
    QFETCH(bool, enter);
    OpenStore(RecentList("SQL01:master::0|SQL02:master:monitor:1|"));
    RunDialog([&](TfrmConnect& d) {
      d.edtSQLServer->setFocus();
      TypeServer(d, typed);
      QCOMPARE(d.edtSQLLogin->text(), QString("monitor"));
      d.edtSQLLogin->setText("other");
      QLineEdit* edit = d.edtSQLServer->lineEdit();
      if (enter) Q_EMIT edit->returnPressed();
      Q_EMIT edit->editingFinished();
      QCOMPARE(d.edtSQLServer->currentText(), typed);
      QCOMPARE(d.edtSQLLogin->text(), QString("other"));
      QVERIFY(FocusInServerBox(d));
    });
  }

  // Restoring the window from the taskbar is no new opening: what the user entered stays.
  void restoreKeepsInputs() {
    OpenStore(RecentList("SQL01:master:monitor:1|"));
    RunDialog([](TfrmConnect& d) {
      QVERIFY(d.rbSQLLogin->isChecked());
      d.edtSQLServer->setFocus();
      TypeServer(d, "NEW");
      QTest::mouseClick(d.rbWinLogin, Qt::LeftButton);
      d.cbProvider->setCurrentIndex(0);
      d.showMinimized();
      QTRY_VERIFY(d.isMinimized());
      d.showNormal();
      QTRY_VERIFY(!d.isMinimized());
      QCoreApplication::processEvents();
      QCOMPARE(d.edtSQLServer->currentText(), QString("NEW"));
      QVERIFY(d.rbWinLogin->isChecked());
      QCOMPARE(d.cbProvider->currentText(), QString("(auto)"));
    });
  }

  // OK needs a server; with SQL Server authentication also a login that is not blanks only.
  void okButtonRules_data() {
    QTest::addColumn<bool>("sqlAuth");
    QTest::addColumn<QString>("login");
    QTest::addColumn<bool>("okEnabled");
    QTest::newRow("windows, no login") << false << "" << true;
    QTest::newRow("sql, empty login") << true << "" << false;
    QTest::newRow("sql, blanks only") << true << "   " << false;
    QTest::newRow("sql, login") << true << "sa" << true;
    QTest::newRow("sql, padded login") << true << "  sa " << true;
  }

  void okButtonRules() {
    QFETCH(bool, sqlAuth);
    QFETCH(QString, login);
    QFETCH(bool, okEnabled);
    OpenStore({});
    RunDialog([&](TfrmConnect& d) {
      QTest::mouseClick(sqlAuth ? d.rbSQLLogin : d.rbWinLogin, Qt::LeftButton);
      QCOMPARE(d.edtSQLLogin->isEnabled(), sqlAuth);
      QCOMPARE(d.lblSQLPassword->isEnabled(), sqlAuth);
      if (sqlAuth) QTest::keyClicks(d.edtSQLLogin, login);
      QVERIFY(!d.btnOK->isEnabled()); // no server yet
      TypeServer(d, "X");
      QCOMPARE(d.btnOK->isEnabled(), okEnabled);
      TypeServer(d, "  ");
      QVERIFY(!d.btnOK->isEnabled());
      TypeServer(d, "X");
      // Back to Windows authentication: OK with a server, login boxes off.
      QTest::mouseClick(d.rbWinLogin, Qt::LeftButton);
      QVERIFY(d.btnOK->isEnabled());
      QVERIFY(!d.edtSQLPassword->isEnabled());
    });
  }

  void globalValues_data() {
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("instance");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("databaseBox");
    QTest::newRow("both") << ""
                          << "GLOBAL\\I1"
                          << "Sales"
                          << "GLOBAL\\I1"
                          << "Sales";
    QTest::newRow("no database: login default") << ""
                                                << "GLOBAL"
                                                << ""
                                                << "GLOBAL"
                                                << "";
    QTest::newRow("no instance") << ""
                                 << ""
                                 << "Sales"
                                 << ""
                                 << "master";
    QTest::newRow("recent list wins") << RecentList("R1:master::0|") << "GLOBAL"
                                      << "Sales"
                                      << "R1"
                                      << "master";
  }

  void globalValues() {
    QFETCH(QString, ini);
    QFETCH(QString, instance);
    QFETCH(QString, database);
    QFETCH(QString, server);
    QFETCH(QString, databaseBox);
    std::map<QString, QString> globals;
    if (!instance.isEmpty()) globals["SQLInstance"] = instance;
    if (!database.isEmpty()) globals["Database"] = database;
    OpenStore(ini, globals);
    RunDialog([&](TfrmConnect& d) {
      QCOMPARE(d.edtSQLServer->currentText(), server);
      QCOMPARE(d.edtDatabase->currentText(), databaseBox);
      // A fresh profile waits for a login; the recent line (Windows) does not.
      QCOMPARE(d.btnOK->isEnabled(), ini.isEmpty() ? false : true);
      QTest::mouseClick(d.rbWinLogin, Qt::LeftButton);
      QCOMPARE(d.btnOK->isEnabled(), !server.isEmpty());
    });
  }

  void malformedLastDBTypeShowsErrorAndOpens() {
    OpenStore(RecentList("SQL01:master:monitor:0|") + "LastDBType=one\n");
    ModalHook::SetNextAnswer("ApplicationErrorBox", QMessageBox::Ok);
    RunDialog([](TfrmConnect& d) {
      QCOMPARE(ModalHook::PendingAnswers("ApplicationErrorBox"), 0);
      // What was done before the failing step stays.
      QCOMPARE(d.edtSQLServer->currentText(), QString("SQL01"));
      QCOMPARE(d.edtSQLLogin->text(), QString("monitor"));
      QVERIFY(d.btnOK->isEnabled());
    });
  }

  void browser_data() {
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("login");
    QTest::newRow("OK applies the recent line") << true << "BRAVO\\SQL2008"
                                                << "ops";
    QTest::newRow("Cancel changes nothing") << false << "WIN1"
                                            << "";
  }

  void browser() {
    QFETCH(bool, accept);
    QFETCH(QString, server);
    QFETCH(QString, login);
    OpenStore(RecentList("WIN1:master::0|bravo\\sql2008:master:ops:0|"));
    ModalHook::SetNextAnswer("frmSelectServer", [accept](QDialog& d) {
      auto& browser = static_cast<TfrmSelectServer&>(d);
      if (!accept) return int(QDialog::Rejected);
      [&] { QTRY_VERIFY(!browser.Searching()); }();
      browser.lbServers->setCurrentRow(2); // under the heading: ALPHA, BRAVO\SQL2008
      browser.lbServersClick();
      browser.btnOK->click();
      return d.result();
    });
    RunDialog([&](TfrmConnect& d) {
      d.btnBrowseSQLServer->click();
      QCOMPARE(ModalHook::PendingAnswers("frmSelectServer"), 0);
      QCOMPARE(d.edtSQLServer->currentText(), server);
      QCOMPARE(d.edtSQLLogin->text(), login);
      QCOMPARE(d.rbSQLLogin->isChecked(), accept);
      QVERIFY(d.findChildren<TfrmSelectServer*>().isEmpty()); // destroyed in every case
    });
  }

  void successSavesConnection() {
    const QString sim = FSim.ServerName();
    OpenStore(RecentList(QStringLiteral("OTHER:master::0|%1:master:monitor:0|").arg(sim)));
    TErrorBoxSeen seen;
    ExpectErrorBox(seen); // must stay unused
    const TConnectDialogOutcome outcome = RunDialog([&sim](TfrmConnect& d) {
      TypeServer(d, sim);
      QCOMPARE(d.edtSQLLogin->text(), QString("monitor"));
      QTest::keyClicks(d.edtSQLPassword, QLatin1String(kPassword));
      d.btnOK->click();
      QVERIFY(!d.isVisible());
    });
    QVERIFY2(seen.Count == 0, qPrintable(seen.Text));
    ModalHook::ClearAll();
    QVERIFY(outcome.Accepted);
    const TSQLConnectionProperties& props = outcome.ConnectionProperties;
    QCOMPARE(props.DBType, TDBType::dbtSQLServer);
    QCOMPARE(props.Instance, sim);
    QCOMPARE(props.Database, QString("master"));
    QCOMPARE(props.SQLLogin, QString("monitor"));
    QCOMPARE(props.SQLPassword, QString(kPassword));
    QCOMPARE(props.Provider, std::uint8_t(0));
    // A new session that was only tested, not connected.
    QVERIFY(outcome.Session);
    QVERIFY(!outcome.Session->IsConnected());
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

    const QString expected = QStringLiteral("%1:master:monitor:0|OTHER:master::0|").arg(sim);
    QCOMPARE(dmMain->GetSettingString("ConnectionListSQL", {}), expected);
    QCOMPARE(dmMain->GetSettingInteger("LastDBType", 0), 1);
    {
      QFile f(SettingsFile()); // the list is on disk at once
      QVERIFY(f.open(QIODevice::ReadOnly));
      QVERIFY(f.readAll().contains(expected.toUtf8()));
    }

    // LastDBType reaches the disk at the latest when the store goes; the password never does.
    dmMain = nullptr;
    FStore.reset();
    QFile f(SettingsFile());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray ini = f.readAll();
    QVERIFY(ini.contains("LastDBType=1"));
    QVERIFY(!ini.contains(kPassword));
  }

  // What OK hands to the test, from the controls; the closed port fails fast on loopback.
  void recordFromControls_data() {
    QTest::addColumn<bool>("sqlAuth");
    QTest::addColumn<QString>("login");
    QTest::addColumn<int>("provider");
    QTest::addColumn<QString>("globalDatabase");
    QTest::addColumn<QString>("expectLogin");
    QTest::addColumn<QString>("expectPassword");
    QTest::addColumn<QString>("expectDatabase");
    // The server comes from the global "SQLInstance"; an empty "Database" then means the
    // login's default database.
    // clang-format off
    QTest::newRow("windows ignores typed login and password")
        << false << "monitor" << 1 << "" << "" << "" << "";
    QTest::newRow("padded login passed unchanged")
        << true << "  monitor " << 0 << "" << "  monitor " << "typed" << "";
    QTest::newRow("global database kept") << false << "" << 0 << "Sales" << "" << "" << "Sales";
    QTest::newRow("(DEFAULT) means the login's database")
        << false << "" << 0 << "(DEFAULT)" << "" << "" << "";
    // clang-format on
  }

  void recordFromControls() {
    QFETCH(bool, sqlAuth);
    QFETCH(QString, login);
    QFETCH(int, provider);
    QFETCH(QString, globalDatabase);
    QFETCH(QString, expectLogin);
    QFETCH(QString, expectPassword);
    QFETCH(QString, expectDatabase);
    const QString closed = QStringLiteral("127.0.0.1,1");
    OpenStore({}, {{"SQLInstance", closed}, {"Database", globalDatabase}});
    TErrorBoxSeen seen;
    TSQLConnectionProperties tried;
    RunDialog([&](TfrmConnect& d) {
      QCOMPARE(d.edtSQLServer->currentText(), closed);
      QTest::mouseClick(d.rbSQLLogin, Qt::LeftButton);
      QTest::keyClicks(d.edtSQLLogin, login);
      QTest::keyClicks(d.edtSQLPassword, "typed");
      if (!sqlAuth) QTest::mouseClick(d.rbWinLogin, Qt::LeftButton);
      d.cbProvider->setCurrentIndex(provider);
      d.cbEncryption->setCurrentIndex(int(TEncryption::Optional));
      ExpectErrorBox(seen);
      d.btnOK->click();
      tried = d.ConnectionProperties;
      d.btnCancel->click();
    });
    QCOMPARE(seen.Count, 1);
    QCOMPARE(tried.Instance, closed);
    QCOMPARE(tried.SQLLogin, expectLogin);
    QCOMPARE(tried.SQLPassword, expectPassword);
    QCOMPARE(tried.Database, expectDatabase);
    QCOMPARE(int(tried.Provider), provider);
    QCOMPARE(tried.Driver, provider ? QString("FreeTDS") : QString());
    QCOMPARE(tried.Encryption, TEncryption::Optional);
  }

  void failedTestKeepsDialogOpen_data() {
    QTest::addColumn<QString>("server"); // "sim" stands for the simulator's name
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("database");
    QTest::newRow("wrong password") << "sim"
                                    << "monitor"
                                    << "wrong"
                                    << "master";
    QTest::newRow("server name with a colon") << "tcp:nohost.invalid,1"
                                              << "monitor"
                                              << "wrong"
                                              << "master";
  }

  void failedTestKeepsDialogOpen() {
    QFETCH(QString, server);
    QFETCH(QString, login);
    QFETCH(QString, password);
    QFETCH(QString, database);
    if (server == "sim") server = FSim.ServerName();
    const QString before = RecentList("KEEP:master::0|");
    OpenStore(before);
    TErrorBoxSeen seen;
    TSQLConnectionProperties tried;
    const TConnectDialogOutcome outcome = RunDialog([&](TfrmConnect& d) {
      TypeServer(d, server);
      QTest::mouseClick(d.rbSQLLogin, Qt::LeftButton);
      QTest::keyClicks(d.edtSQLLogin, login);
      QTest::keyClicks(d.edtSQLPassword, password);
      d.cbEncryption->setCurrentIndex(int(TEncryption::Optional)); // the simulator has no TLS
      ExpectErrorBox(seen);
      d.btnOK->click();
      tried = d.ConnectionProperties;
      QCOMPARE(seen.Count, 1);
      // Still open, nothing changed, and OK may be pressed again.
      QVERIFY(d.isVisible());
      QCOMPARE(d.result(), 0);
      QCOMPARE(d.edtSQLServer->currentText(), server);
      QCOMPARE(d.edtSQLLogin->text(), login);
      QCOMPARE(d.edtSQLPassword->text(), password);
      QVERIFY(d.rbSQLLogin->isChecked());
      QVERIFY(d.btnOK->isEnabled());
      QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
      d.btnCancel->click();
    });
    QVERIFY(!outcome.Accepted);
    QCOMPARE(tried.Instance, server);
    QCOMPARE(tried.Database, database);

    QCOMPARE(seen.WindowTitle, QString("Error"));
    QCOMPARE(seen.Header, QString("Application error"));
    QCOMPARE(seen.Caption, QString("Connection failure"));
    const QString head =
        QStringLiteral("Velmora failed to connect to the server (%1).  Error messages:\n\n")
            .arg(server);
    QVERIFY2(seen.Text.startsWith(head), qPrintable(seen.Text));
    const QString error = QStringLiteral("Error connecting to database (%1) on instance (%2): ")
                              .arg(database, server);
    QVERIFY2(seen.Text.mid(head.size()).startsWith(error), qPrintable(seen.Text));

    // The failed test left no session behind and saved nothing.
    QVERIFY(!outcome.Session);
    QCOMPARE(dmMain->GetSettingString("ConnectionListSQL", {}), QString("KEEP:master::0|"));
    QCOMPARE(dmMain->GetSettingInteger("LastDBType", 0), 0);
  }

  void secondOkAfterFailureSucceeds() {
    OpenStore({});
    TErrorBoxSeen seen;
    const TConnectDialogOutcome outcome = RunDialog([&](TfrmConnect& d) {
      TypeServer(d, FSim.ServerName());
      QTest::mouseClick(d.rbSQLLogin, Qt::LeftButton);
      QTest::keyClicks(d.edtSQLLogin, "monitor");
      QTest::keyClicks(d.edtSQLPassword, "wrong");
      d.cbEncryption->setCurrentIndex(int(TEncryption::Optional)); // the simulator has no TLS
      ExpectErrorBox(seen);
      d.btnOK->click();
      d.edtSQLPassword->setText(QLatin1String(kPassword));
      d.btnOK->click();
    });
    QCOMPARE(seen.Count, 1);
    QVERIFY(outcome.Accepted);
    QCOMPARE(dmMain->GetSettingString("ConnectionListSQL", {}),
             FSim.ServerName() + ":master:monitor:0|");
  }
};

QTEST_MAIN(TestConnectDialog)
#include "test_connectdialog.moc"
