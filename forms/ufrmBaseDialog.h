#pragma once
// The base of the program's own dialogs: a header band with a caption line, and a bottom bar
// with OK, Cancel and a copy button.

#include <QDialog>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QToolButton;
class THeaderPanel;

class TfrmBaseDialog : public QDialog {
  Q_OBJECT
public:
  explicit TfrmBaseDialog(QWidget* parent = nullptr);

  void SetHeaderCaption(const QString& Caption);
  // Sizes the buttons and the bottom bar for the current font and captions (never below the
  // design) and lays the bar out, shown or not.
  void FitToFont();

  THeaderPanel* pnlHeader = nullptr;
  QLabel* lblCaption = nullptr;
  QWidget* pnlBottom = nullptr;
  QToolButton* btnCopyToClipboard = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
  // Links between the copy button and the buttons (the message box's support link).
  QHBoxLayout* BottomLinks = nullptr;

  // Whether Esc presses btnOK (btnCancel always answers Esc while it shows).
  bool OKAnswersEsc() const { return FOKAnswersEsc; }
  void SetOKAnswersEsc(bool answers) { FOKAnswersEsc = answers; }

protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  virtual void TntFormShow();

private:
  bool FOKAnswersEsc = false;
  int FDesignWidth = 503; // the width at the design font; wider only when the bar needs it
};
