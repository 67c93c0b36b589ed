#include "forms/uGridExport.h"

#include "forms/ufrmMessageBox.h"
#include "platform/gui/uModalHook.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QMenu>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTableView>
#include <QTreeWidget>
#include <algorithm>

namespace {
// Visible columns in the order the header shows them.
QList<int> VisibleColumns(const QTableView* grid) {
  QList<int> columns;
  const QHeaderView* header = grid->horizontalHeader();
  for (int visual = 0, n = header->count(); visual < n; ++visual) {
    const int logical = header->logicalIndex(visual);
    if (!grid->isColumnHidden(logical)) columns << logical;
  }
  return columns;
}

QString OneLine(QString text) {
  for (QChar& c : text)
    if (c == u'\t' || c == u'\n' || c == u'\r') c = u' ';
  return text;
}

QString CsvField(const QString& text) {
  if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') &&
      !text.contains(u'\r'))
    return text;
  QString quoted = text;
  quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
  return u'"' + quoted + u'"';
}

// Header texts and cell texts of the rows, one list per line.
template <typename Emit> void WalkRows(const QTableView* grid, const QList<int>& rows, Emit visit) {
  const QAbstractItemModel* model = grid->model();
  if (!model) return;
  const QList<int> columns = VisibleColumns(grid);
  QStringList cells;
  for (const int c : columns)
    cells << model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
  visit(cells);
  for (const int r : rows) {
    cells.clear();
    for (const int c : columns)
      cells << model->index(r, c).data(Qt::DisplayRole).toString();
    visit(cells);
  }
}

void CopyToClipboard(const QString& text) {
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

void ShowSaveError(QWidget* parent, const QString& path, const QString& reason) {
  const QString caption = QCoreApplication::translate("GridExport", "Could not save the file");
  const QString text = QDir::toNativeSeparators(path) + QStringLiteral("\r\n\r\n") + reason;
  if (frmMessageBox) {
    frmMessageBox->ShowError(caption, text);
    return;
  }
  TfrmMessageBox box(parent);
  box.ShowError(caption, text);
}

QString tr(const char* text) {
  return QCoreApplication::translate("GridExport", text);
}
} // namespace

QString GridRowsAsText(const QTableView* grid, const QList<int>& rows) {
  QString out;
  WalkRows(grid, rows, [&](const QStringList& cells) {
    QStringList line;
    for (const QString& cell : cells)
      line << OneLine(cell);
    out += line.join(u'\t') + u'\n';
  });
  return out;
}

QByteArray GridRowsAsCsv(const QTableView* grid, const QList<int>& rows) {
  QString out;
  WalkRows(grid, rows, [&](const QStringList& cells) {
    QStringList record;
    for (const QString& cell : cells)
      record << CsvField(cell);
    out += record.join(u',') + QStringLiteral("\r\n");
  });
  return out.toUtf8();
}

QList<int> SelectedGridRows(const QTableView* grid) {
  QList<int> rows;
  if (!grid->selectionModel()) return rows;
  for (const QModelIndex& i : grid->selectionModel()->selectedIndexes())
    rows << i.row();
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

QList<int> AllGridRows(const QTableView* grid) {
  QList<int> rows;
  const int n = grid->model() ? grid->model()->rowCount() : 0;
  rows.reserve(n);
  for (int r = 0; r < n; ++r)
    rows << r;
  return rows;
}

bool SaveGridAsCsv(QTableView* grid, const QString& fileBaseName) {
  QFileDialog dialog(grid->window(), tr("Save as CSV"));
  dialog.setObjectName("dlgSaveCSV");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters({tr("CSV files (*.csv)"), tr("All files (*)")});
  dialog.setDefaultSuffix(QStringLiteral("csv"));
  dialog.setDirectory(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
  dialog.selectFile(fileBaseName + QStringLiteral(".csv"));
  if (ModalHook::Exec(dialog) != QDialog::Accepted) return false;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.first().isEmpty()) return false;
  const QString path = chosen.first();

  const QByteArray csv = GridRowsAsCsv(grid, AllGridRows(grid));
  QSaveFile file(path);
  // Unbuffered, so a full disk shows in write() and the old file is kept.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(csv) != csv.size() ||
      !file.commit()) {
    const QString reason = file.errorString();
    file.cancelWriting();
    ShowSaveError(grid->window(), path, reason);
    return false;
  }
  return true;
}

void EnableGridExport(QTableView* grid, const QString& fileBaseName) {
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::ExtendedSelection);

  auto* copy = new QAction(tr("&Copy"), grid);
  copy->setObjectName("actCopy");
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetShortcut);
  QObject::connect(copy, &QAction::triggered, grid,
                   [grid] { CopyToClipboard(GridRowsAsText(grid, SelectedGridRows(grid))); });
  grid->addAction(copy);

  auto* copyAll = new QAction(tr("Copy &all"), grid);
  copyAll->setObjectName("actCopyAll");
  QObject::connect(copyAll, &QAction::triggered, grid,
                   [grid] { CopyToClipboard(GridRowsAsText(grid, AllGridRows(grid))); });
  auto* save = new QAction(tr("&Save as CSV..."), grid);
  save->setObjectName("actSaveCSV");
  QObject::connect(save, &QAction::triggered, grid,
                   [grid, fileBaseName] { SaveGridAsCsv(grid, fileBaseName); });

  grid->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(grid, &QWidget::customContextMenuRequested, grid,
                   [grid, copy, copyAll, save](const QPoint& pos) {
                     const bool rows = grid->model() && grid->model()->rowCount() > 0;
                     copy->setEnabled(!SelectedGridRows(grid).isEmpty());
                     copyAll->setEnabled(rows);
                     save->setEnabled(rows);
                     QMenu menu(grid);
                     menu.setObjectName("mnuGrid");
                     menu.addAction(copy);
                     menu.addAction(copyAll);
                     menu.addSeparator();
                     menu.addAction(save);
                     menu.exec(grid->viewport()->mapToGlobal(pos));
                     copy->setEnabled(true);
                   });
}

QString SummaryAsText(const QTreeWidget* list, bool selectedOnly) {
  QString out;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = list->topLevelItem(i);
    if (item->text(0).isEmpty() || (selectedOnly && !item->isSelected())) continue;
    out += item->text(0) + QStringLiteral(": ") + item->text(2) + u'\n';
  }
  return out;
}

void EnableSummaryCopy(QTreeWidget* list) {
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  auto* copy = new QAction(tr("&Copy"), list);
  copy->setObjectName("actCopy");
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetShortcut);
  QObject::connect(copy, &QAction::triggered, list, [list] {
    const QString selected = SummaryAsText(list, true);
    CopyToClipboard(selected.isEmpty() ? SummaryAsText(list, false) : selected);
  });
  list->addAction(copy);
  auto* copyAll = new QAction(tr("Copy &all"), list);
  copyAll->setObjectName("actCopyAll");
  QObject::connect(copyAll, &QAction::triggered, list,
                   [list] { CopyToClipboard(SummaryAsText(list, false)); });
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(list, &QWidget::customContextMenuRequested, list,
                   [list, copy, copyAll](const QPoint& pos) {
                     QMenu menu(list);
                     menu.setObjectName("mnuSummary");
                     menu.addAction(copy);
                     menu.addAction(copyAll);
                     menu.exec(list->viewport()->mapToGlobal(pos));
                   });
}
