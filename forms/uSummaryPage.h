#pragma once
// The Summary page: recovery model, last log backup, log reuse wait, oldest active transaction
// and the numbers of log files and VLFs of the selected database.

#include <QFont>
#include <QObject>
#include <QStringList>

class QTreeWidget;

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

  explicit TSummaryPage(QTreeWidget* list, QObject* parent = nullptr);

  void BuildRows();
  void ClearValues();
  QString Value(int item) const;
  // Fills the six values for database `name`; `openTranLines` are the lines of the Oldest
  // active transaction page.
  void Load(const QString& name, const QStringList& openTranLines, int logFileCount, int vlfCount);

private:
  void SetValue(int item, const QString& value);
  QTreeWidget* m_list;
  QFont m_labelFont;
  int m_labelWidth = -1;
};
