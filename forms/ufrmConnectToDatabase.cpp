#include "forms/ufrmConnectToDatabase.h"

#include "common/uCommonGUI.h"
#include "common/udmCommon.h"
#include "forms/ufrmBrowseServers.h"
#include "forms/ufrmMessageBox.h"
#include "platform/gui/uGridView.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uModalHook.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QToolButton>
#include <optional>
#include <utility>

namespace {

// A recent line names a server when its first colon is its second character or later.
QString ServerOfLine(const QString& line) {
  const qsizetype colon = line.indexOf(QLatin1Char(':'));
  return colon >= 1 ? line.left(colon) : QString();
}

// The text after the first colon of `text`, or empty when there is none.
QString AfterColon(const QString& text) {
  const qsizetype colon = text.indexOf(QLatin1Char(':'));
  return colon < 0 ? QString() : text.mid(colon + 1);
}

QLabel* MakeLabel(const QString& text, QWidget* parent, const char* name, int x, int y) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->move(x, y);
  label->adjustSize();
  return label;
}

} // namespace

TfrmConnect::TfrmConnect(QWidget* owner) : QDialog(owner) {
  setObjectName("frmConnect");
  setWindowTitle(tr("Connect to Database"));
  setFixedSize(505, 416);

  pnlJobList = new THeaderPanel(this);
  pnlJobList->setObjectName("pnlJobList");
  pnlJobList->setGeometry(0, 0, 505, 416);
  pnlJobList->SetCaption(tr("  Connect to database"));
  pnlJobList->SetHeaderHeight(48);
  pnlJobList->SetCaptionIndent(48);
  QFont headerFont = pnlJobList->HeaderFont();
  headerFont.setBold(true);
  headerFont.setPixelSize(16);
  pnlJobList->SetHeaderFont(headerFont);

  Image2 = new QLabel(pnlJobList->HeaderBand());
  Image2->setObjectName("Image2");
  Image2->setGeometry(16, 8, 32, 32);
  Image2->setPixmap(QIcon(QStringLiteral(":/velmora/toolbar0.svg")).pixmap(32, 32));
  Image2->setAttribute(Qt::WA_TranslucentBackground);

  pgcMain = new QTabWidget(this);
  pgcMain->setObjectName("pgcMain");
  pgcMain->setGeometry(16, 64, 473, 281);

  tabSQLServer = new QWidget;
  tabSQLServer->setObjectName("tabSQLServer");
  pgcMain->addTab(tabSQLServer, tr("SQL Server database"));

  edtSQLServer = new QComboBox(tabSQLServer);
  edtSQLServer->setObjectName("edtSQLServer");
  edtSQLServer->setEditable(true);
  edtSQLServer->setInsertPolicy(QComboBox::NoInsert);
  // The box holds exactly what the user typed: the recent line fills the rest.
  edtSQLServer->setCompleter(nullptr);
  // Leaving the box or pressing Enter would make the combo box pick the entry that matches in
  // any letter case: it would replace the typed text and apply that recent line once more.
  QObject::disconnect(edtSQLServer->lineEdit(), SIGNAL(returnPressed()), edtSQLServer, nullptr);
  QObject::disconnect(edtSQLServer->lineEdit(), SIGNAL(editingFinished()), edtSQLServer, nullptr);
  edtSQLServer->setGeometry(104, 25, 305, 21);
  TntLabel1 = MakeLabel(tr("S&QL Server"), tabSQLServer, "TntLabel1", 16, 28);
  TntLabel1->setBuddy(edtSQLServer);

  btnBrowseSQLServer = new QToolButton(tabSQLServer);
  btnBrowseSQLServer->setObjectName("btnBrowseSQLServer");
  btnBrowseSQLServer->setText(QStringLiteral("..."));
  btnBrowseSQLServer->setToolTip(tr("Browse for SQL Server instances..."));
  btnBrowseSQLServer->setAccessibleName(tr("Browse for SQL Server instances"));
  btnBrowseSQLServer->setGeometry(416, 24, 22, 22);
  btnBrowseSQLServer->setFocusPolicy(Qt::StrongFocus);

  edtDatabase = new QComboBox(tabSQLServer);
  edtDatabase->setObjectName("edtDatabase");
  edtDatabase->setEditable(true);
  edtDatabase->setInsertPolicy(QComboBox::NoInsert);
  edtDatabase->addItem(QStringLiteral("(default)"));
  edtDatabase->setEditText(QStringLiteral("(default)"));
  edtDatabase->setGeometry(104, 49, 305, 21);
  edtDatabase->setEnabled(false);
  lblDatabase = MakeLabel(tr("&Database"), tabSQLServer, "lblDatabase", 16, 52);
  lblDatabase->setBuddy(edtDatabase);
  lblDatabase->setEnabled(false);

  cbProvider = new QComboBox(tabSQLServer);
  cbProvider->setObjectName("cbProvider");
  cbProvider->addItems({QStringLiteral("(auto)"), QStringLiteral("MDAC")});
  cbProvider->setCurrentIndex(0);
  cbProvider->setGeometry(104, 74, 305, 21);
  TntLabel2 = MakeLabel(tr("Pro&vider"), tabSQLServer, "TntLabel2", 16, 77);
  TntLabel2->setBuddy(cbProvider);

  TntLabel3 = MakeLabel(tr("Connect using"), tabSQLServer, "TntLabel3", 18, 115);
  rbWinLogin = new QRadioButton(tr("&Windows authentication"), tabSQLServer);
  rbWinLogin->setObjectName("rbWinLogin");
  rbWinLogin->move(56, 136);
  rbWinLogin->adjustSize();
  rbWinLogin->setChecked(true);
  rbSQLLogin = new QRadioButton(tr("SQL Server &authentication"), tabSQLServer);
  rbSQLLogin->setObjectName("rbSQLLogin");
  rbSQLLogin->move(56, 160);
  rbSQLLogin->adjustSize();

  edtSQLLogin = new QLineEdit(tabSQLServer);
  edtSQLLogin->setObjectName("edtSQLLogin");
  edtSQLLogin->setGeometry(152, 188, 257, 21);
  edtSQLLogin->setEnabled(false);
  lblSQLLogin = MakeLabel(tr("Login &name"), tabSQLServer, "lblSQLLogin", 72, 191);
  lblSQLLogin->setBuddy(edtSQLLogin);
  lblSQLLogin->setEnabled(false);

  edtSQLPassword = new QLineEdit(tabSQLServer);
  edtSQLPassword->setObjectName("edtSQLPassword");
  edtSQLPassword->setEchoMode(QLineEdit::Password);
  edtSQLPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // '*'
  edtSQLPassword->setGeometry(152, 212, 257, 21);
  edtSQLPassword->setEnabled(false);
  lblSQLPassword = MakeLabel(tr("&Password"), tabSQLServer, "lblSQLPassword", 72, 215);
  lblSQLPassword->setBuddy(edtSQLPassword);
  lblSQLPassword->setEnabled(false);

  // The local page exists in the form but is hidden whenever the dialog shows.
  tabLocal = new QWidget;
  tabLocal->setObjectName("tabLocal");
  edtDataPath = new QLineEdit(tabLocal);
  edtDataPath->setObjectName("edtDataPath");
  edtDataPath->setReadOnly(true);
  edtDataPath->setGeometry(104, 25, 305, 21);
  lblDataPath = MakeLabel(tr("Data path"), tabLocal, "lblDataPath", 16, 28);
  pgcMain->addTab(tabLocal, tr("Local database"));

  Bevel1 = new QFrame(this);
  Bevel1->setObjectName("Bevel1");
  Bevel1->setFrameShape(QFrame::HLine);
  Bevel1->setFrameShadow(QFrame::Sunken);
  Bevel1->setGeometry(16, 351, 473, 2);

  btnOK = new QPushButton(tr("OK"), this);
  btnOK->setObjectName("btnOK");
  btnOK->setGeometry(325, 376, 75, 25);
  btnOK->setDefault(true);
  btnOK->setEnabled(false);
  btnCancel = new QPushButton(tr("Cancel"), this);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setGeometry(410, 376, 75, 25);

  setTabOrder(pgcMain, edtSQLServer);
  setTabOrder(edtSQLServer, btnBrowseSQLServer);
  setTabOrder(btnBrowseSQLServer, edtDatabase);
  setTabOrder(edtDatabase, rbWinLogin);
  setTabOrder(rbWinLogin, rbSQLLogin);
  setTabOrder(rbSQLLogin, edtSQLLogin);
  setTabOrder(edtSQLLogin, edtSQLPassword);
  setTabOrder(edtSQLPassword, cbProvider);
  setTabOrder(cbProvider, btnOK);
  setTabOrder(btnOK, btnCancel);

  // Typing runs the steps without moving the focus; choosing from the list moves it.
  connect(edtSQLServer->lineEdit(), &QLineEdit::textEdited, this, &TfrmConnect::edtSQLServerChange);
  connect(edtSQLServer, &QComboBox::textActivated, this, [this] { ServerChosen(); });
  connect(btnBrowseSQLServer, &QToolButton::clicked, this,
          [this] { RunGuarded([this] { btnBrowseSQLServerClick(); }); });
  connect(rbWinLogin, &QRadioButton::clicked, this, &TfrmConnect::rbWinLoginClick);
  connect(rbSQLLogin, &QRadioButton::clicked, this, &TfrmConnect::rbWinLoginClick);
  connect(edtSQLLogin, &QLineEdit::textChanged, this, &TfrmConnect::edtSQLLoginChange);
  connect(edtSQLPassword, &QLineEdit::textChanged, this, &TfrmConnect::edtSQLLoginChange);
  connect(edtDataPath, &QLineEdit::textChanged, this, &TfrmConnect::edtSQLLoginChange);
  connect(btnOK, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnOKClick(); }); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  FormCreate();
}

TfrmConnect::~TfrmConnect() = default;

void TfrmConnect::FormCreate() {
  FRecentLines.clear();
}

void TfrmConnect::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The window system's own show events (restoring from minimised) are no new opening: they
  // must not replace what the user has entered.
  if (event->spontaneous()) return;
  // A malformed stored value stops the remaining steps; the dialog opens as far as it got.
  RunGuarded([this] { FormShow(); });
}

void TfrmConnect::FormShow() {
  pgcMain->setTabVisible(pgcMain->indexOf(tabLocal), false);
  pgcMain->setCurrentWidget(tabSQLServer);

  edtDatabase->setEditText(QStringLiteral("master"));
  lblDatabase->setEnabled(true);

  LoadRecentServers();

  if (edtSQLServer->currentText().isEmpty()) {
    const QString instance =
        dmMain->GetGlobalSetting(QString::fromLatin1(Settings::GlobalSQLInstance.Key), QString());
    edtSQLServer->setEditText(instance);
    if (!instance.isEmpty()) {
      edtDatabase->setEditText(
          dmMain->GetGlobalSetting(QString::fromLatin1(Settings::GlobalDatabase.Key), QString()));
      if (!edtDatabase->currentText().isEmpty()) {
        lblDatabase->setEnabled(true);
        UpdateOKButton();
      }
    }
  }

  // The stored type would pick the page; with the local page hidden the SQL Server page stays
  // active whatever it holds. A malformed value still reports its error here.
  static_cast<void>(dmMain->GetSettingInteger(Settings::LastDBType));
  pgcMain->setCurrentWidget(tabSQLServer);
  ApplyPreset();
}

namespace {
std::optional<TConnectPreset>& PendingPreset() {
  static std::optional<TConnectPreset> preset;
  return preset;
}
} // namespace

void SetConnectDialogPreset(const TConnectPreset& preset) {
  PendingPreset() = preset;
}

void TfrmConnect::ApplyPreset() {
  const std::optional<TConnectPreset> preset = std::exchange(PendingPreset(), std::nullopt);
  if (!preset) return;
  if (!preset->Server.isEmpty()) {
    edtSQLServer->setEditText(preset->Server);
    ServerChosen(); // a recent line for this server fills in what the command line leaves open
  }
  if (preset->Integrated) {
    rbWinLogin->setChecked(true);
    edtSQLLogin->clear();
  } else if (!preset->Login.isEmpty()) {
    rbSQLLogin->setChecked(true);
    edtSQLLogin->setText(preset->Login);
  }
  rbWinLoginClick();
  if (!preset->Database.isEmpty()) edtDatabase->setEditText(preset->Database);
  UpdateOKButton();
  if (rbSQLLogin->isChecked() && !edtSQLLogin->text().isEmpty())
    edtSQLPassword->setFocus();
  else if (btnOK->isEnabled())
    btnOK->setFocus();
}

void TfrmConnect::LoadRecentServers() {
  QString list = dmMain->GetSettingString(Settings::ConnectionListSQL);
  list.replace(QLatin1Char('|'), QLatin1Char('\n'));
  FRecentLines = list.split(QLatin1Char('\n'));
  // A final bar ends the last line; it adds no empty line of its own.
  if (!FRecentLines.isEmpty() && FRecentLines.last().isEmpty()) FRecentLines.removeLast();

  edtSQLServer->clear();
  for (const QString& line : std::as_const(FRecentLines)) {
    const QString server = ServerOfLine(line);
    if (!server.isEmpty()) edtSQLServer->addItem(server);
  }

  if (edtSQLServer->count() > 0) {
    edtSQLServer->setCurrentIndex(0);
    ServerChosen();
    // With no login in the line nothing else claims the focus; the server box is where one
    // would change the proposal.
    if (!rbSQLLogin->isChecked()) edtSQLServer->setFocus();
  } else {
    edtSQLServer->setEditText(QString());
    edtSQLServerChange();
    edtSQLServer->setFocus();
  }
}

void TfrmConnect::edtSQLServerChange() {
  ApplyRecentConnection(false);
  UpdateOKButton();
}

void TfrmConnect::ServerChosen() {
  ApplyRecentConnection(true);
  UpdateOKButton();
}

void TfrmConnect::ApplyRecentConnection(bool moveFocus) {
  const QString key = edtSQLServer->currentText().toUpper();
  for (const QString& line : std::as_const(FRecentLines)) {
    const QString server = ServerOfLine(line);
    if (server.isEmpty() || server.toUpper() != key) continue;

    QString rest = AfterColon(line);
    rest = AfterColon(rest); // the database field is not used
    const QString login = rest.section(QLatin1Char(':'), 0, 0);
    edtSQLLogin->setText(login);
    if (!login.isEmpty()) {
      rbSQLLogin->setChecked(true);
      rbWinLoginClick();
      if (moveFocus) edtSQLPassword->setFocus();
    }

    rest = AfterColon(rest);
    if (rest.startsWith(QLatin1Char('1'))) cbProvider->setCurrentIndex(1);
    return;
  }
}

void TfrmConnect::rbWinLoginClick() {
  const bool sqlLogin = rbSQLLogin->isChecked();
  lblSQLLogin->setEnabled(sqlLogin);
  lblSQLPassword->setEnabled(sqlLogin);
  edtSQLLogin->setEnabled(sqlLogin);
  edtSQLPassword->setEnabled(sqlLogin);
  UpdateOKButton();
}

void TfrmConnect::edtSQLLoginChange() {
  UpdateOKButton();
}

void TfrmConnect::UpdateOKButton() {
  bool enabled = lblDatabase->isEnabled();
  if (enabled && rbSQLLogin->isChecked()) enabled = !edtSQLLogin->text().trimmed().isEmpty();
  btnOK->setEnabled(enabled);
}

void TfrmConnect::btnBrowseSQLServerClick() {
  TfrmSelectServer browser(this);
  if (ModalHook::Exec(browser) != QDialog::Accepted) return;
  edtSQLServer->setEditText(browser.GetSelectedServer());
  ServerChosen();
}

void TfrmConnect::FillConnectionProperties() {
  const bool sqlLogin = rbSQLLogin->isChecked();
  TSQLConnectionProperties props;
  props.DBType = TDBType::dbtSQLServer;
  props.Instance = edtSQLServer->currentText();
  props.Database = edtDatabase->currentText();
  if (props.Database.compare(QStringLiteral("(default)"), Qt::CaseInsensitive) == 0)
    props.Database.clear();
  props.SQLLogin = sqlLogin ? edtSQLLogin->text() : QString();
  props.SQLPassword = sqlLogin ? edtSQLPassword->text() : QString();
  props.Provider = cbProvider->currentIndex() == 1 ? 1 : 0;
  ConnectionProperties = props;
}

void TfrmConnect::btnOKClick() {
  FillConnectionProperties();

  // The test runs on a session of its own: the main window's connection stays as it is until
  // this one has passed and the window has connected it.
  auto session = std::make_unique<TSession>(SessionSettingsFromStore());
  TConnectionTest test;
  {
    const TBusyCursor busy;
    test = RunConnectionTest(*session);
  }
  // Cancelled by the user: back to the dialog, nothing to report.
  if (test.Cancelled) return;

  if (test.Passed) {
    FSession = std::move(session);
    dmMain->SaveRecentConnection(ConnectionProperties);
    dmMain->SetSettingInteger(QString::fromLatin1(Settings::LastDBType.Key),
                              int(TDBType::dbtSQLServer));
    accept();
    return;
  }

  QString text = tr("Velmora failed to connect to the server (%1).  Error messages:")
                     .arg(edtSQLServer->currentText());
  text += QStringLiteral("\r\n\r\n");
  for (const QString& error : std::as_const(test.Errors))
    text += error + QStringLiteral("\r\n");
  frmMessageBox->ShowError(tr("Connection failure"), text);
  setResult(0);
}

std::unique_ptr<TSession> TfrmConnect::TakeSession() {
  return std::move(FSession);
}

TConnectionTest TfrmConnect::RunConnectionTest(TSession& session) {
  // Only Cancel stays usable while the test runs: it stops the login (reject() below).
  QList<QWidget*> disabled;
  for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (w != btnCancel && w->isEnabled()) {
      w->setEnabled(false);
      disabled << w;
    }
  TConnectionTest test;
  QEventLoop loop;
  connect(&session, &TSession::ConnectionTested, &loop, [&](int, const TConnectionTest& result) {
    test = result;
    loop.quit();
  });
  FTestSession = &session;
  session.TestConnection(ConnectionProperties);
  loop.exec();
  FTestSession = nullptr;
  for (QWidget* w : std::as_const(disabled))
    w->setEnabled(true);
  UpdateOKButton();
  return test;
}

void TfrmConnect::reject() {
  if (FTestSession) {
    FTestSession->Cancel();
    return;
  }
  QDialog::reject();
}

TConnectDialogOutcome ExecuteConnectDialog(QWidget* owner) {
  TfrmConnect dialog(owner);
  TConnectDialogOutcome outcome;
  outcome.Accepted = ModalHook::Exec(dialog) == QDialog::Accepted;
  if (outcome.Accepted) {
    outcome.ConnectionProperties = dialog.ConnectionProperties;
    outcome.Session = dialog.TakeSession();
  }
  return outcome;
}

void InstallConnectDialog() {
  TfrmMain::SetConnectDialogFactory(&ExecuteConnectDialog);
}
