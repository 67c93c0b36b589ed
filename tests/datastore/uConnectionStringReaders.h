#pragma once
// How the drivers read a connection string back, for the tests and the fuzz target that check
// that every value arrives as given and adds no keyword.

#include <QMap>
#include <QString>

// How FreeTDS 1.3 reads a connection string: a braced value ends at the first "};" (or at the
// end of the text), and doubled braces stay doubled.
inline QMap<QString, QString> ParseLikeFreeTds(const QString& text) {
  QMap<QString, QString> result;
  qsizetype p = 0;
  while (p < text.size()) {
    while (p < text.size() && text[p] == ';')
      ++p;
    const qsizetype eq = text.indexOf('=', p);
    if (eq < 0) break;
    const QString key = text.mid(p, eq - p).trimmed().toUpper();
    p = eq + 1;
    qsizetype end;
    if (p < text.size() && text[p] == '{') {
      ++p;
      end = text.indexOf("};", p);
      if (end < 0) end = text.size();
    } else {
      end = text.indexOf(';', p);
      if (end < 0) end = text.size();
    }
    result.insert(key, text.mid(p, end - p));
    p = end;
    if (p < text.size() && text[p] == '}') ++p;
    ++p;
  }
  return result;
}

// How the ODBC standard (and Microsoft's driver) reads one: }} inside braces is one }.
inline QMap<QString, QString> ParseLikeOdbc(const QString& text) {
  QMap<QString, QString> result;
  qsizetype p = 0;
  while (p < text.size()) {
    const qsizetype eq = text.indexOf('=', p);
    if (eq < 0) break;
    const QString key = text.mid(p, eq - p).trimmed().toUpper();
    p = eq + 1;
    QString value;
    if (p < text.size() && text[p] == '{') {
      for (++p; p < text.size(); ++p) {
        if (text[p] == '}') {
          if (p + 1 < text.size() && text[p + 1] == '}') {
            value += '}';
            ++p;
            continue;
          }
          ++p;
          break;
        }
        value += text[p];
      }
    } else {
      const qsizetype end = text.indexOf(';', p) < 0 ? text.size() : text.indexOf(';', p);
      value = text.mid(p, end - p);
      p = end;
    }
    result.insert(key, value);
    if (p < text.size() && text[p] == ';') ++p;
  }
  return result;
}
