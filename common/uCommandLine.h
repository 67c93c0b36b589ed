#pragma once
// The program's command line: --help, --version and connect options in sqlcmd's spirit
// (-S server, -U login, -E integrated authentication, -d database). A password is never taken
// from the command line: it would show in the process list and the shell history.

#include <QString>
#include <QStringList>

struct TCommandLine {
  enum TAction { Run, ShowHelp, ShowVersion, Error };
  TAction Action = Run;
  QString Output; // the text to print for ShowHelp, ShowVersion (stdout) and Error (stderr)

  // What the Connect dialog opens with; nothing given leaves the dialog as it would be.
  QString Server;
  QString Login;
  bool Integrated = false; // -E
  QString Database;
  bool HasConnectOptions() const {
    return !Server.isEmpty() || !Login.isEmpty() || Integrated || !Database.isEmpty();
  }
};

// arguments: as the process received them, the program name first.
TCommandLine ParseCommandLine(const QStringList& arguments);
