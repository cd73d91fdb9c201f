// Helpers shared by the engine tests: a fresh engine on loaded libraries, a capture of
// the log router's messages, and reading values back from the generic option contexts.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/FormatIO.h"
#include "support/TestMedia.h"

namespace tovi::test {

struct LoggedLine {
  const void *Sender;
  TLogLevel Level;
  std::string Text;
};

// Records every message the log router delivers while it exists.
class LogCapture {
public:
  LogCapture() {
    auto &logger = TFFLogger::Instance();
    logger.SetTriggerEventInMainThread(false);
    logger.SetLogLevel(llDebug);
    logger.SetOnLog([this](const void *sender, std::uint32_t, TLogLevel level, const std::string &text) {
      std::lock_guard lock(mutex_);
      lines_.push_back({sender, level, text});
    });
  }
  ~LogCapture() { TFFLogger::Instance().SetOnLog(nullptr); }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  std::vector<LoggedLine> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // Lines from `sender` at `level` whose text equals `text`.
  int Count(const void *sender, TLogLevel level, const std::string &text) const {
    const auto lines = Lines();
    return int(std::count_if(lines.begin(), lines.end(), [&](const LoggedLine &l) {
      return l.Sender == sender && l.Level == level && l.Text == text;
    }));
  }
  bool Has(const void *sender, TLogLevel level, const std::string &text) const {
    return Count(sender, level, text) > 0;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

private:
  mutable std::mutex mutex_; // protects lines_
  std::vector<LoggedLine> lines_;
};

// A generated media file opened and probed the way AddInputFile does it.
inline TInputFile OpenFixture(const std::string &name) {
  TInputFile file;
  const int rc = OpenInputFile(FixturePath(name), nullptr, nullptr, file);
  EXPECT_GE(rc, 0) << name;
  if (rc >= 0) {
    std::lock_guard lock(CodecLock());
    EXPECT_GE(ff::avformat_find_stream_info(file.Context(), nullptr), 0) << name;
  }
  return file;
}

// Fixture: converter libraries loaded, one engine reset and ready, the log captured.
class EngineTest : public ::testing::Test {
protected:
  void SetUp() override {
    LoadConverterLibraries();
    engine_.Reset();
    ASSERT_NE(engine_.GenericOptions(), nullptr);
  }

  // An integer option as held by the video (or audio) codec option context.
  std::int64_t VideoInt(const char *name) const { return ContextInt(0, name); }
  std::int64_t AudioInt(const char *name) const { return ContextInt(1, name); }

  // Runs `call` and returns the FFmpegException message it raised ("" when none).
  template <typename F> static std::string Raised(F &&call) {
    try {
      call();
    } catch (const FFmpegException &error) {
      return error.Message();
    }
    return "";
  }

  TCustomFFmpeg engine_;
  LogCapture log_;

private:
  std::int64_t ContextInt(int index, const char *name) const {
    std::int64_t value = 0;
    EXPECT_GE(ff::av_opt_get_int(engine_.GenericOptions()->CodecOptions(index), name, 0, &value), 0) << name;
    return value;
  }
};

} // namespace tovi::test
