// The display side: the refresh thread and tick that show queued pictures on time,
// drop late ones and report the position; the display surface and picture slots (play
// thread); the clocks; pause toggling; the snapshot of the picture on screen.
#include <algorithm>
#include <cassert>
#include <chrono>
#include <cmath>
#include <cstring>

#include "player/PlayerCore.h"

namespace tovi {

double WallClockSeconds() { return static_cast<double>(ff::av_gettime_relative()) / 1000000.0; }
std::int64_t WallClockMicros() { return ff::av_gettime_relative(); }

double VideoClock(const TPlayContext &ctx) {
  if (ctx.paused) return ctx.videoCurrentPts;
  if (const double drift = ctx.videoCurrentPtsDrift; drift != 0) return drift + WallClockSeconds();
  return static_cast<double>(ctx.startTime) / 1000000.0;
}

double MasterClock(const TPlayContext &ctx) { return ctx.HasAudio() ? AudioClock(ctx) : VideoClock(ctx); }

namespace {

// Under pictqMutex: how long the refresh thread may sleep, in seconds. A video file
// needs the play thread only when the picture at the head of the queue falls due (a
// picture queued or taken wakes the refresh thread earlier); waking it every few
// milliseconds cost more than the rest of the display.
double RefreshWait(const TPlayContext &ctx) {
  if (ctx.showAudio) return ctx.player->options.rdftSpeedMs / 1000.0;
  if (!ctx.HasVideo()) return 0.005;
  // Nothing queued: the position and the end are still reported now and then.
  constexpr double idle = 0.02;
  if (ctx.pictqSize == 0) return idle;
  const double due = ctx.pictq[ctx.pictqRindex].targetClock - WallClockSeconds();
  // Already due: the refresh just asked for takes it; a short wait covers a play thread
  // that looked at it a moment too early.
  return std::clamp(due, 0.002, idle);
}

} // namespace

// Refresh thread: asks the play thread to look at the picture queue.
void RefreshThreadBody(TPlayContext &ctx) {
  while (!ctx.abortRequest) {
    std::uint64_t seen;
    double wait;
    {
      std::lock_guard<std::mutex> lock(ctx.pictqMutex);
      seen = ctx.pictqChanges;
      wait = RefreshWait(ctx);
    }
    if (!ctx.refreshPending.exchange(true)) PushUserEvent(FF_REFRESH_EVENT, &ctx);
    std::unique_lock<std::mutex> lock(ctx.pictqMutex);
    ctx.pictqCond.wait_for(lock, std::chrono::duration<double>(wait),
                           [&] { return ctx.abortRequest || ctx.pictqChanges != seen; });
  }
}

void PositionReport(TPlayerCore &core, TPlayContext &ctx) {
  if (ctx.image2) return;
  double clock;
  if (ctx.HasVideo())
    clock = VideoClock(ctx);
  else if (ctx.HasAudio())
    clock = AudioClock(ctx);
  else
    return;
  std::int64_t pos = std::llround(clock * 1000000.0) - ctx.startTime;
  core.currentPosition = pos;
  if (ctx.duration > 0 && pos >= ctx.duration) {
    pos = ctx.duration;
    if (core.lastReportedPos != ctx.duration) core.lastReportedPos = 0;
  }
  const std::int64_t last = core.lastReportedPos;
  // The video clock runs on from the picture on screen; when the next picture is shown
  // late the clock starts again from that picture's time, a little behind what was
  // already reported. Such a step back is held so that the slider never jitters
  // backwards while playing (a seek moves further than this); a paused file reports
  // the picture it shows, however close.
  constexpr std::int64_t kHeldStepBackUs = 250000;
  const bool jitterBack = !ctx.paused && last != NO_POSITION && pos < last && last - pos < kHeldStepBackUs;
  if (!jitterBack && (last == NO_POSITION || std::llabs(pos - last) > 10000)) {
    core.lastReportedPos = pos;
    if (core.PositionHandler()) core.PostPosition(pos);
  }
  if (ctx.endReached && ctx.audioq.Size() + ctx.videoq.Size() + ctx.subtitleq.Size() == 0 && !ctx.capture &&
      !ctx.endNotified) {
    core.PostState(psEnd);
    // A file without video keeps reporting its end while it stays drained.
    if (ctx.HasVideo()) ctx.endNotified = true;
  }
}

namespace {

// The scaler's picture format for an SDL one with the same bytes in memory; NONE for
// formats the software path does not use.
AVPixelFormat ScalerFormat(Uint32 format) {
#if SDL_BYTEORDER == SDL_LIL_ENDIAN
  constexpr bool little = true;
#else
  constexpr bool little = false;
#endif
  switch (format) {
  case SDL_PIXELFORMAT_RGB888: return little ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_0RGB;
  case SDL_PIXELFORMAT_ARGB8888: return little ? AV_PIX_FMT_BGRA : AV_PIX_FMT_ARGB;
  case SDL_PIXELFORMAT_BGR888: return little ? AV_PIX_FMT_RGB0 : AV_PIX_FMT_0BGR;
  case SDL_PIXELFORMAT_ABGR8888: return little ? AV_PIX_FMT_RGBA : AV_PIX_FMT_ABGR;
  default: return AV_PIX_FMT_NONE;
  }
}

} // namespace

void ChooseUpload(TDisplaySurface &surface) {
  surface.texture.reset();
  surface.scaler.reset();
  surface.textureWidth = surface.textureHeight = surface.drawnWidth = surface.drawnHeight = 0;
  SDL_RendererInfo info{};
  surface.software =
      ff::SDL_GetRendererInfo(surface.renderer.get(), &info) == 0 &&
      ((info.flags & SDL_RENDERER_SOFTWARE) != 0 || (info.name && std::strcmp(info.name, "software") == 0));
  if (!surface.software) return;
  // The window's own format when the renderer takes it: the copy into the window is
  // then a plain copy of rows.
  const auto takes = [&info](Uint32 format) {
    return ScalerFormat(format) != AV_PIX_FMT_NONE &&
           std::find(info.texture_formats, info.texture_formats + info.num_texture_formats, format) !=
               info.texture_formats + info.num_texture_formats;
  };
  const Uint32 windowFormat = surface.window ? ff::SDL_GetWindowPixelFormat(surface.window.get()) : 0;
  surface.rgbFormat = takes(windowFormat) ? windowFormat : Uint32{SDL_PIXELFORMAT_RGB888};
  surface.rgbPixFmt = ScalerFormat(surface.rgbFormat);
}

void DisplayOpen(TPlayContext &ctx, bool force) {
  TPlayerCore &core = *ctx.player;
  TDisplaySurface &surface = core.surface;
  int w = 640, h = 480;
  if (core.screenWidth > 0) {
    w = core.screenWidth;
    h = core.screenHeight;
  } else if (ctx.graphBuilt) {
    w = ctx.outWidth & ~1;
    h = ctx.outHeight & ~1;
  }
  if (!force && surface && surface.width == ctx.width && surface.height == ctx.height && surface.width == w &&
      surface.height == h)
    return;
  if (!surface.window) {
    if (core.screenHandle) {
      surface.window.reset(ff::SDL_CreateWindowFrom(reinterpret_cast<const void *>(core.screenHandle)));
      if (surface.window && core.screenWidth <= 0) {
        // The host's client size is the display size.
        ff::SDL_GetWindowSize(surface.window.get(), &w, &h);
        core.screenWidth = w;
        core.screenHeight = h;
      }
    } else {
      surface.window.reset(ff::SDL_CreateWindow("FFPlayer", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                                w, h, SDL_WINDOW_RESIZABLE));
    }
    if (surface.window) {
      surface.renderer.reset(ff::SDL_CreateRenderer(surface.window.get(), -1, 0));
      if (!surface.renderer)
        surface.renderer.reset(ff::SDL_CreateRenderer(surface.window.get(), -1, SDL_RENDERER_SOFTWARE));
      if (surface.renderer) ChooseUpload(surface);
    }
  } else if (!core.screenHandle) {
    ff::SDL_SetWindowSize(surface.window.get(), w, h);
  }
  if (!surface.window || !surface.renderer) {
    core.Report(llError, "SDL: could not set video mode.");
    surface.reset();
    return;
  }
  surface.width = ctx.width = w;
  surface.height = ctx.height = h;
}

void AllocPicture(TPlayContext &ctx, int slot) {
  if (!ctx.player->surface) DisplayOpen(ctx, false);
  TVideoPicture &vp = ctx.pictq[slot % VIDEO_PICTURE_QUEUE_SIZE];
  {
    // The slot takes the decoder's pictures by reference; only its size changes here.
    std::lock_guard<std::mutex> lock(vp.overlayMutex);
    vp.Clear();
    vp.width = ctx.outWidth & ~1;
    vp.height = ctx.outHeight & ~1;
    vp.pixFmt = static_cast<AVPixelFormat>(ctx.outFormat.load());
  }
  std::lock_guard<std::mutex> lock(ctx.pictqMutex);
  vp.allocated = true;
  ctx.pictqCond.notify_all();
}

namespace {

// The picture's display ratio by the AspectRatio rules.
double DisplayRatio(const TPlayContext &ctx, int width, int height, AVRational sampleAspect) {
  const float ar = ctx.player->aspectRatio;
  if (ar < 0 && ctx.width > 0 && ctx.height > 0) return static_cast<double>(ctx.width) / ctx.height;
  if (ar > 0) return ar;
  double sar = sampleAspect.num > 0 && sampleAspect.den > 0 ? av_q2d(sampleAspect) : 1.0;
  if (sar <= 0) sar = 1.0;
  return sar * width / height;
}

// The rectangle the picture is drawn in: centred at its display ratio, the rest black
// bars; its width and height are even.
SDL_Rect PictureRect(const TPlayContext &ctx, double ratio) {
  int height = ctx.height;
  int width = static_cast<int>(std::lrint(height * ratio)) & ~1;
  if (width > ctx.width) {
    width = ctx.width;
    height = static_cast<int>(std::lrint(width / ratio)) & ~1;
  }
  return SDL_Rect{(ctx.width - width) / 2 + ctx.xleft, (ctx.height - height) / 2 + ctx.ytop, width, height};
}

// Fast bilinear: a 1080p picture drawn at the preview panel's 640 x 360 costs the
// player about a tenth less CPU than bilinear and a quarter less than bicubic scaling,
// and looks the same at that size; a picture drawn at its own size is converted without
// scaling, whatever the flags.
constexpr int kPreviewScalerFlags = SWS_FAST_BILINEAR;

// The software renderer's upload: converts and scales the picture into the RGB texture at
// the rectangle's size. The texture is made a little wider than drawn: the scaler's
// vector code writes whole blocks of 8 pixels, past the end of a row of another width.
void UploadRgb(TDisplaySurface &surface, const std::uint8_t *const planes[4], const int linesize[4],
               int width, int height, const SDL_Rect &rect) {
  surface.drawnWidth = surface.drawnHeight = 0;
  if (rect.w <= 0 || rect.h <= 0 || surface.rgbPixFmt == AV_PIX_FMT_NONE) return;
  const int textureWidth = FFALIGN(rect.w, 16);
  if (!surface.texture || surface.textureWidth != textureWidth || surface.textureHeight != rect.h) {
    surface.texture.reset(ff::SDL_CreateTexture(surface.renderer.get(), surface.rgbFormat,
                                                SDL_TEXTUREACCESS_STREAMING, textureWidth, rect.h));
    surface.textureWidth = surface.texture ? textureWidth : 0;
    surface.textureHeight = surface.texture ? rect.h : 0;
    // Formats with alpha would otherwise be blended onto the window.
    if (surface.texture) ff::SDL_SetTextureBlendMode(surface.texture.get(), SDL_BLENDMODE_NONE);
  }
  if (!surface.texture) return;
  SwsContext *scaler = surface.scaler.Get(width, height, AV_PIX_FMT_YUV420P, rect.w, rect.h,
                                          surface.rgbPixFmt, kPreviewScalerFlags);
  void *pixels = nullptr;
  int pitch = 0;
  if (!scaler || ff::SDL_LockTexture(surface.texture.get(), nullptr, &pixels, &pitch) != 0) return;
  std::uint8_t *dst[4] = {static_cast<std::uint8_t *>(pixels), nullptr, nullptr, nullptr};
  const int dstStride[4] = {pitch, 0, 0, 0};
  const bool done = ff::sws_scale(scaler, planes, linesize, 0, height, dst, dstStride) > 0;
  ff::SDL_UnlockTexture(surface.texture.get());
  if (done) {
    surface.drawnWidth = rect.w;
    surface.drawnHeight = rect.h;
  }
}

// Puts a planar YUV 4:2:0 picture into the texture, for drawing in `rect`.
void UploadPicture(TDisplaySurface &surface, const std::uint8_t *const planes[4], const int linesize[4],
                   int width, int height, const SDL_Rect &rect) {
  if (surface.software) {
    UploadRgb(surface, planes, linesize, width, height, rect);
    return;
  }
  if (!surface.texture || surface.textureWidth != width || surface.textureHeight != height) {
    surface.texture.reset(ff::SDL_CreateTexture(surface.renderer.get(), SDL_PIXELFORMAT_IYUV,
                                                SDL_TEXTUREACCESS_STREAMING, width, height));
    surface.textureWidth = surface.texture ? width : 0;
    surface.textureHeight = surface.texture ? height : 0;
  }
  if (surface.texture)
    ff::SDL_UpdateYUVTexture(surface.texture.get(), nullptr, planes[0], linesize[0], planes[1], linesize[1],
                             planes[2], linesize[2]);
}

// Draws the texture (the picture last uploaded) into `rect`, with black bars.
void PresentTexture(TPlayContext &ctx, const SDL_Rect &rect) {
  TDisplaySurface &surface = ctx.player->surface;
  // The software path's texture holds the picture at its drawn size in its top left.
  const bool drawable = surface.texture && (!surface.software || surface.drawnWidth > 0);
  const SDL_Rect drawn{0, 0, surface.drawnWidth, surface.drawnHeight};
  // Black bars only where the picture leaves some: a picture over the whole output
  // draws every pixel, and clearing first cost a whole-window fill per picture (a
  // large share of the display's time with the software renderer).
  int outW = 0, outH = 0;
  const bool covers = drawable && rect.x == 0 && rect.y == 0 &&
                      ff::SDL_GetRendererOutputSize(surface.renderer.get(), &outW, &outH) == 0 &&
                      rect.w == outW && rect.h == outH;
  if (!covers) {
    ff::SDL_SetRenderDrawColor(surface.renderer.get(), 0, 0, 0, 255);
    ff::SDL_RenderClear(surface.renderer.get());
  }
  if (drawable)
    ff::SDL_RenderCopy(surface.renderer.get(), surface.texture.get(), surface.software ? &drawn : nullptr,
                       &rect);
  ff::SDL_RenderPresent(surface.renderer.get());
}

// With the slot's overlayMutex held. A second reference, not a copy: the decode thread
// replaces the slot's reference when it reuses the slot, it never writes into a
// picture it has queued, and the hook and subtitles write into pixels of their own.
void KeepShownCopy(TPlayContext &ctx, const TVideoPicture &vp) {
  std::lock_guard<std::mutex> lock(ctx.shownMutex);
  if (!ctx.shownFrame) ctx.shownFrame = MakeFrame();
  if (ctx.shownFrame) ff::av_frame_unref(ctx.shownFrame.get());
  if (!ctx.shownFrame || ff::av_frame_ref(ctx.shownFrame.get(), vp.frame.get()) < 0) {
    ctx.shownWidth = ctx.shownHeight = 0;
    return;
  }
  for (int i = 0; i < 4; ++i) {
    ctx.shownPlanes[i] = i < 3 ? ctx.shownFrame->data[i] : nullptr;
    ctx.shownLinesize[i] = i < 3 ? ctx.shownFrame->linesize[i] : 0;
  }
  ctx.shownWidth = vp.width;
  ctx.shownHeight = vp.height;
  ctx.shownPts = vp.pts;
  ctx.shownAspect = vp.sampleAspect;
}

// Shows a queued picture: subtitles blended in, uploaded, drawn, and kept for the
// snapshot and for redrawing.
void ShowPicture(TPlayContext &ctx, TVideoPicture &vp) {
  TPlayerCore &core = *ctx.player;
  if (!core.surface) DisplayOpen(ctx, false);
  TDisplaySurface &surface = core.surface;
  if (!surface) return;
  std::lock_guard<std::mutex> lock(vp.overlayMutex);
  if (!vp.HasPicture() || vp.width <= 0 || vp.height <= 0) return;
  BlendSubtitle(ctx, vp);
  const SDL_Rect rect = PictureRect(ctx, DisplayRatio(ctx, vp.width, vp.height, vp.sampleAspect));
  UploadPicture(surface, vp.planes, vp.linesize, vp.width, vp.height, rect);
  KeepShownCopy(ctx, vp);
  PresentTexture(ctx, rect);
}

void AdvanceReadIndex(TPlayContext &ctx) {
  ctx.pictqRindex = (ctx.pictqRindex + 1) % VIDEO_PICTURE_QUEUE_SIZE;
  std::lock_guard<std::mutex> lock(ctx.pictqMutex);
  --ctx.pictqSize;
  ++ctx.pictqChanges;
  ctx.pictqCond.notify_all();
}

} // namespace

void DisplayPicture(TPlayContext &ctx) {
  TPlayerCore &core = *ctx.player;
  if (!core.surface) DisplayOpen(ctx, false);
  if (!core.surface) return;
  if (ctx.showAudio && ctx.HasAudio()) {
    DrawWave(ctx);
  } else if (ctx.HasVideo()) {
    // Redraw what is on screen: the texture still holds the picture last shown, at its
    // own size, or in the software path at the size it was drawn; a rectangle of another
    // size (the window resized, another aspect ratio) converts the kept picture again.
    SDL_Rect rect{};
    {
      std::lock_guard<std::mutex> lock(ctx.shownMutex);
      if (ctx.shownWidth <= 0 || ctx.shownHeight <= 0) return;
      rect = PictureRect(ctx, DisplayRatio(ctx, ctx.shownWidth, ctx.shownHeight, ctx.shownAspect));
      TDisplaySurface &surface = core.surface;
      if (surface.software && (surface.drawnWidth != rect.w || surface.drawnHeight != rect.h))
        UploadRgb(surface, ctx.shownPlanes, ctx.shownLinesize, ctx.shownWidth, ctx.shownHeight, rect);
    }
    PresentTexture(ctx, rect);
  }
}

void RefreshTick(TPlayContext &ctx, TRefreshMode mode) {
  TPlayerCore &core = *ctx.player;
  if (!ctx.HasVideo()) {
    if (ctx.HasAudio()) {
      DisplayPicture(ctx);
      PositionReport(core, ctx);
    }
    return;
  }
  bool dropped = false;
  for (;;) {
    const bool dropMark = ctx.afterSeek;
    int size;
    {
      std::lock_guard<std::mutex> lock(ctx.pictqMutex);
      size = ctx.pictqSize;
    }
    if (size == 0) {
      if (mode == TRefreshMode::Redisplay) DisplayPicture(ctx);
      break;
    }
    const double now = WallClockSeconds();
    TVideoPicture &vp = ctx.pictq[ctx.pictqRindex];
    double target, next;
    {
      std::lock_guard<std::mutex> lock(ctx.pictqMutex);
      target = vp.targetClock;
      if (size > 1) {
        next = ctx.pictq[(ctx.pictqRindex + 1) % VIDEO_PICTURE_QUEUE_SIZE].targetClock;
        assert(next >= target);
      } else {
        next = target + ctx.videoClock - vp.pts;
      }
    }
    if (now < target) return;
    ctx.videoCurrentPts = vp.pts;
    ctx.videoCurrentPtsDrift = vp.pts - now;
    ctx.pictureShown = true;
    ctx.videoCurrentPos = vp.pos;
    if ((core.options.frameDrop && now > next && !ctx.capture) || dropMark) {
      ctx.skipFrames = ctx.skipFrames * 1.05f;
      if (size > 1 || now > next + 0.5 || dropMark) {
        AdvanceReadIndex(ctx);
        ++core.droppedPictures;
        dropped = true;
        continue;
      }
    }
    SubtitleQueueUpdate(ctx);
    ShowPicture(ctx, vp);
    if (mode == TRefreshMode::Dequeue) ++core.shownPictures;
    if (mode == TRefreshMode::Dequeue) AdvanceReadIndex(ctx);
    break;
  }
  if (!dropped) PositionReport(core, ctx);
}

void PauseToggle(TPlayerCore &core, TPlayContext &ctx) {
  if (!core.seekDone.Wait(250)) core.seekDone.Set();
  const double now = WallClockSeconds();
  if (ctx.paused) {
    {
      std::lock_guard<std::mutex> lock(ctx.pictqMutex);
      if (ctx.pictureShown) {
        // The timer moves on by the time since the picture on screen was shown.
        ctx.frameTimer += now + ctx.videoCurrentPtsDrift - ctx.videoCurrentPts;
      } else {
        // Nothing shown yet (paused right after Open, the display still being made):
        // the clock terms above are unset and would push the timer a whole wall-clock
        // reading into the future, where no picture ever falls due and the decode
        // thread waits for a free slot for good. The timer keeps the lead it had on
        // the pause instead, and no more than a display stall may leave.
        const double lead = std::clamp(ctx.frameTimer - ctx.pausedSince, 0.0, FRAME_TIMER_MAX_LAG);
        ctx.frameTimer = now + lead;
      }
    }
    if (ctx.readPauseReturn != AVERROR(ENOSYS)) ctx.videoCurrentPts = ctx.videoCurrentPtsDrift + now;
    ctx.videoCurrentPtsDrift = ctx.videoCurrentPts - now;
    ctx.paused = false;
  } else {
    if (ctx.HasVideo() && !core.pictureAfterSeek.Wait(250)) core.pictureAfterSeek.Set();
    {
      std::lock_guard<std::mutex> lock(ctx.pictqMutex);
      ctx.pausedSince = now;
    }
    ctx.paused = true;
  }
}

TBitmap *SnapshotFrame(TPlayerCore &core, std::int64_t &pts) {
  TRGBHolder &holder = core.rgbSnapshot;
  if (!holder.Bitmap) holder.Bitmap = std::make_unique<TBitmap>();
  TBitmap &bitmap = *holder.Bitmap;
  TPlayContext *ctx = core.ctx;
  if (ctx && ctx->HasVideo() && ctx->videoSt) {
    bitmap.SetSize(ctx->videoSt->codecpar->width, ctx->videoSt->codecpar->height);
    if (bitmap.Bits()) std::memset(bitmap.Bits(), 0, bitmap.SizeBytes());
  } else {
    bitmap.SetSize(0, 0);
  }
  pts = -1;
  if (ctx && ctx->HasVideo()) {
    bool shown;
    {
      std::lock_guard<std::mutex> lock(ctx->shownMutex);
      shown = ctx->shownWidth > 0;
      if (shown) {
        pts = std::llround(ctx->shownPts * 1000000.0) - ctx->startTime;
        if (!ConvertToBitmap(holder, ctx->shownPlanes, ctx->shownLinesize, AV_PIX_FMT_YUV420P,
                             ctx->shownHeight, ctx->shownWidth))
          bitmap.SetSize(0, 0);
      }
    }
    if (!shown) {
      // Nothing shown yet: the picture that is shown next, when one is queued. Before
      // that there is no picture at all (not a black one): 0 x 0 and no time. The slot's
      // lock is taken without shownMutex held: the play thread, showing a slot, takes
      // the slot's lock first and shownMutex inside it.
      TVideoPicture &vp = ctx->pictq[ctx->pictqRindex];
      std::lock_guard<std::mutex> overlay(vp.overlayMutex);
      if (!vp.HasPicture()) {
        bitmap.SetSize(0, 0);
      } else {
        pts = std::llround(vp.pts * 1000000.0) - ctx->startTime;
        if (!ConvertToBitmap(holder, vp.planes, vp.linesize, AV_PIX_FMT_YUV420P, vp.height, vp.width))
          bitmap.SetSize(0, 0);
      }
    }
  }
  return &bitmap;
}

} // namespace tovi
