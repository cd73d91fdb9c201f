// The process-wide log router.
//
// Takes the lines the media libraries print (through a callback installed into the
// utility library) and the messages of our own objects, filters them by one level that
// is also imposed on the libraries, assembles partial library prints into whole lines
// per thread, and delivers every message through OnLog, by default in the main thread.
//
// Delivery in the main thread makes the printing thread wait for it, except while that
// thread holds a library lock (CodecLock): its lines are kept, in order, and delivered
// when it releases the lock, because the main thread may be waiting for that lock.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace tovi {

enum TLogLevel : int { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// (level - 1) * 8: llQuiet -8 ... llDebug 48.
int LogLevelToLibrary(TLogLevel level);
// Below -8 quiet, 48 and above debug, otherwise L / 8 (truncated) + 1.
TLogLevel LibraryToLogLevel(int libraryLevel);

// Sender is any object of ours (or the logger itself for library lines); handlers must
// copy what they keep.
using TLogEvent = std::function<void(const void *Sender, std::uint32_t AThreadID, TLogLevel ALogLevel,
                                     const std::string &ALogMsg)>;

struct TLogInfo {
  const void *Sender = nullptr;
  std::uint32_t ThreadID = 0;
  TLogLevel LogLevel = llInfo;
  std::string LogMsg;
};

// Identifier of the calling thread as it appears in log events (the kernel thread id).
std::uint32_t CurrentThreadID();

class TFFLogger {
public:
  // The process-wide instance, created on first use. Its initial LogLevel is taken
  // from the library threshold, so a level set before a re-creation survives.
  static TFFLogger &Instance();
  // Drops the instance; the next Instance() creates a fresh one with default
  // properties. Callers must make sure no other thread is logging.
  static void DestroyInstance();

  TFFLogger(const TFFLogger &) = delete;
  TFFLogger &operator=(const TFFLogger &) = delete;
  ~TFFLogger();

  TLogLevel LogLevel() const;
  void SetLogLevel(TLogLevel level);
  // Names of the "loglevel" option (any case) or a decimal library level. Throws
  // std::invalid_argument ("'%s' is not a valid integer value") for anything else.
  void SetLogLevelByName(const std::string &text);

  bool TriggerEventInMainThread() const;
  void SetTriggerEventInMainThread(bool value);

  // Called on the thread that assigns it; the handler may be called on any thread when
  // TriggerEventInMainThread is false.
  void SetOnLog(TLogEvent handler);
  bool HasOnLog() const;

  void Log(const void *sender, TLogLevel level, std::string_view message);
  void LogFmt(const void *sender, TLogLevel level, const char *format, ...)
      __attribute__((format(printf, 4, 5)));

  // The last message delivered (a copy).
  TLogInfo LastLogInfo() const;

  // Installs the library callback into the bound utility library and applies the level.
  void InstallLibraryCallback();
  // The loader calls this before it unbinds the utility library.
  static void LibraryUnloading();

  // The library threshold (a library level); the callback drops lines above it.
  static int LibraryThreshold();

  // Delivers the lines the calling thread printed while it held a library lock. Called
  // by the lock on release (and by any later delivery of the thread); never throws.
  static void DeliverHeldLines();

  // The callback installed into the utility library; public for tests that feed it
  // prints directly.
  static void LibraryCallback(void *avcl, int level, const char *fmt, va_list vl);

private:
  TFFLogger();
  void ApplyLevel();
  void Deliver(const void *sender, std::uint32_t threadId, TLogLevel level, std::string message);

  mutable std::mutex mutex_; // protects level_, trigger_, onLog_, lastInfo_
  TLogLevel level_;
  bool trigger_ = true;
  TLogEvent onLog_;
  TLogInfo lastInfo_;
};

// Collects the error lines the media libraries print on the constructing thread while
// it lives, whatever level the router shows: the reason an encoder or muxer gives when
// it refuses, for the message that reports the refusal. Create it on the stack around
// the call; captures may nest (each gets the lines printed during its own lifetime).
class TLibraryErrorCapture {
public:
  TLibraryErrorCapture();
  ~TLibraryErrorCapture();
  TLibraryErrorCapture(const TLibraryErrorCapture &) = delete;
  TLibraryErrorCapture &operator=(const TLibraryErrorCapture &) = delete;

  // "printer: line" for each line, joined by "; "; empty when nothing was printed.
  std::string Text() const;

private:
  friend class TFFLogger;
  TLibraryErrorCapture *outer_;
  std::string text_;
};

} // namespace tovi
