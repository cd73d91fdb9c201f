// The public face of the player: properties, Open/Stop/Pause/Resume/Step/Seek, the
// snapshot, and the hand-over of events to the host.
#include <cinttypes>
#include <cstdlib>

#include "media/FFmpegLoader.h"
#include "media/MainThread.h"
#include "media/StringFormat.h"
#include "player/PlayerCore.h"

namespace tovi {

const char *AudioDriverText(TAudioDriver driver) {
  switch (driver) {
  case adDirectSound: return "dsound";
  case adWaveOut: return "waveout";
  default: return "";
  }
}

const char *VideoDriverText(TVideoDriver driver) {
  switch (driver) {
  case vdDirectDraw: return "directx";
  case vdGDI: return "windib";
  default: return "";
  }
}

// ---- TPlayerCore ------------------------------------------------------------------

TPlayerCore::TPlayerCore(TCustomPlayer *o) : owner(o), probe(std::make_unique<TAVProbe>()) {
  ResetHolder(rgbHook);
  ResetHolder(rgbSnapshot);
}

TPlayerCore::~TPlayerCore() {
  ResetHolder(rgbHook);
  ResetHolder(rgbSnapshot);
}

TPositionEvent TPlayerCore::PositionHandler() const {
  std::lock_guard<std::mutex> lock(handlersMutex);
  return onPosition;
}
TPlayStateEvent TPlayerCore::StateHandler() const {
  std::lock_guard<std::mutex> lock(handlersMutex);
  return onState;
}
THookEvent TPlayerCore::HookHandler() const {
  std::lock_guard<std::mutex> lock(handlersMutex);
  return onHook;
}

void TPlayerCore::Report(TLogLevel level, const std::string &text) {
  TFFLogger::Instance().Log(owner, level, text);
}

void TPlayerCore::SetLastError(const std::string &text) {
  std::lock_guard<std::mutex> lock(errorMutex);
  lastError = text;
}

void TPlayerCore::Fail(const std::string &text) {
  SetLastError(text);
  Report(llError, text);
}

void TPlayerCore::PostState(TPlayState state) {
  lastState = state;
  if (StateHandler())
    ring.Post({pekState, state, 0});
  else if (state == psStop)
    ring.Post({pekTerminate, state, 0});
}

void TPlayerCore::PostPosition(std::int64_t pts) { ring.Post({pekPosition, 0, pts}); }

void TPlayerCore::Deliver(const std::function<void()> &call) {
  if (triggerInMainThread)
    RunInMainThread(call);
  else
    call();
}

bool TPlayerCore::WaitResponsive(TSyncEvent &event, int sliceMs) {
  for (;;) {
    if (event.Wait(sliceMs)) return true;
    if (IsMainThread()) ProcessPendingMessages();
  }
}

bool TPlayerCore::TryLockPlayerFor(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    if (playerLock.try_lock()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

void TPlayerCore::ResetPerFileFields() {
  lastReportedPos = NO_POSITION;
  currentPosition = -1;
  stepRequest = false;
  seekDone.Set();
}

// ---- TCustomPlayer ----------------------------------------------------------------

TCustomPlayer::TCustomPlayer() : core_(std::make_unique<TPlayerCore>(this)) { core_->ResetPerFileFields(); }

TCustomPlayer::~TCustomPlayer() {
  {
    std::lock_guard<std::mutex> lock(core_->handlersMutex);
    core_->onPosition = nullptr;
    core_->onState = nullptr;
    core_->onHook = nullptr;
  }
  Stop(true);
}

float TCustomPlayer::AspectRatio() const { return core_->aspectRatio; }
void TCustomPlayer::SetAspectRatio(float value) {
  if (core_->aspectRatio.exchange(value) == value) return;
  std::lock_guard<std::mutex> lock(core_->ctxMutex);
  if (TPlayContext *ctx = core_->ctx) PushUserEvent(FF_REOPEN_DISPLAY_EVENT, ctx);
}
TAudioDriver TCustomPlayer::AudioDriver() const {
  return static_cast<TAudioDriver>(core_->audioDriver.load());
}
void TCustomPlayer::SetAudioDriver(TAudioDriver value) { core_->audioDriver = value; }
TVideoDriver TCustomPlayer::VideoDriver() const {
  return static_cast<TVideoDriver>(core_->videoDriver.load());
}
void TCustomPlayer::SetVideoDriver(TVideoDriver value) { core_->videoDriver = value; }
TAudioVolume TCustomPlayer::AudioVolume() const { return core_->audioVolume; }
void TCustomPlayer::SetAudioVolume(TAudioVolume value) {
  core_->audioVolume = value < 0 ? 0 : (value > MAX_AUDIO_VOLUME ? MAX_AUDIO_VOLUME : value);
}
bool TCustomPlayer::Mute() const { return core_->mute; }
void TCustomPlayer::SetMute(bool value) { core_->mute = value; }
bool TCustomPlayer::DisableAudio() const { return core_->disableAudio; }
void TCustomPlayer::SetDisableAudio(bool value) { core_->disableAudio = value; }
bool TCustomPlayer::DisableVideo() const { return core_->disableVideo; }
void TCustomPlayer::SetDisableVideo(bool value) { core_->disableVideo = value; }
bool TCustomPlayer::DisableDisplay() const { return core_->disableDisplay; }
void TCustomPlayer::SetDisableDisplay(bool value) { core_->disableDisplay = value; }
int TCustomPlayer::FrameWidth() const { return core_->frameWidth; }
void TCustomPlayer::SetFrameWidth(int value) { core_->frameWidth = value; }
int TCustomPlayer::FrameHeight() const { return core_->frameHeight; }
void TCustomPlayer::SetFrameHeight(int value) { core_->frameHeight = value; }
int TCustomPlayer::ScreenWidth() const { return core_->screenWidth; }
void TCustomPlayer::SetScreenWidth(int value) { core_->screenWidth = value; }
int TCustomPlayer::ScreenHeight() const { return core_->screenHeight; }
void TCustomPlayer::SetScreenHeight(int value) { core_->screenHeight = value; }
bool TCustomPlayer::Hook() const { return core_->hook; }
void TCustomPlayer::SetHook(bool value) { core_->hook = value; }
bool TCustomPlayer::TriggerEventInMainThread() const { return core_->triggerInMainThread; }
void TCustomPlayer::SetTriggerEventInMainThread(bool value) { core_->triggerInMainThread = value; }
std::string TCustomPlayer::About() const { return core_->about; }
void TCustomPlayer::SetAbout(const std::string &value) { core_->about = value; }

void TCustomPlayer::SetOnFileOpen(TFileOpenEvent handler) {
  std::lock_guard<std::mutex> lock(core_->handlersMutex);
  core_->onFileOpen = std::move(handler);
}
void TCustomPlayer::SetOnPosition(TPositionEvent handler) {
  std::lock_guard<std::mutex> lock(core_->handlersMutex);
  core_->onPosition = std::move(handler);
}
void TCustomPlayer::SetOnState(TPlayStateEvent handler) {
  std::lock_guard<std::mutex> lock(core_->handlersMutex);
  core_->onState = std::move(handler);
}
void TCustomPlayer::SetOnHook(THookEvent handler) {
  std::lock_guard<std::mutex> lock(core_->handlersMutex);
  core_->onHook = std::move(handler);
}
void TCustomPlayer::SetOnKey(TKeyEvent handler) {
  std::lock_guard<std::mutex> lock(core_->handlersMutex);
  core_->onKey = std::move(handler);
}

bool TCustomPlayer::LoadLibraries(const std::string &folder) {
  TFFmpegLoader &loader = TFFmpegLoader::Instance();
  if (!folder.empty()) loader.SetLibraryFolder(folder);
  if (loader.LoadLibraries(PLAYER_LIBRARIES)) return true;
  core_->SetLastError(loader.LastErrorText());
  return false;
}

bool TCustomPlayer::LibrariesLoaded() const {
  return TFFmpegLoader::Instance().LibrariesLoaded(PLAYER_LIBRARIES);
}

bool TCustomPlayer::Open(const std::string &fileName, std::uintptr_t screenHandle, bool paused) {
  TPlayerCore &core = *core_;
  if (!LibrariesLoaded()) {
    core.Fail("libav or libsdl not loaded.");
    return false;
  }
  Stop(true);

  // The default driver leaves the environment as the user set it (SDL's own choice).
  if (const char *a = AudioDriverText(AudioDriver()); *a) ::setenv("SDL_AUDIODRIVER", a, 1);
  if (const char *v = VideoDriverText(VideoDriver()); *v) ::setenv("SDL_VIDEODRIVER", v, 1);

  std::string sdlError;
  if (!StartSDL(core, screenHandle, sdlError)) {
    core.Fail(StringFormat("Could not initialize SDL with ScreenHandle(%u): %s",
                           static_cast<unsigned>(screenHandle), sdlError.c_str()));
    return false;
  }
  if (core.disableDisplay) {
    core.disableVideo = true;
  } else if (!ff::SDL_GetCurrentVideoDriver()) {
    core.Fail("SDL_GetVideoInfo() failed");
    StopSDL(core);
    return false;
  }

  core.flushPkt = MakePacket();
  if (core.flushPkt) InitFlushPacket(core.flushPkt.get());
  ff::SDL_EventState(SDL_MOUSEMOTION, SDL_IGNORE);
  ff::SDL_EventState(SDL_SYSWMEVENT, SDL_IGNORE);

  core.screenHandle = screenHandle;
  core.shownPictures = 0;
  core.droppedPictures = 0;
  core.ring.Clear();
  std::unique_ptr<TPlayContext> ctx = StartPlayContext(core, fileName, paused);
  if (!ctx) {
    StopSDL(core);
    return false;
  }
  TPlayContext *raw = ctx.get();
  {
    std::lock_guard<std::mutex> lock(core.ctxMutex);
    core.ownedCtx = std::move(ctx);
    core.ctx = raw;
  }
  core.fileName = fileName;
  core.probe->AttachContext(raw->ic);

  ResetHolder(core.rgbHook);
  ResetHolder(core.rgbSnapshot);
  TFileOpenEvent onFileOpen;
  {
    std::lock_guard<std::mutex> lock(core.handlersMutex);
    onFileOpen = core.onFileOpen;
  }
  if (onFileOpen) {
    const std::int64_t duration =
        raw->image2 ? 0 : (raw->ic->duration == AV_NOPTS_VALUE ? 0 : raw->ic->duration);
    int fw = -1, fh = -1;
    if (raw->videoDec && raw->videoDec->width > 0) {
      fw = raw->videoDec->width;
      fh = raw->videoDec->height;
    }
    core.Deliver([&] {
      int sw = core.screenWidth, sh = core.screenHeight;
      onFileOpen(this, duration, fw, fh, sw, sh);
      core.screenWidth = sw;
      core.screenHeight = sh;
    });
  }
  // With a host window and no screen size the display takes the host's size when the
  // play thread wraps the window (DisplayOpen).

  core.eventThreadDone.Reset();
  core.eventThread = std::thread([&core] { EventThreadBody(core); });
  core.playThreadDone.Reset();
  core.playThread = std::thread([&core] { PlayThreadBody(core); });
  return true;
}

void TCustomPlayer::Stop(bool wait) {
  TPlayerCore &core = *core_;
  {
    std::lock_guard<std::mutex> lock(core.ctxMutex);
    if (TPlayContext *ctx = core.ctx) {
      if (ctx->paused) PauseToggle(core, *ctx);
      core.stepRequest = false;
      PushUserEvent(FF_QUIT_EVENT, ctx);
    }
    // An Open still waiting for its file gives up and returns false.
    if (core.openingCtx) core.openingCtx->abortRequest = true;
  }
  if (!wait) return;

  int tries = 1;
  while (core.playThread.joinable() && !core.playThreadDone.Wait(100)) {
    if (IsMainThread()) ProcessPendingMessages();
    if (!core.TryLockPlayerFor(100)) continue;
    // Read under the player lock: every teardown of the context holds it, so the
    // context cannot be freed while this step looks at it.
    TPlayContext *ctx = core.ctx;
    if (!ctx) {
      core.playerLock.unlock();
      // Torn down already: the play thread notices at its next event wait (100 ms at
      // most). No event is pushed: its teardown is quitting SDL, and SDL's event queue
      // must not be used from here while it goes.
      continue;
    }
    ++tries;
    // Forced: the context is closed here, but the display surface and SDL are left to
    // the play thread, which is in its event wait (the lock is ours) and finds the
    // context gone: SDL's renderer belongs to the thread that made it, and SDL must not
    // stop under a thread inside its event wait.
    if ((tries > 10 && ctx->inRead) || tries > 20)
      CloseCurrentContext(core);
    else
      PushUserEvent(FF_QUIT_EVENT, ctx);
    core.playerLock.unlock();
  }
  if (core.playThread.joinable()) core.playThread.join();
  if (core.eventThread.joinable()) {
    core.WaitResponsive(core.eventThreadDone);
    core.eventThread.join();
  }
  if (LibrariesLoaded()) StopSDL(core);
}

void TCustomPlayer::Pause() {
  std::lock_guard<std::mutex> lock(core_->ctxMutex);
  TPlayContext *ctx = core_->ctx;
  if (!ctx || ctx->paused) return;
  PauseToggle(*core_, *ctx);
  core_->stepRequest = false;
  core_->PostState(psPause);
}

void TCustomPlayer::Resume() {
  std::lock_guard<std::mutex> lock(core_->ctxMutex);
  TPlayContext *ctx = core_->ctx;
  if (!ctx) return;
  // A step still on its way would pause again after its picture: Resume cancels it.
  if (!ctx->paused && !core_->stepRequest) return;
  if (ctx->paused) PauseToggle(*core_, *ctx);
  core_->stepRequest = false;
  core_->PostState(psResume);
}

void TCustomPlayer::Step() {
  std::lock_guard<std::mutex> lock(core_->ctxMutex);
  TPlayContext *ctx = core_->ctx;
  if (!ctx) return;
  if (ctx->paused) PauseToggle(*core_, *ctx);
  if (!core_->stepRequest.exchange(true)) core_->PostState(psStep);
}

void TCustomPlayer::Seek(TSeekFlags flags, bool wait, std::int64_t position) {
  TPlayerCore &core = *core_;
  bool hasVideo = false;
  {
    std::lock_guard<std::mutex> lock(core.ctxMutex);
    TPlayContext *ctx = core.ctx;
    if (!ctx) return;
    std::int64_t target = position, rel = 0;
    if (!(flags & sfByte)) {
      // An unknown duration gives no bound: the position is taken as it is.
      if (ctx->duration > 0 && target > ctx->duration) target = ctx->duration;
      target += ctx->startTime;
      rel = position <= 0 ? 1 : 0;
    }
    if (ctx->seekReq) return; // one at a time
    ctx->seekPaused = ctx->paused.load();
    ctx->seekPos = target;
    ctx->seekRel = rel;
    ctx->seekFlags = flags & (sfBackward | sfByte | sfAny | sfFrame);
    core.seekDone.Reset();
    ctx->seekReq = true;
    hasVideo = ctx->HasVideo();
  }
  if (!wait) return;
  core.WaitResponsive(core.seekDone);
  if (hasVideo) core.WaitResponsive(core.pictureAfterSeek);
}

bool TCustomPlayer::IsPaused() const {
  std::lock_guard<std::mutex> lock(core_->ctxMutex);
  const TPlayContext *ctx = core_->ctx;
  return !ctx || ctx->paused;
}

TBitmap *TCustomPlayer::CurrentFrame() {
  std::int64_t pts = 0;
  return CurrentFrame(pts);
}

TBitmap *TCustomPlayer::CurrentFrame(std::int64_t &pts) {
  std::lock_guard<std::mutex> lock(core_->ctxMutex);
  return SnapshotFrame(*core_, pts);
}

std::int64_t TCustomPlayer::CurrentPosition() const { return core_->currentPosition; }
std::string TCustomPlayer::FileName() const { return core_->fileName; }
std::string TCustomPlayer::LastErrorText() const {
  std::lock_guard<std::mutex> lock(core_->errorMutex);
  return core_->lastError;
}
TAVProbe &TCustomPlayer::Probe() { return *core_->probe; }
bool TCustomPlayer::GetClocks(double &videoClock, double &masterClock) const {
  std::lock_guard<std::mutex> lock(core_->ctxMutex);
  const TPlayContext *ctx = core_->ctx;
  if (!ctx) return false;
  videoClock = VideoClock(*ctx);
  masterClock = MasterClock(*ctx);
  return true;
}

TPlaybackCounters TCustomPlayer::Counters() const { return {core_->shownPictures, core_->droppedPictures}; }

TPlayState TCustomPlayer::LastState() const { return static_cast<TPlayState>(core_->lastState.load()); }

} // namespace tovi
