#include "ui/QtMainThreadDispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
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
  struct Job {
    std::function<void()> call;
    std::mutex mutex; // protects done, error
    std::condition_variable doneCv;
    bool done = false;
    std::exception_ptr error;
  };
  auto job = std::make_shared<Job>();
  job->call = call;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [job] {
        std::exception_ptr error;
        try {
          job->call();
        } catch (...) {
          error = std::current_exception();
        }
        std::lock_guard lock(job->mutex);
        job->error = error;
        job->done = true;
        job->doneCv.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(job->mutex);
  job->doneCv.wait(lock, [&] { return job->done; });
  if (job->error) std::rethrow_exception(job->error);
}

void QtMainThreadDispatcher::ProcessPending() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

} // namespace tovi
