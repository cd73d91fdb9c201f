#include "player/PacketQueue.h"

namespace tovi {

namespace {
const char kFlushText[] = "FLUSH";
}

const std::uint8_t *FlushMarkerData() { return reinterpret_cast<const std::uint8_t *>(kFlushText); }

bool IsFlushPacket(const AVPacket *packet) { return packet && packet->data == FlushMarkerData(); }

void InitFlushPacket(AVPacket *packet) {
  ff::av_packet_unref(packet);
  // The library never writes through or frees a data pointer without a buffer.
  packet->data = const_cast<std::uint8_t *>(FlushMarkerData());
  packet->size = 0;
}

void TPacketQueue::Init() {
  std::lock_guard<std::mutex> lock(mutex_);
  nodes_.clear();
  size_ = 0;
  abort_ = false;
}

int TPacketQueue::Put(const AVPacket *packet) {
  PacketPtr node = MakePacket();
  if (!node) return -1;
  if (IsFlushPacket(packet)) {
    InitFlushPacket(node.get());
  } else if (ff::av_packet_ref(node.get(), packet) < 0) {
    return -1;
  }
  const int bytes = node->size + NODE_BYTES;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_.push_back(std::move(node));
    size_ += bytes;
  }
  cond_.notify_one();
  return 0;
}

int TPacketQueue::Get(AVPacket *out, bool block) {
  PacketPtr node;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (abort_) return -1;
      if (!nodes_.empty()) {
        node = std::move(nodes_.front());
        nodes_.pop_front();
        size_ -= node->size + NODE_BYTES;
        break;
      }
      if (!block) return 0;
      cond_.wait(lock);
    }
  }
  ff::av_packet_unref(out);
  if (IsFlushPacket(node.get())) {
    InitFlushPacket(out);
    node->data = nullptr; // not the library's to free
  } else {
    ff::av_packet_move_ref(out, node.get());
  }
  return 1;
}

void TPacketQueue::Flush() {
  std::deque<PacketPtr> gone;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    gone.swap(nodes_);
    size_ = 0;
  }
  for (PacketPtr &p : gone)
    if (IsFlushPacket(p.get())) p->data = nullptr;
}

void TPacketQueue::Abort() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    abort_ = true;
  }
  cond_.notify_all();
}

int TPacketQueue::PacketCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(nodes_.size());
}

int TPacketQueue::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return size_;
}

bool TPacketQueue::Aborted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return abort_;
}

} // namespace tovi
