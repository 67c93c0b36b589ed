#pragma once
// A grid with typed columns as a Qt table model: text, number and time columns, cells that can
// be marked empty, and a background colour per cell. Rows are addressed by their display
// position: sorting reorders the rows themselves. No GUI here.

#include "platform/uGridRoles.h"
#include <QAbstractTableModel>
#include <QColor>
#include <QDateTime>

#include <QStringList>
#include <QVariant>
#include <QVector>
#include <algorithm>
#include <cstdint>
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
  // Sets the number of rows in one model reset. New rows hold their columns' defaults; kept
  // rows keep their cells, so a caller that refills every row reuses their memory.
  void SetRowCount(int count);
  int RowCount() const { return m_rowCount; }
  void BeginUpdate();
  void EndUpdate();

  void SetCell(int column, int row, const QVariant& value);
  void SetCell(int column, int row, QVariant&& value);
  // The same for a text, a number or a time, without a QVariant.
  void SetText(int column, int row, QString value);
  void SetNumber(int column, int row, double value) {
    TColumnCells& c = m_cells[std::size_t(column)];
    Retype(c, row, Double);
    Slot(c.Reals, row) = value;
    CellChanged(column, row);
  }
  void SetTime(int column, int row, const QDateTime& value) {
    TColumnCells& c = m_cells[std::size_t(column)];
    Retype(c, row, DateTime);
    Slot(c.Times, row) = value;
    CellChanged(column, row);
  }
  QVariant Cell(int column, int row) const;
  void SetEmpty(int column, int row, bool empty) {
    TColumnCells& c = m_cells[std::size_t(column)];
    std::uint8_t& flags = c.Flags[std::size_t(row)];
    if (bool(flags & EmptyFlag) == empty) return;
    flags = empty ? std::uint8_t(flags | EmptyFlag) : std::uint8_t(flags & ~EmptyFlag);
    c.Filled += empty ? -1 : 1;
    CellChanged(column, row);
  }
  // A value a text cell sorts by ("1.000 GB" by its bytes); cells without one sort after the
  // cells with one, by their text. Setting the cell again drops the key.
  void SetSortKey(int column, int row, qint64 key) {
    TColumnCells& c = m_cells[std::size_t(column)];
    if (c.Type[std::size_t(row)] != String) return; // other kinds sort by their value
    Slot(c.Ints, row) = key;
    c.Flags[std::size_t(row)] |= SortKeyFlag;
  }
  bool IsEmpty(int column, int row) const {
    return m_cells[std::size_t(column)].Flags[std::size_t(row)] & EmptyFlag;
  }
  // An invalid colour means the window colour.
  void SetColor(int column, int row, const QColor& color);
  // A tooltip of the cell's own, shown whether or not its text fits; empty: none.
  void SetHint(int column, int row, const QString& hint);
  QString Hint(int column, int row) const;
  // What the cell shows before its text (an icon); null: nothing.
  void SetDecoration(int column, int row, const QVariant& decoration);

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
  // Stable, by value: numbers and times compare as such, texts by their sort keys where set and
  // otherwise without regard to letter case (as a server's default collation compares names);
  // empty cells come first.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
  // What a cell holds; the value sits in the column's vector of that type.
  enum TType : std::uint8_t { Null, Int32, Int64, Double, DateTime, String, Other };
  enum : std::uint8_t { EmptyFlag = 1, ColorFlag = 2, SortKeyFlag = 4 };
  // The cells of one column, by row. The vectors of values are sized to the rows once a value
  // of their type is stored, so a column of numbers holds no strings.
  struct TColumnCells {
    std::vector<std::uint8_t> Type;
    std::vector<std::uint8_t> Flags;
    std::vector<QRgb> Colors;
    std::vector<qint64> Ints;
    std::vector<double> Reals;
    std::vector<QDateTime> Times;
    std::vector<QString> Texts;
    std::vector<QVariant> Others;
    // Sized only once a cell of the column has one.
    std::vector<QString> Hints;
    std::vector<QVariant> Decorations;
    int Filled = 0; // cells not marked empty
  };
  template <typename T> T& Slot(std::vector<T>& values, int row) {
    if (values.size() < std::size_t(m_rowCount)) values.resize(std::size_t(m_rowCount));
    return values[std::size_t(row)];
  }
  // Sets the type of a cell, releasing what its last value held elsewhere.
  void Retype(TColumnCells& c, int row, TType type) {
    if (c.Type[std::size_t(row)] != type) ChangeType(c, row, type);
  }
  void ChangeType(TColumnCells& c, int row, TType type);
  void Store(int column, int row, const QVariant& value);
  void ResizeRows(int count); // cells of new rows are null and not empty
  void CellChanged(int column, int row) {
    if (m_updateDepth == 0) {
      EmitCellChanged(column, row);
      return;
    }
    // One signal at the end for the rectangle that holds every changed cell.
    if (m_dirtyLeft > m_dirtyRight) {
      m_dirtyLeft = m_dirtyRight = column;
      m_dirtyTop = m_dirtyBottom = row;
      return;
    }
    m_dirtyLeft = std::min(m_dirtyLeft, column);
    m_dirtyRight = std::max(m_dirtyRight, column);
    m_dirtyTop = std::min(m_dirtyTop, row);
    m_dirtyBottom = std::max(m_dirtyBottom, row);
  }
  void EmitCellChanged(int column, int row);

  QVector<TGridColumn> m_columns;
  std::vector<TColumnCells> m_cells; // by column
  int m_rowCount = 0;
  int m_updateDepth = 0;
  // Cells changed while an update is open; none while left > right.
  int m_dirtyLeft = 0, m_dirtyRight = -1, m_dirtyTop = 0, m_dirtyBottom = -1;
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

// A time of day in the locale's long time format, without the time zone that Qt's long format
// adds on some platforms: the times shown are local wall-clock times.
QString FormatLongTime(const QTime& time);
