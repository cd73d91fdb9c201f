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

// `base` + `tail` as one file name no longer than a folder entry may be: the base name
// gives way, cut before a whole UTF-8 character so that no character is split.
std::string FittedName(const std::string &base, const std::string &tail) {
  if (base.size() + tail.size() <= kMaxFileNameBytes) return base + tail;
  std::size_t keep = tail.size() < kMaxFileNameBytes ? kMaxFileNameBytes - tail.size() : 0;
  // Continuation bytes are 10xxxxxx: step back to the first byte of a character.
  while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80)
    --keep;
  return base.substr(0, keep) + tail;
}

} // namespace

std::string UnusedOutputName(const std::string &folder, const std::string &sourceFile,
                             const std::string &suffix) {
  const std::string dir = IncludeTrailingPathDelimiter(folder);
  const std::string base = BaseName(sourceFile);
  std::string candidate = dir + FittedName(base, "_(new)" + suffix);
  for (long n = 1; NameTaken(candidate); ++n)
    candidate = dir + FittedName(base, "_(new_" + std::to_string(n) + ")" + suffix);
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
    // Should the default fail too, creating the output fails and the conversion says so.
    ForceDirectories(fallback);
    settings.SetOutPutDir(fallback);
    return UnusedOutputName(fallback, sourceFile, suffix);
  }
  return UnusedOutputName(folder, sourceFile, suffix);
}

} // namespace tovi
