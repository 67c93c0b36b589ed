#include "platform/uGlobalSettings.h"

#include "platform/uIniStore.h"

#include <QCoreApplication>
#include <QSettings>

#ifdef Q_OS_WIN
namespace {
QString NotTextMessage(const QString& name) {
  return QCoreApplication::translate("TSystemGlobalSettings", "Invalid data type for '%1'")
      .arg(name);
}
} // namespace
#endif

TSystemGlobalSettings::TSystemGlobalSettings() {
#ifndef Q_OS_WIN
  // Only the location is taken from QSettings: its reader drops the backslash of "sql02\inst".
  m_configFile = QSettings(QSettings::NativeFormat, QSettings::SystemScope,
                           QStringLiteral("Quorvix"), QStringLiteral("Tessaly"))
                     .fileName();
#endif
}

TSystemGlobalSettings::TSystemGlobalSettings(const QString& configFile)
    : m_configFile(configFile) {}

std::optional<QString> TSystemGlobalSettings::ReadText(const QString& name) const {
#ifdef Q_OS_WIN
  // A 32-bit build must still read the 64-bit view of the registry.
  const QSettings registry(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Quorvix\\Tessaly"),
                           QSettings::Registry64Format);
  if (!registry.contains(name)) return std::nullopt;
  const QVariant value = registry.value(name);
  if (value.typeId() != QMetaType::QString)
    throw TGlobalSettingError(NotTextMessage(name).toStdString());
  return value.toString();
#else
  if (m_configFile.isEmpty()) return std::nullopt;
  const TIniStore file(m_configFile);
  if (auto value = file.Value(QString(), name)) return value;
  return file.Value(QStringLiteral("General"), name);
#endif
}
