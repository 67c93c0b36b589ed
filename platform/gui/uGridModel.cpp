#include "platform/gui/uGridModel.h"

#include <QBrush>
#include <QLocale>
#include <algorithm>

TGridModel::TGridModel(QVector<TGridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns)),
      m_filled(std::size_t(m_columns.size()), 0) {}

void TGridModel::ClearRows() {
  if (m_rowCount == 0) return;
  beginResetModel();
  m_cells.clear();
  m_rowCount = 0;
  std::fill(m_filled.begin(), m_filled.end(), 0);
  endResetModel();
}

void TGridModel::AddRows(int count) {
  if (count <= 0) return;
  const int first = m_rowCount;
  const std::size_t columns = std::size_t(m_columns.size());
  beginInsertRows(QModelIndex(), first, first + count - 1);
  m_cells.resize((std::size_t(first) + std::size_t(count)) * columns);
  for (std::size_t c = 0; c < columns; ++c)
    if (!m_columns[int(c)].Default.isNull())
      for (int r = first; r < first + count; ++r)
        m_cells[std::size_t(r) * columns + c].Value = m_columns[int(c)].Default;
  m_rowCount = first + count;
  for (int& filled : m_filled)
    filled += count;
  endInsertRows();
}

void TGridModel::SetRowCount(int count) {
  count = std::max(count, 0);
  const std::size_t columns = std::size_t(m_columns.size());
  beginResetModel();
  const int first = std::min(m_rowCount, count);
  for (int r = count; r < m_rowCount; ++r) // rows that go
    for (std::size_t c = 0; c < columns; ++c)
      m_filled[c] -= At(int(c), r).Empty ? 0 : 1;
  for (int& filled : m_filled)
    filled += count - first; // new rows
  m_cells.resize(std::size_t(count) * columns);
  for (std::size_t c = 0; c < columns; ++c)
    if (!m_columns[int(c)].Default.isNull())
      for (int r = first; r < count; ++r)
        m_cells[std::size_t(r) * columns + c].Value = m_columns[int(c)].Default;
  m_rowCount = count;
  endResetModel();
}

void TGridModel::BeginUpdate() {
  ++m_updateDepth;
}

void TGridModel::EndUpdate() {
  if (m_updateDepth == 0 || --m_updateDepth > 0) return;
  if (m_dirtyLeft <= m_dirtyRight && m_rowCount > 0)
    Q_EMIT dataChanged(
        index(m_dirtyTop, m_dirtyLeft),
        index(std::min(m_dirtyBottom, rowCount() - 1), std::min(m_dirtyRight, columnCount() - 1)));
  m_dirtyLeft = 0;
  m_dirtyRight = -1;
}

void TGridModel::EmitCellChanged(int column, int row) {
  const QModelIndex i = index(row, column);
  Q_EMIT dataChanged(i, i);
}

void TGridModel::SetCell(int column, int row, const QVariant& value) {
  TCell& cell = At(column, row);
  cell.Value = value;
  cell.Held = THeld::Other;
  CellChanged(column, row);
}

void TGridModel::SetCell(int column, int row, QVariant&& value) {
  TCell& cell = At(column, row);
  cell.Value = std::move(value);
  cell.Held = THeld::Other;
  CellChanged(column, row);
}

// Refreshing figures replaces a value by one of the same type: assign in place.
void TGridModel::SetNumber(int column, int row, double value) {
  TCell& cell = At(column, row);
  if (cell.Held == THeld::Double) {
    *static_cast<double*>(cell.Value.data()) = value;
  } else {
    cell.Value = QVariant(value);
    cell.Held = THeld::Double;
  }
  CellChanged(column, row);
}

void TGridModel::SetTime(int column, int row, const QDateTime& value) {
  TCell& cell = At(column, row);
  if (cell.Held == THeld::DateTime) {
    *static_cast<QDateTime*>(cell.Value.data()) = value;
  } else {
    cell.Value = QVariant(value);
    cell.Held = THeld::DateTime;
  }
  CellChanged(column, row);
}

void TGridModel::SetColor(int column, int row, const QColor& color) {
  TCell& cell = At(column, row);
  const bool has = color.isValid();
  const QRgb rgb = has ? color.rgb() : 0;
  if (cell.HasColor == has && cell.Color == rgb) return;
  cell.HasColor = has;
  cell.Color = rgb;
  CellChanged(column, row);
}

QColor TGridModel::Color(int column, int row) const {
  const TCell& cell = At(column, row);
  return cell.HasColor ? QColor::fromRgb(cell.Color) : QColor();
}

QString FormatGridNumber(const QVariant& value) {
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
  switch (value.typeId()) {
  case QMetaType::Int:
  case QMetaType::LongLong:
  case QMetaType::Long:
  case QMetaType::Short:
    return locale.toString(value.toLongLong());
  case QMetaType::UInt:
  case QMetaType::ULongLong:
  case QMetaType::ULong:
  case QMetaType::UShort:
    return locale.toString(value.toULongLong());
  default:
    return locale.toString(value.toDouble(), 'g', 15);
  }
}

QString TGridModel::CellText(int column, int row) const {
  const TCell& cell = At(column, row);
  if (cell.Empty || cell.Value.isNull()) return {};
  switch (m_columns[column].Kind) {
  case TGridColumnKind::Number:
    return FormatGridNumber(cell.Value);
  case TGridColumnKind::Time: {
    const QTime time = cell.Value.typeId() == QMetaType::QTime ? cell.Value.toTime()
                                                               : cell.Value.toDateTime().time();
    return QLocale().toString(time, QLocale::LongFormat);
  }
  case TGridColumnKind::Text:
    break;
  }
  return cell.Value.toString();
}

int TGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_rowCount;
}

int TGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant TGridModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
    return {};
  const int c = index.column();
  const int r = index.row();
  switch (role) {
  case Qt::DisplayRole:
  case Qt::ToolTipRole: {
    if (role == Qt::ToolTipRole && !m_columns[c].HintWhenClipped) return {};
    const QString text = CellText(c, r);
    return text.isEmpty() ? QVariant() : QVariant(text);
  }
  case Qt::EditRole:
    return At(c, r).Empty ? QVariant() : At(c, r).Value;
  case Qt::TextAlignmentRole:
    return QVariant::fromValue(m_columns[c].CellAlignment | Qt::AlignVCenter);
  case Qt::BackgroundRole: {
    const TCell& cell = At(c, r);
    return cell.HasColor ? QVariant(QBrush(QColor::fromRgb(cell.Color))) : QVariant();
  }
  default:
    return {};
  }
}

QVariant TGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
    return QAbstractTableModel::headerData(section, orientation, role);
  const TGridColumn& col = m_columns[section];
  switch (role) {
  case Qt::DisplayRole:
    return col.Header;
  case Qt::TextAlignmentRole:
    return QVariant::fromValue(col.HeaderAlignment | Qt::AlignVCenter);
  case TGridRole::Sortable:
    return col.Sortable;
  case TGridRole::ElideMode:
    return int(col.Elide);
  case TGridRole::HintWhenClipped:
    return col.HintWhenClipped;
  case TGridRole::LongestTexts: {
    if (m_filled[std::size_t(section)] == 0) return QStringList(); // every cell empty
    // Lengths in one pass over the cells; only the longest texts are formatted in full.
    std::vector<int> lengths(std::size_t(m_rowCount), -1);
    for (int r = 0; r < m_rowCount; ++r) {
      const TCell& cell = At(section, r);
      if (cell.Empty) continue;
      if (col.Kind == TGridColumnKind::Text && cell.Value.typeId() == QMetaType::QString) {
        lengths[std::size_t(r)] = int(static_cast<const QString*>(cell.Value.constData())->size());
        continue;
      }
      // Grids of this kind hold few numbers and times: formatting them is cheap.
      if (!cell.Value.isNull()) lengths[std::size_t(r)] = int(CellText(section, r).size());
    }
    return CollectLongestTexts(lengths, [&](int r) { return CellText(section, r); });
  }
  default:
    return {};
  }
}

bool TGridModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                               int role) {
  if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size()) return false;
  TGridColumn& col = m_columns[section];
  switch (role) {
  case Qt::DisplayRole:
  case Qt::EditRole:
    col.Header = value.toString();
    break;
  case TGridRole::Sortable:
    col.Sortable = value.toBool();
    break;
  default:
    return false;
  }
  Q_EMIT headerDataChanged(orientation, section, section);
  return true;
}

namespace {
int CompareValues(TGridColumnKind kind, const QVariant& a, const QVariant& b) {
  switch (kind) {
  case TGridColumnKind::Number: {
    const bool ints = a.typeId() != QMetaType::Double && b.typeId() != QMetaType::Double;
    if (ints) {
      const qlonglong x = a.toLongLong(), y = b.toLongLong();
      return x < y ? -1 : (x > y ? 1 : 0);
    }
    const double x = a.toDouble(), y = b.toDouble();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  case TGridColumnKind::Time: {
    const QDateTime x = a.toDateTime(), y = b.toDateTime();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  case TGridColumnKind::Text:
    break;
  }
  return QString::localeAwareCompare(a.toString(), b.toString());
}
} // namespace

void TGridModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= m_columns.size() || !m_columns[column].Sortable) return;
  const TGridColumnKind kind = m_columns[column].Kind;
  QVector<int> order_(m_rowCount);
  for (int i = 0; i < order_.size(); ++i)
    order_[i] = i;
  auto less = [&](int x, int y) {
    const TCell& a = At(column, x);
    const TCell& b = At(column, y);
    const bool ea = a.Empty || a.Value.isNull(), eb = b.Empty || b.Value.isNull();
    if (ea || eb) return ea && !eb;
    return CompareValues(kind, a.Value, b.Value) < 0;
  };
  if (order == Qt::AscendingOrder)
    std::stable_sort(order_.begin(), order_.end(), less);
  else
    std::stable_sort(order_.begin(), order_.end(), [&](int x, int y) { return less(y, x); });

  Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  QVector<int> newPos(order_.size());
  const std::size_t columns = std::size_t(m_columns.size());
  std::vector<TCell> sorted(m_cells.size());
  for (int i = 0; i < order_.size(); ++i) {
    newPos[order_[i]] = i;
    std::move(m_cells.begin() + std::ptrdiff_t(std::size_t(order_[i]) * columns),
              m_cells.begin() + std::ptrdiff_t(std::size_t(order_[i] + 1) * columns),
              sorted.begin() + std::ptrdiff_t(std::size_t(i) * columns));
  }
  m_cells = std::move(sorted);
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex& i : before)
    after.append(index(newPos[i.row()], i.column()));
  changePersistentIndexList(before, after);
  Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
