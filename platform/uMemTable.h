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

// How a view shows a column. A decimal column is by default shown as a number in the general
// form (up to 15 significant digits); ExactText shows its stored digits unchanged.
enum class TColumnDisplay { Default, ExactText };

bool IsNumericKind(TFieldKind kind);

class TMemTable : public QAbstractTableModel {
  Q_OBJECT
public:
  explicit TMemTable(QObject* parent = nullptr);

  // Replaces columns and rows in one model reset.
  void SetData(QVector<TMemColumn> columns, QVector<QVector<QVariant>> rows);
  // The same with the cells row by row in one list (one allocation for a big result).
  void SetCells(QVector<TMemColumn> columns, QVector<QVariant> cells);
  void Clear(); // removes the rows, keeps the columns
  // Appends the rows of `source`, taking each of this table's columns from the source column of
  // the same name (converted to this column's kind); columns the source lacks stay NULL.
  void AppendRowsFrom(TMemTable&& source);
  bool HasStructure() const { return !m_columns.isEmpty(); }

  const QVector<TMemColumn>& Columns() const { return m_columns; }
  int FieldIndex(const QString& name) const; // -1 when absent (case-insensitive)
  // Raw cell values: QString for text and decimals, qint32/qint64, double, QDateTime; null QVariant
  // for NULL.
  const QVariant& Cell(int row, int column) const {
    return m_cells[qsizetype(row) * m_columns.size() + column];
  }

  // View settings per column; they survive Clear and AppendRowsFrom, not SetData.
  void SetColumnDisplay(int column, TColumnDisplay display);
  TColumnDisplay ColumnDisplay(int column) const;
  // Alignment of the column's header and cells (default: numbers right, the rest left).
  void SetColumnAlignment(int column, Qt::Alignment alignment);
  Qt::Alignment ColumnAlignment(int column) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  // DisplayRole: the value as text (NULL draws nothing); EditRole: the raw value;
  // TextAlignmentRole: numbers and decimals right-aligned.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // Header roles: TGridRole::Sortable (settable), TGridRole::LongestTexts.
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                     int role = Qt::EditRole) override;
  // Stable, by raw value; NULL first. Ignored for a column that does not sort.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  QString DisplayText(int row, int column) const;

private:
  struct TColumnView {
    TColumnDisplay Display = TColumnDisplay::Default;
    Qt::Alignment Alignment;
    bool HasAlignment = false;
    bool Sortable = true;
  };
  int DisplayLength(int row, int column) const;
  QStringList LongestTexts(int column) const;

  QVector<TMemColumn> m_columns;
  QVector<QVariant> m_cells; // row by row
  int m_rowCount = 0;
  QVector<TColumnView> m_views;
};
