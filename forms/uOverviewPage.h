#pragma once
// The database overview: one row per database with its state flags and log figures.

#include "session/uSnapshots.h"

#include <QColor>
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
class TNoticeStack;

class TOverviewPage : public QObject {
  Q_OBJECT
public:
  enum Column { colDBName, colStatus, colLogSize, colUsed, colUpdated };

  // Sets up `grid` (grdOverview) on a model of its own; `notice`, when given, holds the grid and
  // says why the list is missing.
  explicit TOverviewPage(QTableView* grid, TNoticeStack* notice = nullptr,
                         QObject* parent = nullptr);

  TGridModel* Model() const { return m_model; }
  int RowCount() const;
  QString DatabaseName(int row) const;

  // Rebuilds the rows from the list with their log cells empty, then fits the columns. A list
  // that could not be read leaves the grid without rows and says why.
  void ShowDatabases(const TOverviewSnapshot& overview);
  // Refreshes the log columns of every row the figures report on; figures that could not be
  // read change nothing.
  void ApplyLogSpace(const TLogSpaceSnapshot& logSpace);

  using TLogSpace = TLogSpaceRow;
  // Puts figures read at `readAt` into the first row whose name matches exactly (letter case
  // included); names no row carries are skipped.
  void ApplyLogSpace(const QVector<TLogSpace>& figures, const QDateTime& readAt);

private:
  // The first row with exactly this name, or -1. An open-addressing table over the names'
  // hashes: Qt 6.4's QHash spends hundreds of nanoseconds per look-up on names such as db00001,
  // and node-based tables miss the cache on every step.
  int RowOf(QStringView name);
  int RowOf(QStringView name, std::uint32_t hash); // the index built, hash = NameHash(name)
  void ApplyLogSpaceRow(int row, double logSizeMB, double usedPercent,
                        const QDateTime& readAt); // within an open model update
  void BuildNameIndex();
  // Follows the grid's palette: a light or a dark highlight, and the rows shown recoloured.
  void UpdateHighlightColor();
  bool eventFilter(QObject* watched, QEvent* event) override;
  void BuildNameSlots(); // from m_nameChars and m_nameEnds

  QTableView* m_grid;
  TNoticeStack* m_notice;
  TGridModel* m_model;
  QColor m_highlight;
  struct TNameSlot {
    std::uint32_t Hash = 0;
    int Row = -1; // -1: free
  };
  QStringView NameAt(int row) const {
    const std::size_t r = std::size_t(row);
    const std::size_t begin = r ? m_nameEnds[r - 1] : 0;
    return QStringView(m_nameChars.data() + begin, qsizetype(m_nameEnds[r] - begin));
  }
  std::vector<TNameSlot> m_slots; // size a power of two, at least 1.5 times the rows
  // The rows' names in one buffer (by row): look-ups compare without chasing a pointer each.
  std::vector<char16_t> m_nameChars;
  std::vector<std::size_t> m_nameEnds;
  bool m_rowOfValid = false;
};
