#include "forms/uOpenTranPage.h"

#include "datastore/udmDataStoreSQLServer.h"
#include "forms/uLogReading.h"

#include <QTextEdit>

TOpenTranPage::TOpenTranPage(QTextEdit* memo, QObject* parent) : QObject(parent), m_memo(memo) {
  m_memo->setAcceptRichText(false);
}

void TOpenTranPage::Clear() {
  m_memo->clear();
}

bool TOpenTranPage::Load(QStringList& messageLines) {
  TDataStoreSQLServer* store = DataStore.get();
  if (!store || !store->RunQuery(QStringLiteral("DBCC OPENTRAN"))) return false;
  messageLines = SplitInfoMessages(store->InfoMessages);
  const QStringList page = OpenTranPageLines(messageLines);
  if (!page.isEmpty()) m_memo->setPlainText(page.join(QLatin1Char('\n')));
  return true;
}

QStringList TOpenTranPage::Lines() const {
  const QString text = m_memo->toPlainText();
  if (text.isEmpty()) return {};
  return text.split(QLatin1Char('\n'));
}
