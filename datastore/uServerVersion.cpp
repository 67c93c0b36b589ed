#include "datastore/uServerVersion.h"

#include <QCoreApplication>
#include <stdexcept>

namespace {

int VersionNumber(const QString& part) {
  bool ok = false;
  const int value = part.toInt(&ok, 10);
  if (!ok)
    throw std::runtime_error(
        QCoreApplication::translate("TDataStoreSQLServer", "'%1' is not a valid integer value")
            .arg(part)
            .toStdString());
  return value;
}

QString ProductName(int major, int minor) {
  switch (major) {
  case 8:
    return QStringLiteral("SQL Server 2000");
  case 9:
    return QStringLiteral("SQL Server 2005");
  case 10:
    return minor == 50 ? QStringLiteral("SQL Server 2008 R2") : QStringLiteral("SQL Server 2008");
  case 11: // released as 2012, never as "2011"
    return QStringLiteral("SQL Server 2012");
  case 12:
    return QStringLiteral("SQL Server 2014");
  case 13:
    return QStringLiteral("SQL Server 2016");
  case 14:
    return QStringLiteral("SQL Server 2017");
  case 15:
    return QStringLiteral("SQL Server 2019");
  case 16:
    return QStringLiteral("SQL Server 2022");
  case 17:
    return QStringLiteral("SQL Server 2025");
  default:
    return {};
  }
}

} // namespace

QString ServerVersionName(const QString& version) {
  int major = 0;
  int minor = 0;
  const qsizetype dot = version.indexOf(u'.');
  if (dot >= 0) {
    major = VersionNumber(version.left(dot));
    const QString rest = version.mid(dot + 1);
    const qsizetype dot2 = rest.indexOf(u'.');
    if (dot2 >= 0) minor = VersionNumber(rest.left(dot2));
  }
  const QString name = ProductName(major, minor);
  if (name.isEmpty()) return QStringLiteral("SQL Server ") + version;
  return name + QStringLiteral(" - ") + version;
}

std::optional<int> ServerMajorVersion(const QString& version) {
  const qsizetype dot = version.indexOf(u'.');
  if (dot < 0) return std::nullopt;
  bool ok = false;
  const int major = version.left(dot).toInt(&ok, 10);
  if (!ok) return std::nullopt;
  return major;
}
