// The encode stage of the video pipeline: one video encoder driven from a thread of its
// own, fed through a small bounded queue of pictures. The job's thread decodes, crops and
// scales the next pictures while the encoder works on the ones before; it takes the
// encoded packets back and muxes them itself, so the muxer, the output files and every
// counter stay on the job's thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "media/EntryPoints.h"
#include "media/Owners.h"

namespace tovi {

class TVideoEncodeStage {
public:
  using TPacketWriter = std::function<void(AVPacket *packet)>;

  // `encoder` is open and outlives the stage; from now on only the stage's thread calls
  // it until the stage is drained or destroyed. `depth` pictures may wait (at least 1).
  TVideoEncodeStage(AVCodecContext *encoder, std::size_t depth);
  // Stops the thread without draining: pictures still waiting are dropped.
  ~TVideoEncodeStage();
  TVideoEncodeStage(const TVideoEncodeStage &) = delete;
  TVideoEncodeStage &operator=(const TVideoEncodeStage &) = delete;

  // Job thread. Queues the picture (its pts in the encoder's time base); waits while the
  // queue is full. `takeAspect`: the encoder takes the picture's sample aspect ratio
  // first (the filter graph may change it). Packets ready by now go to `write`, in
  // order. Throws FFmpegException when the encoder failed.
  void Push(FramePtr picture, bool takeAspect, const TPacketWriter &write);
  // Job thread. Ends the stream, waits until the encoder returned everything and hands
  // it to `write`. Throws FFmpegException when the encoder failed. Later pushes fail.
  void Drain(const TPacketWriter &write);
  // Ends the thread and lets go of the queued pictures and packets without freeing them:
  // for when the libraries that would free them are gone.
  void Abandon();

private:
  struct TItem {
    FramePtr Picture; // null: end of stream
    bool TakeAspect = false;
  };
  void Run();
  void StopThread();
  void Encode(TItem &item, AVPacket *scratch);
  // Hands the packets taken out of the lock to `write`; throws the encoder's failure.
  void WriteReady(const TPacketWriter &write);

  AVCodecContext *const encoder_;
  const std::size_t depth_;
  std::mutex mutex_; // protects pictures_, packets_, failure_, drained_ and quit_
  std::condition_variable changed_;
  std::deque<TItem> pictures_;    // waiting for the encoder, oldest first
  std::deque<PacketPtr> packets_; // returned by the encoder, not yet written
  std::string failure_;           // the encoder's failure, empty while it works
  bool drained_ = false;          // the end of the stream went through the encoder
  bool quit_ = false;             // the destructor asks the thread to end
  std::thread thread_;            // last: started when everything above exists
};

} // namespace tovi
