// File-name and file-system helpers on real files in a temporary folder. Each test
// runs in a process of its own, so the current folder and the environment it changes
// do not leak into other tests.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "media/FileUtils.h"
#include "support/TestMedia.h"

using namespace tovi;
namespace fs = std::filesystem;

TEST(FileNames, DelimiterPathAndName) {
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("dir/ü"), "dir/ü/"); // last bytes >= 0x80
  EXPECT_EQ(IncludeTrailingPathDelimiter("テスト"), "テスト/");

  struct Case {
    const char *full, *path, *name;
  };
  for (const Case &c :
       {Case{"/a/b/c.mkv", "/a/b/", "c.mkv"}, Case{"c.mkv", "", "c.mkv"}, Case{"/a/b/", "/a/b/", ""},
        Case{"/", "/", ""}, Case{"", "", ""},
        // ':' is an ordinary character here, also where Windows had a drive.
        Case{"C:clip.mkv", "", "C:clip.mkv"}, Case{"/x/clip:colon.mkv", "/x/", "clip:colon.mkv"},
        Case{"/tmp/Видео/テスト_ü.mkv", "/tmp/Видео/", "テスト_ü.mkv"}}) {
    EXPECT_EQ(ExtractPath(c.full), c.path) << c.full;
    EXPECT_EQ(ExtractName(c.full), c.name) << c.full;
  }
}

TEST(FileNames, SplitFirst) {
  std::string text = "a,b,c";
  EXPECT_EQ(SplitFirst(text, ",", false), "a");
  EXPECT_EQ(text, "a,b,c");
  EXPECT_EQ(SplitFirst(text, ",", true), "a");
  EXPECT_EQ(text, "b,c");
  text = "key::value::rest";
  EXPECT_EQ(SplitFirst(text, "::", true), "key");
  EXPECT_EQ(text, "value::rest");
  text = ",lead";
  EXPECT_EQ(SplitFirst(text, ",", true), "");
  EXPECT_EQ(text, "lead");
  text = "Видео→テスト";
  EXPECT_EQ(SplitFirst(text, "→", true), "Видео");
  EXPECT_EQ(text, "テスト");
  // No separator (or an empty one): the whole text, which `remove` clears.
  text = "whole";
  EXPECT_EQ(SplitFirst(text, ";", false), "whole");
  EXPECT_EQ(SplitFirst(text, "", false), "whole");
  EXPECT_EQ(text, "whole");
  EXPECT_EQ(SplitFirst(text, ";", true), "whole");
  EXPECT_EQ(text, "");
}

TEST(FileSystem, ExistenceAndSize) {
  test::TempDir dir;
  const std::string file = dir.file("Видео:ü.mkv");
  std::ofstream(file) << std::string(12345, 'z');
  std::ofstream(dir.file("empty")).flush();
  fs::create_directory(dir.path() / "sub");
  fs::create_symlink(file, dir.path() / "link");
  fs::create_symlink(dir.file("gone"), dir.path() / "dangling");
  fs::resize_file(dir.file("empty"), 0);

  for (const char *name : {"Видео:ü.mkv", "empty", "link"})
    EXPECT_TRUE(IsExistingFile(dir.file(name))) << name;
  for (const char *name : {"dangling", "sub", "missing"})
    EXPECT_FALSE(IsExistingFile(dir.file(name))) << name;
  EXPECT_FALSE(IsExistingFile(""));
  EXPECT_EQ(FileSizeOf(file), 12345);
  EXPECT_EQ(FileSizeOf(dir.file("link")), 12345);
  EXPECT_EQ(FileSizeOf(dir.file("empty")), 0);
  EXPECT_EQ(FileSizeOf(dir.file("sub")), -1);
  EXPECT_EQ(FileSizeOf(dir.file("missing")), -1);
  // Sizes beyond 32 bits (a sparse file costs no disk space).
  fs::resize_file(dir.file("empty"), 5'000'000'000ULL);
  EXPECT_EQ(FileSizeOf(dir.file("empty")), 5'000'000'000LL);
}

TEST(FileSystem, CurrentDirAndFullPathName) {
  test::TempDir dir;
  const std::string base = fs::canonical(dir.path()).string();
  fs::create_directory(base + "/Видео");
  ASSERT_TRUE(SetCurrentDir(base + "/Видео"));
  EXPECT_FALSE(SetCurrentDir(base + "/missing"));
  EXPECT_FALSE(SetCurrentDir(""));
  const std::string cwd = GetCurrentDir();
  EXPECT_EQ(cwd, base + "/Видео");

  EXPECT_EQ(FullPathName("a/../b/./c:d.mkv"), cwd + "/b/c:d.mkv");
  EXPECT_EQ(FullPathName(".."), base + "/");
  EXPECT_EQ(FullPathName("/x/y/../z"), "/x/z");
  EXPECT_EQ(FullPathName("/x//y/./"), "/x/y/");
  EXPECT_EQ(FullPathName("/.."), "/");
  EXPECT_EQ(FullPathName(""), "");

  // No fixed buffers: a current folder deeper than PATH_MAX.
  const std::string segment(200, 'd');
  std::string expected = cwd;
  for (int i = 0; i < 25; ++i, expected += "/" + segment) {
    ASSERT_EQ(mkdir(segment.c_str(), 0777), 0);
    ASSERT_TRUE(SetCurrentDir(segment));
  }
  ASSERT_GT(expected.size(), 4096u);
  EXPECT_EQ(GetCurrentDir(), expected);
  EXPECT_EQ(FullPathName("../f.mkv"), expected.substr(0, expected.size() - 201) + "/f.mkv");
  // Their full names are too long for rmdir, so the chain goes with relative ones.
  for (int i = 0; i < 25; ++i)
    ASSERT_TRUE(chdir("..") == 0 && rmdir(segment.c_str()) == 0);
}

TEST(FileSystem, Environment) {
  const std::string longValue(100000, 'v');
  ASSERT_EQ(setenv("TOVI_TEST_LONG", longValue.c_str(), 1), 0);
  ASSERT_EQ(setenv("TOVI_TEST_UTF8", "Видео テスト", 1), 0);
  unsetenv("TOVI_TEST_UNSET");
  EXPECT_EQ(GetEnvironment("TOVI_TEST_LONG"), longValue);
  EXPECT_EQ(GetEnvironment("TOVI_TEST_UTF8"), "Видео テスト");
  EXPECT_EQ(GetEnvironment("TOVI_TEST_UNSET"), "");
}
