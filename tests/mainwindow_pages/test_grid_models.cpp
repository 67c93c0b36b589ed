// The typed grid model, the in-memory table as the VLF grid's model, and the grid helpers.

#include "platform/gui/uGridModel.h"
#include "platform/gui/uGridView.h"
#include "platform/uMemTable.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QBrush>
#include <QHeaderView>
#include <QLocale>
#include <QTableView>
#include <QTest>
#include <algorithm>

namespace {
QVector<TGridColumn> Columns() {
  TGridColumn name, size, time;
  name.Header = "Name";
  size.Header = "Size";
  size.Kind = TGridColumnKind::Number;
  size.CellAlignment = Qt::AlignRight;
  size.Default = 0;
  time.Header = "Time";
  time.Kind = TGridColumnKind::Time;
  time.Sortable = false;
  return {name, size, time};
}

QStringList ColumnTexts(const QAbstractItemModel& m, int column) {
  QStringList texts;
  for (int r = 0; r < m.rowCount(); ++r)
    texts << m.index(r, column).data().toString();
  return texts;
}

void ClickHeader(QTableView& grid, int section) {
  QHeaderView* h = grid.horizontalHeader();
  const QPoint p(h->sectionViewportPosition(section) + h->sectionSize(section) / 2,
                 h->height() / 2);
  QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, p);
}
} // namespace

class TestGridModels : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void gridModelCells() {
    TGridModel m(Columns());
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.AddRows(3);
    QCOMPARE(m.index(0, 1).data().toString(), QString("0")); // default value
    m.SetCell(0, 0, "db");
    m.SetCell(1, 0, 12.5);
    m.SetCell(1, 1, qint64(9007199254740993)); // beyond a double's exact range
    m.SetCell(1, 2, 1234567.125);
    QCOMPARE(m.index(0, 1).data().toString(), QString("12.5"));
    QCOMPARE(m.index(1, 1).data().toString(), QString("9007199254740993"));
    QCOMPARE(m.index(2, 1).data().toString(), QString("1234567.125")); // no group separator
    m.SetEmpty(1, 0, true);
    QVERIFY(!m.index(0, 1).data().isValid()); // an empty cell draws nothing
    QCOMPARE(m.Cell(1, 0).toDouble(), 12.5);  // but keeps its value
    m.SetCell(2, 0, QDateTime(QDate(2026, 1, 2), QTime(13, 4, 5)));
    QCOMPARE(m.index(0, 2).data().toString(), QString("1:04:05 PM"));
    QVERIFY(!m.index(0, 1).data(Qt::BackgroundRole).isValid());
    m.SetColor(1, 0, QColor(254, 224, 210));
    QCOMPARE(m.index(0, 1).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(254, 224, 210));
    m.SetColor(1, 0, QColor());
    QVERIFY(!m.index(0, 1).data(Qt::BackgroundRole).isValid());
    QCOMPARE(Qt::Alignment(m.index(0, 1).data(Qt::TextAlignmentRole).toInt()) & Qt::AlignRight,
             Qt::AlignRight);

    {
      const TGridUpdateGuard update(m);
      for (int r = 0; r < 3; ++r)
        m.SetCell(0, r, QString("n%1").arg(r));
    }
    m.ClearRows();
    QCOMPARE(m.rowCount(), 0);
  }

  // A cell gives back what was put in, of the same type, also after holding another type.
  // A time cell shows the locale's long time format: hours, minutes, seconds, and no zone.
  void timeCellFormat_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text");
    QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates) << "4:17:01 PM";
    QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << "16:17:01";
    QTest::newRow("en_GB") << QLocale(QLocale::English, QLocale::UnitedKingdom) << "16:17:01";
  }
  void timeCellFormat() {
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    const QLocale before;
    QLocale::setDefault(locale);
    TGridModel m(Columns());
    m.AddRows(2);
    m.SetCell(2, 0, QDateTime(QDate(2026, 1, 2), QTime(16, 17, 1)));
    m.SetTime(2, 1, QDateTime(QDate(2026, 1, 2), QTime(16, 17, 1)));
    const QString first = m.index(0, 2).data().toString();
    const QString second = m.index(1, 2).data().toString();
    QLocale::setDefault(before);
    QCOMPARE(first, text);
    QCOMPARE(second, text);
  }

  void gridModelCellTypes_data() {
    QTest::addColumn<QVariant>("value");
    QTest::newRow("null") << QVariant();
    QTest::newRow("int") << QVariant(int(-7));
    QTest::newRow("int64") << QVariant(qlonglong(9007199254740993));
    QTest::newRow("double") << QVariant(0.1);
    QTest::newRow("date-time") << QVariant(QDateTime(QDate(2026, 1, 2), QTime(13, 4, 5)));
    QTest::newRow("text") << QVariant(QString("db"));
    QTest::newRow("other type") << QVariant(QTime(1, 2, 3));
  }
  void gridModelCellTypes() {
    QFETCH(QVariant, value);
    const QVariant others[] = {QVariant(QString("before")), QVariant(2.5), QVariant(QTime(4, 0)),
                               QVariant()};
    for (const QVariant& before : others) {
      TGridModel m(Columns());
      m.AddRows(2);
      m.SetCell(0, 1, before);
      m.SetCell(0, 1, value);
      QCOMPARE(m.Cell(0, 1).typeId(), value.typeId());
      QCOMPARE(m.Cell(0, 1), value);
      m.SetCell(0, 0, QVariant(value)); // the moving overload
      QCOMPARE(m.Cell(0, 0), value);
    }
  }

  // Rows added after values were set, then sorted: every column moves with its rows.
  void gridModelSortsAfterRowsAdded() {
    TGridModel m(Columns());
    m.AddRows(2);
    m.SetCell(0, 0, "b");
    m.SetCell(1, 0, 2);
    m.SetCell(0, 1, "a");
    m.SetCell(1, 1, 1);
    const QDateTime at(QDate(2026, 1, 1), QTime(10, 0));
    m.SetCell(2, 0, at); // no time in any later row
    m.AddRows(2);        // the numbers of these rows are the default 0
    m.SetCell(0, 2, "z");
    m.SetCell(0, 3, "y");
    m.SetCell(1, 3, 5.5);
    m.sort(1, Qt::AscendingOrder);
    QCOMPARE(ColumnTexts(m, 0), QStringList({"z", "a", "b", "y"}));
    QCOMPARE(ColumnTexts(m, 1), QStringList({"0", "1", "2", "5.5"}));
    QCOMPARE(m.Cell(2, 2), QVariant(at)); // "b"'s time went with it
    QVERIFY(m.Cell(2, 0).isNull());
  }

  void gridModelSortsByValue() {
    TGridModel m(Columns());
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.AddRows(4);
    const QStringList names = {"b", "a", "c", "d"};
    const QList<double> sizes = {10, 9.5, 100, 0};
    const QList<QTime> times = {QTime(10, 0), QTime(9, 0), QTime(23, 0), QTime(1, 0)};
    for (int r = 0; r < 4; ++r) {
      m.SetCell(0, r, names[r]);
      m.SetCell(1, r, sizes[r]);
      m.SetCell(2, r, QDateTime(QDate(2026, 1, 1), times[r]));
    }
    m.SetEmpty(1, 3, true);
    const QPersistentModelIndex c(m.index(2, 0));
    m.sort(1, Qt::AscendingOrder);
    QCOMPARE(ColumnTexts(m, 0), QStringList({"d", "a", "b", "c"})); // empty first, then by value
    QCOMPARE(c.row(), 3); // persistent indexes follow their rows
    m.sort(1, Qt::DescendingOrder);
    QCOMPARE(ColumnTexts(m, 0), QStringList({"c", "b", "a", "d"}));
    m.sort(2, Qt::AscendingOrder); // not sortable: nothing moves
    QCOMPARE(ColumnTexts(m, 0), QStringList({"c", "b", "a", "d"}));
    m.sort(0, Qt::AscendingOrder);
    QCOMPARE(ColumnTexts(m, 0), QStringList({"a", "b", "c", "d"}));
  }

  // Texts sort without regard to letter case, accents still counting (a server's default
  // collation); sizes shown as text sort by the bytes behind them.
  void gridModelSortsTexts_data() {
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<qint64>>("keys"); // -1: no key
    QTest::addColumn<QStringList>("ascending");
    QTest::newRow("names") << QStringList{"Zürich Büro", "master", "Alpha", "zeta", "Model", "msdb"}
                           << QList<qint64>{-1, -1, -1, -1, -1, -1}
                           << QStringList{"Alpha", "master", "Model",
                                          "msdb",  "zeta",   "Zürich Büro"};
    QTest::newRow("sizes") << QStringList{"1.000 GB", "512.000 MB", "8.000 kB", "2.000 MB"}
                           << QList<qint64>{1 << 30, 512 << 20, 8 << 10, 2 << 20}
                           << QStringList{"8.000 kB", "2.000 MB", "512.000 MB", "1.000 GB"};
    QTest::newRow("keyed before unkeyed")
        << QStringList{"5% increments", "64.000 MB", "10% increments", "1.000 MB"}
        << QList<qint64>{-1, 64 << 20, -1, 1 << 20}
        << QStringList{"1.000 MB", "64.000 MB", "10% increments", "5% increments"};
  }

  void gridModelSortsTexts() {
    QFETCH(QStringList, texts);
    QFETCH(QList<qint64>, keys);
    QFETCH(QStringList, ascending);
    TGridModel m(Columns());
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.AddRows(int(texts.size()));
    for (int r = 0; r < texts.size(); ++r) {
      m.SetCell(0, r, texts[r]);
      if (keys[r] >= 0) m.SetSortKey(0, r, keys[r]);
    }
    m.sort(0, Qt::AscendingOrder);
    QCOMPARE(ColumnTexts(m, 0), ascending);
    m.sort(0, Qt::DescendingOrder);
    std::reverse(ascending.begin(), ascending.end());
    QCOMPARE(ColumnTexts(m, 0), ascending);
  }

  // A key belongs to the text it was set with: a new text drops it.
  void gridModelSortKeyGoesWithItsText() {
    TGridModel m(Columns());
    m.AddRows(2);
    m.SetCell(0, 0, "b");
    m.SetSortKey(0, 0, 1);
    m.SetCell(0, 1, "a");
    m.SetSortKey(0, 1, 2);
    m.sort(0, Qt::AscendingOrder);
    QCOMPARE(ColumnTexts(m, 0), QStringList({"b", "a"}));
    m.SetText(0, 1, "c"); // row 1 holds "a" with key 2: replaced without a key
    m.sort(0, Qt::AscendingOrder);
    QCOMPARE(ColumnTexts(m, 0), QStringList({"b", "c"}));
    m.SetText(0, 0, "d");
    m.sort(0, Qt::AscendingOrder);
    QCOMPARE(ColumnTexts(m, 0), QStringList({"c", "d"}));
  }

  // A cell's own tooltip and icon travel with its row when the grid sorts.
  void gridModelHintsAndIcons() {
    TGridModel m(Columns());
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.AddRows(3);
    const QStringList texts = {"OK", "1,250 VLFs", "Log 75 % full"};
    const qint64 keys[] = {2, 0, 1};
    for (int r = 0; r < 3; ++r) {
      m.SetText(0, r, texts[r]);
      m.SetSortKey(0, r, keys[r]);
      m.SetHint(0, r, "tip " + texts[r]);
    }
    m.SetDecoration(0, 1, QColor(Qt::red));
    QCOMPARE(m.index(0, 1).data(Qt::ToolTipRole), QVariant()); // no hint of its own
    m.sort(0, Qt::AscendingOrder);
    QCOMPARE(ColumnTexts(m, 0), QStringList({"1,250 VLFs", "Log 75 % full", "OK"}));
    QCOMPARE(m.index(0, 0).data(Qt::ToolTipRole).toString(), QString("tip 1,250 VLFs"));
    QCOMPARE(m.index(0, 0).data(Qt::DecorationRole).value<QColor>(), QColor(Qt::red));
    QVERIFY(!m.index(2, 0).data(Qt::DecorationRole).isValid());
    m.SetRowCount(1); // shrinking drops what the rows had
    QCOMPARE(m.Hint(0, 0), QString("tip 1,250 VLFs"));
  }

  void memTableAppendsByName() {
    TMemTable t;
    QAbstractItemModelTester tester(&t, QAbstractItemModelTester::FailureReportingMode::QtTest);
    t.SetData({{"FileId", TFieldKind::Integer},
               {"FileSize", TFieldKind::Int64},
               {"CreateLSN", TFieldKind::Decimal}},
              {{qint32(2), qint64(10), QString("0")}});
    t.Clear();
    QCOMPARE(t.rowCount(), 0);
    QCOMPARE(t.columnCount(), 3);

    // A later result with another shape: extra columns dropped, missing ones NULL, kinds
    // converted to the table's.
    TMemTable later;
    later.SetData({{"RecoveryUnitId", TFieldKind::Integer},
                   {"FileSize", TFieldKind::Integer},
                   {"FileId", TFieldKind::Integer}},
                  {{qint32(0), qint32(5), qint32(2)}, {qint32(0), qint32(7), qint32(3)}});
    t.AppendRowsFrom(std::move(later));
    QCOMPARE(t.rowCount(), 2);
    QCOMPARE(t.Cell(1, 0), QVariant(qint32(3)));
    QCOMPARE(t.Cell(1, 1).typeId(), QMetaType::LongLong);
    QCOMPARE(t.Cell(1, 1).toLongLong(), 7);
    QVERIFY(t.Cell(1, 2).isNull());
    QVERIFY(!t.index(1, 2).data().isValid());

    // The same shape moves the rows over.
    TMemTable same;
    same.SetData(t.Columns(), {{qint32(4), qint64(1), QString("1")}});
    t.AppendRowsFrom(std::move(same));
    QCOMPARE(t.rowCount(), 3);
    QCOMPARE(t.Cell(2, 2), QVariant(QString("1")));
  }

  void memTableSortsByValue_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QVariantList>("ascending");
    const QVariant null;
    QTest::newRow("integers, NULL first")
        << int(TFieldKind::Integer) << QVariantList{qint32(10), null, qint32(-3), qint32(9)}
        << QVariantList{null, qint32(-3), qint32(9), qint32(10)};
    QTest::newRow("64-bit") << int(TFieldKind::Int64)
                            << QVariantList{qint64(5000000000), qint64(2), qint64(-5000000000)}
                            << QVariantList{qint64(-5000000000), qint64(2), qint64(5000000000)};
    QTest::newRow("floats") << int(TFieldKind::Float) << QVariantList{10.5, 9.25, -1.0}
                            << QVariantList{-1.0, 9.25, 10.5};
    // Decimals by value, beyond what a double tells apart, not as text ("10" < "9").
    QTest::newRow("decimals") << int(TFieldKind::Decimal)
                              << QVariantList{QString("10"),
                                              QString("9"),
                                              QString("-1.5"),
                                              QString("-10"),
                                              QString("25000000000102400001"),
                                              QString("25000000000102400000.5"),
                                              QString("0.50"),
                                              QString("-0"),
                                              null}
                              << QVariantList{null,
                                              QString("-10"),
                                              QString("-1.5"),
                                              QString("-0"),
                                              QString("0.50"),
                                              QString("9"),
                                              QString("10"),
                                              QString("25000000000102400000.5"),
                                              QString("25000000000102400001")};
    QTest::newRow("texts") << int(TFieldKind::UnicodeText)
                           << QVariantList{QString("b"), QString(""), QString("ab"), null}
                           << QVariantList{null, QString(""), QString("ab"), QString("b")};
    const QDateTime t(QDate(2026, 12, 11), QTime(9, 0));
    QTest::newRow("times") << int(TFieldKind::DateTime)
                           << QVariantList{t.addDays(1), t, t.addMSecs(-1)}
                           << QVariantList{t.addMSecs(-1), t, t.addDays(1)};
  }
  void memTableSortsByValue() {
    QFETCH(int, kind);
    QFETCH(QVariantList, values);
    QFETCH(QVariantList, ascending);
    // A second column shows that whole rows move.
    QVector<QVector<QVariant>> rows;
    for (int i = 0; i < values.size(); ++i)
      rows.append({values[i], QString::number(i)});
    TMemTable t;
    QAbstractItemModelTester tester(&t, QAbstractItemModelTester::FailureReportingMode::QtTest);
    t.SetData({{"v", TFieldKind(kind)}, {"row", TFieldKind::Text}}, rows);
    t.sort(0, Qt::AscendingOrder);
    for (int r = 0; r < ascending.size(); ++r) {
      QCOMPARE(t.Cell(r, 0), ascending[r]);
      QCOMPARE(t.Cell(r, 1).toString(), QString::number(values.indexOf(ascending[r])));
    }
    t.sort(0, Qt::DescendingOrder);
    QCOMPARE(t.Cell(0, 0), ascending.last());
    QCOMPARE(t.Cell(int(ascending.size()) - 1, 0), ascending.first());
  }

  // A table that shares a result's rows never writes through to them: sorting, appending and
  // clearing leave the result as the server sent it.
  void memTableSharedRowsStayUntouched_data() {
    QTest::addColumn<int>("change");
    QTest::newRow("sort") << 0;
    QTest::newRow("append") << 1;
    QTest::newRow("clear") << 2;
  }
  void memTableSharedRowsStayUntouched() {
    QFETCH(int, change);
    TColumnData fseq;
    fseq.Name = "FSeqNo";
    fseq.Kind = TFieldKind::Integer;
    for (const int v : {3, 1, 2}) {
      fseq.Int32.push_back(v);
      fseq.MarkValue();
    }
    const TColumnSet result{fseq};
    TMemTable t;
    t.SetColumnData(TColumnSet{fseq}); // fixes the columns, as the page's first list does
    t.Clear();
    t.AppendColumnData(result);
    QVERIFY(t.rowCount() == 3);
    if (change == 0) t.sort(0, Qt::AscendingOrder);
    if (change == 1) t.AppendColumnData(result);
    if (change == 2) t.Clear();
    QCOMPARE(result.front().Count, std::size_t(3));
    QCOMPARE(result.front().Int32, (std::vector<std::int32_t>{3, 1, 2}));
    QCOMPARE(t.rowCount(), change == 1 ? 6 : change == 2 ? 0 : 3);
    if (change == 0) QCOMPARE(t.Cell(0, 0).toInt(), 1);
  }

  // Rows appended in parts, each with or without NULLs, keep every value and NULL in place.
  void memTableAppendsNullsAndTexts() {
    const QVector<TMemColumn> columns = {
        {"n", TFieldKind::Integer}, {"s", TFieldKind::UnicodeText}, {"d", TFieldKind::Decimal}};
    const QVariant null;
    const QVector<QVector<QVariant>> parts[] = {
        {{qint32(1), QString("one"), QString("1.5")}},
        {{null, QString("two"), null}, {qint32(3), null, QString("-3")}},
        {{qint32(4), QString("four"), QString("4")}},
    };
    TMemTable t;
    t.SetData(columns, {});
    QVector<QVector<QVariant>> all;
    for (const auto& part : parts) {
      TMemTable more;
      more.SetData(columns, part);
      t.AppendRowsFrom(std::move(more));
      all += part;
    }
    QCOMPARE(t.rowCount(), int(all.size()));
    for (int r = 0; r < all.size(); ++r)
      for (int c = 0; c < columns.size(); ++c)
        QCOMPARE(t.Cell(r, c), all[r][c]);
  }

  void memTableDecimalDisplay() {
    TMemTable t;
    const QString lsn = "25000000000102400001"; // more digits than a double keeps
    t.SetData({{"CreateLSN", TFieldKind::Decimal}, {"Name", TFieldKind::Text}},
              {{lsn, QString("x")}});
    QVERIFY(t.index(0, 0).data().toString() != lsn);
    t.SetColumnDisplay(0, TColumnDisplay::ExactText);
    QCOMPARE(t.index(0, 0).data().toString(), lsn);
    QCOMPARE(t.headerData(0, Qt::Horizontal, TGridRole::LongestTexts).toStringList(),
             QStringList({lsn}));
    t.SetColumnAlignment(1, Qt::AlignRight);
    QCOMPARE(Qt::Alignment(t.index(0, 1).data(Qt::TextAlignmentRole).toInt()) & Qt::AlignRight,
             Qt::AlignRight);
    QCOMPARE(Qt::Alignment(t.headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).toInt()) &
                 Qt::AlignRight,
             Qt::AlignRight);
    t.Clear(); // view settings survive a refill
    QCOMPARE(t.ColumnDisplay(0), TColumnDisplay::ExactText);
  }

  void longestTexts_data() {
    QTest::addColumn<QList<qint64>>("values");
    QTest::addColumn<QString>("widest");
    QTest::newRow("positive") << QList<qint64>{5, 123456, 99} << "123456";
    QTest::newRow("minus sign counts") << QList<qint64>{-99999, 12345} << "-99999";
    QTest::newRow("int64 min") << QList<qint64>{std::numeric_limits<qint64>::min(), 1}
                               << "-9223372036854775808";
  }
  void longestTexts() {
    QFETCH(QList<qint64>, values);
    QFETCH(QString, widest);
    QVector<QVector<QVariant>> rows;
    for (qint64 v : values)
      rows.append({QVariant(v)});
    TMemTable t;
    t.SetData({{"v", TFieldKind::Int64}}, rows);
    const QStringList texts =
        t.headerData(0, Qt::Horizontal, TGridRole::LongestTexts).toStringList();
    QVERIFY2(texts.contains(widest), qPrintable(texts.join(',')));
    QVERIFY(texts.size() <= 2); // an integer column measures its extremes only
  }

  void fitColumnWidths() {
    TGridModel m(Columns());
    QTableView grid;
    grid.setModel(&m);
    SetupGrid(&grid);
    m.AddRows(3);
    m.SetCell(0, 0, "short");
    m.SetCell(0, 1, "a much longer database name than the header");
    m.SetCell(0, 2, "mid");
    for (int r = 0; r < 3; ++r)
      m.SetEmpty(1, r, true); // only the header counts
    FitColumnWidths(&grid, 24);
    const QFontMetrics fm = grid.fontMetrics();
    QHeaderView* h = grid.horizontalHeader();
    QVERIFY(h->sectionSize(0) >=
            fm.horizontalAdvance("a much longer database name than the header") + 24);
    QVERIFY(h->sectionSize(0) <
            fm.horizontalAdvance("a much longer database name than the header") + 24 + 30);
    QCOMPARE(h->sectionSize(1), h->sectionSizeHint(1) + 24); // the header in full
    QCOMPARE(grid.verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  }

  // Rows kept, dropped and added by SetRowCount: fitting still sees every filled cell and
  // nothing of the rows that went.
  void longestTextsAfterRowCountChanges() {
    TGridModel m(Columns());
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const auto longest = [&m] {
      return m.headerData(0, Qt::Horizontal, TGridRole::LongestTexts).toStringList();
    };
    m.AddRows(3);
    for (int r = 0; r < 3; ++r)
      m.SetEmpty(0, r, true);
    m.SetCell(0, 2, "a long name in the last row");
    m.SetEmpty(0, 2, false);
    QCOMPARE(longest(), QStringList({"a long name in the last row"}));
    m.SetRowCount(2); // the filled row goes
    QVERIFY(longest().isEmpty());
    m.SetRowCount(4); // new rows are not marked empty
    m.SetCell(0, 3, "new");
    QCOMPARE(longest(), QStringList({"new"}));
    m.SetEmpty(0, 3, true);
    QVERIFY(longest().isEmpty());
    m.SetEmpty(0, 0, false);
    m.SetCell(0, 0, "kept");
    QCOMPARE(longest(), QStringList({"kept"}));
  }

  void headerClickSortsOnlySortableColumns() {
    TGridModel m(Columns());
    QTableView grid;
    grid.setModel(&m);
    SetupGrid(&grid);
    m.AddRows(3);
    const QStringList names = {"b", "c", "a"};
    for (int r = 0; r < 3; ++r) {
      m.SetCell(0, r, names[r]);
      m.SetCell(1, r, 3 - r);
      m.SetCell(2, r, QDateTime(QDate(2026, 1, 1), QTime(r, 0)));
    }
    grid.resize(600, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    ClickHeader(grid, 0);
    QCOMPARE(ColumnTexts(m, 0), QStringList({"a", "b", "c"}));
    ClickHeader(grid, 0);
    QCOMPARE(ColumnTexts(m, 0), QStringList({"c", "b", "a"}));
    ClickHeader(grid, 2); // time column does not sort; the indicator stays
    QCOMPARE(ColumnTexts(m, 0), QStringList({"c", "b", "a"}));
    QCOMPARE(grid.horizontalHeader()->sortIndicatorSection(), 0);

    TMemTable t;
    t.SetData({{"n", TFieldKind::Integer}}, {{qint32(2)}, {qint32(1)}});
    QTableView vlf;
    vlf.setModel(&t);
    SetupGrid(&vlf, false);
    DisableColumnSorting(&vlf);
    vlf.show();
    QVERIFY(QTest::qWaitForWindowExposed(&vlf));
    ClickHeader(vlf, 0);
    t.sort(0); // the model refuses too
    QCOMPARE(ColumnTexts(t, 0), QStringList({"2", "1"}));
  }
};

QTEST_MAIN(TestGridModels)
#include "test_grid_models.moc"
