#include "media/MainThread.h"

#include <chrono>

namespace tovi {
namespace {

struct DispatcherSlot {
  std::mutex mutex; // protects dispatcher
  std::shared_ptr<IMainThreadDispatcher> dispatcher;
};

DispatcherSlot &Slot() {
  static DispatcherSlot slot;
  return slot;
}

} // namespace

std::shared_ptr<IMainThreadDispatcher> SetMainThreadDispatcher(std::shared_ptr<IMainThreadDispatcher> d) {
  std::lock_guard lock(Slot().mutex);
  std::swap(Slot().dispatcher, d);
  return d;
}

std::shared_ptr<IMainThreadDispatcher> MainThreadDispatcher() {
  std::lock_guard lock(Slot().mutex);
  return Slot().dispatcher;
}

bool IsMainThread() {
  auto d = MainThreadDispatcher();
  return !d || d->IsMainThread();
}

void RunInMainThread(const std::function<void()> &call) {
  auto d = MainThreadDispatcher();
  if (!d || d->IsMainThread())
    call();
  else
    d->RunAndWait(call);
}

void ProcessPendingMessages() {
  auto d = MainThreadDispatcher();
  if (d && d->IsMainThread()) d->ProcessPending();
}

struct TQueuedDispatcher::Job {
  std::function<void()> call;
  std::mutex mutex;            // protects done, error
  std::condition_variable doneCv;
  bool done = false;
  std::exception_ptr error;
};

TQueuedDispatcher::TQueuedDispatcher() : mainThread_(std::this_thread::get_id()) {}

bool TQueuedDispatcher::IsMainThread() const { return std::this_thread::get_id() == mainThread_; }

void TQueuedDispatcher::RunAndWait(const std::function<void()> &call) {
  auto job = std::make_shared<Job>();
  job->call = call;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(job);
  }
  wake_.notify_all();
  std::unique_lock lock(job->mutex);
  job->doneCv.wait(lock, [&] { return job->done; });
  if (job->error) std::rethrow_exception(job->error);
}

void TQueuedDispatcher::ProcessPending() {
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      job = queue_.front();
      queue_.pop_front();
    }
    std::exception_ptr error;
    try {
      job->call();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard lock(job->mutex);
      job->done = true;
      job->error = error;
    }
    job->doneCv.notify_all();
  }
}

bool TQueuedDispatcher::WaitAndProcess(int timeoutMs) {
  {
    std::unique_lock lock(mutex_);
    if (!wake_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !queue_.empty(); }))
      return false;
  }
  ProcessPending();
  return true;
}

} // namespace tovi
