#pragma once
// A result set fetched in full: the query object behind TDataStoreBase::Query.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

#include "platform/uMemTable.h"

class TResultSet {
public:
  TResultSet();
  ~TResultSet();
  TResultSet(const TResultSet&) = delete;
  TResultSet& operator=(const TResultSet&) = delete;

  // Open: the last execution returned a result set (possibly with no rows).
  bool Active() const;
  void Close();

  int FieldCount() const;
  QString FieldName(int field) const;
  int FieldIndex(const QString& name) const; // -1 when absent (case-insensitive)
  TFieldKind FieldKind(int field) const;

  int RecordCount() const;
  void First();
  void Next();
  bool Eof() const;
  int RecNo() const; // 0-based current row

  // Values of the current row. A NULL reads as empty text, 0 or an invalid date-time.
  bool IsNull(int field) const;
  QString AsString(int field) const;
  std::int32_t AsInteger(int field) const;
  std::int64_t AsLargeInt(int field) const;
  double AsFloat(int field) const;
  QDateTime AsDateTime(int field) const;
  // The current row's text of a Text or UnicodeText column without a copy, valid until the
  // next query; empty for NULL and for columns of other kinds.
  QStringView TextView(int field) const;

  // By name; a missing name throws std::out_of_range naming the field.
  QString AsString(const QString& name) const;
  std::int32_t AsInteger(const QString& name) const;
  std::int64_t AsLargeInt(const QString& name) const;
  double AsFloat(const QString& name) const;
  QDateTime AsDateTime(const QString& name) const;

  // Replaces the table's structure and rows with this result set's.
  void CopyTo(TMemTable& table) const;
  // Appends this result set's rows to the table as TMemTable::AppendColumnData does.
  void AppendTo(TMemTable& table) const;
  // Hands over the columns with their rows, without a copy; the result set is closed after.
  std::vector<TColumnData> TakeColumnData();

private:
  friend class TResultSetBuilder;
  struct Impl;
  std::unique_ptr<Impl> d;
};
