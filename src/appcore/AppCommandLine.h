// The desktop program's command line:
//   tovi-converter [--profile CODE|NAME] [--out DIR] [--restore] [--start] [--quit-when-done] FILE...
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tovi {

struct TAppCommandLine {
  std::optional<int> ProfileCode;
  std::optional<std::string> OutDir; // full path
  bool Start = false;
  bool QuitWhenDone = false;
  bool Restore = false; // restore a list left by a crash without asking
  bool Help = false;
  std::vector<std::string> Files; // full paths, in order
  std::string Error;              // non-empty: a usage error, nothing else is valid
};

// `args` without the program name. Arguments Qt itself takes (-platform, -style, ...) must
// already be removed (QApplication does).
TAppCommandLine ParseAppCommandLine(const std::vector<std::string> &args);

extern const char *const kAppUsage;

} // namespace tovi
