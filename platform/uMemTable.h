#pragma once
// An in-memory table (structure plus rows) exposed as a Qt table model. No GUI.

#include <QAbstractTableModel>
#include <QVariant>
#include <QVector>
#include <cstdint>
#include <vector>

#include "platform/uColumnData.h"

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
  // Replaces columns and rows with copies of `columns` (all of one length) in one model reset.
  // The table's memory from earlier rows is used again.
  void SetColumnData(const std::vector<TColumnData>& columns);
  // The same, sharing the rows of `columns` until either side changes them.
  void SetColumnData(const TColumnSet& columns);
  // Removes the rows, keeps the columns (and the memory the rows took, for the next ones).
  void Clear();
  // Appends the rows of `columns`, taking each of this table's columns from the source column
  // of the same name (converted to this column's kind); columns the source lacks stay NULL.
  void AppendColumnData(const TColumnSet& columns);
  void AppendColumnData(const std::vector<TColumnData>& columns) {
    AppendColumnData(TColumnSet(columns));
  }
  void AppendRowsFrom(TMemTable&& source);
  bool HasStructure() const { return !m_columns.isEmpty(); }

  const QVector<TMemColumn>& Columns() const { return m_columns; }
  int FieldIndex(const QString& name) const; // -1 when absent (case-insensitive)
  // Raw cell values: QString for text and decimals, qint32/qint64, double, QDateTime; null QVariant
  // for NULL.
  QVariant Cell(int row, int column) const;
  bool IsNull(int row, int column) const {
    return m_data[std::size_t(column)].IsNullAt(std::size_t(row));
  }
  // An integer cell's value without a QVariant (0 for NULL and for other kinds).
  std::int64_t IntegerAt(int row, int column) const;

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

  void ResetColumns(); // m_columns and m_views from m_data

  QVector<TMemColumn> m_columns;
  TColumnSet m_data; // the rows, column by column; shared with the set they came from
  int m_rowCount = 0;
  QVector<TColumnView> m_views;
};
