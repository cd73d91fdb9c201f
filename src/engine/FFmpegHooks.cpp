// Work on each decoded picture before it is filtered and encoded: deinterlacing, the
// host's custom hook (the picture as a 24-bit bitmap, drawn on by the host) and the
// "vhook" plug-in chain. Everything here runs on the job's thread, except AddVideoHook
// and the release, which run while no job does.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <vector>

#include "engine/FFmpeg.h"
#include "engine/HookYuvMath.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"

namespace tovi {

void TCustomFFmpeg::AddVideoHook(const std::string &commandLine) {
  RequireLibraries(); // the chain reports through the library's log
  if (videoHooks_.Add(SplitVideoHookCommandLine(commandLine)) != 0)
    throw FFmpegException("Failed to add video hook function: " + commandLine);
  job_.UsingVideoHooks = true;
}

void TCustomFFmpeg::PreProcessVideoFrame(TInputStreamRecord &ist, AVFrame *picture) {
  ++decodedFrameCount_;
  const bool customHook = static_cast<bool>(onCustomHook_);
  const bool plugins = job_.UsingVideoHooks && !videoHooks_.Empty();
  if (!picture || (!pending_.Deinterlace && !customHook && !plugins)) return;
  // The hooks write into the picture. The decoder may still hold (and predict from) the
  // buffer it decoded into, so a shared buffer is copied first and the decoder's stays
  // untouched.
  if (ff::av_frame_make_writable(picture) < 0) {
    Log(llError, "hook buf malloc error.");
    return;
  }
  if (pending_.Deinterlace && !DeinterlacePicture(picture)) Log(llError, "Deinterlacing failed.");
  if (customHook) {
    RunCustomHook(picture, ist.Decoder, ist.Pts);
  } else if (plugins) {
    TVhookPicture view{};
    std::copy(picture->data, picture->data + 4, view.data);
    std::copy(picture->linesize, picture->linesize + 4, view.linesize);
    videoHooks_.Process(view, picture->format, picture->width, picture->height, ist.Pts);
  }
}

namespace {

// The bitmap back into `picture` (same size). The rows go into the holder's aligned
// BGR24 buffer first, which ConvertToBitmap has just described for this size: the
// scaler reads aligned rows several times faster than the bitmap's own memory.
bool ConvertBackFromBitmap(TRGBHolder &holder, AVFrame *picture) {
  const TBitmap &bitmap = *holder.Bitmap;
  // A handler that resized the bitmap gets it scaled back to the picture's size.
  if (!holder.Data[0] || bitmap.Width() != picture->width || bitmap.Height() != picture->height ||
      holder.LineSize[0] < bitmap.Width() * 3)
    return ConvertFromBitmap(holder, picture);
  const std::size_t row = static_cast<std::size_t>(bitmap.Width()) * 3;
  for (int y = 0; y < bitmap.Height(); ++y)
    std::memcpy(holder.Data[0] + static_cast<std::ptrdiff_t>(y) * holder.LineSize[0], bitmap.ScanLine(y),
                row);
  SwsContext *back = holder.FromRGB.Get(bitmap.Width(), bitmap.Height(), AV_PIX_FMT_BGR24, picture->width,
                                        picture->height, static_cast<AVPixelFormat>(picture->format));
  if (!back) return false;
  return ff::sws_scale(back, holder.Data, holder.LineSize, 0, bitmap.Height(), picture->data,
                       picture->linesize) > 0;
}

// The picture's planes when it is 8-bit planar YUV (the formats the region path
// converts itself); false for any other format.
bool DescribePlanes(AVFrame *picture, THookPlanes &planes) {
  const AVPixFmtDescriptor *desc = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
  if (!desc || desc->nb_components != 3 ||
      (desc->flags & (AV_PIX_FMT_FLAG_PLANAR | AV_PIX_FMT_FLAG_RGB)) != AV_PIX_FMT_FLAG_PLANAR)
    return false;
  for (int c = 0; c < 3; ++c)
    if (desc->comp[c].depth != 8 || desc->comp[c].plane != c || desc->comp[c].step != 1) return false;
  if (desc->log2_chroma_w > 1 || desc->log2_chroma_h > 1 || picture->width <= 0 || picture->height <= 0)
    return false;
  for (int c = 0; c < 3; ++c) {
    if (!picture->data[c] || picture->linesize[c] <= 0) return false;
    planes.Data[c] = picture->data[c];
    planes.LineSize[c] = picture->linesize[c];
  }
  planes.Width = picture->width;
  planes.Height = picture->height;
  planes.ChromaShiftX = desc->log2_chroma_w;
  planes.ChromaShiftY = desc->log2_chroma_h;
  planes.FullRange = picture->color_range == AVCOL_RANGE_JPEG || picture->format == AV_PIX_FMT_YUVJ420P ||
                     picture->format == AV_PIX_FMT_YUVJ422P || picture->format == AV_PIX_FMT_YUVJ444P;
  return true;
}

// `rect` grown to whole chroma samples and clipped to the picture; false when empty.
bool AlignRect(const THookPlanes &p, THookRect &rect) {
  const int ax = (1 << p.ChromaShiftX) - 1, ay = (1 << p.ChromaShiftY) - 1;
  const int x0 = std::max(0, rect.Left) & ~ax, y0 = std::max(0, rect.Top) & ~ay;
  const long right = std::min<long>(p.Width, (static_cast<long>(rect.Left) + rect.Width + ax) & ~ax);
  const long bottom = std::min<long>(p.Height, (static_cast<long>(rect.Top) + rect.Height + ay) & ~ay);
  if (rect.Width <= 0 || rect.Height <= 0 || right <= x0 || bottom <= y0) return false;
  rect = {x0, y0, static_cast<int>(right - x0), static_cast<int>(bottom - y0)};
  return true;
}

// The region of the planes into the same place of the bitmap (the picture's size).
TOVI_PIXEL_CLONES void PlanesToBitmap(const THookPlanes &p, const THookRect &r, TBitmap &bitmap,
                                      TRgbRow &row) {
  const TYuvMath k(p.FullRange);
  row.Resize(r.Width);
  for (int y = r.Top; y < r.Top + r.Height; ++y) {
    yuv::RowToRgb(p, k, y, r.Left, r.Width, row);
    std::uint8_t *out = bitmap.ScanLine(y) + static_cast<std::ptrdiff_t>(r.Left) * 3;
    for (int i = 0; i < r.Width; ++i, out += 3) {
      out[0] = static_cast<std::uint8_t>(row.B[static_cast<std::size_t>(i)]);
      out[1] = static_cast<std::uint8_t>(row.G[static_cast<std::size_t>(i)]);
      out[2] = static_cast<std::uint8_t>(row.R[static_cast<std::size_t>(i)]);
    }
  }
}

// The bitmap's region back into the planes: luma per pixel, each chroma sample from the
// mean colour of the pixels it covers. `r` is aligned to whole chroma samples.
TOVI_PIXEL_CLONES void BitmapToPlanes(const TBitmap &bitmap, const THookRect &r, THookPlanes &p, TRgbRow &row,
                                      std::vector<int> &sums) {
  const TYuvMath k(p.FullRange);
  const int sx = p.ChromaShiftX, sy = p.ChromaShiftY;
  const int cw = (r.Width + (1 << sx) - 1) >> sx;
  row.Resize(r.Width);
  sums.resize(static_cast<std::size_t>(cw) * 3);
  int *sumB = sums.data(), *sumG = sumB + cw, *sumR = sumG + cw;
  for (int cy = r.Top >> sy; cy < (r.Top + r.Height + (1 << sy) - 1) >> sy; ++cy) {
    const int y0 = cy << sy, y1 = std::min(r.Top + r.Height, y0 + (1 << sy));
    std::fill(sums.begin(), sums.end(), 0);
    for (int y = y0; y < y1; ++y) {
      const std::uint8_t *in = bitmap.ScanLine(y) + static_cast<std::ptrdiff_t>(r.Left) * 3;
      for (int i = 0; i < r.Width; ++i, in += 3) {
        row.B[static_cast<std::size_t>(i)] = in[0];
        row.G[static_cast<std::size_t>(i)] = in[1];
        row.R[static_cast<std::size_t>(i)] = in[2];
      }
      yuv::RgbToLuma(row, k, r.Width, p.Data[0] + static_cast<std::ptrdiff_t>(y) * p.LineSize[0] + r.Left);
      yuv::AddToSums(row, r.Width, sx, sumB, sumG, sumR);
    }
    std::uint8_t *u = p.Data[1] + static_cast<std::ptrdiff_t>(cy) * p.LineSize[1] + (r.Left >> sx);
    std::uint8_t *v = p.Data[2] + static_cast<std::ptrdiff_t>(cy) * p.LineSize[2] + (r.Left >> sx);
    for (int cx = 0; cx < cw; ++cx) {
      const int cols = std::min(r.Width, (cx + 1) << sx) - (cx << sx);
      yuv::ChromaFromSums(k, sumB[cx], sumG[cx], sumR[cx], (cols - 1) + (y1 - y0 - 1), u[cx], v[cx]);
    }
  }
}

} // namespace

// The host's handler on `bitmap`; false when its drawing is not to be used (it said so,
// or it threw: logged, the picture stays as decoded).
bool TCustomFFmpeg::CallCustomHook(TBitmap &bitmap, std::int64_t pts, bool &stopHook) {
  bool update = true;
  try {
    // The host draws with the canvas locked (its handler must not lock it again).
    TCanvasLock canvas(bitmap);
    onCustomHook_(*this, bitmap, decodedFrameCount_, pts, update, stopHook);
  } catch (const std::exception &error) {
    Log(llError, std::string("Error occurs OnCustomHook: ") + error.what());
    update = false;
  } catch (...) {
    Log(llError, "Error occurs OnCustomHook: unknown exception");
    update = false;
  }
  return update;
}

void TCustomFFmpeg::RunCustomHook(AVFrame *picture, const AVCodecContext *decoder, std::int64_t pts) {
  if (!onCustomHook_ || !picture) return;
  const AVPixelFormat format = picture->format >= 0 ? static_cast<AVPixelFormat>(picture->format)
                               : decoder            ? decoder->pix_fmt
                                                    : AV_PIX_FMT_NONE;
  bool stopHook = false;
  if (onCustomHookPlan_ && RunPlannedHook(picture, pts, stopHook)) {
    // The handler has seen the picture's regions (or had nothing to draw).
  } else if (!ConvertToBitmap(customHookHolder_, picture->data, picture->linesize, format, picture->height,
                              picture->width)) {
    Log(llError, "Cannot initialize the toRGB conversion context");
    stopHook = true;
  } else {
    TBitmap &bitmap = *customHookHolder_.Bitmap;
    if (CallCustomHook(bitmap, pts, stopHook)) {
      if (format == AV_PIX_FMT_BGR24) {
        // Only what both hold: a handler may have resized the bitmap.
        const std::size_t row = static_cast<std::size_t>(std::min(bitmap.Width(), picture->width)) * 3;
        for (int y = 0; y < std::min(bitmap.Height(), picture->height); ++y)
          std::memcpy(picture->data[0] + static_cast<std::ptrdiff_t>(y) * picture->linesize[0],
                      bitmap.ScanLine(y), row);
      } else if (!ConvertBackFromBitmap(customHookHolder_, picture)) {
        Log(llError, "Cannot initialize the fromRGB conversion context");
        stopHook = true;
      }
    }
  }
  if (stopHook) {
    // For the rest of the job: neither the host nor the plug-ins see pictures again.
    onCustomHook_ = nullptr;
    job_.UsingVideoHooks = false;
  }
}

bool TCustomFFmpeg::RunPlannedHook(AVFrame *picture, std::int64_t pts, bool &stopHook) {
  THookPlanes planes;
  const bool planar = DescribePlanes(picture, planes);
  customHookPlan_.WholeFrame = true;
  customHookPlan_.Regions.clear();
  try {
    onCustomHookPlan_(*this, planar ? &planes : nullptr, decodedFrameCount_, pts, customHookPlan_);
  } catch (const std::exception &error) {
    Log(llError, std::string("Error occurs OnCustomHook: ") + error.what());
    customHookPlan_.WholeFrame = true;
  } catch (...) {
    Log(llError, "Error occurs OnCustomHook: unknown exception");
    customHookPlan_.WholeFrame = true;
  }
  if (!planar || customHookPlan_.WholeFrame) {
    customHookPlan_.WholeFrame = true;
    return false;
  }
  // Only the regions go through the bitmap; a picture with none skips the handler.
  auto &regions = customHookPlan_.Regions;
  regions.erase(std::remove_if(regions.begin(), regions.end(),
                               [&](THookRect &rect) { return !AlignRect(planes, rect); }),
                regions.end());
  if (regions.empty()) return true;
  if (!customHookHolder_.Bitmap) customHookHolder_.Bitmap = std::make_unique<TBitmap>();
  TBitmap &bitmap = *customHookHolder_.Bitmap;
  bitmap.SetSize(planes.Width, planes.Height);
  TRgbRow row;
  std::vector<int> sums;
  for (const THookRect &rect : regions)
    PlanesToBitmap(planes, rect, bitmap, row);
  const bool update = CallCustomHook(bitmap, pts, stopHook);
  // A handler that resized the bitmap gets its drawing dropped rather than misplaced.
  if (update && bitmap.Width() == planes.Width && bitmap.Height() == planes.Height)
    for (const THookRect &rect : regions)
      BitmapToPlanes(bitmap, rect, planes, row, sums);
  return true;
}

void TCustomFFmpeg::ReleaseFrameWorkState(bool librariesLoaded) {
  videoHooks_.Clear(); // plug-in code only; the media libraries are not needed
  DropPreviewer();     // the flags stay: they are the host's
  if (!librariesLoaded) {
    (void)audioBlock_.release();
    (void)audioPacket_.release();
    (void)deinterlaceGraph_.release();
    (void)deinterlaced_.release();
    AbandonHolder(customHookHolder_);
    AbandonHolder(previewHolder_);
  }
  audioBlock_.reset();
  audioBlockCapacity_ = 0;
  audioPacket_.reset();
  deinterlaceGraph_.reset();
  deinterlaceSource_ = deinterlaceSink_ = nullptr;
  deinterlaceWidth_ = deinterlaceHeight_ = 0;
  deinterlaceFormat_ = -1;
  deinterlaced_.reset();
  ResetHolder(customHookHolder_);
  ResetHolder(previewHolder_);
  customHookPlan_ = THookPlan{};
  decodedFrameCount_ = 0;
  lastPreviewUs_ = 0;
}

} // namespace tovi
