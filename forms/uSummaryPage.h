#pragma once
// The Summary page: recovery model, last log backup, log reuse wait, oldest active transaction
// and the numbers of log files and VLFs of the selected database.

#include "session/uSnapshots.h"
#include "verdict/uVerdict.h"

#include <QFont>
#include <QObject>
#include <QStringList>

class QTreeWidget;
class TNoticeStack;

class TSummaryPage : public QObject {
  Q_OBJECT
public:
  // Items of the list; the odd ones are the empty rows between the labels.
  enum Item {
    itmRecoveryModel = 0,
    itmLastLogBackup = 2,
    itmLogReuseWait = 4,
    itmOldestTransaction = 6,
    itmLogFiles = 8,
    itmVirtualLogFiles = 10,
    // The health of the log, after the server's figures.
    itmTransactionAge = 12,
    itmVerdict = 14,
    itmReuseWaitMeaning = 16,
    itmFirstReason = 18 // one item per reason, with its advice
  };

  explicit TSummaryPage(QTreeWidget* list, TNoticeStack* notice = nullptr,
                        QObject* parent = nullptr);

  void BuildRows();
  void ClearValues();
  QString Value(int item) const;
  // Fills the six values from the details; `openTranLines` are the lines of the Oldest active
  // transaction page, the counts those of the Files and VLF pages. A value that could not be
  // read says why, a count that could not be read shows "n/a"; a database that could not be
  // opened gives the page's notice in place of the list.
  void Show(const TDetailsSnapshot& details, const QStringList& openTranLines, int logFileCount,
            int vlfCount);

  // Shows the verdict on the database, every reason with its advice, what its log reuse wait
  // means and the SPID and age of its oldest open transaction. `judged` is false on servers
  // that give no health figures (before 2005).
  void ShowVerdict(const TVerdict& verdict, bool judged, const TDatabaseFacts& facts);
  int ReasonCount() const;
  QString Reason(int index) const; // "Critical: 1,250 VLFs (critical from 1,000): in a quiet..."

private:
  void SetValue(int item, const QString& value);
  void RemoveReasons();
  QTreeWidget* m_list;
  TNoticeStack* m_notice;
  QFont m_labelFont;
  int m_labelWidth = -1;
};
