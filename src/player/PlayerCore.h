// The player's inner workings, shared by the files of src/player; not for hosts.
//
// TPlayerCore is the component's state; the free functions below are the threads and
// steps that work on it and on the play context. Which thread runs what is stated at
// each function.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "converter/AVProbe.h"
#include "media/FFmpegLogger.h"
#include "media/RGBHolder.h"
#include "player/EventRing.h"
#include "player/PlayContext.h"
#include "player/Player.h"
#include "player/SdlOwners.h"
#include "player/SyncEvent.h"

namespace tovi {

constexpr std::int64_t NO_POSITION = std::numeric_limits<std::int64_t>::min();

// Our own SDL user events (pushed directly; SDL_USEREVENT onwards needs no
// registration). data1 of each is the play context it is meant for.
enum : std::uint32_t {
  FF_ALLOC_EVENT = SDL_USEREVENT,
  FF_REFRESH_EVENT = SDL_USEREVENT + 1,
  FF_QUIT_EVENT = SDL_USEREVENT + 2,
  FF_REOPEN_DISPLAY_EVENT = SDL_USEREVENT + 3,
};

// The fixed playback options (the application never changes them).
struct TPlaybackOptions {
  int swsFlags = 4; // bicubic
  int workaroundBugs = 1;
  int errorRecognition = 1;
  int errorConcealment = 3;
  int decoderReorderPts = -1;
  bool frameDrop = true;
  int rdftSpeedMs = 20; // wave display refresh interval
  int showMode = 1;     // wave display
};

class TPlayerCore {
public:
  explicit TPlayerCore(TCustomPlayer *owner);
  ~TPlayerCore();

  TCustomPlayer *const owner;
  const TPlaybackOptions options;

  // ---- properties (any thread reads them) ----
  std::atomic<float> aspectRatio{0};
  std::atomic<int> audioDriver{adDefault}, videoDriver{vdDefault};
  std::atomic<int> audioVolume{MAX_AUDIO_VOLUME};
  std::atomic<bool> mute{false}, disableAudio{false}, disableVideo{false}, disableDisplay{false};
  std::atomic<int> frameWidth{0}, frameHeight{0}, screenWidth{0}, screenHeight{0};
  std::atomic<bool> hook{false}, triggerInMainThread{true};
  std::string about;

  // ---- handlers ----
  mutable std::mutex handlersMutex; // protects the handlers below
  TFileOpenEvent onFileOpen;
  TPositionEvent onPosition;
  TPlayStateEvent onState;
  THookEvent onHook;
  TKeyEvent onKey;
  TPositionEvent PositionHandler() const;
  TPlayStateEvent StateHandler() const;
  THookEvent HookHandler() const;

  // ---- per file ----
  // The current play context; null when nothing is open. Set by Open, cleared by the
  // teardown (play thread or the Stop wait loop), read by every thread. Read it, and
  // use what it points to, only under ctxMutex or playerLock: the teardown holds
  // playerLock throughout, clears the pointer under ctxMutex and then frees the record.
  std::atomic<TPlayContext *> ctx{nullptr};
  std::unique_ptr<TPlayContext> ownedCtx; // the record `ctx` points to
  // The context Open is still opening (its demux thread may wait for data that never
  // comes); Stop aborts it. Set and cleared by StartPlayContext, read by Stop, both
  // under ctxMutex.
  TPlayContext *openingCtx = nullptr;
  // Guards ctx/ownedCtx/openingCtx against teardown while a user-interface operation or the video
  // thread's step works on the context. Held only for short steps, never while a
  // thread is joined.
  std::mutex ctxMutex;
  std::uintptr_t screenHandle = 0;
  TDisplaySurface surface; // play thread (created and drawn there)
  PacketPtr flushPkt;
  std::atomic<std::int64_t> lastReportedPos{NO_POSITION};
  std::atomic<std::int64_t> currentPosition{-1};
  std::atomic<std::int64_t> audioCallbackTime{0}; // microseconds, wall clock
  std::atomic<bool> stepRequest{false};
  std::atomic<int> shownPictures{0}, droppedPictures{0}; // reset by Open
  std::atomic<int> lastState{psStop};
  std::string fileName;
  mutable std::mutex errorMutex; // protects lastError
  std::string lastError;

  TEventRing ring;
  TRGBHolder rgbHook;     // video decode thread
  TRGBHolder rgbSnapshot; // user-interface thread
  std::unique_ptr<TAVProbe> probe;

  // Held by the play thread while it handles one SDL event; tried by the Stop wait.
  // A plain mutex tried in short steps (TryLockFor): the sanitizers do not follow the
  // timed locking calls of std::timed_mutex.
  std::mutex playerLock;
  TSyncEvent seekDone{true};
  TSyncEvent pictureAfterSeek{true};
  TSyncEvent playThreadDone{true};
  TSyncEvent eventThreadDone{true};
  std::thread playThread, eventThread;
  std::atomic<std::uint32_t> sdlSubsystems{0}; // what StartSDL started, 0 when stopped

  // Wakes the play thread for our own events. SDL's own wait cannot be relied on: with
  // a host's window its wake-up message goes to the client that made the window (the
  // host), so the play thread slept out its whole timeout and most pictures fell due
  // late and were dropped; without a window system it polls every millisecond.
  std::mutex wakeMutex; // protects wakeRequested
  std::condition_variable wakeCond;
  bool wakeRequested = false;
  // Any thread, after pushing an event for this player.
  void WakePlayThread();
  // Play thread: waits until woken or `timeoutMs` has passed.
  void WaitForWake(int timeoutMs);

  // ---- reports ----
  void Report(TLogLevel level, const std::string &text);
  // Logs at llError and keeps the text for LastErrorText.
  void Fail(const std::string &text);
  void SetLastError(const std::string &text);

  // ---- events ----
  void PostState(TPlayState state);
  void PostPosition(std::int64_t pts);
  // Runs `call` in the main thread when TriggerEventInMainThread, else here.
  void Deliver(const std::function<void()> &call);

  // Waits for `event` in 100 ms slices, keeping the user-interface thread responsive;
  // `slicesMax` < 0: no limit. True when signalled.
  bool WaitResponsive(TSyncEvent &event, int sliceMs = 100);
  // Tries the player lock for up to `timeoutMs`.
  bool TryLockPlayerFor(int timeoutMs);

  void ResetPerFileFields();
};

// ---- PlayThread.cpp ----
// User-interface thread: starts SDL (timer, audio, video). False with the reason.
bool StartSDL(TPlayerCore &core, std::uintptr_t screenHandle, std::string &error);
// Any thread; once per successful StartSDL.
void StopSDL(TPlayerCore &core);
void PlayThreadBody(TPlayerCore &core);
void EventThreadBody(TPlayerCore &core);
// Closes and frees the current play context and resets the per-file fields. Any
// thread, holding the player lock.
void CloseCurrentContext(TPlayerCore &core);
// Play thread, holding the player lock: CloseCurrentContext, then the display surface
// and SDL.
void TeardownContext(TPlayerCore &core);
// Pushes one of our user events for `ctx`.
void PushUserEvent(std::uint32_t type, TPlayContext *ctx, int slot = 0);
// The play contexts alive in the process. SDL has one event queue per process, so with
// several players a play thread may take another's event; it hands events of a live
// context back to the queue (waking its play thread) and drops those of contexts that
// are gone. A context is known by the serial number registering gives it (events carry
// it), never by its address, which a later context may get again.
std::uint64_t RegisterLiveContext();
void UnregisterLiveContext(std::uint64_t serial);

// ---- DemuxThread.cpp ----
// User-interface thread. Null on failure (LastErrorText says why).
std::unique_ptr<TPlayContext> StartPlayContext(TPlayerCore &core, const std::string &fileName, bool paused);
// Sets abort and joins the demux and refresh threads; frees the pictures.
void ClosePlayContext(TPlayContext &ctx);

// ---- VideoThread.cpp ----
void VideoThreadBody(TPlayContext &ctx);
// Video decode thread: whether a decoded picture goes on to the queue. While the player
// catches up it keeps one of every `skipFrames` pictures; while `stepping` it keeps each.
bool KeepDecodedPicture(TPlayContext &ctx, bool stepping);

// ---- Display.cpp ----
void RefreshThreadBody(TPlayContext &ctx);
enum class TRefreshMode { Dequeue, Redisplay };
void RefreshTick(TPlayContext &ctx, TRefreshMode mode);
void DisplayPicture(TPlayContext &ctx);
void DisplayOpen(TPlayContext &ctx, bool force);
// Play thread, once the surface has its renderer: picks how pictures are uploaded (as
// they are for a renderer with a GPU, converted and scaled once for a software one).
void ChooseUpload(TDisplaySurface &surface);
// `slot`: the picture queue slot the decode thread waits on.
void AllocPicture(TPlayContext &ctx, int slot);
void PauseToggle(TPlayerCore &core, TPlayContext &ctx);
void PositionReport(TPlayerCore &core, TPlayContext &ctx);
double VideoClock(const TPlayContext &ctx);
double MasterClock(const TPlayContext &ctx);
double WallClockSeconds();
std::int64_t WallClockMicros();
TBitmap *SnapshotFrame(TPlayerCore &core, std::int64_t &pts);

// ---- AudioOutput.cpp ----
// Demux thread, after the decoder is open: opens the SDL audio device. 0 or -1.
int AudioOpen(TPlayContext &ctx);
// Primes the audio state and un-pauses the device.
void AudioStart(TPlayContext &ctx);
void AudioClose(TPlayContext &ctx);
double AudioClock(const TPlayContext &ctx);

// ---- SubtitleOverlay.cpp ----
void SubtitleThreadBody(TPlayContext &ctx);
// Play thread, before a picture is shown.
void SubtitleQueueUpdate(TPlayContext &ctx);
// Play thread: blends the due subtitle into `pic` (overlay locked by the caller).
void BlendSubtitle(TPlayContext &ctx, TVideoPicture &pic);
void FreeSubtitles(TPlayContext &ctx);

// ---- AudioWave.cpp ----
// Audio thread.
void WaveRingUpdate(TPlayContext &ctx, const std::int16_t *samples, int sampleCount);
// Play thread.
void DrawWave(TPlayContext &ctx);

} // namespace tovi
