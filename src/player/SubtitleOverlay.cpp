// Bitmap subtitles: decoded on a thread of their own into a four-slot queue with their
// palettes turned into Y'CbCr, dropped when their time is over, and alpha-blended into
// the picture when it is shown.
#include <algorithm>
#include <chrono>

#include "player/PlayerCore.h"

namespace tovi {

namespace {

constexpr int SCALEBITS = 10;
constexpr int ONE_HALF = 1 << (SCALEBITS - 1);
constexpr int Fix(double x) { return static_cast<int>(x * (1 << SCALEBITS) + 0.5); }

// ITU-R BT.601, studio range.
int RgbToY(int r, int g, int b) {
  return (Fix(0.29900 * 219.0 / 255.0) * r + Fix(0.58700 * 219.0 / 255.0) * g +
          Fix(0.11400 * 219.0 / 255.0) * b + (ONE_HALF + (16 << SCALEBITS))) >>
         SCALEBITS;
}
int RgbToU(int r, int g, int b) {
  return ((-Fix(0.16874 * 224.0 / 255.0) * r - Fix(0.33126 * 224.0 / 255.0) * g +
           Fix(0.50000 * 224.0 / 255.0) * b + ONE_HALF - 1) >>
          SCALEBITS) +
         128;
}
int RgbToV(int r, int g, int b) {
  return ((Fix(0.50000 * 224.0 / 255.0) * r - Fix(0.41869 * 224.0 / 255.0) * g -
           Fix(0.08131 * 224.0 / 255.0) * b + ONE_HALF - 1) >>
          SCALEBITS) +
         128;
}

void PaletteToYuva(AVSubtitle &sub) {
  for (unsigned i = 0; i < sub.num_rects; ++i) {
    AVSubtitleRect *rect = sub.rects[i];
    auto *pal = reinterpret_cast<std::uint32_t *>(rect->data[1]);
    if (!pal) continue;
    for (int j = 0; j < rect->nb_colors; ++j) {
      const std::uint32_t c = pal[j];
      const int a = c >> 24, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
      pal[j] = (static_cast<std::uint32_t>(a) << 24) | (RgbToY(r, g, b) << 16) | (RgbToU(r, g, b) << 8) |
               static_cast<std::uint32_t>(RgbToV(r, g, b));
    }
  }
}

int AlphaBlend(int a, int oldp, int newp, int s) { return ((oldp << s) * (255 - a) + newp * a) / (255 << s); }

void FreeSlot(TSubPicture &sp) {
  if (sp.filled) ff::avsubtitle_free(&sp.sub);
  sp.filled = false;
}

void BlendRect(TVideoPicture &vp, const AVSubtitleRect *rect) {
  const int W = vp.width, H = vp.height;
  const int dstw = std::clamp(rect->w, 0, W), dsth = std::clamp(rect->h, 0, H);
  const int dstx = std::clamp(rect->x, 0, W - dstw), dsty = std::clamp(rect->y, 0, H - dsth);
  const auto *pal = reinterpret_cast<const std::uint32_t *>(rect->data[1]);
  if (!pal || dstw == 0 || dsth == 0) return;
  auto colour = [&](int i, int j) { return pal[rect->data[0][j * rect->linesize[0] + i]]; };
  for (int j = 0; j < dsth; ++j) {
    std::uint8_t *lum = vp.planes[0] + (dsty + j) * vp.linesize[0] + dstx;
    for (int i = 0; i < dstw; ++i) {
      const std::uint32_t c = colour(i, j);
      lum[i] = static_cast<std::uint8_t>(AlphaBlend(c >> 24, lum[i], (c >> 16) & 0xFF, 0));
    }
  }
  // One chroma sample per 2 x 2 pixels: sum what the rectangle covers of each block.
  for (int cy = dsty / 2; cy <= (dsty + dsth - 1) / 2; ++cy) {
    for (int cx = dstx / 2; cx <= (dstx + dstw - 1) / 2; ++cx) {
      int n = 0, u = 0, v = 0, a = 0;
      for (int py = 2 * cy; py < 2 * cy + 2; ++py)
        for (int px = 2 * cx; px < 2 * cx + 2; ++px)
          if (px >= dstx && px < dstx + dstw && py >= dsty && py < dsty + dsth) {
            const std::uint32_t c = colour(px - dstx, py - dsty);
            a += c >> 24;
            u += (c >> 8) & 0xFF;
            v += c & 0xFF;
            ++n;
          }
      std::uint8_t &cb = vp.planes[1][cy * vp.linesize[1] + cx];
      std::uint8_t &cr = vp.planes[2][cy * vp.linesize[2] + cx];
      const int alpha = n == 1 ? a : a >> 2;
      const int s = n == 4 ? 2 : (n == 1 ? 0 : 1);
      cb = static_cast<std::uint8_t>(AlphaBlend(alpha, cb, u, s));
      cr = static_cast<std::uint8_t>(AlphaBlend(alpha, cr, v, s));
    }
  }
}

} // namespace

void SubtitleThreadBody(TPlayContext &ctx) {
  PacketPtr pkt = MakePacket();
  if (!pkt) return;
  for (;;) {
    while (ctx.paused && !ctx.subtitleq.Aborted() && !ctx.pausedAtSeek)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (ctx.subtitleq.Get(pkt.get(), true) < 0) break;
    if (IsFlushPacket(pkt.get())) {
      ff::avcodec_flush_buffers(ctx.subtitleDec.get());
      ff::av_packet_unref(pkt.get());
      continue;
    }
    {
      std::unique_lock<std::mutex> lock(ctx.subpqMutex);
      ctx.subpqCond.wait(lock,
                         [&] { return ctx.subpqSize < SUBPICTURE_QUEUE_SIZE || ctx.subtitleq.Aborted(); });
    }
    if (ctx.subtitleq.Aborted()) break;
    TSubPicture &sp = ctx.subpq[ctx.subpqWindex];
    FreeSlot(sp);
    const double pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts * av_q2d(ctx.subtitleSt->time_base) : 0;
    int got = 0;
    const int rc = ff::avcodec_decode_subtitle2(ctx.subtitleDec.get(), &sp.sub, &got, pkt.get());
    if (rc >= 0 && got) {
      sp.filled = true;
      if (sp.sub.format == 0) {
        sp.pts = pts;
        PaletteToYuva(sp.sub);
        ctx.subpqWindex = (ctx.subpqWindex + 1) % SUBPICTURE_QUEUE_SIZE;
        std::lock_guard<std::mutex> lock(ctx.subpqMutex);
        ++ctx.subpqSize;
      } else {
        FreeSlot(sp); // text subtitles are decoded, never shown
      }
    }
    ff::av_packet_unref(pkt.get());
  }
}

void SubtitleQueueUpdate(TPlayContext &ctx) {
  if (ctx.subtitleStreamIndex < 0 && !ctx.subtitleStreamChanged) return;
  std::unique_lock<std::mutex> lock(ctx.subpqMutex);
  if (ctx.subtitleStreamChanged) {
    while (ctx.subpqSize > 0) {
      FreeSlot(ctx.subpq[ctx.subpqRindex]);
      ctx.subpqRindex = (ctx.subpqRindex + 1) % SUBPICTURE_QUEUE_SIZE;
      --ctx.subpqSize;
    }
    ctx.subtitleStreamChanged = false;
    ctx.subpqCond.notify_all();
    return;
  }
  if (ctx.subpqSize == 0) return;
  TSubPicture &sp = ctx.subpq[ctx.subpqRindex];
  const double now = ctx.videoCurrentPts;
  bool drop = now > sp.pts + sp.sub.end_display_time / 1000.0;
  if (!drop && ctx.subpqSize > 1) {
    const TSubPicture &next = ctx.subpq[(ctx.subpqRindex + 1) % SUBPICTURE_QUEUE_SIZE];
    drop = now > next.pts + next.sub.start_display_time / 1000.0;
  }
  if (drop) {
    FreeSlot(sp);
    ctx.subpqRindex = (ctx.subpqRindex + 1) % SUBPICTURE_QUEUE_SIZE;
    --ctx.subpqSize;
    ctx.subpqCond.notify_all();
  }
}

void BlendSubtitle(TPlayContext &ctx, TVideoPicture &vp) {
  std::lock_guard<std::mutex> lock(ctx.subpqMutex);
  if (ctx.subpqSize == 0) return;
  const TSubPicture &sp = ctx.subpq[ctx.subpqRindex];
  if (vp.pts < sp.pts + sp.sub.start_display_time / 1000.0) return;
  // The slot shares the decoder's picture, which must stay as decoded.
  if (!vp.MakeWritable(true)) return;
  for (unsigned i = 0; i < sp.sub.num_rects; ++i)
    if (sp.sub.rects[i]->type == SUBTITLE_BITMAP) BlendRect(vp, sp.sub.rects[i]);
}

void FreeSubtitles(TPlayContext &ctx) {
  for (TSubPicture &sp : ctx.subpq)
    FreeSlot(sp);
}

} // namespace tovi
