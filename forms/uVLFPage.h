#pragma once
// The Virtual log files page: the rows of DBCC LOGINFO in an in-memory table whose columns the
// run's first successful result fixes.

#include <QObject>
#include <functional>

class QTableView;
class TMemTable;

class TVLFPage : public QObject {
  Q_OBJECT
public:
  // Sets `grid` (grdVLF) on the table `memVLF`, which the page owns.
  explicit TVLFPage(QTableView* grid, QObject* parent = nullptr);

  TMemTable* Table() const { return m_table; }
  void Clear(); // the rows only; the columns stay
  // Runs DBCC LOGINFO in the current database. When the table gets its columns,
  // `columnCreate(i)` is called for each of them. False when the query failed.
  bool Load(const std::function<void(int)>& columnCreate);

private:
  QTableView* m_grid;
  TMemTable* m_table;
};

// Right-aligns the header and cells of every numeric column of `table` shown by `grid`.
void RightAlignNumericColumns(TMemTable* table, QTableView* grid);
