// Playing into a host window by its native id (an X11 window of a Qt widget). Needs a
// display: the suite runs under xvfb-run; without one the test is skipped.
#include <QApplication>
#include <QWidget>

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "PlayerTestSupport.h"

using namespace tovi;
using namespace tovi::test;

namespace {

// Mesa unloads its GL driver (*_dri.so) when SDL closes the display at Stop. Memory the
// driver keeps for the process in its own globals is then reachable from nowhere, and
// the leak checker reports it at exit with no module name left to suppress it by. The
// test keeps the driver the renderer loaded mapped for the rest of the process.
void KeepGlDriverLoaded() {
  std::vector<std::string> drivers;
  dl_iterate_phdr(
      [](dl_phdr_info *info, size_t, void *data) {
        const std::string_view name = info->dlpi_name ? info->dlpi_name : "";
        if (name.ends_with("_dri.so")) static_cast<std::vector<std::string> *>(data)->emplace_back(name);
        return 0;
      },
      &drivers);
  // Outside the iteration: it holds the loader's lock, which dlopen takes as well.
  for (const std::string &driver : drivers)
    (void)dlopen(driver.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

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
  // The 2 s file ends well within the limit unless the machine is very busy (sanitizer
  // builds on a loaded machine); the loop ends at the end notice.
  while (log.Count(psEnd) == 0 && SecondsSince(start) < 120) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(log.Count(psEnd), 1);
  // Without a screen size of its own the player takes the host's client size.
  EXPECT_EQ(player.ScreenWidth(), 320);
  EXPECT_EQ(player.ScreenHeight(), 240);
  // A window system without graphics hardware (xvfb) stalls the first presents for a
  // while, the longer the busier the machine; the player then drops pictures to catch up
  // with the sound. How many are shown depends on the load; that some are, and that
  // every picture is either shown or dropped, does not.
  const auto counters = player.Counters();
  std::printf("[ measured ] host window: %d pictures shown, %d dropped\n", counters.Shown, counters.Dropped);
  EXPECT_GT(counters.Shown, 0);
  EXPECT_GE(counters.Shown + counters.Dropped, 45);
  KeepGlDriverLoaded();
  TWatchdog dog("Stop(true) with a host window", 60);
  player.Stop(true);
  EXPECT_TRUE(host.isVisible()) << "the host's window stays the host's";
}

} // namespace
