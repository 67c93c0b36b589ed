#pragma once
// The Oldest active transaction page: the text DBCC OPENTRAN prints, in the server's order.

#include <QObject>
#include <QStringList>

class QTextEdit;

class TOpenTranPage : public QObject {
  Q_OBJECT
public:
  explicit TOpenTranPage(QTextEdit* memo, QObject* parent = nullptr);

  void Clear();
  // Runs DBCC OPENTRAN in the current database; `messageLines` receives its message lines as
  // the data store delivered them. False when the command failed (the page stays empty).
  bool Load(QStringList& messageLines);
  // The page's lines as shown (none when the page is empty).
  QStringList Lines() const;

private:
  QTextEdit* m_memo;
};
