#pragma once
// A page's content, or in its place a notice in plain words that says why the content is
// missing ("The database is offline.").

#include <QStackedWidget>

class QLabel;

class TNoticeStack : public QStackedWidget {
  Q_OBJECT
public:
  // Takes `content`; the notice label gets the object name `noticeName`.
  TNoticeStack(QWidget* content, const QString& noticeName, QWidget* parent = nullptr);

  // An empty text shows the content again.
  void SetNotice(const QString& text);
  // The notice shown now, or an empty text when the content shows.
  QString Notice() const;
  QWidget* Content() const { return m_content; }
  QLabel* NoticeLabel() const { return m_label; }

private:
  QWidget* m_content;
  QLabel* m_label;
};
