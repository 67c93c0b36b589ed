#include "forms/uOpenTranPage.h"

#include "forms/uLogReading.h"
#include "platform/gui/uNoticeStack.h"

#include <QTextEdit>

TOpenTranPage::TOpenTranPage(QTextEdit* memo, TNoticeStack* notice, QObject* parent)
    : QObject(parent), m_memo(memo), m_notice(notice) {
  m_memo->setAcceptRichText(false);
}

void TOpenTranPage::Clear() {
  m_memo->clear();
  if (m_notice) m_notice->SetNotice(QString());
}

bool TOpenTranPage::Show(const TOpenTranPart& openTran, QStringList& messageLines) {
  m_memo->clear();
  messageLines.clear();
  if (m_notice) m_notice->SetNotice(openTran.Outcome.IsOk() ? QString() : openTran.Outcome.Text);
  if (!openTran.Outcome.IsOk()) return false;
  messageLines = SplitInfoMessages(openTran.InfoMessages);
  const QStringList page = OpenTranPageLines(messageLines);
  if (!page.isEmpty()) m_memo->setPlainText(page.join(QLatin1Char('\n')));
  return true;
}

QStringList TOpenTranPage::Lines() const {
  const QString text = m_memo->toPlainText();
  if (text.isEmpty()) return {};
  return text.split(QLatin1Char('\n'));
}
