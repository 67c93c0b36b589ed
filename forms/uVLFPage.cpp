#include "forms/uVLFPage.h"

#include "datastore/udmDataStoreSQLServer.h"
#include "platform/gui/uGridView.h"
#include "platform/uMemTable.h"

#include <QTableView>

TVLFPage::TVLFPage(QTableView* grid, QObject* parent)
    : QObject(parent), m_grid(grid), m_table(new TMemTable(this)) {
  m_table->setObjectName(QStringLiteral("memVLF"));
  grid->setModel(m_table);
  SetupGrid(grid, false);
}

void TVLFPage::Clear() {
  m_table->Clear();
}

bool TVLFPage::Load(const std::function<void(int)>& columnCreate) {
  TDataStoreSQLServer* store = DataStore.get();
  if (!store || !store->RunQuery(QStringLiteral("DBCC LOGINFO"))) return false;
  if (!store->Query->Active()) return true; // ran, but returned no rows to show
  const TRepaintGuard repaint(m_grid);
  if (m_table->HasStructure()) {
    TMemTable result;
    store->Query->CopyTo(result);
    m_table->Clear();
    m_table->AppendRowsFrom(std::move(result));
  } else {
    store->Query->CopyTo(*m_table);
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
