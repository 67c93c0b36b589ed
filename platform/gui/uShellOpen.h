#pragma once
// The desktop shell's "Open" action for a web address, a mailto link or a file, behind an
// interface so tests can stand in for it and never start a real browser.
//
// Results follow the Windows shell's convention: above 32 means success, 32 or less is an
// error code. The other platforms map their failures onto the same codes.

#include <QString>

namespace ShellResult {
constexpr int OutOfResources = 0;
constexpr int FileNotFound = 2;
constexpr int PathNotFound = 3;
constexpr int AccessDenied = 5;
constexpr int NoAssociation = 31;
// Any value above 32 is success; this is the one the desktop opener reports.
constexpr int Success = 33;
} // namespace ShellResult

class TShellOpener {
public:
  virtual ~TShellOpener() = default;
  virtual int Open(const QString& link) = 0;
};

// The platform's own opener: ShellExecuteW on Windows; elsewhere xdg-open (or the desktop
// services where there is none) after checking local files, so a missing file or folder
// gives 2 or 3. xdg-open's own failures (nothing can open the link, as for a mailto link
// without a mail program) give 31. An opener still running after the wait (some run the
// browser in the foreground) counts as success and is left to finish.
class TDesktopShellOpener : public TShellOpener {
public:
  // program: the opener to start on Linux and the BSDs; tests give their own.
  explicit TDesktopShellOpener(QString program = QStringLiteral("xdg-open"), int waitMs = 2000);
  int Open(const QString& link) override;

private:
  QString m_program;
  int m_waitMs;
};

// The opener OpenLink uses.
TShellOpener& ShellOpener();
// Puts opener in place (not owned); nullptr brings back the desktop opener.
void SetShellOpener(TShellOpener* opener);
