#pragma once
// The database overview: one row per database with its state flags and log figures.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVector>
#include <cstdint>
#include <functional>
#include <vector>

class QTableView;
class TGridModel;

class TOverviewPage : public QObject {
  Q_OBJECT
public:
  enum Column { colDBName, colStatus, colLogSize, colUsed, colUpdated };

  // Sets up `grid` (grdOverview) on a model of its own.
  explicit TOverviewPage(QTableView* grid, QObject* parent = nullptr);

  TGridModel* Model() const { return m_model; }
  int RowCount() const;
  QString DatabaseName(int row) const;

  // Rebuilds the rows from master..sysdatabases with their log cells empty, then fits the
  // columns. A failed query leaves the grid without rows.
  void LoadRows();
  // Refreshes the log columns of every row that DBCC SQLPERF(LOGSPACE) reports on.
  void UpdateLogSpace();

  struct TLogSpace {
    QString Name;
    double LogSizeMB = 0;
    double UsedPercent = 0;
  };
  // Puts figures read at `readAt` into the first row whose name matches exactly (letter case
  // included); names no row carries are skipped.
  void ApplyLogSpace(const QVector<TLogSpace>& figures, const QDateTime& readAt);

  // Where "Last Updated" comes from; tests put a fixed clock here.
  void SetClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

private:
  // The first row with exactly this name, or -1. An open-addressing table over the names'
  // hashes: Qt 6.4's QHash spends hundreds of nanoseconds per look-up on names such as db00001,
  // and node-based tables miss the cache on every step.
  int RowOf(const QString& name);
  void ApplyLogSpaceRow(const QString& name, double logSizeMB, double usedPercent,
                        const QVariant& readAt); // within an open model update
  void BuildNameIndex();

  QTableView* m_grid;
  TGridModel* m_model;
  std::function<QDateTime()> m_clock;
  struct TNameSlot {
    std::uint32_t Hash = 0;
    int Row = -1; // -1: free
  };
  std::vector<TNameSlot> m_slots; // size a power of two, at least twice the rows
  std::vector<QString> m_names;   // by row
  bool m_rowOfValid = false;
};
