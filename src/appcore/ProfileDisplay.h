// Profile and category names as the windows show them, and the profile the settings
// file's choice stands for.
//
// The catalogue keeps the names the settings files of earlier versions stored (some
// misspelt); the windows show them corrected. A stored name in either spelling selects
// its profile.
#pragma once

#include <optional>
#include <string>

namespace tovi {

class TAppSettings;

// The shown name of profile `code` (catalogue name with the spelling corrected); empty
// when no profile has the code.
std::string ShownProfileName(int code);
// The shown name of category `index`; empty when there is none.
std::string ShownCategoryName(int index);
// The code of the profile whose shown or catalogue name is `name` (surrounding blanks
// ignored, otherwise exact); nullopt when none.
std::optional<int> FindProfileByAnyName(const std::string &name);

// The chosen profile as the profile field shows it.
struct TChosenProfile {
  int Code = 1;
  std::string Text; // the shown name
};

// FormatName when it names a profile (in either spelling); otherwise the profile that
// FormatCode selects, which is the one conversions use; profile 1 when neither does.
TChosenProfile ChosenProfile(const TAppSettings &settings);

} // namespace tovi
