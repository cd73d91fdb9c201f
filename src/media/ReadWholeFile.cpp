#include "media/ReadWholeFile.h"

#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>

#include "media/EntryPoints.h"

namespace tovi {
namespace {

struct FileClose {
  void operator()(FILE *f) const noexcept { ff::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileClose>;

} // namespace

int ReadWholeFile(const std::string &fileName, std::vector<char> &buffer) {
  buffer.clear();
  // A directory opens for reading here, and seeking to its end gives a meaningless size.
  std::error_code ec;
  if (std::filesystem::is_directory(fileName, ec)) return -1;
  const FilePtr file(ff::fopen(fileName.c_str(), "rb"));
  if (!file) return -1;
  if (ff::fseek(file.get(), 0, SEEK_END) != 0) return -1;
  const long size = ff::ftell(file.get());
  if (size < 0 || ff::fseek(file.get(), 0, SEEK_SET) != 0) return -1;
  try {
    buffer.resize(static_cast<size_t>(size) + 1);
  } catch (const std::bad_alloc &) {
    return -12;
  } catch (const std::length_error &) {
    return -12;
  }
  const size_t got = ff::fread(buffer.data(), 1, static_cast<size_t>(size), file.get());
  if (got < static_cast<size_t>(size)) {
    buffer.resize(got + 1);
    buffer.shrink_to_fit();
  }
  buffer[got] = '\0';
  return 0;
}

} // namespace tovi
