#include "appcore/ProfileDisplay.h"

#include <array>
#include <string_view>

#include "appcore/IniFile.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/Settings.h"

namespace tovi {
namespace {

struct TFix {
  std::string_view From, To;
};

// Word-level corrections; the catalogue's own texts stay as settings files store them.
constexpr std::array kWordFixes{
    TFix{"Nitendeo", "Nintendo"}, TFix{"Vison", "Vision"},     TFix{"Advenced", "Advanced"},
    TFix{"Meida", "Media"},       TFix{"formates", "formats"},
};

std::string Corrected(std::string_view name) {
  std::string text(name);
  for (const TFix &fix : kWordFixes)
    for (auto at = text.find(fix.From); at != std::string::npos; at = text.find(fix.From, at + fix.To.size()))
      text.replace(at, fix.From.size(), fix.To);
  return text;
}

} // namespace

std::string ShownProfileName(int code) {
  const std::string_view name = ProfileName(code);
  if (name.empty()) return {};
  std::string text = Corrected(name);
  // The two 3GP2 profiles write .3g2 files (their FileExt); the name said .3gp.
  if (code == 1402 || code == 1403) {
    const auto at = text.rfind("(*.3gp)");
    if (at != std::string::npos) text.replace(at, 7, "(*.3g2)");
  }
  return text;
}

std::string ShownCategoryName(int index) {
  const auto categories = ProfileCategories();
  if (index < 0 || index >= static_cast<int>(categories.size())) return {};
  return Corrected(categories[static_cast<std::size_t>(index)].Name);
}

std::optional<int> FindProfileByAnyName(const std::string &name) {
  if (auto code = FindProfileByName(name)) return code;
  const std::string wanted = TrimBlanks(name);
  for (int code : AllProfileCodes())
    if (ShownProfileName(code) == wanted) return code;
  return std::nullopt;
}

TChosenProfile ChosenProfile(const TAppSettings &settings) {
  TChosenProfile chosen;
  if (auto byName = FindProfileByAnyName(settings.FormatName())) {
    chosen.Code = *byName;
  } else {
    const int code = settings.FormatCode();
    chosen.Code = ProfileName(code).empty() ? 1 : code;
  }
  chosen.Text = ShownProfileName(chosen.Code);
  return chosen;
}

} // namespace tovi
