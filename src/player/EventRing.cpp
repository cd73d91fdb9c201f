#include "player/EventRing.h"

namespace tovi {

void TEventRing::Post(const TPlayerEvent &event) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int newest = (write_ + SLOTS - 1) % SLOTS;
  if (read_ != write_ && slots_[newest].Kind == event.Kind) {
    slots_[newest] = event;
  } else {
    write_ = (write_ + 1) % SLOTS;
    if (write_ == read_) read_ = (read_ + 1) % SLOTS; // full: the oldest goes
    slots_[(write_ + SLOTS - 1) % SLOTS] = event;
  }
  notEmpty_.Set();
}

TPlayerEvent TEventRing::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  TPlayerEvent result;
  if (read_ != write_) {
    result = slots_[read_];
    read_ = (read_ + 1) % SLOTS;
  }
  if (read_ == write_) notEmpty_.Reset();
  return result;
}

void TEventRing::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  read_ = write_ = 0;
  notEmpty_.Reset();
}

} // namespace tovi
