// The engine's error class: every validation and set-up failure of the engine raises
// one, carrying the fixed message text the caller reports to the user.
#pragma once

#include <exception>
#include <string>

namespace tovi {

class FFmpegException : public std::exception {
public:
  explicit FFmpegException(std::string message) : message_(std::move(message)) {}

  // printf-style construction: throw FFmpegException::Fmt("Unknown %s '%s'", a, b);
  static FFmpegException Fmt(const char *format, ...) __attribute__((format(printf, 1, 2)));

  const char *what() const noexcept override { return message_.c_str(); }
  const std::string &Message() const noexcept { return message_; }

private:
  std::string message_;
};

} // namespace tovi
