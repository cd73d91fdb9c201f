// The RGB frame holder: turns a decoded picture into our 24-bit bitmap and the bitmap
// back into a picture, keeping the conversion buffer and both scaler contexts between
// frames.
//
// Threads: no locks inside. A holder belongs to one engine hook, preview, player hook or
// snapshot and is used by one thread at a time. ConvertToBitmap writes the bitmap's
// pixels without taking its canvas lock; a caller that shares the bitmap with another
// thread holds TCanvasLock around the call.
#pragma once

#include <cstdint>
#include <memory>

#include "media/Bitmap.h"
#include "media/Owners.h"

namespace tovi {

// A scaler context with the conversion it was made for. sws_getCachedContext alone does
// not cache reliably: the scaler adjusts its own flags for some conversions (odd output
// widths force full chroma interpolation) and then never matches the flags asked for
// again, so it would build a new context for every frame.
class TScalerCache {
public:
  // The context for this conversion with `flags` (bicubic scaling unless told), made when
  // the conversion differs from the last one; null when none can be made.
  SwsContext *Get(int srcWidth, int srcHeight, AVPixelFormat srcFormat, int dstWidth, int dstHeight,
                  AVPixelFormat dstFormat, int flags = SWS_BICUBIC);
  void reset() { context_.reset(); }
  // Forgets the context without freeing it (the library that would free it is gone).
  void abandon() { (void)context_.release(); }
  SwsContext *get() const { return context_.get(); }
  explicit operator bool() const { return static_cast<bool>(context_); }

private:
  SwsContextPtr context_;
  int key_[7] = {};
};

struct TRGBHolder {
  // The picture format of the bitmap and of Buffer; BGR24 and 24 always.
  AVPixelFormat PixelFormat = AV_PIX_FMT_BGR24;
  int BitsPerPixel = 24;
  std::unique_ptr<TBitmap> Bitmap; // created on first use
  // Conversion target of pictures that cannot be copied into the bitmap directly.
  AVBufferPtr Buffer;
  int BufferSize = 0; // bytes allocated in Buffer
  // The description of Buffer for the last conversion (planes and line sizes).
  std::uint8_t *Data[4] = {};
  int LineSize[4] = {};
  TScalerCache ToRGB;   // picture format -> BGR24
  TScalerCache FromRGB; // BGR24 bitmap -> picture format
};

// Frees the bitmap, the buffer and both scaler contexts and clears the description.
void ResetHolder(TRGBHolder &holder);
// For when the media libraries are unloaded: leaves the buffer and the scaler contexts
// (the libraries' memory) behind unfreed, frees the bitmap (ours) and clears the rest.
void AbandonHolder(TRGBHolder &holder);

// Puts a picture into holder.Bitmap (created when missing, resized to width x height).
// A picture that is BGR24 with even width and height and a first line size equal to the
// bitmap's row size is copied as it is; any other goes through ToRGB (bicubic) into
// Buffer first, which is reallocated only when it is too small. Rows are copied top row
// first, each with min(source line size, bitmap row size) bytes.
// False when width or height is not positive or no scaler context can be made.
bool ConvertToBitmap(TRGBHolder &holder, const std::uint8_t *const data[4], const int linesize[4],
                     AVPixelFormat pixelFormat, int height, int width);
bool ConvertToBitmap(TRGBHolder &holder, const AVFrame *picture);

// Converts holder.Bitmap into `dst`, whose format, width and height say what is wanted
// and whose buffers are allocated and writable (the bitmap is scaled when the sizes
// differ). False without a bitmap or when no scaler context can be made.
bool ConvertFromBitmap(TRGBHolder &holder, AVFrame *dst);

} // namespace tovi
