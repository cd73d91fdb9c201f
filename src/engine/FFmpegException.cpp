#include "engine/FFmpegException.h"

#include <cstdarg>

#include "media/StringFormat.h"

namespace tovi {

FFmpegException FFmpegException::Fmt(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = StringFormatV(format, args);
  va_end(args);
  return FFmpegException(std::move(text));
}

} // namespace tovi
