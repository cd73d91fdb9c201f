#include "engine/VideoEncodeStage.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "engine/FFmpegException.h"
#include "media/SendReceive.h"

namespace tovi {

TVideoEncodeStage::TVideoEncodeStage(AVCodecContext *encoder, std::size_t depth)
    : encoder_(encoder), depth_(std::max<std::size_t>(depth, 1)), thread_([this] { Run(); }) {}

TVideoEncodeStage::~TVideoEncodeStage() { StopThread(); }

void TVideoEncodeStage::StopThread() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TVideoEncodeStage::Abandon() {
  StopThread();
  for (TItem &item : pictures_)
    (void)item.Picture.release();
  for (PacketPtr &packet : packets_)
    (void)packet.release();
}

void TVideoEncodeStage::Push(FramePtr picture, bool takeAspect, const TPacketWriter &write) {
  {
    std::unique_lock lock(mutex_);
    // The encoder always takes the next picture unless it failed or was drained, so
    // this wait ends.
    changed_.wait(lock, [&] { return pictures_.size() < depth_ || !failure_.empty() || drained_; });
    if (failure_.empty() && !drained_) pictures_.push_back(TItem{std::move(picture), takeAspect});
  }
  changed_.notify_all();
  WriteReady(write);
  std::lock_guard lock(mutex_);
  if (drained_) throw FFmpegException("Video encoding failed: a picture after the end of the stream");
}

void TVideoEncodeStage::Drain(const TPacketWriter &write) {
  {
    std::unique_lock lock(mutex_);
    if (!drained_ && failure_.empty()) {
      pictures_.push_back(TItem{});
      changed_.notify_all();
    }
    // Packets are written while the encoder still works, so they do not pile up.
    while (!drained_ && failure_.empty()) {
      changed_.wait(lock, [&] { return drained_ || !failure_.empty() || !packets_.empty(); });
      if (packets_.empty()) continue;
      lock.unlock();
      WriteReady(write);
      lock.lock();
    }
  }
  WriteReady(write);
}

void TVideoEncodeStage::WriteReady(const TPacketWriter &write) {
  std::deque<PacketPtr> ready;
  std::string failure;
  {
    std::lock_guard lock(mutex_);
    ready.swap(packets_);
    failure = failure_;
  }
  for (PacketPtr &packet : ready)
    write(packet.get());
  if (!failure.empty()) throw FFmpegException(failure);
}

// Runs on the stage's own thread.
void TVideoEncodeStage::Run() {
  PacketPtr scratch = MakePacket();
  for (;;) {
    TItem item;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return quit_ || !pictures_.empty(); });
      if (quit_) return;
      item = std::move(pictures_.front());
      pictures_.pop_front();
    }
    // A free place in the queue for the job's thread.
    changed_.notify_all();
    std::string failure;
    try {
      if (!scratch) throw FFmpegException("av_packet_alloc fail");
      Encode(item, scratch.get());
    } catch (const std::exception &error) {
      failure = error.what();
    } catch (...) {
      failure = "Video encoding failed";
    }
    if (failure.empty() && item.Picture) continue;
    // Failed or drained: nothing more is encoded, and the pictures still waiting go.
    std::unique_lock lock(mutex_);
    failure_ = failure;
    drained_ = !item.Picture;
    pictures_.clear();
    changed_.notify_all();
    changed_.wait(lock, [&] { return quit_; });
    return;
  }
}

// Runs on the stage's own thread.
void TVideoEncodeStage::Encode(TItem &item, AVPacket *scratch) {
  if (item.Picture && item.TakeAspect) encoder_->sample_aspect_ratio = item.Picture->sample_aspect_ratio;
  const int rc = EncodeAndReceive(encoder_, item.Picture.get(), scratch, [&](AVPacket *packet) {
    PacketPtr kept = MakePacket();
    if (!kept) throw FFmpegException("av_packet_alloc fail");
    ff::av_packet_move_ref(kept.get(), packet);
    {
      std::lock_guard lock(mutex_);
      packets_.push_back(std::move(kept));
    }
    changed_.notify_all();
    return 0;
  });
  if (rc < 0 && rc != AVERROR_EOF) throw FFmpegException("Video encoding failed");
}

} // namespace tovi
