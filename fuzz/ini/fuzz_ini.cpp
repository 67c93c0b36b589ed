// The INI reader on arbitrary bytes. It must not crash; an unchanged file must go back to disk
// byte for byte; and after writes (fixed ones and one taken from the input) the saved file
// must read back exactly as the store reads in memory.

#include "platform/uIniStore.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

// Every readable value, by case-folded section and key.
std::map<std::pair<QString, QString>, QString> Contents(const TIniStore& store) {
  std::map<std::pair<QString, QString>, QString> result;
  QStringList sections = store.SectionNames();
  sections.prepend(QString());
  for (const QString& section : sections)
    for (const QString& key : store.KeyNames(section)) {
      const std::optional<QString> value = store.Value(section, key);
      Check(value.has_value());
      result[{section.toCaseFolded(), key.toCaseFolded()}] = *value;
    }
  return result;
}

QString Text(FuzzedDataProvider& input) {
  const std::string bytes = input.ConsumeRandomLengthString(64);
  return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const QString section = Text(input);
  const QString key = Text(input);
  const QString value = Text(input);
  const std::string rest = input.ConsumeRemainingBytesAsString();
  const QByteArray file(rest.data(), qsizetype(rest.size()));

  TIniStore store;
  store.LoadFromBytes(file);
  Check(store.SaveToBytes() == file);
  const auto before = Contents(store);
  for (const auto& [name, text] : before) {
    (void)ParseDecimalInteger(text);
    (void)store.ReadBoolean(name.first + u'\\' + name.second, false);
  }

  // The writes the program makes, then the one from the input.
  store.WriteString(QStringLiteral("ConnectionListSQL"),
                    QStringLiteral("SQL01:master::0|sql02\\inst:master:monitor:1|"));
  store.WriteString(QStringLiteral("frmMain\\pnlHeaderDetails.Height"), QStringLiteral("227"));
  const QByteArray beforeInputWrite = store.SaveToBytes();
  store.SetValue(section, key, value);
  const std::optional<QString> written = store.Value(section, key);
  const bool accepted = store.SaveToBytes() != beforeInputWrite;
  if (accepted) {
    QString stored = value;
    stored.replace(u'\r', u' ').replace(u'\n', u' ');
    Check(written == stored);
  }

  TIniStore reloaded;
  reloaded.LoadFromBytes(store.SaveToBytes());
  Check(Contents(reloaded) == Contents(store));
  Check(reloaded.Value(section, key) == written);
  Check(reloaded.ReadString(QStringLiteral("frmMain\\pnlHeaderDetails.Height")) ==
        store.ReadString(QStringLiteral("frmMain\\pnlHeaderDetails.Height")));

  // Values the writes did not touch read as before.
  const auto after = Contents(reloaded);
  for (const auto& [name, text] : before) {
    const bool touched =
        name.second == u"connectionlistsql" || name.second == u"pnlheaderdetails.height" ||
        (name.first == section.toCaseFolded() && name.second == key.toCaseFolded());
    if (!touched) Check(after.at(name) == text);
  }
  return 0;
}
