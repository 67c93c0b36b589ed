#pragma once
// The update information dialog: the running version and the version history of a newer one,
// with the choice between updating now and cancelling.

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class QTextBrowser;

class TfrmUpdateInformation : public QDialog {
  Q_OBJECT
public:
  explicit TfrmUpdateInformation(QWidget* parent = nullptr);

  // Fills the dialog from the checker's version history (HTML, already decoded text).
  void SetUpdateInfo(const QString& UpgradeMsg);
  // Sets LatestVersion from Text and gives Text back with CR LF line breaks.
  void ParseVersionHistory(QString& Text);
  static QString ParseVersionComment(const QString& Line);

  // Links in the history come from the network: only web and mail addresses are opened.
  static bool IsOpenableLink(const QUrl& url);

  QString CurrentVersion;
  QString LatestVersion;
  bool IsLatestVersion = false;

  QLabel* Image1 = nullptr;
  QLabel* lblCurrentVersion = nullptr;
  QFrame* Bevel2 = nullptr;
  QLabel* Label4 = nullptr;
  QTextBrowser* htmlWhatsNew = nullptr;
  QFrame* Bevel1 = nullptr;
  QPushButton* btnUpdate = nullptr;
  QPushButton* btnCancel = nullptr;

protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  void FormCreate();
  void FormShow();
  void htmlWhatsNewAnchorClicked(const QUrl& url);
};
