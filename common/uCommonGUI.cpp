#include "common/uCommonGUI.h"

#include "platform/gui/uModalHook.h"

#include <QMessageBox>

TVelmoraApplication::TVelmoraApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TVelmoraApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    HandleUncaughtError(std::current_exception());
    return false;
  }
}

static QString ErrorText(std::exception_ptr error) {
  try {
    if (error)
      std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
  }
  return QApplication::tr("Unknown error");
}

void HandleUncaughtError(std::exception_ptr error) {
  const QString text = ErrorText(error);
  qWarning("Uncaught error: %s", qPrintable(text));
  QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), text,
                  QMessageBox::Ok, QApplication::activeWindow());
  box.setObjectName("ApplicationErrorBox");
  box.setTextFormat(Qt::PlainText);
  ModalHook::Exec(box);
}

bool RunGuarded(const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (...) {
    HandleUncaughtError(std::current_exception());
    return false;
  }
}
