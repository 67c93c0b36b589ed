#pragma once
// GUI helpers shared by all forms.

#include <QApplication>
#include <exception>
#include <functional>

// The application object. Qt lets no exception cross its event loop, so notify() catches
// what an event handler let through and hands it to HandleUncaughtError.
class TVelmoraApplication : public QApplication {
  Q_OBJECT
public:
  TVelmoraApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the error's own text in a standard error box (form name "ApplicationErrorBox");
// the program goes on.
void HandleUncaughtError(std::exception_ptr error);

// Runs a handler that may fail and routes any error to HandleUncaughtError.
// Returns false when the handler failed.
bool RunGuarded(const std::function<void()>& handler);
