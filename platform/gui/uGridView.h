#pragma once
// Views on the typed grid models: header-click sorting per column, fixed row heights, column
// fitting that measures only the widest texts, and guards for cursor and repainting.

#include <QColor>
#include <QPointer>

class QModelIndex;
class QTableView;
class QWidget;

// WCAG 2 contrast ratio of two colours (1 to 21); 4.5 is the least for normal text.
double ContrastRatio(const QColor& a, const QColor& b);
// Black or white, whichever reads better on `background` (at least 4.58:1 for any colour).
QColor ReadableTextColor(const QColor& background);
// The colour the grid draws the cell's text in: a cell with a background colour of its own gets
// the readable one, other cells the palette's text colour.
QColor CellTextColor(const QTableView* grid, const QModelIndex& index);

// Fixed row height from the font, elision and clipped-text hints per column, and sorting on a
// header click for columns whose model says TGridRole::Sortable (with `sorting` false, header
// clicks never sort).
void SetupGrid(QTableView* grid, bool sorting = true);

// Forgets the column the grid was sorted by (after its rows were rebuilt).
void ResetSortIndicator(QTableView* grid);

// Sizes every column to the widest of its header (always in full) and its widest cell text,
// then adds `margin` pixels. Only the longest texts of each column are measured.
void FitColumnWidths(QTableView* grid, int margin);
// The same for the columns from `first` to `last` only.
void FitColumnWidths(QTableView* grid, int margin, int first, int last);

// Every column of the grid stops sorting on a header click; other settings stay.
void DisableColumnSorting(QTableView* grid);

// Suspends repainting of a widget for its lifetime; repaints once when it ends.
class TRepaintGuard {
public:
  explicit TRepaintGuard(QWidget* widget);
  ~TRepaintGuard();
  TRepaintGuard(const TRepaintGuard&) = delete;
  TRepaintGuard& operator=(const TRepaintGuard&) = delete;

private:
  QPointer<QWidget> m_widget;
  bool m_wasEnabled = true;
};

// Shows the hourglass for its lifetime.
class TBusyCursor {
public:
  TBusyCursor();
  ~TBusyCursor();
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};
