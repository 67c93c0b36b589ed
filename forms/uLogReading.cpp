#include "forms/uLogReading.h"

#include "platform/gui/uGridModel.h"
#include "platform/uMemTable.h"

#include <QLocale>
#include <QRegularExpression>
#include <cmath>

QString DatabaseStatusText(std::int32_t status) {
  struct TFlag {
    std::uint32_t Bit;
    const char* Text;
  };
  static const TFlag flags[] = {
      {0x1, ", autoclose"},      {0x20, ", loading"},          {0x40, ", pre-recovery"},
      {0x80, ", recovering"},    {0x200, ", offline"},         {0x400, ", read only"},
      {0x1000, ", single user"}, {0x8000, ", emergency mode"}, {0x400000, ", autoshrink"},
  };
  std::uint32_t known = 0;
  for (const TFlag& f : flags)
    known |= f.Bit;
  if ((std::uint32_t(status) & known) == 0) return {}; // most databases
  QString text;
  for (const TFlag& f : flags)
    if (std::uint32_t(status) & f.Bit) text += QLatin1String(f.Text);
  return text.mid(2);
}

double TruncateDecimals(double value, int decimals) {
  static const double powers[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
  const double scale = decimals >= 0 && decimals < 10 ? powers[decimals] : std::pow(10.0, decimals);
  const double scaled = value * scale;
  const double nearest = std::round(scaled);
  // The product of a decimal value and the scale can land a hair below the whole step it
  // stands for (0.29 * 100 = 28.999999999999996).
  if (std::abs(scaled - nearest) <= 1e-9 * std::max(1.0, std::abs(scaled))) return nearest / scale;
  return std::trunc(scaled) / scale;
}

bool IsLogSpaceHighlighted(QStringView name, double usedPercent) {
  if (usedPercent < 70) return false;
  return name != u"model" && name != u"master" && name != u"tempdb" && name != u"msdb";
}

QColor LogSpaceHighlightColor(bool darkPalette) {
  return darkPalette ? QColor(122, 44, 16) : QColor(254, 224, 210);
}

QString TrimBlanks(const QString& text) {
  qsizetype begin = 0, end = text.size();
  while (begin < end && text[begin].unicode() <= 0x20)
    ++begin;
  while (end > begin && text[end - 1].unicode() <= 0x20)
    --end;
  return text.mid(begin, end - begin);
}

QStringList SplitInfoMessages(const QStringList& infoMessages) {
  if (infoMessages.isEmpty()) return {};
  static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
  QString text = infoMessages.join(QStringLiteral("\r\n"));
  QStringList lines = text.split(lineBreak);
  // A text that ends with a line break has no empty line after it.
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

QStringList OpenTranPageLines(const QStringList& messageLines) {
  QStringList page;
  for (qsizetype i = messageLines.size() - 1; i >= 0; --i) {
    if (messageLines[i].contains(QLatin1String("DBCC"), Qt::CaseSensitive)) page.append(QString());
    page.append(messageLines[i]);
  }
  return page;
}

namespace {
QString AfterFirstColon(const QString& line) {
  const qsizetype colon = line.indexOf(QLatin1Char(':'));
  return colon < 0 ? line : TrimBlanks(line.mid(colon + 1));
}
} // namespace

QString ReadOldestActiveTransaction(const QStringList& pageLines) {
  for (qsizetype i = pageLines.size() - 1; i >= 0; --i) {
    if (!TrimBlanks(pageLines[i]).startsWith(QLatin1String("SID"), Qt::CaseSensitive)) continue;
    if (i == 0) break;
    return AfterFirstColon(TrimBlanks(pageLines[i - 1]));
  }
  for (qsizetype i = pageLines.size() - 1; i >= 0; --i)
    if (pageLines[i].contains(QLatin1Char(':'))) return AfterFirstColon(pageLines[i]);
  return QStringLiteral("-");
}

QString FormatBackupFinish(const QDateTime& finish) {
  const QLocale locale;
  const QString date = locale.toString(finish.date(), QLocale::ShortFormat);
  if (finish.time() == QTime(0, 0)) return date;
  return date + QLatin1Char(' ') + FormatLongTime(finish.time());
}

std::int64_t VLFSizeAt(const TMemTable& vlf, int row, int column) {
  using Limits = std::numeric_limits<std::int64_t>;
  const TFieldKind kind = vlf.Columns()[column].Kind;
  if (kind == TFieldKind::Integer || kind == TFieldKind::Int64 || vlf.IsNull(row, column))
    return vlf.IntegerAt(row, column);
  const QVariant cell = vlf.Cell(row, column);
  if (cell.typeId() == QMetaType::Double) {
    const double d = cell.toDouble();
    if (std::isnan(d)) return 0;
    // 2^63 is exact as a double; anything from there on does not fit.
    if (d >= 9223372036854775808.0) return Limits::max();
    if (d < -9223372036854775808.0) return Limits::min();
    return std::int64_t(d);
  }
  // Exact decimal text: its whole part, clamped to the 64-bit range (numeric(20,0) reaches
  // 10^20 - 1).
  static const QRegularExpression number(QStringLiteral("^([+-]?[0-9]+)(\\.[0-9]*)?$"));
  const QRegularExpressionMatch m = number.match(TrimBlanks(cell.toString()));
  if (!m.hasMatch()) return 0;
  const QString whole = m.captured(1);
  bool ok = false;
  const qlonglong value = whole.toLongLong(&ok);
  if (ok) return value;
  return whole.startsWith(QLatin1Char('-')) ? Limits::min() : Limits::max();
}

QHash<std::int64_t, TVLFFileStats> ComputeVLFStats(const TMemTable& vlf) {
  QHash<std::int64_t, TVLFFileStats> stats;
  const int fileId = vlf.FieldIndex(QStringLiteral("FileId"));
  const int fileSize = vlf.FieldIndex(QStringLiteral("FileSize"));
  const int status = vlf.FieldIndex(QStringLiteral("Status"));
  if (fileId < 0 || fileSize < 0 || status < 0) return stats;
  // Consecutive VLFs mostly share their file: remember the last one looked up.
  std::int64_t lastFile = 0;
  TVLFFileStats* s = nullptr;
  for (int r = 0, n = vlf.rowCount(); r < n; ++r) {
    const std::int64_t file = vlf.IntegerAt(r, fileId);
    if (!s || file != lastFile) {
      s = &stats[file];
      lastFile = file;
    }
    const std::int64_t size = VLFSizeAt(vlf, r, fileSize);
    s->Total += size;
    if (vlf.IntegerAt(r, status) == 2) ++s->Used;
    if (size > s->Largest) s->Largest = size;
    if (size < s->Smallest) s->Smallest = size;
    ++s->Count;
  }
  return stats;
}
