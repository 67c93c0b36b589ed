#include "platform/uMemTable.h"

#include <QDateTime>
#include <QLocale>

TMemTable::TMemTable(QObject* parent) : QAbstractTableModel(parent) {}

void TMemTable::SetData(QVector<TMemColumn> columns, QVector<QVector<QVariant>> rows) {
  beginResetModel();
  m_columns = std::move(columns);
  m_rows = std::move(rows);
  endResetModel();
}

void TMemTable::Clear() {
  if (m_rows.isEmpty()) return;
  beginResetModel();
  m_rows.clear();
  endResetModel();
}

int TMemTable::FieldIndex(const QString& name) const {
  for (int i = 0; i < m_columns.size(); ++i)
    if (m_columns[i].Name.compare(name, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

int TMemTable::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(m_rows.size());
}

int TMemTable::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(m_columns.size());
}

static bool IsNumeric(TFieldKind kind) {
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

QVariant TMemTable::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= m_rows.size() || index.column() >= m_columns.size())
    return {};
  const QVariant& v = m_rows[index.row()][index.column()];
  switch (role) {
  case Qt::DisplayRole: {
    if (v.isNull()) return {};
    if (v.typeId() == QMetaType::QDateTime)
      return QLocale().toString(v.toDateTime(), QLocale::ShortFormat);
    if (v.typeId() == QMetaType::Double) return QLocale().toString(v.toDouble(), 'g', 15);
    return v.toString();
  }
  case Qt::EditRole:
    return v;
  case Qt::TextAlignmentRole:
    return QVariant::fromValue(
        Qt::Alignment((IsNumeric(m_columns[index.column()].Kind) ? Qt::AlignRight : Qt::AlignLeft) |
                      Qt::AlignVCenter));
  default:
    return {};
  }
}

QVariant TMemTable::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
      section < m_columns.size())
    return m_columns[section].Name;
  return QAbstractTableModel::headerData(section, orientation, role);
}
