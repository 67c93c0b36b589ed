#pragma once
// Small file helpers for the settings tests.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

inline QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Use with QVERIFY(WriteAll(...)).
inline bool WriteAll(const QString& path, const QByteArray& data) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}
