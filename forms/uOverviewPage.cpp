#include "forms/uOverviewPage.h"

#include "forms/uLogReading.h"
#include "platform/gui/uGridModel.h"
#include "platform/gui/uGridView.h"
#include "platform/gui/uNoticeStack.h"

#include <QEvent>
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
} // namespace

TOverviewPage::TOverviewPage(QTableView* grid, TNoticeStack* notice, QObject* parent)
    : QObject(parent), m_grid(grid), m_notice(notice),
      m_model(new TGridModel(OverviewColumns(), this)) {
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
  UpdateHighlightColor();
  grid->installEventFilter(this);
}

bool TOverviewPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_grid && event->type() == QEvent::PaletteChange) UpdateHighlightColor();
  return QObject::eventFilter(watched, event);
}

void TOverviewPage::UpdateHighlightColor() {
  const QColor base = m_grid->palette().color(QPalette::Base);
  const QColor highlight = LogSpaceHighlightColor(base.lightnessF() < 0.5);
  if (highlight == m_highlight) return;
  m_highlight = highlight;
  const TGridUpdateGuard update(*m_model);
  for (int r = 0; r < m_model->RowCount(); ++r)
    if (m_model->Color(colUsed, r).isValid()) m_model->SetColor(colUsed, r, m_highlight);
}

int TOverviewPage::RowCount() const {
  return m_model->RowCount();
}

QString TOverviewPage::DatabaseName(int row) const {
  if (row < 0 || row >= m_model->RowCount()) return {};
  return m_model->Cell(colDBName, row).toString();
}

void TOverviewPage::ShowDatabases(const TOverviewSnapshot& overview) {
  if (m_notice) m_notice->SetNotice(overview.Outcome.IsOk() ? QString() : overview.Outcome.Text);
  const TRepaintGuard repaint(m_grid);
  ResetSortIndicator(m_grid);
  const QVector<TDatabaseRow>& rows = overview.Databases;
  if (!overview.Outcome.IsOk() || rows.isEmpty()) {
    m_model->ClearRows();
  } else {
    // Every cell of every row is set again below: the rows of the last load are reused.
    m_model->SetRowCount(int(rows.size()));
    m_nameChars.clear();
    m_nameEnds.clear();
    {
      const TGridUpdateGuard update(*m_model);
      for (int row = 0; row < m_model->RowCount(); ++row) {
        const QString& text = rows[row].Name;
        const auto* chars = reinterpret_cast<const char16_t*>(text.utf16());
        m_nameChars.insert(m_nameChars.end(), chars, chars + text.size());
        m_nameEnds.push_back(m_nameChars.size());
        m_model->SetText(colDBName, row, text);
        m_model->SetText(colStatus, row, DatabaseStatusText(rows[row].Status));
        m_model->SetColor(colUsed, row, QColor());
        for (int c = colLogSize; c <= colUpdated; ++c)
          m_model->SetEmpty(c, row, true);
      }
    }
    // The names just read are the rows' names: index them without reading the grid again.
    BuildNameSlots();
  }
  FitColumnWidths(m_grid, 24);
}

namespace {
// FNV-1a over the UTF-16 units: names are short, and this is inline and branch-free.
std::uint32_t NameHash(QStringView name) {
  std::uint32_t h = 2166136261u;
  for (const QChar c : name)
    h = (h ^ c.unicode()) * 16777619u;
  return h ^ (h >> 15);
}
} // namespace

void TOverviewPage::ApplyLogSpace(const TLogSpaceSnapshot& logSpace) {
  if (!logSpace.Outcome.IsOk() || logSpace.Rows.isEmpty()) return;
  // All hashes first, with their slots fetched ahead, then the look-ups. Each look-up misses
  // the cache; this way the misses overlap instead of coming one after the other.
  if (!m_rowOfValid) BuildNameIndex();
  const QVector<TLogSpaceRow>& figures = logSpace.Rows;
  const std::size_t count = std::size_t(figures.size());
  std::vector<std::uint32_t> hashes;
  hashes.reserve(count);
  const std::size_t mask = m_slots.size() - 1;
  for (const TLogSpaceRow& f : figures) {
    hashes.push_back(NameHash(f.Name));
    __builtin_prefetch(&m_slots[hashes.back() & mask]);
  }
  std::vector<int> rows;
  rows.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    rows.push_back(RowOf(figures[qsizetype(i)].Name, hashes[i]));
  const TGridUpdateGuard update(*m_model);
  for (std::size_t i = 0; i < count; ++i)
    if (rows[i] >= 0)
      ApplyLogSpaceRow(rows[i], figures[qsizetype(i)].LogSizeMB, figures[qsizetype(i)].UsedPercent,
                       logSpace.ReadAt);
}

void TOverviewPage::BuildNameIndex() {
  const int rows = m_model->RowCount();
  m_nameChars.clear();
  m_nameEnds.clear();
  m_nameEnds.reserve(std::size_t(rows));
  for (int r = 0; r < rows; ++r) {
    const QString name = m_model->Cell(colDBName, r).toString();
    const auto* chars = reinterpret_cast<const char16_t*>(name.utf16());
    m_nameChars.insert(m_nameChars.end(), chars, chars + name.size());
    m_nameEnds.push_back(m_nameChars.size());
  }
  BuildNameSlots();
}

void TOverviewPage::BuildNameSlots() {
  const int rows = int(m_nameEnds.size());
  std::size_t size = 16;
  while (size < std::size_t(rows) + std::size_t(rows) / 2) // small enough to stay in cache
    size *= 2;
  m_slots.assign(size, TNameSlot());
  const std::size_t mask = size - 1;
  for (int r = 0; r < rows; ++r) {
    const QStringView name = NameAt(r);
    const std::uint32_t h = NameHash(name);
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      TNameSlot& slot = m_slots[i];
      if (slot.Row < 0) {
        slot = {h, r};
        break;
      }
      if (slot.Hash == h && NameAt(slot.Row) == name) break; // an earlier row has this name
    }
  }
  m_rowOfValid = true;
}

int TOverviewPage::RowOf(QStringView name) {
  if (!m_rowOfValid) BuildNameIndex();
  return RowOf(name, NameHash(name));
}

int TOverviewPage::RowOf(QStringView name, std::uint32_t h) {
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t i = h & mask;; i = (i + 1) & mask) {
    const TNameSlot& slot = m_slots[i];
    if (slot.Row < 0) return -1;
    if (slot.Hash == h && NameAt(slot.Row) == name) return slot.Row;
  }
}

void TOverviewPage::ApplyLogSpace(const QVector<TLogSpace>& figures, const QDateTime& readAt) {
  const TGridUpdateGuard update(*m_model);
  for (const TLogSpace& f : figures)
    if (const int row = RowOf(f.Name); row >= 0)
      ApplyLogSpaceRow(row, f.LogSizeMB, f.UsedPercent, readAt);
}

void TOverviewPage::ApplyLogSpaceRow(int row, double logSizeMB, double usedPercent,
                                     const QDateTime& readAt) {
  const double used = TruncateDecimals(usedPercent, 2);
  m_model->SetNumber(colLogSize, row, TruncateDecimals(logSizeMB, 4));
  m_model->SetNumber(colUsed, row, used);
  m_model->SetColor(colUsed, row,
                    IsLogSpaceHighlighted(NameAt(row), used) ? m_highlight : QColor());
  m_model->SetTime(colUpdated, row, readAt);
  for (int c = colLogSize; c <= colUpdated; ++c)
    m_model->SetEmpty(c, row, false);
}
