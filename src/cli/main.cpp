// tovi-convert: the command-line face of the converter.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/Commands.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"

using namespace tovi;

namespace {

int Usage() {
  std::fprintf(stderr, "usage: tovi-convert version\n       tovi-convert info FILE...\n"
                       "       tovi-convert run [OPTION]... -i INPUT [[OPTION]... -i INPUT]... [OPTION]... OUTPUT\n"
                       "       tovi-convert play FILE [--paused] [--volume N] [--mute]\n");
  std::fprintf(stderr, "       tovi-convert profiles\n       tovi-convert convert FILE... [OPTION]... "
                       "(--help for the options)\n");
  return 2;
}

std::string VersionText(unsigned v) {
  return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}

int CmdVersion() {
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
  if (argc < 2) return Usage();
  if (std::strcmp(argv[1], "version") == 0) return CmdVersion();
  if (std::strcmp(argv[1], "info") == 0) return cli::CmdInfo(argc - 2, argv + 2);
  if (std::strcmp(argv[1], "run") == 0) return cli::CmdRun(argc - 2, argv + 2);
  if (std::strcmp(argv[1], "play") == 0) return cli::CmdPlay(argc - 2, argv + 2);
  if (std::strcmp(argv[1], "profiles") == 0) return cli::CmdProfiles(argc - 2, argv + 2);
  if (std::strcmp(argv[1], "convert") == 0) return cli::CmdConvert(argc - 2, argv + 2);
  return Usage();
}
