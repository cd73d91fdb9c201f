#include "ui/QtMainThreadDispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <exception>
#include <stdexcept>

namespace tovi {

QtMainThreadDispatcher::QtMainThreadDispatcher() {
  if (!QCoreApplication::instance())
    throw std::logic_error("QtMainThreadDispatcher needs a QCoreApplication");
}

bool QtMainThreadDispatcher::IsMainThread() const {
  auto *app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void QtMainThreadDispatcher::RunAndWait(const std::function<void()> &call) {
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [&] {
        try {
          call();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (error) std::rethrow_exception(error);
}

void QtMainThreadDispatcher::ProcessPending() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

} // namespace tovi
