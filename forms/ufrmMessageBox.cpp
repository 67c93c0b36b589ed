#include "forms/ufrmMessageBox.h"

#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uModalHook.h"
#include "uVersion.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmMessageBox* frmMessageBox = nullptr;

TfrmMessageBox::TfrmMessageBox(QWidget* parent) : TfrmBaseDialog(parent) {
  setObjectName("frmMessageBox");
  mmText = new QPlainTextEdit(pnlHeader->ClientArea());
  mmText->setObjectName("mmText");
  mmText->setReadOnly(true);
  pnlHeader->ClientLayout()->addWidget(mmText, 1);
}

void TfrmMessageBox::ShowError(const QString& Caption, const QString& Text) {
  setWindowTitle(tr("Error"));
  pnlHeader->SetCaption(tr("Application error"));
  lblCaption->setText(Caption);
  mmText->setPlainText(Text);
  btnCancel->hide();
  ModalHook::Exec(*this);
}

void TfrmMessageBox::ShowAbout() {
  setWindowTitle(tr("About"));
  pnlHeader->SetCaption(tr("About %1").arg(QStringLiteral("Velmora")));
  lblCaption->setText(tr("Version %1 ").arg(QStringLiteral(VELMORA_FILE_VERSION)) +
                      QStringLiteral(VELMORA_LEGAL_COPYRIGHT));
  mmText->clear();
  btnCancel->hide();
  ModalHook::Exec(*this);
}
