#include "forms/ufrmBaseDialog.h"

#include "platform/gui/uHeaderPanel.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

TfrmBaseDialog::TfrmBaseDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("frmBaseDialog");
  // A dialog border: the size is the program's, not the user's.
  setFixedSize(503, 307);
  QFont designFont(QStringLiteral("Tahoma"));
  designFont.setPixelSize(11);
  setFont(designFont);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  pnlHeader = new THeaderPanel(this);
  pnlHeader->setObjectName("pnlHeader");
  lblCaption = new QLabel(pnlHeader->ClientArea());
  lblCaption->setObjectName("lblCaption");
  lblCaption->setWordWrap(true);
  lblCaption->setTextFormat(Qt::PlainText);
  lblCaption->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lblCaption->setFixedHeight(33);
  pnlHeader->ClientLayout()->addWidget(lblCaption);
  layout->addWidget(pnlHeader, 1);

  // The bottom bar's controls sit at fixed places; the dialog's width never changes.
  pnlBottom = new QWidget(this);
  pnlBottom->setObjectName("pnlBottom");
  pnlBottom->setFixedHeight(61);
  btnCopyToClipboard = new QToolButton(pnlBottom);
  btnCopyToClipboard->setObjectName("btnCopyToClipboard");
  btnCopyToClipboard->setGeometry(16, 20, 26, 25);
  btnCopyToClipboard->setToolTip(tr("Copy to clipboard"));
  btnCopyToClipboard->setAutoRaise(true);
  btnCancel = new QPushButton(tr("Cancel"), pnlBottom);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setGeometry(412, 20, 75, 25);
  btnOK = new QPushButton(tr("OK"), pnlBottom);
  btnOK->setObjectName("btnOK");
  btnOK->setDefault(true);
  btnOK->setGeometry(321, 20, 75, 25);
  layout->addWidget(pnlBottom);

  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmBaseDialog::SetHeaderCaption(const QString& Caption) {
  pnlHeader->SetCaption(Caption);
}

void TfrmBaseDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  TntFormShow();
}

void TfrmBaseDialog::TntFormShow() {
  if (!btnOK->isHidden()) btnOK->setFocus();
}

void TfrmBaseDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (!btnCancel->isHidden() && btnCancel->isEnabled()) {
      btnCancel->click();
      return;
    }
    if (FOKAnswersEsc && !btnOK->isHidden() && btnOK->isEnabled()) {
      btnOK->click();
      return;
    }
  }
  QDialog::keyPressEvent(event);
}
