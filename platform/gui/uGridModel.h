#pragma once
// A grid with typed columns as a Qt table model: text, number and time columns, cells that can
// be marked empty, and a background colour per cell. Rows are addressed by their display
// position: sorting reorders the rows themselves. No GUI here.

#include "platform/uGridRoles.h"
#include <QAbstractTableModel>
#include <QColor>
#include <QDateTime>
#include <QRect>

#include <QStringList>
#include <QVariant>
#include <QVector>
#include <vector>

enum class TGridColumnKind { Text, Number, Time };

struct TGridColumn {
  QString Header;
  TGridColumnKind Kind = TGridColumnKind::Text;
  Qt::Alignment HeaderAlignment = Qt::AlignLeft;
  Qt::Alignment CellAlignment = Qt::AlignLeft;
  bool Sortable = true;
  QVariant Default; // what a new cell holds
  Qt::TextElideMode Elide = Qt::ElideRight;
  bool HintWhenClipped = false;
};

class TGridModel : public QAbstractTableModel {
  Q_OBJECT
public:
  explicit TGridModel(QVector<TGridColumn> columns, QObject* parent = nullptr);

  const QVector<TGridColumn>& Columns() const { return m_columns; }

  // Structural changes reset the model; cell changes signal dataChanged unless an update is
  // open (BeginUpdate/EndUpdate nest; the outermost EndUpdate signals once for everything).
  void ClearRows();
  void AddRows(int count);
  int RowCount() const { return m_rowCount; }
  void BeginUpdate();
  void EndUpdate();

  void SetCell(int column, int row, const QVariant& value);
  const QVariant& Cell(int column, int row) const { return At(column, row).Value; }
  void SetEmpty(int column, int row, bool empty);
  bool IsEmpty(int column, int row) const { return At(column, row).Empty; }
  // An invalid colour means the window colour.
  void SetColor(int column, int row, const QColor& color);
  QColor Color(int column, int row) const;

  // The text a cell shows (empty for an empty cell).
  QString CellText(int column, int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                     int role = Qt::EditRole) override;
  // Stable, by value: numbers and times compare as such; empty cells come first.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
  struct TCell {
    QVariant Value;
    QRgb Color = 0; // 0: the window colour
    bool HasColor = false;
    bool Empty = false;
  };
  void CellChanged(int column, int row);

  QVector<TGridColumn> m_columns;
  TCell& At(int column, int row) {
    return m_cells[std::size_t(row) * std::size_t(m_columns.size()) + std::size_t(column)];
  }
  const TCell& At(int column, int row) const {
    return m_cells[std::size_t(row) * std::size_t(m_columns.size()) + std::size_t(column)];
  }

  std::vector<TCell> m_cells; // row by row
  int m_rowCount = 0;
  int m_updateDepth = 0;
  QRect m_dirty; // cells changed while an update is open
};

// Holds an update of a grid model open for its lifetime.
class TGridUpdateGuard {
public:
  explicit TGridUpdateGuard(TGridModel& model) : m_model(model) { m_model.BeginUpdate(); }
  ~TGridUpdateGuard() { m_model.EndUpdate(); }
  TGridUpdateGuard(const TGridUpdateGuard&) = delete;
  TGridUpdateGuard& operator=(const TGridUpdateGuard&) = delete;

private:
  TGridModel& m_model;
};

// Texts of a number cell: integers in full, other values in the general decimal form (up to
// 15 significant digits); no thousands separators; the locale's decimal separator.
QString FormatGridNumber(const QVariant& value);
