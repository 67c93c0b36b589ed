#pragma once
// The server browser: lists the SQL Server instances found from this machine and lets the user
// pick one. The Connect dialog opens it from its "..." button:
//
//   QString server = edtServer->currentText();
//   if (TfrmSelectServer::Execute(this, server))
//     edtServer->setCurrentText(server);
//
// Execute shows the browser through ModalHook::Exec (form name "frmSelectServer"). The names
// come from the enumerator that EnumeratorFactory() makes; tests put a fake in its place with
// SetEnumeratorFactory so that no test ever searches the real network.

#include "platform/uServerEnumerator.h"

#include <QDialog>

#include <memory>

class QFrame;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QShowEvent;

class TfrmSelectServer : public QDialog {
  Q_OBJECT
public:
  explicit TfrmSelectServer(QWidget* owner = nullptr);

  ~TfrmSelectServer() override;

  // The selected entry's server name, or an empty text when no entry is selected.
  QString GetSelectedServer() const;
  // How the selected name connects: a configured name (freetds.conf, data source) or an
  // address of a server that answered.
  TServerKind GetSelectedKind() const;
  // True while the network is still being searched.
  bool Searching() const;

  // Shows the browser modally. On OK, server receives the chosen name and the result is true;
  // on Cancel, Esc or close, server stays unchanged and the result is false.
  static bool Execute(QWidget* owner, QString& server);

  // An empty factory means the real enumerator with this machine's broadcast targets.
  static void SetEnumeratorFactory(TServerEnumeratorFactory factory);
  static TServerEnumeratorFactory EnumeratorFactory();

  // Event handlers, named as the form binds them.
  void TntFormShow();
  void lbServersClick();
  void lbServersDblClick();

  // OK only with an entry selected, so the browser never answers an empty name.
  void accept() override;

  QLabel* imgServer = nullptr;
  QLabel* TntLabel1 = nullptr;
  QFrame* Bevel1 = nullptr;
  QLabel* TntLabel2 = nullptr;
  QListWidget* lbServers = nullptr;
  QFrame* Bevel2 = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void SearchFinished(int generation, const QStringList& names, const QString& error);
  void StopSearch();

  struct TSearch;
  std::unique_ptr<TSearch> FSearch;
  int FGeneration = 0;
  QListWidgetItem* FSearchingItem = nullptr;
};
