#pragma once
// The base of the program's own dialogs: a header band with a caption line, and a bottom bar
// with OK, Cancel and a copy button.

#include <QDialog>

class QLabel;
class QPushButton;
class QToolButton;
class THeaderPanel;

class TfrmBaseDialog : public QDialog {
  Q_OBJECT
public:
  explicit TfrmBaseDialog(QWidget* parent = nullptr);

  void SetHeaderCaption(const QString& Caption);

  THeaderPanel* pnlHeader = nullptr;
  QLabel* lblCaption = nullptr;
  QWidget* pnlBottom = nullptr;
  QToolButton* btnCopyToClipboard = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

  // Whether Esc presses btnOK (btnCancel always answers Esc while it shows).
  bool OKAnswersEsc() const { return FOKAnswersEsc; }
  void SetOKAnswersEsc(bool answers) { FOKAnswersEsc = answers; }

protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  virtual void TntFormShow();

private:
  bool FOKAnswersEsc = false;
};
