// Playing into a host window by its native id (an X11 window of a Qt widget). Needs a
// display: the suite runs under xvfb-run; without one the test is skipped.
#include <QApplication>
#include <QWidget>

#include <cstdlib>

#include "PlayerTestSupport.h"

using namespace tovi;
using namespace tovi::test;

namespace {

TEST(PlayerHostWindow, PlaysIntoTheHostWindowAtItsSize) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  ::setenv("SDL_VIDEODRIVER", "x11", 1);
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  LoadPlayerLibraries();
  int argc = 1;
  char name[] = "player_host_window_test";
  char *argv[] = {name, nullptr};
  QApplication app(argc, argv);
  QWidget host;
  host.setAttribute(Qt::WA_NativeWindow);
  host.setAttribute(Qt::WA_PaintOnScreen); // the player draws, not Qt
  host.setAttribute(Qt::WA_NoSystemBackground);
  host.resize(320, 240);
  host.show();
  for (int i = 0; i < 20; ++i)
    QApplication::processEvents();

  TEventLog log;
  TFFPlayer player;
  log.Attach(player);
  ASSERT_TRUE(player.Open(FixturePath("h264_aac.mp4"), static_cast<std::uintptr_t>(host.winId()), false))
      << player.LastErrorText();
  const auto start = std::chrono::steady_clock::now();
  while (log.Count(psEnd) == 0 && SecondsSince(start) < 6) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(log.Count(psEnd), 1);
  // Without a screen size of its own the player takes the host's client size.
  EXPECT_EQ(player.ScreenWidth(), 320);
  EXPECT_EQ(player.ScreenHeight(), 240);
  // A window system without graphics hardware (xvfb) stalls the first presents for a
  // while; the player then drops pictures to catch up with the sound, but shows the rest.
  const auto counters = player.Counters();
  std::printf("[ measured ] host window: %d pictures shown, %d dropped\n", counters.Shown, counters.Dropped);
  EXPECT_GT(counters.Shown, 5);
  EXPECT_GE(counters.Shown + counters.Dropped, 45);
  TWatchdog dog("Stop(true) with a host window", 10);
  player.Stop(true);
  EXPECT_TRUE(host.isVisible()) << "the host's window stays the host's";
}

} // namespace
