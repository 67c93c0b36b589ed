#include "platform/gui/uShellOpen.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <shellapi.h>
#else
#include <QDesktopServices>
#endif

namespace {
TShellOpener* g_opener = nullptr;

#ifndef Q_OS_WIN
// A scheme needs two letters at least, so a drive letter ("C:\...") stays a path.
bool HasUrlScheme(const QString& link) {
  static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
  return scheme.match(link).hasMatch();
}

// What the shell reports for a local path before anything is started.
int CheckLocalFile(const QString& path) {
  const QFileInfo info(path);
  if (info.exists()) return ShellResult::Success;
  return info.absoluteDir().exists() ? ShellResult::FileNotFound : ShellResult::PathNotFound;
}
#endif
} // namespace

TDesktopShellOpener::TDesktopShellOpener(TLauncher launcher) : m_launcher(std::move(launcher)) {}

#ifdef Q_OS_WIN
int TDesktopShellOpener::Open(const QString& link) {
  const HINSTANCE result = ShellExecuteW(nullptr, L"open", reinterpret_cast<LPCWSTR>(link.utf16()),
                                         nullptr, nullptr, SW_SHOWNORMAL);
  return int(reinterpret_cast<INT_PTR>(result));
}
#else
int TDesktopShellOpener::Open(const QString& link) {
  if (link.trimmed().isEmpty()) return ShellResult::FileNotFound;

  // A local file goes to the opener as an absolute path, so a name that begins with "-"
  // cannot pass for an option.
  QUrl url;
  if (!HasUrlScheme(link) || link.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
    const QString path = HasUrlScheme(link) ? QUrl(link).toLocalFile() : link;
    if (path.isEmpty()) return ShellResult::FileNotFound;
    const int check = CheckLocalFile(path);
    if (check <= 32) return check;
    url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
  } else {
    url = QUrl(link, QUrl::TolerantMode);
    if (!url.isValid()) return ShellResult::FileNotFound;
  }
  // The opener runs on its own: a browser it starts outlives this program, and a slow one
  // keeps no window waiting.
  const bool started = m_launcher ? m_launcher(url) : QDesktopServices::openUrl(url);
  return started ? ShellResult::Success : ShellResult::NoAssociation;
}
#endif

TShellOpener& ShellOpener() {
  if (g_opener) return *g_opener;
  static TDesktopShellOpener desktop;
  return desktop;
}

void SetShellOpener(TShellOpener* opener) {
  g_opener = opener;
}
