// SDL start and stop, the play thread with its SDL event loop, the event thread that
// hands events to the host, and the context teardown.
#include <chrono>
#include <cstdlib>
#include <set>

#include "media/MainThread.h"
#include "player/PlayerCore.h"

namespace tovi {

namespace {

std::mutex g_liveMutex; // protects g_live and g_lastSerial
std::set<std::uint64_t> g_live;
std::uint64_t g_lastSerial = 0;

constexpr std::uint32_t kCoreSubsystems = SDL_INIT_TIMER | SDL_INIT_VIDEO;

} // namespace

std::uint64_t RegisterLiveContext() {
  std::lock_guard<std::mutex> lock(g_liveMutex);
  g_live.insert(++g_lastSerial);
  return g_lastSerial;
}
void UnregisterLiveContext(std::uint64_t serial) {
  std::lock_guard<std::mutex> lock(g_liveMutex);
  g_live.erase(serial);
}
namespace {

// Puts another player's event back into SDL's queue and wakes that player's play
// thread, while its context lives (a registered context and its player outlive the
// registration). False when the context is gone.
bool HandBackEvent(SDL_Event &ev, std::uint64_t serial) {
  std::lock_guard<std::mutex> lock(g_liveMutex);
  if (g_live.count(serial) == 0) return false;
  ff::SDL_PushEvent(&ev);
  if (auto *owner = static_cast<TPlayContext *>(ev.user.data1); owner && owner->player)
    owner->player->WakePlayThread();
  return true;
}

} // namespace

void PushUserEvent(std::uint32_t type, TPlayContext *ctx, int slot) {
  if (!ff::SDL_PushEvent || !ctx) return;
  SDL_Event ev{};
  ev.type = type;
  ev.user.data1 = ctx;
  ev.user.data2 = reinterpret_cast<void *>(static_cast<std::uintptr_t>(ctx->serial));
  ev.user.code = slot;
  ff::SDL_PushEvent(&ev);
  if (ctx->player) ctx->player->WakePlayThread();
}

void TPlayerCore::WakePlayThread() {
  {
    std::lock_guard<std::mutex> lock(wakeMutex);
    wakeRequested = true;
  }
  wakeCond.notify_all();
}

void TPlayerCore::WaitForWake(int timeoutMs) {
  std::unique_lock<std::mutex> lock(wakeMutex);
  wakeCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return wakeRequested; });
  wakeRequested = false;
}

namespace {

std::uint64_t EventSerial(const SDL_Event &ev) {
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(ev.user.data2));
}

} // namespace

bool StartSDL(TPlayerCore &core, std::uintptr_t screenHandle, std::string &error) {
  // SDL2 takes the host window through SDL_CreateWindowFrom (DisplayOpen); the variable
  // is still set for the time SDL starts, as hosts of the old library expect.
  if (screenHandle) ::setenv("SDL_WINDOWID", std::to_string(screenHandle).c_str(), 1);
  int rc = ff::SDL_InitSubSystem(kCoreSubsystems);
  if (rc != 0 && screenHandle) {
    ff::SDL_setenv("SDL_WINDOWID", std::to_string(static_cast<unsigned>(screenHandle)).c_str(), 1);
    rc = ff::SDL_InitSubSystem(kCoreSubsystems);
    if (rc != 0) {
      ff::SDL_setenv("SDL_WINDOWID", std::to_string(static_cast<long>(screenHandle)).c_str(), 1);
      rc = ff::SDL_InitSubSystem(kCoreSubsystems);
    }
  }
  if (rc != 0) {
    error = ff::SDL_GetError();
    if (screenHandle) ::unsetenv("SDL_WINDOWID");
    return false;
  }
  std::uint32_t started = kCoreSubsystems;
  // A machine without a sound device still shows the picture: the audio stream then
  // fails to open with SDL's reason and the file plays silently.
  if (ff::SDL_InitSubSystem(SDL_INIT_AUDIO) == 0)
    started |= SDL_INIT_AUDIO;
  else
    core.Report(llWarning, std::string("SDL audio: ") + ff::SDL_GetError());
  core.sdlSubsystems = started;
  if (screenHandle) {
    const char *audio = ff::SDL_GetCurrentAudioDriver();
    const char *video = ff::SDL_GetCurrentVideoDriver();
    ff::av_log(nullptr, AV_LOG_DEBUG, "using audio driver: %s\n", audio ? audio : "(null)");
    ff::av_log(nullptr, AV_LOG_DEBUG, "using video driver: %s\n", video ? video : "(null)");
    ::unsetenv("SDL_WINDOWID");
  }
  return true;
}

void StopSDL(TPlayerCore &core) {
  const std::uint32_t started = core.sdlSubsystems.exchange(0);
  if (!started || !ff::SDL_QuitSubSystem) return;
  // One quit per start, as StartSDL started them: SDL counts the event subsystem once
  // for each subsystem that implies it, and a single quit of all of them together
  // releases it only once, which left the event queue (and the events in it) alive
  // from one file to the next.
  if (started & SDL_INIT_AUDIO) ff::SDL_QuitSubSystem(SDL_INIT_AUDIO);
  ff::SDL_QuitSubSystem(started & ~static_cast<std::uint32_t>(SDL_INIT_AUDIO));
}

void CloseCurrentContext(TPlayerCore &core) {
  std::unique_ptr<TPlayContext> owned;
  {
    std::lock_guard<std::mutex> lock(core.ctxMutex);
    owned = std::move(core.ownedCtx);
    core.ctx = nullptr;
  }
  if (owned) {
    UnregisterLiveContext(owned->serial);
    ClosePlayContext(*owned);
    owned.reset();
  }
  core.ResetPerFileFields();
}

void TeardownContext(TPlayerCore &core) {
  CloseCurrentContext(core);
  core.surface.reset();
  StopSDL(core);
}

namespace {

// One SDL event while holding the player lock. False when the loop ends.
bool HandleEvent(TPlayerCore &core, TPlayContext &ctx, const SDL_Event &ev) {
  switch (ev.type) {
  case SDL_QUIT:
    // The host owns its window: closing it is the host's business, not a stop.
    if (core.screenHandle) return true;
    TeardownContext(core);
    return false;
  case FF_QUIT_EVENT: TeardownContext(core); return false;
  case SDL_WINDOWEVENT:
    if (ev.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
      core.screenWidth = ev.window.data1;
      core.screenHeight = ev.window.data2;
      ctx.width = core.surface.width = ev.window.data1;
      ctx.height = core.surface.height = ev.window.data2;
      if (ctx.paused) RefreshTick(ctx, TRefreshMode::Redisplay);
    } else if (ev.window.event == SDL_WINDOWEVENT_EXPOSED) {
      if (ctx.paused)
        RefreshTick(ctx, TRefreshMode::Redisplay);
      else
        DisplayPicture(ctx);
    }
    return true;
  case FF_ALLOC_EVENT: AllocPicture(ctx, ev.user.code); return true;
  case FF_REFRESH_EVENT:
    RefreshTick(ctx, TRefreshMode::Dequeue);
    ctx.refreshPending = false;
    return true;
  case FF_REOPEN_DISPLAY_EVENT:
    DisplayOpen(ctx, true);
    DisplayPicture(ctx);
    return true;
  case SDL_KEYDOWN: {
    TKeyEvent onKey;
    {
      std::lock_guard<std::mutex> lock(core.handlersMutex);
      onKey = core.onKey;
    }
    if (onKey) onKey(core.owner, ev.key.keysym.sym);
    return true;
  }
  default: return true;
  }
}

bool IsOurUserEvent(std::uint32_t type) { return type >= FF_ALLOC_EVENT && type <= FF_REOPEN_DISPLAY_EVENT; }

// How long the play thread sleeps without an event of ours: the window system's events
// (expose, resize, keys) and events handed back by another player wait at most this.
constexpr int kIdleWaitMs = 20;

void EventLoop(TPlayerCore &core) {
  for (;;) {
    SDL_Event ev{};
    // Our own events wake the thread through WakePlayThread (SDL's wait would not wake
    // for them in a host's window); a push between the poll and the wait leaves the
    // wake-up request set, so the wait returns at once.
    int got = ff::SDL_PollEvent(&ev);
    if (!got) {
      core.WaitForWake(kIdleWaitMs);
      got = ff::SDL_PollEvent(&ev);
    }
    std::unique_lock<std::mutex> lock(core.playerLock);
    TPlayContext *ctx = core.ctx;
    if (!ctx) {
      // Closed by Stop's forced teardown: the window, renderer and texture are this
      // thread's to destroy, and SDL stops only once this thread is out of its calls.
      core.surface.reset();
      lock.unlock();
      StopSDL(core);
      return;
    }
    if (!got) continue;
    if (IsOurUserEvent(ev.type) && (ev.user.data1 != ctx || EventSerial(ev) != ctx->serial)) {
      // Another context's event: hand it back while that context lives. The address
      // alone does not tell: a new context may be where a closed one was.
      if (HandBackEvent(ev, EventSerial(ev))) {
        lock.unlock();
        ff::SDL_Delay(1);
      }
      continue;
    }
    if (!HandleEvent(core, *ctx, ev)) return;
  }
}

} // namespace

// Play thread: drives one opened file from psPlay to psStop.
void PlayThreadBody(TPlayerCore &core) {
  core.PostState(psPlay);
  try {
    EventLoop(core);
  } catch (const std::exception &e) {
    core.Report(llFatal, std::string("PlayThread Exception: ") + e.what());
    std::lock_guard<std::mutex> lock(core.playerLock);
    TeardownContext(core);
  }
  core.PostState(psStop);
  core.playThreadDone.Set();
}

// Event thread: hands the ring's events to the host until psStop or terminate.
void EventThreadBody(TPlayerCore &core) {
  bool running = true;
  while (running) {
    const TPlayerEvent ev = core.ring.Take();
    // Each handler is fetched again where it runs: a host that clears its handlers
    // (the destructor does) gets no call that was already on its way.
    try {
      switch (ev.Kind) {
      case pekPosition:
        if (core.PositionHandler())
          core.Deliver([&] {
            if (TPositionEvent handler = core.PositionHandler()) handler(core.owner, ev.PTS);
          });
        break;
      case pekState:
        if (core.StateHandler())
          core.Deliver([&] {
            if (TPlayStateEvent handler = core.StateHandler())
              handler(core.owner, static_cast<TPlayState>(ev.State));
          });
        break;
      default: break;
      }
    } catch (const std::exception &e) {
      core.Report(llError, std::string("Error in a player event handler: ") + e.what());
    } catch (...) {
      core.Report(llError, "Error in a player event handler");
    }
    switch (ev.Kind) {
    case pekState:
      if (ev.State == psStop) running = false;
      break;
    case pekTerminate: running = false; break;
    default: break;
    }
    if (running) core.ring.WaitNotEmpty(-1);
  }
  core.eventThreadDone.Set();
}

} // namespace tovi
