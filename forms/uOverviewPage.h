#pragma once
// The database overview: one row per database with its state flags and log figures.

#include "session/uSnapshots.h"
#include "verdict/uVerdict.h"

#include <QHash>
#include <QIcon>

#include <QColor>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVector>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The icon of a verdict level: a green, amber or red dot.
QIcon VerdictIcon(TVerdictLevel level);

class QTableView;
class TGridModel;
class TMemTable;
class TNoticeStack;

class TOverviewPage : public QObject {
  Q_OBJECT
public:
  enum Column {
    colDBName,
    colStatus,
    colLogSize,
    colUsed,
    colUpdated,
    // The log's health, after the figures.
    colRecovery,
    colReuseWait,
    colVLFs,
    colLastLogBackup,
    colVerdict
  };

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

  // Fills the health columns of every row: "—" where the server version has no source for a
  // figure, "n/a" (with the reason as a tooltip) where its statement failed. Then judges every
  // row.
  void ApplyHealth(const TLogHealthSnapshot& health);
  // What the details of one database add to its row: the VLF count (on servers without the
  // log stats), its log files and its oldest open transaction. `openTranLines` are the lines
  // of the Oldest active transaction page.
  void ApplyDetails(const TDetailsSnapshot& details, const TMemTable& vlf, bool vlfRead,
                    const QStringList& openTranLines);
  void SetThresholds(const TVerdictThresholds& thresholds);
  // Forgets what was learnt of the databases (another server).
  void ResetHealth();
  // What is known of a database and the verdict on it, as the row shows it.
  TDatabaseFacts Facts(const QString& name) const;
  TVerdict Verdict(const QString& name) const;
  // Whether the verdict column judges at all (not on servers before 2005).
  bool JudgesHealth() const { return m_health.Databases.Supported; }
  // The server's clock now, as far as the last reading tells; the local clock without one.
  QDateTime ServerNow() const;
  // Where the local clock comes from; tests put a fixed one here.
  void SetClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

  static QString NotSupportedText(); // "—"
  static QString NotAvailableText(); // "n/a"

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

  // Everything the row's health cells and verdict come from, by database name.
  struct TDatabaseHealth {
    TLogHealthRow Row;
    bool InSnapshot = false;
    std::int64_t VisitedVlfs = -1, VisitedActiveVlfs = -1; // counted from its VLF list
    bool FilesRead = false;
    QList<TVerdictLogFile> Files;
    QDateTime TransactionStart;
    std::optional<int> TransactionSpid;
  };
  void ShowHealthRow(int row); // within an open model update
  TDatabaseFacts FactsOf(const QString& name, int row) const;

  TLogHealthSnapshot m_health; // the sources; its rows live on in m_databases
  bool m_haveHealth = false;
  QHash<QString, TDatabaseHealth> m_databases;
  TVerdictThresholds m_thresholds;
  std::function<QDateTime()> m_clock;
  qint64 m_serverClockOffset = 0; // seconds from the local to the server's wall clock

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
