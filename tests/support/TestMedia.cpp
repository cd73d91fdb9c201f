#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "media/FFmpegLoader.h"

namespace tovi::test {

std::filesystem::path FixtureDir() {
  const char *dir = std::getenv("TOVI_FIXTURE_DIR");
  if (!dir || !*dir) {
    ADD_FAILURE() << "TOVI_FIXTURE_DIR is not set; run the tests through ctest";
    return {};
  }
  return dir;
}

std::string FixturePath(const std::string &name) { return (FixtureDir() / name).string(); }

void LoadConverterLibraries() {
  auto &loader = TFFmpegLoader::Instance();
  ASSERT_TRUE(loader.LoadLibraries(CONVERTER_LIBRARIES)) << loader.LastErrorText();
}

void LoadPlayerLibraries() {
  auto &loader = TFFmpegLoader::Instance();
  ASSERT_TRUE(loader.LoadLibraries(PLAYER_LIBRARIES)) << loader.LastErrorText();
}

TempDir::TempDir() {
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("tovi-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

} // namespace tovi::test
