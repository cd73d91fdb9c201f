#include "media/FFmpegLoader.h"

#include <dlfcn.h>
#include <fenv.h>
#include <link.h>
#include <sys/stat.h>

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "media/EntryPoints.h"
#include "media/FFmpegLogger.h"
#include "media/StringFormat.h"
#include "media/UnicodeProtocol.h"

namespace tovi {
namespace {

std::string DlErrorText() {
  const char *e = dlerror();
  return e ? e : "unknown error";
}

template <typename T>
void BindFunction(T &slot, void *handle, const char *name, const std::string &fileName) {
  dlerror();
  void *sym = dlsym(handle, name);
  if (!sym)
    throw std::runtime_error(
        StringFormat("Load function %s@%s error: %s", name, fileName.c_str(), DlErrorText().c_str()));
  slot = reinterpret_cast<T>(sym);
}

void BindVariable(const char *&slot, void *handle, const char *name, const std::string &fileName) {
  dlerror();
  void *sym = dlsym(handle, name);
  if (!sym)
    throw std::runtime_error(
        StringFormat("Load variable %s@%s error: %s", name, fileName.c_str(), DlErrorText().c_str()));
  slot = static_cast<const char *>(sym);
}

#define TOVI_BIND_FUNCTION(name) BindFunction(ff::name, handle, #name, fileName);
#define TOVI_BIND_VARIABLE(name) BindVariable(ff::name, handle, #name, fileName);
#define TOVI_UNBIND(name) ff::name = nullptr;

#define TOVI_LIBRARY_BINDING(lib, registration)                                                              \
  void Bind_##lib(const std::string &fileName, void *handle) {                                               \
    TOVI_##lib##_FUNCTIONS(TOVI_BIND_FUNCTION) TOVI_##lib##_VARIABLES(TOVI_BIND_VARIABLE) registration;      \
  }                                                                                                          \
  void Unbind_##lib() { TOVI_##lib##_FUNCTIONS(TOVI_UNBIND) TOVI_##lib##_VARIABLES(TOVI_UNBIND) }

TOVI_LIBRARY_BINDING(AVCODEC, (void)0)
// Devices are registered with the container library so they can be opened by name.
TOVI_LIBRARY_BINDING(AVDEVICE, ff::avdevice_register_all())
TOVI_LIBRARY_BINDING(AVFILTER, (void)0)
TOVI_LIBRARY_BINDING(AVFORMAT, (void)0)
TOVI_LIBRARY_BINDING(AVUTIL, (void)0)
TOVI_LIBRARY_BINDING(SWSCALE, (void)0)
TOVI_LIBRARY_BINDING(CRT, (void)0)
TOVI_LIBRARY_BINDING(SDL, (void)0)
TOVI_LIBRARY_BINDING(SWRESAMPLE, (void)0)

const TLibraryItem kLibraries[LIBRARY_KIND_COUNT] = {
    {lkAVCodec, "avcodec", 59, Bind_AVCODEC, Unbind_AVCODEC},
    {lkAVDevice, "avdevice", 59, Bind_AVDEVICE, Unbind_AVDEVICE},
    {lkAVFilter, "avfilter", 8, Bind_AVFILTER, Unbind_AVFILTER},
    {lkAVFormat, "avformat", 59, Bind_AVFORMAT, Unbind_AVFORMAT},
    {lkAVUtil, "avutil", 57, Bind_AVUTIL, Unbind_AVUTIL},
    {lkSWScale, "swscale", 6, Bind_SWSCALE, Unbind_SWSCALE},
    {lkCRT, "c", 6, Bind_CRT, Unbind_CRT},
    {lkSDL, "SDL2-2.0", 0, Bind_SDL, Unbind_SDL},
    {lkSWResample, "swresample", 4, Bind_SWRESAMPLE, Unbind_SWRESAMPLE},
};

// The media libraries a kind links against, utility library first. When a kind is
// loaded from the library folder, the folder's copies of these are loaded before it so
// the dynamic linker resolves its dependencies to them instead of the system's.
std::vector<int> FolderDependencies(int kind) {
  switch (kind) {
  case lkAVCodec: return {lkAVUtil, lkSWResample};
  case lkAVFormat: return {lkAVUtil, lkSWResample, lkAVCodec};
  case lkAVFilter: return {lkAVUtil, lkSWResample, lkSWScale, lkAVCodec, lkAVFormat};
  case lkAVDevice: return {lkAVUtil, lkSWResample, lkSWScale, lkAVCodec, lkAVFormat, lkAVFilter};
  case lkSWScale:
  case lkSWResample: return {lkAVUtil};
  default: return {};
  }
}

constexpr int kOpenFlags = RTLD_NOW | RTLD_GLOBAL;

// Once a library is bound, unloading releases our handle but keeps its code mapped:
// the libraries start threads and register exit handlers of their own, and a stray
// call into an unmapped library would crash instead of failing cleanly. A library that
// failed to bind is really closed, so a broken copy never shadows a good one later.
void KeepMapped(void *handle) {
  link_map *map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name || !*map->l_name) return;
  if (void *again = dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) dlclose(again);
}

bool IsExistingRegularFile(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string WithTrailingSlash(const std::string &folder) {
  if (folder.empty() || folder.back() == '/') return folder;
  return folder + '/';
}

void CheckSet(TLibrarySet set) {
  if (set == 0 || (set >> LIBRARY_KIND_COUNT) != 0)
    throw std::logic_error("TFFmpegLoader: empty or invalid library set");
}

// The libraries run with every floating-point exception masked. Saved once, restored
// when the process ends.
struct FloatingPointGuard {
  fenv_t saved{};
  FloatingPointGuard() {
    fegetenv(&saved);
    fedisableexcept(FE_ALL_EXCEPT);
  }
  ~FloatingPointGuard() { fesetenv(&saved); }
};

} // namespace

TFFmpegLoader &TFFmpegLoader::Instance() {
  static FloatingPointGuard fpGuard;
  static TFFmpegLoader loader;
  return loader;
}

TFFmpegLoader::TFFmpegLoader() {
  for (int k = 0; k < LIBRARY_KIND_COUNT; ++k)
    status_[k].LibraryID = k;
}

// Libraries still loaded at process end are not released: other static destructors
// (log router, libraries' own atexit handlers) may still call into them.
TFFmpegLoader::~TFFmpegLoader() = default;

void TFFmpegLoader::SetLibraryFolder(const std::string &folder) {
  std::lock_guard lock(mutex_);
  libraryFolder_ = folder;
}

std::string TFFmpegLoader::LibraryFolder() const {
  std::lock_guard lock(mutex_);
  return libraryFolder_;
}

std::string TFFmpegLoader::LastErrorText() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

void TFFmpegLoader::SetHookLog(bool value) {
  std::lock_guard lock(mutex_);
  hookLog_ = value;
}

bool TFFmpegLoader::HookLog() const {
  std::lock_guard lock(mutex_);
  return hookLog_;
}

const TLibraryItem &TFFmpegLoader::LibraryItem(int kind) {
  assert(kind >= 0 && kind < LIBRARY_KIND_COUNT);
  return kLibraries[kind];
}

std::string TFFmpegLoader::LibraryFileName(int kind) {
  const TLibraryItem &item = LibraryItem(kind);
  std::string name = std::string("lib") + item.LibName + ".so";
  if (item.Version >= 0) name.append(".").append(std::to_string(item.Version));
  return name;
}

bool TFFmpegLoader::LoadLibraries(TLibrarySet set) {
  CheckSet(set);
  std::lock_guard lock(mutex_);
  for (int k = 0; k < LIBRARY_KIND_COUNT; ++k) {
    if (!(set & LibraryBit(k))) continue;
    if (!LoadLibrary(k)) {
      for (int u = 0; u < LIBRARY_KIND_COUNT; ++u)
        if (set & LibraryBit(u)) UnloadLibraryLocked(u);
      return false;
    }
  }
  return true;
}

bool TFFmpegLoader::LoadLibrary(int kind) {
  TLibraryStatus &st = status_[kind];
  const TLibraryItem &item = kLibraries[kind];
  const std::string name = LibraryFileName(kind);

  const std::string folder = WithTrailingSlash(libraryFolder_);
  // Named in messages as tried: with the folder in front, even when the folder lacks
  // the file and the plain name goes through the default search.
  const std::string fileName = folder + name;

  if (!st.Handle) {
    const bool fromFolder = !folder.empty() && IsExistingRegularFile(fileName);
    if (fromFolder) {
      PrependLibraryPath(folder.substr(0, folder.size() - 1));
      for (int dep : FolderDependencies(kind)) {
        const std::string depPath = folder + LibraryFileName(dep);
        if (IsExistingRegularFile(depPath))
          if (void *h = dlopen(depPath.c_str(), kOpenFlags)) st.DependencyHandles.push_back(h);
      }
    }
    void *handle = dlopen((fromFolder ? fileName : name).c_str(), kOpenFlags);
    if (!handle) {
      lastError_ = "Load library " + fileName + " error: " + DlErrorText();
      UnloadLibraryLocked(kind);
      return false;
    }
    st.Handle = handle;
  }

  if (!st.Loaded) {
    try {
      item.Bind(fileName, st.Handle);
      st.Loaded = true;
      KeepMapped(st.Handle);
      for (void *h : st.DependencyHandles)
        KeepMapped(h);
    } catch (const std::exception &e) {
      lastError_ = e.what();
    }
  }
  if (!st.Loaded) {
    // A failed bind may have filled some pointers already: none may survive the unload.
    item.Unbind();
    UnloadLibraryLocked(kind);
    return false;
  }

  if (kind == lkAVUtil && hookLog_) TFFLogger::Instance().InstallLibraryCallback();
  if (kind == lkAVFormat) RegisterUnicodeProtocol();
  return true;
}

bool TFFmpegLoader::IsLibraryLoaded(int kind) const {
  std::lock_guard lock(mutex_);
  return status_[kind].Handle && status_[kind].Loaded;
}

bool TFFmpegLoader::LibrariesLoaded(TLibrarySet set) const {
  CheckSet(set);
  for (int k = 0; k < LIBRARY_KIND_COUNT; ++k)
    if ((set & LibraryBit(k)) && !IsLibraryLoaded(k)) return false;
  return true;
}

void TFFmpegLoader::UnloadLibrary(int kind) {
  std::lock_guard lock(mutex_);
  UnloadLibraryLocked(kind);
}

void TFFmpegLoader::UnloadLibraries(TLibrarySet set) {
  CheckSet(set);
  std::lock_guard lock(mutex_);
  for (int k = 0; k < LIBRARY_KIND_COUNT; ++k)
    if (set & LibraryBit(k)) UnloadLibraryLocked(k);
}

void TFFmpegLoader::UnloadLibraryLocked(int kind) {
  TLibraryStatus &st = status_[kind];
  if (st.Loaded) {
    if (kind == lkAVUtil) TFFLogger::LibraryUnloading();
    kLibraries[kind].Unbind();
    st.Loaded = false;
  }
  if (st.Handle) {
    dlclose(st.Handle);
    st.Handle = nullptr;
  }
  for (void *h : st.DependencyHandles)
    dlclose(h);
  st.DependencyHandles.clear();
}

std::string TFFmpegLoader::ModulePath(int kind) const {
  std::lock_guard lock(mutex_);
  void *handle = status_[kind].Handle;
  if (!handle) return {};
  link_map *map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
  return map->l_name;
}

// The folder goes once to the front of the library search path of child processes
// (video hook plug-ins started by us inherit it). dlopen() in this process does not read
// the variable after start-up; the folder copies are loaded by full path instead.
void TFFmpegLoader::PrependLibraryPath(const std::string &folder) {
  const char *old = std::getenv("LD_LIBRARY_PATH");
  const std::string current = old ? old : "";
  size_t start = 0;
  while (start <= current.size()) {
    size_t end = current.find(':', start);
    if (end == std::string::npos) end = current.size();
    if (current.compare(start, end - start, folder) == 0 && end - start == folder.size()) return;
    start = end + 1;
  }
  const std::string value = current.empty() ? folder : folder + ":" + current;
  ::setenv("LD_LIBRARY_PATH", value.c_str(), 1);
}

namespace {
// Whether this thread holds the codec lock (the lock is not recursive: 0 or 1).
thread_local bool tHoldsCodecLock = false;
} // namespace

void TCodecLock::lock() {
  mutex_.lock();
  tHoldsCodecLock = true;
}

bool TCodecLock::try_lock() {
  if (!mutex_.try_lock()) return false;
  tHoldsCodecLock = true;
  return true;
}

void TCodecLock::unlock() {
  tHoldsCodecLock = false;
  mutex_.unlock();
  // What this thread printed while it held the lock goes out now that nobody can be
  // waiting for us to release it.
  TFFLogger::DeliverHeldLines();
}

TCodecLock &CodecLock() {
  static TCodecLock codecLock;
  return codecLock;
}

bool HoldsCodecLock() { return tHoldsCodecLock; }

} // namespace tovi
