// The Qt dispatcher with the media layer's log router: worker messages are handled in
// the GUI thread while it waits in short slices, as the application's waits do.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <thread>

#include "media/FFmpegLogger.h"
#include "media/MainThread.h"
#include "ui/QtMainThreadDispatcher.h"

using namespace tovi;

namespace {

int gArgc = 1;
char gArg0[] = "ui_dispatcher_test";
char *gArgv[] = {gArg0, nullptr};

} // namespace

TEST(QtDispatcher, RunsWorkerCallsInTheGuiThreadAndRethrows) {
  QCoreApplication app(gArgc, gArgv);
  auto dispatcher = std::make_shared<QtMainThreadDispatcher>();
  SetMainThreadDispatcher(dispatcher);
  EXPECT_TRUE(IsMainThread());

  std::atomic<bool> done{false};
  QThread *ranOn = nullptr;
  bool caught = false;
  std::thread worker([&] {
    EXPECT_FALSE(IsMainThread());
    RunInMainThread([&] { ranOn = QThread::currentThread(); });
    try {
      RunInMainThread([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error &e) {
      caught = std::string(e.what()) == "boom";
    }
    done = true;
  });
  while (!done) {
    ProcessPendingMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  worker.join();
  EXPECT_EQ(ranOn, app.thread());
  EXPECT_TRUE(caught);
  SetMainThreadDispatcher(nullptr);
}

TEST(QtDispatcher, LogRouterDeliversInTheGuiThread) {
  QCoreApplication app(gArgc, gArgv);
  SetMainThreadDispatcher(std::make_shared<QtMainThreadDispatcher>());
  TFFLogger &logger = TFFLogger::Instance();
  std::vector<QThread *> threads;
  std::vector<std::string> texts;
  logger.SetOnLog([&](const void *, std::uint32_t, TLogLevel, const std::string &m) {
    threads.push_back(QThread::currentThread());
    texts.push_back(m);
  });
  std::atomic<int> done{0};
  std::vector<std::thread> workers;
  for (int i = 0; i < 4; ++i)
    workers.emplace_back([&, i] {
      for (int j = 0; j < 25; ++j)
        logger.LogFmt(nullptr, llError, "worker %d message %d", i, j);
      ++done;
    });
  while (done < 4)
    ProcessPendingMessages();
  for (auto &w : workers)
    w.join();
  ASSERT_EQ(texts.size(), 100u);
  for (QThread *t : threads)
    EXPECT_EQ(t, app.thread());
  logger.SetOnLog(nullptr);
  SetMainThreadDispatcher(nullptr);
}
