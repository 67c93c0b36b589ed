#include "platform/gui/uShellOpen.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
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

TDesktopShellOpener::TDesktopShellOpener(QString program, int waitMs)
    : m_program(std::move(program)), m_waitMs(waitMs) {}

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
  QString target = link;
  if (!HasUrlScheme(link) || link.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
    const QString path = HasUrlScheme(link) ? QUrl(link).toLocalFile() : link;
    if (path.isEmpty()) return ShellResult::FileNotFound;
    const int check = CheckLocalFile(path);
    if (check <= 32) return check;
    target = QFileInfo(path).absoluteFilePath();
  }

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  const QString program = QStandardPaths::findExecutable(m_program);
  if (program.isEmpty()) return ShellResult::NoAssociation;
  auto* opener = new QProcess(QCoreApplication::instance());
  opener->setProgram(program);
  opener->setArguments({target});
  opener->setStandardInputFile(QProcess::nullDevice());
  opener->setStandardOutputFile(QProcess::nullDevice());
  opener->setStandardErrorFile(QProcess::nullDevice());
  opener->start();
  if (!opener->waitForStarted()) {
    delete opener;
    return ShellResult::OutOfResources;
  }
  if (!opener->waitForFinished(m_waitMs)) {
    QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
    return ShellResult::Success;
  }
  const bool exited = opener->exitStatus() == QProcess::NormalExit;
  const int code = opener->exitCode();
  delete opener;
  // xdg-open: 0 done, 2 a file is missing, 3 no tool to open it, 4 the action failed.
  if (exited && code == 0) return ShellResult::Success;
  if (exited && code == 2) return ShellResult::FileNotFound;
  return ShellResult::NoAssociation;
#else
  Q_UNUSED(m_program);
  Q_UNUSED(m_waitMs);
  const QUrl url = HasUrlScheme(target) ? QUrl(target) : QUrl::fromLocalFile(target);
  return QDesktopServices::openUrl(url) ? ShellResult::Success : ShellResult::NoAssociation;
#endif
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
