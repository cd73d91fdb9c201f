// Helpers shared by the probe tests.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "media/EntryPoints.h"
#include "media/FFmpegLogger.h"
#include "media/FormatIO.h"

namespace tovi::test {

// Collects the warnings and errors the log router delivers while it lives.
class LogCapture {
public:
  struct Entry {
    const void *sender;
    TLogLevel level;
    std::string message;
  };
  LogCapture() {
    TFFLogger &logger = TFFLogger::Instance();
    logger.SetTriggerEventInMainThread(false);
    logger.SetLogLevel(llWarning);
    logger.SetOnLog([this](const void *sender, std::uint32_t, TLogLevel level, const std::string &message) {
      std::lock_guard lock(mutex_);
      entries_.push_back({sender, level, message});
    });
  }
  ~LogCapture() { TFFLogger::Instance().SetOnLog(nullptr); }
  std::vector<Entry> From(const void *sender) const {
    std::lock_guard lock(mutex_);
    std::vector<Entry> out;
    for (const Entry &e : entries_)
      if (e.sender == sender) out.push_back(e);
    return out;
  }

private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

// A file opened the way an engine or the player opens one, for AttachContext.
inline TInputFile OpenWithStreamInfo(const std::string &fileName) {
  TInputFile input;
  EXPECT_EQ(OpenInputFile(fileName, nullptr, nullptr, input), 0) << fileName;
  if (input) {
    EXPECT_GE(ff::avformat_find_stream_info(input.Context(), nullptr), 0) << fileName;
  }
  return input;
}

// The description's lines; a line break other than CR LF fails the test.
inline std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  for (size_t start = 0;;) {
    const size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    EXPECT_EQ(lines.back().find_first_of("\r\n"), std::string::npos) << lines.back();
    if (end == std::string::npos) return lines;
    start = end + 2;
  }
}

inline bool StartsWith(const std::string &text, const std::string &prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}
inline bool Has(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

} // namespace tovi::test
