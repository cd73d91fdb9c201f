// The player's life over many files in one process: seeded random sequences of open,
// play, seek, pause, step and stop with random timings must never hang (a watchdog on
// every operation), and the file must play on after any of them. Run under the
// sanitizer builds the same sequences find leaks, freed memory read and data races.
//
// TOVI_PLAYER_CYCLES sets the number of cycles (default 100), TOVI_PLAYER_SEED the seed
// (default 15); the seed of a failing run is printed.
#include <cinttypes>
#include <random>
#include <string>

#include "PlayerTestSupport.h"
#include "media/EntryPoints.h"
#include "media/StringFormat.h"

using namespace tovi;
using namespace tovi::test;

namespace {

class LifecycleTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { UseDummyDrivers(); }
  void SetUp() override { LoadPlayerLibraries(); }
};

int EnvInt(const char *name, int fallback) {
  const char *text = std::getenv(name);
  return text && *text ? std::atoi(text) : fallback;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// True when the file plays on: the position passes `from` + `by`, or the end is reported.
bool PlaysOn(TCustomPlayer &player, TEventLog &log, std::int64_t from, std::int64_t by, int seconds) {
  const int ends = log.Count(psEnd);
  const auto start = std::chrono::steady_clock::now();
  while (SecondsSince(start) < seconds) {
    if (player.CurrentPosition() >= from + by || log.Count(psEnd) > ends) return true;
    SleepMs(10);
  }
  return false;
}

// Pause straight after Open, before any picture fell due, then Resume: the resume used
// to move the frame timer a whole wall-clock reading ahead, so no picture fell due
// again and the decode thread waited for a free slot for good.
TEST_F(LifecycleTest, ResumeAfterPausingBeforeTheFirstPicturePlaysToTheEnd) {
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    TEventLog log;
    TFFPlayer player;
    log.Attach(player);
    TWatchdog dog("pause right after open, then resume", 60);
    ASSERT_TRUE(player.Open(FixturePath("h264_aac.mp4"), 0, false)) << player.LastErrorText();
    player.Pause();
    SleepMs(round * 2);
    player.Resume();
    EXPECT_TRUE(log.WaitFor(psEnd, 1, 30000)) << "stuck at " << player.CurrentPosition() << " us";
    const TPlaybackCounters counters = player.Counters();
    EXPECT_GE(counters.Shown + counters.Dropped, 45);
    player.Stop(true);
  }
}

// At the end of the file, back to the start and paused (what the editors do on the end
// notice, in either order), then Resume: the file plays again from its start.
TEST_F(LifecycleTest, ResumeAfterSeekingBackFromTheEndPlaysAgain) {
  for (const char *file : {"h264_aac.mp4"}) {
    for (const bool pauseFirst : {false, true}) {
      SCOPED_TRACE(std::string(file) + (pauseFirst ? ", paused first" : ", sought first"));
      TEventLog log;
      TFFPlayer player;
      log.Attach(player);
      TWatchdog dog("back to the start from the end", 60);
      ASSERT_TRUE(player.Open(FixturePath(file), 0, false)) << player.LastErrorText();
      ASSERT_TRUE(log.WaitFor(psEnd, 1, 30000));
      if (pauseFirst) player.Pause();
      player.Seek(sfAny, false, 0);
      if (!pauseFirst) player.Pause();
      SleepMs(100);
      EXPECT_TRUE(player.IsPaused());
      player.Resume();
      EXPECT_TRUE(log.WaitFor(psEnd, 2, 30000)) << "stuck at " << player.CurrentPosition() << " us";
      player.Stop(true);
    }
  }
}

// Stop without waiting, then the next file: the stop request is for the file that was
// open. SDL's event queue used to outlive the file (the event subsystem was released
// once for two starts), and the new context, often at the old one's address, took the
// old quit request for its own and stopped straight away.
TEST_F(LifecycleTest, AStopRequestStaysWithItsFile) {
  TEventLog log;
  TFFPlayer player;
  log.Attach(player);
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    TWatchdog dog("stop, then the next file", 60);
    ASSERT_TRUE(player.Open(FixturePath("video_only.mp4"), 0, false)) << player.LastErrorText();
    player.Stop(false);
    ASSERT_TRUE(player.Open(FixturePath("video_only.mp4"), 0, false)) << player.LastErrorText();
    const int stops = log.Count(psStop);
    EXPECT_TRUE(PlaysOn(player, log, 0, 500000, 30)) << "at " << player.CurrentPosition() << " us";
    EXPECT_EQ(log.Count(psStop), stops) << "the new file was stopped";
    player.Stop(true);
    EXPECT_EQ(ff::SDL_WasInit(SDL_INIT_EVENTS), 0u) << "SDL's event queue outlives the player";
  }
}

// Resume while a step is still on its way: the step used to pause the file again after
// its picture, and the Resume was lost.
TEST_F(LifecycleTest, ResumeCancelsAStepOnItsWay) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    TEventLog log;
    TFFPlayer player;
    log.Attach(player);
    TWatchdog dog("step, then resume", 60);
    ASSERT_TRUE(player.Open(FixturePath("video_only.mp4"), 0, true)) << player.LastErrorText();
    ASSERT_TRUE(log.WaitFor(psPause, 1, 30000));
    player.Step();
    player.Resume();
    EXPECT_TRUE(log.WaitFor(psEnd, 1, 30000)) << "paused at " << player.CurrentPosition() << " us";
    EXPECT_FALSE(player.IsPaused());
    player.Stop(true);
  }
}

constexpr const char *kOperations[] = {"Pause",        "Resume",  "Step",    "Seek",    "Seek",
                                       "CurrentFrame", "queries", "playing", "playing", "playing"};

// The operation `op` (an index into kOperations) on an open player.
std::string RunOperation(TFFPlayer &player, int op, std::mt19937 &rng, std::int64_t duration) {
  switch (op) {
  case 0: player.Pause(); break;
  case 1: player.Resume(); break;
  case 2: player.Step(); break;
  case 3:
  case 4: {
    static constexpr TSeekFlags kFlags[] = {0, sfBackward, sfAny, sfAny | sfBackward};
    const TSeekFlags flags = kFlags[std::uniform_int_distribution<int>(0, 3)(rng)];
    const bool wait = std::uniform_int_distribution<int>(0, 1)(rng) == 1;
    // Now and then past the end: the player clamps it.
    const std::int64_t to = std::uniform_int_distribution<std::int64_t>(0, duration + 200000)(rng);
    player.Seek(flags, wait, to);
    return StringFormat("Seek(%d, %s, %" PRId64 ")", flags, wait ? "wait" : "no wait", to);
  }
  case 5: {
    std::int64_t pts = 0;
    (void)player.CurrentFrame(pts);
    break;
  }
  case 6: {
    double video = 0, master = 0;
    (void)player.GetClocks(video, master);
    (void)player.IsPaused();
    break;
  }
  default: {
    const int ms = std::uniform_int_distribution<int>(0, 60)(rng);
    SleepMs(ms);
    return StringFormat("%d ms", ms);
  }
  }
  return kOperations[op];
}

TEST_F(LifecycleTest, SeededCyclesNeverHangAndAlwaysPlayOn) {
  const int cycles = EnvInt("TOVI_PLAYER_CYCLES", 100);
  const unsigned seed = static_cast<unsigned>(EnvInt("TOVI_PLAYER_SEED", 15));
  std::printf("[ seed     ] TOVI_PLAYER_SEED=%u, %d cycles\n", seed, cycles);
  std::mt19937 rng(seed);
  // Video with sound, without, sound alone, bitmap-less subtitles, a program stream.
  struct Media {
    const char *file;
    std::int64_t duration;
  };
  const Media media[] = {{"h264_aac.mp4", 2000000},   {"video_only.mp4", 2000000},
                         {"audio_only.mp3", 2000000}, {"vp8_vorbis_subs.mkv", 2000000},
                         {"mpeg2_mp2.mpg", 2000000},  {"short_clip.mp4", 1000000}};
  auto log = std::make_unique<TEventLog>();
  auto player = std::make_unique<TFFPlayer>();
  log->Attach(*player);
  int opened = 0, liveness = 0, replaced = 0;
  std::string previousEnd = "a new player";
  const auto start = std::chrono::steady_clock::now();
  for (int cycle = 0; cycle < cycles; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    const Media &m = media[std::uniform_int_distribution<int>(0, std::size(media) - 1)(rng)];
    const bool paused = std::uniform_int_distribution<int>(0, 3)(rng) == 0;
    {
      TWatchdog dog("Open", 60);
      ASSERT_TRUE(player->Open(FixturePath(m.file), 0, paused)) << m.file << ": " << player->LastErrorText();
    }
    ++opened;
    // What this cycle did, for the failure message.
    std::string done = previousEnd + "; " + m.file + (paused ? " opened paused" : " opened");
    const int operations = std::uniform_int_distribution<int>(0, 8)(rng);
    for (int i = 0; i < operations; ++i) {
      const int op = std::uniform_int_distribution<int>(0, std::size(kOperations) - 1)(rng);
      TWatchdog dog(kOperations[op], 60);
      done += ", " + RunOperation(*player, op, rng, m.duration);
      SleepMs(std::uniform_int_distribution<int>(0, 20)(rng));
    }
    // Now and then: whatever happened, the file plays on once resumed.
    if (std::uniform_int_distribution<int>(0, 3)(rng) == 0) {
      ++liveness;
      TWatchdog dog("playing on", 60);
      player->Resume();
      const std::int64_t from = std::max<std::int64_t>(player->CurrentPosition(), 0);
      EXPECT_TRUE(PlaysOn(*player, *log, from, 200000, 30))
          << done << ": stuck at " << player->CurrentPosition() << " us, state " << player->LastState()
          << ", shown " << player->Counters().Shown << ", dropped " << player->Counters().Dropped;
    }
    // Stop, or leave the next Open to stop it, or let the player go with the file open.
    const int end = std::uniform_int_distribution<int>(0, 9)(rng);
    TWatchdog dog("ending the cycle", 60);
    previousEnd = end < 3   ? "Stop(true)"
                  : end < 6 ? "Stop(false)"
                  : end < 9 ? "left open"
                            : "player destroyed";
    if (end < 6) {
      player->Stop(end < 3);
    } else if (end == 9) {
      player.reset();
      log = std::make_unique<TEventLog>();
      player = std::make_unique<TFFPlayer>();
      log->Attach(*player);
      ++replaced;
    }
  }
  {
    TWatchdog dog("the last Stop", 60);
    player->Stop(true);
  }
  player.reset();
  std::printf("[ measured ] %d cycles (%d opens, %d play-on checks, %d players replaced) in %.1f s\n", cycles,
              opened, liveness, replaced, SecondsSince(start));
}

} // namespace
