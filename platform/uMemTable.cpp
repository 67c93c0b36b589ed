#include "platform/uMemTable.h"

#include "platform/uGridRoles.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>

TMemTable::TMemTable(QObject* parent) : QAbstractTableModel(parent) {}

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

// Appends `value`, already of the column's kind.
void AppendValue(TColumnData& c, const QVariant& value) {
  if (value.isNull()) {
    c.AppendNull();
    return;
  }
  switch (c.Kind) {
  case TFieldKind::Integer:
    c.Int32.push_back(value.toInt());
    break;
  case TFieldKind::Int64:
    c.Int64.push_back(value.toLongLong());
    break;
  case TFieldKind::Float:
    c.Float.push_back(value.toDouble());
    break;
  case TFieldKind::DateTime: {
    const QDateTime dt = value.toDateTime();
    if (!dt.isValid()) {
      c.AppendNull();
      return;
    }
    c.Int64.push_back(dt.date().toJulianDay());
    c.Int32.push_back(dt.time().msecsSinceStartOfDay());
    break;
  }
  default:
    c.AppendText(value.toString());
    return;
  }
  c.MarkValue();
}

QVariant ValueAt(const TColumnData& c, std::size_t row) {
  if (c.IsNullAt(row)) return {};
  switch (c.Kind) {
  case TFieldKind::Integer:
    return QVariant(qint32(c.Int32[row]));
  case TFieldKind::Int64:
    return QVariant(qint64(c.Int64[row]));
  case TFieldKind::Float:
    return QVariant(c.Float[row]);
  case TFieldKind::DateTime:
    return QVariant(c.DateTime(row));
  default:
    return QVariant(c.Text(row));
  }
}

void AppendNulls(TColumnData& c, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    c.AppendNull();
}
} // namespace

void TMemTable::SetData(QVector<TMemColumn> columns, QVector<QVector<QVariant>> rows) {
  std::vector<TColumnData> data(std::size_t(columns.size()));
  for (qsizetype c = 0; c < columns.size(); ++c) {
    data[std::size_t(c)].Name = columns[c].Name;
    data[std::size_t(c)].Kind = columns[c].Kind;
  }
  for (const auto& row : rows)
    for (qsizetype c = 0; c < columns.size(); ++c)
      AppendValue(data[std::size_t(c)],
                  c < row.size() ? ConvertToKind(row[c], columns[c].Kind) : QVariant());
  beginResetModel();
  m_data = TColumnSet(std::move(data));
  m_rowCount = m_data.empty() ? 0 : int(m_data.front().Count);
  ResetColumns();
  endResetModel();
}

void TMemTable::SetColumnData(const std::vector<TColumnData>& columns) {
  beginResetModel();
  // Assigning vector to vector keeps the memory of earlier rows where it is large enough.
  std::vector<TColumnData>& data = m_data.Detach();
  data.resize(columns.size());
  for (std::size_t c = 0; c < columns.size(); ++c)
    data[c] = columns[c];
  m_rowCount = m_data.empty() ? 0 : int(m_data.front().Count);
  ResetColumns();
  endResetModel();
}

void TMemTable::SetColumnData(const TColumnSet& columns) {
  beginResetModel();
  m_data = columns;
  m_rowCount = m_data.empty() ? 0 : int(m_data.front().Count);
  ResetColumns();
  endResetModel();
}

void TMemTable::ResetColumns() {
  m_columns.clear();
  m_columns.reserve(qsizetype(m_data.size()));
  for (const TColumnData& c : m_data)
    m_columns.push_back({c.Name, c.Kind});
  m_views = QVector<TColumnView>(m_columns.size());
}

void TMemTable::AppendColumnData(const TColumnSet& source) {
  const std::size_t count = source.empty() ? 0 : source.front().Count;
  if (count == 0) return;
  const int first = m_rowCount;
  bool same = source.size() == m_data.size();
  for (std::size_t c = 0; same && c < m_data.size(); ++c)
    same = source[c].Name == m_data[c].Name && source[c].Kind == m_data[c].Kind;
  beginInsertRows(QModelIndex(), first, first + int(count) - 1);
  if (same && m_rowCount == 0) {
    m_data = source; // shared, not copied
  } else if (same) {
    std::vector<TColumnData>& data = m_data.Detach();
    for (std::size_t c = 0; c < data.size(); ++c)
      data[c].AppendValues(source[c]);
  } else {
    std::vector<TColumnData>& data = m_data.Detach();
    for (std::size_t c = 0; c < data.size(); ++c) {
      TColumnData& to = data[c];
      const TColumnData* from = nullptr;
      for (const TColumnData& s : source)
        if (s.Name.compare(to.Name, Qt::CaseInsensitive) == 0) {
          from = &s;
          break;
        }
      if (!from)
        AppendNulls(to, count);
      else if (from->Kind == to.Kind)
        to.AppendValues(*from);
      else
        for (std::size_t r = 0; r < count; ++r)
          AppendValue(to, ConvertToKind(ValueAt(*from, r), to.Kind));
    }
  }
  m_rowCount = first + int(count);
  endInsertRows();
}

void TMemTable::AppendRowsFrom(TMemTable&& source) {
  AppendColumnData(source.m_data);
  source.m_data = TColumnSet();
  source.m_rowCount = 0;
}

QVariant TMemTable::Cell(int row, int column) const {
  return ValueAt(m_data[std::size_t(column)], std::size_t(row));
}

std::int64_t TMemTable::IntegerAt(int row, int column) const {
  const TColumnData& c = m_data[std::size_t(column)];
  const std::size_t r = std::size_t(row);
  if (c.IsNullAt(r)) return 0;
  switch (c.Kind) {
  case TFieldKind::Integer:
    return c.Int32[r];
  case TFieldKind::Int64:
    return c.Int64[r];
  default:
    return Cell(row, column).toLongLong();
  }
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
  if (m_data.use_count() > 1) {
    // Rows shared with a result are dropped, not copied in order to be emptied.
    std::vector<TColumnData> empty(m_data.size());
    for (std::size_t c = 0; c < empty.size(); ++c) {
      empty[c].Name = m_data[c].Name;
      empty[c].Kind = m_data[c].Kind;
    }
    m_data = TColumnSet(std::move(empty));
  } else {
    for (TColumnData& c : m_data.Detach())
      c.ClearValues();
  }
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
  const TColumnData& c = m_data[std::size_t(column)];
  const std::size_t r = std::size_t(row);
  if (c.IsNullAt(r)) return {};
  switch (c.Kind) {
  case TFieldKind::Integer:
    return QString::number(c.Int32[r]);
  case TFieldKind::Int64:
    return QString::number(c.Int64[r]);
  case TFieldKind::Float:
    return QLocale().toString(c.Float[r], 'g', 15);
  case TFieldKind::DateTime:
    return QLocale().toString(c.DateTime(r), QLocale::ShortFormat);
  case TFieldKind::Decimal:
    if (m_views[column].Display == TColumnDisplay::Default) {
      bool ok = false;
      const double d = c.Text(r).toDouble(&ok);
      if (ok) return QLocale().toString(d, 'g', 15);
    }
    return c.Text(r);
  default:
    return c.Text(r);
  }
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

// The length of a cell's text without formatting it where that is cheap; -1 for NULL.
int TMemTable::DisplayLength(int row, int column) const {
  const TColumnData& c = m_data[std::size_t(column)];
  const std::size_t r = std::size_t(row);
  if (c.IsNullAt(r)) return -1;
  switch (c.Kind) {
  case TFieldKind::Integer:
    return DigitCount(c.Int32[r]);
  case TFieldKind::Int64:
    return DigitCount(c.Int64[r]);
  case TFieldKind::Text:
  case TFieldKind::UnicodeText:
  case TFieldKind::Unknown:
    return int(c.TextLength(r));
  case TFieldKind::Decimal:
    if (m_views[column].Display == TColumnDisplay::ExactText) return int(c.TextLength(r));
    break;
  default:
    break;
  }
  return int(DisplayText(row, column).size());
}

// The widest texts of a column. An integer column's widest text is its smallest or its largest
// value (digits are equally wide); other columns go by the length of their texts.
QStringList TMemTable::LongestTexts(int column) const {
  const TColumnData& c = m_data[std::size_t(column)];
  if (c.Kind == TFieldKind::Integer || c.Kind == TFieldKind::Int64) {
    bool any = false;
    qint64 low = 0, high = 0;
    for (std::size_t r = 0; r < std::size_t(m_rowCount); ++r) {
      if (c.IsNullAt(r)) continue;
      const qint64 x = c.Kind == TFieldKind::Integer ? c.Int32[r] : c.Int64[r];
      low = any ? std::min(low, x) : x;
      high = any ? std::max(high, x) : x;
      any = true;
    }
    if (!any) return {};
    return low == high ? QStringList{QString::number(low)}
                       : QStringList{QString::number(low), QString::number(high)};
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
// Exact digits compared by value: sign, then the integer digits, then the fraction.
int CompareDecimalText(QStringView a, QStringView b) {
  struct TParts {
    bool Negative = false;
    QStringView Whole, Fraction;
  };
  auto split = [](QStringView t) {
    TParts p;
    t = t.trimmed();
    if (t.startsWith(u'-') || t.startsWith(u'+')) {
      p.Negative = t.front() == u'-';
      t = t.mid(1);
    }
    const qsizetype point = t.indexOf(u'.');
    p.Whole = point < 0 ? t : t.left(point);
    p.Fraction = point < 0 ? QStringView() : t.mid(point + 1);
    while (!p.Whole.isEmpty() && p.Whole.front() == u'0')
      p.Whole = p.Whole.mid(1);
    while (!p.Fraction.isEmpty() && p.Fraction.back() == u'0')
      p.Fraction.chop(1);
    if (p.Whole.isEmpty() && p.Fraction.isEmpty()) p.Negative = false; // -0 is 0
    return p;
  };
  const TParts x = split(a), y = split(b);
  if (x.Negative != y.Negative) return x.Negative ? -1 : 1;
  int magnitude = 0;
  if (x.Whole.size() != y.Whole.size())
    magnitude = x.Whole.size() < y.Whole.size() ? -1 : 1;
  else if (const int w = x.Whole.compare(y.Whole))
    magnitude = w < 0 ? -1 : 1;
  else if (const int f = x.Fraction.compare(y.Fraction))
    magnitude = f < 0 ? -1 : 1;
  return x.Negative ? -magnitude : magnitude;
}
} // namespace

void TMemTable::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= m_columns.size() || !m_views[column].Sortable) return;
  Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<int> perm(static_cast<std::size_t>(m_rowCount));
  for (std::size_t i = 0; i < perm.size(); ++i)
    perm[i] = int(i);
  const TColumnData& c = m_data[std::size_t(column)];
  // NULL first, then by value: numbers and times as such, texts by their characters.
  auto less = [&c](int x, int y) {
    const std::size_t a = std::size_t(x), b = std::size_t(y);
    const bool nullA = c.IsNullAt(a), nullB = c.IsNullAt(b);
    if (nullA || nullB) return nullA && !nullB;
    switch (c.Kind) {
    case TFieldKind::Integer:
      return c.Int32[a] < c.Int32[b];
    case TFieldKind::Int64:
      return c.Int64[a] < c.Int64[b];
    case TFieldKind::Float:
      return c.Float[a] < c.Float[b];
    case TFieldKind::DateTime:
      return c.Int64[a] != c.Int64[b] ? c.Int64[a] < c.Int64[b] : c.Int32[a] < c.Int32[b];
    case TFieldKind::Decimal:
      return CompareDecimalText(c.Text(a), c.Text(b)) < 0;
    default:
      return c.Text(a) < c.Text(b);
    }
  };
  if (order == Qt::AscendingOrder)
    std::stable_sort(perm.begin(), perm.end(), less);
  else
    std::stable_sort(perm.begin(), perm.end(), [&](int x, int y) { return less(y, x); });
  std::vector<int> newPos(perm.size());
  for (std::size_t i = 0; i < perm.size(); ++i)
    newPos[std::size_t(perm[i])] = int(i);
  for (TColumnData& data : m_data.Detach())
    data.Reorder(perm);
  const QModelIndexList before = persistentIndexList();
  QModelIndexList after;
  for (const QModelIndex& i : before)
    after.append(index(newPos[std::size_t(i.row())], i.column()));
  changePersistentIndexList(before, after);
  Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
