#pragma once
// The program's one message box, used for errors and the About box.

#include "forms/ufrmBaseDialog.h"

class QPlainTextEdit;

class TfrmMessageBox : public TfrmBaseDialog {
  Q_OBJECT
public:
  explicit TfrmMessageBox(QWidget* parent = nullptr);

  void ShowError(const QString& Caption, const QString& Text);
  void ShowAbout();

  QPlainTextEdit* mmText = nullptr;
};

// Lives from start-up to exit.
extern TfrmMessageBox* frmMessageBox;
