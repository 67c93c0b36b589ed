#pragma once
// How the details pages read what the server returns: status flags, truncated log figures,
// the DBCC OPENTRAN text and per-file VLF statistics. Pure functions, no server, no widgets.

#include <QColor>
#include <QDateTime>
#include <QHash>
#include <QStringList>
#include <cstdint>
#include <limits>

class TMemTable;

// The flags of master..sysdatabases.status as the overview shows them, e.g.
// "autoclose, offline, autoshrink"; empty when none of the known bits is set.
QString DatabaseStatusText(std::int32_t status);

// Truncates toward zero to `decimals` places (a value a rounding error below a step, such as
// 0.29 stored as 0.28999..., counts as that step).
double TruncateDecimals(double value, int decimals);

// The log-space highlight: user databases from 70 % on; the four system databases never.
bool IsLogSpaceHighlighted(QStringView name, double usedPercent);
// The highlight's colour: a pale peach on a light palette, a deep rust on a dark one; the grid
// draws the text over it in black or white, whichever reads better.
QColor LogSpaceHighlightColor(bool darkPalette = false);

// Removes leading and trailing blanks and control characters.
QString TrimBlanks(const QString& text);

// The informational messages of DBCC OPENTRAN (each entry lines joined by CR LF, most recent
// line first) joined into one text and split into lines.
QStringList SplitInfoMessages(const QStringList& infoMessages);

// The lines of the Oldest active transaction page: the message lines in the order the server
// printed them, with an empty line before each line that contains "DBCC".
QStringList OpenTranPageLines(const QStringList& messageLines);

// The start of the oldest active transaction as read from the page's lines, or "-".
QString ReadOldestActiveTransaction(const QStringList& pageLines);

// Finish time of a backup in the locale's short date and long time; the date alone at midnight.
QString FormatBackupFinish(const QDateTime& finish);

struct TVLFFileStats {
  std::int64_t Count = 0;
  std::int64_t Used = 0; // Status 2
  // 128 bits: the sum of any number of 64-bit sizes is exact, so the average of sizes near
  // the 64-bit maximum is still right (and always fits in 64 bits again).
  __extension__ __int128 Total = 0;
  // Sizes are 64-bit: a file whose VLFs are all 2 GiB or more still gets its smallest.
  std::int64_t Smallest = std::numeric_limits<std::int64_t>::max();
  std::int64_t Largest = 0;
  std::int64_t Average() const { return Count ? std::int64_t(Total / Count) : 0; }
};

// A VLF size as the server sent it: bigint, or numeric(20,0) as exact decimal text (DBCC
// LOGINFO's own type). Text beyond the 64-bit range is clamped to it; anything that is not a
// number counts as 0.
std::int64_t VLFSizeAt(const TMemTable& vlf, int row, int column);

// One pass over the VLF table: statistics per FileId. Empty when the table lacks one of the
// columns FileId, FileSize and Status.
QHash<std::int64_t, TVLFFileStats> ComputeVLFStats(const TMemTable& vlf);
