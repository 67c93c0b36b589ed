#include "forms/ufrmBaseDialog.h"

#include "platform/gui/uHeaderPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

TfrmBaseDialog::TfrmBaseDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("frmBaseDialog");
  resize(503, 307);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  pnlHeader = new THeaderPanel(this);
  pnlHeader->setObjectName("pnlHeader");
  lblCaption = new QLabel(pnlHeader->ClientArea());
  lblCaption->setObjectName("lblCaption");
  lblCaption->setWordWrap(true);
  lblCaption->setTextFormat(Qt::PlainText);
  lblCaption->setFixedHeight(33);
  pnlHeader->ClientLayout()->addWidget(lblCaption);
  layout->addWidget(pnlHeader, 1);

  pnlBottom = new QWidget(this);
  pnlBottom->setObjectName("pnlBottom");
  pnlBottom->setFixedHeight(61);
  auto* bottom = new QHBoxLayout(pnlBottom);
  bottom->setContentsMargins(16, 18, 16, 18);
  btnCopyToClipboard = new QToolButton(pnlBottom);
  btnCopyToClipboard->setObjectName("btnCopyToClipboard");
  btnCopyToClipboard->setFixedSize(26, 25);
  btnCopyToClipboard->setToolTip(tr("Copy to clipboard"));
  bottom->addWidget(btnCopyToClipboard);
  bottom->addStretch(1);
  btnOK = new QPushButton(tr("OK"), pnlBottom);
  btnOK->setObjectName("btnOK");
  btnOK->setDefault(true);
  btnOK->setFixedSize(75, 25);
  bottom->addWidget(btnOK);
  btnCancel = new QPushButton(tr("Cancel"), pnlBottom);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setFixedSize(75, 25);
  bottom->addWidget(btnCancel);
  layout->addWidget(pnlBottom);

  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}
