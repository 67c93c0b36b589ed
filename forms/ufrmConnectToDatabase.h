#pragma once
// The Connect dialog: names the server, the authentication and the provider, and tests the
// connection with a fresh data store before it closes with OK.

#include "common/uCommon.h"
#include "forms/ufrmMain.h"

#include <QDialog>
#include <QStringList>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QToolButton;
class THeaderPanel;

// What the command line asks the next Connect dialog to open with. It is applied once, over
// the recent connection the dialog proposes; a password is never part of it.
struct TConnectPreset {
  QString Server;
  QString Login;           // a SQL Server login
  bool Integrated = false; // integrated authentication
  QString Database;
};
void SetConnectDialogPreset(const TConnectPreset& preset);

class TfrmConnect : public QDialog {
  Q_OBJECT
public:
  explicit TfrmConnect(QWidget* owner = nullptr);
  ~TfrmConnect() override;

  // Filled from the controls by FillConnectionProperties; read by the main window after OK.
  TSQLConnectionProperties ConnectionProperties;

  // The lines of the recent-connection list as read when the dialog was shown.
  const QStringList& RecentLines() const { return FRecentLines; }
  // After OK: the session whose connection test passed, not yet connected.
  TSession* Session() const { return FSession.get(); }
  std::unique_ptr<TSession> TakeSession();

  THeaderPanel* pnlJobList = nullptr;
  QLabel* Image2 = nullptr;
  QTabWidget* pgcMain = nullptr;
  QWidget* tabSQLServer = nullptr;
  QWidget* tabLocal = nullptr;
  QLabel* TntLabel1 = nullptr;
  QComboBox* edtSQLServer = nullptr;
  QToolButton* btnBrowseSQLServer = nullptr;
  QLabel* lblDatabase = nullptr;
  QComboBox* edtDatabase = nullptr;
  QLabel* TntLabel2 = nullptr;
  QComboBox* cbProvider = nullptr;
  QLabel* TntLabel3 = nullptr;
  QRadioButton* rbWinLogin = nullptr;
  QRadioButton* rbSQLLogin = nullptr;
  QLabel* lblSQLLogin = nullptr;
  QLineEdit* edtSQLLogin = nullptr;
  QLabel* lblSQLPassword = nullptr;
  QLineEdit* edtSQLPassword = nullptr;
  QLabel* lblDataPath = nullptr;
  QLineEdit* edtDataPath = nullptr;
  QFrame* Bevel1 = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

public Q_SLOTS:
  // Typed by the user: applies the recent line but leaves the focus where the user types.
  void edtSQLServerChange();
  void btnBrowseSQLServerClick();
  void rbWinLoginClick();
  void edtSQLLoginChange();
  void btnOKClick();

  // Cancel, Esc and the close button: during a connection test they stop the test and
  // leave the dialog open; otherwise they close it.
  void reject() override;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void FormCreate();
  void FormShow();
  void FillConnectionProperties();
  void LoadRecentServers();
  // moveFocus: a matching line with a login puts the focus into the password box.
  void ApplyRecentConnection(bool moveFocus);
  void UpdateOKButton();
  // The steps of a change of the server box made by choosing rather than typing.
  void ServerChosen();
  void ApplyPreset();

  // The connection test runs on the session's worker; the dialog stays responsive for Cancel.
  TConnectionTest RunConnectionTest(TSession& session);

  QStringList FRecentLines;
  std::unique_ptr<TSession> FSession;
  TSession* FTestSession = nullptr; // set while a connection test runs
};

// Creates the dialog owned by `owner`, shows it modally and destroys it.
TConnectDialogOutcome ExecuteConnectDialog(QWidget* owner);

// Makes ExecuteConnectDialog the main window's Connect dialog.
void InstallConnectDialog();
