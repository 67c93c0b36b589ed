// Web-address detection in message texts, which come from servers and the system: every
// link must lie inside the text, in order, without overlap, and open a web address.

#include "platform/gui/uRichEditURL.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
  qsizetype end = 0;
  for (const TWebAddress& a : FindWebAddresses(text)) {
    if (a.Start < end || a.Length <= 0 || a.Start + a.Length > text.size()) std::abort();
    end = a.Start + a.Length;
    const QString linkText = text.mid(a.Start, a.Length);
    if (!a.Href.endsWith(linkText)) std::abort();
    if (!a.Href.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) &&
        !a.Href.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) &&
        !a.Href.startsWith(QLatin1String("ftp://"), Qt::CaseInsensitive))
      std::abort();
  }
  return 0;
}
