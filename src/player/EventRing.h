// The player's event ring: ten slots between the threads that produce position and
// state events and the event thread that hands them to the host. Producers never block
// on the host. Consecutive events of the same kind merge (the newer wins); when the
// ring is full the oldest event is dropped.
#pragma once

#include <cstdint>
#include <mutex>

#include "player/SyncEvent.h"

namespace tovi {

enum TPlayerEventKind : int { pekNone = 0, pekPosition = 1, pekState = 2, pekTerminate = 3 };

struct TPlayerEvent {
  int Kind = pekNone;
  int State = 0;        // TPlayState ordinal
  std::int64_t PTS = 0; // microseconds
};

class TEventRing {
public:
  static constexpr int SLOTS = 10;

  // Any thread.
  void Post(const TPlayerEvent &event);
  // Event thread: the oldest waiting event, or kind pekNone when the ring is empty.
  TPlayerEvent Take();
  // Waits until something is posted (or the time-out passes; -1 = no time-out).
  bool WaitNotEmpty(int timeoutMs) { return notEmpty_.Wait(timeoutMs); }
  void Clear();

private:
  std::mutex mutex_; // protects slots_, read_, write_
  TPlayerEvent slots_[SLOTS];
  int read_ = 0;
  int write_ = 0;
  TSyncEvent notEmpty_{false};
};

} // namespace tovi
