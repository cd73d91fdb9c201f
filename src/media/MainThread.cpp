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

void TMainThreadCall::Run() {
  std::exception_ptr error;
  try {
    call_();
  } catch (...) {
    error = std::current_exception();
  }
  std::lock_guard lock(mutex_);
  error_ = error;
  done_ = true;
  doneCv_.notify_all();
}

void TMainThreadCall::Wait() {
  std::unique_lock lock(mutex_);
  doneCv_.wait(lock, [&] { return done_; });
  if (error_) std::rethrow_exception(error_);
}

TQueuedDispatcher::TQueuedDispatcher() : mainThread_(std::this_thread::get_id()) {}

bool TQueuedDispatcher::IsMainThread() const { return std::this_thread::get_id() == mainThread_; }

void TQueuedDispatcher::RunAndWait(const std::function<void()> &call) {
  auto job = std::make_shared<TMainThreadCall>(call);
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(job);
  }
  wake_.notify_all();
  job->Wait();
}

void TQueuedDispatcher::ProcessPending() {
  for (;;) {
    std::shared_ptr<TMainThreadCall> job;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      job = queue_.front();
      queue_.pop_front();
    }
    job->Run();
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
