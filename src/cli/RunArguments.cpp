#include "cli/RunArguments.h"

#include <cctype>
#include <cstdlib>
#include <optional>
#include <set>

#include "appcore/SizeTarget.h"

namespace tovi::cli {
namespace {

// Engine options that take no value on the command line. Each gets "1", unless the
// next word is "0" or "1", which is then taken as its value.
const std::set<std::string> kFlagOptions = {
    "an",    "benchmark",  "copyts",   "deinterlace", "dump",     "force_fps", "hex",    "intra",
    "isync", "loop_input", "newaudio", "newsubtitle", "newvideo", "psnr",      "qphist", "re",
    "sameq", "shortest",   "sn",       "vn",          "vstats",   "xerror",    "y"};

} // namespace

void PrintRunUsage(std::FILE *out) {
  std::fprintf(
      out, "usage: tovi-convert run [OPTION]... -i INPUT [[OPTION]... -i INPUT]... [OPTION]... [--] OUTPUT\n"
           "\n"
           "Runs one conversion task with the engine's own option list.\n"
           "  -name value | name=value   an engine option (e.g. -vcodec mpeg4, ab=128k); before\n"
           "                             -i it belongs to that input, after the last -i to OUTPUT\n"
           "  -name                      an option without a value (an, vn, sn, y, shortest,\n"
           "                             deinterlace, sameq, copyts, intra, isync, xerror, psnr,\n"
           "                             qphist, vstats, re, dump, hex, loop_input, force_fps,\n"
           "                             newvideo, newaudio, newsubtitle, benchmark): value \"1\",\n"
           "                             or the next word when it is \"0\" or \"1\"\n"
           "  -i INPUT                   an input file, with the options given since the last -i\n"
           "  --join                     joins every input, one after the other, into OUTPUT\n"
           "  --threads N                decoder and encoder threads (0 = all cores; default 0)\n"
           "  --progress=json            one JSON object per line on stdout: \"start\", every\n"
           "                             \"progress\" report, \"refused\" when the task cannot\n"
           "                             start, \"terminate\" when it ends\n"
           "  --target-size SIZE         make OUTPUT at most SIZE (25M, 8.5M, 700K or bytes;\n"
           "                             M = 1,048,576 bytes): two passes at the video rate that\n"
           "                             fills it (\"vb\" is set), a third when 90..100 %% is missed\n"
           "  --verbose                  also show the engine's and the libraries' notes\n"
           "                             (errors and warnings are always shown)\n"
           "  -h, --help                 this text\n"
           "  --                         ends the options: the next word is OUTPUT even when it\n"
           "                             starts with \"-\"\n"
           "The last word is the output file; it is overwritten when it exists. Unknown option\n"
           "names and values the engine refuses are usage errors.\n"
           "Ctrl-C or SIGTERM stops the conversion cleanly (the output is finished up to that point).\n"
           "Exit status: 0 when the conversion completed, 1 when it failed or did not finish,\n"
           "2 for a usage error, 130 when stopped by Ctrl-C (143 by SIGTERM).\n");
}

// The option's name as the component passes it on: option lines are read in lower case.
std::string LowerName(std::string name) {
  for (char &c : name)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

int ParseRunArguments(const std::vector<std::string> &words, TRunArguments &args, std::FILE *messages) {
  std::string pending; // options since the last -i
  std::vector<std::string> positional;
  const auto addOption = [&](const std::string &name, const std::string &value) {
    if (name.find_first_of("\r\n") != std::string::npos || value.find_first_of("\r\n") != std::string::npos) {
      std::fprintf(messages, "tovi-convert: option %s: line breaks are not allowed\n", name.c_str());
      return false;
    }
    pending.append(name).append("=").append(value).append("\n");
    return true;
  };
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string &word = words[i];
    if (word == "--") {
      positional.insert(positional.end(), words.begin() + std::ptrdiff_t(i) + 1, words.end());
      break;
    } else if (word == "--help" || word == "-h") {
      return -1;
    } else if (word == "--join") {
      args.Join = true;
    } else if (word == "--progress=json") {
      args.JsonProgress = true;
    } else if (word == "--verbose") {
      args.Verbose = true;
    } else if (word == "--target-size") {
      std::string why;
      const auto size = i + 1 < words.size() ? ParseSizeTarget(words[i + 1], &why) : std::nullopt;
      if (!size) {
        std::fprintf(messages, "tovi-convert: --target-size: %s\n",
                     why.empty() ? "needs a size" : why.c_str());
        return 2;
      }
      args.TargetSize = *size;
      ++i;
    } else if (word == "--threads") {
      char *end = nullptr;
      const long value = i + 1 < words.size() ? std::strtol(words[i + 1].c_str(), &end, 10) : -1;
      if (i + 1 >= words.size() || *end != 0 || words[i + 1].empty() || value < 0 || value > 1024) {
        std::fprintf(messages, "tovi-convert: --threads needs a thread count (0 = all cores)\n");
        return 2;
      }
      args.Threads = int(value);
      ++i;
    } else if (word == "-i") {
      if (i + 1 >= words.size()) {
        std::fprintf(messages, "tovi-convert: -i needs a file name\n");
        return 2;
      }
      args.Inputs.push_back(words[++i]);
      args.InputOptions.push_back(pending);
      pending.clear();
    } else if (word.starts_with("--")) {
      std::fprintf(messages, "tovi-convert: unknown option %s (see tovi-convert run --help)\n", word.c_str());
      return 2;
    } else if (word.size() > 1 && word[0] == '-') {
      const std::string name = word.substr(1);
      // The option line "name=value" would split at this '=' and give the engine
      // another name and value than the ones written.
      if (name.find('=') != std::string::npos) {
        std::fprintf(messages, "tovi-convert: option %s: write -name value or name=value\n", word.c_str());
        return 2;
      }
      std::string value = "1";
      if (kFlagOptions.count(LowerName(name))) {
        if (i + 1 < words.size() && (words[i + 1] == "0" || words[i + 1] == "1")) value = words[++i];
      } else if (i + 1 < words.size()) {
        value = words[++i];
      } else {
        std::fprintf(messages, "tovi-convert: option -%s needs a value\n", name.c_str());
        return 2;
      }
      if (!addOption(name, value)) return 2;
    } else if (const size_t eq = word.find('='); eq != std::string::npos && eq > 0) {
      if (!addOption(word.substr(0, eq), word.substr(eq + 1))) return 2;
    } else {
      positional.push_back(word);
    }
  }
  if (positional.empty()) {
    std::fprintf(messages, "tovi-convert: no output file given (the last word names it)\n");
    return 2;
  }
  if (positional.size() > 1) {
    std::fprintf(messages, "tovi-convert: unexpected word '%s' (only the output file stands alone, last)\n",
                 positional.front().c_str());
    return 2;
  }
  args.Output = positional.front();
  if (args.Output.empty()) {
    std::fprintf(messages, "tovi-convert: the output file name is empty\n");
    return 2;
  }
  if (args.Inputs.empty()) {
    std::fprintf(messages, "tovi-convert: no input file given (-i INPUT)\n");
    return 2;
  }
  args.OutputOptions = pending;
  return 0;
}

} // namespace tovi::cli
