#include "forms/uVLFPage.h"

#include "platform/gui/uGridView.h"
#include "platform/gui/uNoticeStack.h"
#include "platform/uMemTable.h"

#include <QTableView>

TVLFPage::TVLFPage(QTableView* grid, TNoticeStack* notice, QObject* parent)
    : QObject(parent), m_grid(grid), m_notice(notice), m_table(new TMemTable(this)) {
  m_table->setObjectName(QStringLiteral("memVLF"));
  grid->setModel(m_table);
  SetupGrid(grid, false);
}

void TVLFPage::Clear() {
  m_table->Clear();
  if (m_notice) m_notice->SetNotice(QString());
}

bool TVLFPage::Show(const TVLFPart& vlfs, const std::function<void(int)>& columnCreate) {
  m_table->Clear();
  if (m_notice) m_notice->SetNotice(vlfs.Outcome.IsOk() ? QString() : vlfs.Outcome.Text);
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
  return true;
}

void RightAlignNumericColumns(TMemTable* table, QTableView* grid) {
  if (grid->model() != table) return;
  for (int c = 0; c < table->columnCount(); ++c)
    if (IsNumericKind(table->Columns()[c].Kind)) table->SetColumnAlignment(c, Qt::AlignRight);
}
