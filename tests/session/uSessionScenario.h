#pragma once
// A small server for the session's tests: two user databases, one of them offline, and faults
// given per test.

#include "common/uCommon.h"
#include "uSqlSimProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace SessionTest {

inline QString Scenario(const QJsonArray& faults = {}, const QStringList& denied = {},
                        const QString& password = QStringLiteral("pw")) {
  QJsonObject login{{"name", "monitor"}, {"password", password}};
  if (!denied.isEmpty()) login["denied"] = QJsonArray::fromStringList(denied);
  QJsonArray databases;
  for (const char* name : {"master", "model", "msdb", "tempdb"})
    databases.append(QJsonObject{{"name", name}});
  databases.append(QJsonObject{{"name", "Archive"}, {"status", 512}});
  databases.append(QJsonObject{{"name", "Sales"}, {"recovery", "FULL"}, {"logUsedPercent", 42}});
  const QJsonObject scenario{{"server", QJsonObject{{"version", "10.50.1600.1"}}},
                             {"logins", QJsonArray{login}},
                             {"databases", databases},
                             {"faults", faults}};
  return QString::fromUtf8(QJsonDocument(scenario).toJson(QJsonDocument::Compact));
}

inline QJsonObject Fault(const char* statement, const QJsonObject& what) {
  QJsonObject f = what;
  f["statement"] = QString::fromLatin1(statement);
  return f;
}

inline TSQLConnectionProperties Props(const TSqlSimProcess& sim) {
  TSQLConnectionProperties p;
  p.Instance = sim.ServerName();
  p.SQLLogin = QStringLiteral("monitor");
  p.SQLPassword = QStringLiteral("pw");
  return p;
}

inline int Count(const QStringList& lines, const QString& prefix) {
  int n = 0;
  for (const QString& l : lines)
    n += l.startsWith(prefix) ? 1 : 0;
  return n;
}

} // namespace SessionTest
