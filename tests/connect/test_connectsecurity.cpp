// The Connect dialog's encryption against the simulator's TLS settings, through the FreeTDS
// driver: what each choice gives, the offer to trust a refused certificate, the choices kept in
// the recent line, Strict only where the driver has it, the advice on failed logins, and the
// layout at several font sizes.

#include "common/uCommon.h"
#include "common/udmCommon.h"
#include "datastore/udmDataStoreSQLServer.h"
#include "forms/ufrmConnectToDatabase.h"
#include "forms/ufrmMessageBox.h"
#include "platform/gui/uModalHook.h"
#include "platform/gui/uRichEditURL.h"
#include "uSqlSimProcess.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <functional>
#include <memory>

namespace {

QString Scenario(const QString& encryption) {
  return QStringLiteral(R"({"server": {"encryption": "%1"},
    "logins": [{"name": "monitor", "password": "pw"}],
    "databases": [{"name": "master"}]})")
      .arg(encryption);
}

// A recent line of this version: server, login, its encryption choice and a CA file.
QString Line(const QString& server, TEncryption e, bool trust, const QString& ca) {
  TSQLConnectionProperties p;
  p.Instance = server;
  p.Database = "master";
  p.SQLLogin = "monitor";
  p.Encryption = e;
  p.TrustServerCertificate = trust;
  p.CAFile = ca;
  return TdmMain::FormatRecentLine(p);
}

struct TBoxSeen {
  int Count = 0;
  QString Text;
};

} // namespace

class TestConnectSecurity : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> FDir;
  std::unique_ptr<TdmMain> FStore;
  std::unique_ptr<TfrmMessageBox> FBox;

  void OpenStore(const QString& recentList) {
    FStore = std::make_unique<TdmMain>(FDir->filePath("settings.ini"), nullptr);
    if (!recentList.isEmpty()) FStore->SetSettingString("ConnectionListSQL", recentList);
    dmMain = FStore.get();
  }

  static TConnectDialogOutcome RunDialog(const std::function<void(TfrmConnect&)>& body) {
    ModalHook::SetNextAnswer("frmConnect", [&body](QDialog& d) {
      body(static_cast<TfrmConnect&>(d));
      return d.result();
    });
    return ExecuteConnectDialog(nullptr);
  }

  // The next message box: records its text and answers Yes/OK or No.
  static void ExpectBox(TBoxSeen& seen, bool yes = true) {
    ModalHook::SetNextAnswer("frmMessageBox", [&seen, yes](QDialog& d) {
      ++seen.Count;
      seen.Text = static_cast<TfrmMessageBox&>(d).mmText->toPlainText();
      return int(yes ? QDialog::Accepted : QDialog::Rejected);
    });
  }

  // Opens the dialog on the most recent line, types the password and presses OK.
  static TConnectDialogOutcome ConnectWithPassword() {
    return RunDialog([](TfrmConnect& d) {
      d.edtSQLPassword->setText("pw");
      d.btnOK->click();
      if (d.isVisible()) d.btnCancel->click();
    });
  }

private Q_SLOTS:
  void initTestCase() {
    // No freetds.conf of this machine takes part, and no Kerberos ticket is at hand.
    static QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("FREETDSCONF", QFile::encodeName(home.filePath("none.conf")));
    qputenv("KRB5CCNAME", QFile::encodeName("FILE:" + home.filePath("no-ticket")));
  }

  void init() {
    ModalHook::ClearAll();
    ModalHook::SetStrict(true);
    FDir = std::make_unique<QTemporaryDir>();
    InitApplicationFolders(FDir->filePath("user"), FDir->filePath("common"));
    FBox = std::make_unique<TfrmMessageBox>();
    frmMessageBox = FBox.get();
    TfrmConnect::SetDriverSource([] {
      return QList<TOdbcDriverInfo>{{"FreeTDS", "libtdsodbc.so"}};
    });
    TfrmConnect::SetCertificateFolder(FDir->filePath("certificates"));
  }

  void cleanup() {
    QCOMPARE(ModalHook::UnansweredCount(), 0);
    ModalHook::ClearAll();
    TfrmConnect::SetDriverSource({});
    TfrmConnect::SetCertificateFolder({});
    dmMain = nullptr;
    FStore.reset();
    frmMessageBox = nullptr;
    FBox.reset();
  }

  // Each choice against each server setting: accepted, or refused with a reason. The line's
  // choice comes back into the dialog and is saved again with the connection.
  void choices_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("encryption");
    QTest::addColumn<bool>("trust");
    QTest::addColumn<bool>("withCa");
    QTest::addColumn<QString>("refusal"); // part of the box's text; empty: accepted

    const int opt = int(TEncryption::Optional), man = int(TEncryption::Mandatory);
    QTest::newRow("off, optional") << "off" << opt << false << false << "";
    QTest::newRow("off, mandatory")
        << "off" << man << false << false << "The server offers no encryption at all";
    QTest::newRow("on, optional, CA") << "on" << opt << false << true << "";
    QTest::newRow("on, mandatory, CA") << "on" << man << false << true << "";
    QTest::newRow("on, mandatory, trusting") << "on" << man << true << false << "";
    QTest::newRow("required, optional, CA") << "required" << opt << false << true << "";
    QTest::newRow("required, mandatory, CA") << "required" << man << false << true << "";
    QTest::newRow("strict, mandatory, trusting")
        << "strict" << man << true << false << "Adaptive Server connection failed";
  }
  void choices() {
    QFETCH(QString, server);
    QFETCH(int, encryption);
    QFETCH(bool, trust);
    QFETCH(bool, withCa);
    QFETCH(QString, refusal);
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario(server)), qPrintable(sim.ErrorString()));
    const QString line =
        Line(sim.ServerName(), TEncryption(encryption), trust, withCa ? sim.CaFile() : QString());
    OpenStore(line + "|");
    TBoxSeen seen;
    if (!refusal.isEmpty()) ExpectBox(seen);
    const TConnectDialogOutcome outcome = RunDialog([&](TfrmConnect& d) {
      QCOMPARE(d.cbEncryption->currentIndex(), encryption);
      QCOMPARE(d.chkTrustServerCertificate->isChecked(), trust);
      d.edtSQLPassword->setText("pw");
      d.btnOK->click();
      if (d.isVisible()) d.btnCancel->click();
    });
    QCOMPARE(outcome.Accepted, refusal.isEmpty());
    if (!refusal.isEmpty()) {
      QVERIFY2(seen.Text.contains(refusal), qPrintable(seen.Text));
      return;
    }
    QCOMPARE(outcome.ConnectionProperties.Encryption, TEncryption(encryption));
    QCOMPARE(dmMain->GetSettingString("ConnectionListSQL", {}), line + "|");
  }

  // A certificate that fails the check: the box says why and offers to trust it; Yes keeps a
  // copy, connects at once, and the recent line trusts that one certificate from then on.
  void trustRefusedCertificate() {
    TSqlSimProcess sim;
    TSqlSimOptions options;
    options.TlsNames = {"db.example"};
    QVERIFY2(sim.Start(Scenario("required"), options), qPrintable(sim.ErrorString()));
    OpenStore(Line(sim.ServerName(), TEncryption::Mandatory, false, sim.CaFile()) + "|");

    TBoxSeen no;
    ExpectBox(no, false);
    QVERIFY(!ConnectWithPassword().Accepted);
    QVERIFY2(no.Text.contains("is for db.example, not for \"127.0.0.1\""), qPrintable(no.Text));
    QVERIFY2(no.Text.contains("Trust this certificate for this connection?"), qPrintable(no.Text));
    QVERIFY(!QFile::exists(FDir->filePath("certificates")) ||
            QDir(FDir->filePath("certificates")).isEmpty());

    TBoxSeen yes;
    ExpectBox(yes, true);
    const TConnectDialogOutcome outcome = ConnectWithPassword();
    QCOMPARE(yes.Count, 1);
    QVERIFY(outcome.Accepted);
    const QString kept = outcome.ConnectionProperties.ServerCertificate;
    QVERIFY(kept.startsWith(FDir->filePath("certificates")));
    QFile keptFile(kept), served(sim.ServerCertFile());
    QVERIFY(keptFile.open(QIODevice::ReadOnly) && served.open(QIODevice::ReadOnly));
    QCOMPARE(keptFile.readAll(), served.readAll());
    const auto saved = TdmMain::ParseRecentLine(
        TdmMain::RecentLines(dmMain->GetSettingString("ConnectionListSQL", {})).first());
    QVERIFY(saved);
    QCOMPARE(saved->ServerCertificate, kept);
    QCOMPARE(saved->Encryption, TEncryption::Mandatory);

    // The next time no question is asked.
    QVERIFY(ConnectWithPassword().Accepted);
  }

  void strictOnlyWhereTheDriverHasIt_data() {
    QTest::addColumn<QString>("driver");
    QTest::addColumn<bool>("strict");
    QTest::newRow("FreeTDS 1.3") << "FreeTDS" << false;
    QTest::newRow("ODBC Driver 18") << "ODBC Driver 18 for SQL Server" << true;
  }
  void strictOnlyWhereTheDriverHasIt() {
    QFETCH(QString, driver);
    QFETCH(bool, strict);
    TfrmConnect::SetDriverSource([driver] { return QList<TOdbcDriverInfo>{{driver, {}}}; });
    OpenStore({});
    RunDialog([&](TfrmConnect& d) {
      auto* model = qobject_cast<QStandardItemModel*>(d.cbEncryption->model());
      QVERIFY(model);
      QCOMPARE(d.cbEncryption->itemText(2), QString("Strict (TDS 8.0)"));
      QCOMPARE(model->item(2)->isEnabled(), strict);
      if (!strict) {
        QVERIFY(model->item(2)->toolTip().contains("cannot encrypt strictly"));
        QVERIFY(d.cbEncryption->toolTip().contains("FreeTDS 1.5"));
      }
    });
  }

  // Failed logins keep the driver's text, gain the error number, and say what to check.
  void failureAdvice_data() {
    QTest::addColumn<bool>("sqlLogin");
    QTest::addColumn<QStringList>("parts");
    QTest::newRow("wrong password")
        << true << QStringList{"Login failed for user 'monitor'. (error 18456)", "What to check"};
    QTest::newRow("Windows authentication without a ticket")
        << false << QStringList{"kinit user@EXAMPLE.COM"};
  }
  void failureAdvice() {
    QFETCH(bool, sqlLogin);
    QFETCH(QStringList, parts);
    TSqlSimProcess sim;
    QVERIFY2(sim.Start(Scenario("off")), qPrintable(sim.ErrorString()));
    OpenStore({});
    TBoxSeen seen;
    ExpectBox(seen);
    RunDialog([&](TfrmConnect& d) {
      d.edtSQLServer->setEditText(sim.ServerName());
      d.cbEncryption->setCurrentIndex(int(TEncryption::Optional));
      if (sqlLogin) {
        d.rbSQLLogin->click();
        d.edtSQLLogin->setText("monitor");
        d.edtSQLPassword->setText("wrong");
      } else {
        d.rbWinLogin->click();
      }
      d.btnOK->click();
      d.btnCancel->click();
    });
    for (const QString& part : parts)
      QVERIFY2(seen.Text.contains(part), qPrintable(seen.Text));
  }

  // At 9, 11 and 14 points the dialog grows with the font and no two controls overlap.
  void layoutAtFontSizes_data() {
    QTest::addColumn<int>("points");
    QTest::newRow("9 pt") << 9;
    QTest::newRow("11 pt") << 11;
    QTest::newRow("14 pt") << 14;
  }
  void layoutAtFontSizes() {
    QFETCH(int, points);
    const QFont before = QApplication::font();
    QFont font = before;
    font.setPointSize(points);
    QApplication::setFont(font);
    OpenStore({});
    RunDialog([&](TfrmConnect& d) {
      d.rbSQLLogin->click();
      QCoreApplication::processEvents();
      QVERIFY(d.width() >= d.minimumSizeHint().width());
      QVERIFY(d.height() >= d.minimumSizeHint().height());
      const QList<QWidget*> controls = {d.TntLabel1,          d.edtSQLServer,
                                        d.btnBrowseSQLServer, d.lblDatabase,
                                        d.edtDatabase,        d.TntLabel2,
                                        d.cbProvider,         d.lblEncryption,
                                        d.cbEncryption,       d.chkTrustServerCertificate,
                                        d.TntLabel3,          d.rbWinLogin,
                                        d.rbSQLLogin,         d.lblSQLLogin,
                                        d.edtSQLLogin,        d.lblSQLPassword,
                                        d.edtSQLPassword};
      for (qsizetype i = 0; i < controls.size(); ++i) {
        const QRect a = controls[i]->geometry();
        // Every control shows its whole size hint and lies inside the page.
        QVERIFY2(a.height() >= controls[i]->minimumSizeHint().height(),
                 qPrintable(controls[i]->objectName()));
        QVERIFY2(d.tabSQLServer->rect().contains(a), qPrintable(controls[i]->objectName()));
        for (qsizetype j = i + 1; j < controls.size(); ++j)
          QVERIFY2(
              !a.intersects(controls[j]->geometry()),
              qPrintable(controls[i]->objectName() + " overlaps " + controls[j]->objectName()));
      }
      const QRect ok = d.btnOK->geometry(), cancel = d.btnCancel->geometry();
      QVERIFY(!ok.intersects(cancel));
      QVERIFY(ok.width() >= d.btnOK->minimumSizeHint().width());
    });
    QApplication::setFont(before);
  }
};

QTEST_MAIN(TestConnectSecurity)
#include "test_connectsecurity.moc"
