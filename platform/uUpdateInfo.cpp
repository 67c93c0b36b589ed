#include "platform/uUpdateInfo.h"

#include <QHash>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

namespace {

constexpr int MaxUpdateFiles = 16;
constexpr qint64 MaxUpdateFileSize = qint64(4) * 1024 * 1024 * 1024;
const QString VersionMarker = QStringLiteral("<!-- version:");

bool Fail(QString* error, const QString& text) {
  if (error) *error = text;
  return false;
}

bool IsDigits(QStringView s) {
  if (s.isEmpty()) return false;
  for (QChar c : s)
    if (c < u'0' || c > u'9') return false;
  return true;
}

// Splits a valid version into its parts without leading zeros ("0" stays "0").
std::optional<QList<QStringView>> VersionParts(QStringView version) {
  version = version.trimmed();
  QList<QStringView> parts;
  for (QStringView part : version.split(u'.')) {
    if (!IsDigits(part)) return std::nullopt;
    while (part.size() > 1 && part.front() == u'0')
      part = part.mid(1);
    parts.append(part);
  }
  return parts;
}

int CompareParts(QStringView a, QStringView b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

// A plain file name we are willing to create in the download folder.
bool IsSafeFileName(const QString& name) {
  if (name.isEmpty() || name.size() > 128 || name.front() == u'.') return false;
  for (QChar c : name) {
    const bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                    (c >= u'0' && c <= u'9') || c == u'.' || c == u'_' || c == u'-' || c == u'+';
    if (!ok) return false;
  }
  return true;
}

struct Section {
  QHash<QString, QString> values; // keys in lower case
};

bool ParseFileSection(const QString& name, const Section& section, TUpdateFile& file,
                      QString* error) {
  const QString url = section.values.value(QStringLiteral("url"));
  const QString size = section.values.value(QStringLiteral("size"));
  const QString sha = section.values.value(QStringLiteral("sha256"));
  if (url.isEmpty() || size.isEmpty() || sha.isEmpty())
    return Fail(error, QStringLiteral("[%1] needs URL, Size and SHA256").arg(name));

  file.Url = QUrl(url, QUrl::StrictMode);
  const QString scheme = file.Url.scheme().toLower();
  if (!file.Url.isValid() || (scheme != u"http" && scheme != u"https") || file.Url.host().isEmpty())
    return Fail(error, QStringLiteral("[%1] has an invalid URL").arg(name));
  // Decode the last segment only after it was cut off, so an encoded slash cannot hide a path.
  const QString encodedPath = file.Url.path(QUrl::FullyEncoded);
  file.FileName =
      QUrl::fromPercentEncoding(encodedPath.mid(encodedPath.lastIndexOf(u'/') + 1).toUtf8());
  if (!IsSafeFileName(file.FileName))
    return Fail(error, QStringLiteral("[%1] has no plain file name in its URL").arg(name));

  bool ok = false;
  file.Size = IsDigits(size) && size.size() <= 12 ? size.toLongLong(&ok) : 0;
  if (!ok || file.Size <= 0 || file.Size > MaxUpdateFileSize)
    return Fail(error, QStringLiteral("[%1] has an invalid Size").arg(name));

  if (sha.size() != 64) return Fail(error, QStringLiteral("[%1] has an invalid SHA256").arg(name));
  for (QChar c : sha)
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
      return Fail(error, QStringLiteral("[%1] has an invalid SHA256").arg(name));
  file.Sha256 = QByteArray::fromHex(sha.toLatin1());
  return true;
}

} // namespace

std::optional<TUpdateInfo> ParseUpdateInfoFile(const QByteArray& data, QString* error) {
  if (data.size() > MaxUpdateInfoFileSize) {
    Fail(error, QStringLiteral("The file is too large"));
    return std::nullopt;
  }
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = decoder.decode(data);
  if (decoder.hasError()) {
    Fail(error, QStringLiteral("The file is not valid UTF-8"));
    return std::nullopt;
  }
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);

  QHash<QString, Section> sections; // names in lower case
  QString history;
  Section* current = nullptr;
  QString currentName;
  qsizetype pos = 0;
  while (pos < text.size()) {
    qsizetype end = text.indexOf(u'\n', pos);
    const qsizetype next = end < 0 ? text.size() : end + 1;
    if (end < 0) end = text.size();
    QStringView line = QStringView(text).mid(pos, end - pos);
    if (line.endsWith(u'\r')) line.chop(1);
    pos = next;

    const QStringView trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(u';') || trimmed.startsWith(u'#')) continue;
    if (trimmed.startsWith(u'[') && trimmed.endsWith(u']')) {
      currentName = trimmed.mid(1, trimmed.size() - 2).trimmed().toString();
      const QString key = currentName.toLower();
      if (key == u"history") {
        // The history is HTML and runs verbatim to the end of the file.
        history = text.mid(pos);
        break;
      }
      if (sections.contains(key)) {
        Fail(error, QStringLiteral("Section [%1] appears twice").arg(currentName));
        return std::nullopt;
      }
      current = &sections[key];
      continue;
    }
    const qsizetype eq = trimmed.indexOf(u'=');
    if (!current || eq <= 0) {
      Fail(error, QStringLiteral("Unexpected line: %1").arg(trimmed.left(80)));
      return std::nullopt;
    }
    const QString key = trimmed.left(eq).trimmed().toString().toLower();
    if (current->values.contains(key)) {
      Fail(error, QStringLiteral("Key %1 appears twice in [%2]").arg(key, currentName));
      return std::nullopt;
    }
    current->values.insert(key, trimmed.mid(eq + 1).trimmed().toString());
  }

  TUpdateInfo info;
  info.Version = sections.value(QStringLiteral("update")).values.value(QStringLiteral("version"));
  if (!IsValidVersionNumber(info.Version)) {
    Fail(error, QStringLiteral("[Update] needs a valid Version"));
    return std::nullopt;
  }
  info.Version = info.Version.trimmed();

  QSet<QString> names;
  for (int n = 1; n <= MaxUpdateFiles + 1; ++n) {
    const QString name = QStringLiteral("File%1").arg(n);
    const auto it = sections.constFind(name.toLower());
    if (it == sections.constEnd()) break;
    if (n > MaxUpdateFiles) {
      Fail(error, QStringLiteral("Too many files"));
      return std::nullopt;
    }
    TUpdateFile file;
    if (!ParseFileSection(name, *it, file, error)) return std::nullopt;
    if (names.contains(file.FileName.toLower())) {
      Fail(error, QStringLiteral("[%1] repeats the file name %2").arg(name, file.FileName));
      return std::nullopt;
    }
    names.insert(file.FileName.toLower());
    info.Files.append(file);
  }
  // A file section out of sequence would silently be left out of the update.
  for (auto it = sections.constBegin(); it != sections.constEnd(); ++it) {
    if (it.key().startsWith(u"file") && IsDigits(QStringView(it.key()).mid(4))) {
      bool ok = false;
      const int n = QStringView(it.key()).mid(4).toInt(&ok);
      if (!ok || n < 1 || n > info.Files.size() || it.key() != QStringLiteral("file%1").arg(n)) {
        Fail(error, QStringLiteral("[%1] is out of sequence").arg(it.key()));
        return std::nullopt;
      }
    }
  }
  if (info.Files.isEmpty()) {
    Fail(error, QStringLiteral("[File1] is missing"));
    return std::nullopt;
  }
  info.VersionHistory = history;
  return info;
}

bool IsValidVersionNumber(const QString& version) {
  return VersionParts(version).has_value();
}

std::optional<int> CompareVersions(const QString& a, const QString& b) {
  const auto pa = VersionParts(a);
  const auto pb = VersionParts(b);
  if (!pa || !pb) return std::nullopt;
  static const QString zero = QStringLiteral("0");
  for (qsizetype i = 0; i < qMax(pa->size(), pb->size()); ++i) {
    const QStringView x = i < pa->size() ? pa->at(i) : QStringView(zero);
    const QStringView y = i < pb->size() ? pb->at(i) : QStringView(zero);
    if (const int c = CompareParts(x, y); c != 0) return c < 0 ? -1 : 1;
  }
  return 0;
}

bool IsAllowedUpdateUrl(const QUrl& url) {
  if (!url.isValid() || url.host().isEmpty()) return false;
  const QString scheme = url.scheme().toLower();
  if (scheme == u"https") return true;
  if (scheme != u"http") return false;
  QHostAddress address;
  return address.setAddress(url.host()) && address.isLoopback();
}

QString ParseVersionComment(const QString& Line) {
  const qsizetype marker = Line.indexOf(VersionMarker);
  if (marker < 0) return QString();
  const qsizetype start = marker + VersionMarker.size();
  const qsizetype space = Line.indexOf(u' ', start);
  if (space < 0) return QString();
  return Line.mid(start, space - start);
}

void ParseVersionHistory(QString& Text, QString& LatestVersion) {
  // Lines break at CR LF, CR or LF; a break at the very end adds no empty line.
  QString result;
  result.reserve(Text.size() + Text.size() / 16);
  qsizetype pos = 0;
  const qsizetype size = Text.size();
  while (pos < size) {
    qsizetype end = pos;
    while (end < size && Text[end] != u'\r' && Text[end] != u'\n')
      ++end;
    const QStringView line = QStringView(Text).mid(pos, end - pos);
    if (line.contains(VersionMarker)) {
      const QString version = ParseVersionComment(line.toString());
      if (!version.isEmpty() && LatestVersion.isEmpty()) LatestVersion = version;
    }
    result += line;
    result += QStringLiteral("\r\n");
    if (end < size && Text[end] == u'\r' && end + 1 < size && Text[end + 1] == u'\n') ++end;
    pos = end + 1;
  }
  Text = result;
}

QString ReplaceBraceTokens(const QString& text) {
  QString result = text;
  result.replace(QStringLiteral("<openbrace>"), QStringLiteral("{"));
  result.replace(QStringLiteral("<closebrace>"), QStringLiteral("}"));
  return result;
}

namespace {
bool IsVoidElement(QStringView name) {
  static const QSet<QString> names = {"area",  "base",  "br",       "col",   "embed",  "hr",
                                      "img",   "input", "link",     "meta",  "param",  "source",
                                      "track", "wbr",   "basefont", "frame", "isindex"};
  return names.contains(name.toString());
}

// Opening `name` ends these open elements first, up to (not past) the nearest `scope`.
struct TImplicitEnd {
  const char* Name;
  QList<QString> Ends;
  QList<QString> Scope;
};

const QList<TImplicitEnd>& ImplicitEnds() {
  static const QList<TImplicitEnd> rules = {
      {"li", {"li"}, {"ul", "ol", "menu", "dir"}},
      {"dt", {"dt", "dd"}, {"dl"}},
      {"dd", {"dt", "dd"}, {"dl"}},
      {"td", {"td", "th"}, {"tr", "table"}},
      {"th", {"td", "th"}, {"tr", "table"}},
      {"tr", {"tr", "td", "th"}, {"table", "thead", "tbody", "tfoot"}},
      {"thead", {"tr", "td", "th", "thead", "tbody", "tfoot"}, {"table"}},
      {"tbody", {"tr", "td", "th", "thead", "tbody", "tfoot"}, {"table"}},
      {"tfoot", {"tr", "td", "th", "thead", "tbody", "tfoot"}, {"table"}},
      // Counting too deep only shows a page as plain text; too shallow would let it through.
      {"p", {"p"}, {"td", "th", "table", "li", "ul", "ol", "dl", "dd", "dt", "div", "blockquote"}},
  };
  return rules;
}
} // namespace

bool IsHistorySafeAsHtml(const QString& html) {
  if (html.size() > MaxHistoryHtmlSize) return false;
  QList<QString> open; // element names, innermost last
  const qsizetype n = html.size();
  qsizetype i = 0;
  while (i < n) {
    i = html.indexOf(u'<', i);
    if (i < 0) break;
    if (QStringView(html).mid(i).startsWith(u"<!--")) {
      const qsizetype end = html.indexOf(QStringLiteral("-->"), i + 4);
      if (end < 0) break;
      i = end + 3;
      continue;
    }
    const bool closing = i + 1 < n && html[i + 1] == u'/';
    qsizetype p = i + (closing ? 2 : 1);
    const qsizetype nameStart = p;
    while (p < n && (html[p].isLetterOrNumber() || html[p] == u'-' || html[p] == u':'))
      ++p;
    if (p == nameStart) {
      ++i; // a "<" that starts no tag is text
      continue;
    }
    const QString name = html.mid(nameStart, p - nameStart).toLower();
    // The tag runs to the first ">" outside quotes; its attributes matter only for spans.
    QChar quote;
    const qsizetype attrStart = p;
    while (p < n && (!quote.isNull() || html[p] != u'>')) {
      if (quote.isNull() && (html[p] == u'"' || html[p] == u'\''))
        quote = html[p];
      else if (html[p] == quote)
        quote = QChar();
      ++p;
    }
    const QStringView attributes = QStringView(html).mid(attrStart, p - attrStart);
    i = p + 1;
    if (closing) {
      for (qsizetype k = open.size() - 1; k >= 0; --k)
        if (open[k] == name) {
          open.resize(k);
          break;
        }
      continue;
    }
    if (name == u"td" || name == u"th") {
      static const QRegularExpression span(
          QStringLiteral("(?:col|row)span\\s*=\\s*[\"']?\\s*\\+?0*([0-9]{1,9})"),
          QRegularExpression::CaseInsensitiveOption);
      for (auto it = span.globalMatch(attributes); it.hasNext();)
        if (it.next().captured(1).toInt() > MaxHistoryCellSpan) return false;
      static const QRegularExpression hugeSpan(
          QStringLiteral("(?:col|row)span\\s*=\\s*[\"']?\\s*\\+?0*[0-9]{10}"),
          QRegularExpression::CaseInsensitiveOption);
      if (attributes.toString().contains(hugeSpan)) return false;
    }
    if (IsVoidElement(name) || attributes.endsWith(u'/')) continue;
    for (const TImplicitEnd& rule : ImplicitEnds()) {
      if (name != QLatin1String(rule.Name)) continue;
      // The outermost one within the scope ends, with everything inside it.
      qsizetype cut = -1;
      for (qsizetype k = open.size() - 1; k >= 0 && !rule.Scope.contains(open[k]); --k)
        if (rule.Ends.contains(open[k])) cut = k;
      if (cut >= 0) open.resize(cut);
    }
    open.append(name);
    if (open.size() > MaxHistoryNesting) return false;
  }
  return true;
}
