// Run-time loader of the media libraries, SDL2 and the C runtime.
//
// One TFFmpegLoader exists per process (Instance()). It dlopen()s each library of a
// requested set, first from the library folder when one is set and holds the file,
// otherwise by soname through the default search, binds every entry point of the
// library into the table of EntryPoints.h, and can unload it again. A library counts as
// loaded only when every one of its entry points resolved.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tovi {

// Library kinds in loading order; a kind's number is its bit in a library set.
enum TLibraryKind : int {
  lkAVCodec = 0,
  lkAVDevice = 1,
  lkAVFilter = 2,
  lkAVFormat = 3,
  lkAVUtil = 4,
  lkSWScale = 5,
  lkCRT = 6,
  lkSDL = 7,
  // swresample replaces the old codec library's resampler; it is a kind of its own so
  // that the historical kinds keep their numbers and bits.
  lkSWResample = 8,
};
constexpr int LIBRARY_KIND_COUNT = 9;

using TLibrarySet = std::uint32_t;
constexpr TLibrarySet LibraryBit(int kind) { return TLibrarySet{1} << kind; }

// avcodec, avfilter, avformat, avutil, swscale, C runtime, swresample.
constexpr TLibrarySet CONVERTER_LIBRARIES = 0x7D | LibraryBit(lkSWResample);
// The converter set plus SDL.
constexpr TLibrarySet PLAYER_LIBRARIES = 0xFD | LibraryBit(lkSWResample);

// One constant entry per kind.
struct TLibraryItem {
  int LibraryID;
  const char *LibName; // base name: "avcodec", "SDL2-2.0", "c"
  int Version;         // soname version, -1 = none
  // Resolves every entry point of the library from `handle` and runs its registration
  // call; throws std::runtime_error with the loader's message on a missing export.
  void (*Bind)(const std::string &fileName, void *handle);
  // Sets every entry point of the library back to null.
  void (*Unbind)();
};

// One mutable entry per kind.
struct TLibraryStatus {
  int LibraryID = 0;
  void *Handle = nullptr; // dlopen() handle, null when not loaded
  bool Loaded = false;    // true once every entry point is bound
  // Copies of this library's own dependencies that were loaded from the library folder
  // before it, so that it links against them rather than the system's copies.
  std::vector<void *> DependencyHandles;
};

class TFFmpegLoader {
public:
  // The process-wide loader. The first call also masks floating-point exceptions for
  // the libraries; the saved environment is restored at process end.
  static TFFmpegLoader &Instance();

  TFFmpegLoader(const TFFmpegLoader &) = delete;
  TFFmpegLoader &operator=(const TFFmpegLoader &) = delete;

  void SetLibraryFolder(const std::string &folder);
  std::string LibraryFolder() const;
  std::string LastErrorText() const;

  // "lib" + base + ".so." + version ("libavcodec.so.59"); no version suffix for -1.
  static std::string LibraryFileName(int kind);
  static const TLibraryItem &LibraryItem(int kind);

  // Loads and binds every library of the set in kind order. On the first failure the
  // whole set is unloaded (also libraries loaded earlier by another caller), the last
  // error text says why and the result is false. Libraries already loaded are kept
  // as they are. An empty set is a programming error (std::logic_error).
  bool LoadLibraries(TLibrarySet set);
  bool IsLibraryLoaded(int kind) const;
  bool LibrariesLoaded(TLibrarySet set) const;
  void UnloadLibrary(int kind);
  void UnloadLibraries(TLibrarySet set);

  // Path of the module that is loaded for this kind, empty when none.
  std::string ModulePath(int kind) const;

  // When true (the default), binding the utility library installs the log router's
  // callback into it.
  void SetHookLog(bool value);
  bool HookLog() const;

private:
  TFFmpegLoader();
  ~TFFmpegLoader();

  bool LoadLibrary(int kind);
  void UnloadLibraryLocked(int kind);
  void PrependLibraryPath(const std::string &folder);

  mutable std::recursive_mutex mutex_; // protects every field below
  std::string libraryFolder_;
  std::string lastError_;
  bool hookLog_ = true;
  TLibraryStatus status_[LIBRARY_KIND_COUNT];
};

// The lock held around every codec open and close (avcodec_open2, avcodec_free_context
// of an opened context) by engine, probe and player threads alike; a plain mutex that
// also knows whether the calling thread holds it.
//
// Rule: a thread holding it never waits for the main thread. The main thread takes it
// too (the player's Stop frees codec contexts there), so such a wait could deadlock.
// The libraries print while it is held (an encoder being opened, stream information
// being read): the log router therefore keeps the lines a holder prints and delivers
// them once the holder has released the lock (TFFLogger, HoldsCodecLock).
class TCodecLock {
public:
  void lock();
  void unlock();
  bool try_lock();

private:
  std::mutex mutex_; // the lock itself
};

TCodecLock &CodecLock();
// True when the calling thread holds CodecLock().
bool HoldsCodecLock();

} // namespace tovi
