// Program entry: folders, application object, then the three long-lived objects in order.

#include "common/uCommon.h"
#include "common/uCommonGUI.h"
#include "common/udmCommon.h"
#include "forms/ufrmMain.h"
#include "forms/ufrmMessageBox.h"

int main(int argc, char** argv) {
  TVelmoraApplication app(argc, argv);
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

  mainWindow.showMaximized();
  const int rc = QApplication::exec();

  dmMain = nullptr;
  frmMessageBox = nullptr;
  return rc;
}
