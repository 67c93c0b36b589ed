#include "forms/uProgram.h"

#include "common/uCommon.h"
#include "common/udmCommon.h"
#include "forms/ufrmConnectToDatabase.h"
#include "forms/ufrmMain.h"
#include "forms/ufrmMessageBox.h"

#include <QApplication>

int RunProgram() {
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  QApplication::setApplicationDisplayName(QStringLiteral("Velmora"));
  QApplication::setOrganizationName(QStringLiteral("Quorvix"));
  InitApplicationFolders();

  TfrmMain mainWindow;
  frmMain = &mainWindow;
  TfrmMessageBox messageBox(&mainWindow);
  frmMessageBox = &messageBox;
  TdmMain dataModule; // loads UserSettingsFile(); writes it when destroyed
  dmMain = &dataModule;
  InstallConnectDialog();

  mainWindow.showMaximized();
  const int rc = QApplication::exec();

  dmMain = nullptr;
  frmMessageBox = nullptr;
  return rc;
}
