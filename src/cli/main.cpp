// tovi-convert: the command-line face of the converter.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/Commands.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"

using namespace tovi;

namespace {

constexpr const char *kUsage =
    "usage: tovi-convert COMMAND [ARGUMENT]...\n"
    "\n"
    "  version                  the program's and the media libraries' versions\n"
    "  info FILE...             container, duration, bit rate, metadata and streams\n"
    "  run [OPTION]... -i INPUT [[OPTION]... -i INPUT]... [OPTION]... OUTPUT\n"
    "                           one conversion task from the engine's own option list\n"
    "  play FILE [--paused] [--volume N] [--mute]\n"
    "                           plays a file in a window of its own\n"
    "  profiles                 the output profiles with their codes\n"
    "  convert FILE... [OPTION]...\n"
    "                           converts with a profile, as the main window's Start does\n"
    "\n"
    "tovi-convert COMMAND --help describes a command. --help and --version also work\n"
    "without a command. Exit status: 0 success, 1 failure, 2 usage error.\n";

// No command, or one that does not exist: the mistake on stderr, exit 2.
int UsageError(const std::string &message) {
  std::fprintf(stderr, "tovi-convert: %s\n%s", message.c_str(), kUsage);
  return 2;
}

std::string VersionText(unsigned v) {
  return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}

int CmdVersion(int argc, char **argv) {
  if (argc > 0 && cli::IsHelpWord(argv[0])) {
    std::printf(
        "usage: tovi-convert version\nPrints the program's version and the loaded media libraries'.\n");
    return 0;
  }
  if (argc > 0) {
    std::fprintf(stderr, "tovi-convert: version takes no argument (got '%s')\n", argv[0]);
    return 2;
  }
  std::printf("tovi-convert %s\n", TOVI_VERSION_TEXT);
  std::fflush(stdout);
  TFFmpegLoader &loader = TFFmpegLoader::Instance();
  if (!loader.LoadLibraries(PLAYER_LIBRARIES)) {
    std::fprintf(stderr, "tovi-convert: %s\n", loader.LastErrorText().c_str());
    return 1;
  }
  std::printf("FFmpeg %s\n", ff::av_version_info());
  const struct {
    int kind;
    unsigned version;
  } rows[] = {
      {lkAVCodec, ff::avcodec_version()},   {lkAVFormat, ff::avformat_version()},
      {lkAVFilter, ff::avfilter_version()}, {lkAVUtil, ff::avutil_version()},
      {lkSWScale, ff::swscale_version()},   {lkSWResample, ff::swresample_version()},
  };
  for (const auto &r : rows)
    std::printf("  %-22s %-10s %s\n", TFFmpegLoader::LibraryFileName(r.kind).c_str(),
                VersionText(r.version).c_str(), loader.ModulePath(r.kind).c_str());
  SDL_version sdl{};
  ff::SDL_GetVersion(&sdl);
  std::printf("  %-22s %d.%d.%-6d %s\n", TFFmpegLoader::LibraryFileName(lkSDL).c_str(), sdl.major, sdl.minor,
              sdl.patch, loader.ModulePath(lkSDL).c_str());
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) return UsageError("no command given");
  const std::string command = argv[1];
  if (cli::IsHelpWord(argv[1]) || command == "help") {
    std::printf("%s", kUsage);
    return 0;
  }
  if (command == "version" || command == "--version") return CmdVersion(argc - 2, argv + 2);
  if (command == "info") return cli::CmdInfo(argc - 2, argv + 2);
  if (command == "run") return cli::CmdRun(argc - 2, argv + 2);
  if (command == "play") return cli::CmdPlay(argc - 2, argv + 2);
  if (command == "profiles") return cli::CmdProfiles(argc - 2, argv + 2);
  if (command == "convert") return cli::CmdConvert(argc - 2, argv + 2);
  if (command.starts_with("-")) return UsageError("unknown option " + command);
  return UsageError("unknown command '" + command + "'");
}
