// The fixed catalogue of output profiles: 29 device or format categories, 131 profiles.
//
// A profile's code is category index x 100 + position in the category (both from 0);
// the code selects the section "formatInfo" + code in the profile file and in the
// user's settings file. The names are the exact texts the tree shows and the settings
// file stores as FormatName.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tovi {

class TAppSettings;

struct TProfileCategory {
  std::string_view Name;
  std::span<const std::string_view> Profiles; // position 0 first
};

// All categories in index order.
std::span<const TProfileCategory> ProfileCategories();
// Total number of profiles (131).
int ProfileCount();
// Every profile code in catalogue order.
std::vector<int> AllProfileCodes();
// The name of the profile with this code; empty when no profile has it.
std::string_view ProfileName(int code);
// The section of a profile in both INI files: "formatInfo" + code.
std::string ProfileSection(int code);
// The code of the profile named exactly `name` (surrounding blanks ignored); nullopt
// when none. Two profiles differ only by a blank ("Nokia N Series MPEG-4 Video (*.mp4)"
// is 1600, "… Video(*.mp4)" is 1405), so the comparison is exact.
std::optional<int> FindProfileByName(const std::string &name);
// The command line's lookup: a decimal code of an existing profile, else an exact
// name, else the one profile whose name contains `text` ignoring case. nullopt when
// nothing or more than one profile matches.
std::optional<int> LookupProfile(const std::string &text);

// One row of the profile tree.
struct TItemInfo {
  bool IsProfile = false;
  bool IsCategory = false;
  std::string Caption; // category name on category rows
  bool Collapsed = false;
  int Code = 0; // category index, or the profile code
};

struct TTreeRow {
  std::string Text; // category or profile name as shown
  TItemInfo Info;
};

// The tree's rows: each category row in index order, followed by its profiles when the
// settings file's "lstformat" marks it expanded.
std::vector<TTreeRow> BuildTreeRows(const TAppSettings &settings);
// Expands the category row at `row` (inserting its profile rows after it) or collapses
// it (removing them); other rows keep their order.
void ToggleCategory(std::vector<TTreeRow> &rows, std::size_t row);
// Writes every category row's Collapsed flag to "lstformat".
void SaveTreeState(const std::vector<TTreeRow> &rows, TAppSettings &settings);

} // namespace tovi
