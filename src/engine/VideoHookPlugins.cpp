#include "engine/VideoHookPlugins.h"

#include <dlfcn.h>

#include <mutex>
#include <utility>

#include "media/EntryPoints.h"

namespace tovi {

namespace {

constexpr std::size_t kMaxHookArgs = 64;

// The process-wide list of loaded plug-in libraries: file name -> module handle.
struct TLoadedPlugins {
  std::mutex Lock; // protects Modules
  std::vector<std::pair<std::string, void *>> Modules;
};

TLoadedPlugins &LoadedPlugins() {
  static TLoadedPlugins plugins;
  return plugins;
}

// The module of `fileName`, loaded on first use; null when it cannot be loaded (the
// reason is logged). Names are compared as they are: on this platform two spellings
// that differ in case are two files.
void *PluginModule(const std::string &fileName) {
  TLoadedPlugins &plugins = LoadedPlugins();
  std::lock_guard guard(plugins.Lock);
  for (const auto &[name, module] : plugins.Modules)
    if (name == fileName) return module;
  // RTLD_LOCAL: two plug-ins may export the same entry-point names.
  void *module = ::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char *reason = ::dlerror();
    ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", reason ? reason : "cannot load the library");
    return nullptr;
  }
  plugins.Modules.emplace_back(fileName, module);
  return module;
}

template <typename Fn> Fn Symbol(void *module, const char *name) {
  return reinterpret_cast<Fn>(::dlsym(module, name));
}

} // namespace

std::vector<std::string> SplitVideoHookCommandLine(const std::string &commandLine) {
  const char separator = commandLine.find('|') != std::string::npos ? '|' : ' ';
  std::vector<std::string> tokens;
  std::size_t pos = 0;
  while (tokens.size() < kMaxHookArgs && pos < commandLine.size()) {
    std::size_t end = commandLine.find(separator, pos);
    if (end == std::string::npos) end = commandLine.size();
    if (end > pos) tokens.push_back(commandLine.substr(pos, end - pos));
    pos = end + 1;
  }
  return tokens;
}

int TVideoHookChain::Add(const std::vector<std::string> &args) {
  if (args.empty()) return -2;
  const std::string &fileName = args.front();
  void *module = PluginModule(fileName);
  if (!module) return -1;

  TEntry entry;
  entry.Configure = Symbol<TVhookConfigureFn>(module, "Configure");
  entry.Process = Symbol<TVhookProcessFn>(module, "Process");
  entry.Release = Symbol<TVhookReleaseFn>(module, "Release");
  if (!entry.Process) {
    ff::av_log(nullptr, AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n", fileName.c_str());
    return -2;
  }
  if (!entry.Configure && args.size() > 1) {
    ff::av_log(nullptr, AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n", fileName.c_str());
    return -2;
  }
  if (entry.Configure) {
    // The plug-in gets its own writable copies, null-terminated like a main()'s.
    std::vector<std::string> copies(args);
    std::vector<char *> argv;
    argv.reserve(copies.size() + 1);
    for (std::string &arg : copies)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (entry.Configure(&entry.Context, static_cast<int>(copies.size()), argv.data()) != 0) {
      ff::av_log(nullptr, AV_LOG_ERROR, "Failed to Configure %s\n", fileName.c_str());
      return -22;
    }
  }
  entries_.push_back(entry);
  return 0;
}

void TVideoHookChain::Process(TVhookPicture &picture, int pixelFormat, int width, int height,
                              std::int64_t ptsUs) const {
  for (const TEntry &entry : entries_)
    entry.Process(entry.Context, &picture, pixelFormat, width, height, ptsUs);
}

void TVideoHookChain::Clear() {
  std::vector<TEntry> entries = std::move(entries_);
  entries_.clear();
  for (const TEntry &entry : entries)
    if (entry.Release) entry.Release(entry.Context);
}

} // namespace tovi
