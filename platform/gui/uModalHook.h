#pragma once
// Every modal dialog and box of the program is shown through ModalHook::Exec, so tests can
// queue the next answer for a form and drive flows that open boxes without blocking.

#include <QString>
#include <functional>

class QDialog;

namespace ModalHook {

// Receives the fully prepared dialog instead of the user; returns its modal result.
// It may fill inputs and click buttons first.
using Answer = std::function<int(QDialog&)>;

// Queues a one-shot answer for the next dialog whose objectName() is formName.
void SetNextAnswer(const QString& formName, Answer answer);
void SetNextAnswer(const QString& formName, int result);
int PendingAnswers(const QString& formName);
void ClearAll();

// Strict mode (tests): a dialog without a queued answer is rejected at once and counted,
// instead of blocking on exec().
void SetStrict(bool strict);
int UnansweredCount();

// Shows the dialog modally, or hands it to the queued answer for its form.
int Exec(QDialog& dialog);

} // namespace ModalHook
