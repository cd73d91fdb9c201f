// Work on each decoded picture before it is filtered and encoded: deinterlacing, the
// host's custom hook (the picture as a 24-bit bitmap, drawn on by the host) and the
// "vhook" plug-in chain. Everything here runs on the job's thread, except AddVideoHook
// and the release, which run while no job does.
#include <algorithm>
#include <cstring>
#include <exception>

#include "engine/FFmpeg.h"
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

} // namespace

void TCustomFFmpeg::RunCustomHook(AVFrame *picture, const AVCodecContext *decoder, std::int64_t pts) {
  if (!onCustomHook_ || !picture) return;
  const AVPixelFormat format = picture->format >= 0 ? static_cast<AVPixelFormat>(picture->format)
                               : decoder            ? decoder->pix_fmt
                                                    : AV_PIX_FMT_NONE;
  bool stopHook = false;
  if (!ConvertToBitmap(customHookHolder_, picture->data, picture->linesize, format, picture->height,
                       picture->width)) {
    Log(llError, "Cannot initialize the toRGB conversion context");
    stopHook = true;
  } else {
    bool update = true;
    TBitmap &bitmap = *customHookHolder_.Bitmap;
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
    if (update) {
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
  decodedFrameCount_ = 0;
  lastPreviewUs_ = 0;
}

} // namespace tovi
