// Replays the seeds of the hostile-server fuzz target, and every answer that once made the
// data store fail, through a real login and query on loopback, in the sanitizer build.

#include "fuzz/hostileserver/uFuzzHostileServer.h"

#include <QDir>
#include <QtTest>

class TestFuzzReplayDataStore : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void replay_data() {
    QTest::addColumn<QString>("path");
    const QString root = qEnvironmentVariable("VELMORA_SOURCE_DIR");
    for (const QString& dir :
         {root + "/fuzz/hostileserver/corpus", root + "/fuzz/regressions/hostileserver"})
      for (const QFileInfo& f : QDir(dir).entryInfoList(QDir::Files | QDir::NoDotAndDotDot))
        QTest::newRow(qPrintable(f.dir().dirName() + "/" + f.fileName())) << f.filePath();
  }
  void replay() {
    QFETCH(QString, path);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    QVERIFY(FuzzHostileServerOnce(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                  std::size_t(data.size())));
  }
};

QTEST_GUILESS_MAIN(TestFuzzReplayDataStore)
#include "test_fuzzreplay_datastore.moc"
