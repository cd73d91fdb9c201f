// Driving a playing file: pause, step, seek, stop in every situation (also with the
// reader blocked), and destruction while events are on their way.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "PlayerTestSupport.h"
#include "media/MainThread.h"
#include "support/StalledPipe.h"

using namespace tovi;
using namespace tovi::test;

namespace {

class ControlTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { UseDummyDrivers(); }
  void SetUp() override { LoadPlayerLibraries(); }
};

constexpr std::int64_t kFrameUs = 40000;

TEST_F(ControlTest, PauseResumeAndStepPostTheirStatesAndStepPostsOnce) {
  TEventLog log;
  THookLog hooks;
  TFFPlayer player;
  log.Attach(player);
  hooks.Attach(player);
  ASSERT_TRUE(player.Open(FixturePath("h264_aac.mp4"), 0, true)) << player.LastErrorText();
  ASSERT_TRUE(log.WaitFor(psPause)); // opened paused: after the first two pictures
  ASSERT_TRUE(player.IsPaused());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const size_t before = hooks.Hooked().size();

  player.Step();
  player.Step();
  ASSERT_TRUE(log.WaitFor(psStep));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(log.Count(psStep), 1);
  EXPECT_TRUE(player.IsPaused()) << "the video thread pauses again after the stepped picture";
  const size_t after = hooks.Hooked().size();
  EXPECT_GE(after, before + 1);
  EXPECT_LE(after, before + 3) << "a step decodes one picture, not the file";

  player.Resume();
  EXPECT_FALSE(player.IsPaused());
  EXPECT_TRUE(log.WaitFor(psResume));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  player.Pause();
  EXPECT_TRUE(player.IsPaused());
  EXPECT_TRUE(log.WaitFor(psPause, 2));
  player.Pause(); // already paused: nothing
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(log.Count(psPause), 2);
}

TEST_F(ControlTest, SeekShowsThePictureAtTheTargetNext) {
  TEventLog log;
  THookLog hooks;
  TFFPlayer player;
  log.Attach(player);
  hooks.Attach(player);
  ASSERT_TRUE(player.Open(FixturePath("h264_aac.mp4"), 0, true)) << player.LastErrorText();
  ASSERT_TRUE(log.WaitFor(psPause));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  struct Case {
    std::int64_t target;
    TSeekFlags flags;
  };
  for (const Case c : {Case{1000000, 0}, Case{0, sfBackward}, Case{1000000, sfBackward}}) {
    SCOPED_TRACE(c.target);
    hooks.Clear();
    player.Seek(c.flags, true, c.target);
    ASSERT_TRUE(hooks.WaitForCount(1));
    const THooked first = hooks.Hooked().front();
    EXPECT_NEAR(static_cast<double>(first.pts), static_cast<double>(c.target), kFrameUs);
    EXPECT_NEAR(first.frame, c.target / kFrameUs, 1);
    // A seek while paused shows the new picture and stays paused.
    EXPECT_TRUE(player.IsPaused());
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    std::int64_t shownPts = 0;
    TBitmap *bmp = player.CurrentFrame(shownPts);
    const int shown =
        fixtures::ReadFrameNumberFromBGR(bmp->Bits(), bmp->RowBytes(), bmp->Width(), bmp->Height());
    EXPECT_NEAR(shown, c.target / kFrameUs, 2);
  }

  // While playing, too: pictures decoded before the seek may still pass the hook (they
  // are dropped unseen), then playback goes on from the target.
  player.Seek(sfBackward, true, 0);
  player.Resume();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  hooks.Clear();
  player.Seek(0, true, 1000000);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto hooked = hooks.Hooked();
  const auto landed =
      std::find_if(hooked.begin(), hooked.end(), [](const THooked &h) { return h.frame >= 24; });
  ASSERT_NE(landed, hooked.end());
  EXPECT_NEAR(landed->frame, 25, 1);
  EXPECT_NEAR(static_cast<double>(landed->pts), 1000000.0, kFrameUs);
  // Playback is real time: on a loaded machine a late picture may be dropped unseen, so
  // the order is what is certain, not that no frame was skipped.
  for (auto it = landed + 1; it != hooked.end(); ++it)
    EXPECT_GT(it->frame, (it - 1)->frame);
  EXPECT_GE(player.CurrentPosition(), 1000000 - kFrameUs);
}

TEST_F(ControlTest, StopWithWaitingReturnsInEverySituation) {
  struct Case {
    const char *name;
    bool paused;
    std::function<void(TFFPlayer &)> before;
  };
  const Case cases[] = {
      {"right after open", false, [](TFFPlayer &) {}},
      {"playing", false, [](TFFPlayer &) { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }},
      {"paused", true, [](TFFPlayer &) { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }},
      {"seek pending", false, [](TFFPlayer &p) { p.Seek(0, false, 1500000); }},
      {"stepping", true, [](TFFPlayer &p) { p.Step(); }},
      {"at the end", false,
       [](TFFPlayer &) { std::this_thread::sleep_for(std::chrono::milliseconds(2500)); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TFFPlayer player; // no handlers: the event thread must end all the same
    ASSERT_TRUE(player.Open(FixturePath("h264_aac.mp4"), 0, c.paused)) << player.LastErrorText();
    c.before(player);
    TWatchdog dog(c.name, 10);
    const auto start = std::chrono::steady_clock::now();
    player.Stop(true);
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_TRUE(player.IsPaused()); // nothing open any more
    EXPECT_EQ(player.CurrentPosition(), -1);
  }
}

TEST_F(ControlTest, StopWithWaitingReturnsWhileTheReaderIsBlocked) {
  // A pipe that delivers a file and then neither more data nor its end: the demux
  // thread ends up inside a read that the kernel does not return from by itself.
  TempDir dir;
  const std::string fifo = dir.file("stalled.mp3");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::ifstream in(FixturePath("audio_only.mp3"), std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 10000u);
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    const size_t part = bytes.size();
    for (size_t done = 0; done < part;) {
      const ssize_t n = ::write(fd, bytes.data() + done, part - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return release; });
    ::close(fd);
  });

  {
    TWatchdog dog("playing a stalled pipe", 20);
    TEventLog log;
    TFFPlayer player;
    log.Attach(player);
    ASSERT_TRUE(player.Open(fifo, 0, false)) << player.LastErrorText();
    ASSERT_TRUE(log.WaitFor(psPlay));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    player.Stop(true);
    const double took = SecondsSince(start);
    std::printf("[ measured ] Stop(true) with the reader blocked took %.0f ms\n", took * 1000);
    EXPECT_LT(took, 3.0);
    EXPECT_TRUE(log.WaitFor(psStop, 1, 1000));
  }
  {
    std::lock_guard<std::mutex> lock(m);
    release = true;
  }
  cv.notify_all();
  writer.join();
}

// Open waits for the file's first bytes: with a pipe that stays silent, or one nobody
// opens for writing, only a Stop ends that wait. The player then plays the next file.
TEST_F(ControlTest, StopEndsAnOpenThatWaitsOnAStalledPipe) {
  TempDir dir;
  for (const auto kind : {TStalledPipe::Silent, TStalledPipe::NoWriter}) {
    SCOPED_TRACE(kind == TStalledPipe::Silent ? "silent writer" : "no writer");
    const std::string name = dir.file(kind == TStalledPipe::Silent ? "silent.mp3" : "lonely.mp3");
    TStalledPipe pipe(name, kind);
    ASSERT_TRUE(pipe.Ready());
    TFFPlayer player;
    std::atomic<bool> ended{false}, opened{true};
    std::thread opener([&] {
      opened = player.Open(name, 0, false);
      ended = true;
    });
    EXPECT_TRUE(StopUntilEnded([&] { player.Stop(false); }, [&] { return ended.load(); }))
        << "Open waited on";
    pipe.Release(); // lets an Open that ignored the stop end
    opener.join();
    player.Stop(true); // nothing left to wait for
    EXPECT_FALSE(opened);
    EXPECT_EQ(player.LastErrorText(), name + ": opening stopped");

    TWatchdog dog("playing after a stopped open", 60);
    TEventLog log;
    log.Attach(player);
    ASSERT_TRUE(player.Open(FixturePath("audio_only.mp3"), 0, false)) << player.LastErrorText();
    EXPECT_TRUE(log.WaitFor(psPlay));
    player.Stop(true);
  }
}

TEST_F(ControlTest, StateQueriesFromAnotherThreadSurviveOpenAndStop) {
  // Another thread keeps asking while files are opened and stopped under it: the
  // context it asks about may be freed at any moment. A sanitizer build sees a read of
  // a freed context here; any build sees a crash when one happens to land.
  TFFPlayer player;
  std::atomic<bool> done{false};
  std::atomic<long> queries{0};
  std::thread asker([&] {
    while (!done) {
      (void)player.IsPaused();
      ++queries;
    }
  });
  {
    TWatchdog dog("opening and stopping under queries", 60);
    for (int round = 0; round < 20; ++round) {
      ASSERT_TRUE(player.Open(FixturePath("h264_aac.mp4"), 0, round % 2 == 1)) << player.LastErrorText();
      std::this_thread::sleep_for(std::chrono::milliseconds(round % 3 * 20));
      player.Stop(true);
      EXPECT_TRUE(player.IsPaused()); // nothing open
    }
  }
  done = true;
  asker.join();
  EXPECT_GT(queries.load(), 0);
}

TEST_F(ControlTest, DestroyingAPlayingPlayerRaisesNoHandler) {
  // Events delivered in a main thread of our own, so that some are still queued for it
  // when the player goes.
  auto dispatcher = std::make_shared<TQueuedDispatcher>();
  auto previous = SetMainThreadDispatcher(dispatcher);
  std::atomic<bool> destroying{false};
  std::atomic<int> lateCalls{0}, calls{0};
  {
    auto player = std::make_unique<TFFPlayer>();
    player->SetOnPosition([&](TCustomPlayer *, std::int64_t) {
      ++calls;
      if (destroying) ++lateCalls;
    });
    player->SetOnState([&](TCustomPlayer *, TPlayState) {
      ++calls;
      if (destroying) ++lateCalls;
    });
    ASSERT_TRUE(player->Open(FixturePath("h264_aac.mp4"), 0, false)) << player->LastErrorText();
    const auto start = std::chrono::steady_clock::now();
    while (SecondsSince(start) < 0.6)
      dispatcher->WaitAndProcess(10);
    EXPECT_GT(calls.load(), 0);
    // Let a few events queue up undelivered.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    destroying = true;
    TWatchdog dog("destroying a playing player", 10);
    player.reset();
  }
  EXPECT_EQ(lateCalls.load(), 0);
  SetMainThreadDispatcher(previous);
}

TEST_F(ControlTest, EventsRunInTheMainThreadWhenAsked) {
  auto dispatcher = std::make_shared<TQueuedDispatcher>();
  auto previous = SetMainThreadDispatcher(dispatcher);
  const auto mainId = std::this_thread::get_id();
  std::atomic<int> elsewhere{0}, states{0};
  {
    TFFPlayer player;
    player.SetOnState([&](TCustomPlayer *, TPlayState) {
      ++states;
      if (std::this_thread::get_id() != mainId) ++elsewhere;
    });
    player.SetOnPosition([&](TCustomPlayer *, std::int64_t) {
      if (std::this_thread::get_id() != mainId) ++elsewhere;
    });
    ASSERT_TRUE(player.Open(FixturePath("video_only.mp4"), 0, false));
    const auto start = std::chrono::steady_clock::now();
    while (SecondsSince(start) < 0.4)
      dispatcher->WaitAndProcess(10);
    // Stop waits for the play thread while running the calls queued for this thread.
    TWatchdog dog("Stop(true) with events marshalled to the main thread", 10);
    player.Stop(true);
  }
  EXPECT_GE(states.load(), 2); // psPlay and psStop at least
  EXPECT_EQ(elsewhere.load(), 0);
  SetMainThreadDispatcher(previous);
}

} // namespace
