// The packet queues between the demux thread (the only producer) and the audio
// callback, the video decode thread and the subtitle decode thread (one consumer each).
//
// The flush marker is a packet whose data pointer is the address of the constant text
// "FLUSH"; it carries no payload and is recognised by pointer identity only. It tells a
// consumer to flush its decoder (the demux thread puts one after every seek).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "media/Owners.h"

namespace tovi {

// The marker's data pointer.
const std::uint8_t *FlushMarkerData();
bool IsFlushPacket(const AVPacket *packet);
// Points `packet` (no payload of its own) at the marker text.
void InitFlushPacket(AVPacket *packet);

class TPacketQueue {
public:
  // Bytes counted per queued node on top of the payload.
  static constexpr int NODE_BYTES = 72;

  TPacketQueue() = default;
  TPacketQueue(const TPacketQueue &) = delete;
  TPacketQueue &operator=(const TPacketQueue &) = delete;
  ~TPacketQueue() { Flush(); }

  // Empties the queue and clears the abort mark.
  void Init();
  // Queues a reference to `packet` (the flush marker as it is). 0, or -1 when the
  // payload cannot be referenced or the node not allocated.
  int Put(const AVPacket *packet);
  // 1 with a packet moved into `out`, 0 when empty and not blocking, -1 once aborted.
  int Get(AVPacket *out, bool block);
  void Flush();
  // Wakes every waiter; later gets return -1 until the next Init.
  void Abort();
  // Flushes; the queue stays aborted.
  void End() { Flush(); }

  int PacketCount() const;
  int Size() const;
  bool Aborted() const;

private:
  mutable std::mutex mutex_; // protects nodes_, size_, abort_
  std::condition_variable cond_;
  std::deque<PacketPtr> nodes_;
  int size_ = 0;
  bool abort_ = false;
};

} // namespace tovi
