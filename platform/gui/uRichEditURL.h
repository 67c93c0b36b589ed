#pragma once
// A read-only text box that shows plain text as typed and turns the web addresses in it into
// links; a click on one is reported, never followed by the box itself.

#include <QList>
#include <QTextBrowser>

struct TWebAddress {
  qsizetype Start = 0;
  qsizetype Length = 0;
  QString Href; // what to open: the text itself, with "http://" before a bare "www." address
  bool operator==(const TWebAddress&) const = default;
};

// The web addresses in text: http, https and ftp addresses and bare "www." host names with a
// real host (a dotted name, localhost or an IP address). Trailing punctuation and an
// unbalanced closing bracket stay outside the link.
QList<TWebAddress> FindWebAddresses(const QString& text);

class TRichEditURL : public QTextBrowser {
  Q_OBJECT
public:
  explicit TRichEditURL(QWidget* parent = nullptr);

  // Replaces the content with text, never interpreted as markup.
  void SetPlainTextWithLinks(const QString& text);
  // The hard lines of the content; an empty box has none.
  QStringList Lines() const;

Q_SIGNALS:
  void URLClick(const QString& url);
};
