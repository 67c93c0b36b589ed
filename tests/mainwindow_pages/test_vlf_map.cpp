// The VLF map: VLFs merged per pixel column, files and order, the current VLF and the tooltips.

#include "platform/gui/uVlfMap.h"

#include <QLocale>
#include <QTest>

namespace {
// A column as "count@first active% *" (the star marks the current VLF); "-" for an empty one.
QString Describe(const QVector<TVlfPixel>& pixels) {
  QStringList out;
  for (const TVlfPixel& p : pixels) {
    if (p.Count == 0) {
      out << "-";
      continue;
    }
    QString s =
        QStringLiteral("%1@%2 %3%").arg(p.Count).arg(p.First).arg(qRound(p.ActiveShare() * 100));
    if (p.Highest) s += " *";
    out << s;
  }
  return out.join(" | ");
}

QVector<TVlfMapEntry> Vlfs(const QList<qint64>& sizes, const QList<int>& active = {}) {
  QVector<TVlfMapEntry> v;
  qint64 offset = 8192;
  for (int i = 0; i < sizes.size(); ++i) {
    TVlfMapEntry e;
    e.FileId = 2;
    e.StartOffset = offset;
    e.Size = sizes[i];
    e.FSeqNo = 100 + i;
    e.Active = active.contains(i);
    offset += sizes[i];
    v << e;
  }
  return v;
}
} // namespace

class TestVlfMap : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void merge_data() {
    QTest::addColumn<QList<qint64>>("sizes");
    QTest::addColumn<QList<int>>("active");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("highest");
    QTest::addColumn<QString>("columns");
    QTest::newRow("no VLFs") << QList<qint64>{} << QList<int>{} << 3 << -1 << "- | - | -";
    QTest::newRow("no width") << QList<qint64>{8192} << QList<int>{} << 0 << -1 << "";
    QTest::newRow("one VLF per column") << QList<qint64>{4, 4, 4, 4} << QList<int>{1} << 4 << -1
                                        << "1@0 0% | 1@1 100% | 1@2 0% | 1@3 0%";
    QTest::newRow("a VLF over two columns") << QList<qint64>{4, 4} << QList<int>{0} << 4 << 1
                                            << "1@0 100% | 1@0 100% | 1@1 0% * | 1@1 0% *";
    QTest::newRow("two VLFs per column, ending on its edge")
        << QList<qint64>{2, 2, 2, 2} << QList<int>{2} << 2 << 3 << "2@0 0% | 2@2 50% *";
    QTest::newRow("width by size")
        << QList<qint64>{3, 1} << QList<int>{1} << 4 << -1 << "1@0 0% | 1@0 0% | 1@0 0% | 1@1 100%";
    QTest::newRow("a VLF split between columns")
        << QList<qint64>{1, 1, 1} << QList<int>{1} << 2 << -1 << "2@0 33% | 2@1 33%";
    QTest::newRow("a VLF narrower than a column in the middle of one")
        << QList<qint64>{10, 1, 9} << QList<int>{1} << 2 << 1 << "1@0 0% | 2@1 10% *";
  }
  void merge() {
    QFETCH(QList<qint64>, sizes);
    QFETCH(QList<int>, active);
    QFETCH(int, width);
    QFETCH(int, highest);
    QFETCH(QString, columns);
    const QVector<TVlfMapEntry> vlfs = Vlfs(sizes, active);
    QCOMPARE(Describe(MergeVlfPixels(vlfs, width, highest)), columns);
  }

  // 100,000 VLFs in 1,000 columns: 100 each, and every byte counted once.
  void mergeMany() {
    const QVector<TVlfMapEntry> vlfs = Vlfs(QList<qint64>(100000, 65536), {99999});
    const QVector<TVlfPixel> pixels = MergeVlfPixels(vlfs, 1000, 99999);
    double total = 0;
    for (int x = 0; x < pixels.size(); ++x) {
      QCOMPARE(pixels[x].Count, 100);
      QCOMPARE(pixels[x].First, x * 100);
      total += pixels[x].TotalBytes;
    }
    QCOMPARE(total, 100000.0 * 65536);
    QVERIFY(pixels.last().Highest);
    QVERIFY(!pixels[998].Highest);
  }

  void barsAndTooltips() {
    TVlfMap map;
    map.resize(400 + 100, 120);
    QVector<TVlfMapEntry> vlfs = Vlfs({262144, 262144});
    TVlfMapEntry other; // a second file, given first and out of order
    other.FileId = 3;
    other.StartOffset = 8192;
    other.Size = 1048576;
    other.FSeqNo = 300;
    other.Active = true;
    other.CreateLsn = "37000000012800001";
    vlfs.prepend(other);
    std::swap(vlfs[1], vlfs[2]);
    map.SetVlfs(vlfs);
    QCOMPARE(map.FileCount(), 2);
    QCOMPARE(map.Vlfs()[0].FSeqNo, 100); // file 2 first, in StartOffset order
    QCOMPARE(map.Vlfs()[1].FSeqNo, 101);

    const QRect first = map.BarRect(0), second = map.BarRect(1);
    QCOMPARE(map.ToolTipAt(QPoint(first.left() + 1, first.center().y())),
             "FSeqNo 100, 256.000 kB, reusable, CreateLSN -");
    QCOMPARE(map.ToolTipAt(QPoint(second.right(), second.center().y())),
             "FSeqNo 300, 1.000 MB, active, CreateLSN 37000000012800001");
    QVERIFY(map.ToolTipAt(QPoint(first.left() - 20, first.center().y())).isEmpty());

    // Many VLFs in one column: the first few, then how many more.
    map.SetVlfs(Vlfs(QList<qint64>(5000, 8192)));
    const QString many = map.ToolTipAt(QPoint(map.BarRect(0).left(), map.BarRect(0).center().y()));
    QVERIFY2(many.contains(" VLFs in this column\n"), qPrintable(many));
    QVERIFY(many.contains("\nand "));
    map.grab(); // paints without a fault
  }
};

QTEST_MAIN(TestVlfMap)
#include "test_vlf_map.moc"
