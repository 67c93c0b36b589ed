#pragma once
// Fills a TResultSet from the current result of an ODBC statement. Private to the data store.

#include "datastore/uOdbc.h"
#include "datastore/uResultSet.h"

#include <cstddef>
#include <vector>

class TResultSetBuilder {
public:
  // Reads the columns and every row of the statement's current result into `target`, which is
  // open afterwards. Informational records that arrive with the rows (also with the fetch that
  // ends them) are appended to `info`. Throws TOdbcError and leaves `target` closed on failure.
  static void Fetch(SQLHSTMT stmt, TResultSet& target, std::vector<TOdbcDiagRecord>& info);
  // Rows per SQLFetch for bound rows of `rowBytes` bytes: about 256 KB a block, 1 to 512 rows.
  static std::size_t BlockRows(std::size_t rowBytes);
};
