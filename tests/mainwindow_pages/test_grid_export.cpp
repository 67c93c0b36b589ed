// Copying and exporting grids: the selected rows as tab-separated text under a header line,
// CSV by RFC 4180 in UTF-8, saving through the file dialog's hook, and the Summary as text.

#include "forms/uGridExport.h"
#include "forms/ufrmMessageBox.h"
#include "platform/gui/uGridModel.h"
#include "platform/gui/uModalHook.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>

namespace {
// Name, a number and a hidden column, with texts that need care in both formats.
struct TFixture {
  TFixture() {
    TGridColumn name, size, hidden;
    name.Header = "Database Name";
    size.Header = "Size, MB";
    size.Kind = TGridColumnKind::Number;
    hidden.Header = "Hidden";
    Model = std::make_unique<TGridModel>(QVector<TGridColumn>{name, size, hidden});
    Model->AddRows(3);
    const QStringList names = {"O'Brien]Ltd", "Zürich Büro", "say \"hi\",\tthen\nleave"};
    for (int r = 0; r < 3; ++r) {
      Model->SetCell(0, r, names[r]);
      Model->SetCell(1, r, 1.5 * (r + 1));
      Model->SetCell(2, r, "x");
    }
    Grid.setModel(Model.get());
    Grid.setColumnHidden(2, true);
    EnableGridExport(&Grid, "databases");
  }
  std::unique_ptr<TGridModel> Model;
  QTableView Grid;
};
} // namespace

class TestGridExport : public QObject {
  Q_OBJECT
private Q_SLOTS:
  void init() {
    ModalHook::ClearAll();
    ModalHook::SetStrict(true);
    QGuiApplication::clipboard()->clear();
  }
  void cleanup() { QCOMPARE(ModalHook::UnansweredCount(), 0); }

  void copiesSelectedRowsWithHeader() {
    TFixture f;
    QCOMPARE(f.Grid.selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(f.Grid.selectionMode(), QAbstractItemView::ExtendedSelection);
    f.Grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.Grid));
    f.Grid.selectRow(2);
    f.Grid.selectionModel()->select(f.Model->index(0, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(&f.Grid, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("Database Name\tSize, MB\n"
                                                           "O'Brien]Ltd\t1.5\n"
                                                           "say \"hi\", then leave\t4.5\n"));
    // Columns in the order the header shows them.
    f.Grid.horizontalHeader()->moveSection(1, 0);
    QCOMPARE(GridRowsAsText(&f.Grid, {1}), QString("Size, MB\tDatabase Name\n3\tZürich Büro\n"));
  }

  void csvFollowsRfc4180() {
    TFixture f;
    const QByteArray expected = QString("Database Name,\"Size, MB\"\r\n"
                                        "O'Brien]Ltd,1.5\r\n"
                                        "Zürich Büro,3\r\n"
                                        "\"say \"\"hi\"\",\tthen\nleave\",4.5\r\n")
                                    .toUtf8();
    QCOMPARE(GridRowsAsCsv(&f.Grid, AllGridRows(&f.Grid)), expected);
    QCOMPARE(GridRowsAsCsv(&f.Grid, {}), QByteArray("Database Name,\"Size, MB\"\r\n"));
  }

  void savesThroughTheFileDialog() {
    TFixture f;
    QTemporaryDir dir;
    const QString path = dir.filePath("out.csv");
    QString proposed;
    ModalHook::SetNextAnswer("dlgSaveCSV", [&](QDialog& d) {
      auto& dialog = static_cast<QFileDialog&>(d);
      proposed = dialog.selectedFiles().value(0);
      dialog.selectFile(path);
      return int(QDialog::Accepted);
    });
    QVERIFY(SaveGridAsCsv(&f.Grid, "databases"));
    QVERIFY2(proposed.endsWith("/databases.csv"), qPrintable(proposed));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), GridRowsAsCsv(&f.Grid, AllGridRows(&f.Grid)));

    // Cancelled: nothing written.
    ModalHook::SetNextAnswer("dlgSaveCSV", QDialog::Rejected);
    QVERIFY(!SaveGridAsCsv(&f.Grid, "databases"));
  }

  // A file that cannot be written is reported, and what was there stays.
  void failedSaveIsReported() {
    TFixture f;
    QTemporaryDir dir;
    const QString path = dir.filePath("missing-folder/out.csv");
    TfrmMessageBox box;
    frmMessageBox = &box;
    ModalHook::SetNextAnswer("dlgSaveCSV", [&](QDialog& d) {
      static_cast<QFileDialog&>(d).selectFile(path);
      return int(QDialog::Accepted);
    });
    QString caption;
    ModalHook::SetNextAnswer("frmMessageBox", [&](QDialog&) {
      caption = box.lblCaption->text();
      return int(QDialog::Accepted);
    });
    QVERIFY(!SaveGridAsCsv(&f.Grid, "databases"));
    frmMessageBox = nullptr;
    QCOMPARE(caption, QString("Could not save the file"));
    QVERIFY(!QFile::exists(path));
  }

  void summaryCopiesAsText() {
    QTreeWidget list;
    list.setColumnCount(3);
    list.addTopLevelItem(new QTreeWidgetItem(QStringList{"Recovery model", ":", "FULL"}));
    list.addTopLevelItem(new QTreeWidgetItem);
    list.addTopLevelItem(new QTreeWidgetItem(QStringList{"# t-log files", ":", "2"}));
    EnableSummaryCopy(&list);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QTest::keyClick(&list, Qt::Key_C, Qt::ControlModifier); // nothing selected: everything
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QString("Recovery model: FULL\n# t-log files: 2\n"));
    list.topLevelItem(2)->setSelected(true);
    QTest::keyClick(&list, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("# t-log files: 2\n"));
  }
};

QTEST_MAIN(TestGridExport)
#include "test_grid_export.moc"
