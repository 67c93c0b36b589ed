#pragma once
// The program's start-up and message loop, on an application object that already exists.
// The entry point and the end-to-end test share it, so the test runs the real start road.

struct TCommandLine;

// Folders, the main window, the message box and the settings store in this order, the
// Connect dialog behind the main window's connect action (filled in from the command line's
// connect options); then the message loop. Returns the loop's exit code.
int RunProgram();
int RunProgram(const TCommandLine& commandLine);
