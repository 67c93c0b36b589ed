#pragma once
// An in-memory table (structure plus rows) exposed as a Qt table model. No GUI.

#include <QAbstractTableModel>
#include <QVariant>
#include <QVector>
#include <cstdint>

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

struct TMemColumn {
  QString Name;
  TFieldKind Kind = TFieldKind::Unknown;
};

class TMemTable : public QAbstractTableModel {
  Q_OBJECT
public:
  explicit TMemTable(QObject* parent = nullptr);

  // Replaces columns and rows in one model reset.
  void SetData(QVector<TMemColumn> columns, QVector<QVector<QVariant>> rows);
  void Clear(); // removes the rows, keeps the columns
  bool HasStructure() const { return !m_columns.isEmpty(); }

  const QVector<TMemColumn>& Columns() const { return m_columns; }
  int FieldIndex(const QString& name) const; // -1 when absent (case-insensitive)
  // Raw cell values: QString for text and decimals, qint32/qint64, double, QDateTime; null QVariant
  // for NULL.
  const QVariant& Cell(int row, int column) const { return m_rows[row][column]; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  // DisplayRole: the value as text (NULL draws nothing); EditRole: the raw value;
  // TextAlignmentRole: numbers and decimals right-aligned.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

private:
  QVector<TMemColumn> m_columns;
  QVector<QVector<QVariant>> m_rows;
};
