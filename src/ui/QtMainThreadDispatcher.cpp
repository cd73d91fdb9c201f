#include "ui/QtMainThreadDispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <memory>
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

// A queued call plus our own completion wait rather than Qt's blocking connection: the
// hand-over is then visible to the thread sanitizer, which cannot see into Qt's own
// semaphores.
void QtMainThreadDispatcher::RunAndWait(const std::function<void()> &call) {
  auto job = std::make_shared<TMainThreadCall>(call);
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [job] { job->Run(); }, Qt::QueuedConnection);
  job->Wait();
}

void QtMainThreadDispatcher::ProcessPending() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

} // namespace tovi
