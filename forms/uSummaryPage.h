#pragma once
// The Summary page: recovery model, last log backup, log reuse wait, oldest active transaction
// and the numbers of log files and VLFs of the selected database.

#include "session/uSnapshots.h"

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
    itmVirtualLogFiles = 10
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

private:
  void SetValue(int item, const QString& value);
  QTreeWidget* m_list;
  TNoticeStack* m_notice;
  QFont m_labelFont;
  int m_labelWidth = -1;
};
