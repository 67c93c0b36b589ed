// Program entry: the command line first (help and version need no display), then the
// application object, the start-up sequence and the message loop.

#include "common/uCommandLine.h"
#include "common/uCommonGUI.h"
#include "forms/uProgram.h"

#include <cstdio>

int main(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i)
    arguments << QString::fromLocal8Bit(argv[i]);
  const TCommandLine commandLine = ParseCommandLine(arguments);
  switch (commandLine.Action) {
  case TCommandLine::ShowHelp:
  case TCommandLine::ShowVersion:
    std::fputs(commandLine.Output.toLocal8Bit().constData(), stdout);
    return 0;
  case TCommandLine::Error:
    std::fputs(commandLine.Output.toLocal8Bit().constData(), stderr);
    return 1;
  case TCommandLine::Run:
    break;
  }
  TVelmoraApplication app(argc, argv);
  return RunProgram(commandLine);
}
