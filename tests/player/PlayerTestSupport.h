// Shared pieces of the player tests: dummy SDL drivers, a recorder of the player's
// events, and a watchdog that turns a hang into a failure.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "fixtures/Pattern.h"
#include "player/Player.h"
#include "support/TestMedia.h"

namespace tovi::test {

// Before SDL starts: no window system and no sound device needed.
inline void UseDummyDrivers() {
  ::setenv("SDL_VIDEODRIVER", "dummy", 1);
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
}

// Records states and positions as the event thread delivers them.
class TEventLog {
public:
  void Attach(TCustomPlayer &player) {
    player.SetOnState([this](TCustomPlayer *, TPlayState s) {
      std::lock_guard<std::mutex> lock(mutex_);
      states_.push_back(s);
      cv_.notify_all();
    });
    player.SetOnPosition([this](TCustomPlayer *, std::int64_t pts) {
      std::lock_guard<std::mutex> lock(mutex_);
      positions_.push_back(pts);
      cv_.notify_all();
    });
  }
  // True once `state` has been delivered `count` times.
  bool WaitFor(TPlayState state, int count = 1, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return std::count(states_.begin(), states_.end(), state) >= count; });
  }
  int Count(TPlayState state) {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(states_.begin(), states_.end(), state));
  }
  std::vector<TPlayState> States() {
    std::lock_guard<std::mutex> lock(mutex_);
    return states_;
  }
  std::vector<std::int64_t> Positions() {
    std::lock_guard<std::mutex> lock(mutex_);
    return positions_;
  }

private:
  std::mutex mutex_; // protects states_, positions_
  std::condition_variable cv_;
  std::vector<TPlayState> states_;
  std::vector<std::int64_t> positions_;
};

// One hooked picture: its time and the frame number its pixels carry.
struct THooked {
  std::int64_t pts;
  int frame;
};

class THookLog {
public:
  void Attach(TCustomPlayer &player) {
    player.SetHook(true);
    player.SetOnHook([this](TCustomPlayer *, TBitmap *bmp, std::int64_t pts) {
      const int frame =
          fixtures::ReadFrameNumberFromBGR(bmp->Bits(), bmp->RowBytes(), bmp->Width(), bmp->Height());
      std::lock_guard<std::mutex> lock(mutex_);
      hooked_.push_back({pts, frame});
      cv_.notify_all();
    });
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    hooked_.clear();
  }
  bool WaitForCount(size_t n, int timeoutMs = 3000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return hooked_.size() >= n; });
  }
  std::vector<THooked> Hooked() {
    std::lock_guard<std::mutex> lock(mutex_);
    return hooked_;
  }

private:
  std::mutex mutex_; // protects hooked_
  std::condition_variable cv_;
  std::vector<THooked> hooked_;
};

// Aborts the test program when the scope is not left within `seconds`: a hang in the
// player must fail the test rather than stall the suite.
class TWatchdog {
public:
  TWatchdog(const char *what, int seconds)
      : thread_([this, what, seconds] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
            std::fprintf(stderr, "watchdog: %s did not return within %d s\n", what, seconds);
            std::abort();
          }
        }) {}
  ~TWatchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

private:
  std::mutex mutex_; // protects done_
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

inline double SecondsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

} // namespace tovi::test
