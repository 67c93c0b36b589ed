#include "forms/uVLFPage.h"

#include "platform/gui/uGridView.h"
#include "platform/gui/uNoticeStack.h"
#include "platform/uMemTable.h"

#include "platform/gui/uVlfMap.h"

#include <QLabel>
#include <QTableView>

TVLFPage::TVLFPage(QTableView* grid, TNoticeStack* notice, QObject* parent)
    : QObject(parent), m_grid(grid), m_notice(notice), m_table(new TMemTable(this)) {
  m_table->setObjectName(QStringLiteral("memVLF"));
  grid->setModel(m_table);
  SetupGrid(grid, false);
}

void TVLFPage::SetMap(TVlfMap* map, QLabel* source) {
  m_map = map;
  m_source = source;
}

QString TVLFPage::SourceText() const {
  return m_source ? m_source->text() : QString();
}

// The map shows what the list shows, from the table's own columns.
void TVLFPage::ShowMap() {
  if (!m_map) return;
  const int fileId = m_table->FieldIndex(QStringLiteral("FileId"));
  const int size = m_table->FieldIndex(QStringLiteral("FileSize"));
  const int offset = m_table->FieldIndex(QStringLiteral("StartOffset"));
  const int seq = m_table->FieldIndex(QStringLiteral("FSeqNo"));
  const int status = m_table->FieldIndex(QStringLiteral("Status"));
  const int lsn = m_table->FieldIndex(QStringLiteral("CreateLSN"));
  QVector<TVlfMapEntry> vlfs;
  if (fileId >= 0 && size >= 0 && offset >= 0 && seq >= 0 && status >= 0) {
    const int rows = m_table->rowCount();
    vlfs.reserve(rows);
    for (int r = 0; r < rows; ++r) {
      TVlfMapEntry e;
      e.FileId = int(m_table->IntegerAt(r, fileId));
      e.Size = m_table->IntegerAt(r, size);
      e.StartOffset = m_table->IntegerAt(r, offset);
      e.FSeqNo = m_table->IntegerAt(r, seq);
      e.Active = m_table->IntegerAt(r, status) == 2;
      if (lsn >= 0) e.CreateLsn = m_table->data(m_table->index(r, lsn)).toString();
      vlfs.push_back(std::move(e));
    }
  }
  m_map->SetVlfs(std::move(vlfs));
}

void TVLFPage::Clear() {
  m_table->Clear();
  if (m_map) m_map->Clear();
  if (m_source) m_source->clear();
  if (m_notice) m_notice->SetNotice(QString());
}

bool TVLFPage::Show(const TVLFPart& vlfs, const std::function<void(int)>& columnCreate) {
  m_table->Clear();
  if (m_map) m_map->Clear();
  if (m_notice) m_notice->SetNotice(vlfs.Outcome.IsOk() ? QString() : vlfs.Outcome.Text);
  if (m_source) {
    if (vlfs.Source == TVLFSource::LogInfoView)
      m_source->setText(vlfs.Outcome.IsOk()
                            ? tr("Source: sys.dm_db_log_info, as DBCC LOGINFO was refused (%1)")
                                  .arg(vlfs.DbccOutcome.Text)
                            : tr("DBCC LOGINFO was refused (%1), and so was sys.dm_db_log_info.")
                                  .arg(vlfs.DbccOutcome.Text));
    else
      m_source->setText(vlfs.Outcome.IsOk() ? tr("Source: DBCC LOGINFO") : QString());
  }
  if (!vlfs.Outcome.IsOk()) return false;
  if (vlfs.Columns.empty()) return true; // ran, but returned no rows to show
  const TRepaintGuard repaint(m_grid);
  if (m_table->HasStructure()) {
    m_table->AppendColumnData(vlfs.Columns);
  } else {
    m_table->SetColumnData(vlfs.Columns);
    if (columnCreate)
      for (int c = 0; c < m_table->columnCount(); ++c)
        columnCreate(c);
  }
  ShowMap();
  return true;
}

void RightAlignNumericColumns(TMemTable* table, QTableView* grid) {
  if (grid->model() != table) return;
  for (int c = 0; c < table->columnCount(); ++c)
    if (IsNumericKind(table->Columns()[c].Kind)) table->SetColumnAlignment(c, Qt::AlignRight);
}
