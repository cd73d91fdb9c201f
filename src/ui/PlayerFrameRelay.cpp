#include "ui/PlayerFrameRelay.h"

#include <mutex>

#include "media/Bitmap.h"
#include "player/Player.h"

namespace tovi {

struct TPlayerFrameRelay::TShared {
  std::mutex lock;                     // guards every field below
  TPlayerFrameRelay *target = nullptr; // null once detached; never used without `lock`
  QImage frame;
  std::int64_t pts = -1;
  bool posted = false; // a FrameReady is queued and not yet delivered
};

TPlayerFrameRelay::TPlayerFrameRelay(QObject *parent)
    : QObject(parent), shared_(std::make_shared<TShared>()) {}

TPlayerFrameRelay::~TPlayerFrameRelay() {
  Detach();
  std::lock_guard<std::mutex> guard(shared_->lock);
  shared_->target = nullptr;
}

void TPlayerFrameRelay::Attach(TCustomPlayer &player) {
  Detach();
  {
    std::lock_guard<std::mutex> guard(shared_->lock);
    shared_->target = this;
  }
  player_ = &player;
  // Runs on the player's video decode thread with the bitmap's canvas locked.
  player.SetOnHook([shared = shared_](TCustomPlayer *, TBitmap *bitmap, std::int64_t pts) {
    if (!bitmap || bitmap->Width() <= 0 || bitmap->Height() <= 0 || !bitmap->Bits()) return;
    QImage copy =
        QImage(bitmap->Bits(), bitmap->Width(), bitmap->Height(), bitmap->RowBytes(), QImage::Format_BGR888)
            .copy();
    std::lock_guard<std::mutex> guard(shared->lock);
    if (!shared->target) return;
    shared->frame = std::move(copy);
    shared->pts = pts;
    if (shared->posted) return;
    shared->posted = true;
    // Posted while the lock keeps the target alive; Qt drops the call if the target is
    // destroyed before the GUI thread runs it.
    QMetaObject::invokeMethod(
        shared->target,
        [target = shared->target, shared] {
          {
            std::lock_guard<std::mutex> inner(shared->lock);
            shared->posted = false;
          }
          emit target->FrameReady();
        },
        Qt::QueuedConnection);
  });
  player.SetHook(true);
}

void TPlayerFrameRelay::Detach() {
  if (player_) {
    player_->SetHook(false);
    player_->SetOnHook(nullptr);
    player_ = nullptr;
  }
  std::lock_guard<std::mutex> guard(shared_->lock);
  shared_->posted = false;
}

QImage TPlayerFrameRelay::LatestFrame(std::int64_t *pts) const {
  std::lock_guard<std::mutex> guard(shared_->lock);
  if (pts) *pts = shared_->pts;
  return shared_->frame;
}

void TPlayerFrameRelay::Clear() {
  std::lock_guard<std::mutex> guard(shared_->lock);
  shared_->frame = QImage();
  shared_->pts = -1;
}

} // namespace tovi
