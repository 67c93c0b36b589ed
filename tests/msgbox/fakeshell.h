#pragma once
// A stand-in for the desktop shell: records the links it is asked to open and answers with a
// chosen result code, so no test ever starts a browser or mail program.

#include "platform/gui/uShellOpen.h"

#include <QStringList>

class TFakeShellOpener : public TShellOpener {
public:
  int Result = ShellResult::Success;
  QStringList Opened;
  int Open(const QString& link) override {
    Opened << link;
    return Result;
  }
};
