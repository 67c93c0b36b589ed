#pragma once
// The property the INI fuzz target checks, shared with the unit test that replays the inputs
// the fuzzer found. The input is: three texts (section, key, value), each a length byte and at
// most that many bytes, then the file.
//
// It must not crash; an unchanged file must go back to disk byte for byte; and after writes (the
// program's own and the one from the input) the saved file must read back exactly as the store
// reads in memory, with every value the writes did not touch unchanged.

#include "platform/uIniStore.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

namespace IniRoundTrip {

// Every readable value, by case-folded section and key.
inline QMap<std::pair<QString, QString>, QString> Contents(const TIniStore& store) {
  QMap<std::pair<QString, QString>, QString> result;
  QStringList sections = store.SectionNames();
  sections.prepend(QString());
  for (const QString& section : sections)
    for (const QString& key : store.KeyNames(section))
      result.insert({section.toCaseFolded(), key.toCaseFolded()},
                    store.Value(section, key).value_or(QStringLiteral("\x01missing")));
  return result;
}

inline QString TakeText(const QByteArray& input, qsizetype& pos) {
  if (pos >= input.size()) return QString();
  const qsizetype length = std::min<qsizetype>(quint8(input[pos]) % 64, input.size() - pos - 1);
  const QString text = QString::fromUtf8(input.mid(pos + 1, length));
  pos += 1 + length;
  return text;
}

// Empty when the property holds, else what failed.
inline const char* Check(const QByteArray& input) {
  qsizetype pos = 0;
  const QString section = TakeText(input, pos);
  const QString key = TakeText(input, pos);
  const QString value = TakeText(input, pos);
  const QByteArray file = input.mid(pos);

  TIniStore store;
  store.LoadFromBytes(file);
  if (store.SaveToBytes() != file) return "an unchanged file is not written back byte for byte";
  const auto before = Contents(store);
  for (auto it = before.begin(); it != before.end(); ++it) {
    if (it.value() == QStringLiteral("\x01missing")) return "a listed key cannot be read";
    (void)ParseDecimalInteger(it.value());
    (void)store.ReadBoolean(it.key().first + u'\\' + it.key().second, false);
  }

  store.WriteString(QStringLiteral("ConnectionListSQL"),
                    QStringLiteral("SQL01:master::0|sql02\\inst:master:monitor:1|"));
  store.WriteString(QStringLiteral("frmMain\\pnlHeaderDetails.Height"), QStringLiteral("227"));
  const QByteArray beforeInputWrite = store.SaveToBytes();
  store.SetValue(section, key, value);
  const std::optional<QString> written = store.Value(section, key);
  if (store.SaveToBytes() != beforeInputWrite) {
    QString stored = value;
    stored.replace(u'\r', u' ').replace(u'\n', u' ');
    if (written != stored) return "a written value does not read back";
  }

  TIniStore reloaded;
  reloaded.LoadFromBytes(store.SaveToBytes());
  const auto after = Contents(reloaded);
  if (after != Contents(store) || reloaded.Value(section, key) != written)
    return "the saved file reads back otherwise than the store in memory";
  for (auto it = before.begin(); it != before.end(); ++it) {
    const bool touched =
        it.key().second == u"connectionlistsql" || it.key().second == u"pnlheaderdetails.height" ||
        (it.key().first == section.toCaseFolded() && it.key().second == key.toCaseFolded());
    if (!touched && after.value(it.key()) != it.value())
      return "a value no write touched has changed";
  }
  return "";
}

} // namespace IniRoundTrip
