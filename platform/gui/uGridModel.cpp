#include "platform/gui/uGridModel.h"

#include <QBrush>
#include <QLocale>
#include <algorithm>

TGridModel::TGridModel(QVector<TGridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns)) {}

void TGridModel::ClearRows() {
  if (m_rowCount == 0) return;
  beginResetModel();
  m_cells.clear();
  m_rowCount = 0;
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
  endInsertRows();
}

void TGridModel::BeginUpdate() {
  ++m_updateDepth;
}

void TGridModel::EndUpdate() {
  if (m_updateDepth == 0 || --m_updateDepth > 0) return;
  if (m_dirty.isValid() && m_rowCount > 0)
    Q_EMIT dataChanged(index(m_dirty.top(), m_dirty.left()),
                       index(std::min(m_dirty.bottom(), rowCount() - 1),
                             std::min(m_dirty.right(), columnCount() - 1)));
  m_dirty = QRect();
}

void TGridModel::CellChanged(int column, int row) {
  if (m_updateDepth > 0) {
    // One signal at the end for the rectangle that holds every changed cell.
    if (!m_dirty.isValid())
      m_dirty = QRect(column, row, 1, 1);
    else {
      if (column < m_dirty.left()) m_dirty.setLeft(column);
      if (column > m_dirty.right()) m_dirty.setRight(column);
      if (row < m_dirty.top()) m_dirty.setTop(row);
      if (row > m_dirty.bottom()) m_dirty.setBottom(row);
    }
    return;
  }
  const QModelIndex i = index(row, column);
  Q_EMIT dataChanged(i, i);
}

void TGridModel::SetCell(int column, int row, const QVariant& value) {
  QVariant& stored = At(column, row).Value;
  // Refreshing figures replaces a value by one of the same type: assign in place.
  const int type = value.typeId();
  if (type == stored.typeId() && type == QMetaType::Double)
    *static_cast<double*>(stored.data()) = *static_cast<const double*>(value.constData());
  else if (type == stored.typeId() && type == QMetaType::QDateTime)
    *static_cast<QDateTime*>(stored.data()) = *static_cast<const QDateTime*>(value.constData());
  else
    stored = value;
  CellChanged(column, row);
}

void TGridModel::SetEmpty(int column, int row, bool empty) {
  TCell& cell = At(column, row);
  if (cell.Empty == empty) return;
  cell.Empty = empty;
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
  case TGridRole::LongestTexts:
    return CollectLongestTexts(
        rowCount(),
        [&](int r) {
          const TCell& cell = At(section, r);
          if (cell.Empty || cell.Value.isNull()) return -1;
          // Grids of this kind are small or hold short texts: measuring the text is cheap.
          return int(CellText(section, r).size());
        },
        [&](int r) { return CellText(section, r); });
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
