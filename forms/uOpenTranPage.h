#pragma once
// The Oldest active transaction page: the text DBCC OPENTRAN prints, in the server's order.

#include "session/uSnapshots.h"

#include <QObject>
#include <QStringList>

class QTextEdit;
class TNoticeStack;

class TOpenTranPage : public QObject {
  Q_OBJECT
public:
  explicit TOpenTranPage(QTextEdit* memo, TNoticeStack* notice = nullptr,
                         QObject* parent = nullptr);

  void Clear();
  // Shows the text DBCC OPENTRAN printed, in the server's order; `messageLines` receives its
  // message lines as the data store delivered them. False when it could not be read: the page
  // says why.
  bool Show(const TOpenTranPart& openTran, QStringList& messageLines);
  // The page's lines as shown (none when the page is empty).
  QStringList Lines() const;

private:
  QTextEdit* m_memo;
  TNoticeStack* m_notice;
};
