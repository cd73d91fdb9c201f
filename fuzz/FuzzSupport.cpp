#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"

namespace tovi::fuzz {

void LoadLibrariesOnce() {
  static const bool loaded = [] {
    TFFmpegLoader &loader = TFFmpegLoader::Instance();
    if (!loader.LoadLibraries(CONVERTER_LIBRARIES)) {
      std::fprintf(stderr, "fuzz: the media libraries could not be loaded: %s\n",
                   loader.LastErrorText().c_str());
      std::abort();
    }
    // No handler: lines are dropped, and none waits for a main thread that never runs.
    TFFLogger::Instance().SetTriggerEventInMainThread(false);
    return true;
  }();
  (void)loaded;
  QuietLog();
}

void QuietLog() { TFFLogger::Instance().SetLogLevel(llQuiet); }

std::vector<std::string> Split(const std::uint8_t *data, std::size_t size, char separator) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (char(data[i]) == separator)
      parts.emplace_back();
    else
      parts.back().push_back(char(data[i]));
  }
  return parts;
}

namespace {

// Owns the scratch folder for the life of the process.
struct TScratch {
  std::filesystem::path path;
  TScratch() {
    std::error_code ec;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, ec)) base = std::filesystem::temp_directory_path();
    path = base / ("tovi-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path, ec);
    if (ec) Fail("cannot create " + path.string() + ": " + ec.message());
  }
  ~TScratch() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

} // namespace

const std::filesystem::path &ScratchDir() {
  static const TScratch scratch;
  return scratch.path;
}

void WriteFile(const std::filesystem::path &path, const std::uint8_t *data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(data), std::streamsize(size));
  out.close();
  if (!out) Fail("cannot write " + path.string());
}

void Fail(const std::string &what) {
  std::fprintf(stderr, "fuzz: %s\n", what.c_str());
  std::abort();
}

} // namespace tovi::fuzz
