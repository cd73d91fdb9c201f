// A manual-reset event (mutex + condition variable): stays signalled until reset, and
// every waiter wakes while it is signalled.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tovi {

class TSyncEvent {
public:
  explicit TSyncEvent(bool signalled) : signalled_(signalled) {}
  TSyncEvent(const TSyncEvent &) = delete;
  TSyncEvent &operator=(const TSyncEvent &) = delete;

  void Set() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      signalled_ = true;
    }
    cv_.notify_all();
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
  }
  bool IsSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return signalled_;
  }
  // True when signalled within `timeoutMs`; a negative time-out waits for ever.
  bool Wait(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (timeoutMs < 0) {
      cv_.wait(lock, [this] { return signalled_; });
      return true;
    }
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; });
  }

private:
  mutable std::mutex mutex_; // protects signalled_
  std::condition_variable cv_;
  bool signalled_;
};

} // namespace tovi
