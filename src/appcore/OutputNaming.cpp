#include "appcore/OutputNaming.h"

#include <sys/stat.h>

#include "appcore/GlobalObject.h"
#include "appcore/Settings.h"
#include "media/FileUtils.h"

namespace tovi {
namespace {

// Any entry (file, folder, dangling link) blocks a name: the output must not replace
// or collide with anything.
bool NameTaken(const std::string &name) {
  struct stat st {};
  return ::lstat(name.c_str(), &st) == 0;
}

std::string BaseName(const std::string &sourceFile) {
  std::string name = ExtractName(sourceFile);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

} // namespace

std::string UnusedOutputName(const std::string &folder, const std::string &sourceFile,
                             const std::string &suffix) {
  const std::string base = IncludeTrailingPathDelimiter(folder) + BaseName(sourceFile);
  std::string candidate = base + "_(new)" + suffix;
  for (long n = 1; NameTaken(candidate); ++n)
    candidate = base + "_(new_" + std::to_string(n) + ")" + suffix;
  return candidate;
}

std::string MakeOutputName(TAppSettings &settings, const std::string &sourceFile, const std::string &suffix,
                           const TWarningSink &warn) {
  const std::string folder = settings.OutPutDir();
  if (!ForceDirectories(folder)) {
    const std::string fallback = DefaultOutputDir();
    if (warn)
      warn("Warning", "Cannot create output directory:" + folder + ".It will create default directory " +
                          fallback + "!");
    ForceDirectories(fallback);
    settings.SetOutPutDir(fallback);
  }
  return UnusedOutputName(folder, sourceFile, suffix);
}

} // namespace tovi
