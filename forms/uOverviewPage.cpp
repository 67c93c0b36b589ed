#include "forms/uOverviewPage.h"

#include "datastore/udmDataStoreSQLServer.h"
#include "forms/uLogReading.h"
#include "platform/gui/uGridModel.h"
#include "platform/gui/uGridView.h"

#include <QHeaderView>
#include <QTableView>
#include <string_view>

namespace {
QVector<TGridColumn> OverviewColumns() {
  const Qt::Alignment left = Qt::AlignLeft, right = Qt::AlignRight;
  QVector<TGridColumn> c(5);
  c[TOverviewPage::colDBName] = {TOverviewPage::tr("Database Name"),
                                 TGridColumnKind::Text,
                                 left,
                                 left,
                                 true,
                                 {},
                                 Qt::ElideRight,
                                 false};
  c[TOverviewPage::colStatus] = {TOverviewPage::tr("Status"),
                                 TGridColumnKind::Text,
                                 left,
                                 left,
                                 false,
                                 {},
                                 Qt::ElideRight,
                                 true};
  c[TOverviewPage::colLogSize] = {TOverviewPage::tr("Log Size (MB)"),
                                  TGridColumnKind::Number,
                                  right,
                                  right,
                                  true,
                                  0,
                                  Qt::ElideRight,
                                  false};
  c[TOverviewPage::colUsed] = {TOverviewPage::tr("Log Space Used (%)"),
                               TGridColumnKind::Number,
                               right,
                               right,
                               true,
                               0,
                               Qt::ElideRight,
                               false};
  c[TOverviewPage::colUpdated] = {TOverviewPage::tr("Last Updated"),
                                  TGridColumnKind::Time,
                                  right,
                                  right,
                                  false,
                                  {},
                                  Qt::ElideRight,
                                  true};
  return c;
}

TDataStoreSQLServer* Store() {
  return DataStore.get();
}
} // namespace

TOverviewPage::TOverviewPage(QTableView* grid, QObject* parent)
    : QObject(parent), m_grid(grid), m_model(new TGridModel(OverviewColumns(), this)),
      m_clock([] { return QDateTime::currentDateTime(); }) {
  grid->setModel(m_model);
  grid->setShowGrid(true);
  grid->setSelectionBehavior(QAbstractItemView::SelectItems);
  SetupGrid(grid);
  grid->horizontalHeader()->resizeSection(colUsed, 140);
  // Rows move or change only through these; the name index follows them.
  const auto invalidate = [this] { m_rowOfValid = false; };
  connect(m_model, &QAbstractItemModel::modelReset, this, invalidate);
  connect(m_model, &QAbstractItemModel::rowsInserted, this, invalidate);
  connect(m_model, &QAbstractItemModel::rowsRemoved, this, invalidate);
  connect(m_model, &QAbstractItemModel::layoutChanged, this, invalidate);
  connect(m_model, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& from, const QModelIndex& to) {
            if (from.column() <= colDBName && colDBName <= to.column()) m_rowOfValid = false;
          });
  grid->horizontalHeader()->resizeSection(colUpdated, 120);
}

int TOverviewPage::RowCount() const {
  return m_model->RowCount();
}

QString TOverviewPage::DatabaseName(int row) const {
  if (row < 0 || row >= m_model->RowCount()) return {};
  return m_model->Cell(colDBName, row).toString();
}

void TOverviewPage::LoadRows() {
  {
    const TRepaintGuard repaint(m_grid);
    m_model->ClearRows();
    ResetSortIndicator(m_grid);
    TDataStoreSQLServer* store = Store();
    if (store &&
        store->RunQuery(
            QStringLiteral("SELECT name, status FROM master..sysdatabases ORDER BY name")) &&
        store->Query->Active()) {
      TResultSet& q = *store->Query;
      const int name = q.FieldIndex(QStringLiteral("name"));
      const int status = q.FieldIndex(QStringLiteral("status"));
      if (name >= 0 && status >= 0) {
        const TGridUpdateGuard update(*m_model);
        m_model->AddRows(q.RecordCount());
        int row = 0;
        for (q.First(); !q.Eof() && row < m_model->RowCount(); q.Next(), ++row) {
          m_model->SetCell(colDBName, row, q.AsString(name));
          m_model->SetCell(colStatus, row, DatabaseStatusText(q.AsInteger(status)));
          for (int c = colLogSize; c <= colUpdated; ++c)
            m_model->SetEmpty(c, row, true);
        }
      }
    }
    FitColumnWidths(m_grid, 24);
  }
}

void TOverviewPage::UpdateLogSpace() {
  TDataStoreSQLServer* store = Store();
  if (!store || !store->RunQuery(QStringLiteral("DBCC SQLPERF(LOGSPACE)")) ||
      !store->Query->Active())
    return;
  const QDateTime now = m_clock();
  TResultSet& q = *store->Query;
  if (q.FieldCount() < 3) return;
  const TFieldKind k0 = q.FieldKind(0);
  if ((k0 != TFieldKind::Text && k0 != TFieldKind::UnicodeText) ||
      q.FieldKind(1) != TFieldKind::Float || q.FieldKind(2) != TFieldKind::Float)
    return;

  const TGridUpdateGuard update(*m_model);
  const QVariant readAt(now);
  for (q.First(); !q.Eof(); q.Next())
    ApplyLogSpaceRow(q.AsString(0), q.AsFloat(1), q.AsFloat(2), readAt);
}

namespace {
std::uint32_t NameHash(const QString& name) {
  const std::size_t h = std::hash<std::u16string_view>()(std::u16string_view(
      reinterpret_cast<const char16_t*>(name.utf16()), std::size_t(name.size())));
  return std::uint32_t(h ^ (h >> 32));
}
} // namespace

void TOverviewPage::BuildNameIndex() {
  const int rows = m_model->RowCount();
  std::size_t size = 16;
  while (size < std::size_t(rows) * 2)
    size *= 2;
  m_slots.assign(size, TNameSlot());
  m_names.resize(std::size_t(rows));
  const std::size_t mask = size - 1;
  for (int r = 0; r < rows; ++r) {
    m_names[std::size_t(r)] = m_model->Cell(colDBName, r).toString();
    const QString& name = m_names[std::size_t(r)];
    const std::uint32_t h = NameHash(name);
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      TNameSlot& slot = m_slots[i];
      if (slot.Row < 0) {
        slot = {h, r};
        break;
      }
      if (slot.Hash == h && m_names[std::size_t(slot.Row)] == name)
        break; // an earlier row has this name already
    }
  }
  m_rowOfValid = true;
}

int TOverviewPage::RowOf(const QString& name) {
  if (!m_rowOfValid) BuildNameIndex();
  const std::size_t mask = m_slots.size() - 1;
  const std::uint32_t h = NameHash(name);
  for (std::size_t i = h & mask;; i = (i + 1) & mask) {
    const TNameSlot& slot = m_slots[i];
    if (slot.Row < 0) return -1;
    if (slot.Hash == h && m_names[std::size_t(slot.Row)] == name) return slot.Row;
  }
}

void TOverviewPage::ApplyLogSpace(const QVector<TLogSpace>& figures, const QDateTime& readAt) {
  const TGridUpdateGuard update(*m_model);
  const QVariant at(readAt);
  for (const TLogSpace& f : figures)
    ApplyLogSpaceRow(f.Name, f.LogSizeMB, f.UsedPercent, at);
}

void TOverviewPage::ApplyLogSpaceRow(const QString& name, double logSizeMB, double usedPercent,
                                     const QVariant& readAt) {
  const int row = RowOf(name);
  if (row < 0) return;
  static const QColor highlight = LogSpaceHighlightColor();
  const double used = TruncateDecimals(usedPercent, 2);
  m_model->SetCell(colLogSize, row, TruncateDecimals(logSizeMB, 4));
  m_model->SetCell(colUsed, row, used);
  m_model->SetColor(colUsed, row, IsLogSpaceHighlighted(name, used) ? highlight : QColor());
  m_model->SetCell(colUpdated, row, readAt);
  for (int c = colLogSize; c <= colUpdated; ++c)
    m_model->SetEmpty(c, row, false);
}
