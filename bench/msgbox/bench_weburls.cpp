// How long the message box takes to find and mark the web addresses in long message texts.

#include "platform/gui/uRichEditURL.h"

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>

namespace {
void Report(const char* what, qsizetype chars, qint64 ns, qsizetype links) {
  std::printf("%-44s %9lld chars %9.2f ms %6lld links\n", what, static_cast<long long>(chars),
              double(ns) / 1e6, static_cast<long long>(links));
}

void Find(const char* what, const QString& text) {
  QElapsedTimer t;
  t.start();
  const qsizetype links = FindWebAddresses(text).size();
  Report(what, text.size(), t.nsecsElapsed(), links);
}
} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QString errors;
  for (int i = 0; i < 10000; ++i)
    errors += QStringLiteral("Msg 18456, Level 14, State 1: Login failed for user 'sa'. See "
                             "https://learn.example.com/sql/errors/18456?line=%1 for help.\r\n")
                  .arg(i);
  Find("find: 10,000 error lines with an address", errors);
  Find("find: address + 1,000,000 closing brackets",
       QStringLiteral("http://a.example.com/") + QString(1000000, u')'));
  Find("find: 1,000,000 characters without an address", QString(1000000, u'w'));
  Find("find: 100,000 'www.' without a domain", QStringLiteral("www. ").repeated(100000));

  TRichEditURL edit;
  QElapsedTimer t;
  t.start();
  edit.SetPlainTextWithLinks(errors);
  Report("show: 10,000 error lines with an address", errors.size(), t.nsecsElapsed(),
         FindWebAddresses(errors).size());
  return 0;
}
