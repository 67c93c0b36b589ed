// Replays the fuzzer's seeds and every input that once crashed it through the same entry, in
// the sanitizer build.

#include "uSqlSimFuzz.h"

#include <QDir>
#include <QtTest>

class TTestSqlSimFuzzReplay : public QObject {
  Q_OBJECT
private slots:
  void replay_data();
  void replay();
};

void TTestSqlSimFuzzReplay::replay_data() {
  QTest::addColumn<QString>("path");
  const QString root = qEnvironmentVariable("VELMORA_SOURCE_DIR");
  for (const QString& dir :
       {root + "/fuzz/sqlsim/corpus", root + "/fuzz/regressions/fuzz_sqlsim_input"})
    for (const QFileInfo& f : QDir(dir).entryInfoList(QDir::Files | QDir::NoDotAndDotDot))
      if (!f.fileName().startsWith('.'))
        QTest::newRow(qPrintable(f.dir().dirName() + "/" + f.fileName())) << f.filePath();
}

void TTestSqlSimFuzzReplay::replay() {
  QFETCH(QString, path);
  QFile f(path);
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QByteArray data = f.readAll();
  SqlSimFuzzOne(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size()));
}

QTEST_APPLESS_MAIN(TTestSqlSimFuzzReplay)
#include "test_sqlsim_fuzzreplay.moc"
