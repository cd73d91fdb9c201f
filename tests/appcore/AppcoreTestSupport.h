// Shared set-up of the application-core tests: a private configuration folder per test
// (TOVI_CONFIG_DIR) and the shipped profile file.
#pragma once

#include <cstdlib>
#include <string>

#include "appcore/GlobalObject.h"
#include "support/TestMedia.h"

namespace tovi::test {

// Points TOVI_CONFIG_DIR at a fresh folder for the lifetime of the object.
class ConfigFolder {
public:
  ConfigFolder() { ::setenv("TOVI_CONFIG_DIR", dir_.path().c_str(), 1); }
  ~ConfigFolder() { ::unsetenv("TOVI_CONFIG_DIR"); }
  std::string SettingsFile() const { return dir_.file(SETTINGS_FILE_NAME); }
  std::string File(const std::string &name) const { return dir_.file(name); }
  const std::filesystem::path &Path() const { return dir_.path(); }

private:
  TempDir dir_;
};

inline std::string ShippedProfileFile() {
  return std::string(TOVI_SOURCE_DATA_DIR) + "/" + PROFILE_FILE_NAME;
}

} // namespace tovi::test
