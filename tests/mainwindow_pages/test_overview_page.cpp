// The overview's log figures: matching rows by name, truncation, highlight and time.

#include "forms/uOverviewPage.h"
#include "platform/gui/uGridModel.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QLocale>
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
};

QTEST_MAIN(TestOverviewPage)
#include "test_overview_page.moc"
