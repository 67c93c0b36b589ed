#include "forms/uProgram.h"

#include "common/uCommon.h"
#include "common/uCommonGUI.h"
#include "common/udmCommon.h"
#include "forms/ufrmConnectToDatabase.h"
#include "forms/ufrmMain.h"
#include "forms/ufrmMessageBox.h"

#include <QApplication>

int RunProgram() {
  IgnoreFileSizeLimitSignal();
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
  ReportSettingsSaveFailures(dataModule);
  InstallConnectDialog();

  mainWindow.showMaximized();
  const int rc = QApplication::exec();
  // The last write while the message box can still say that it failed.
  if (dataModule.iniUser.IsModified()) dataModule.SaveSettings();

  dmMain = nullptr;
  frmMessageBox = nullptr;
  return rc;
}
