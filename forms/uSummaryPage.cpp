#include "forms/uSummaryPage.h"

#include "forms/uLogFilesPage.h"
#include "forms/uLogReading.h"
#include "forms/uOverviewPage.h"
#include "platform/gui/uNoticeStack.h"

#include <QTreeWidget>
#include <algorithm>

TSummaryPage::TSummaryPage(QTreeWidget* list, TNoticeStack* notice, QObject* parent)
    : QObject(parent), m_list(list), m_notice(notice) {
  // Every row is one line high; without this each new value re-measures its row.
  m_list->setUniformRowHeights(true);
}

void TSummaryPage::BuildRows() {
  const QStringList labels = {tr("Recovery model"),         tr("Last t-log backup"),
                              tr("Log reuse wait desc."),   tr("Oldest active transaction"),
                              tr("# t-log files"),          tr("# virtual log files"),
                              tr("Oldest transaction age"), tr("Verdict"),
                              tr("Log reuse wait means")};
  m_list->clear();
  for (int i = 0; i < labels.size(); ++i) {
    m_list->addTopLevelItem(
        new QTreeWidgetItem(QStringList{labels[i], QStringLiteral(":"), QString()}));
    if (i + 1 < labels.size()) m_list->addTopLevelItem(new QTreeWidgetItem);
  }
}

void TSummaryPage::ClearValues() {
  if (m_notice) m_notice->SetNotice(QString());
  RemoveReasons();
  if (QTreeWidgetItem* verdict = m_list->topLevelItem(itmVerdict)) verdict->setIcon(2, QIcon());
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
  if (QTreeWidgetItem* i = m_list->topLevelItem(item)) {
    i->setText(2, value);
    i->setToolTip(2, value); // the long ones do not fit the column
  }
}

void TSummaryPage::RemoveReasons() {
  while (m_list->topLevelItemCount() > itmFirstReason - 1)
    delete m_list->takeTopLevelItem(m_list->topLevelItemCount() - 1);
}

int TSummaryPage::ReasonCount() const {
  return std::max(0, m_list->topLevelItemCount() - itmFirstReason);
}

QString TSummaryPage::Reason(int index) const {
  const QTreeWidgetItem* i = m_list->topLevelItem(itmFirstReason + index);
  return i ? i->text(0) + QStringLiteral(": ") + i->text(2) : QString();
}

void TSummaryPage::ShowVerdict(const TVerdict& verdict, bool judged, const TDatabaseFacts& facts) {
  RemoveReasons();
  const QString dash = QStringLiteral("\u2014");
  if (facts.OldestTransactionStart.isValid() && facts.Now.isValid()) {
    const QDateTime start(facts.OldestTransactionStart.date(), facts.OldestTransactionStart.time(),
                          Qt::UTC);
    const QDateTime now(facts.Now.date(), facts.Now.time(), Qt::UTC);
    const QString age = FormatAge(start.secsTo(now));
    SetValue(itmTransactionAge,
             facts.OldestTransactionSpid
                 ? tr("SPID %1, open for %2").arg(*facts.OldestTransactionSpid).arg(age)
                 : tr("open for %1").arg(age));
  } else {
    SetValue(itmTransactionAge, QStringLiteral("-"));
  }
  QTreeWidgetItem* verdictItem = m_list->topLevelItem(itmVerdict);
  if (!judged) {
    SetValue(itmVerdict, dash);
    if (verdictItem) verdictItem->setIcon(2, QIcon());
    SetValue(itmReuseWaitMeaning, dash);
    return;
  }
  SetValue(itmVerdict, VerdictLevelName(verdict.Level));
  if (verdictItem) verdictItem->setIcon(2, VerdictIcon(verdict.Level));
  if (!facts.ReuseWaitDesc.isEmpty()) {
    const TReuseWaitExplanation w =
        ExplainReuseWait(facts.ReuseWait, facts.ReuseWaitDesc, facts.ServerMajor);
    SetValue(itmReuseWaitMeaning, w.NextStep.isEmpty()
                                      ? w.Explanation
                                      : tr("%1 Next step: %2.").arg(w.Explanation, w.NextStep));
  } else {
    SetValue(itmReuseWaitMeaning, dash);
  }
  if (verdict.Reasons.isEmpty()) return;
  m_list->addTopLevelItem(new QTreeWidgetItem); // the empty row before the reasons
  for (const TVerdictReason& r : verdict.Reasons) {
    auto* item =
        new QTreeWidgetItem(QStringList{VerdictLevelName(r.Level), QStringLiteral(":"), r.Line()});
    item->setIcon(0, VerdictIcon(r.Level));
    item->setToolTip(2, r.Line());
    m_list->addTopLevelItem(item);
  }
}

void TSummaryPage::Show(const TDetailsSnapshot& details, const QStringList& openTranLines,
                        int logFileCount, int vlfCount) {
  if (m_notice)
    m_notice->SetNotice(details.DatabaseOutcome.IsOk() ? QString() : details.DatabaseOutcome.Text);
  // The database could not be opened: nothing was read, the notice says why.
  if (!details.DatabaseOutcome.IsOk()) return;
  const TSummaryPart& s = details.Summary;
  const auto valueOr = [](const TOutcome& outcome, const QString& value) {
    return outcome.IsOk() ? value : outcome.Text;
  };
  SetValue(itmRecoveryModel, valueOr(s.RecoveryOutcome, s.RecoveryModel));
  SetValue(itmLastLogBackup,
           valueOr(s.BackupOutcome,
                   s.HasLogBackup ? FormatBackupFinish(s.LastLogBackup) : tr("(none)")));
  SetValue(itmLogReuseWait, s.ReuseWaitAvailable
                                ? valueOr(s.ReuseWaitOutcome, s.LogReuseWait)
                                : tr("(available only on SQL Server 2005 or newer)"));
  // "-" says there is no open transaction: a text that could not be read says nothing of it.
  SetValue(itmOldestTransaction, details.OpenTran.Outcome.IsOk()
                                     ? ReadOldestActiveTransaction(openTranLines)
                                     : TLogFilesPage::NotAvailable());
  const auto count = [](int n) {
    return n < 0 ? TLogFilesPage::NotAvailable() : QString::number(n);
  };
  SetValue(itmLogFiles, count(logFileCount));
  SetValue(itmVirtualLogFiles, count(vlfCount));
  // The labels never change: measure them again only when the font did.
  if (m_labelFont != m_list->font() || m_labelWidth < 0) {
    m_list->resizeColumnToContents(0);
    m_labelFont = m_list->font();
    m_labelWidth = m_list->columnWidth(0);
  } else if (m_list->columnWidth(0) != m_labelWidth) {
    m_list->setColumnWidth(0, m_labelWidth);
  }
}
