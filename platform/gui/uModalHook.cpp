#include "platform/gui/uModalHook.h"

#include <QDialog>
#include <QHash>
#include <QQueue>

namespace ModalHook {
namespace {
QHash<QString, QQueue<Answer>>& Queue() {
  static QHash<QString, QQueue<Answer>> q;
  return q;
}
bool g_strict = false;
int g_unanswered = 0;
} // namespace

void SetNextAnswer(const QString& formName, Answer answer) {
  Queue()[formName].enqueue(std::move(answer));
}

void SetNextAnswer(const QString& formName, int result) {
  SetNextAnswer(formName, [result](QDialog&) { return result; });
}

int PendingAnswers(const QString& formName) {
  return int(Queue().value(formName).size());
}

void ClearAll() {
  Queue().clear();
  g_unanswered = 0;
}

void SetStrict(bool strict) {
  g_strict = strict;
}
int UnansweredCount() {
  return g_unanswered;
}

int Exec(QDialog& dialog) {
  auto it = Queue().find(dialog.objectName());
  if (it != Queue().end() && !it->isEmpty()) {
    Answer answer = it->dequeue();
    // Let the dialog run its show-time code (focus, hidden pages) as it would when shown.
    dialog.setAttribute(Qt::WA_DontShowOnScreen, true);
    dialog.show();
    const int result = answer(dialog);
    dialog.hide();
    dialog.setResult(result);
    return result;
  }
  if (g_strict) {
    ++g_unanswered;
    qWarning("ModalHook: no answer queued for dialog '%s'", qPrintable(dialog.objectName()));
    dialog.setResult(QDialog::Rejected);
    return QDialog::Rejected;
  }
  return dialog.exec();
}

} // namespace ModalHook
