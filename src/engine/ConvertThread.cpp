#include "engine/ConvertThread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

#include "engine/FFmpeg.h"

namespace tovi {

void TEvent::Set() {
  {
    std::lock_guard lock(mutex_);
    set_ = true;
  }
  changed_.notify_all();
}

void TEvent::Reset() {
  std::lock_guard lock(mutex_);
  set_ = false;
}

bool TEvent::IsSet() const {
  std::lock_guard lock(mutex_);
  return set_;
}

bool TEvent::WaitFor(int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set_; });
}

void ApplyThreadPriority(TThreadPriority priority) {
  if (priority == TThreadPriority::Idle) {
    sched_param param{};
    param.sched_priority = 0;
    (void)pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
    return;
  }
  int nice = 0;
  switch (priority) {
  case TThreadPriority::Lowest: nice = 10; break;
  case TThreadPriority::Lower: nice = 5; break;
  case TThreadPriority::Normal: nice = 0; break;
  case TThreadPriority::Higher: nice = -5; break;
  case TThreadPriority::Highest: nice = -10; break;
  case TThreadPriority::TimeCritical: nice = -15; break;
  case TThreadPriority::Idle: break;
  }
  if (nice == 0) return;
  // On Linux the nice value belongs to the thread (its task id), not the process.
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  (void)setpriority(PRIO_PROCESS, tid, nice);
}

TConvertThread::TConvertThread(TCustomFFmpeg &engine, TThreadPriority priority, TEvent &runFinished)
    : engine_(engine), priority_(priority), runFinished_(runFinished), thread_([this] { Body(); }) {}

TConvertThread::~TConvertThread() {
  if (!Started()) cancelled_ = true;
  Resume(); // a thread never started still has to leave its gate
  if (!thread_.joinable()) return;
  if (IsCurrentThread())
    thread_.detach();
  else
    thread_.join();
}

void TConvertThread::Resume() { started_.Set(); }

void TConvertThread::Body() {
  while (!started_.WaitFor(1000)) {
  }
  if (cancelled_) {
    runFinished_.Set();
    return;
  }
  ApplyThreadPriority(priority_);
  runFinished_.Reset();
  // Run records every failure itself; nothing is expected to leave it.
  try {
    engine_.Run();
  } catch (...) {
  }
  runFinished_.Set();
}

TDoTerminateThread::TDoTerminateThread(TCustomFFmpeg &engine, TEvent &terminateFinished) {
  terminateFinished.Reset();
  thread_ = std::thread([&engine, &terminateFinished] {
    try {
      engine.NotifyTermination();
    } catch (...) {
    }
    terminateFinished.Set();
  });
}

TDoTerminateThread::~TDoTerminateThread() {
  if (!thread_.joinable()) return;
  if (std::this_thread::get_id() == thread_.get_id())
    thread_.detach();
  else
    thread_.join();
}

} // namespace tovi
