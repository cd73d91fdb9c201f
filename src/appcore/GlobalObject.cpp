#include "appcore/GlobalObject.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "media/FileUtils.h"

#ifndef TOVI_INSTALL_DATA_DIR
#define TOVI_INSTALL_DATA_DIR ""
#endif
#ifndef TOVI_SOURCE_DATA_DIR
#define TOVI_SOURCE_DATA_DIR ""
#endif

namespace tovi {
namespace {

std::string HomeDir() {
  std::string home = GetEnvironment("HOME");
  if (home.empty()) {
    if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_dir) home = pw->pw_dir;
  }
  return home;
}

bool FileExists(const std::string &name) { return !name.empty() && IsExistingFile(name); }

} // namespace

TGlobalObject::TGlobalObject() {
  const std::string dir = ConfigDir();
  settingsFile_ = dir + SETTINGS_FILE_NAME;
  profileFile_ = FindProfileFile();
  // The program has no web site of its own: Help and Website open its README.
  if (const std::string readme = ReadmeUrl(); !readme.empty()) {
    helpPage_ = readme;
    webSite_ = readme;
  }
}

void TGlobalObject::SetSettingsFile(const std::string &v) {
  if (v.size() > 3) settingsFile_ = v;
}
void TGlobalObject::SetProfileFile(const std::string &v) {
  if (v.size() > 3) profileFile_ = v;
}
void TGlobalObject::SetAppTitle(const std::string &v) {
  if (!v.empty()) appTitle_ = v;
}
void TGlobalObject::SetVersionText(const std::string &v) {
  if (!v.empty()) versionText_ = v;
}
void TGlobalObject::SetHelpPage(const std::string &v) {
  if (!v.empty()) helpPage_ = v;
}
void TGlobalObject::SetWebSite(const std::string &v) {
  if (!v.empty()) webSite_ = v;
}

std::string TGlobalObject::BuildVersionText(int major, int minor, int release, int build) {
  return " " + std::to_string(major) + "." + std::to_string(minor) + std::to_string(release) +
         std::to_string(build) + " ";
}

std::string ApplicationErrorText(const std::string &message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

std::string ConfigDir() {
  std::string dir = GetEnvironment("TOVI_CONFIG_DIR");
  if (dir.empty()) {
    std::string base = GetEnvironment("XDG_CONFIG_HOME");
    if (base.empty()) {
      const std::string home = HomeDir();
      if (home.empty()) return "";
      base = IncludeTrailingPathDelimiter(home) + ".config";
    }
    dir = IncludeTrailingPathDelimiter(base) + "tovi-video-converter";
  }
  if (!ForceDirectories(dir)) return "";
  return IncludeTrailingPathDelimiter(dir);
}

std::string DataDir() {
  const std::string installed = TOVI_INSTALL_DATA_DIR;
  if (!installed.empty() && FileExists(IncludeTrailingPathDelimiter(installed) + PROFILE_FILE_NAME))
    return IncludeTrailingPathDelimiter(installed);
  const std::string source = TOVI_SOURCE_DATA_DIR;
  return source.empty() ? std::string() : IncludeTrailingPathDelimiter(source);
}

std::string ReadmeUrl() {
  std::string readme = DataDir() + "README.md";
  if (!FileExists(readme)) {
    const std::string source = TOVI_SOURCE_DATA_DIR;
    if (source.empty()) return "";
    readme = IncludeTrailingPathDelimiter(source) + "../README.md";
  }
  if (!FileExists(readme)) return "";
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::weakly_canonical(readme, ec);
  return "file://" + (ec ? readme : path.string());
}

std::string FindProfileFile() {
  const std::string copy = ConfigDir() + PROFILE_FILE_NAME;
  if (FileExists(copy)) return copy;
  const std::string shipped = DataDir() + PROFILE_FILE_NAME;
  if (FileExists(shipped)) return shipped;
  return copy;
}

std::string DefaultOutputDir() {
  const std::string home = HomeDir();
  return home.empty() ? std::string("videoconverter") : IncludeTrailingPathDelimiter(home) + "videoconverter";
}

std::string LoginName() {
  if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_name) return pw->pw_name;
  return GetEnvironment("USER");
}

bool IsDirectoryWritable(const std::string &dir) {
  if (dir.empty()) return false;
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return false;
  std::string templ = IncludeTrailingPathDelimiter(dir) + "DAXXXXXX";
  const int fd = ::mkstemp(templ.data());
  if (fd < 0) return false;
  ::close(fd);
  return ::unlink(templ.c_str()) == 0;
}

bool ForceDirectories(const std::string &dir) {
  if (dir.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return std::filesystem::is_directory(dir, ec);
}

} // namespace tovi
