#include "forms/ufrmBaseDialog.h"

#include "platform/gui/uHeaderPanel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

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

  // The bottom bar: the copy button at the left, then room for links, the buttons at the right.
  // At the design font it matches the design (OK at 321, Cancel at 412, 75 x 25 each); with a
  // larger font the buttons and the bar grow (FitToFont).
  pnlBottom = new QWidget(this);
  pnlBottom->setObjectName("pnlBottom");
  pnlBottom->setFixedHeight(61);
  btnCopyToClipboard = new QToolButton(pnlBottom);
  btnCopyToClipboard->setObjectName("btnCopyToClipboard");
  btnCopyToClipboard->setFixedSize(26, 25);
  btnCopyToClipboard->setToolTip(tr("Copy to clipboard"));
  btnCopyToClipboard->setAccessibleName(tr("Copy to clipboard"));
  btnCopyToClipboard->setAutoRaise(true);
  btnCancel = new QPushButton(tr("Cancel"), pnlBottom);
  btnCancel->setObjectName("btnCancel");
  btnOK = new QPushButton(tr("OK"), pnlBottom);
  btnOK->setObjectName("btnOK");
  btnOK->setDefault(true);
  auto* bar = new QHBoxLayout(pnlBottom);
  bar->setContentsMargins(16, 20, 16, 16);
  bar->setSpacing(0);
  bar->addWidget(btnCopyToClipboard, 0, Qt::AlignTop);
  bar->addSpacing(14);
  BottomLinks = new QHBoxLayout;
  BottomLinks->setSpacing(16);
  bar->addLayout(BottomLinks);
  bar->addStretch(1);
  auto* buttons = new QHBoxLayout; // a hidden Cancel leaves no gap: OK takes its place
  buttons->setSpacing(16);
  buttons->addWidget(btnOK, 0, Qt::AlignTop);
  buttons->addWidget(btnCancel, 0, Qt::AlignTop);
  bar->addLayout(buttons);
  layout->addWidget(pnlBottom);
  FitToFont();

  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmBaseDialog::FitToFont() {
  // Buttons keep their designed 75 x 25 unless their caption needs more.
  const QFontMetrics fm(btnOK->font());
  const int buttonHeight = std::max(25, fm.height() + 10);
  for (QPushButton* b : {btnOK, btnCancel})
    b->setFixedSize(std::max(75, fm.horizontalAdvance(b->text()) + 24), buttonHeight);
  const int bar = std::max(61, 20 + buttonHeight + 16);
  const int grow = bar - pnlBottom->maximumHeight();
  pnlBottom->setFixedHeight(bar);
  pnlBottom->layout()->invalidate();
  const int needed = pnlBottom->layout()->minimumSize().width();
  setFixedSize(std::max(FDesignWidth, needed), height() + grow);
  layout()->invalidate();
  layout()->activate();
  pnlBottom->layout()->activate();
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
