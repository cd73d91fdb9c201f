// File-name and file-system helpers on real files in a temporary folder. Each test
// runs in a process of its own, so changing the current folder or the environment
// does not leak into other tests.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "media/FileUtils.h"
#include "support/TestMedia.h"

using namespace tovi;
namespace fs = std::filesystem;

namespace {

void WriteBytes(const std::string &path, size_t size) {
  std::ofstream(path, std::ios::binary) << std::string(size, 'z');
}

// Restores the current folder at the end of a test that changes it.
class CurrentDirGuard {
public:
  CurrentDirGuard() : saved_(fs::current_path()) {}
  ~CurrentDirGuard() {
    std::error_code ec;
    fs::current_path(saved_, ec);
  }

private:
  fs::path saved_;
};

} // namespace

TEST(FileNames, TrailingDelimiter) {
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/"), "/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "/");
  // Names ending in multi-byte characters, whose last bytes are >= 0x80.
  EXPECT_EQ(IncludeTrailingPathDelimiter("dir/ü"), "dir/ü/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("Видео"), "Видео/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("テスト"), "テスト/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("C:"), "C:/");
}

TEST(FileNames, PathAndNameSplitAtTheLastSlashOnly) {
  struct Case {
    const char *full, *path, *name;
  };
  const Case cases[] = {
      {"/a/b/c.mkv", "/a/b/", "c.mkv"},
      {"c.mkv", "", "c.mkv"},
      {"/a/b/", "/a/b/", ""},
      {"/", "/", ""},
      {"", "", ""},
      {"/c.mkv", "/", "c.mkv"},
      // ':' is an ordinary character here, also where Windows had a drive.
      {"C:clip.mkv", "", "C:clip.mkv"},
      {"/x/clip:with:colon.mkv", "/x/", "clip:with:colon.mkv"},
      {"/tmp/Видео/テスト_ü.mkv", "/tmp/Видео/", "テスト_ü.mkv"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(ExtractPath(c.full), c.path) << c.full;
    EXPECT_EQ(ExtractName(c.full), c.name) << c.full;
    EXPECT_EQ(ExtractPath(c.full) + ExtractName(c.full), c.full);
  }
}

TEST(FileNames, SplitFirst) {
  std::string text = "a,b,c";
  EXPECT_EQ(SplitFirst(text, ",", false), "a");
  EXPECT_EQ(text, "a,b,c");
  EXPECT_EQ(SplitFirst(text, ",", true), "a");
  EXPECT_EQ(text, "b,c");
  EXPECT_EQ(SplitFirst(text, ",", true), "b");
  EXPECT_EQ(SplitFirst(text, ",", true), "c");
  EXPECT_EQ(text, "");
  EXPECT_EQ(SplitFirst(text, ",", true), "");

  // Multi-byte separators, a separator at the start and at the end.
  text = "key::value::rest";
  EXPECT_EQ(SplitFirst(text, "::", true), "key");
  EXPECT_EQ(text, "value::rest");
  text = ",lead";
  EXPECT_EQ(SplitFirst(text, ",", true), "");
  EXPECT_EQ(text, "lead");
  text = "trail,";
  EXPECT_EQ(SplitFirst(text, ",", true), "trail");
  EXPECT_EQ(text, "");

  // No separator (or an empty one): the whole text, which `remove` clears.
  text = "whole";
  EXPECT_EQ(SplitFirst(text, ";", false), "whole");
  EXPECT_EQ(text, "whole");
  EXPECT_EQ(SplitFirst(text, "", false), "whole");
  EXPECT_EQ(SplitFirst(text, ";", true), "whole");
  EXPECT_EQ(text, "");
  text = "Видео→テスト";
  EXPECT_EQ(SplitFirst(text, "→", true), "Видео");
  EXPECT_EQ(text, "テスト");
}

TEST(FileSystem, ExistenceAndSize) {
  test::TempDir dir;
  const std::string file = dir.file("Видео:ü.mkv");
  const std::string empty = dir.file("empty");
  WriteBytes(file, 12345);
  WriteBytes(empty, 0);
  fs::create_directory(dir.path() / "sub");
  fs::create_symlink(file, dir.path() / "link");
  fs::create_symlink(dir.file("gone"), dir.path() / "dangling");

  EXPECT_TRUE(IsExistingFile(file));
  EXPECT_TRUE(IsExistingFile(empty));
  EXPECT_TRUE(IsExistingFile(dir.file("link")));
  EXPECT_FALSE(IsExistingFile(dir.file("dangling")));
  EXPECT_FALSE(IsExistingFile(dir.file("sub")));
  EXPECT_FALSE(IsExistingFile(dir.file("missing")));
  EXPECT_FALSE(IsExistingFile(""));

  EXPECT_EQ(FileSizeOf(file), 12345);
  EXPECT_EQ(FileSizeOf(empty), 0);
  EXPECT_EQ(FileSizeOf(dir.file("link")), 12345);
  EXPECT_EQ(FileSizeOf(dir.file("sub")), -1);
  EXPECT_EQ(FileSizeOf(dir.file("missing")), -1);
  EXPECT_EQ(FileSizeOf(""), -1);

  // Sizes beyond 32 bits (a sparse file costs no disk space).
  const std::string big = dir.file("big");
  WriteBytes(big, 0);
  fs::resize_file(big, 5'000'000'000ULL);
  EXPECT_EQ(FileSizeOf(big), 5'000'000'000LL);
}

TEST(FileSystem, CurrentDirAndFullPathName) {
  CurrentDirGuard guard;
  test::TempDir dir;
  const fs::path base = fs::canonical(dir.path());
  fs::create_directory(base / "Видео");

  ASSERT_TRUE(SetCurrentDir((base / "Видео").string()));
  EXPECT_EQ(GetCurrentDir(), (base / "Видео").string());
  EXPECT_FALSE(SetCurrentDir((base / "missing").string()));
  EXPECT_FALSE(SetCurrentDir(""));
  EXPECT_EQ(GetCurrentDir(), (base / "Видео").string());

  const std::string cwd = GetCurrentDir();
  EXPECT_EQ(FullPathName("a/../b/./c:d.mkv"), cwd + "/b/c:d.mkv");
  EXPECT_EQ(FullPathName(".."), base.string() + "/");
  EXPECT_EQ(FullPathName("x.mkv"), cwd + "/x.mkv");
  EXPECT_EQ(FullPathName("/x/y/../z"), "/x/z");
  EXPECT_EQ(FullPathName("/x//y/./"), "/x/y/");
  EXPECT_EQ(FullPathName("//x"), "/x");
  EXPECT_EQ(FullPathName("/.."), "/");
  EXPECT_EQ(FullPathName(""), "");
  const std::string longName = "/" + std::string(3000, 'a') + "/" + std::string(3000, 'b') + "/../c";
  EXPECT_EQ(FullPathName(longName), "/" + std::string(3000, 'a') + "/c");
}

TEST(FileSystem, CurrentDirDeeperThanPathMax) {
  CurrentDirGuard guard;
  test::TempDir dir;
  ASSERT_TRUE(SetCurrentDir(dir.path().string()));
  const std::string segment(200, 'd');
  std::string expected = fs::canonical(dir.path()).string();
  for (int i = 0; i < 25; ++i) {
    ASSERT_EQ(mkdir(segment.c_str(), 0777), 0);
    ASSERT_TRUE(SetCurrentDir(segment));
    expected += "/" + segment;
  }
  ASSERT_GT(expected.size(), 4096u);
  EXPECT_EQ(GetCurrentDir(), expected);
  EXPECT_EQ(FullPathName("f.mkv"), expected + "/f.mkv");
  // Remove the chain with relative names: its full names are too long for rmdir.
  for (int i = 0; i < 25; ++i) {
    ASSERT_EQ(chdir(".."), 0);
    ASSERT_EQ(rmdir(segment.c_str()), 0);
  }
}

TEST(FileSystem, Environment) {
  const std::string longValue(100000, 'v');
  ASSERT_EQ(setenv("TOVI_TEST_LONG", longValue.c_str(), 1), 0);
  ASSERT_EQ(setenv("TOVI_TEST_EMPTY", "", 1), 0);
  ASSERT_EQ(setenv("TOVI_TEST_UTF8", "Видео テスト", 1), 0);
  unsetenv("TOVI_TEST_UNSET");
  EXPECT_EQ(GetEnvironment("TOVI_TEST_LONG"), longValue);
  EXPECT_EQ(GetEnvironment("TOVI_TEST_EMPTY"), "");
  EXPECT_EQ(GetEnvironment("TOVI_TEST_UTF8"), "Видео テスト");
  EXPECT_EQ(GetEnvironment("TOVI_TEST_UNSET"), "");
}
