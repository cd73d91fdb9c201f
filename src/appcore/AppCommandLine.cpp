#include "appcore/AppCommandLine.h"

#include "appcore/ProfileCatalog.h"
#include "appcore/ProfileDisplay.h"
#include "media/FileUtils.h"

namespace tovi {

const char *const kAppUsage =
    "usage: tovi-converter [--profile CODE|NAME] [--out DIR] [--restore] [--start] [--quit-when-done] "
    "[FILE...]\n"
    "  --profile CODE|NAME  choose the output profile (a code, a name or a unique part of one)\n"
    "  --out DIR            choose the output folder\n"
    "  --restore            take back the file list a crash left, without asking\n"
    "  --start              start converting the listed files at once\n"
    "  --quit-when-done     exit after the conversion: status 0 when every file converted, 1 otherwise\n";

TAppCommandLine ParseAppCommandLine(const std::vector<std::string> &args) {
  TAppCommandLine cl;
  bool filesOnly = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (filesOnly || a.empty() || a[0] != '-' || a == "-") {
      cl.Files.push_back(FullPathName(a));
      continue;
    }
    if (a == "--") {
      filesOnly = true;
    } else if (a == "--help" || a == "-h") {
      cl.Help = true;
    } else if (a == "--start") {
      cl.Start = true;
    } else if (a == "--restore") {
      cl.Restore = true;
    } else if (a == "--quit-when-done") {
      cl.QuitWhenDone = true;
    } else if (a == "--profile" || a == "--out") {
      if (i + 1 >= args.size()) {
        cl.Error = a + " needs a value";
        return cl;
      }
      const std::string &v = args[++i];
      if (a == "--out") {
        cl.OutDir = FullPathName(v);
        continue;
      }
      auto code = FindProfileByAnyName(v);
      if (!code) code = LookupProfile(v);
      if (!code) {
        cl.Error = "no single profile matches \"" + v + "\"";
        return cl;
      }
      cl.ProfileCode = *code;
    } else {
      cl.Error = "unknown option " + a;
      return cl;
    }
  }
  if (cl.Start && cl.Files.empty() && !cl.Restore) cl.Error = "--start needs at least one file or --restore";
  return cl;
}

} // namespace tovi
