#include "media/FFmpegLogger.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/MainThread.h"
#include "media/StringFormat.h"

namespace tovi {
namespace {

// Library level matching LogLevel; the callback drops lines above it. Starts at info.
std::atomic<int> gLibraryThreshold{32};

// Unfinished library lines, one per thread that printed through the libraries.
struct PendingLines {
  std::mutex mutex; // protects byThread
  std::unordered_map<std::uint32_t, std::string> byThread;
};

// The innermost TLibraryErrorCapture alive on this thread. Per thread by nature: a
// capture only wants what the calls made inside its own scope print.
thread_local TLibraryErrorCapture *tInnermostCapture = nullptr;

PendingLines &Pending() {
  static PendingLines pending;
  return pending;
}

// A line printed by a thread holding a library lock, kept with the handler it was
// meant for until the thread releases the lock.
struct HeldLine {
  TLogEvent handler;
  const void *sender;
  std::uint32_t threadId;
  TLogLevel level;
  std::string message;
};
// The calling thread's held lines (only that thread touches them).
thread_local std::vector<HeldLine> tHeldLines;

void DeliverInMainThread(const HeldLine &line) {
  RunInMainThread([&] { line.handler(line.sender, line.threadId, line.level, line.message); });
}

struct InstanceSlot {
  std::mutex mutex; // protects logger
  std::unique_ptr<TFFLogger> logger;
};

InstanceSlot &Slot() {
  static InstanceSlot slot;
  return slot;
}

struct LevelName {
  const char *name;
  TLogLevel level;
};
constexpr LevelName kLevelNames[] = {
    {"quiet", llQuiet},     {"panic", llPanic}, {"fatal", llFatal},     {"error", llError},
    {"warning", llWarning}, {"info", llInfo},   {"verbose", llVerbose}, {"debug", llDebug},
};

bool EqualsNoCase(const std::string &a, const char *b) {
  const size_t n = std::char_traits<char>::length(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  return true;
}

} // namespace

int LogLevelToLibrary(TLogLevel level) { return (static_cast<int>(level) - 1) * 8; }

TLogLevel LibraryToLogLevel(int libraryLevel) {
  if (libraryLevel < -8) return llQuiet;
  if (libraryLevel >= 48) return llDebug;
  return static_cast<TLogLevel>(libraryLevel / 8 + 1);
}

std::uint32_t CurrentThreadID() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

TFFLogger &TFFLogger::Instance() {
  InstanceSlot &slot = Slot();
  std::lock_guard lock(slot.mutex);
  if (!slot.logger) slot.logger.reset(new TFFLogger());
  return *slot.logger;
}

void TFFLogger::DestroyInstance() {
  std::unique_ptr<TFFLogger> old;
  std::lock_guard lock(Slot().mutex);
  old.swap(Slot().logger);
}

TFFLogger::TFFLogger() : level_(LibraryToLogLevel(gLibraryThreshold.load())) {}

TFFLogger::~TFFLogger() = default;

TLogLevel TFFLogger::LogLevel() const {
  std::lock_guard lock(mutex_);
  return level_;
}

void TFFLogger::SetLogLevel(TLogLevel level) {
  {
    std::lock_guard lock(mutex_);
    if (level == level_) return;
    level_ = level;
  }
  ApplyLevel();
}

void TFFLogger::SetLogLevelByName(const std::string &text) {
  for (const LevelName &n : kLevelNames)
    if (EqualsNoCase(text, n.name)) {
      SetLogLevel(n.level);
      return;
    }
  size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used, 10);
  } catch (const std::exception &) {
    used = 0;
  }
  if (used == 0 || used != text.size())
    throw std::invalid_argument("'" + text + "' is not a valid integer value");
  SetLogLevel(LibraryToLogLevel(value));
}

bool TFFLogger::TriggerEventInMainThread() const {
  std::lock_guard lock(mutex_);
  return trigger_;
}

void TFFLogger::SetTriggerEventInMainThread(bool value) {
  std::lock_guard lock(mutex_);
  trigger_ = value;
}

void TFFLogger::SetOnLog(TLogEvent handler) {
  std::lock_guard lock(mutex_);
  onLog_ = std::move(handler);
}

bool TFFLogger::HasOnLog() const {
  std::lock_guard lock(mutex_);
  return static_cast<bool>(onLog_);
}

TLogInfo TFFLogger::LastLogInfo() const {
  std::lock_guard lock(mutex_);
  return lastInfo_;
}

void TFFLogger::ApplyLevel() {
  if (!ff::av_log_set_level) return;
  const int threshold = LogLevelToLibrary(LogLevel());
  gLibraryThreshold = threshold;
  ff::av_log_set_level(threshold);
}

int TFFLogger::LibraryThreshold() { return gLibraryThreshold.load(); }

void TFFLogger::InstallLibraryCallback() {
  if (!ff::av_log_set_callback || !ff::av_log_set_level)
    throw std::logic_error("TFFLogger: the utility library is not bound");
  ff::av_log_set_callback(&TFFLogger::LibraryCallback);
  ApplyLevel();
}

void TFFLogger::LibraryUnloading() {
  if (ff::av_log_set_callback && ff::av_log_default_callback)
    ff::av_log_set_callback(ff::av_log_default_callback);
}

void TFFLogger::Log(const void *sender, TLogLevel level, std::string_view message) {
  TLogLevel current;
  {
    std::lock_guard lock(mutex_);
    if (!onLog_) return;
    current = level_;
  }
  // Verbose messages pass at any level but quiet: the engine's reports are verbose.
  if (level <= current || (level == llVerbose && current != llQuiet))
    Deliver(sender, CurrentThreadID(), level, std::string(message));
}

void TFFLogger::LogFmt(const void *sender, TLogLevel level, const char *format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = StringFormatV(format, args);
  va_end(args);
  Log(sender, level, text);
}

void TFFLogger::Deliver(const void *sender, std::uint32_t threadId, TLogLevel level, std::string message) {
  TLogEvent handler;
  bool inMainThread;
  {
    std::lock_guard lock(mutex_);
    lastInfo_ = TLogInfo{sender, threadId, level, message};
    handler = onLog_;
    inMainThread = trigger_;
  }
  if (!handler) return;
  if (inMainThread && !IsMainThread()) {
    HeldLine line{std::move(handler), sender, threadId, level, std::move(message)};
    if (HoldsCodecLock()) {
      // Waiting for the main thread now could deadlock: it may be waiting for the lock.
      tHeldLines.push_back(std::move(line));
      return;
    }
    DeliverHeldLines(); // earlier lines of this thread first
    DeliverInMainThread(line);
  } else {
    handler(sender, threadId, level, message);
  }
}

void TFFLogger::DeliverHeldLines() {
  if (tHeldLines.empty() || HoldsCodecLock()) return;
  std::vector<HeldLine> lines;
  lines.swap(tHeldLines);
  for (const HeldLine &line : lines) {
    try {
      if (IsMainThread())
        line.handler(line.sender, line.threadId, line.level, line.message);
      else
        DeliverInMainThread(line);
    } catch (...) {
      // Called from a lock's release, which must not throw; a failing handler loses
      // only its own line.
    }
  }
}

TLibraryErrorCapture::TLibraryErrorCapture() : outer_(tInnermostCapture) { tInnermostCapture = this; }

TLibraryErrorCapture::~TLibraryErrorCapture() { tInnermostCapture = outer_; }

std::string TLibraryErrorCapture::Text() const { return text_; }

// Runs on whatever thread calls into the libraries.
void TFFLogger::LibraryCallback(void *avcl, int level, const char *fmt, va_list vl) {
  const bool captured = level <= AV_LOG_ERROR && tInnermostCapture;
  if (level > gLibraryThreshold.load() && !captured) return;

  const char *name = nullptr;
  char prefix[128] = "";
  if (avcl) {
    const AVClass *cls = *static_cast<const AVClass *const *>(avcl);
    name = cls ? (cls->item_name ? cls->item_name(avcl) : cls->class_name) : nullptr;
    std::snprintf(prefix, sizeof prefix, "[%s @ %08" PRIXPTR "]", name ? name : "NULL",
                  reinterpret_cast<std::uintptr_t>(avcl));
  }
  char message[2048] = {};
  std::vsnprintf(message, sizeof message, fmt, vl);

  if (captured) {
    std::string line = message;
    while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
      line.pop_back();
    for (char &c : line)
      if (c == '\n') c = ' ';
    if (!line.empty()) {
      std::string entry;
      if (name) entry.append(name).append(": ");
      entry.append(line);
      for (TLibraryErrorCapture *c = tInnermostCapture; c; c = c->outer_) {
        if (!c->text_.empty()) c->text_.append("; ");
        c->text_.append(entry);
      }
    }
  }
  if (level > gLibraryThreshold.load()) return;

  const std::uint32_t threadId = CurrentThreadID();
  std::vector<std::string> lines;
  {
    PendingLines &pending = Pending();
    std::lock_guard lock(pending.mutex);
    std::string &text = pending.byThread[threadId];
    if (text.empty())
      text = std::string(prefix) + message;
    else
      text += message;
    size_t lf;
    while ((lf = text.find('\n')) != std::string::npos) {
      lines.push_back(text.substr(0, lf));
      text.erase(0, lf + 1);
    }
  }
  // Delivered outside the list's lock: delivery may wait for the main thread, which may
  // itself be printing through the libraries.
  if (lines.empty()) return;
  TFFLogger &logger = Instance();
  for (std::string &line : lines)
    logger.Deliver(&logger, threadId, LibraryToLogLevel(level), std::move(line));
}

} // namespace tovi
