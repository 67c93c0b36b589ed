#pragma once
// The Files page: one row per transaction-log file of the current database, with its sizes and
// the statistics of its virtual log files.

#include <QObject>

class QTableView;
class TGridModel;
class TMemTable;

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

  explicit TLogFilesPage(QTableView* grid, QObject* parent = nullptr);

  TGridModel* Model() const { return m_model; }
  int RowCount() const;
  void Clear();
  // Reads sysfiles of the current database; the VLF statistics come from `vlf`.
  void Load(const TMemTable& vlf);

private:
  QTableView* m_grid;
  TGridModel* m_model;
};
