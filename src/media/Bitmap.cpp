#include "media/Bitmap.h"

#include <algorithm>

namespace tovi {

void TBitmap::SetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  pixels_.assign(static_cast<std::size_t>(RowBytes()) * static_cast<std::size_t>(height_), 0);
}

} // namespace tovi
