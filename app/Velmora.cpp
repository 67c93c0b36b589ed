// Program entry: the application object, then the start-up sequence and the message loop.

#include "common/uCommonGUI.h"
#include "forms/uProgram.h"

int main(int argc, char** argv) {
  TVelmoraApplication app(argc, argv);
  return RunProgram();
}
