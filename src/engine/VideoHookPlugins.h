// Video hook plug-ins ("vhook"): shared libraries with the C entry points "Configure",
// "Process" and "Release", called in a chain on every decoded picture.
//
// Plug-in ABI (C calling convention):
//   int  Configure(void **context, int argc, char *argv[]);   0 = success; argv[0] is
//        the library's file name, argv[argc] is null
//   void Process(void *context, TVhookPicture *picture, int pixelFormat, int width,
//                int height, int64_t ptsUs);                   may change the picture
//   void Release(void *context);
// "Process" is required; "Configure" may be missing only when no argument follows the
// file name; "Release" is optional.
//
// Libraries are loaded once per process and never unloaded (a later engine reuses the
// module; an entry of a chain may still point into it). A library's own dependencies are
// found through its RUNPATH (e.g. $ORIGIN) or the loader's search path: the process's
// current folder and PATH are left alone, because both are shared by every thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tovi {

// A picture as a plug-in sees it: four plane pointers and four line sizes.
struct TVhookPicture {
  std::uint8_t *data[4];
  int linesize[4];
};

extern "C" {
using TVhookConfigureFn = int (*)(void **context, int argc, char *argv[]);
using TVhookProcessFn = void (*)(void *context, TVhookPicture *picture, int pixelFormat, int width,
                                 int height, std::int64_t ptsUs);
using TVhookReleaseFn = void (*)(void *context);
}

// Splits a "vhook" command line: by "|" when the text holds one (so that arguments may
// hold spaces), otherwise by spaces; empty tokens are skipped; at most 64 tokens.
std::vector<std::string> SplitVideoHookCommandLine(const std::string &commandLine);

// The chain of one engine. Not thread-safe: the job's thread runs it, the engine's owner
// adds and clears while no job runs.
class TVideoHookChain {
public:
  TVideoHookChain() = default;
  ~TVideoHookChain() { Clear(); }
  TVideoHookChain(const TVideoHookChain &) = delete;
  TVideoHookChain &operator=(const TVideoHookChain &) = delete;

  // Loads (or reuses) the library args[0], configures an entry and appends it.
  // 0 on success; -2 no argument, a missing "Process", or a missing "Configure" with
  // arguments; -1 the library cannot be loaded; -22 "Configure" failed. The reasons are
  // logged through the media library's log at error level.
  int Add(const std::vector<std::string> &args);
  // Every entry's "Process" in chain order.
  void Process(TVhookPicture &picture, int pixelFormat, int width, int height, std::int64_t ptsUs) const;
  // Calls each entry's "Release" (when present) and empties the chain.
  void Clear();
  bool Empty() const { return entries_.empty(); }
  int Size() const { return static_cast<int>(entries_.size()); }

private:
  struct TEntry {
    TVhookConfigureFn Configure = nullptr;
    TVhookProcessFn Process = nullptr;
    TVhookReleaseFn Release = nullptr;
    void *Context = nullptr;
  };
  std::vector<TEntry> entries_;
};

} // namespace tovi
