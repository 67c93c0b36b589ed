#include "platform/uMemTable.h"

#include "platform/uGridRoles.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>

TMemTable::TMemTable(QObject* parent) : QAbstractTableModel(parent) {}

void TMemTable::SetData(QVector<TMemColumn> columns, QVector<QVector<QVariant>> rows) {
  QVector<QVariant> cells;
  cells.reserve(rows.size() * columns.size());
  for (auto& row : rows) {
    row.resize(columns.size());
    for (auto& value : row)
      cells.append(std::move(value));
  }
  rows.clear();
  SetCells(std::move(columns), std::move(cells));
}

void TMemTable::SetCells(QVector<TMemColumn> columns, QVector<QVariant> cells) {
  beginResetModel();
  m_columns = std::move(columns);
  m_cells = std::move(cells);
  m_rowCount = m_columns.isEmpty() ? 0 : int(m_cells.size() / m_columns.size());
  m_cells.resize(qsizetype(m_rowCount) * m_columns.size());
  m_views = QVector<TColumnView>(m_columns.size());
  endResetModel();
}

namespace {
QVariant ConvertToKind(const QVariant& value, TFieldKind kind) {
  if (value.isNull()) return value;
  switch (kind) {
  case TFieldKind::Integer:
    return value.typeId() == QMetaType::Int ? value : QVariant(qint32(value.toLongLong()));
  case TFieldKind::Int64:
    return value.typeId() == QMetaType::LongLong ? value : QVariant(qint64(value.toLongLong()));
  case TFieldKind::Float:
    return value.typeId() == QMetaType::Double ? value : QVariant(value.toDouble());
  case TFieldKind::DateTime:
    return value.typeId() == QMetaType::QDateTime ? value : QVariant(value.toDateTime());
  case TFieldKind::Text:
  case TFieldKind::UnicodeText:
  case TFieldKind::Decimal:
    return value.typeId() == QMetaType::QString ? value : QVariant(value.toString());
  case TFieldKind::Unknown:
    break;
  }
  return value;
}
} // namespace

void TMemTable::AppendRowsFrom(TMemTable&& source) {
  if (source.m_rowCount == 0) return;
  const int first = m_rowCount;
  const int count = source.m_rowCount;
  const qsizetype columns = m_columns.size();
  bool same = source.m_columns.size() == columns;
  for (int c = 0; same && c < columns; ++c)
    same = source.m_columns[c].Name == m_columns[c].Name &&
           source.m_columns[c].Kind == m_columns[c].Kind;
  beginInsertRows(QModelIndex(), first, first + count - 1);
  if (same && m_rowCount == 0) {
    m_cells = std::move(source.m_cells);
  } else if (same) {
    m_cells.reserve(qsizetype(first + count) * columns);
    for (auto& value : source.m_cells)
      m_cells.append(std::move(value));
  } else {
    QVector<int> from(columns);
    for (int c = 0; c < columns; ++c)
      from[c] = source.FieldIndex(m_columns[c].Name);
    m_cells.resize(qsizetype(first + count) * columns);
    for (int r = 0; r < count; ++r)
      for (int c = 0; c < columns; ++c)
        if (from[c] >= 0)
          m_cells[qsizetype(first + r) * columns + c] =
              ConvertToKind(source.Cell(r, from[c]), m_columns[c].Kind);
  }
  m_rowCount = first + count;
  source.m_cells.clear();
  source.m_rowCount = 0;
  endInsertRows();
}

void TMemTable::SetColumnDisplay(int column, TColumnDisplay display) {
  m_views[column].Display = display;
  if (m_rowCount > 0)
    Q_EMIT dataChanged(index(0, column), index(rowCount() - 1, column), {Qt::DisplayRole});
}

TColumnDisplay TMemTable::ColumnDisplay(int column) const {
  return m_views[column].Display;
}

void TMemTable::SetColumnAlignment(int column, Qt::Alignment alignment) {
  m_views[column].Alignment = alignment;
  m_views[column].HasAlignment = true;
  Q_EMIT headerDataChanged(Qt::Horizontal, column, column);
  if (m_rowCount > 0)
    Q_EMIT dataChanged(index(0, column), index(rowCount() - 1, column), {Qt::TextAlignmentRole});
}

Qt::Alignment TMemTable::ColumnAlignment(int column) const {
  if (m_views[column].HasAlignment) return m_views[column].Alignment;
  return IsNumericKind(m_columns[column].Kind) ? Qt::AlignRight : Qt::AlignLeft;
}

void TMemTable::Clear() {
  if (m_rowCount == 0) return;
  beginResetModel();
  m_cells = QVector<QVariant>(); // clear() would keep the allocation of a big table
  m_rowCount = 0;
  endResetModel();
}

int TMemTable::FieldIndex(const QString& name) const {
  for (int i = 0; i < m_columns.size(); ++i)
    if (m_columns[i].Name.compare(name, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

int TMemTable::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_rowCount;
}

int TMemTable::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(m_columns.size());
}

bool IsNumericKind(TFieldKind kind) {
  switch (kind) {
  case TFieldKind::Integer:
  case TFieldKind::Int64:
  case TFieldKind::Float:
  case TFieldKind::Decimal:
    return true;
  default:
    return false;
  }
}

QString TMemTable::DisplayText(int row, int column) const {
  const QVariant& v = Cell(row, column);
  if (v.isNull()) return {};
  if (v.typeId() == QMetaType::QDateTime)
    return QLocale().toString(v.toDateTime(), QLocale::ShortFormat);
  if (v.typeId() == QMetaType::Double) return QLocale().toString(v.toDouble(), 'g', 15);
  if (m_columns[column].Kind == TFieldKind::Decimal &&
      m_views[column].Display == TColumnDisplay::Default) {
    bool ok = false;
    const double d = v.toString().toDouble(&ok);
    if (ok) return QLocale().toString(d, 'g', 15);
  }
  return v.toString();
}

namespace {
int DigitCount(qint64 value) {
  int n = value < 0 ? 2 : 1;
  quint64 u = value < 0 ? 0 - quint64(value) : quint64(value);
  while (u >= 10) {
    u /= 10;
    ++n;
  }
  return n;
}
} // namespace

// The length of a cell's text without formatting it where that is cheap.
int TMemTable::DisplayLength(int row, int column) const {
  // Called for every cell of a big table when it is fitted: no conversions through QMetaType.
  const QVariant& v = Cell(row, column);
  switch (v.typeId()) {
  case QMetaType::UnknownType:
    return -1; // NULL
  case QMetaType::Int:
    return DigitCount(*static_cast<const qint32*>(v.constData()));
  case QMetaType::LongLong:
    return DigitCount(*static_cast<const qint64*>(v.constData()));
  case QMetaType::QString:
    if (m_columns[column].Kind != TFieldKind::Decimal ||
        m_views[column].Display == TColumnDisplay::ExactText)
      return int(static_cast<const QString*>(v.constData())->size());
    break;
  default:
    break;
  }
  return int(DisplayText(row, column).size());
}

// The widest texts of a column. An integer column's widest text is its smallest or its largest
// value (digits are equally wide); other columns go by the length of their texts.
QStringList TMemTable::LongestTexts(int column) const {
  const TFieldKind kind = m_columns[column].Kind;
  if (kind == TFieldKind::Integer || kind == TFieldKind::Int64) {
    bool any = false, exact = true;
    qint64 low = 0, high = 0;
    for (int r = 0; r < m_rowCount && exact; ++r) {
      const QVariant& v = Cell(r, column);
      qint64 x = 0;
      switch (v.typeId()) {
      case QMetaType::UnknownType:
        continue;
      case QMetaType::Int:
        x = *static_cast<const qint32*>(v.constData());
        break;
      case QMetaType::LongLong:
        x = *static_cast<const qint64*>(v.constData());
        break;
      default:
        exact = false; // not what the kind promises: measure texts below
        continue;
      }
      low = any ? std::min(low, x) : x;
      high = any ? std::max(high, x) : x;
      any = true;
    }
    if (exact) {
      if (!any) return {};
      return low == high ? QStringList{QString::number(low)}
                         : QStringList{QString::number(low), QString::number(high)};
    }
  }
  return CollectLongestTexts(
      m_rowCount, [&](int r) { return DisplayLength(r, column); },
      [&](int r) { return DisplayText(r, column); });
}

QVariant TMemTable::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= m_rowCount || index.column() >= m_columns.size())
    return {};
  switch (role) {
  case Qt::DisplayRole: {
    const QString text = DisplayText(index.row(), index.column());
    return text.isNull() ? QVariant() : QVariant(text);
  }
  case Qt::EditRole:
    return Cell(index.row(), index.column());
  case Qt::TextAlignmentRole:
    return QVariant::fromValue(ColumnAlignment(index.column()) | Qt::AlignVCenter);
  default:
    return {};
  }
}

QVariant TMemTable::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
    return QAbstractTableModel::headerData(section, orientation, role);
  switch (role) {
  case Qt::DisplayRole:
    return m_columns[section].Name;
  case Qt::TextAlignmentRole:
    return QVariant::fromValue(ColumnAlignment(section) | Qt::AlignVCenter);
  case TGridRole::Sortable:
    return m_views[section].Sortable;
  case TGridRole::LongestTexts:
    return LongestTexts(section);
  default:
    return QAbstractTableModel::headerData(section, orientation, role);
  }
}

bool TMemTable::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                              int role) {
  if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size() ||
      role != TGridRole::Sortable)
    return false;
  m_views[section].Sortable = value.toBool();
  Q_EMIT headerDataChanged(orientation, section, section);
  return true;
}

namespace {
bool LessValue(const QVariant& a, const QVariant& b) {
  if (a.isNull() || b.isNull()) return a.isNull() && !b.isNull();
  return QVariant::compare(a, b) == QPartialOrdering::Less;
}
} // namespace

void TMemTable::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= m_columns.size() || !m_views[column].Sortable) return;
  Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  QVector<int> perm(m_rowCount);
  for (int i = 0; i < perm.size(); ++i)
    perm[i] = i;
  auto less = [&](int x, int y) { return LessValue(Cell(x, column), Cell(y, column)); };
  if (order == Qt::AscendingOrder)
    std::stable_sort(perm.begin(), perm.end(), less);
  else
    std::stable_sort(perm.begin(), perm.end(), [&](int x, int y) { return less(y, x); });
  QVector<int> newPos(perm.size());
  const qsizetype columns = m_columns.size();
  QVector<QVariant> sorted;
  sorted.reserve(m_cells.size());
  for (int i = 0; i < perm.size(); ++i) {
    newPos[perm[i]] = i;
    for (qsizetype c = 0; c < columns; ++c)
      sorted.append(std::move(m_cells[qsizetype(perm[i]) * columns + c]));
  }
  m_cells = std::move(sorted);
  const QModelIndexList before = persistentIndexList();
  QModelIndexList after;
  for (const QModelIndex& i : before)
    after.append(index(newPos[i.row()], i.column()));
  changePersistentIndexList(before, after);
  Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
