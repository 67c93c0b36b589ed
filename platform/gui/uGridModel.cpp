#include "platform/gui/uGridModel.h"

#include <QBrush>
#include <QCollator>
#include <QLocale>
#include <algorithm>

TGridModel::TGridModel(QVector<TGridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns)),
      m_cells(std::size_t(m_columns.size())) {}

void TGridModel::ClearRows() {
  if (m_rowCount == 0) return;
  beginResetModel();
  for (TColumnCells& c : m_cells)
    c = TColumnCells();
  m_rowCount = 0;
  endResetModel();
}

void TGridModel::ResizeRows(int count) {
  const std::size_t n = std::size_t(count);
  for (TColumnCells& c : m_cells) {
    for (std::size_t r = n; r < c.Flags.size(); ++r) // rows that go
      c.Filled -= (c.Flags[r] & EmptyFlag) ? 0 : 1;
    if (n > c.Flags.size()) c.Filled += int(n - c.Flags.size());
    c.Type.resize(n, Null);
    c.Flags.resize(n, 0);
    c.Colors.resize(n, 0);
    // Vectors of values keep their size until a value of their type is stored (see Slot).
    if (c.Ints.size() > n) c.Ints.resize(n);
    if (c.Reals.size() > n) c.Reals.resize(n);
    if (c.Times.size() > n) c.Times.resize(n);
    if (c.Texts.size() > n) c.Texts.resize(n);
    if (c.Others.size() > n) c.Others.resize(n);
    if (c.Hints.size() > n) c.Hints.resize(n);
    if (c.Decorations.size() > n) c.Decorations.resize(n);
  }
}

void TGridModel::AddRows(int count) {
  if (count <= 0) return;
  const int first = m_rowCount;
  beginInsertRows(QModelIndex(), first, first + count - 1);
  ResizeRows(first + count);
  m_rowCount = first + count;
  for (int c = 0; c < m_columns.size(); ++c)
    if (!m_columns[c].Default.isNull())
      for (int r = first; r < m_rowCount; ++r)
        Store(c, r, m_columns[c].Default);
  endInsertRows();
}

void TGridModel::SetRowCount(int count) {
  count = std::max(count, 0);
  beginResetModel();
  const int first = std::min(m_rowCount, count);
  ResizeRows(count);
  m_rowCount = count;
  for (int c = 0; c < m_columns.size(); ++c)
    if (!m_columns[c].Default.isNull())
      for (int r = first; r < count; ++r)
        Store(c, r, m_columns[c].Default);
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

void TGridModel::ChangeType(TColumnCells& c, int row, TType type) {
  std::uint8_t& held = c.Type[std::size_t(row)];
  if (held == String) c.Flags[std::size_t(row)] &= std::uint8_t(~SortKeyFlag);
  if (held == String) c.Texts[std::size_t(row)] = QString();
  if (held == Other) c.Others[std::size_t(row)] = QVariant();
  held = type;
}

void TGridModel::Store(int column, int row, const QVariant& value) {
  TColumnCells& c = m_cells[std::size_t(column)];
  switch (value.typeId()) {
  case QMetaType::UnknownType:
    Retype(c, row, Null);
    return;
  case QMetaType::Int:
    Retype(c, row, Int32);
    Slot(c.Ints, row) = value.toInt();
    return;
  case QMetaType::LongLong:
    Retype(c, row, Int64);
    Slot(c.Ints, row) = value.toLongLong();
    return;
  case QMetaType::Double:
    Retype(c, row, Double);
    Slot(c.Reals, row) = value.toDouble();
    return;
  case QMetaType::QDateTime:
    Retype(c, row, DateTime);
    Slot(c.Times, row) = value.toDateTime();
    return;
  case QMetaType::QString:
    Retype(c, row, String);
    c.Flags[std::size_t(row)] &= std::uint8_t(~SortKeyFlag);
    Slot(c.Texts, row) = *static_cast<const QString*>(value.constData());
    return;
  default:
    Retype(c, row, Other);
    Slot(c.Others, row) = value;
    return;
  }
}

QVariant TGridModel::Cell(int column, int row) const {
  const TColumnCells& c = m_cells[std::size_t(column)];
  const std::size_t r = std::size_t(row);
  switch (c.Type[r]) {
  case Int32:
    return QVariant(int(c.Ints[r]));
  case Int64:
    return QVariant(qlonglong(c.Ints[r]));
  case Double:
    return QVariant(c.Reals[r]);
  case DateTime:
    return QVariant(c.Times[r]);
  case String:
    return QVariant(c.Texts[r]);
  case Other:
    return c.Others[r];
  default:
    return {};
  }
}

void TGridModel::SetCell(int column, int row, const QVariant& value) {
  Store(column, row, value);
  CellChanged(column, row);
}

void TGridModel::SetCell(int column, int row, QVariant&& value) {
  if (value.typeId() == QMetaType::QString) {
    SetText(column, row, std::move(*static_cast<QString*>(value.data())));
    return;
  }
  Store(column, row, value);
  CellChanged(column, row);
}

void TGridModel::SetText(int column, int row, QString value) {
  TColumnCells& c = m_cells[std::size_t(column)];
  Retype(c, row, String);
  c.Flags[std::size_t(row)] &= std::uint8_t(~SortKeyFlag);
  Slot(c.Texts, row) = std::move(value);
  CellChanged(column, row);
}

void TGridModel::SetColor(int column, int row, const QColor& color) {
  TColumnCells& c = m_cells[std::size_t(column)];
  std::uint8_t& flags = c.Flags[std::size_t(row)];
  const bool has = color.isValid();
  const QRgb rgb = has ? color.rgb() : 0;
  if (bool(flags & ColorFlag) == has && c.Colors[std::size_t(row)] == rgb) return;
  flags = has ? std::uint8_t(flags | ColorFlag) : std::uint8_t(flags & ~ColorFlag);
  c.Colors[std::size_t(row)] = rgb;
  CellChanged(column, row);
}

QColor TGridModel::Color(int column, int row) const {
  const TColumnCells& c = m_cells[std::size_t(column)];
  return (c.Flags[std::size_t(row)] & ColorFlag) ? QColor::fromRgb(c.Colors[std::size_t(row)])
                                                 : QColor();
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

namespace {
// The long time format with its zone fields (unquoted 't') and the blanks before them removed.
QString LongTimeFormatWithoutZone(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString out;
  bool quoted = false;
  for (const QChar ch : format) {
    if (ch == u'\'') quoted = !quoted;
    if (!quoted && ch == u't') {
      while (!out.isEmpty() && out.back().isSpace())
        out.chop(1);
      continue;
    }
    out += ch;
  }
  return out.trimmed();
}
} // namespace

QString FormatLongTime(const QTime& time) {
  // Formatting runs once per time cell drawn: the format is derived once per locale.
  thread_local QLocale cachedLocale = QLocale::c();
  thread_local QString cachedFormat = LongTimeFormatWithoutZone(cachedLocale);
  const QLocale locale;
  if (!(locale == cachedLocale)) {
    cachedLocale = locale;
    cachedFormat = LongTimeFormatWithoutZone(locale);
  }
  return locale.toString(time, cachedFormat);
}

QString TGridModel::CellText(int column, int row) const {
  const TColumnCells& c = m_cells[std::size_t(column)];
  const std::size_t r = std::size_t(row);
  if ((c.Flags[r] & EmptyFlag) || c.Type[r] == Null) return {};
  switch (m_columns[column].Kind) {
  case TGridColumnKind::Number:
    // A text in a number column ("n/a") shows as it is.
    if (c.Type[r] == String) return c.Texts[r];
    return FormatGridNumber(Cell(column, row));
  case TGridColumnKind::Time: {
    if (c.Type[r] == DateTime) return FormatLongTime(c.Times[r].time());
    const QVariant v = Cell(column, row);
    const QTime time = v.typeId() == QMetaType::QTime ? v.toTime() : v.toDateTime().time();
    return FormatLongTime(time);
  }
  case TGridColumnKind::Text:
    break;
  }
  if (c.Type[r] == String) return c.Texts[r];
  return Cell(column, row).toString();
}

int TGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_rowCount;
}

int TGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(m_columns.size());
}

void TGridModel::SetHint(int column, int row, const QString& hint) {
  TColumnCells& c = m_cells[std::size_t(column)];
  if (hint.isEmpty() && std::size_t(row) >= c.Hints.size()) return;
  Slot(c.Hints, row) = hint;
  CellChanged(column, row);
}

QString TGridModel::Hint(int column, int row) const {
  const std::vector<QString>& h = m_cells[std::size_t(column)].Hints;
  return std::size_t(row) < h.size() ? h[std::size_t(row)] : QString();
}

void TGridModel::SetDecoration(int column, int row, const QVariant& decoration) {
  TColumnCells& c = m_cells[std::size_t(column)];
  if (decoration.isNull() && std::size_t(row) >= c.Decorations.size()) return;
  Slot(c.Decorations, row) = decoration;
  CellChanged(column, row);
}

QVariant TGridModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
    return {};
  const int c = index.column();
  const int r = index.row();
  switch (role) {
  case Qt::DecorationRole: {
    const std::vector<QVariant>& d = m_cells[std::size_t(c)].Decorations;
    return std::size_t(r) < d.size() ? d[std::size_t(r)] : QVariant();
  }
  case Qt::DisplayRole:
  case Qt::ToolTipRole: {
    if (role == Qt::ToolTipRole) {
      const QString hint = Hint(c, r);
      if (!hint.isEmpty()) return hint;
    }
    if (role == Qt::ToolTipRole && !m_columns[c].HintWhenClipped) return {};
    const QString text = CellText(c, r);
    return text.isEmpty() ? QVariant() : QVariant(text);
  }
  case Qt::EditRole:
    return IsEmpty(c, r) ? QVariant() : Cell(c, r);
  case Qt::TextAlignmentRole:
    return QVariant::fromValue(m_columns[c].CellAlignment | Qt::AlignVCenter);
  case Qt::BackgroundRole: {
    const QColor color = Color(c, r);
    return color.isValid() ? QVariant(QBrush(color)) : QVariant();
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
    const TColumnCells& c = m_cells[std::size_t(section)];
    if (c.Filled == 0) return QStringList(); // every cell empty
    // Lengths in one pass over the cells; only the longest texts are formatted in full.
    std::vector<int> lengths(std::size_t(m_rowCount), -1);
    for (std::size_t r = 0; r < std::size_t(m_rowCount); ++r) {
      if ((c.Flags[r] & EmptyFlag) || c.Type[r] == Null) continue;
      // Grids of this kind hold few numbers and times: formatting them is cheap.
      lengths[r] = col.Kind == TGridColumnKind::Text && c.Type[r] == String
                       ? int(c.Texts[r].size())
                       : int(CellText(section, int(r)).size());
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
int CompareValues(TGridColumnKind kind, const QVariant& a, const QVariant& b,
                  const QCollator& collator) {
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
  return collator.compare(a.toString(), b.toString());
}

// Case-insensitive and accent-sensitive, as SQL Server's default collations compare names
// (master, Orders and Zürich Büro in dictionary order whatever their case).
QCollator NameCollator() {
  QCollator collator(QLocale(QLocale::English, QLocale::UnitedStates));
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  collator.setNumericMode(false);
  return collator;
}
} // namespace

namespace {
// Values vectors may be shorter than the rows (see Slot): they are filled up first.
template <typename T> void Gather(std::vector<T>& values, const std::vector<int>& order) {
  if (values.empty()) return;
  values.resize(order.size());
  std::vector<T> sorted;
  sorted.reserve(values.size());
  for (const int r : order)
    sorted.push_back(std::move(values[std::size_t(r)]));
  values = std::move(sorted);
}
} // namespace

void TGridModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= m_columns.size() || !m_columns[column].Sortable) return;
  const TGridColumnKind kind = m_columns[column].Kind;
  const QCollator collator = NameCollator();
  const TColumnCells& cells = m_cells[std::size_t(column)];
  std::vector<QVariant> values(static_cast<std::size_t>(m_rowCount)); // null: empty
  for (int r = 0; r < m_rowCount; ++r)
    if (!IsEmpty(column, r)) values[std::size_t(r)] = Cell(column, r);
  auto keyOf = [&](int r) -> const qint64* {
    const std::size_t i = std::size_t(r);
    return (cells.Flags[i] & SortKeyFlag) ? &cells.Ints[i] : nullptr;
  };
  std::vector<int> order_(static_cast<std::size_t>(m_rowCount));
  for (std::size_t i = 0; i < order_.size(); ++i)
    order_[i] = int(i);
  auto less = [&](int x, int y) {
    const QVariant& a = values[std::size_t(x)];
    const QVariant& b = values[std::size_t(y)];
    const bool ea = a.isNull(), eb = b.isNull();
    if (ea || eb) return ea && !eb;
    const qint64* ka = keyOf(x);
    const qint64* kb = keyOf(y);
    if (ka && kb) return *ka < *kb;
    if (ka || kb) return ka != nullptr;
    return CompareValues(kind, a, b, collator) < 0;
  };
  if (order == Qt::AscendingOrder)
    std::stable_sort(order_.begin(), order_.end(), less);
  else
    std::stable_sort(order_.begin(), order_.end(), [&](int x, int y) { return less(y, x); });

  Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<int> newPos(order_.size());
  for (std::size_t i = 0; i < order_.size(); ++i)
    newPos[std::size_t(order_[i])] = int(i);
  for (TColumnCells& c : m_cells) {
    Gather(c.Type, order_);
    Gather(c.Flags, order_);
    Gather(c.Colors, order_);
    Gather(c.Ints, order_);
    Gather(c.Reals, order_);
    Gather(c.Times, order_);
    Gather(c.Texts, order_);
    Gather(c.Others, order_);
    Gather(c.Hints, order_);
    Gather(c.Decorations, order_);
  }
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex& i : before)
    after.append(index(newPos[std::size_t(i.row())], i.column()));
  changePersistentIndexList(before, after);
  Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
