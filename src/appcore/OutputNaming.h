// Output file names: the source's base name with "_(new)" (or "_(new_n)") in the
// output folder, never the name of a file that already exists.
#pragma once

#include <functional>
#include <string>

namespace tovi {

class TAppSettings;

// Shows a warning to the user; the command line prints it, the GUI opens a box.
using TWarningSink = std::function<void(const std::string &title, const std::string &message)>;

// The output path for `sourceFile` with `suffix` ("." + extension) in the settings'
// output folder. A folder that cannot be created is reported through `warn`, the
// default folder is created and stored instead, and the name still uses the folder read
// first (creating the file will then fail and be reported by the conversion).
std::string MakeOutputName(TAppSettings &settings, const std::string &sourceFile, const std::string &suffix,
                           const TWarningSink &warn = {});

// The naming rule on its own: folder + base name + "_(new)" + suffix, or the first
// "_(new_n)" (n = 1, 2, …) that does not exist.
std::string UnusedOutputName(const std::string &folder, const std::string &sourceFile,
                             const std::string &suffix);

} // namespace tovi
