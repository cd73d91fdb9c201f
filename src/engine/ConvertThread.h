// The threads that run an engine's job and deliver its termination notice, and the
// small manual-reset event they signal.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/EngineEvents.h"

namespace tovi {

class TCustomFFmpeg;

// A manual-reset event: once set it stays set (every waiter wakes) until Reset.
class TEvent {
public:
  explicit TEvent(bool initiallySet) : set_(initiallySet) {}
  TEvent(const TEvent &) = delete;
  TEvent &operator=(const TEvent &) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // True when the event is (or becomes) set within timeoutMs.
  bool WaitFor(int timeoutMs) const;

private:
  mutable std::mutex mutex_; // protects set_
  mutable std::condition_variable changed_;
  bool set_;
};

// Gives the calling thread a priority: Idle runs it under SCHED_IDLE, the others set
// its nice value (raising it above normal needs a privilege; refusals are ignored).
void ApplyThreadPriority(TThreadPriority priority);

// The worker thread of one job. It is created suspended: the body starts once Resume
// is called, resets `runFinished`, runs the engine's Run and sets `runFinished` again.
// Destruction joins the thread (a thread destroying itself detaches instead); the
// engine must not be destroyed before the thread has left Run.
class TConvertThread {
public:
  TConvertThread(TCustomFFmpeg &engine, TThreadPriority priority, TEvent &runFinished);
  ~TConvertThread();
  TConvertThread(const TConvertThread &) = delete;
  TConvertThread &operator=(const TConvertThread &) = delete;

  // Lets a suspended thread start; does nothing once it has started.
  void Resume();
  bool Started() const { return started_.IsSet(); }
  bool IsCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  TThreadPriority Priority() const { return priority_; }

private:
  void Body();

  TCustomFFmpeg &engine_;
  TThreadPriority priority_;
  TEvent &runFinished_;
  TEvent started_{false};
  std::atomic<bool> cancelled_{false}; // destroyed before it was resumed: skip Run
  std::thread thread_;                 // last: starts after the members above exist
};

// Sends an engine's termination notice on a thread of its own: resets
// `terminateFinished`, calls NotifyTermination and sets the event again. Starts at
// once; destruction joins (or detaches when called on the thread itself).
class TDoTerminateThread {
public:
  TDoTerminateThread(TCustomFFmpeg &engine, TEvent &terminateFinished);
  ~TDoTerminateThread();
  TDoTerminateThread(const TDoTerminateThread &) = delete;
  TDoTerminateThread &operator=(const TDoTerminateThread &) = delete;

private:
  std::thread thread_;
};

} // namespace tovi
