// Helpers shared by the converter component tests: a component on loaded libraries and
// a recorder of its termination notices (with the thread each came on).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "converter/Converter.h"
#include "media/MainThread.h"
#include "support/TestMedia.h"

namespace tovi::test {

struct TNotice {
  TTerminateInfo Info;
  std::thread::id Thread;
};

// Records OnTerminate notices; Wait* block until the all-ended notice (-1) has come.
class NoticeRecorder {
public:
  void Attach(TCustomConverter &converter) {
    converter.SetOnTerminate([this](TCustomConverter &, const TTerminateInfo &info) { Add(info); });
  }
  void Add(const TTerminateInfo &info) {
    std::lock_guard lock(mutex_);
    notices_.push_back({info, std::this_thread::get_id()});
    changed_.notify_all();
  }
  std::vector<TNotice> Notices() const {
    std::lock_guard lock(mutex_);
    return notices_;
  }
  // Waits up to `timeout` for the all-ended notice; true when it came.
  bool WaitAllEnded(std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return HasAllEnded(); });
  }
  // The same while serving a queued main-thread dispatcher on this thread.
  bool PumpUntilAllEnded(TQueuedDispatcher &dispatcher,
                         std::chrono::seconds timeout = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
      dispatcher.WaitAndProcess(10);
      std::lock_guard lock(mutex_);
      if (HasAllEnded()) return true;
    }
    return false;
  }
  int AllEndedCount() const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const TNotice &n : notices_)
      count += n.Info.TaskIndex == -1;
    return count;
  }

private:
  bool HasAllEnded() const {
    for (const TNotice &n : notices_)
      if (n.Info.TaskIndex == -1) return true;
    return false;
  }
  mutable std::mutex mutex_; // protects notices_
  std::condition_variable changed_;
  std::vector<TNotice> notices_;
};

// Runs `call` and returns the EConverterError message it raised ("" when none).
template <typename F> std::string ConverterRefusal(F &&call) {
  try {
    call();
  } catch (const EConverterError &error) {
    return error.what();
  }
  return "";
}

} // namespace tovi::test
