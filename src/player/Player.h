// The preview player component: plays one media file at a time into a host window (by
// its native window id) or into a window of its own, with sound; pauses, resumes,
// steps, seeks and stops; reports the opened file, the position and its state, and
// hands every picture it is about to show to OnHook as a 24-bit bitmap.
//
// Threads: every public operation is called from the user-interface thread, except
// that Stop(false) may also come from another thread (or from a main-thread call Open
// serves while it waits) to end an Open that waits for its file.
// OnFileOpen, OnPosition and OnState run there too when TriggerEventInMainThread is set
// (through RunInMainThread), else on the thread that raises them. OnHook always runs
// on the video decode thread. The player never throws to its host: failures are logged
// at llError and kept in LastErrorText.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "converter/FFBaseComponent.h"
#include "player/PlayerTypes.h"

namespace tovi {

class TPlayerCore;
class TAVProbe;

class TCustomPlayer : public TFFBaseComponent {
public:
  TCustomPlayer();
  // Clears OnPosition, OnState and OnHook, then stops with waiting.
  ~TCustomPlayer() override;
  TCustomPlayer(const TCustomPlayer &) = delete;
  TCustomPlayer &operator=(const TCustomPlayer &) = delete;

  // ---- properties ----
  float AspectRatio() const;
  // A different value while a file is open redraws with the new shape.
  void SetAspectRatio(float value);
  TAudioDriver AudioDriver() const;
  void SetAudioDriver(TAudioDriver value);
  TVideoDriver VideoDriver() const;
  void SetVideoDriver(TVideoDriver value);
  TAudioVolume AudioVolume() const;
  void SetAudioVolume(TAudioVolume value); // clamped to 0..128
  bool Mute() const;
  void SetMute(bool value);
  bool DisableAudio() const;
  void SetDisableAudio(bool value);
  bool DisableVideo() const;
  void SetDisableVideo(bool value);
  bool DisableDisplay() const;
  void SetDisableDisplay(bool value);
  int FrameWidth() const;
  void SetFrameWidth(int value);
  int FrameHeight() const;
  void SetFrameHeight(int value);
  int ScreenWidth() const;
  void SetScreenWidth(int value);
  int ScreenHeight() const;
  void SetScreenHeight(int value);
  bool Hook() const;
  void SetHook(bool value);
  bool TriggerEventInMainThread() const;
  void SetTriggerEventInMainThread(bool value);
  std::string About() const;
  void SetAbout(const std::string &value);
  static std::string Version() { return "2.3"; }

  // ---- events (assign from the user-interface thread) ----
  void SetOnFileOpen(TFileOpenEvent handler);
  void SetOnPosition(TPositionEvent handler);
  void SetOnState(TPlayStateEvent handler);
  void SetOnHook(THookEvent handler);
  void SetOnKey(TKeyEvent handler);

  // ---- operations ----
  // Plays `fileName` (UTF-8) in the window `screenHandle` (an X11 window id; 0 = a
  // window of the player's own), paused after its first pictures when `paused`.
  // Open waits until the file is opened and its streams are known; a Stop meanwhile
  // makes it give up ("<name>: opening stopped"), also while a pipe or device stays
  // silent.
  bool Open(const std::string &fileName, std::uintptr_t screenHandle, bool paused = false);
  void Stop(bool wait);
  void Pause();
  void Resume();
  void Step();
  // `position` in microseconds, or bytes with sfByte.
  void Seek(TSeekFlags flags, bool wait, std::int64_t position);
  bool IsPaused() const;
  // A snapshot of the picture on screen (owned by the player, overwritten by the next
  // call); 0 x 0 without a video stream. `pts` gets its time in microseconds, -1 when
  // nothing is shown.
  TBitmap *CurrentFrame();
  TBitmap *CurrentFrame(std::int64_t &pts);
  std::int64_t CurrentPosition() const; // microseconds, -1 when not known
  std::string FileName() const;
  std::string LastErrorText() const;
  TAVProbe &Probe();

  bool LoadLibraries(const std::string &folder);
  bool LibrariesLoaded() const;

  // Diagnostics: the state last raised, and the video and master (audio) clocks in
  // seconds; false when nothing is open.
  TPlayState LastState() const;
  bool GetClocks(double &videoClock, double &masterClock) const;
  TPlaybackCounters Counters() const;

private:
  std::unique_ptr<TPlayerCore> core_;
};

// The published component.
class TFFPlayer final : public TCustomPlayer {};

} // namespace tovi
