#pragma once
// The bare driver, the raw side of the benchmarks: SQLExecDirect, then SQLFetch into bound
// columns with the row-array size the data store uses, each value read once and dropped. No
// result object, no conversion, no diagnostics beyond a failure.

#include "datastore/uOdbc.h"
#include "datastore/uOdbcConnectionString.h"
#include "datastore/uResultSetBuilder.h"

#include <QString>
#include <cstdint>
#include <cstring>
#include <vector>

namespace Bench {

class TBareOdbc {
public:
  // False when the connection cannot be opened; the reason in Error().
  bool Open(const TSQLConnectionProperties& props) {
    const TOdbcConnectionString s =
        BuildConnectionString(props, m_connection.Environment()->InstalledDrivers(), QString());
    try {
      if (!s.Error.isEmpty()) throw TOdbcError(s.Error);
      m_connection.Open(s.Text, 15);
      m_statement = std::make_unique<TOdbcStatement>(m_connection);
      return true;
    } catch (const TOdbcError& e) {
      m_error = e.Text();
      return false;
    }
  }
  QString Error() const { return m_error; }

  // Runs one batch and fetches every row of every result; returns a sum of the values read so
  // the compiler cannot drop the reads. Rows fetched are added to `rows`.
  std::int64_t Run(const QString& sql, std::int64_t* rows = nullptr) {
    SQLHSTMT stmt = m_statement->Handle();
    const std::u16string text = sql.toStdU16String();
    SQLRETURN rc =
        SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(text.data())),
                       SQLINTEGER(text.size()));
    std::int64_t sum = 0;
    while (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
      sum += FetchResult(stmt, rows);
      rc = SQLMoreResults(stmt);
    }
    SQLFreeStmt(stmt, SQL_CLOSE);
    return sum;
  }

private:
  struct TBound {
    SQLSMALLINT C = SQL_C_WCHAR;
    SQLLEN Bytes = 0;
    std::size_t Offset = 0; // indicator first, value after it
  };

  static std::int64_t FetchResult(SQLHSTMT stmt, std::int64_t* rows) {
    SQLSMALLINT count = 0;
    SQLNumResultCols(stmt, &count);
    if (count <= 0) return 0;
    std::vector<TBound> columns(static_cast<std::size_t>(count));
    std::size_t rowBytes = 0;
    for (SQLSMALLINT i = 0; i < count; ++i) {
      SQLWCHAR name[256];
      SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      SQLDescribeColW(stmt, SQLUSMALLINT(i + 1), name, 256, &nameLength, &type, &size, &digits,
                      &nullable);
      TBound& b = columns[std::size_t(i)];
      Choose(type, size, b);
      b.Offset = rowBytes;
      rowBytes += sizeof(SQLLEN) + ((std::size_t(b.Bytes) + 7) & ~std::size_t(7));
    }
    const std::size_t blockRows = TResultSetBuilder::BlockRows(rowBytes);
    std::vector<std::uint64_t> storage((rowBytes * blockRows + 7) / 8);
    auto* block = reinterpret_cast<unsigned char*>(storage.data());
    SQLULEN fetched = 0;
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQLULEN(rowBytes)),
                   0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN(blockRows)),
                   0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    for (SQLSMALLINT i = 0; i < count; ++i) {
      const TBound& b = columns[std::size_t(i)];
      SQLBindCol(stmt, SQLUSMALLINT(i + 1), b.C, block + b.Offset + sizeof(SQLLEN), b.Bytes,
                 reinterpret_cast<SQLLEN*>(block + b.Offset));
    }
    std::int64_t sum = 0;
    for (;;) {
      fetched = 0;
      const SQLRETURN rc = SQLFetch(stmt);
      if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
      const std::size_t n = fetched ? std::min<std::size_t>(fetched, blockRows) : 1;
      for (std::size_t r = 0; r < n; ++r)
        for (const TBound& b : columns) {
          const unsigned char* cell = block + r * rowBytes + b.Offset;
          SQLLEN indicator;
          std::memcpy(&indicator, cell, sizeof indicator);
          if (indicator == SQL_NULL_DATA) continue;
          sum += b.C == SQL_C_SLONG || b.C == SQL_C_SBIGINT ? std::int64_t(cell[sizeof(SQLLEN)])
                                                            : indicator;
        }
      if (rows) *rows += std::int64_t(n);
    }
    SQLFreeStmt(stmt, SQL_UNBIND);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN(1)), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE,
                   reinterpret_cast<SQLPOINTER>(SQLULEN(SQL_BIND_BY_COLUMN)), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    return sum;
  }

  // The C type a value arrives in, as the data store binds it.
  static void Choose(SQLSMALLINT type, SQLULEN size, TBound& b) {
    switch (type) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
      b.C = SQL_C_SLONG;
      b.Bytes = sizeof(SQLINTEGER);
      return;
    case SQL_BIGINT:
      b.C = SQL_C_SBIGINT;
      b.Bytes = sizeof(SQLBIGINT);
      return;
    case SQL_REAL:
      b.C = SQL_C_FLOAT;
      b.Bytes = sizeof(SQLREAL);
      return;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      b.C = SQL_C_DOUBLE;
      b.Bytes = sizeof(SQLDOUBLE);
      return;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      b.C = SQL_C_CHAR;
      b.Bytes = 128;
      return;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TIMESTAMP:
      b.C = SQL_C_TYPE_TIMESTAMP;
      b.Bytes = sizeof(SQL_TIMESTAMP_STRUCT);
      return;
    default:
      b.C = SQL_C_WCHAR;
      b.Bytes = SQLLEN((std::min<SQLULEN>(size ? size : 4000, 4000) + 1) * sizeof(SQLWCHAR));
      return;
    }
  }

  TOdbcConnection m_connection;
  std::unique_ptr<TOdbcStatement> m_statement;
  QString m_error;
};

} // namespace Bench
