// Replays the seeds of the fuzz targets for the version history, the server version string
// and the DBCC OPENTRAN messages, and every input that once made one of them fail, through
// the same entry as the fuzzer, in the sanitizer build.

#include "fuzz/history/uHistoryRender.h"
#include "fuzz/opentran/uFuzzOpenTran.h"
#include "fuzz/serverversion/uFuzzServerVersion.h"

#include <QDir>
#include <QtTest>

class TestFuzzReplay : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void replay_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("path");
    const QString root = qEnvironmentVariable("VELMORA_SOURCE_DIR");
    for (const QString target : {"history", "serverversion", "opentran"})
      for (const QString& dir :
           {root + "/fuzz/" + target + "/corpus", root + "/fuzz/regressions/" + target})
        for (const QFileInfo& f : QDir(dir).entryInfoList(QDir::Files | QDir::NoDotAndDotDot))
          QTest::newRow(qPrintable(target + "/" + f.dir().dirName() + "/" + f.fileName()))
              << target << f.filePath();
  }
  void replay() {
    QFETCH(QString, target);
    QFETCH(QString, path);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.constData());
    if (target == u"history") {
      TfrmUpdateInformation dlg;
      RenderHistory(dlg, QString::fromUtf8(data));
    } else if (target == u"serverversion") {
      FuzzServerVersionOnce(bytes, std::size_t(data.size()));
    } else {
      FuzzOpenTranOnce(bytes, std::size_t(data.size()));
    }
  }
};

QTEST_MAIN(TestFuzzReplay)
#include "test_fuzzreplay.moc"
