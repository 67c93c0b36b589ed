#pragma once
// Helpers shared by the message-box tests.

#include "forms/ufrmMessageBox.h"
#include "platform/gui/uRichEditURL.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>
#include <QToolButton>

// Presses the left mouse button on the first occurrence of text in the box, as a user would.
inline void ClickText(TRichEditURL* edit, const QString& text) {
  const qsizetype pos = edit->toPlainText().indexOf(text);
  QVERIFY2(pos >= 0, qPrintable(text));
  QTextCursor cursor(edit->document());
  cursor.setPosition(int(pos) + 1);
  QTest::mouseClick(edit->viewport(), Qt::LeftButton, {}, edit->cursorRect(cursor).center());
}

// What the copy button puts on the clipboard.
inline QString CopiedText(TfrmMessageBox& box) {
  QGuiApplication::clipboard()->clear();
  box.btnCopyToClipboard->click();
  return QGuiApplication::clipboard()->text();
}
