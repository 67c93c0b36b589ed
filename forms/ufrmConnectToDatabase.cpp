#include "forms/ufrmConnectToDatabase.h"

#include "datastore/udmDataStoreSQLServer.h"

#include "common/uCommonGUI.h"
#include "common/udmCommon.h"
#include "forms/ufrmBrowseServers.h"
#include "forms/ufrmMessageBox.h"
#include "platform/gui/uGridView.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uModalHook.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QShowEvent>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <optional>
#include <utility>

namespace {

QLabel* MakeLabel(const QString& text, QWidget* parent, const char* name) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  return label;
}

TfrmConnect::TDriverSource& DriverSource() {
  static TfrmConnect::TDriverSource source;
  return source;
}

QString& CertificateFolder() {
  static QString folder;
  return folder;
}

} // namespace

void TfrmConnect::SetDriverSource(TDriverSource source) {
  DriverSource() = std::move(source);
}

void TfrmConnect::SetCertificateFolder(const QString& folder) {
  CertificateFolder() = folder;
}

TfrmConnect::TfrmConnect(QWidget* owner) : QDialog(owner) {
  setObjectName("frmConnect");
  setWindowTitle(tr("Connect to Database"));

  pnlJobList = new THeaderPanel(this);
  pnlJobList->setObjectName("pnlJobList");
  pnlJobList->SetCaption(tr("  Connect to database"));
  pnlJobList->SetHeaderHeight(48);
  pnlJobList->SetCaptionIndent(48);
  QFont headerFont = pnlJobList->HeaderFont();
  headerFont.setBold(true);
  headerFont.setPixelSize(16);
  pnlJobList->SetHeaderFont(headerFont);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(pnlJobList);
  // The window grows with its contents (a larger font) and never shrinks below them.
  outer->setSizeConstraint(QLayout::SetMinimumSize);

  Image2 = new QLabel(pnlJobList->HeaderBand());
  Image2->setObjectName("Image2");
  Image2->setGeometry(16, 8, 32, 32);
  Image2->setPixmap(QIcon(QStringLiteral(":/velmora/toolbar0.svg")).pixmap(32, 32));
  Image2->setAttribute(Qt::WA_TranslucentBackground);

  QWidget* client = pnlJobList->ClientArea();
  QVBoxLayout* clientLayout = pnlJobList->ClientLayout();
  clientLayout->setContentsMargins(16, 16, 16, 15);
  clientLayout->setSpacing(6);

  pgcMain = new QTabWidget(client);
  pgcMain->setObjectName("pgcMain");
  clientLayout->addWidget(pgcMain, 1);

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
  edtSQLServer->setMinimumWidth(305);
  TntLabel1 = MakeLabel(tr("S&QL Server"), tabSQLServer, "TntLabel1");
  TntLabel1->setBuddy(edtSQLServer);

  btnBrowseSQLServer = new QToolButton(tabSQLServer);
  btnBrowseSQLServer->setObjectName("btnBrowseSQLServer");
  btnBrowseSQLServer->setText(QStringLiteral("..."));
  btnBrowseSQLServer->setToolTip(tr("Browse for SQL Server instances..."));
  btnBrowseSQLServer->setAccessibleName(tr("Browse for SQL Server instances"));
  btnBrowseSQLServer->setFocusPolicy(Qt::StrongFocus);

  edtDatabase = new QComboBox(tabSQLServer);
  edtDatabase->setObjectName("edtDatabase");
  edtDatabase->setEditable(true);
  edtDatabase->setInsertPolicy(QComboBox::NoInsert);
  edtDatabase->addItem(QStringLiteral("(default)"));
  edtDatabase->setEditText(QStringLiteral("(default)"));
  edtDatabase->setEnabled(false);
  lblDatabase = MakeLabel(tr("&Database"), tabSQLServer, "lblDatabase");
  lblDatabase->setBuddy(edtDatabase);
  lblDatabase->setEnabled(false);

  cbProvider = new QComboBox(tabSQLServer);
  cbProvider->setObjectName("cbProvider");
  TntLabel2 = MakeLabel(tr("Pro&vider"), tabSQLServer, "TntLabel2");
  TntLabel2->setBuddy(cbProvider);

  cbEncryption = new QComboBox(tabSQLServer);
  cbEncryption->setObjectName("cbEncryption");
  cbEncryption->addItems({tr("Optional"), tr("Mandatory"), tr("Strict (TDS 8.0)")});
  cbEncryption->setItemData(0,
                            tr("Encrypt where the server can; otherwise the login and the "
                               "data go in clear."),
                            Qt::ToolTipRole);
  cbEncryption->setItemData(1, tr("Everything encrypted, or no connection."), Qt::ToolTipRole);
  cbEncryption->setCurrentIndex(int(TEncryption::Mandatory));
  lblEncryption = MakeLabel(tr("&Encryption"), tabSQLServer, "lblEncryption");
  lblEncryption->setBuddy(cbEncryption);
  chkTrustServerCertificate = new QCheckBox(tr("&Trust the server certificate"), tabSQLServer);
  chkTrustServerCertificate->setObjectName("chkTrustServerCertificate");
  chkTrustServerCertificate->setToolTip(
      tr("Encrypt, but accept any certificate the server presents, without checking who "
         "issued it or whom it names."));

  TntLabel3 = MakeLabel(tr("Connect using"), tabSQLServer, "TntLabel3");
  rbWinLogin = new QRadioButton(tr("&Windows authentication"), tabSQLServer);
  rbWinLogin->setObjectName("rbWinLogin");
  rbWinLogin->setChecked(true);
  rbSQLLogin = new QRadioButton(tr("SQL Server &authentication"), tabSQLServer);
  rbSQLLogin->setObjectName("rbSQLLogin");

  edtSQLLogin = new QLineEdit(tabSQLServer);
  edtSQLLogin->setObjectName("edtSQLLogin");
  edtSQLLogin->setEnabled(false);
  lblSQLLogin = MakeLabel(tr("Login &name"), tabSQLServer, "lblSQLLogin");
  lblSQLLogin->setBuddy(edtSQLLogin);
  lblSQLLogin->setEnabled(false);

  edtSQLPassword = new QLineEdit(tabSQLServer);
  edtSQLPassword->setObjectName("edtSQLPassword");
  edtSQLPassword->setEchoMode(QLineEdit::Password);
  edtSQLPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // '*'
  edtSQLPassword->setEnabled(false);
  lblSQLPassword = MakeLabel(tr("&Password"), tabSQLServer, "lblSQLPassword");
  lblSQLPassword->setBuddy(edtSQLPassword);
  lblSQLPassword->setEnabled(false);

  // The page: the server and how to reach it in a grid, then the authentication, indented.
  auto* page = new QVBoxLayout(tabSQLServer);
  page->setContentsMargins(16, 16, 16, 16);
  auto* top = new QGridLayout;
  top->setHorizontalSpacing(8);
  top->setColumnStretch(1, 1);
  top->addWidget(TntLabel1, 0, 0);
  top->addWidget(edtSQLServer, 0, 1);
  top->addWidget(btnBrowseSQLServer, 0, 2);
  top->addWidget(lblDatabase, 1, 0);
  top->addWidget(edtDatabase, 1, 1);
  top->addWidget(TntLabel2, 2, 0);
  top->addWidget(cbProvider, 2, 1);
  top->addWidget(lblEncryption, 3, 0);
  top->addWidget(cbEncryption, 3, 1);
  // Check and radio boxes keep their own width: a click beside their text does nothing.
  top->addWidget(chkTrustServerCertificate, 4, 1, 1, 2, Qt::AlignLeft);
  page->addLayout(top);
  page->addSpacing(12);
  page->addWidget(TntLabel3);
  auto* auth = new QGridLayout;
  auth->setContentsMargins(38, 0, 0, 0);
  auth->setHorizontalSpacing(8);
  auth->setColumnStretch(2, 1);
  auth->addWidget(rbWinLogin, 0, 0, 1, 3, Qt::AlignLeft);
  auth->addWidget(rbSQLLogin, 1, 0, 1, 3, Qt::AlignLeft);
  auth->setColumnMinimumWidth(0, 16);
  auth->addWidget(lblSQLLogin, 2, 1);
  auth->addWidget(edtSQLLogin, 2, 2);
  auth->addWidget(lblSQLPassword, 3, 1);
  auth->addWidget(edtSQLPassword, 3, 2);
  page->addLayout(auth);
  page->addStretch(1);

  // The local page exists in the form but is hidden whenever the dialog shows.
  tabLocal = new QWidget;
  tabLocal->setObjectName("tabLocal");
  edtDataPath = new QLineEdit(tabLocal);
  edtDataPath->setObjectName("edtDataPath");
  edtDataPath->setReadOnly(true);
  lblDataPath = MakeLabel(tr("Data path"), tabLocal, "lblDataPath");
  auto* local = new QFormLayout(tabLocal);
  local->setContentsMargins(16, 16, 16, 16);
  local->addRow(lblDataPath, edtDataPath);
  pgcMain->addTab(tabLocal, tr("Local database"));

  Bevel1 = new QFrame(client);
  Bevel1->setObjectName("Bevel1");
  Bevel1->setFrameShape(QFrame::HLine);
  Bevel1->setFrameShadow(QFrame::Sunken);
  clientLayout->addSpacing(4);
  clientLayout->addWidget(Bevel1);
  clientLayout->addSpacing(16);

  btnOK = new QPushButton(tr("OK"), client);
  btnOK->setObjectName("btnOK");
  btnOK->setDefault(true);
  btnOK->setEnabled(false);
  btnCancel = new QPushButton(tr("Cancel"), client);
  btnCancel->setObjectName("btnCancel");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  buttons->addSpacing(4);
  buttons->addWidget(btnCancel);
  clientLayout->addLayout(buttons);
  for (QPushButton* b : {btnOK, btnCancel})
    b->setMinimumSize(75, 25);

  setTabOrder(pgcMain, edtSQLServer);
  setTabOrder(edtSQLServer, btnBrowseSQLServer);
  setTabOrder(btnBrowseSQLServer, edtDatabase);
  setTabOrder(edtDatabase, rbWinLogin);
  setTabOrder(rbWinLogin, rbSQLLogin);
  setTabOrder(rbSQLLogin, edtSQLLogin);
  setTabOrder(edtSQLLogin, edtSQLPassword);
  setTabOrder(edtSQLPassword, cbProvider);
  setTabOrder(cbProvider, cbEncryption);
  setTabOrder(cbEncryption, chkTrustServerCertificate);
  setTabOrder(chkTrustServerCertificate, btnOK);
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
  connect(cbProvider, &QComboBox::currentIndexChanged, this, &TfrmConnect::cbProviderChange);
  connect(btnOK, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnOKClick(); }); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  FormCreate();
  // The designed size, or more when the font needs it.
  resize(sizeHint().expandedTo(QSize(505, 416)));
}

TfrmConnect::~TfrmConnect() = default;

void TfrmConnect::FormCreate() {
  FRecentLines.clear();
  // The provider box names the SQL Server drivers found, best first; "(auto)" takes the best.
  FDrivers = DriverSource() ? DriverSource()() : InstalledSqlServerDrivers();
  cbProvider->addItem(QStringLiteral("(auto)"));
  for (const TOdbcDriverInfo& d : std::as_const(FDrivers))
    cbProvider->addItem(d.Name);
  cbProvider->setItemData(0,
                          FDrivers.isEmpty()
                              ? tr("No ODBC driver for SQL Server was found.")
                              : tr("The best driver found: %1").arg(FDrivers.first().Name),
                          Qt::ToolTipRole);
  cbProvider->setCurrentIndex(0);
  cbProviderChange();
}

std::optional<TOdbcDriverInfo> TfrmConnect::ChosenDriver() const {
  const int i = cbProvider->currentIndex();
  if (i > 0 && i <= FDrivers.size()) return FDrivers[i - 1];
  if (!FDrivers.isEmpty()) return FDrivers.first();
  return std::nullopt;
}

void TfrmConnect::cbProviderChange() {
  // Strict only where the driver can; otherwise offered disabled, with the reason.
  QString why;
  const std::optional<TOdbcDriverInfo> driver = ChosenDriver();
  const bool strict = driver && SupportsStrictEncryption(*driver, &why);
  if (!driver) why = tr("No ODBC driver for SQL Server was found.");
  auto* model = qobject_cast<QStandardItemModel*>(cbEncryption->model());
  if (QStandardItem* item = model ? model->item(int(TEncryption::Strict)) : nullptr) {
    item->setEnabled(strict);
    item->setToolTip(strict ? tr("TDS 8.0: TLS before anything else; the certificate is always "
                                 "checked.")
                            : why);
  }
  cbEncryption->setToolTip(strict ? QString() : why);
  if (!strict && cbEncryption->currentIndex() == int(TEncryption::Strict))
    cbEncryption->setCurrentIndex(int(TEncryption::Mandatory));
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
  FRecentLines = TdmMain::RecentLines(dmMain->GetSettingString(Settings::ConnectionListSQL));

  // Each server once, most recent first; its most recent line is the one applied.
  edtSQLServer->clear();
  for (const QString& line : std::as_const(FRecentLines)) {
    const std::optional<TSQLConnectionProperties> p = TdmMain::ParseRecentLine(line);
    if (p && edtSQLServer->findText(p->Instance, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0)
      edtSQLServer->addItem(p->Instance);
  }

  if (edtSQLServer->count() > 0) {
    edtSQLServer->setCurrentIndex(0);
    ServerChosen();
    // With no login in the line nothing else claims the focus; the server box is where one
    // would change the proposal.
    if (!rbSQLLogin->isChecked()) edtSQLServer->setFocus();
  } else {
    edtSQLServer->setEditText(QString());
    // A fresh profile: without a Kerberos set-up, Windows authentication rarely works from
    // Linux, so SQL Server authentication is the proposal there.
    if (!kOdbcOnWindows) {
      rbSQLLogin->setChecked(true);
      rbWinLoginClick();
    }
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
    const std::optional<TSQLConnectionProperties> p = TdmMain::ParseRecentLine(line);
    if (!p || p->Instance.toUpper() != key) continue;

    edtSQLLogin->setText(p->SQLLogin);
    if (!p->SQLLogin.isEmpty()) {
      rbSQLLogin->setChecked(true);
      rbWinLoginClick();
      if (moveFocus) edtSQLPassword->setFocus();
    }

    // A named driver, or the platform's plain one for provider 1; provider 0 changes nothing.
    if (!p->Driver.isEmpty()) {
      const int i = cbProvider->findText(p->Driver, Qt::MatchFixedString);
      if (i > 0) cbProvider->setCurrentIndex(i);
    } else if (p->Provider == 1) {
      for (qsizetype i = 0; i < FDrivers.size(); ++i)
        if (DriverFamily(FDrivers[i]) ==
            (kOdbcOnWindows ? TOdbcDriverFamily::LegacySqlServer : TOdbcDriverFamily::FreeTDS))
          cbProvider->setCurrentIndex(int(i) + 1);
    }
    // Lines of earlier versions carry no choice: they keep working as they did (Optional).
    const QStandardItemModel* model = qobject_cast<QStandardItemModel*>(cbEncryption->model());
    const QStandardItem* item = model ? model->item(int(p->Encryption)) : nullptr;
    cbEncryption->setCurrentIndex(item && item->isEnabled() ? int(p->Encryption)
                                                            : int(TEncryption::Mandatory));
    chkTrustServerCertificate->setChecked(p->TrustServerCertificate);
    FLineExtras = *p;
    return;
  }
  // No line for what is typed: nothing of another server's line may stay with it.
  FLineExtras = TSQLConnectionProperties{};
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
  bool enabled = lblDatabase->isEnabled() && !edtSQLServer->currentText().trimmed().isEmpty();
  if (enabled && rbSQLLogin->isChecked()) enabled = !edtSQLLogin->text().trimmed().isEmpty();
  btnOK->setEnabled(enabled);
}

void TfrmConnect::btnBrowseSQLServerClick() {
  TfrmSelectServer browser(this);
  if (ModalHook::Exec(browser) != QDialog::Accepted) return;
  edtSQLServer->setEditText(browser.GetSelectedServer());
  ServerChosen();
  // A configured name connects as one, whatever its recent line said.
  FLineExtras.Kind = browser.GetSelectedKind();
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
  // "(auto)" is provider 0; a named driver is kept by name, and as provider 1 when it is the
  // platform's plain one, which earlier versions call "MDAC".
  props.Provider = 0;
  if (cbProvider->currentIndex() > 0) {
    const std::optional<TOdbcDriverInfo> driver = ChosenDriver();
    props.Driver = cbProvider->currentText();
    const TOdbcDriverFamily plain =
        kOdbcOnWindows ? TOdbcDriverFamily::LegacySqlServer : TOdbcDriverFamily::FreeTDS;
    if (driver && DriverFamily(*driver) == plain) props.Provider = 1;
  }
  props.Encryption = TEncryption(qBound(0, cbEncryption->currentIndex(), 2));
  props.TrustServerCertificate = chkTrustServerCertificate->isChecked();
  props.CAFile = FLineExtras.CAFile;
  props.ServerCertificate = FLineExtras.ServerCertificate;
  props.HostNameInCertificate = FLineExtras.HostNameInCertificate;
  props.Kind = FLineExtras.Kind;
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
  setResult(0);
  if (test.CertificateProblem &&
      test.CertificateProblem->Outcome == TTlsProbeResult::TOutcome::Untrusted) {
    // Trusting it keeps a copy and tries again at once, with what the user entered.
    if (OfferToTrustCertificate(*test.CertificateProblem, text)) btnOKClick();
    return;
  }
  frmMessageBox->ShowError(tr("Connection failure"), text);
}

bool TfrmConnect::OfferToTrustCertificate(const TTlsProbeResult& c, const QString& failureText) {
  const QString question =
      failureText + QStringLiteral("\r\n") +
      tr("The server presented a certificate for %1, issued by \"%2\", valid until %3, with the "
         "SHA-256 fingerprint %4.\r\n\r\nTrust this certificate for this connection? Velmora "
         "keeps a copy and accepts only this one certificate from now on; when the server gets "
         "another, you will be asked again. Choose No if you cannot confirm the fingerprint.")
          .arg(c.Names.join(QStringLiteral(", ")), c.Issuer,
               QLocale().toString(c.NotAfter.toLocalTime(), QLocale::ShortFormat), c.Sha256);
  if (!frmMessageBox->AskYesNo(tr("Connection failure"), question)) return false;

  QString folder = CertificateFolder();
  if (folder.isEmpty()) folder = UserDataFolder() + QStringLiteral("certificates");
  QDir().mkpath(folder);
  QFile::setPermissions(folder,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  QString name = c.Sha256;
  name.remove(u':');
  QSaveFile file(QDir(folder).filePath(name.toLower() + QStringLiteral(".pem")));
  if (!file.open(QIODevice::WriteOnly) || file.write(c.CertificatePem) != c.CertificatePem.size() ||
      !file.commit()) {
    frmMessageBox->ShowError(tr("Connection failure"),
                             tr("Velmora cannot keep the certificate in %1: %2")
                                 .arg(file.fileName(), file.errorString()));
    return false;
  }
  FLineExtras.ServerCertificate = file.fileName();
  chkTrustServerCertificate->setChecked(false);
  return true;
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
