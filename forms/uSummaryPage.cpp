#include "forms/uSummaryPage.h"

#include "common/uCommon.h"
#include "datastore/udmDataStoreSQLServer.h"
#include "forms/uLogReading.h"

#include <QTreeWidget>

TSummaryPage::TSummaryPage(QTreeWidget* list, QObject* parent) : QObject(parent), m_list(list) {
  // Every row is one line high; without this each new value re-measures its row.
  m_list->setUniformRowHeights(true);
}

void TSummaryPage::BuildRows() {
  const QStringList labels = {tr("Recovery model"),       tr("Last t-log backup"),
                              tr("Log reuse wait desc."), tr("Oldest active transaction"),
                              tr("# t-log files"),        tr("# virtual log files")};
  m_list->clear();
  for (int i = 0; i < labels.size(); ++i) {
    m_list->addTopLevelItem(
        new QTreeWidgetItem(QStringList{labels[i], QStringLiteral(":"), QString()}));
    if (i + 1 < labels.size()) m_list->addTopLevelItem(new QTreeWidgetItem);
  }
}

void TSummaryPage::ClearValues() {
  for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = m_list->topLevelItem(i);
    if (!item->text(1).isEmpty()) item->setText(2, QString());
  }
}

QString TSummaryPage::Value(int item) const {
  const QTreeWidgetItem* i = m_list->topLevelItem(item);
  return i ? i->text(2) : QString();
}

void TSummaryPage::SetValue(int item, const QString& value) {
  if (QTreeWidgetItem* i = m_list->topLevelItem(item)) i->setText(2, value);
}

namespace {
QString FirstText(TResultSet& q) {
  if (!q.Active() || q.FieldCount() < 1 || q.RecordCount() < 1) return {};
  q.First();
  return q.AsString(0);
}
} // namespace

void TSummaryPage::Load(const QString& name, const QStringList& openTranLines, int logFileCount,
                        int vlfCount) {
  TDataStoreSQLServer* store = DataStore.get();
  const QString q = QuoteSQLString(name);

  SetValue(itmRecoveryModel, QString());
  if (store &&
      store->RunQuery(QStringLiteral("SELECT DATABASEPROPERTYEX(N'%1', 'RECOVERY')").arg(q)))
    SetValue(itmRecoveryModel, FirstText(*store->Query));

  SetValue(itmLastLogBackup, QString());
  if (store && store->RunQuery(QStringLiteral("SELECT TOP 1 a.backup_finish_date FROM "
                                              "msdb..backupset a WHERE a.database_name = N'%1'"
                                              "   AND a.type = 'L' ORDER BY a.backup_finish_date "
                                              "DESC")
                                   .arg(q))) {
    TResultSet& r = *store->Query;
    if (r.Active() && r.RecordCount() == 1 && r.FieldCount() >= 1) {
      r.First();
      SetValue(itmLastLogBackup, FormatBackupFinish(r.AsDateTime(0)));
    } else {
      SetValue(itmLastLogBackup, tr("(none)"));
    }
  }

  SetValue(itmLogReuseWait, QString());
  if (store && store->IsSQL2005OrNewer) {
    if (store->RunQuery(
            QStringLiteral("SELECT log_reuse_wait_desc FROM sys.databases WHERE name = N'%1'")
                .arg(q)))
      SetValue(itmLogReuseWait, FirstText(*store->Query));
  } else {
    SetValue(itmLogReuseWait, tr("(available only on SQL Server 2005 or newer)"));
  }

  SetValue(itmOldestTransaction, ReadOldestActiveTransaction(openTranLines));
  SetValue(itmLogFiles, QString::number(logFileCount));
  SetValue(itmVirtualLogFiles, QString::number(vlfCount));
  // The labels never change: measure them again only when the font did.
  if (m_labelFont != m_list->font() || m_labelWidth < 0) {
    m_list->resizeColumnToContents(0);
    m_labelFont = m_list->font();
    m_labelWidth = m_list->columnWidth(0);
  } else if (m_list->columnWidth(0) != m_labelWidth) {
    m_list->setColumnWidth(0, m_labelWidth);
  }
}
