#include "platform/gui/uRichEditURL.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QUrl>

namespace {
bool IsRealHost(const QString& host) {
  if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) return true;
  if (host.startsWith(u'['))
    return QHostAddress(host.mid(1, host.size() - 2)).protocol() == QHostAddress::IPv6Protocol;
  static const QRegularExpression ipv4(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
  if (ipv4.match(host).hasMatch())
    return QHostAddress(host).protocol() == QHostAddress::IPv4Protocol;
  // Dotted labels of letters, digits and inner hyphens, ending in a top-level name of letters.
  static const QRegularExpression dotted(
      QStringLiteral("^([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?\\.)+[A-Za-z]{2,63}$"));
  return dotted.match(host).hasMatch();
}

// Drops trailing punctuation that ends a sentence rather than the address, and a closing
// bracket that has no opening one inside the address. Counts are kept as it trims, so a long
// run of brackets costs one pass.
qsizetype TrimmedLength(QStringView candidate) {
  static constexpr QStringView opens = u"([{";
  static constexpr QStringView closes = u")]}";
  static constexpr QStringView punctuation = u".,;:!?'\"";
  qsizetype open[3] = {}, close[3] = {};
  for (const QChar c : candidate) {
    if (const qsizetype i = opens.indexOf(c); i >= 0)
      ++open[i];
    else if (const qsizetype j = closes.indexOf(c); j >= 0)
      ++close[j];
  }
  qsizetype len = candidate.size();
  while (len > 0) {
    const QChar c = candidate.at(len - 1);
    if (punctuation.contains(c)) {
      --len;
      continue;
    }
    const qsizetype i = closes.indexOf(c);
    if (i >= 0 && open[i] < close[i]) {
      --close[i];
      --len;
      continue;
    }
    break;
  }
  return len;
}
} // namespace

QList<TWebAddress> FindWebAddresses(const QString& text) {
  // A start not glued to a preceding word or path, then anything up to white space or a
  // character that cannot stand in an address.
  static const QRegularExpression candidate(
      QStringLiteral("(?<![\\w@/.:-])(?:(?:https?|ftp)://|www\\.)[^\\s<>\"`{}|\\\\^]+"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
  QList<TWebAddress> found;
  auto it = candidate.globalMatch(text);
  while (it.hasNext()) {
    const QRegularExpressionMatch m = it.next();
    const QString raw = m.captured(0);
    const qsizetype len = TrimmedLength(raw);
    const QString linkText = raw.left(len);
    const bool bare = linkText.startsWith(QLatin1String("www."), Qt::CaseInsensitive);
    const QString href = bare ? QStringLiteral("http://") + linkText : linkText;
    const QUrl url(href, QUrl::StrictMode);
    const QString host = url.host(QUrl::FullyEncoded);
    if (!url.isValid() || !IsRealHost(host)) continue;
    // "www.something" alone names no site; a bare address needs a domain after "www.".
    if (bare && host.count(u'.') < 2) continue;
    found.append({m.capturedStart(0), len, href});
  }
  return found;
}

TRichEditURL::TRichEditURL(QWidget* parent) : QTextBrowser(parent) {
  setOpenLinks(false);
  setOpenExternalLinks(false);
  setUndoRedoEnabled(false);
  connect(this, &QTextBrowser::anchorClicked, this,
          [this](const QUrl& url) { Q_EMIT URLClick(url.toString(QUrl::FullyEncoded)); });
}

void TRichEditURL::SetPlainTextWithLinks(const QString& text) {
  clear();
  // Plain text in; links are formats on the typed characters, so nothing is parsed as markup.
  QTextCursor cursor(document());
  const QTextCharFormat plain;
  qsizetype pos = 0;
  for (const TWebAddress& address : FindWebAddresses(text)) {
    cursor.insertText(text.mid(pos, address.Start - pos), plain);
    QTextCharFormat link;
    link.setAnchor(true);
    link.setAnchorHref(address.Href);
    link.setForeground(palette().link());
    link.setFontUnderline(true);
    cursor.insertText(text.mid(address.Start, address.Length), link);
    pos = address.Start + address.Length;
  }
  cursor.insertText(text.mid(pos), plain);
  moveCursor(QTextCursor::Start);
}

QStringList TRichEditURL::Lines() const {
  QStringList lines;
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
    lines << block.text();
  // As with a list of lines set from text, a final line break opens no further line.
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}
