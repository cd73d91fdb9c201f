#include <cstdio>
#include <string>

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
  if (argc < 1) {
    std::fprintf(stderr, "usage: tovi-convert info FILE...\n");
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
  for (int i = 0; i < argc; ++i) {
    if (!probe.LoadFile(argv[i])) {
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
