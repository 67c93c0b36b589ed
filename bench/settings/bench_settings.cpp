// What the recent-connection list, which grows without limit, costs: loading the settings file
// at start-up, and one SaveRecentConnection (list rewritten and file written to disk).

#include "common/udmCommon.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

namespace {
TSQLConnectionProperties Conn(int i) {
  TSQLConnectionProperties p;
  p.Instance = QStringLiteral("server%1\\instance").arg(i);
  p.Database = QStringLiteral("database%1").arg(i);
  p.SQLLogin = QStringLiteral("monitor");
  p.Provider = 1;
  return p;
}

void Report(const char* what, int lines, qint64 bytes, qint64 ns) {
  std::printf("%-40s %7d lines %10lld bytes %9.2f ms\n", what, lines, static_cast<long long>(bytes),
              double(ns) / 1e6);
}
} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  for (const int lines : {100, 10000, 100000}) {
    const QString file = dir.filePath(QStringLiteral("settings-%1.ini").arg(lines));
    {
      // Built directly: one AddRecentConnection per line would be quadratic here.
      QString list;
      for (int i = lines - 1; i >= 0; --i)
        list += QStringLiteral("server%1\\instance:database%1:monitor:1|").arg(i);
      TdmMain store(file, nullptr);
      store.SetSettingString(QString::fromLatin1(Settings::ConnectionListSQL.Key), list);
      store.SetSettingInteger(QString::fromLatin1(Settings::LastDBType.Key), 1);
    }
    const qint64 bytes = QFileInfo(file).size();

    QElapsedTimer t;
    t.start();
    TdmMain store(file, nullptr);
    Report("load settings file", lines, bytes, t.nsecsElapsed());

    t.restart();
    store.SaveRecentConnection(Conn(lines / 2)); // replaces a line in the middle
    Report("SaveRecentConnection (known server)", lines, bytes, t.nsecsElapsed());

    t.restart();
    store.SaveRecentConnection(Conn(lines + 1));
    Report("SaveRecentConnection (new server)", lines, bytes, t.nsecsElapsed());
  }
  return 0;
}
