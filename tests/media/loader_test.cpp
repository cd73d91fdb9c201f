// The loader against real shared libraries: the system's FFmpeg and SDL, a folder of
// links to them, and stub libraries that lack one export. Each test runs in a process
// of its own (ctest), so the process-wide table starts empty every time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "support/TestMedia.h"

using namespace tovi;
namespace fs = std::filesystem;

namespace {

TFFmpegLoader &Loader() { return TFFmpegLoader::Instance(); }

std::string StubDir(const char *name) { return std::string(TOVI_STUB_DIR) + "/" + name; }

bool AllNull() {
  return !ff::avcodec_open2 && !ff::avformat_open_input && !ff::av_log && !ff::sws_getContext &&
         !ff::swr_convert && !ff::avfilter_graph_alloc && !ff::fopen && !ff::av_util_ffversion;
}

} // namespace

TEST(LoaderNames, SonamesAndSets) {
  EXPECT_EQ(TFFmpegLoader::LibraryFileName(lkAVCodec), "libavcodec.so.59");
  EXPECT_EQ(TFFmpegLoader::LibraryFileName(lkAVUtil), "libavutil.so.57");
  EXPECT_EQ(TFFmpegLoader::LibraryFileName(lkSWScale), "libswscale.so.6");
  EXPECT_EQ(TFFmpegLoader::LibraryFileName(lkCRT), "libc.so.6");
  EXPECT_EQ(TFFmpegLoader::LibraryFileName(lkSDL), "libSDL2-2.0.so.0");
  EXPECT_EQ(TFFmpegLoader::LibraryFileName(lkSWResample), "libswresample.so.4");
  // The converter set holds neither SDL nor avdevice; the player set adds SDL.
  EXPECT_FALSE(CONVERTER_LIBRARIES & LibraryBit(lkSDL));
  EXPECT_FALSE(CONVERTER_LIBRARIES & LibraryBit(lkAVDevice));
  EXPECT_EQ(PLAYER_LIBRARIES, CONVERTER_LIBRARIES | LibraryBit(lkSDL));
  EXPECT_THROW(Loader().LoadLibraries(0), std::logic_error);
  EXPECT_THROW(Loader().UnloadLibraries(0), std::logic_error);
  EXPECT_THROW(Loader().LibrariesLoaded(0), std::logic_error);
}

TEST(LoaderSystem, LoadsBindsAndUnloadsThePlayerSet) {
  ASSERT_TRUE(AllNull());
  ASSERT_TRUE(Loader().LoadLibraries(PLAYER_LIBRARIES)) << Loader().LastErrorText();
  EXPECT_TRUE(Loader().LibrariesLoaded(PLAYER_LIBRARIES));
  EXPECT_FALSE(Loader().IsLibraryLoaded(lkAVDevice));
  // The bound functions are the real ones: the version numbers match our headers.
  EXPECT_EQ(ff::avcodec_version() >> 16, static_cast<unsigned>(LIBAVCODEC_VERSION_MAJOR));
  EXPECT_EQ(ff::avformat_version() >> 16, static_cast<unsigned>(LIBAVFORMAT_VERSION_MAJOR));
  EXPECT_EQ(ff::swresample_version() >> 16, static_cast<unsigned>(LIBSWRESAMPLE_VERSION_MAJOR));
  EXPECT_NE(ff::av_util_ffversion, nullptr);
  EXPECT_NE(std::string(ff::av_util_ffversion).find("FFmpeg"), std::string::npos);
  EXPECT_NE(ff::SDL_Init, nullptr);
  // The C runtime kind is bound too.
  char buf[16];
  ff::snprintf(buf, sizeof buf, "%d-%s", 42, "x");
  EXPECT_STREQ(buf, "42-x");

  Loader().UnloadLibraries(PLAYER_LIBRARIES);
  EXPECT_FALSE(Loader().LibrariesLoaded(CONVERTER_LIBRARIES));
  EXPECT_TRUE(AllNull());
  // And again after an unload.
  ASSERT_TRUE(Loader().LoadLibraries(CONVERTER_LIBRARIES)) << Loader().LastErrorText();
  EXPECT_NE(ff::avcodec_open2, nullptr);
}

TEST(LoaderSystem, RepeatedLoadDoesNotReloadOrRebind) {
  ASSERT_TRUE(Loader().LoadLibraries(CONVERTER_LIBRARIES));
  const auto open2 = ff::avcodec_open2;
  const std::string path = Loader().ModulePath(lkAVCodec);
  ff::avcodec_open2 = nullptr; // a rebind would restore it
  ASSERT_TRUE(Loader().LoadLibraries(CONVERTER_LIBRARIES));
  EXPECT_EQ(ff::avcodec_open2, nullptr);
  EXPECT_EQ(Loader().ModulePath(lkAVCodec), path);
  ff::avcodec_open2 = open2;
}

TEST(LoaderSystem, EmptyFolderSettingUsesDefaultSearch) {
  Loader().SetLibraryFolder("");
  ASSERT_TRUE(Loader().LoadLibraries(CONVERTER_LIBRARIES));
  EXPECT_EQ(fs::path(Loader().ModulePath(lkAVCodec)).filename(), "libavcodec.so.59");
}

TEST(LoaderFolder, FolderCopiesComeFirstAndStandOnceInTheSearchPath) {
  test::TempDir dir;
  for (int k : {lkAVCodec, lkAVFilter, lkAVFormat, lkAVUtil, lkSWScale, lkSWResample}) {
    const std::string name = TFFmpegLoader::LibraryFileName(k);
    fs::create_symlink(fs::path(TOVI_SYSTEM_LIBDIR) / name, dir.path() / name);
  }
  ::setenv("LD_LIBRARY_PATH", "/opt/other", 1);
  Loader().SetLibraryFolder(dir.path().string());
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(Loader().LoadLibraries(CONVERTER_LIBRARIES)) << Loader().LastErrorText();
    for (int k : {lkAVCodec, lkAVFormat, lkAVUtil, lkSWResample})
      EXPECT_EQ(fs::path(Loader().ModulePath(k)).parent_path(), dir.path()) << k;
    // The C runtime is not in the folder: default search.
    EXPECT_NE(fs::path(Loader().ModulePath(lkCRT)).parent_path(), dir.path());
    EXPECT_EQ(std::string(std::getenv("LD_LIBRARY_PATH")), dir.path().string() + ":/opt/other");
    Loader().UnloadLibraries(CONVERTER_LIBRARIES);
  }
}

TEST(LoaderFailure, MissingFunctionUnloadsTheWholeSet) {
  Loader().SetLibraryFolder(StubDir("missing_function"));
  EXPECT_FALSE(Loader().LoadLibraries(CONVERTER_LIBRARIES));
  const std::string file = StubDir("missing_function") + "/libswscale.so.6";
  EXPECT_EQ(Loader().LastErrorText().rfind("Load function sws_scale@" + file + " error: ", 0), 0u)
      << Loader().LastErrorText();
  for (int k = 0; k < LIBRARY_KIND_COUNT; ++k)
    EXPECT_FALSE(Loader().IsLibraryLoaded(k)) << k;
  EXPECT_TRUE(AllNull());
  EXPECT_EQ(ff::sws_getContext, nullptr); // bound before the failure, cleared again
}

TEST(LoaderFailure, MissingVariable) {
  Loader().SetLibraryFolder(StubDir("missing_variable"));
  EXPECT_FALSE(Loader().LoadLibraries(LibraryBit(lkAVUtil)));
  const std::string file = StubDir("missing_variable") + "/libavutil.so.57";
  EXPECT_EQ(Loader().LastErrorText().rfind("Load variable av_util_ffversion@" + file + " error: ", 0), 0u)
      << Loader().LastErrorText();
  EXPECT_FALSE(Loader().IsLibraryLoaded(lkAVUtil));
  EXPECT_EQ(ff::av_log, nullptr);
}

TEST(LoaderFailure, UnloadableFileUnloadsLibrariesLoadedBefore) {
  // avutil is loaded by an earlier caller; the failing set contains it, so it goes too.
  ASSERT_TRUE(Loader().LoadLibraries(LibraryBit(lkAVUtil)));
  Loader().SetLibraryFolder(StubDir("not_a_library"));
  EXPECT_FALSE(Loader().LoadLibraries(CONVERTER_LIBRARIES));
  const std::string file = StubDir("not_a_library") + "/libavcodec.so.59";
  EXPECT_EQ(Loader().LastErrorText().rfind("Load library " + file + " error: ", 0), 0u)
      << Loader().LastErrorText();
  EXPECT_FALSE(Loader().IsLibraryLoaded(lkAVUtil));
  // The last error keeps only the latest failure; a good load does not clear it.
  Loader().SetLibraryFolder("");
  EXPECT_TRUE(Loader().LoadLibraries(CONVERTER_LIBRARIES));
}

TEST(LoaderFailure, MissingFileInFolderFallsBackToDefaultSearch) {
  test::TempDir empty;
  Loader().SetLibraryFolder(empty.path().string());
  ASSERT_TRUE(Loader().LoadLibraries(CONVERTER_LIBRARIES)) << Loader().LastErrorText();
  EXPECT_NE(fs::path(Loader().ModulePath(lkAVCodec)).parent_path(), empty.path());
}

TEST(CodecLock, IsOneProcessWideLock) {
  EXPECT_EQ(&CodecLock(), &CodecLock());
  std::unique_lock lock(CodecLock());
  EXPECT_FALSE(CodecLock().try_lock());
}
