#pragma once
// One column of a table kept as typed values: what a result set fetches and what an in-memory
// table holds, so that rows pass from one to the other without a value object per cell.

#include <QDateTime>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
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

// Columns whose copies share one set of rows until one of them is written to. A result crosses
// threads by copy (a queued signal copies its snapshot) and ends in a table: with the rows shared,
// the VLF list of a large log is held once instead of once per copy.
class TColumnSet {
public:
  TColumnSet() = default;
  TColumnSet(std::vector<TColumnData> columns) // NOLINT: a vector of columns is a set
      : m_d(std::make_shared<std::vector<TColumnData>>(std::move(columns))) {}
  TColumnSet(std::initializer_list<TColumnData> columns)
      : TColumnSet(std::vector<TColumnData>(columns)) {}

  const std::vector<TColumnData>& Columns() const { return m_d ? *m_d : Empty(); }
  bool empty() const { return Columns().empty(); }
  std::size_t size() const { return Columns().size(); }
  const TColumnData& front() const { return Columns().front(); }
  const TColumnData& operator[](std::size_t i) const { return Columns()[i]; }
  auto begin() const { return Columns().begin(); }
  auto end() const { return Columns().end(); }
  bool SharesWith(const TColumnSet& other) const { return m_d && m_d == other.m_d; }
  long use_count() const { return m_d.use_count(); }

  // The columns for writing; copied first while another set shares them. A count of one cannot
  // rise behind our back: only a holder can make another copy.
  std::vector<TColumnData>& Detach() {
    if (!m_d)
      m_d = std::make_shared<std::vector<TColumnData>>();
    else if (m_d.use_count() > 1)
      m_d = std::make_shared<std::vector<TColumnData>>(*m_d);
    return *m_d;
  }

private:
  static const std::vector<TColumnData>& Empty() {
    static const std::vector<TColumnData> empty;
    return empty;
  }
  std::shared_ptr<std::vector<TColumnData>> m_d;
};
