// The play context: everything one opened file needs while it plays. One heap record
// per Open, owned by the player; its threads (demux, video decode, subtitle decode,
// refresh) and SDL's audio thread all work on it.
//
// Threads and locks: fields written by one thread and polled by others are atomics.
// The picture queue's count, allocated flags and target clocks change under
// `pictqMutex`; the subtitle queue's count under `subpqMutex`; each slot's picture
// under its own `overlayMutex`.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/FormatIO.h"
#include "media/Owners.h"
#include "player/PacketQueue.h"

namespace tovi {

class TPlayerCore;

constexpr int VIDEO_PICTURE_QUEUE_SIZE = 2;
constexpr int SUBPICTURE_QUEUE_SIZE = 4;
constexpr int AUDIO_BUFFER_BYTES = 288000;
constexpr int SAMPLE_ARRAY_SIZE = 0x20000;
constexpr int MAX_QUEUE_SIZE = 15 * 1024 * 1024;
constexpr int MIN_AUDIOQ_SIZE = 0x50000;
constexpr int MIN_FRAMES = 5;
// Beyond this a clock difference is taken for a time stamp jump, not drift.
constexpr double AV_NOSYNC_THRESHOLD = 10.0;
constexpr double AV_SYNC_THRESHOLD = 0.01;
// How far the frame timer may fall behind the wall clock before it is reset.
constexpr double FRAME_TIMER_MAX_LAG = 0.5;

// One slot of the picture queue: a reference to the filter graph's planar YUV 4:2:0
// picture (the "overlay"). SDL textures may only be touched on the thread that
// renders, so the decode thread puts the picture here and the play thread uploads it
// when it shows the slot. The slot shares the decoder's buffer, no copy is made: who
// writes into the pixels (the frame hook, a subtitle) first makes them its own with
// MakeWritable.
struct TVideoPicture {
  double pts = 0;
  double targetClock = 0; // wall clock, seconds; under pictqMutex
  std::int64_t pos = -1;
  FramePtr frame; // null or empty: no picture
  // Views into `frame`, its top-left width x height.
  std::uint8_t *planes[4] = {};
  int linesize[4] = {};
  int width = 0, height = 0; // even
  bool allocated = false;    // under pictqMutex
  AVPixelFormat pixFmt = AV_PIX_FMT_NONE;
  AVRational sampleAspect{0, 1};
  std::mutex overlayMutex; // guards frame, planes and linesize and the pixels

  bool HasPicture() const { return frame && frame->data[0]; }
  // Under overlayMutex: takes `pic`'s reference (leaving `pic` empty).
  void Take(AVFrame *pic) {
    if (!frame) frame = MakeFrame();
    if (!frame) return;
    ff::av_frame_unref(frame.get());
    ff::av_frame_move_ref(frame.get(), pic);
    TakeViews();
  }
  // Under overlayMutex: drops the picture.
  void Clear() {
    if (frame) ff::av_frame_unref(frame.get());
    TakeViews();
  }
  // Under overlayMutex: the pixels become this slot's alone, copied when `keep` (and
  // only when shared), else a new buffer left undefined (the caller overwrites all of
  // it). False when out of memory.
  bool MakeWritable(bool keep) {
    if (!HasPicture()) return false;
    if (keep) {
      if (ff::av_frame_make_writable(frame.get()) < 0) return false;
    } else {
      FramePtr fresh = MakeFrame();
      if (!fresh) return false;
      fresh->format = frame->format;
      fresh->width = frame->width;
      fresh->height = frame->height;
      if (ff::av_frame_get_buffer(fresh.get(), 0) < 0 ||
          ff::av_frame_copy_props(fresh.get(), frame.get()) < 0)
        return false;
      frame = std::move(fresh);
    }
    TakeViews();
    return true;
  }

private:
  void TakeViews() {
    for (int i = 0; i < 4; ++i) {
      planes[i] = frame && i < 3 ? frame->data[i] : nullptr;
      linesize[i] = frame && i < 3 ? frame->linesize[i] : 0;
    }
  }
};

// One decoded bitmap subtitle with its palette already in Y'CbCr.
struct TSubPicture {
  double pts = 0;
  AVSubtitle sub{};
  bool filled = false;
};

struct TPlayContext {
  TPlayerCore *player = nullptr;
  // Unique in the process (RegisterLiveContext); set before any thread starts.
  std::uint64_t serial = 0;

  std::thread demuxThread, videoThread, subtitleThread, refreshThread;

  std::atomic<bool> abortRequest{false};
  std::atomic<bool> paused{false};
  bool lastPaused = false; // demux thread only
  std::atomic<bool> refreshPending{false};

  // Seek request: the fields are written before `seekReq` is raised; the demux thread
  // clears `seekReq` after the whole seek is handled.
  std::atomic<bool> seekReq{false};
  int seekFlags = 0;
  std::int64_t seekPos = 0;
  std::int64_t seekRel = 0;
  bool seekPaused = false; // paused when the seek was asked for
  std::atomic<int> readPauseReturn{0};

  TInputFile input;
  AVFormatContext *ic = nullptr; // input.Context() once open

  std::atomic<int> audioStreamIndex{-1}, videoStreamIndex{-1}, subtitleStreamIndex{-1};
  AVStream *audioSt = nullptr, *videoSt = nullptr, *subtitleSt = nullptr;
  CodecContextPtr audioDec, videoDec, subtitleDec;

  TPacketQueue audioq, videoq, subtitleq;

  // ---- audio (SDL's audio thread writes, others read) ----
  std::atomic<double> audioClock{0};
  std::vector<std::uint8_t> audioBuf1, audioBuf2;
  std::uint8_t *audioBuf = nullptr;
  std::atomic<int> audioBufSize{0}, audioBufIndex{0};
  PacketPtr audioPkt;           // packet being decoded
  bool audioPktPending = false; // audioPkt not yet accepted by the decoder
  FramePtr audioFrame;
  SwrContextPtr swr;
  int swrInFormat = -1, swrInRate = 0, swrOutChannels = 0;
  AVChannelLayout swrInLayout{};
  SDL_AudioDeviceID audioDevice = 0;
  int audioRate = 0, audioChannels = 0; // of the device
  // Wave ring (written by the audio callback, read by the play thread).
  std::mutex waveMutex; // guards sampleArray
  std::vector<std::int16_t> sampleArray;
  std::atomic<int> sampleArrayIndex{0};
  int lastIStart = 0;
  std::atomic<bool> showAudio{false};

  // ---- video ----
  double frameTimer = 0;  // wall clock, seconds: when the picture queued last is due; under pictqMutex
  double pausedSince = 0; // wall clock, seconds, at the last pause; under pictqMutex
  double frameLastPts = 0, frameLastDelay = 0;
  std::atomic<double> videoClock{0};
  std::atomic<double> videoCurrentPts{0}, videoCurrentPtsDrift{0};
  std::atomic<std::int64_t> videoCurrentPos{-1};
  // A picture has fallen due (shown or dropped) and set the clock terms above.
  std::atomic<bool> pictureShown{false};
  std::atomic<float> skipFrames{1}, skipFramesIndex{0};
  std::int64_t faultyDts = 0, faultyPts = 0;
  std::int64_t lastDtsForFault = std::numeric_limits<std::int64_t>::min();
  std::int64_t lastPtsForFault = std::numeric_limits<std::int64_t>::min();
  TVideoPicture pictq[VIDEO_PICTURE_QUEUE_SIZE];
  std::atomic<int> pictqRindex{0}; // play thread writes, the snapshot reads
  int pictqWindex = 0;             // decode thread
  int pictqSize = 0;               // under pictqMutex
  // Counts queued, taken and flushed pictures (under pictqMutex): the refresh thread
  // sleeps until a picture falls due or this changes.
  std::uint64_t pictqChanges = 0;
  std::mutex pictqMutex;
  std::condition_variable pictqCond;
  // The picture last shown (a second reference to its slot's picture), for the
  // snapshot: once shown, a slot is free for the decode thread again. The play thread
  // writes it; the snapshot reads it.
  std::mutex shownMutex; // guards the shown* fields
  FramePtr shownFrame;
  std::uint8_t *shownPlanes[4] = {};
  int shownLinesize[4] = {};
  int shownWidth = 0, shownHeight = 0; // 0: nothing shown yet
  double shownPts = 0;
  AVRational shownAspect{0, 1};
  // Size and format of the filter graph's output (decode thread writes, play thread
  // reads when it allocates a slot).
  std::atomic<int> outWidth{0}, outHeight{0};
  std::atomic<int> outFormat{AV_PIX_FMT_NONE};
  std::atomic<bool> graphBuilt{false};

  // ---- subtitles ----
  TSubPicture subpq[SUBPICTURE_QUEUE_SIZE];
  int subpqRindex = 0, subpqWindex = 0;
  int subpqSize = 0; // under subpqMutex
  std::mutex subpqMutex;
  std::condition_variable subpqCond;
  std::atomic<bool> subtitleStreamChanged{false};

  std::string fileName;

  int width = 0, height = 0, xleft = 0, ytop = 0; // display (play thread)

  std::int64_t startTime = 0; // microseconds; 0 when unknown
  std::int64_t duration = -1; // microseconds; -1 when unknown
  std::int64_t audioStartTime = -1;
  bool image2 = false;
  bool capture = false;

  std::atomic<bool> eofReported{false}; // read failure reported since the last seek
  std::atomic<bool> endReached{false};  // input at its end and every queue empty
  // The audio callback found the queue and the decoder empty: every sample queued has
  // gone to the device (written by the audio callback, read by the demux thread).
  std::atomic<bool> audioDrained{false};
  std::atomic<bool> endNotified{false}; // psEnd posted (video files)
  std::atomic<bool> inRead{false};
  std::atomic<bool> demuxDone{false}; // the demux thread has finished its work
  std::atomic<bool> afterSeek{false}, pausedAtSeek{false}, flushedSinceSeek{false};
  std::atomic<bool> ioEof{false}; // the end-of-file mark
  std::atomic<int> openPausedStep{0};

  // 0 opening, 1 open, -1 failed and cleaning up, -2 clean-up done.
  std::atomic<int> openState{0};

  TPlayContext();
  ~TPlayContext();
  TPlayContext(const TPlayContext &) = delete;
  TPlayContext &operator=(const TPlayContext &) = delete;

  bool HasAudio() const { return audioStreamIndex >= 0; }
  bool HasVideo() const { return videoStreamIndex >= 0; }
};

} // namespace tovi
