#include "datastore/uResultSet.h"
#include "datastore/uResultSetBuilder.h"

#include <QCoreApplication>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

// SQL Server specific type codes the drivers report.
constexpr SQLSMALLINT kSqlSsVariant = -150;
constexpr SQLSMALLINT kSqlSsXml = -152;
constexpr SQLSMALLINT kSqlSsTime2 = -154;

// Longer texts are read in pieces with SQLGetData instead of a bound buffer.
constexpr SQLULEN kMaxBoundChars = 4000;

// Rows are kept column by column in typed vectors; texts of a column share one buffer.
using TColumn = TColumnData;

template <typename T> T ClampToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v <= double(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (v >= double(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return T(v);
}

template <typename T> T ClampToInt(std::int64_t v) {
  if (v < std::int64_t(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (v > std::int64_t(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return T(v);
}

std::int64_t TextToInt64(const QString& text) {
  bool ok = false;
  const qlonglong v = text.trimmed().toLongLong(&ok);
  if (ok) return v;
  const double d = text.trimmed().toDouble(&ok);
  return ok ? ClampToInt<std::int64_t>(d) : 0;
}

QString DateTimeText(const QDateTime& dt) {
  if (!dt.isValid()) return {};
  return dt.toString(dt.time().msec() ? QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")
                                      : QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// A real arrives as a float; its shortest decimal form gives the double a user expects
// (12.34, not 12.340000152587891).
double RealToDouble(float f) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof(buffer), f).ptr;
  double d = f;
  std::from_chars(buffer, end, d);
  return d;
}

[[noreturn]] void ThrowOutOfRange(int field) {
  throw std::out_of_range("field index " + std::to_string(field) + " out of range");
}

} // namespace

struct TResultSet::Impl {
  bool Active = false;
  std::vector<TColumn> Columns;
  // The emptied columns of the last result: a result read again and again (the VLF list of
  // each database in turn) then finds its memory ready instead of asking the system anew.
  std::vector<TColumn> Spare;
  std::size_t Rows = 0;
  std::size_t Current = 0;

  const TColumn& Column(int field) const {
    if (field < 0 || std::size_t(field) >= Columns.size()) ThrowOutOfRange(field);
    return Columns[std::size_t(field)];
  }
  // False when there is no current row or the value is NULL.
  bool HasValue(const TColumn& c) const { return Current < Rows && !c.IsNullAt(Current); }
  int Index(const QString& name) const {
    for (std::size_t i = 0; i < Columns.size(); ++i)
      if (Columns[i].Name.compare(name, Qt::CaseInsensitive) == 0) return int(i);
    return -1;
  }
  int IndexOrThrow(const QString& name) const {
    const int i = Index(name);
    if (i < 0) throw std::out_of_range("field '" + name.toStdString() + "' not found");
    return i;
  }
};

TResultSet::TResultSet() : d(std::make_unique<Impl>()) {}
TResultSet::~TResultSet() = default;

bool TResultSet::Active() const {
  return d->Active;
}

void TResultSet::Close() {
  std::vector<TColumn> spare = d->Columns.empty() ? std::move(d->Spare) : std::move(d->Columns);
  for (TColumn& c : spare)
    c.Clear();
  *d = Impl();
  d->Spare = std::move(spare);
}

std::vector<TColumnData> TResultSet::TakeColumnData() {
  std::vector<TColumnData> columns = std::move(d->Columns);
  d->Columns.clear();
  Close();
  return columns;
}

int TResultSet::FieldCount() const {
  return int(d->Columns.size());
}
QString TResultSet::FieldName(int field) const {
  return d->Column(field).Name;
}
int TResultSet::FieldIndex(const QString& name) const {
  return d->Index(name);
}
TFieldKind TResultSet::FieldKind(int field) const {
  return d->Column(field).Kind;
}

int TResultSet::RecordCount() const {
  return int(d->Rows);
}
void TResultSet::First() {
  d->Current = 0;
}
void TResultSet::Next() {
  if (d->Current < d->Rows) ++d->Current;
}
bool TResultSet::Eof() const {
  return d->Current >= d->Rows;
}
int TResultSet::RecNo() const {
  return int(d->Current);
}

bool TResultSet::IsNull(int field) const {
  return !d->HasValue(d->Column(field));
}

QString TResultSet::AsString(int field) const {
  const TColumn& c = d->Column(field);
  if (!d->HasValue(c)) return {};
  const std::size_t r = d->Current;
  switch (c.Kind) {
  case TFieldKind::Integer:
    return QString::number(c.Int32[r]);
  case TFieldKind::Int64:
    return QString::number(c.Int64[r]);
  case TFieldKind::Float:
    return QString::number(c.Float[r], 'g', QLocale::FloatingPointShortest);
  case TFieldKind::DateTime:
    return DateTimeText(c.DateTime(r));
  default:
    return c.Text(r);
  }
}

std::int64_t TResultSet::AsLargeInt(int field) const {
  const TColumn& c = d->Column(field);
  if (!d->HasValue(c)) return 0;
  const std::size_t r = d->Current;
  switch (c.Kind) {
  case TFieldKind::Integer:
    return c.Int32[r];
  case TFieldKind::Int64:
    return c.Int64[r];
  case TFieldKind::Float:
    return ClampToInt<std::int64_t>(c.Float[r]);
  case TFieldKind::DateTime:
    return 0;
  default:
    return TextToInt64(c.Text(r));
  }
}

std::int32_t TResultSet::AsInteger(int field) const {
  const TColumn& c = d->Column(field);
  if (d->HasValue(c) && c.Kind == TFieldKind::Float)
    return ClampToInt<std::int32_t>(c.Float[d->Current]);
  return ClampToInt<std::int32_t>(AsLargeInt(field));
}

double TResultSet::AsFloat(int field) const {
  const TColumn& c = d->Column(field);
  if (!d->HasValue(c)) return 0;
  const std::size_t r = d->Current;
  switch (c.Kind) {
  case TFieldKind::Integer:
    return c.Int32[r];
  case TFieldKind::Int64:
    return double(c.Int64[r]);
  case TFieldKind::Float:
    return c.Float[r];
  case TFieldKind::DateTime:
    return 0;
  default: {
    bool ok = false;
    const double v = c.Text(r).trimmed().toDouble(&ok);
    return ok ? v : 0;
  }
  }
}

QDateTime TResultSet::AsDateTime(int field) const {
  const TColumn& c = d->Column(field);
  if (!d->HasValue(c)) return {};
  if (c.Kind == TFieldKind::DateTime) return c.DateTime(d->Current);
  if (c.IsText()) return QDateTime::fromString(c.Text(d->Current).trimmed(), Qt::ISODateWithMs);
  return {};
}

QStringView TResultSet::TextView(int field) const {
  const TColumn& c = d->Column(field);
  if (!d->HasValue(c) || (c.Kind != TFieldKind::Text && c.Kind != TFieldKind::UnicodeText))
    return {};
  const std::size_t end = c.Ends[d->Current];
  const std::size_t begin = d->Current ? c.Ends[d->Current - 1] : 0;
  return QStringView(c.Chars.data() + begin, qsizetype(end - begin));
}

QString TResultSet::AsString(const QString& name) const {
  return AsString(d->IndexOrThrow(name));
}
std::int32_t TResultSet::AsInteger(const QString& name) const {
  return AsInteger(d->IndexOrThrow(name));
}
std::int64_t TResultSet::AsLargeInt(const QString& name) const {
  return AsLargeInt(d->IndexOrThrow(name));
}
double TResultSet::AsFloat(const QString& name) const {
  return AsFloat(d->IndexOrThrow(name));
}
QDateTime TResultSet::AsDateTime(const QString& name) const {
  return AsDateTime(d->IndexOrThrow(name));
}

void TResultSet::CopyTo(TMemTable& table) const {
  table.SetColumnData(d->Columns);
}

void TResultSet::AppendTo(TMemTable& table) const {
  table.AppendColumnData(d->Columns);
}

// --- fetching -------------------------------------------------------------------------------

namespace {

enum class TCType { Int32, Int64, Real, Double, AnsiText, WideText, Timestamp };

struct TFetchColumn {
  TCType C = TCType::WideText;
  bool TimeOnly = false; // a time of day: shown on 1900-01-01, as the server converts it
  bool Bound = false;
  SQLLEN BufferBytes = 0;
  std::size_t IndicatorOffset = 0; // into a row of the block, when bound
  std::size_t Offset = 0;
};

SQLSMALLINT CTypeCode(TCType c) {
  switch (c) {
  case TCType::Int32:
    return SQL_C_SLONG;
  case TCType::Int64:
    return SQL_C_SBIGINT;
  case TCType::Real:
    return SQL_C_FLOAT;
  case TCType::Double:
    return SQL_C_DOUBLE;
  case TCType::AnsiText:
    return SQL_C_CHAR;
  case TCType::WideText:
    return SQL_C_WCHAR;
  case TCType::Timestamp:
    return SQL_C_TYPE_TIMESTAMP;
  }
  return SQL_C_WCHAR;
}

SQLLEN FixedSize(TCType c) {
  switch (c) {
  case TCType::Int32:
    return sizeof(SQLINTEGER);
  case TCType::Int64:
    return sizeof(SQLBIGINT);
  case TCType::Real:
    return sizeof(SQLREAL);
  case TCType::Double:
    return sizeof(SQLDOUBLE);
  case TCType::Timestamp:
    return sizeof(SQL_TIMESTAMP_STRUCT);
  default:
    return 0;
  }
}

// Decides the kind, the C type and whether a fixed buffer can hold every value.
void Classify(SQLSMALLINT sqlType, SQLULEN size, TColumn& column, TFetchColumn& fetch,
              bool& bindable) {
  bindable = true;
  SQLULEN chars = 0;
  switch (sqlType) {
  case SQL_BIT:
  case SQL_TINYINT:
  case SQL_SMALLINT:
  case SQL_INTEGER:
    column.Kind = TFieldKind::Integer;
    fetch.C = TCType::Int32;
    return;
  case SQL_BIGINT:
    column.Kind = TFieldKind::Int64;
    fetch.C = TCType::Int64;
    return;
  case SQL_REAL:
    column.Kind = TFieldKind::Float;
    fetch.C = TCType::Real;
    return;
  case SQL_FLOAT:
  case SQL_DOUBLE:
    column.Kind = TFieldKind::Float;
    fetch.C = TCType::Double;
    return;
  case SQL_NUMERIC:
  case SQL_DECIMAL:
    // Exact digits as text: a double would lose them beyond 15 places.
    column.Kind = TFieldKind::Decimal;
    fetch.C = TCType::AnsiText;
    fetch.BufferBytes = 128;
    return;
  case SQL_TYPE_TIME:
  case SQL_TIME:
  case kSqlSsTime2:
    fetch.TimeOnly = true;
    [[fallthrough]];
  case SQL_TYPE_TIMESTAMP:
  case SQL_TYPE_DATE:
  case SQL_TIMESTAMP:
  case SQL_DATE:
    column.Kind = TFieldKind::DateTime;
    fetch.C = TCType::Timestamp;
    return;
  case SQL_CHAR:
  case SQL_VARCHAR:
  case SQL_LONGVARCHAR:
    column.Kind = TFieldKind::Text;
    chars = size;
    break;
  case SQL_WCHAR:
  case SQL_WVARCHAR:
  case SQL_WLONGVARCHAR:
    column.Kind = TFieldKind::UnicodeText;
    chars = size;
    break;
  case kSqlSsVariant:
  case kSqlSsXml:
    column.Kind = TFieldKind::UnicodeText;
    break;
  case SQL_BINARY:
  case SQL_VARBINARY:
  case SQL_LONGVARBINARY:
    column.Kind = TFieldKind::Text; // hexadecimal digits
    chars = size <= kMaxBoundChars ? size * 2 : 0;
    break;
  case SQL_GUID:
    column.Kind = TFieldKind::Text;
    chars = 36;
    break;
  default:
    // Anything else (datetimeoffset, user types) as the driver renders it.
    column.Kind = TFieldKind::Text;
    break;
  }
  fetch.C = TCType::WideText;
  bindable = chars > 0 && chars <= kMaxBoundChars && sqlType != SQL_LONGVARCHAR &&
             sqlType != SQL_WLONGVARCHAR && sqlType != SQL_LONGVARBINARY;
  fetch.BufferBytes = SQLLEN((chars + 1) * sizeof(SQLWCHAR));
}

[[noreturn]] void ThrowTruncated(const TColumn& column) {
  throw TOdbcError(QCoreApplication::translate("TResultSet",
                                               "The value of column \"%1\" is longer than the "
                                               "driver announced.")
                       .arg(column.Name));
}

void AppendFixed(TColumn& c, const TFetchColumn& f, const void* value) {
  c.MarkValue();
  switch (f.C) {
  case TCType::Int32:
    c.Int32.push_back(*static_cast<const SQLINTEGER*>(value));
    break;
  case TCType::Int64:
    c.Int64.push_back(*static_cast<const SQLBIGINT*>(value));
    break;
  case TCType::Real:
    c.Float.push_back(RealToDouble(*static_cast<const SQLREAL*>(value)));
    break;
  case TCType::Double:
    c.Float.push_back(*static_cast<const SQLDOUBLE*>(value));
    break;
  case TCType::Timestamp: {
    const auto& ts = *static_cast<const SQL_TIMESTAMP_STRUCT*>(value);
    const QDate date = f.TimeOnly ? QDate(1900, 1, 1) : QDate(ts.year, ts.month, ts.day);
    c.Int64.push_back(date.toJulianDay());
    c.Int32.push_back(((ts.hour * 60 + ts.minute) * 60 + ts.second) * 1000 +
                      int(ts.fraction / 1000000));
    break;
  }
  default:
    break;
  }
}

// Text bytes (wide or narrow) of one piece of a value.
void AppendChars(TColumn& c, TCType type, const void* data, std::size_t bytes) {
  if (type == TCType::WideText) {
    const auto* p = static_cast<const char16_t*>(data);
    c.Chars.insert(c.Chars.end(), p, p + bytes / sizeof(char16_t));
  } else {
    const auto* p = static_cast<const char*>(data);
    c.Bytes.insert(c.Bytes.end(), p, p + bytes);
  }
}

void GetData(SQLHSTMT stmt, SQLUSMALLINT number, TColumn& c, const TFetchColumn& f) {
  if (f.C != TCType::WideText && f.C != TCType::AnsiText) {
    alignas(8) unsigned char value[sizeof(SQL_TIMESTAMP_STRUCT) + 8];
    SQLLEN indicator = 0;
    OdbcCheck(SQLGetData(stmt, number, CTypeCode(f.C), value, sizeof(value), &indicator),
              SQL_HANDLE_STMT, stmt, "SQLGetData");
    if (indicator == SQL_NULL_DATA)
      c.AppendNull();
    else
      AppendFixed(c, f, value);
    return;
  }
  const std::size_t terminator = f.C == TCType::WideText ? sizeof(SQLWCHAR) : 1;
  alignas(8) unsigned char buffer[16384];
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc =
        SQLGetData(stmt, number, CTypeCode(f.C), buffer, sizeof(buffer), &indicator);
    if (rc == SQL_NO_DATA) break;
    OdbcCheck(rc, SQL_HANDLE_STMT, stmt, "SQLGetData");
    if (indicator == SQL_NULL_DATA) {
      c.AppendNull();
      return;
    }
    // A piece longer than the buffer (or of unknown length) continues with the next call; the
    // length is never trusted beyond the buffer.
    const bool more = indicator == SQL_NO_TOTAL ||
                      (indicator > 0 && std::size_t(indicator) + terminator > sizeof(buffer));
    const std::size_t bytes =
        more ? sizeof(buffer) - terminator : std::size_t(std::max<SQLLEN>(indicator, 0));
    AppendChars(c, f.C, buffer, bytes - bytes % terminator);
    if (!more) break;
  }
  c.EndText();
}

// Room for `more` values without giving up geometric growth.
template <typename T> void Grow(std::vector<T>& v, std::size_t more) {
  if (v.capacity() - v.size() < more)
    v.reserve(std::max(v.size() + more, std::max<std::size_t>(v.capacity() * 2, 1024)));
}

template <typename Append>
void ForEachValue(TColumn& c, const TFetchColumn& f, const unsigned char* block,
                  std::size_t rowBytes, std::size_t rows, Append append) {
  for (std::size_t r = 0; r < rows; ++r) {
    const unsigned char* row = block + r * rowBytes;
    SQLLEN indicator;
    std::memcpy(&indicator, row + f.IndicatorOffset, sizeof indicator);
    if (indicator == SQL_NULL_DATA)
      c.AppendNull();
    else
      append(row + f.Offset, indicator);
  }
}

template <typename T, typename From>
void AppendNumbers(TColumn& c, std::vector<T>& to, const TFetchColumn& f,
                   const unsigned char* block, std::size_t rowBytes, std::size_t rows) {
  Grow(to, rows);
  ForEachValue(c, f, block, rowBytes, rows, [&](const unsigned char* value, SQLLEN) {
    From v;
    std::memcpy(&v, value, sizeof v);
    c.MarkValue();
    to.push_back(T(v));
  });
}

// Appends `rows` rows of a bound column from a block laid out row by row.
void AppendBlock(TColumn& c, const TFetchColumn& f, const unsigned char* block,
                 std::size_t rowBytes, std::size_t rows) {
  switch (f.C) {
  case TCType::Int32:
    AppendNumbers<std::int32_t, SQLINTEGER>(c, c.Int32, f, block, rowBytes, rows);
    return;
  case TCType::Int64:
    AppendNumbers<std::int64_t, SQLBIGINT>(c, c.Int64, f, block, rowBytes, rows);
    return;
  case TCType::Double:
    AppendNumbers<double, SQLDOUBLE>(c, c.Float, f, block, rowBytes, rows);
    return;
  case TCType::Real:
  case TCType::Timestamp:
    ForEachValue(c, f, block, rowBytes, rows,
                 [&](const unsigned char* value, SQLLEN) { AppendFixed(c, f, value); });
    return;
  case TCType::WideText:
  case TCType::AnsiText: {
    Grow(c.Ends, rows);
    const SQLLEN terminator = f.C == TCType::WideText ? SQLLEN(sizeof(SQLWCHAR)) : 1;
    ForEachValue(c, f, block, rowBytes, rows, [&](const unsigned char* value, SQLLEN indicator) {
      if (indicator == SQL_NO_TOTAL || indicator < 0 || indicator > f.BufferBytes - terminator)
        ThrowTruncated(c);
      AppendChars(c, f.C, value, std::size_t(indicator));
      c.EndText();
    });
    return;
  }
  }
}

} // namespace

std::size_t TResultSetBuilder::BlockRows(std::size_t rowBytes) {
  return rowBytes ? std::clamp<std::size_t>((256 * 1024) / rowBytes, 1, 512) : 1;
}

void TResultSetBuilder::Fetch(SQLHSTMT stmt, TResultSet& target,
                              std::vector<TOdbcDiagRecord>& info) {
  target.Close();
  TResultSet::Impl fresh;
  fresh.Columns = std::move(target.d->Spare);

  SQLSMALLINT count = 0;
  OdbcCheck(SQLNumResultCols(stmt, &count), SQL_HANDLE_STMT, stmt, "SQLNumResultCols");
  fresh.Columns.resize(std::size_t(count));
  std::vector<TFetchColumn> fetch(static_cast<std::size_t>(count));

  // Columns are bound up to the first one that needs SQLGetData; the rest are read with it,
  // in order, which every driver allows. Bound values sit row by row: indicator, then value.
  bool binding = true;
  std::size_t rowBytes = 0;
  for (SQLSMALLINT i = 0; i < count; ++i) {
    SQLWCHAR name[256] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT sqlType = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    OdbcCheck(SQLDescribeColW(stmt, SQLUSMALLINT(i + 1), name, SQLSMALLINT(std::size(name)),
                              &nameLength, &sqlType, &size, &digits, &nullable),
              SQL_HANDLE_STMT, stmt, "SQLDescribeCol");
    TColumn& column = fresh.Columns[std::size_t(i)];
    TFetchColumn& f = fetch[std::size_t(i)];
    column.Name = FromSqlW(name, std::min<qsizetype>(nameLength, qsizetype(std::size(name)) - 1));
    bool bindable = false;
    Classify(sqlType, size, column, f, bindable);
    if (const SQLLEN fixed = FixedSize(f.C)) f.BufferBytes = fixed;
    binding = binding && bindable;
    if (binding) {
      f.Bound = true;
      f.IndicatorOffset = rowBytes;
      f.Offset = rowBytes + sizeof(SQLLEN);
      rowBytes = f.Offset + ((std::size_t(f.BufferBytes) + 7) & ~std::size_t(7));
    }
  }

  // With every column bound, rows come in blocks: one driver call per block instead of per row.
  const bool allBound = binding;
  const std::size_t blockRows = allBound ? BlockRows(rowBytes) : 1;
  std::vector<std::uint64_t> storage((std::max<std::size_t>(rowBytes, 8) * blockRows + 7) / 8);
  auto* block = reinterpret_cast<unsigned char*>(storage.data());
  std::vector<SQLUSMALLINT> rowStatus(blockRows, SQL_ROW_SUCCESS);
  SQLULEN fetched = 0;

  // The buffers die with this call; the statement must not keep pointers to them.
  struct TUnbind {
    SQLHSTMT Stmt;
    ~TUnbind() {
      SQLFreeStmt(Stmt, SQL_UNBIND);
      SQLSetStmtAttr(Stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN(1)), 0);
      SQLSetStmtAttr(Stmt, SQL_ATTR_ROW_BIND_TYPE,
                     reinterpret_cast<SQLPOINTER>(SQLULEN(SQL_BIND_BY_COLUMN)), 0);
      SQLSetStmtAttr(Stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
      SQLSetStmtAttr(Stmt, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    }
  } unbind{stmt};
  OdbcCheck(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE,
                           reinterpret_cast<SQLPOINTER>(SQLULEN(rowBytes)), 0),
            SQL_HANDLE_STMT, stmt, "SQLSetStmtAttr");
  OdbcCheck(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE,
                           reinterpret_cast<SQLPOINTER>(SQLULEN(blockRows)), 0),
            SQL_HANDLE_STMT, stmt, "SQLSetStmtAttr");
  OdbcCheck(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_HANDLE_STMT, stmt,
            "SQLSetStmtAttr");
  OdbcCheck(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, rowStatus.data(), 0), SQL_HANDLE_STMT,
            stmt, "SQLSetStmtAttr");
  for (SQLSMALLINT i = 0; i < count; ++i) {
    const TFetchColumn& f = fetch[std::size_t(i)];
    if (f.Bound)
      OdbcCheck(SQLBindCol(stmt, SQLUSMALLINT(i + 1), CTypeCode(f.C), block + f.Offset,
                           f.BufferBytes, reinterpret_cast<SQLLEN*>(block + f.IndicatorOffset)),
                SQL_HANDLE_STMT, stmt, "SQLBindCol");
  }

  for (;;) {
    fetched = 0;
    const SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_NO_DATA) {
      for (TOdbcDiagRecord& r : CollectDiagnostics(SQL_HANDLE_STMT, stmt))
        info.push_back(std::move(r));
      break;
    }
    OdbcCheck(rc, SQL_HANDLE_STMT, stmt, "SQLFetch");
    if (rc == SQL_SUCCESS_WITH_INFO) {
      std::vector<TOdbcDiagRecord> records = CollectDiagnostics(SQL_HANDLE_STMT, stmt);
      for (std::size_t r = 0; r < std::min<std::size_t>(fetched, blockRows); ++r)
        if (rowStatus[r] == SQL_ROW_ERROR)
          throw TOdbcError(JoinDiagnostics(records, false), records);
      for (TOdbcDiagRecord& r : records)
        if (r.State != QLatin1String("01004")) // truncation: caught per column below
          info.push_back(std::move(r));
    }

    // A driver that leaves the count alone fetched one row, as without blocks.
    const std::size_t rows = fetched ? std::min<std::size_t>(fetched, blockRows) : 1;
    if (allBound) {
      // Column by column through the block: one decision per column, not per value.
      for (std::size_t i = 0; i < std::size_t(count); ++i)
        AppendBlock(fresh.Columns[i], fetch[i], block, rowBytes, rows);
      fresh.Rows += rows;
      continue;
    }
    for (std::size_t r = 0; r < rows; ++r) {
      for (std::size_t i = 0; i < std::size_t(count); ++i) {
        if (fetch[i].Bound)
          AppendBlock(fresh.Columns[i], fetch[i], block + r * rowBytes, rowBytes, 1);
        else
          GetData(stmt, SQLUSMALLINT(i + 1), fresh.Columns[i], fetch[i]);
      }
      ++fresh.Rows;
    }
  }
  fresh.Active = true;
  *target.d = std::move(fresh);
}
