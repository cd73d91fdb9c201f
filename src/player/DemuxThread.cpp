// The play context's start and close, stream opening and closing, and the demux thread
// that reads packets into the three packet queues, carries out seeks and watches for
// the end of the input.
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cinttypes>

#include "media/FFmpegLoader.h"
#include "media/MainThread.h"
#include "media/StringFormat.h"
#include "media/Texts.h"
#include "player/PlayerCore.h"

namespace tovi {

namespace {

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Library interrupt callback: a read or open blocked in the library gives up once the
// context is being closed.
int DecodeInterrupt(void *opaque) { return static_cast<TPlayContext *>(opaque)->abortRequest ? 1 : 0; }

void WaitWhileOpenState(TPlayContext &ctx, int state) {
  while (ctx.openState == state) {
    if (IsMainThread()) ProcessPendingMessages();
    SleepMs(10);
  }
}

int StreamOpen(TPlayContext &ctx, int index) {
  TPlayerCore &core = *ctx.player;
  AVFormatContext *ic = ctx.ic;
  if (index < 0 || index >= static_cast<int>(ic->nb_streams)) return -1;
  AVStream *st = ic->streams[index];
  const AVCodec *codec = ff::avcodec_find_decoder(st->codecpar->codec_id);
  CodecContextPtr dec(ff::avcodec_alloc_context3(codec));
  bool opened = false;
  if (codec && dec && ff::avcodec_parameters_to_context(dec.get(), st->codecpar) >= 0) {
    dec->pkt_timebase = st->time_base;
    dec->workaround_bugs = core.options.workaroundBugs;
    dec->error_concealment = core.options.errorConcealment;
    dec->thread_count = 1;
    std::lock_guard lock(CodecLock());
    opened = ff::avcodec_open2(dec.get(), codec, nullptr) >= 0;
  }
  if (!opened) {
    core.Report(llError, "avcodec_open() failed.");
    return -1;
  }
  switch (dec->codec_type) {
  case AVMEDIA_TYPE_AUDIO:
    ctx.audioDec = std::move(dec);
    if (AudioOpen(ctx) < 0) {
      ctx.audioDec.reset();
      return -1;
    }
    st->discard = AVDISCARD_DEFAULT;
    ctx.audioSt = st;
    ctx.audioStartTime = st->start_time == AV_NOPTS_VALUE
                             ? -1
                             : ff::av_rescale_q(st->start_time, st->time_base, AVRational{1, AV_TIME_BASE});
    ctx.audioq.Init();
    ctx.audioq.Put(core.flushPkt.get());
    ctx.audioStreamIndex = index;
    AudioStart(ctx);
    break;
  case AVMEDIA_TYPE_VIDEO:
    ctx.videoDec = std::move(dec);
    st->discard = AVDISCARD_DEFAULT;
    ctx.videoSt = st;
    ctx.videoq.Init();
    ctx.videoq.Put(core.flushPkt.get());
    ctx.videoStreamIndex = index;
    ctx.videoThread = std::thread([&ctx] { VideoThreadBody(ctx); });
    break;
  case AVMEDIA_TYPE_SUBTITLE:
    ctx.subtitleDec = std::move(dec);
    st->discard = AVDISCARD_DEFAULT;
    ctx.subtitleSt = st;
    ctx.subtitleq.Init();
    ctx.subtitleq.Put(core.flushPkt.get());
    ctx.subtitleStreamIndex = index;
    ctx.subtitleThread = std::thread([&ctx] { SubtitleThreadBody(ctx); });
    break;
  default: return -1;
  }
  return 0;
}

void StreamClose(TPlayContext &ctx, AVMediaType type) {
  AVStream *st = nullptr;
  switch (type) {
  case AVMEDIA_TYPE_AUDIO:
    if (!ctx.audioSt) return;
    st = ctx.audioSt;
    ctx.audioq.Abort();
    AudioClose(ctx);
    ctx.audioq.End();
    ctx.swr.reset();
    ctx.audioDec.reset();
    ctx.audioSt = nullptr;
    ctx.audioStreamIndex = -1;
    ctx.audioStartTime = -1;
    break;
  case AVMEDIA_TYPE_VIDEO:
    if (!ctx.videoSt) return;
    st = ctx.videoSt;
    ctx.videoq.Abort();
    {
      std::lock_guard<std::mutex> lock(ctx.pictqMutex);
      ctx.pictqCond.notify_all();
    }
    if (ctx.videoThread.joinable()) ctx.videoThread.join();
    ctx.videoq.End();
    ctx.videoDec.reset();
    ctx.videoSt = nullptr;
    ctx.videoStreamIndex = -1;
    break;
  case AVMEDIA_TYPE_SUBTITLE:
    if (!ctx.subtitleSt) return;
    st = ctx.subtitleSt;
    ctx.subtitleq.Abort();
    {
      std::lock_guard<std::mutex> lock(ctx.subpqMutex);
      ctx.subtitleStreamChanged = true;
      ctx.subpqCond.notify_all();
    }
    if (ctx.subtitleThread.joinable()) ctx.subtitleThread.join();
    ctx.subtitleq.End();
    ctx.subtitleDec.reset();
    ctx.subtitleSt = nullptr;
    ctx.subtitleStreamIndex = -1;
    break;
  default: return;
  }
  st->discard = AVDISCARD_ALL;
}

bool OpenInput(TPlayContext &ctx) {
  TPlayerCore &core = *ctx.player;
  DictionaryPtr options;
  if (core.frameWidth > 0 && core.frameHeight > 0)
    ff::av_dict_set(options.Out(), "video_size",
                    StringFormat("%dx%d", core.frameWidth.load(), core.frameHeight.load()).c_str(), 0);
  ff::av_dict_set(options.Out(), "framerate", "25", 0);
  const AVIOInterruptCB interrupt{&DecodeInterrupt, &ctx};
  const int rc = OpenInputFile(ctx.fileName, nullptr, options.Out(), ctx.input, &interrupt);
  if (rc < 0) {
    core.Fail(ctx.abortRequest ? ctx.fileName + ": opening stopped" : ErrorText(ctx.fileName, rc));
    return false;
  }
  AVFormatContext *ic = ctx.ic = ctx.input.Context();
  const int found = ff::avformat_find_stream_info(ic, nullptr);
  if (ctx.abortRequest) {
    core.Fail(ctx.fileName + ": opening stopped");
    return false;
  }
  if (found < 0) {
    core.Fail(StringFormat("%s: could not find codec parameters", ctx.fileName.c_str()));
    return false;
  }
  if (ic->pb) ic->pb->eof_reached = 0;
  const std::string format = ic->iformat ? ic->iformat->name : "";
  ctx.image2 = format == "image2";
  ctx.capture = format == "vfwcap" || format == "vfwcapture" || format == "video4linux2,v4l2";
  if (ic->start_time != AV_NOPTS_VALUE) ctx.startTime = ic->start_time;
  ctx.duration = ic->duration == AV_NOPTS_VALUE ? -1 : ic->duration;

  // The best stream of each kind, as the library ranks them; every other stream is
  // discarded so that the demuxer does not even hand its packets over.
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    ic->streams[i]->discard = AVDISCARD_ALL;
  int audio = -1, video = -1, subtitle = -1;
  if (!core.disableVideo) video = ff::av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (!core.disableAudio) audio = ff::av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, video, nullptr, 0);
  if (!core.disableVideo)
    subtitle = ff::av_find_best_stream(ic, AVMEDIA_TYPE_SUBTITLE, -1, video >= 0 ? video : audio, nullptr, 0);
  if (audio >= 0) StreamOpen(ctx, audio);
  if (video >= 0) StreamOpen(ctx, video);
  if (subtitle >= 0) StreamOpen(ctx, subtitle);
  if (!ctx.HasVideo() && !ctx.HasAudio()) {
    core.Fail(StringFormat("%s: could not open codecs, no stream to play.", ctx.fileName.c_str()));
    return false;
  }
  return true;
}

void HandleSeek(TPlayContext &ctx) {
  TPlayerCore &core = *ctx.player;
  AVFormatContext *ic = ctx.ic;
  const std::int64_t target = ctx.seekPos, rel = ctx.seekRel;
  const std::int64_t minTs = rel > 0 ? target - rel + 2 : INT64_MIN;
  const std::int64_t maxTs = rel < 0 ? target - rel - 2 : INT64_MAX;
  int rc = ff::avformat_seek_file(ic, -1, minTs, target, maxTs, ctx.seekFlags);
  if (rc < 0) rc = ff::av_seek_frame(ic, -1, target, ctx.seekFlags);
  if (rc < 0) rc = ff::av_seek_frame(ic, -1, target, ctx.seekFlags ^ AVSEEK_FLAG_BACKWARD);
  if (rc < 0) {
    core.Report(llError, StringFormat("%s: error while seeking", ctx.fileName.c_str()));
    if (ctx.HasVideo()) core.pictureAfterSeek.Set();
  } else {
    if (ctx.HasAudio()) {
      ctx.audioq.Flush();
      ctx.audioq.Put(core.flushPkt.get());
    }
    if (ctx.subtitleStreamIndex >= 0) {
      ctx.subtitleq.Flush();
      ctx.subtitleq.Put(core.flushPkt.get());
    }
    if (ctx.HasVideo()) {
      ctx.flushedSinceSeek = false;
      ctx.videoq.Flush();
      ctx.videoq.Put(core.flushPkt.get());
      core.pictureAfterSeek.Reset();
    }
    // A paused file shows the picture at the new place: the decode threads run until it
    // is there. They are woken only now, with the old packets gone, so that no picture
    // from before the seek reaches the hook.
    if (ctx.seekPaused) ctx.pausedAtSeek = true;
  }
  ctx.eofReported = false;
  ctx.endReached = false;
  ctx.audioDrained = false;
  ctx.afterSeek = true;
  ctx.seekReq = false;
  core.seekDone.Set();
  ctx.ioEof = false;
  if (ic->pb) ic->pb->eof_reached = 0;
}

bool QueuesFull(TPlayContext &ctx) {
  const int total = ctx.audioq.Size() + ctx.videoq.Size() + ctx.subtitleq.Size();
  if (total > MAX_QUEUE_SIZE) return true;
  return (!ctx.HasAudio() || ctx.audioq.Size() > MIN_AUDIOQ_SIZE) &&
         (!ctx.HasVideo() || ctx.videoq.PacketCount() > MIN_FRAMES) &&
         (ctx.subtitleStreamIndex < 0 || ctx.subtitleq.PacketCount() > MIN_FRAMES);
}

void ReadLoop(TPlayContext &ctx) {
  TPlayerCore &core = *ctx.player;
  AVFormatContext *ic = ctx.ic;
  PacketPtr pkt = MakePacket();
  if (!pkt) return;
  while (!ctx.abortRequest) {
    if (ctx.paused != ctx.lastPaused) {
      ctx.lastPaused = ctx.paused;
      if (ctx.lastPaused)
        ctx.readPauseReturn = ff::av_read_pause(ic);
      else
        ff::av_read_play(ic);
    }
    if (ctx.seekReq) HandleSeek(ctx);
    if (QueuesFull(ctx)) {
      SleepMs(10);
      continue;
    }
    // The end is the demuxer's answer, not the I/O layer's: a demuxer with a parser (raw
    // FLAC, for one) still holds whole packets when the last bytes have been read.
    if (ctx.ioEof) {
      if (ctx.HasVideo()) {
        PacketPtr empty = MakePacket();
        if (empty) {
          empty->stream_index = ctx.videoStreamIndex;
          ctx.videoq.Put(empty.get());
        }
        core.pictureAfterSeek.Set();
      }
      SleepMs(10);
      // The last packet taken from the audio queue still has to be decoded and played.
      if (ctx.audioq.Size() + ctx.videoq.Size() + ctx.subtitleq.Size() == 0 &&
          (!ctx.HasAudio() || ctx.audioDrained))
        ctx.endReached = true;
      continue;
    }
    ctx.inRead = true;
    const int rc = ff::av_read_frame(ic, pkt.get());
    ctx.inRead = false;
    if (ctx.abortRequest) break;
    if (rc < 0) {
      if (rc == AVERROR(EAGAIN)) {
        SleepMs(10);
        continue;
      }
      if (ctx.HasVideo()) core.pictureAfterSeek.Set();
      if (!ctx.image2 && !ctx.eofReported) {
        ctx.eofReported = true;
        if (rc == AVERROR_EOF)
          core.Report(llInfo, StringFormat("reach end of file: %s", ctx.fileName.c_str()));
        else
          core.Report(llError, StringFormat("error #%d while reading file: %s", rc, ctx.fileName.c_str()));
      }
      // A demuxer that keeps failing at the end of the bytes will give nothing more.
      if (rc == AVERROR_EOF || (ic->pb && ff::avio_feof(ic->pb))) ctx.ioEof = true;
      if (ic->pb && ic->pb->error) break;
      SleepMs(100);
      continue;
    }
    if (pkt->stream_index == ctx.audioStreamIndex)
      ctx.audioq.Put(pkt.get());
    else if (pkt->stream_index == ctx.videoStreamIndex)
      ctx.videoq.Put(pkt.get());
    else if (pkt->stream_index == ctx.subtitleStreamIndex)
      ctx.subtitleq.Put(pkt.get());
    ff::av_packet_unref(pkt.get());
  }
}

// Demux thread: opens the file, then reads until the context is closed.
void DemuxThreadBody(TPlayContext &ctx) {
  if (OpenInput(ctx)) {
    ctx.openState = 1;
    ReadLoop(ctx);
    while (!ctx.abortRequest)
      SleepMs(100);
  }
  if (ctx.openState != 1) ctx.openState = -1;
  StreamClose(ctx, AVMEDIA_TYPE_AUDIO);
  StreamClose(ctx, AVMEDIA_TYPE_VIDEO);
  StreamClose(ctx, AVMEDIA_TYPE_SUBTITLE);
  if (ctx.openState == 1 && ctx.player->probe) ctx.player->probe->AttachContext(nullptr);
  ctx.ic = nullptr;
  ctx.input.Close();
  ctx.demuxDone = true;
  if (ctx.openState == -1) ctx.openState = -2;
}

// The signal that wakes a demux thread blocked in a read. Its handler does nothing;
// installed without SA_RESTART, it makes the blocked system call fail with EINTR, and
// the library then checks the interrupt callback, which reports the abort.
int WakeSignal() {
  static const int sig = [] {
    const int s = SIGRTMIN + 7;
    struct sigaction sa {};
    sa.sa_handler = [](int) {};
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(s, &sa, nullptr);
    return s;
  }();
  return sig;
}

} // namespace

TPlayContext::TPlayContext() = default;

TPlayContext::~TPlayContext() {
  FreeSubtitles(*this);
  ff::av_channel_layout_uninit(&swrInLayout);
}

std::unique_ptr<TPlayContext> StartPlayContext(TPlayerCore &core, const std::string &fileName, bool paused) {
  std::unique_ptr<TPlayContext> ctx;
  try {
    ctx = std::make_unique<TPlayContext>();
  } catch (const std::bad_alloc &) {
    core.Fail("av_mallocz() failed.");
    return nullptr;
  }
  ctx->player = &core;
  if (paused) {
    ctx->paused = true;
    ctx->pausedSince = WallClockSeconds();
    ctx->lastPaused = false;
    ctx->openPausedStep = 1;
    core.stepRequest = false;
  }
  ctx->fileName = fileName;
  // Live before its first thread: the video thread asks for its picture slots while the
  // file is still opening, and a play thread of another player that takes that event
  // hands it back only to a live context.
  ctx->serial = RegisterLiveContext();
  TPlayContext &ref = *ctx;
  // From here until the open has ended, Stop reaches the context through openingCtx.
  const auto publishOpening = [&core](TPlayContext *opening) {
    std::lock_guard<std::mutex> lock(core.ctxMutex);
    core.openingCtx = opening;
  };
  publishOpening(ctx.get());
  try {
    ctx->demuxThread = std::thread([&ref] { DemuxThreadBody(ref); });
  } catch (const std::system_error &) {
    publishOpening(nullptr);
    UnregisterLiveContext(ctx->serial);
    core.Fail("SDL_CreateThread() failed.");
    return nullptr;
  }
  WaitWhileOpenState(*ctx, 0);
  publishOpening(nullptr);
  if (ctx->openState == 1 && ctx->abortRequest) {
    // Stopped after the demux thread had opened the file: it quits on the abort (woken
    // from a blocked read like any closing context).
    ClosePlayContext(*ctx);
    UnregisterLiveContext(ctx->serial);
    core.Fail(fileName + ": opening stopped");
    core.ResetPerFileFields();
    return nullptr;
  }
  if (ctx->openState == 1) {
    if (!ctx->HasVideo() && !core.disableDisplay) ctx->showAudio = true;
    ctx->refreshThread = std::thread([&ref] { RefreshThreadBody(ref); });
    return ctx;
  }
  WaitWhileOpenState(*ctx, -1);
  ctx->demuxThread.join();
  UnregisterLiveContext(ctx->serial);
  core.ResetPerFileFields();
  return nullptr;
}

void ClosePlayContext(TPlayContext &ctx) {
  ctx.abortRequest = true;
  if (ctx.demuxThread.joinable()) {
    // A read blocked in the kernel (a pipe or device that delivers nothing) never sees
    // the abort flag by itself.
    while (!ctx.demuxDone) {
      if (ctx.inRead) pthread_kill(ctx.demuxThread.native_handle(), WakeSignal());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ctx.demuxThread.join();
  }
  if (ctx.refreshThread.joinable()) {
    {
      std::lock_guard<std::mutex> lock(ctx.pictqMutex);
      ctx.pictqCond.notify_all(); // the refresh thread sleeps on it
    }
    ctx.refreshThread.join();
  }
  for (TVideoPicture &pic : ctx.pictq) {
    std::lock_guard<std::mutex> lock(pic.overlayMutex);
    pic.Clear();
  }
}

} // namespace tovi
