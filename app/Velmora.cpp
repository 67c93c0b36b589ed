// Program entry: the application object, then the start-up sequence and the message loop.

#include "common/uCommon.h"
#include "common/uCommonGUI.h"
#include "forms/uProgram.h"

int main(int argc, char** argv) {
  // Before anything writes a file (Qt and fontconfig write caches at start-up).
  IgnoreFileSizeLimitSignal();
  TVelmoraApplication app(argc, argv);
  return RunProgram();
}
