#include "media/FileUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace tovi {

std::string IncludeTrailingPathDelimiter(const std::string &path) {
  if (!path.empty() && path.back() == '/') return path;
  return path + '/';
}

std::string ExtractPath(const std::string &fileName) {
  const size_t slash = fileName.rfind('/');
  return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
}

std::string ExtractName(const std::string &fileName) {
  const size_t slash = fileName.rfind('/');
  return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

bool IsExistingFile(const std::string &fileName) {
  struct stat st {};
  return !fileName.empty() && ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string GetCurrentDir() {
  // glibc sizes the buffer itself when given none, so there is no length limit.
  std::unique_ptr<char, decltype(&std::free)> dir(::getcwd(nullptr, 0), &std::free);
  return dir ? std::string(dir.get()) : std::string();
}

bool SetCurrentDir(const std::string &dir) { return !dir.empty() && ::chdir(dir.c_str()) == 0; }

std::string GetEnvironment(const std::string &name) {
  const char *value = std::getenv(name.c_str());
  return value ? std::string(value) : std::string();
}

std::string FullPathName(const std::string &fileName) {
  if (fileName.empty()) return {};
  std::filesystem::path path(fileName);
  if (path.is_relative()) {
    const std::string cwd = GetCurrentDir();
    if (cwd.empty()) return {};
    path = std::filesystem::path(cwd) / path;
  }
  return path.lexically_normal().string();
}

std::int64_t FileSizeOf(const std::string &fileName) {
  struct stat st {};
  if (fileName.empty() || ::stat(fileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return st.st_size;
}

std::string SplitFirst(std::string &text, const std::string &separator, bool remove) {
  const size_t at = separator.empty() ? std::string::npos : text.find(separator);
  if (at == std::string::npos) {
    std::string all = remove ? std::move(text) : text;
    if (remove) text.clear();
    return all;
  }
  std::string first = text.substr(0, at);
  if (remove) text.erase(0, at + separator.size());
  return first;
}

} // namespace tovi
