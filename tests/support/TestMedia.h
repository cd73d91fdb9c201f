// Shared helpers for tests: the generated media folder and library loading.
#pragma once

#include <filesystem>
#include <string>

namespace tovi::test {

// Folder of the generated test media (TOVI_FIXTURE_DIR); fails the test when unset.
std::filesystem::path FixtureDir();
// Full path of one generated file.
std::string FixturePath(const std::string &name);
// Loads the converter library set (or the player set) or fails the calling test.
void LoadConverterLibraries();
void LoadPlayerLibraries();
// A fresh empty temporary folder, removed when the returned object goes out of scope.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::filesystem::path &path() const { return path_; }
  std::string file(const std::string &name) const { return (path_ / name).string(); }

private:
  std::filesystem::path path_;
};

} // namespace tovi::test
