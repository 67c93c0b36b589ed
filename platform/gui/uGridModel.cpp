#include "platform/gui/uGridModel.h"

#include <QBrush>
#include <QLocale>
#include <algorithm>

TGridModel::TGridModel(QVector<TGridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns)) {}

void TGridModel::ClearRows() {
  if (m_rows.isEmpty()) return;
  beginResetModel();
  m_rows.clear();
  endResetModel();
}

void TGridModel::AddRows(int count) {
  if (count <= 0) return;
  TRow blank(m_columns.size());
  for (int c = 0; c < m_columns.size(); ++c)
    blank[c].Value = m_columns[c].Default;
  const int first = int(m_rows.size());
  beginInsertRows(QModelIndex(), first, first + count - 1);
  m_rows.reserve(first + count);
  for (int i = 0; i < count; ++i)
    m_rows.append(blank);
  endInsertRows();
}

void TGridModel::BeginUpdate() {
  ++m_updateDepth;
}

void TGridModel::EndUpdate() {
  if (m_updateDepth == 0 || --m_updateDepth > 0) return;
  if (m_dirty && !m_rows.isEmpty())
    Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
  m_dirty = false;
}

void TGridModel::CellChanged(int column, int row) {
  if (m_updateDepth > 0) {
    m_dirty = true;
    return;
  }
  const QModelIndex i = index(row, column);
  Q_EMIT dataChanged(i, i);
}

void TGridModel::SetCell(int column, int row, const QVariant& value) {
  m_rows[row][column].Value = value;
  CellChanged(column, row);
}

void TGridModel::SetEmpty(int column, int row, bool empty) {
  TCell& cell = m_rows[row][column];
  if (cell.Empty == empty) return;
  cell.Empty = empty;
  CellChanged(column, row);
}

void TGridModel::SetColor(int column, int row, const QColor& color) {
  TCell& cell = m_rows[row][column];
  const bool has = color.isValid();
  const QRgb rgb = has ? color.rgb() : 0;
  if (cell.HasColor == has && cell.Color == rgb) return;
  cell.HasColor = has;
  cell.Color = rgb;
  CellChanged(column, row);
}

QColor TGridModel::Color(int column, int row) const {
  const TCell& cell = m_rows[row][column];
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
  const TCell& cell = m_rows[row][column];
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
  return parent.isValid() ? 0 : int(m_rows.size());
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
    return m_rows[r][c].Empty ? QVariant() : m_rows[r][c].Value;
  case Qt::TextAlignmentRole:
    return QVariant::fromValue(m_columns[c].CellAlignment | Qt::AlignVCenter);
  case Qt::BackgroundRole: {
    const TCell& cell = m_rows[r][c];
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
          const TCell& cell = m_rows[r][section];
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
  QVector<int> order_(m_rows.size());
  for (int i = 0; i < order_.size(); ++i)
    order_[i] = i;
  auto less = [&](int x, int y) {
    const TCell& a = m_rows[x][column];
    const TCell& b = m_rows[y][column];
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
  QVector<TRow> sorted;
  sorted.reserve(m_rows.size());
  for (int i = 0; i < order_.size(); ++i) {
    newPos[order_[i]] = i;
    sorted.append(std::move(m_rows[order_[i]]));
  }
  m_rows = std::move(sorted);
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex& i : before)
    after.append(index(newPos[i.row()], i.column()));
  changePersistentIndexList(before, after);
  Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
