// The overview's log figures: matching rows by name, truncation, highlight and time.

#include "forms/uOverviewPage.h"
#include "platform/gui/uGridModel.h"
#include "platform/gui/uGridView.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QLocale>
#include <QPalette>
#include <QTableView>
#include <QTest>

using Col = TOverviewPage::Column;

class TestOverviewPage : public QObject {
  Q_OBJECT
  static void AddRows(TGridModel* m, const QStringList& names) {
    m->AddRows(int(names.size()));
    for (int r = 0; r < names.size(); ++r) {
      m->SetCell(Col::colDBName, r, names[r]);
      for (int c = Col::colLogSize; c <= Col::colUpdated; ++c)
        m->SetEmpty(c, r, true);
    }
  }
  static QString Text(TGridModel* m, int row, int col) {
    return m->index(row, col).data().toString();
  }
  static bool Highlighted(TGridModel* m, int row) {
    return m->index(row, Col::colUsed).data(Qt::BackgroundRole).isValid();
  }

private Q_SLOTS:
  void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void figures_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("size");
    QTest::addColumn<double>("used");
    QTest::addColumn<QString>("sizeText");
    QTest::addColumn<QString>("usedText");
    QTest::addColumn<bool>("highlighted");
    QTest::newRow("truncated size") << "Sales" << 0.99999 << 10.0 << "0.9999"
                                    << "10" << false;
    QTest::newRow("plain size") << "Sales" << 12.5 << 10.0 << "12.5"
                                << "10" << false;
    QTest::newRow("69.999") << "Sales" << 1.0 << 69.999 << "1"
                            << "69.99" << false;
    QTest::newRow("70") << "Sales" << 1.0 << 70.0 << "1"
                        << "70" << true;
    QTest::newRow("tempdb at 95") << "tempdb" << 1.0 << 95.0 << "1"
                                  << "95" << false;
    QTest::newRow("real from the server") << "Sales" << double(93.75f) << double(70.0f) << "93.75"
                                          << "70" << true;
  }
  void figures() {
    QFETCH(QString, name);
    QFETCH(double, size);
    QFETCH(double, used);
    QFETCH(QString, sizeText);
    QFETCH(QString, usedText);
    QFETCH(bool, highlighted);
    QTableView grid;
    TOverviewPage page(&grid);
    TGridModel* m = page.Model();
    AddRows(m, {name});
    const QDateTime at(QDate(2026, 12, 11), QTime(9, 30, 15));
    page.ApplyLogSpace({{name, size, used}}, at);
    QCOMPARE(Text(m, 0, Col::colLogSize), sizeText);
    QCOMPARE(Text(m, 0, Col::colUsed), usedText);
    QCOMPARE(Highlighted(m, 0), highlighted);
    if (highlighted)
      QCOMPARE(m->index(0, Col::colUsed).data(Qt::BackgroundRole).value<QBrush>().color(),
               QColor(254, 224, 210));
    QCOMPARE(Text(m, 0, Col::colUpdated), QString("9:30:15 AM"));
  }

  void matchingByName() {
    QTableView grid;
    TOverviewPage page(&grid);
    TGridModel* m = page.Model();
    QAbstractItemModelTester tester(m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    AddRows(m, {"Sales", "dup", "offline", "dup", "SALES2"});
    const QDateTime first(QDate(2026, 12, 11), QTime(9, 0));
    page.ApplyLogSpace({{"sales", 5, 90}, // differs only in case: nothing
                        {"dup", 2, 80},
                        {"Sales", 3, 75},
                        {"nowhere", 1, 1}},
                       first);
    QCOMPARE(Text(m, 0, Col::colUsed), QString("75"));
    QVERIFY(Highlighted(m, 0));
    QCOMPARE(Text(m, 1, Col::colUsed), QString("80")); // the first row of that name
    QCOMPARE(Text(m, 3, Col::colUsed), QString());     // not the second
    for (int c = Col::colLogSize; c <= Col::colUpdated; ++c) {
      QCOMPARE(Text(m, 2, c), QString()); // offline: never reported, stays blank
      QCOMPARE(Text(m, 4, c), QString());
    }

    // A later pass: a row that drops below 70 loses its colour; a row no longer reported keeps
    // its figures and time.
    const QDateTime later(QDate(2026, 12, 11), QTime(9, 5));
    page.ApplyLogSpace({{"Sales", 3, 12}}, later);
    QVERIFY(!Highlighted(m, 0));
    QCOMPARE(Text(m, 0, Col::colUpdated), QString("9:05:00 AM"));
    QCOMPARE(Text(m, 1, Col::colUpdated), QString("9:00:00 AM"));
    QVERIFY(Highlighted(m, 1));
  }

  void sortsByValue() {
    QTableView grid;
    TOverviewPage page(&grid);
    TGridModel* m = page.Model();
    AddRows(m, {"a", "b", "c"});
    page.ApplyLogSpace({{"a", 100, 9.5}, {"b", 9, 10}, {"c", 20, 100}}, QDateTime());
    m->sort(Col::colUsed, Qt::DescendingOrder);
    QCOMPARE(page.DatabaseName(0), QString("c"));
    QCOMPARE(page.DatabaseName(2), QString("a"));
    m->sort(Col::colLogSize, Qt::AscendingOrder);
    QCOMPARE(page.DatabaseName(0), QString("b"));
    m->sort(Col::colStatus, Qt::AscendingOrder); // Status does not sort
    QCOMPARE(page.DatabaseName(0), QString("b"));
  }

  // The highlight reads at 4.5:1 or better in a light and in a dark palette, and a palette
  // changed while rows show recolours them.
  void highlightContrast_data() {
    QTest::addColumn<QColor>("base");
    QTest::addColumn<QColor>("text");
    QTest::newRow("light") << QColor(Qt::white) << QColor(Qt::black);
    QTest::newRow("dark") << QColor(0x2b, 0x2b, 0x2b) << QColor(Qt::white);
    QTest::newRow("dark, grey text") << QColor(0x1e, 0x1e, 0x1e) << QColor(0xdd, 0xdd, 0xdd);
  }

  void highlightContrast() {
    QFETCH(QColor, base);
    QFETCH(QColor, text);
    QPalette palette;
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::Window, base);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::WindowText, text);
    QTableView grid;
    TOverviewPage page(&grid);
    AddRows(page.Model(), {"Sales", "Quiet"});
    page.ApplyLogSpace({{"Sales", 1, 85}, {"Quiet", 1, 5}}, QDateTime::currentDateTime());
    grid.setPalette(palette); // changed after the rows were coloured
    const QModelIndex used = page.Model()->index(0, Col::colUsed);
    const QColor background = used.data(Qt::BackgroundRole).value<QBrush>().color();
    const QColor drawn = CellTextColor(&grid, used);
    QVERIFY2(ContrastRatio(background, drawn) >= 4.5,
             qPrintable(QString::number(ContrastRatio(background, drawn))));
    // The highlight stands out from the grid's own background, and plain cells keep the
    // palette's text colour.
    QVERIFY(ContrastRatio(background, base) > 1.2);
    QCOMPARE(CellTextColor(&grid, page.Model()->index(1, Col::colUsed)), text);
    // Rows coloured after the change get the same colour.
    page.ApplyLogSpace({{"Quiet", 1, 90}}, QDateTime::currentDateTime());
    QCOMPARE(page.Model()->index(1, Col::colUsed).data(Qt::BackgroundRole).value<QBrush>().color(),
             background);
  }

  void contrastRatio_data() {
    QTest::addColumn<QColor>("a");
    QTest::addColumn<QColor>("b");
    QTest::addColumn<double>("ratio");
    QTest::newRow("black on white") << QColor(Qt::black) << QColor(Qt::white) << 21.0;
    QTest::newRow("same") << QColor(0x77, 0x77, 0x77) << QColor(0x77, 0x77, 0x77) << 1.0;
    QTest::newRow("#767676 on white") << QColor(0x76, 0x76, 0x76) << QColor(Qt::white) << 4.54;
    // The old fixed peach under a dark theme's white text.
    QTest::newRow("white on peach") << QColor(Qt::white) << QColor(254, 224, 210) << 1.25;
  }

  void contrastRatio() {
    QFETCH(QColor, a);
    QFETCH(QColor, b);
    QFETCH(double, ratio);
    QVERIFY2(qAbs(ContrastRatio(a, b) - ratio) < 0.01,
             qPrintable(QString::number(ContrastRatio(a, b))));
    QCOMPARE(ContrastRatio(a, b), ContrastRatio(b, a));
  }
};

QTEST_MAIN(TestOverviewPage)
#include "test_overview_page.moc"
