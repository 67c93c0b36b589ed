#pragma once
// The Files page: one row per transaction-log file of the current database, with its sizes and
// the statistics of its virtual log files.

#include "session/uSnapshots.h"

#include <QObject>

class QTableView;
class TGridModel;
class TMemTable;
class TNoticeStack;

class TLogFilesPage : public QObject {
  Q_OBJECT
public:
  enum Column {
    colFileID,
    colLogicalName,
    colFileName,
    colSize,
    colMaxSize,
    colGrowth,
    colVLFCount,
    colVLFUsed,
    colAverageVLFSize,
    colSmallestVLFSize,
    colLargestVLFSize
  };

  explicit TLogFilesPage(QTableView* grid, TNoticeStack* notice = nullptr,
                         QObject* parent = nullptr);

  TGridModel* Model() const { return m_model; }
  int RowCount() const;
  void Clear();
  // Shows the log files. The VLF statistics come from `vlf` when `vlfRead`; otherwise the list
  // could not be read, and the five VLF columns say "n/a" rather than a count of 0. Files that
  // could not be read leave the grid without rows and the page says why.
  void Show(const TLogFilesPart& files, const TMemTable& vlf, bool vlfRead);

  static QString NotAvailable();

private:
  QTableView* m_grid;
  TNoticeStack* m_notice;
  TGridModel* m_model;
};
