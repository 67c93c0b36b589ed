#pragma once
// One column of a table kept as typed values: what a result set fetches and what an in-memory
// table holds, so that rows pass from one to the other without a value object per cell.

#include <QDateTime>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

enum class TFieldKind {
  Unknown,
  Text,        // char, varchar, text
  UnicodeText, // nchar, nvarchar, ntext, sql_variant (read as text)
  Integer,     // tinyint, smallint, int, bit
  Int64,       // bigint
  Float,       // real, float
  Decimal,     // numeric, decimal, money: exact digits, kept as text
  DateTime,    // datetime, smalldatetime, date, time, datetime2
};

struct TColumnData {
  QString Name;
  TFieldKind Kind = TFieldKind::Unknown;
  std::size_t Count = 0;
  std::vector<std::uint8_t> Null;  // stays empty until the column's first NULL
  std::vector<std::int32_t> Int32; // Integer; for DateTime the milliseconds of the day
  std::vector<std::int64_t> Int64; // Int64; for DateTime the Julian day
  std::vector<double> Float;
  std::vector<char16_t> Chars; // Text, UnicodeText
  std::vector<char> Bytes;     // Decimal: digits, sign and point are plain ASCII
  std::vector<std::size_t> Ends;

  bool IsNullAt(std::size_t row) const { return row < Null.size() && Null[row]; }
  bool IsText() const {
    return Kind == TFieldKind::Text || Kind == TFieldKind::UnicodeText ||
           Kind == TFieldKind::Decimal;
  }
  std::size_t TextLength(std::size_t row) const { return Ends[row] - (row ? Ends[row - 1] : 0); }
  QString Text(std::size_t row) const {
    const std::size_t begin = row ? Ends[row - 1] : 0;
    if (Kind == TFieldKind::Decimal)
      return QString::fromLatin1(Bytes.data() + begin, qsizetype(Ends[row] - begin));
    return QString::fromUtf16(Chars.data() + begin, qsizetype(Ends[row] - begin));
  }
  QDateTime DateTime(std::size_t row) const {
    return QDateTime(QDate::fromJulianDay(Int64[row]), QTime::fromMSecsSinceStartOfDay(Int32[row]));
  }

  void MarkValue() {
    if (!Null.empty()) Null.push_back(0);
    ++Count;
  }
  void MarkNull() {
    if (Null.empty()) Null.assign(Count, 0);
    Null.push_back(1);
    ++Count;
  }
  // Appends a NULL (a zero or an empty text underneath).
  void AppendNull();
  // Ends a text whose characters were appended to Chars or Bytes.
  void EndText() {
    MarkValue();
    Ends.push_back(Kind == TFieldKind::Decimal ? Bytes.size() : Chars.size());
  }
  void AppendText(const QString& text);

  // Drops the values, keeps name, kind and the memory for the next rows.
  void ClearValues();
  // Empties the column but keeps its memory for the next result.
  void Clear() {
    Name.clear();
    Kind = TFieldKind::Unknown;
    ClearValues();
  }
  // Appends the values of `other`, a column of the same kind.
  void AppendValues(const TColumnData& other);
  // The rows in the order `order` gives (order[i]: the row that goes to position i).
  void Reorder(const std::vector<int>& order);
};
