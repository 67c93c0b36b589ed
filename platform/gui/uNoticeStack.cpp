#include "platform/gui/uNoticeStack.h"

#include <QLabel>

TNoticeStack::TNoticeStack(QWidget* content, const QString& noticeName, QWidget* parent)
    : QStackedWidget(parent), m_content(content), m_label(new QLabel(this)) {
  m_label->setObjectName(noticeName);
  m_label->setTextFormat(Qt::PlainText);
  m_label->setWordWrap(true);
  m_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_label->setMargin(8);
  m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // Selectable text takes the focus, so it needs a name in words for screen readers.
  m_label->setAccessibleName(tr("Why this page is empty"));
  addWidget(m_content);
  addWidget(m_label);
  setCurrentWidget(m_content);
}

void TNoticeStack::SetNotice(const QString& text) {
  m_label->setText(text);
  setCurrentWidget(text.isEmpty() ? m_content : static_cast<QWidget*>(m_label));
}

QString TNoticeStack::Notice() const {
  return currentWidget() == m_label ? m_label->text() : QString();
}
