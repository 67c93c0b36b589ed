#pragma once
// Shows a version history in the update information dialog and renders all of it offscreen:
// the layout of the whole document and a paint of every page of it. Shared by the fuzz
// target, the test that feeds it hostile pages and the benchmark that times them.

#include "forms/ufrmWebUpdateInformation.h"

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QPainter>
#include <QTextBrowser>
#include <QTextDocument>

// Returns the laid-out document height (pixels), so callers can see the work was done.
inline qreal RenderHistory(TfrmUpdateInformation& dlg, const QString& history) {
  dlg.SetUpdateInfo(history);
  QTextDocument* doc = dlg.htmlWhatsNew->document();
  doc->setTextWidth(480);
  const qreal height = doc->documentLayout()->documentSize().height();
  // Paints page by page through a small image, as scrolling through it would; images and
  // style sheets are asked for here.
  QImage page(480, 320, QImage::Format_ARGB32_Premultiplied);
  const qreal step = page.height();
  for (qreal top = 0; top < height && top < 200 * step; top += step) {
    page.fill(Qt::white);
    QPainter painter(&page);
    painter.translate(0, -top);
    doc->drawContents(&painter, QRectF(0, top, page.width(), step));
  }
  return height;
}
