// How long the update information dialog takes to show hostile version histories of up to
// 1 MB: the layout of the whole page and a paint of every screenful. Target: under 1 s each.

#include "fuzz/history/uHistoryRender.h"
#include "platform/uUpdateInfo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>

namespace {
void Time(const char* what, const QString& history) {
  TfrmUpdateInformation dlg;
  QElapsedTimer t;
  t.start();
  const qreal height = RenderHistory(dlg, history);
  const double ms = double(t.nsecsElapsed()) / 1e6;
  const bool asText = dlg.htmlWhatsNew->toPlainText().contains(u'<');
  std::printf("%-48s %8lld chars %9.1f ms %9.0f px %s%s\n", what,
              static_cast<long long>(history.size()), ms, height, asText ? "as text" : "as HTML",
              ms > 1000 ? "  OVER 1 s" : "");
}

QString UpTo(const QString& unit, qsizetype size) {
  return unit.repeated(size / unit.size());
}
} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const qsizetype mb = 1024 * 1024, cap = MaxHistoryHtmlSize;
  Time("3,000 nested tables", QString("<table><tr><td>").repeated(3000));
  Time("20,000 nested lists", QString("<ul><li>").repeated(20000) + "x");
  Time("1 MB of bold words", UpTo("<b>x</b> ", mb));
  Time("1 MB without a space", QString(mb, u'x'));
  Time("1 MB of line breaks", UpTo("<br>", mb));
  Time("HTML at the size cap: one row of cells", "<table><tr>" + UpTo("<td>x", cap - 20));
  Time("HTML at the size cap: rows of one cell", "<table>" + UpTo("<tr><td>x", cap - 20));
  Time("HTML at the size cap: tables 30 deep",
       UpTo(QString("<table><tr><td>").repeated(10) + QString("</table>").repeated(10) + "x", cap));
  Time("HTML at the size cap: lists 30 deep",
       UpTo(QString("<ul><li>").repeated(30) + "x" + QString("</ul>").repeated(30), cap));
  Time("HTML at the size cap: inline 30 deep",
       UpTo(QString("<b><i>").repeated(15) + "x" + QString("</i></b>").repeated(15), cap));
  Time("HTML at the size cap: list items", "<ul>" + UpTo("<li>x", cap - 10));
  Time("HTML at the size cap: big fonts", UpTo("<p style=\"font-size:3000px\">W</p>", cap));
  Time("HTML at the size cap: wide images", UpTo("<img src=x width=100000 height=100000>", cap));
  Time("HTML at the size cap: pre without breaks", "<pre>" + QString(cap - 20, u'x') + "</pre>");
  Time("HTML at the size cap: cells with span 64",
       "<table>" + UpTo("<tr><td colspan=64 rowspan=64>x", cap - 20));
  Time("HTML at the size cap: /dev/zero images", UpTo("<img src=\"/dev/zero\">", cap));
  return 0;
}
