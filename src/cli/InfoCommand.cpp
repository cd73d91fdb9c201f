#include <cstdio>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "converter/AVProbe.h"
#include "media/FFmpegLoader.h"

namespace tovi::cli {
namespace {

// The description joins its lines with CR LF; a terminal wants plain newlines.
std::string TerminalText(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

} // namespace

int CmdInfo(int argc, char **argv) {
  constexpr const char *kUsage =
      "usage: tovi-convert info [--] FILE...\n"
      "Describes each file: container, duration, bit rate, metadata and streams.\n"
      "Exit status: 0 every file described, 1 a file could not be read, 2 bad usage.\n";
  // Words starting with "-" are options until "--"; after it every word is a file name.
  std::vector<std::string> files;
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    const std::string word = argv[i];
    if (optionsEnded || word.empty() || word[0] != '-' || word == "-") {
      files.push_back(word);
    } else if (word == "--") {
      optionsEnded = true;
    } else if (IsHelpWord(argv[i])) {
      std::printf("%s", kUsage);
      return 0;
    } else {
      std::fprintf(stderr, "tovi-convert: unknown option %s\n%s", word.c_str(), kUsage);
      return 2;
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "tovi-convert: no file given\n%s", kUsage);
    return 2;
  }
  TFFmpegLoader &loader = TFFmpegLoader::Instance();
  if (!loader.LoadLibraries(CONVERTER_LIBRARIES)) {
    std::fprintf(stderr, "tovi-convert: %s\n", loader.LastErrorText().c_str());
    return 1;
  }
  bool failed = false;
  bool first = true;
  TAVProbe probe;
  for (const std::string &file : files) {
    if (!probe.LoadFile(file)) {
      std::fprintf(stderr, "tovi-convert: %s\n", probe.LastErrorText().c_str());
      failed = true;
      continue;
    }
    std::printf("%s%s\n", first ? "" : "\n", TerminalText(probe.FileInfoText()).c_str());
    first = false;
    probe.CloseFile();
  }
  std::fflush(stdout);
  return failed ? 1 : 0;
}

} // namespace tovi::cli
