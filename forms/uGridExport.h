#pragma once
// Copying and exporting what the grids show: whole rows, several at once; Ctrl+C copies the
// selected rows as tab-separated text under a header line; a context menu offers Copy, Copy
// all and Save as CSV. The Summary list copies as "label: value" lines.

#include <QByteArray>
#include <QList>
#include <QString>

class QAbstractItemModel;
class QTableView;
class QTreeWidget;
class QWidget;

// Rows (model rows, in this order) of the grid's visible columns as shown: a header line, then
// one line per row, cells separated by tabs, lines ended by "\n". Tabs and line breaks inside a
// cell become blanks, so every row stays one line.
QString GridRowsAsText(const QTableView* grid, const QList<int>& rows);
// The same rows as CSV (RFC 4180): a header record, fields separated by commas, quoted when they
// hold a comma, a quote or a line break (quotes doubled), records ended by CR LF; UTF-8.
QByteArray GridRowsAsCsv(const QTableView* grid, const QList<int>& rows);
// The selected rows in display order.
QList<int> SelectedGridRows(const QTableView* grid);
QList<int> AllGridRows(const QTableView* grid);

// Row selection (several rows), Ctrl+C and the context menu. fileBaseName proposes the CSV's
// name ("databases" gives databases.csv).
void EnableGridExport(QTableView* grid, const QString& fileBaseName);

// Asks for a file (a dialog named "dlgSaveCSV", shown through the modal hook) and writes all
// rows to it through QSaveFile. A failed write is reported in the message box and leaves an
// existing file as it was. True when a file was written.
bool SaveGridAsCsv(QTableView* grid, const QString& fileBaseName);

// Ctrl+C and a context menu (Copy, Copy all) on the Summary list.
void EnableSummaryCopy(QTreeWidget* list);
// The list's rows as "label: value" lines; only the selected rows when selectedOnly.
QString SummaryAsText(const QTreeWidget* list, bool selectedOnly);
