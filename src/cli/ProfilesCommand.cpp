// tovi-convert profiles: the catalogue, category by category, with each profile's code
// and output extension; the profile chosen in the settings file is marked with "*".
#include <cstdio>

#include "appcore/GlobalObject.h"
#include "appcore/IniFile.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/Settings.h"
#include "cli/Commands.h"

namespace tovi::cli {

int CmdProfiles(int argc, char **argv) {
  constexpr const char *kUsage =
      "usage: tovi-convert profiles\n"
      "Lists the output profiles by category with their codes and file extensions;\n"
      "\"*\" marks the profile chosen in the settings file.\n";
  if (argc > 0 && IsHelpWord(argv[0])) {
    std::printf("%s", kUsage);
    return 0;
  }
  if (argc != 0) {
    std::fprintf(stderr, "tovi-convert: profiles takes no argument (got '%s')\n%s", argv[0], kUsage);
    return 2;
  }
  const TGlobalObject global;
  const TAppSettings settings(global.SettingsFile());
  const TIniFile profiles(global.ProfileFile());
  const int chosen = settings.FormatCode();
  const auto categories = ProfileCategories();
  for (std::size_t c = 0; c < categories.size(); ++c) {
    std::printf("%s\n", std::string(categories[c].Name).c_str());
    for (std::size_t p = 0; p < categories[c].Profiles.size(); ++p) {
      const int code = static_cast<int>(c * 100 + p);
      const std::string ext = profiles.ReadString(ProfileSection(code), "FileExt", "mp4");
      std::printf("  %c%5d  %-5s %s\n", code == chosen ? '*' : ' ', code, ext.c_str(),
                  std::string(categories[c].Profiles[p]).c_str());
    }
  }
  return 0;
}

} // namespace tovi::cli
