#pragma once
// The desktop shell's "Open" action for a web address, a mailto link or a file, behind an
// interface so tests can stand in for it and never start a real browser.
//
// Results follow the Windows shell's convention: above 32 means success, 32 or less is an
// error code. The other platforms map their failures onto the same codes.

#include <QString>
#include <functional>

class QUrl;

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

// The platform's own opener: ShellExecuteW on Windows; elsewhere the desktop services, which
// start the user's opener detached (or ask the desktop portal when the program runs sandboxed),
// so opening never waits for a browser and no opener ends with the program. Local files are
// checked first, so a missing file or folder gives 2 or 3; nothing able to open the link (no
// browser, no xdg-open) gives 31.
class TDesktopShellOpener : public TShellOpener {
public:
  // Starts the opener for a URL without waiting for it; false when nothing could be started.
  using TLauncher = std::function<bool(const QUrl&)>;
  // launcher: QDesktopServices::openUrl unless a test gives its own.
  explicit TDesktopShellOpener(TLauncher launcher = {});
  int Open(const QString& link) override;

private:
  TLauncher m_launcher;
};

// The opener OpenLink uses.
TShellOpener& ShellOpener();
// Puts opener in place (not owned); nullptr brings back the desktop opener.
void SetShellOpener(TShellOpener* opener);
