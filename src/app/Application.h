// The application object: its error handler sees every exception that escapes an event
// handler, logs it and shows it; the program goes on. Crashes (signals) are left to the
// system, never caught.
#pragma once

#include <QApplication>

#include <exception>

namespace tovi {

class TApplication final : public QApplication {
public:
  TApplication(int &argc, char **argv);
  bool notify(QObject *receiver, QEvent *event) override;
};

// Logs the error on stderr and shows it: an engine error with the warning icon, any
// other with the error icon, titled with the application title; the text gets a full
// stop as ApplicationErrorText says. GUI thread.
void HandleApplicationError(std::exception_ptr error);

} // namespace tovi
