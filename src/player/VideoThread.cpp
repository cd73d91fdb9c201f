// The video decode thread: decodes the video queue, passes each picture through the
// "player_input" -> "player_output" filter graph (which delivers planar YUV 4:2:0),
// runs the host's frame hook on it and puts it into the two-slot picture queue with the
// wall-clock time at which it is due.
#include <algorithm>
#include <chrono>
#include <cmath>

#include "media/StringFormat.h"
#include "player/PlayerCore.h"

namespace tovi {

namespace {

struct TVideoDecoder {
  TPlayContext &ctx;
  PacketPtr pkt = MakePacket();
  FramePtr frame = MakeFrame();
  FramePtr filtered = MakeFrame();
  FramePtr hookFrame = MakeFrame();
  bool needPacket = true;
  bool draining = false; // the last packet sent was the end-of-input one
  FilterGraphPtr graph;
  AVFilterContext *src = nullptr, *sink = nullptr;
  int graphWidth = 0, graphHeight = 0, graphFormat = AV_PIX_FMT_NONE;

  explicit TVideoDecoder(TPlayContext &c) : ctx(c) {}
};

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool BuildGraph(TVideoDecoder &vd, const AVFrame *frame) {
  TPlayContext &ctx = vd.ctx;
  vd.graph.reset(ff::avfilter_graph_alloc());
  vd.src = vd.sink = nullptr;
  if (!vd.graph) return false;
  vd.graph->scale_sws_opts = ff::av_strdup(StringFormat("flags=%d", ctx.player->options.swsFlags).c_str());
  const AVRational tb = ctx.videoSt->time_base;
  const AVRational sar = frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio : AVRational{0, 1};
  const std::string args =
      StringFormat("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", frame->width,
                   frame->height, frame->format, tb.num, tb.den, sar.num, sar.den > 0 ? sar.den : 1);
  if (ff::avfilter_graph_create_filter(&vd.src, ff::avfilter_get_by_name("buffer"), "player_input",
                                       args.c_str(), nullptr, vd.graph.get()) < 0)
    return false;
  vd.sink = ff::avfilter_graph_alloc_filter(vd.graph.get(), ff::avfilter_get_by_name("buffersink"),
                                            "player_output");
  if (!vd.sink) return false;
  const AVPixelFormat formats[] = {AV_PIX_FMT_YUV420P};
  if (ff::av_opt_set_bin(vd.sink, "pix_fmts", reinterpret_cast<const std::uint8_t *>(formats),
                         sizeof(formats), AV_OPT_SEARCH_CHILDREN) < 0 ||
      ff::avfilter_init_str(vd.sink, nullptr) < 0 || ff::avfilter_link(vd.src, 0, vd.sink, 0) < 0 ||
      ff::avfilter_graph_config(vd.graph.get(), nullptr) < 0)
    return false;
  vd.graphWidth = frame->width;
  vd.graphHeight = frame->height;
  vd.graphFormat = frame->format;
  ctx.graphBuilt = true;
  return true;
}

// The flush marker: the decoder and the timing start afresh.
void FlushVideo(TVideoDecoder &vd) {
  TPlayContext &ctx = vd.ctx;
  ff::avcodec_flush_buffers(ctx.videoDec.get());
  vd.needPacket = true;
  vd.draining = false;
  {
    std::unique_lock<std::mutex> lock(ctx.pictqMutex);
    for (TVideoPicture &vp : ctx.pictq)
      vp.targetClock = 0;
    ++ctx.pictqChanges;
    ctx.pictqCond.notify_all();
    ctx.pictqCond.wait(lock, [&] { return ctx.pictqSize == 0 || ctx.videoq.Aborted(); });
    ctx.frameTimer = WallClockSeconds();
  }
  ctx.videoCurrentPos = -1;
  ctx.lastDtsForFault = ctx.lastPtsForFault = std::numeric_limits<std::int64_t>::min();
  ctx.faultyDts = ctx.faultyPts = 0;
  ctx.frameLastPts = static_cast<double>(AV_NOPTS_VALUE);
  ctx.frameLastDelay = 0;
  ctx.skipFrames = 1;
  ctx.skipFramesIndex = 0;
  ctx.flushedSinceSeek = true;
}

// A picture out of the decoder: its time stamp by the fault counts, then the skip
// factor decides whether it is shown. 1 to show, 0 to skip.
int TakePicture(TVideoDecoder &vd) {
  TPlayContext &ctx = vd.ctx;
  AVFrame *frame = vd.frame.get();
  const std::int64_t dts = frame->pkt_dts, reordered = frame->pts;
  if (dts != AV_NOPTS_VALUE) {
    ctx.faultyDts += dts <= ctx.lastDtsForFault;
    ctx.lastDtsForFault = dts;
  }
  if (reordered != AV_NOPTS_VALUE) {
    ctx.faultyPts += reordered <= ctx.lastPtsForFault;
    ctx.lastPtsForFault = reordered;
  }
  const int mode = ctx.player->options.decoderReorderPts;
  std::int64_t pts;
  if (reordered != AV_NOPTS_VALUE &&
      (mode == 1 || (mode != 0 && ctx.faultyPts < ctx.faultyDts) || dts == AV_NOPTS_VALUE))
    pts = reordered;
  else if (dts != AV_NOPTS_VALUE)
    pts = dts;
  else if (reordered != AV_NOPTS_VALUE)
    pts = reordered;
  else
    pts = AV_NOPTS_VALUE; // continues from the video clock
  frame->pts = pts;
  if (KeepDecodedPicture(ctx, ctx.player->stepRequest)) return 1;
  ff::av_frame_unref(frame);
  ++ctx.player->droppedPictures;
  return 0;
}

// -1 stop, 0 nothing, 1 a picture in vd.frame.
int GetVideoFrame(TVideoDecoder &vd) {
  TPlayContext &ctx = vd.ctx;
  AVCodecContext *dec = ctx.videoDec.get();
  if (!vd.needPacket) {
    const int rc = ff::avcodec_receive_frame(dec, vd.frame.get());
    if (rc >= 0) return TakePicture(vd);
    vd.needPacket = true;
    if (vd.draining && !ctx.endNotified) PositionReport(*ctx.player, ctx);
    return 0;
  }
  if (ctx.videoq.Get(vd.pkt.get(), true) < 0) return -1;
  AVPacket *pkt = vd.pkt.get();
  if (IsFlushPacket(pkt)) {
    ff::av_packet_unref(pkt);
    FlushVideo(vd);
    return 0;
  }
  vd.draining = !pkt->data && pkt->size == 0;
  // An end-of-input packet drains the decoder; once drained, sending gives EOF until
  // the next flush.
  int rc = ff::avcodec_send_packet(dec, vd.draining ? nullptr : pkt);
  ff::av_packet_unref(pkt);
  if (rc == AVERROR(EAGAIN)) rc = 0; // cannot happen: every output is received first
  vd.needPacket = false;
  return 0;
}

double FrameDuration(TPlayContext &ctx, const AVFrame *frame) {
  const AVRational rate = ff::av_guess_frame_rate(ctx.ic, ctx.videoSt, nullptr);
  double d = rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 0.04;
  return d + frame->repeat_pict * d * 0.5;
}

// Under pictqMutex: the wall-clock time at which a picture with `pts` is due.
double TargetClock(TPlayContext &ctx, double pts) {
  double delay = pts - ctx.frameLastPts;
  if (delay <= 0 || delay >= AV_NOSYNC_THRESHOLD)
    delay = ctx.frameLastDelay;
  else
    ctx.frameLastDelay = delay;
  ctx.frameLastPts = pts;
  if (ctx.HasAudio()) {
    const double diff = VideoClock(ctx) - MasterClock(ctx);
    const double threshold = std::max(AV_SYNC_THRESHOLD, delay);
    if (std::fabs(diff) < AV_NOSYNC_THRESHOLD) {
      if (diff <= -threshold)
        delay = 0;
      else if (diff >= threshold)
        delay = 2 * delay;
    }
  }
  // After a stall of the display (a window being created, a busy machine) the timer
  // would stay behind the wall clock for good, every later picture would be late and
  // dropped unseen: it starts again from now instead.
  const double now = WallClockSeconds();
  if (now - ctx.frameTimer > FRAME_TIMER_MAX_LAG) ctx.frameTimer = now;
  ctx.frameTimer += delay;
  return ctx.frameTimer;
}

// The host's frame hook, with the slot's overlay locked by the caller.
void RunFrameHook(TVideoDecoder &vd, TVideoPicture &vp, double pts) {
  TPlayContext &ctx = vd.ctx;
  TPlayerCore &core = *ctx.player;
  if (!core.hook) return;
  THookEvent handler = core.HookHandler();
  if (!handler) return;
  TRGBHolder &holder = core.rgbHook;
  if (!ConvertToBitmap(holder, vp.planes, vp.linesize, AV_PIX_FMT_YUV420P, vp.height, vp.width)) {
    core.Report(llError, "Cannot initialize the toRGB conversion context");
    return;
  }
  TBitmap &bitmap = *holder.Bitmap;
  {
    TCanvasLock canvas(bitmap);
    try {
      handler(core.owner, &bitmap, std::llround(pts * 1000000.0) - ctx.startTime);
    } catch (const std::exception &e) {
      core.Report(llError, std::string("Error occurs OnHook: ") + e.what());
      return;
    } catch (...) {
      core.Report(llError, "Error occurs OnHook: unknown error");
      return;
    }
  }
  // The bitmap comes back over the whole picture: a buffer of the slot's own, nothing
  // copied into it first.
  if (!vp.MakeWritable(false)) {
    core.Report(llError, "Cannot allocate the hooked picture");
    return;
  }
  AVFrame *dst = vd.hookFrame.get();
  dst->format = AV_PIX_FMT_YUV420P;
  dst->width = vp.width;
  dst->height = vp.height;
  for (int i = 0; i < 4; ++i) {
    dst->data[i] = vp.planes[i];
    dst->linesize[i] = vp.linesize[i];
  }
  if (!ConvertFromBitmap(holder, dst))
    core.Report(llError, "Cannot initialize the fromRGB conversion context");
  for (auto &p : dst->data)
    p = nullptr;
}

// 0, or -1 when the queue was aborted. Takes `pic`'s reference.
int QueuePicture(TVideoDecoder &vd, AVFrame *pic, double pts, std::int64_t pos) {
  TPlayContext &ctx = vd.ctx;
  {
    std::unique_lock<std::mutex> lock(ctx.pictqMutex);
    if (ctx.pictqSize >= VIDEO_PICTURE_QUEUE_SIZE && !ctx.refreshPending)
      ctx.skipFrames = std::max(0.95f, 0.95f * ctx.skipFrames);
    ctx.pictqCond.wait(lock,
                       [&] { return ctx.pictqSize < VIDEO_PICTURE_QUEUE_SIZE || ctx.videoq.Aborted(); });
    if (ctx.videoq.Aborted()) return -1;
  }
  TVideoPicture &vp = ctx.pictq[ctx.pictqWindex];
  const int w = pic->width & ~1, h = pic->height & ~1;
  if (vp.width != w || vp.height != h) {
    ctx.outWidth = pic->width;
    ctx.outHeight = pic->height;
    ctx.outFormat = pic->format;
    {
      std::lock_guard<std::mutex> lock(ctx.pictqMutex);
      vp.allocated = false;
    }
    // SDL objects belong to the play thread; it allocates and signals.
    PushUserEvent(FF_ALLOC_EVENT, &ctx, ctx.pictqWindex);
    std::unique_lock<std::mutex> lock(ctx.pictqMutex);
    ctx.pictqCond.wait(lock, [&] { return vp.allocated || ctx.videoq.Aborted(); });
    if (ctx.videoq.Aborted()) return -1;
  }
  {
    std::lock_guard<std::mutex> lock(vp.overlayMutex);
    vp.sampleAspect = pic->sample_aspect_ratio;
    vp.Take(pic);
    if (vp.HasPicture()) RunFrameHook(vd, vp, pts);
    vp.pts = pts;
    vp.pos = pos;
  }
  ctx.pictqWindex = (ctx.pictqWindex + 1) % VIDEO_PICTURE_QUEUE_SIZE;
  std::lock_guard<std::mutex> lock(ctx.pictqMutex);
  vp.targetClock = TargetClock(ctx, pts);
  ++ctx.pictqSize;
  ++ctx.pictqChanges;
  ctx.pictqCond.notify_all(); // the refresh thread times the new picture
  return 0;
}

// `pts` is NaN for a picture without a time stamp. (A picture stamped 0 keeps its time:
// taking the video clock for it would give the first picture after a seek to the start
// the time of the place the seek came from.)
int OutputPicture(TVideoDecoder &vd, AVFrame *pic, double pts, std::int64_t pos) {
  TPlayContext &ctx = vd.ctx;
  if (!std::isnan(pts))
    ctx.videoClock = pts;
  else
    pts = ctx.videoClock;
  ctx.videoClock = ctx.videoClock + FrameDuration(ctx, pic);
  return QueuePicture(vd, pic, pts, pos);
}

// After a picture is queued: seek marks, open-paused steps, stepping.
void AfterPicture(TPlayContext &ctx) {
  TPlayerCore &core = *ctx.player;
  core.pictureAfterSeek.Set();
  ctx.endNotified = false;
  if (const int step = ctx.openPausedStep; step != 0) {
    if (step > 1) {
      ctx.openPausedStep = 0;
      core.PostState(psPause);
    } else {
      ctx.openPausedStep = step + 1;
    }
  }
  if (core.stepRequest) {
    std::lock_guard<std::mutex> lock(core.ctxMutex);
    // Asked again under the lock: a Resume in between has cancelled the step.
    if (core.ctx == &ctx && !ctx.paused && core.stepRequest) PauseToggle(core, ctx);
  }
}

} // namespace

bool KeepDecodedPicture(TPlayContext &ctx, bool stepping) {
  ctx.skipFramesIndex = ctx.skipFramesIndex + 1;
  if (ctx.skipFramesIndex >= ctx.skipFrames) {
    ctx.skipFramesIndex = ctx.skipFramesIndex - std::max(ctx.skipFrames.load(), 1.0f);
    return true;
  }
  // A step shows the next picture: skipping it would step over it.
  return stepping;
}

// Video decode thread.
void VideoThreadBody(TPlayContext &ctx) {
  TVideoDecoder vd(ctx);
  if (!vd.pkt || !vd.frame || !vd.filtered || !vd.hookFrame) return;
  const AVRational tb = ctx.videoSt->time_base;
  for (;;) {
    while (ctx.paused && !ctx.videoq.Aborted() && !ctx.pausedAtSeek && ctx.openPausedStep == 0)
      SleepMs(10);
    const int got = GetVideoFrame(vd);
    if (got < 0) break;
    if (got == 0) continue;
    AVFrame *frame = vd.frame.get();
    if (!vd.graph || frame->width != vd.graphWidth || frame->height != vd.graphHeight ||
        frame->format != vd.graphFormat) {
      if (!BuildGraph(vd, frame)) break;
    }
    const std::int64_t pos = frame->pkt_pos;
    if (ff::av_buffersrc_add_frame_flags(vd.src, frame, 0) < 0) {
      ff::av_frame_unref(frame);
      continue;
    }
    bool stop = false;
    while (!stop && ff::av_buffersink_get_frame(vd.sink, vd.filtered.get()) >= 0) {
      AVFrame *pic = vd.filtered.get();
      if (ctx.afterSeek && ctx.flushedSinceSeek) {
        ctx.afterSeek = false;
        ctx.pausedAtSeek = false;
      }
      const double pts = pic->pts == AV_NOPTS_VALUE ? NAN : pic->pts * av_q2d(tb);
      stop = OutputPicture(vd, pic, pts, pos) < 0;
      ff::av_frame_unref(pic);
      if (!stop) AfterPicture(ctx);
    }
    if (stop) break;
  }
}

} // namespace tovi
