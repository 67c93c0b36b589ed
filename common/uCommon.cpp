#include "common/uCommon.h"

#include <QDir>
#include <QLocale>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>

#include <shlobj.h>
#else
#include <csignal>
#endif

namespace {
struct Folders {
  QString user, common, settingsFile;
};
Folders& AppFolders() {
  static Folders f;
  return f;
}

QString WithSuffix(QString base) {
  // Without a base folder there is nowhere to keep files: a relative path would scatter them
  // into whatever the working folder is. The settings then live in memory for this run.
  if (base.isEmpty()) return QString();
  // The suffix binds on every platform; only the base folder differs.
  if (!base.endsWith(QLatin1Char('/')) && !base.endsWith(QLatin1Char('\\')))
    base += QLatin1Char('/');
  QString folder = base + QStringLiteral("Quorvix/Velmora/");
#ifdef Q_OS_WIN
  folder = QDir::toNativeSeparators(folder);
#endif
  return folder;
}

#ifdef Q_OS_WIN
// A shell folder such as CSIDL_APPDATA; empty when the shell cannot name it.
QString ShellFolder(int csidl) {
  PIDLIST_ABSOLUTE items = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || !items) return QString();
  wchar_t path[MAX_PATH] = {};
  const bool ok = SHGetPathFromIDListW(items, path);
  CoTaskMemFree(items);
  return ok ? QString::fromWCharArray(path) : QString();
}
#endif

QString UserConfigBase() {
#ifdef Q_OS_WIN
  return ShellFolder(CSIDL_APPDATA);
#else
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#endif
}

void EnsureFolder(const QString& path) {
  if (!path.isEmpty()) QDir().mkpath(path); // failure is ignored: the program still starts
}

QString SystemWideConfigBase() {
#ifdef Q_OS_WIN
  return ShellFolder(CSIDL_COMMON_APPDATA);
#else
  // The first system-wide XDG configuration folder.
  const QString user = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  for (const QString& dir :
       QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation))
    if (dir != user) return dir;
  return QStringLiteral("/etc/xdg");
#endif
}
} // namespace

const QString& UserDataFolder() {
  return AppFolders().user;
}
const QString& CommonDataFolder() {
  return AppFolders().common;
}
const QString& UserSettingsFile() {
  return AppFolders().settingsFile;
}

void IgnoreFileSizeLimitSignal() {
#ifndef Q_OS_WIN
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void InitApplicationFolders(const QString& userBase, const QString& commonBase) {
  Folders& f = AppFolders();
  f.user = WithSuffix(userBase.isEmpty() ? UserConfigBase() : userBase);
  EnsureFolder(f.user);
  f.settingsFile = f.user.isEmpty() ? QString() : f.user + QStringLiteral("settings.ini");
  f.common = WithSuffix(commonBase.isEmpty() ? SystemWideConfigBase() : commonBase);
#ifdef Q_OS_WIN
  EnsureFolder(f.common);
#endif
  // Elsewhere the all-users folder belongs to the administrator and the package manager: the
  // program only reads what is there and never creates anything under /etc/xdg.
}

QString FormatByteSize(std::int64_t bytes) {
  const QLocale locale;
  auto fmt = [&](double value, const QString& unit) {
    return locale.toString(value, 'f', 3) + QLatin1Char(' ') + unit;
  };
  if (bytes >= (std::int64_t(1) << 30))
    return fmt(double(bytes) / double(std::int64_t(1) << 30), QStringLiteral("GB"));
  if (bytes >= (std::int64_t(1) << 20))
    return fmt(double(bytes) / double(std::int64_t(1) << 20), QStringLiteral("MB"));
  if (bytes >= 1024) return fmt(double(bytes) / 1024.0, QStringLiteral("kB"));
  return QStringLiteral("%1 bytes").arg(bytes);
}

QString QuoteSQLString(const QString& text) {
  QString result = text;
  result.replace(QLatin1Char('\''), QStringLiteral("''"));
  return result;
}

QString QuoteSQLIdentifier(const QString& name) {
  QString inner = name;
  inner.replace(QLatin1Char(']'), QStringLiteral("]]"));
  return QLatin1Char('[') + inner + QLatin1Char(']');
}
