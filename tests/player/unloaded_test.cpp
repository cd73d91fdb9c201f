// The player without its libraries: refused with the documented text, nothing started.
#include <gtest/gtest.h>

#include "media/FFmpegLoader.h"
#include "player/Player.h"

using namespace tovi;

TEST(PlayerWithoutLibraries, OpenFailsWithTheLoaderText) {
  ASSERT_FALSE(TFFmpegLoader::Instance().LibrariesLoaded(PLAYER_LIBRARIES));
  TFFPlayer player;
  EXPECT_FALSE(player.Open("any.mp4", 0, false));
  EXPECT_EQ(player.LastErrorText(), "libav or libsdl not loaded.");
  EXPECT_TRUE(player.IsPaused());
  EXPECT_EQ(player.CurrentPosition(), -1);
  player.Stop(true); // nothing to stop, and no library to call
}
