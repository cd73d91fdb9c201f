// Output names: "_(new)", then the first free "_(new_n)"; never an existing entry.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "AppcoreTestSupport.h"
#include "appcore/OutputNaming.h"
#include "appcore/Settings.h"

using namespace tovi;

TEST(OutputNaming, FirstFreeNameFillsGaps) {
  tovi::test::TempDir out;
  const std::string folder = out.path().string();
  EXPECT_EQ(UnusedOutputName(folder, "/clips/holiday.avi", ".mp4"), folder + "/holiday_(new).mp4");
  for (const char *name : {"holiday_(new).mp4", "holiday_(new_1).mp4", "holiday_(new_3).mp4"})
    std::ofstream(out.file(name)) << "x";
  EXPECT_EQ(UnusedOutputName(folder + "/", "/clips/holiday.avi", ".mp4"), folder + "/holiday_(new_2).mp4");
  // A folder of that name counts as taken; another extension does not.
  std::filesystem::create_directory(out.file("holiday_(new_2).mp4"));
  EXPECT_EQ(UnusedOutputName(folder, "/clips/holiday.avi", ".mp4"), folder + "/holiday_(new_4).mp4");
  EXPECT_EQ(UnusedOutputName(folder, "/clips/holiday.avi", ".avi"), folder + "/holiday_(new).avi");
  // Only the last extension goes; a name without one keeps its whole name.
  EXPECT_EQ(UnusedOutputName(folder, "/c/a.b.c", ".mp3"), folder + "/a.b_(new).mp3");
  EXPECT_EQ(UnusedOutputName(folder, "/c/noext", ".mp3"), folder + "/noext_(new).mp3");
}

TEST(OutputNaming, MissingFolderIsCreatedAndAnUncreatableOneReported) {
  tovi::test::ConfigFolder cfg;
  TAppSettings s(cfg.SettingsFile());
  const auto nested = cfg.Path() / "a" / "b";
  s.SetOutPutDir(nested.string());
  EXPECT_EQ(MakeOutputName(s, "/x/clip.mkv", ".mp4"), nested.string() + "/clip_(new).mp4");
  EXPECT_TRUE(std::filesystem::is_directory(nested));

  // A file where a folder should be: cannot be created.
  std::ofstream(cfg.File("blocker")) << "x";
  const std::string bad = cfg.File("blocker") + "/out";
  s.SetOutPutDir(bad);
  std::string warning;
  const std::string name =
      MakeOutputName(s, "/x/clip.mkv", ".mp4", [&](const std::string &title, const std::string &m) {
        EXPECT_EQ(title, "Warning");
        warning = m;
      });
  EXPECT_EQ(warning, "Cannot create output directory:" + bad + ".It will create default directory " +
                         DefaultOutputDir() + "!");
  EXPECT_EQ(s.OutPutDir(), DefaultOutputDir()) << "the default is stored for next time";
  EXPECT_EQ(name, DefaultOutputDir() + "/clip_(new).mp4") << "the name is made in the folder used";
}

// Names past 255 bytes cannot be created: the base name gives way, never inside a
// character, and the mark and extension stay.
TEST(OutputNaming, LongNamesAreShortenedOnCharacterBoundaries) {
  tovi::test::TempDir out;
  const std::string folder = out.path().string();
  const std::string e = "\xC3\xA9";                           // é, two bytes
  const std::string base = std::string(240, 'a') + e + e + e; // 246 bytes
  const std::string first = UnusedOutputName(folder, "/clips/" + base + ".avi", ".mkv");
  // 245 bytes are left for the base: the third é would be cut in half, so it goes.
  EXPECT_EQ(first, folder + "/" + std::string(240, 'a') + e + e + "_(new).mkv");
  std::ofstream(first) << "x";
  ASSERT_TRUE(std::filesystem::exists(first)) << "a name of this length can be created";
  const std::string second = UnusedOutputName(folder, "/clips/" + base + ".avi", ".mkv");
  // 243 bytes are left: the cut comes before the second é.
  EXPECT_EQ(second, folder + "/" + std::string(240, 'a') + e + "_(new_1).mkv");
  std::ofstream(second) << "x";
  EXPECT_TRUE(std::filesystem::exists(second));

  // A name that fits is kept whole.
  const std::string fits(255 - 10, 'b');
  EXPECT_EQ(UnusedOutputName(folder, "/c/" + fits + ".avi", ".mkv"), folder + "/" + fits + "_(new).mkv");
}
