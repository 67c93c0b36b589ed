// The INI reader on arbitrary bytes: it must not crash, must write an unchanged file back byte
// for byte, and after a few writes every other value must read back as before.

#include "platform/uIniStore.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <tuple>

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

bool Same(const QString& a, const QString& b) {
  return a.compare(b, Qt::CaseInsensitive) == 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
  TIniStore store;
  store.LoadFromBytes(input);
  Check(store.SaveToBytes() == input);

  QList<std::tuple<QString, QString, QString>> before;
  QStringList sections = store.SectionNames();
  sections.prepend(QString());
  for (const QString& section : sections)
    for (const QString& key : store.KeyNames(section)) {
      const std::optional<QString> value = store.Value(section, key);
      Check(value.has_value());
      before.append({section, key, *value});
      (void)ParseDecimalInteger(*value);
    }
  (void)store.ReadBoolean(QStringLiteral("frmMain\\Flag"), false);

  // Writes: one key of the default section, one in a section that may be new, and the first
  // key the file holds.
  QList<std::tuple<QString, QString, QString>> written = {
      {QStringLiteral("Settings"), QStringLiteral("ConnectionListSQL"),
       QStringLiteral("SQL01:master::0|sql02\\inst:master:monitor:1|")},
      {QStringLiteral("frmMain"), QStringLiteral("pnlHeaderDetails.Height"),
       QStringLiteral(" 227 ")},
  };
  if (!before.isEmpty())
    written.prepend(
        {std::get<0>(before.first()), std::get<1>(before.first()), QStringLiteral("new\\value=x")});
  for (const auto& [section, key, value] : written)
    store.SetValue(section, key, value);

  TIniStore reloaded;
  reloaded.LoadFromBytes(store.SaveToBytes());
  for (qsizetype i = 0; i < written.size(); ++i) {
    const auto& [section, key, value] = written[i];
    bool later = false; // a later write to the same key wins
    for (qsizetype j = i + 1; j < written.size(); ++j)
      later =
          later || (Same(std::get<0>(written[j]), section) && Same(std::get<1>(written[j]), key));
    if (!later) Check(reloaded.Value(section, key) == value);
  }
  for (const auto& [section, key, value] : before) {
    bool overwritten = false;
    for (const auto& w : written)
      overwritten = overwritten || (Same(std::get<0>(w), section) && Same(std::get<1>(w), key));
    if (!overwritten) Check(reloaded.Value(section, key) == value);
  }
  return 0;
}
