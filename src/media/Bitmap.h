// Our 24-bit bitmap: BGR24 pixels (blue, green, red bytes), rows top-down, each row
// padded to a multiple of 4 bytes so that the Qt layer can wrap the same memory in a
// QImage::Format_BGR888 without copying.
//
// Threads: the pixel memory is guarded by the canvas lock only by convention. Whoever
// draws on the bitmap or reads it while another thread may write holds Lock() (or a
// TCanvasLock) around the access; the hook callers hold it while a handler draws. Size
// changes (SetSize) happen on the owner's thread while no one else uses the bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tovi {

class TBitmap {
public:
  TBitmap() = default;
  TBitmap(int width, int height) { SetSize(width, height); }
  TBitmap(const TBitmap &) = delete;
  TBitmap &operator=(const TBitmap &) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Bytes per row: width x 3 rounded up to a multiple of 4.
  int RowBytes() const { return RowBytesFor(width_); }
  static int RowBytesFor(int width) { return (width * 3 + 3) & ~3; }
  std::size_t SizeBytes() const { return pixels_.size(); }

  // Resizes to width x height (negative values count as 0). Changing the size clears
  // every pixel (and the row padding) to black; the same size keeps the pixels.
  void SetSize(int width, int height);

  // Row y, 0 being the top row; y must be within [0, Height()).
  std::uint8_t *ScanLine(int y) { return pixels_.data() + static_cast<std::size_t>(y) * RowBytes(); }
  const std::uint8_t *ScanLine(int y) const {
    return pixels_.data() + static_cast<std::size_t>(y) * RowBytes();
  }
  // The first byte of the top row; null for an empty bitmap.
  std::uint8_t *Bits() { return pixels_.empty() ? nullptr : pixels_.data(); }
  const std::uint8_t *Bits() const { return pixels_.empty() ? nullptr : pixels_.data(); }

  // The canvas lock. Not recursive.
  void Lock() { canvasLock_.lock(); }
  void Unlock() { canvasLock_.unlock(); }
  bool TryLock() { return canvasLock_.try_lock(); }

private:
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint8_t> pixels_;
  std::mutex canvasLock_; // guards pixels_ for drawing, see the file comment
};

// Holds a bitmap's canvas lock for a scope.
class TCanvasLock {
public:
  explicit TCanvasLock(TBitmap &bitmap) : bitmap_(bitmap) { bitmap_.Lock(); }
  ~TCanvasLock() { bitmap_.Unlock(); }
  TCanvasLock(const TCanvasLock &) = delete;
  TCanvasLock &operator=(const TCanvasLock &) = delete;

private:
  TBitmap &bitmap_;
};

} // namespace tovi
