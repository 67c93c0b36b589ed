#pragma once
// The Virtual log files page: the rows of DBCC LOGINFO in an in-memory table whose columns the
// run's first successful result fixes.

#include "session/uSnapshots.h"

#include <QObject>
#include <functional>

class QLabel;
class QTableView;
class TVlfMap;
class TMemTable;
class TNoticeStack;

class TVLFPage : public QObject {
  Q_OBJECT
public:
  // Sets `grid` (grdVLF) on the table `memVLF`, which the page owns; `notice`, when given, holds
  // the grid and says why the list is missing.
  explicit TVLFPage(QTableView* grid, TNoticeStack* notice = nullptr, QObject* parent = nullptr);

  TMemTable* Table() const { return m_table; }
  void Clear(); // the rows only; the columns stay
  // Shows the VLF list. The run's first list that was read fixes the table's columns; when it
  // gets them, `columnCreate(i)` is called for each. False when the list could not be read:
  // the table keeps no rows and the page says why.
  bool Show(const TVLFPart& vlfs, const std::function<void(int)>& columnCreate);
  // The picture above the list, and the line that names where the list came from.
  void SetMap(TVlfMap* map, QLabel* source);
  QString SourceText() const;

private:
  QTableView* m_grid;
  TNoticeStack* m_notice;
  TMemTable* m_table;
  TVlfMap* m_map = nullptr;
  QLabel* m_source = nullptr;
  void ShowMap();
};

// Right-aligns the header and cells of every numeric column of `table` shown by `grid`.
void RightAlignNumericColumns(TMemTable* table, QTableView* grid);
