#include "media/RGBHolder.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace tovi {
namespace {

// The holder's buffer rows are aligned like the libraries' own frames so that the scaler
// can use its aligned paths; the bitmap's rows are only 4-aligned, so rows are copied.
constexpr int kBufferAlign = 32;
// The scaler's vector paths write whole blocks of pixels: for a width that is not a
// multiple of the block (odd widths) the last row runs past the picture's end. The
// buffer gets one spare aligned row for that.
int ScalerSlack(int width) { return FFALIGN(width * 3, kBufferAlign) + 64; }

} // namespace

SwsContext *TScalerCache::Get(int srcWidth, int srcHeight, AVPixelFormat srcFormat, int dstWidth,
                              int dstHeight, AVPixelFormat dstFormat, int flags) {
  const int key[7] = {srcWidth, srcHeight, srcFormat, dstWidth, dstHeight, dstFormat, flags};
  if (context_ && std::equal(std::begin(key), std::end(key), std::begin(key_))) return context_.get();
  // sws_getCachedContext frees the context it is given when it cannot reuse it.
  context_.reset(ff::sws_getCachedContext(context_.release(), srcWidth, srcHeight, srcFormat, dstWidth,
                                          dstHeight, dstFormat, flags, nullptr, nullptr, nullptr));
  std::copy(std::begin(key), std::end(key), std::begin(key_));
  return context_.get();
}

void ResetHolder(TRGBHolder &holder) {
  holder.Bitmap.reset();
  holder.Buffer.reset();
  holder.BufferSize = 0;
  std::fill(std::begin(holder.Data), std::end(holder.Data), nullptr);
  std::fill(std::begin(holder.LineSize), std::end(holder.LineSize), 0);
  holder.ToRGB.reset();
  holder.FromRGB.reset();
  holder.PixelFormat = AV_PIX_FMT_BGR24;
  holder.BitsPerPixel = 24;
}

void AbandonHolder(TRGBHolder &holder) {
  (void)holder.Buffer.release();
  holder.ToRGB.abandon();
  holder.FromRGB.abandon();
  ResetHolder(holder);
}

bool ConvertToBitmap(TRGBHolder &holder, const std::uint8_t *const data[4], const int linesize[4],
                     AVPixelFormat pixelFormat, int height, int width) {
  if (width <= 0 || height <= 0) return false;
  if (!holder.Bitmap) holder.Bitmap = std::make_unique<TBitmap>();
  TBitmap &bitmap = *holder.Bitmap;
  bitmap.SetSize(width, height);

  const std::uint8_t *source = data[0];
  int sourceLineSize = linesize[0];
  const bool convert = pixelFormat != AV_PIX_FMT_BGR24 || (width & 1) != 0 || (height & 1) != 0 ||
                       linesize[0] != bitmap.RowBytes();
  if (convert) {
    const int pictureBytes = ff::av_image_get_buffer_size(AV_PIX_FMT_BGR24, width, height, kBufferAlign);
    if (pictureBytes < 0 || pictureBytes > INT_MAX - ScalerSlack(width)) return false;
    const int needed = pictureBytes + ScalerSlack(width);
    if (needed > holder.BufferSize) {
      holder.Buffer.reset(static_cast<std::uint8_t *>(ff::av_malloc(static_cast<size_t>(needed))));
      holder.BufferSize = holder.Buffer ? needed : 0;
      if (!holder.Buffer) return false;
    }
    if (ff::av_image_fill_arrays(holder.Data, holder.LineSize, holder.Buffer.get(), AV_PIX_FMT_BGR24, width,
                                 height, kBufferAlign) < 0)
      return false;
    SwsContext *ctx = holder.ToRGB.Get(width, height, pixelFormat, width, height, AV_PIX_FMT_BGR24);
    if (!ctx) return false;
    ff::sws_scale(ctx, data, linesize, 0, height, holder.Data, holder.LineSize);
    source = holder.Data[0];
    sourceLineSize = holder.LineSize[0];
  }

  // A negative line size (a bottom-up picture) reaches only the scaler path, which
  // writes the buffer top-down; the copy always walks forwards.
  const size_t rowCopy = static_cast<size_t>(std::min(sourceLineSize, bitmap.RowBytes()));
  for (int y = 0; y < height; ++y)
    std::memcpy(bitmap.ScanLine(y), source + static_cast<std::ptrdiff_t>(y) * sourceLineSize, rowCopy);
  return true;
}

bool ConvertToBitmap(TRGBHolder &holder, const AVFrame *picture) {
  return picture &&
         ConvertToBitmap(holder, picture->data, picture->linesize,
                         static_cast<AVPixelFormat>(picture->format), picture->height, picture->width);
}

bool ConvertFromBitmap(TRGBHolder &holder, AVFrame *dst) {
  if (!holder.Bitmap || !dst || holder.Bitmap->Width() <= 0 || holder.Bitmap->Height() <= 0) return false;
  const TBitmap &bitmap = *holder.Bitmap;
  SwsContext *ctx = holder.FromRGB.Get(bitmap.Width(), bitmap.Height(), AV_PIX_FMT_BGR24, dst->width,
                                       dst->height, static_cast<AVPixelFormat>(dst->format));
  if (!ctx) return false;
  const std::uint8_t *const src[4] = {bitmap.Bits(), nullptr, nullptr, nullptr};
  const int srcStride[4] = {bitmap.RowBytes(), 0, 0, 0};
  return ff::sws_scale(ctx, src, srcStride, 0, bitmap.Height(), dst->data, dst->linesize) > 0;
}

} // namespace tovi
