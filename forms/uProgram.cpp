#include "forms/uProgram.h"

#include "common/uCommandLine.h"
#include "common/uCommon.h"
#include "common/uCommonGUI.h"
#include "common/udmCommon.h"
#include "forms/ufrmConnectToDatabase.h"
#include "forms/ufrmMain.h"
#include "forms/ufrmMessageBox.h"

#include <QApplication>
#include <QIcon>

int RunProgram() {
  return RunProgram(TCommandLine());
}

int RunProgram(const TCommandLine& commandLine) {
  IgnoreFileSizeLimitSignal();
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  // No display name of its own: Qt would append it to every title ("Velmora - SQL01 —
  // Velmora"); the application name stands in for it wherever it is asked for.
  QApplication::setOrganizationName(QStringLiteral("Quorvix"));
  // Ties the windows to the installed menu entry (the Wayland app id) and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("com.quorvix.velmora"));
  InitApplicationFolders();

  TfrmMain mainWindow; // makes the program's resources available
  frmMain = &mainWindow;
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/velmora/velmora.svg")));
  TfrmMessageBox messageBox(&mainWindow);
  frmMessageBox = &messageBox;
  TdmMain dataModule; // loads UserSettingsFile(); writes it when destroyed
  dmMain = &dataModule;
  ReportSettingsSaveFailures(dataModule);
  InstallConnectDialog();
  if (commandLine.HasConnectOptions())
    SetConnectDialogPreset(
        {commandLine.Server, commandLine.Login, commandLine.Integrated, commandLine.Database});

  mainWindow.showMaximized();
  const int rc = QApplication::exec();
  // The last write while the message box can still say that it failed.
  if (dataModule.iniUser.IsModified()) dataModule.SaveSettings();

  dmMain = nullptr;
  frmMessageBox = nullptr;
  return rc;
}
