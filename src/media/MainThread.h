// Running a call in the user-interface ("main") thread.
//
// The media layer knows no UI toolkit. An application installs a dispatcher: the Qt
// application one built on a blocking queued call into the GUI thread, the command line
// a queued dispatcher it pumps itself. Without one, calls run directly on the calling
// thread, which is what tests and simple tools want.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tovi {

class IMainThreadDispatcher {
public:
  virtual ~IMainThreadDispatcher() = default;
  // True on the thread that counts as the user-interface thread.
  virtual bool IsMainThread() const = 0;
  // Runs `call` in the main thread and returns after it has run. Never called from the
  // main thread itself (RunInMainThread calls directly there).
  virtual void RunAndWait(const std::function<void()> &call) = 0;
  // Main thread only: runs every call and message waiting for the main thread.
  virtual void ProcessPending() = 0;
};

// Installs the process-wide dispatcher (null: direct calls). The previous one is
// returned so a scope can restore it.
std::shared_ptr<IMainThreadDispatcher> SetMainThreadDispatcher(std::shared_ptr<IMainThreadDispatcher> d);
std::shared_ptr<IMainThreadDispatcher> MainThreadDispatcher();

// True when no dispatcher is installed, or on the dispatcher's main thread.
bool IsMainThread();

// On the main thread (or without a dispatcher) `call` runs directly; from any other
// thread it is queued to the main thread and the caller blocks until it has run.
// Exceptions thrown by `call` are rethrown in the caller.
void RunInMainThread(const std::function<void()> &call);

// Main thread: runs every queued call and pending UI message. Elsewhere: no-op.
void ProcessPendingMessages();

// One call handed to the main thread: the worker waits for it, the main thread runs it.
// Exceptions are carried back to the waiting worker.
class TMainThreadCall {
public:
  explicit TMainThreadCall(std::function<void()> call) : call_(std::move(call)) {}
  // Main thread.
  void Run();
  // Worker: blocks until Run() has finished, then rethrows what the call threw.
  void Wait();

private:
  std::function<void()> call_;
  std::mutex mutex_; // protects done_, error_
  std::condition_variable doneCv_;
  bool done_ = false;
  std::exception_ptr error_;
};

// A dispatcher without a UI toolkit: the thread that creates it is the main thread and
// must call ProcessPending() (or WaitAndProcess) to run what workers queue.
class TQueuedDispatcher final : public IMainThreadDispatcher {
public:
  TQueuedDispatcher();
  bool IsMainThread() const override;
  void RunAndWait(const std::function<void()> &call) override;
  void ProcessPending() override;
  // Main thread: waits up to `timeoutMs` for a queued call, then runs all of them.
  // Returns true when at least one call ran.
  bool WaitAndProcess(int timeoutMs);

private:
  std::thread::id mainThread_;
  std::mutex mutex_;             // protects queue_
  std::condition_variable wake_; // signalled when a job is queued
  std::deque<std::shared_ptr<TMainThreadCall>> queue_;
};

} // namespace tovi
