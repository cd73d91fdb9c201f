// The log router: line assembly per thread, level mapping and filtering, and delivery
// in the main thread. Library prints are fed through the real utility library where it
// matters (prefix, threshold) and through the callback directly where exact control
// over the partial prints is needed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MainThread.h"
#include "support/TestMedia.h"

using namespace tovi;

namespace {

struct Captured {
  const void *sender;
  std::uint32_t thread;
  TLogLevel level;
  std::string text;
};

// Collects delivered messages; safe to call from any thread.
class Collector {
public:
  explicit Collector(TFFLogger &logger) {
    logger.SetOnLog([this](const void *s, std::uint32_t t, TLogLevel l, const std::string &m) {
      std::lock_guard lock(mutex_);
      items_.push_back({s, t, l, m});
    });
  }
  std::vector<Captured> items() {
    std::lock_guard lock(mutex_);
    return items_;
  }

private:
  std::mutex mutex_;
  std::vector<Captured> items_;
};

// Feeds one printf-style print to the library callback as the library would.
void Print(void *ctx, int level, const char *fmt, ...) {
  va_list vl;
  va_start(vl, fmt);
  TFFLogger::LibraryCallback(ctx, level, fmt, vl);
  va_end(vl);
}

const char *TestItemName(void *) { return "TestCtx"; }
const AVClass kTestClass = {"TestClass", TestItemName, nullptr, LIBAVUTIL_VERSION_INT};
struct TestContext {
  const AVClass *cls = &kTestClass;
};

} // namespace

TEST(LogLevels, MapBothWays) {
  EXPECT_EQ(LogLevelToLibrary(llQuiet), -8);
  EXPECT_EQ(LogLevelToLibrary(llError), 16);
  EXPECT_EQ(LogLevelToLibrary(llDebug), 48);
  EXPECT_EQ(LibraryToLogLevel(-9), llQuiet);
  EXPECT_EQ(LibraryToLogLevel(-8), llQuiet);
  EXPECT_EQ(LibraryToLogLevel(-5), llPanic); // truncated toward zero
  EXPECT_EQ(LibraryToLogLevel(20), llError);
  EXPECT_EQ(LibraryToLogLevel(47), llVerbose);
  EXPECT_EQ(LibraryToLogLevel(48), llDebug);
  EXPECT_EQ(LibraryToLogLevel(1000), llDebug);
}

TEST(LogLevels, LoglevelOptionNames) {
  TFFLogger &logger = TFFLogger::Instance();
  logger.SetLogLevelByName("VERBOSE");
  EXPECT_EQ(logger.LogLevel(), llVerbose);
  logger.SetLogLevelByName("20");
  EXPECT_EQ(logger.LogLevel(), llError);
  logger.SetLogLevelByName("-20");
  EXPECT_EQ(logger.LogLevel(), llQuiet);
  logger.SetLogLevelByName("Warning");
  EXPECT_EQ(logger.LogLevel(), llWarning);
  EXPECT_THROW(logger.SetLogLevelByName("loud"), std::invalid_argument);
  EXPECT_THROW(logger.SetLogLevelByName("12x"), std::invalid_argument);
  EXPECT_EQ(logger.LogLevel(), llWarning);
}

TEST(LogFilter, OwnMessagesByLevel) {
  TFFLogger &logger = TFFLogger::Instance();
  Collector c(logger);
  logger.SetLogLevel(llInfo);
  logger.Log(&c, llVerbose, "verbose passes");
  logger.Log(&c, llDebug, "debug dropped");
  logger.LogFmt(&c, llError, "error %d", 7);
  logger.SetLogLevel(llQuiet);
  logger.Log(&c, llVerbose, "quiet drops verbose");
  logger.Log(&c, llError, "quiet drops error");
  auto items = c.items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].text, "verbose passes");
  EXPECT_EQ(items[1].text, "error 7");
  EXPECT_EQ(items[1].sender, &c);
  EXPECT_EQ(items[1].thread, CurrentThreadID());
  EXPECT_EQ(logger.LastLogInfo().LogMsg, "error 7");
}

TEST(LibraryLines, PartialPrintsAssembleIntoOneLine) {
  TFFLogger &logger = TFFLogger::Instance();
  Collector c(logger);
  TestContext ctx;
  Print(&ctx, AV_LOG_INFO, "abc");
  Print(&ctx, AV_LOG_INFO, "def\nghi");
  auto items = c.items();
  ASSERT_EQ(items.size(), 1u);
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "[TestCtx @ %08" PRIXPTR "]", reinterpret_cast<std::uintptr_t>(&ctx));
  EXPECT_EQ(items[0].text, std::string(prefix) + "abcdef");
  EXPECT_EQ(items[0].level, llInfo);
  EXPECT_EQ(items[0].sender, &logger);
  // "ghi" stays pending and is completed by the next print of the same thread, which
  // adds no second prefix.
  Print(&ctx, AV_LOG_WARNING, " jkl\n");
  items = c.items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[1].text, "ghi jkl");
  EXPECT_EQ(items[1].level, llWarning);
  // Several lines in one print, no context: no prefix at all.
  Print(nullptr, AV_LOG_ERROR, "one\ntwo\n");
  items = c.items();
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[2].text, "one");
  EXPECT_EQ(items[3].text, "two");
}

TEST(LibraryLines, ThreadsNeverMix) {
  TFFLogger &logger = TFFLogger::Instance();
  Collector c(logger);
  std::atomic<int> step{0};
  auto waitFor = [&](int s) {
    while (step.load() < s)
      std::this_thread::yield();
  };
  std::uint32_t idA = 0, idB = 0;
  std::thread a([&] {
    idA = CurrentThreadID();
    Print(nullptr, AV_LOG_INFO, "A1-");
    step = 1;
    waitFor(2);
    Print(nullptr, AV_LOG_INFO, "A2\n");
    step = 3;
  });
  std::thread b([&] {
    waitFor(1);
    idB = CurrentThreadID();
    Print(nullptr, AV_LOG_INFO, "B1-");
    step = 2;
    waitFor(3);
    Print(nullptr, AV_LOG_INFO, "B2\n");
  });
  a.join();
  b.join();
  auto items = c.items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].text, "A1-A2");
  EXPECT_EQ(items[0].thread, idA);
  EXPECT_EQ(items[1].text, "B1-B2");
  EXPECT_EQ(items[1].thread, idB);
}

TEST(LibraryLines, RealLibraryPrintsArriveWithClassPrefixAndThreshold) {
  TFFLogger &logger = TFFLogger::Instance();
  logger.SetLogLevel(llWarning); // before loading: applied when the callback is installed
  test::LoadConverterLibraries();
  EXPECT_EQ(ff::av_log_get_level(), AV_LOG_WARNING);
  EXPECT_EQ(TFFLogger::LibraryThreshold(), AV_LOG_WARNING);
  Collector c(logger);
  AVCodecContext *codec = ff::avcodec_alloc_context3(ff::avcodec_find_decoder(AV_CODEC_ID_MPEG4));
  ASSERT_NE(codec, nullptr);
  ff::av_log(codec, AV_LOG_INFO, "below the threshold\n");
  ff::av_log(codec, AV_LOG_ERROR, "broken %s\n", "frame");
  ff::avcodec_free_context(&codec);
  auto items = c.items();
  ASSERT_EQ(items.size(), 1u);
  // No space after the prefix: the libraries put their own where they want one.
  EXPECT_EQ(items[0].text.rfind("[mpeg4 @ ", 0), 0u) << items[0].text;
  EXPECT_NE(items[0].text.find("]broken frame"), std::string::npos) << items[0].text;
  EXPECT_EQ(items[0].level, llError);
}

TEST(Delivery, WorkerMessagesRunInTheMainThread) {
  auto dispatcher = std::make_shared<TQueuedDispatcher>();
  SetMainThreadDispatcher(dispatcher);
  TFFLogger &logger = TFFLogger::Instance();
  const auto mainId = std::this_thread::get_id();
  std::vector<std::thread::id> handlerThreads;
  logger.SetOnLog([&](const void *, std::uint32_t, TLogLevel, const std::string &) {
    handlerThreads.push_back(std::this_thread::get_id());
  });
  std::atomic<bool> workerDone{false};
  std::thread worker([&] {
    logger.Log(nullptr, llError, "from worker");
    Print(nullptr, AV_LOG_ERROR, "library line from worker\n");
    workerDone = true;
  });
  while (!workerDone)
    dispatcher->WaitAndProcess(10);
  worker.join();
  ASSERT_EQ(handlerThreads.size(), 2u);
  EXPECT_EQ(handlerThreads[0], mainId);
  EXPECT_EQ(handlerThreads[1], mainId);

  // Without the main-thread trigger the handler runs on the worker.
  logger.SetTriggerEventInMainThread(false);
  std::thread::id workerId;
  std::thread direct([&] {
    workerId = std::this_thread::get_id();
    logger.Log(nullptr, llError, "direct");
  });
  direct.join();
  ASSERT_EQ(handlerThreads.size(), 3u);
  EXPECT_EQ(handlerThreads[2], workerId);
  SetMainThreadDispatcher(nullptr);
}

// A worker prints while it holds the codec lock; the main thread, not serving its
// queue, wants the same lock (as the player's Stop does when it frees a decoder). The
// main thread must get the lock, and the worker's lines must still reach the main
// thread afterwards, in order.
TEST(Delivery, LinesPrintedUnderTheCodecLockDoNotMakeTheMainThreadWait) {
  auto dispatcher = std::make_shared<TQueuedDispatcher>();
  SetMainThreadDispatcher(dispatcher);
  TFFLogger &logger = TFFLogger::Instance();
  logger.SetTriggerEventInMainThread(true);
  const auto mainId = std::this_thread::get_id();
  std::mutex mutex; // protects texts, threads
  std::vector<std::string> texts;
  std::vector<std::thread::id> threads;
  logger.SetOnLog([&](const void *, std::uint32_t, TLogLevel, const std::string &text) {
    std::lock_guard lock(mutex);
    texts.push_back(text);
    threads.push_back(std::this_thread::get_id());
  });
  std::atomic<bool> holding{false}, workerDone{false};
  std::thread worker([&] {
    {
      std::lock_guard lock(CodecLock());
      holding = true;
      logger.Log(nullptr, llError, "first, under the lock");
      Print(nullptr, AV_LOG_ERROR, "second, from the library under the lock\n");
    }
    logger.Log(nullptr, llError, "third, after the lock");
    workerDone = true;
  });
  while (!holding)
    std::this_thread::yield();
  // Watchdog: a deadlock shows as a lock that never comes; the queue is served only
  // afterwards, which frees the worker on the old behaviour.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool gotLock = false;
  while (!(gotLock = CodecLock().try_lock()) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(gotLock) << "the main thread waited for a worker that waited for the main thread";
  if (gotLock) CodecLock().unlock();
  EXPECT_FALSE(HoldsCodecLock());
  while (!workerDone)
    dispatcher->WaitAndProcess(10);
  worker.join();
  SetMainThreadDispatcher(nullptr);
  logger.SetOnLog(nullptr);
  const std::vector<std::string> expected = {
      "first, under the lock", "second, from the library under the lock", "third, after the lock"};
  EXPECT_EQ(texts, expected);
  for (const auto &id : threads)
    EXPECT_EQ(id, mainId);
}

TEST(Instance, OneInstanceAndAFreshOneAfterDestruction) {
  TFFLogger &first = TFFLogger::Instance();
  EXPECT_EQ(&first, &TFFLogger::Instance());
  first.SetTriggerEventInMainThread(false);
  first.SetOnLog([](const void *, std::uint32_t, TLogLevel, const std::string &) {});
  TFFLogger::DestroyInstance();
  TFFLogger &fresh = TFFLogger::Instance();
  EXPECT_TRUE(fresh.TriggerEventInMainThread());
  EXPECT_FALSE(fresh.HasOnLog());
  // Library lines without a handler are assembled and dropped, never delivered later.
  Print(nullptr, AV_LOG_ERROR, "dropped\n");
  Collector c(fresh);
  Print(nullptr, AV_LOG_ERROR, "kept\n");
  ASSERT_EQ(c.items().size(), 1u);
  EXPECT_EQ(c.items()[0].text, "kept");
}
