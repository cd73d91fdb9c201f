// Output file names: the source's base name with "_(new)" (or "_(new_n)") in the
// output folder, never the name of a file that already exists.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace tovi {

class TAppSettings;

// The longest name of one folder entry, in bytes, on the file systems the output goes to.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// Shows a warning to the user; the command line prints it, the GUI opens a box.
using TWarningSink = std::function<void(const std::string &title, const std::string &message)>;

// The output path for `sourceFile` with `suffix` ("." + extension) in the settings'
// output folder. A folder that cannot be created is reported through `warn`, the
// default folder is created and stored instead, and the name is made in that default
// folder.
std::string MakeOutputName(TAppSettings &settings, const std::string &sourceFile, const std::string &suffix,
                           const TWarningSink &warn = {});

// The naming rule on its own: folder + base name + "_(new)" + suffix, or the first
// "_(new_n)" (n = 1, 2, …) that does not exist. A name that would pass the length a
// folder entry may have gets its base name shortened (never inside a UTF-8 character);
// the "_(new…)" mark and the suffix stay whole.
std::string UnusedOutputName(const std::string &folder, const std::string &sourceFile,
                             const std::string &suffix);

} // namespace tovi
