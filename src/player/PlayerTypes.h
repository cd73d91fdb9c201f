// Public types of the player component: states, drivers, seek flags and event types.
#pragma once

#include <cstdint>
#include <functional>

#include "media/Bitmap.h"

namespace tovi {

class TCustomPlayer;

enum TPlayState : int { psPlay, psPause, psResume, psStep, psStop, psEnd };

enum TAudioDriver : int { adDefault, adDirectSound, adWaveOut };
enum TVideoDriver : int { vdDefault, vdDirectDraw, vdGDI };

// Texts for the "SDL_AUDIODRIVER" / "SDL_VIDEODRIVER" environment variables.
const char *AudioDriverText(TAudioDriver driver);
const char *VideoDriverText(TVideoDriver driver);

// Mixing volume, 0 (silent) .. 128 (full).
using TAudioVolume = int;
constexpr TAudioVolume MAX_AUDIO_VOLUME = 128;

// Seek flags; a set is a bit mask of these values, which are the library's own
// (AVSEEK_FLAG_BACKWARD, _BYTE, _ANY, _FRAME).
enum TSeekFlag : int { sfBackward = 1, sfByte = 2, sfAny = 4, sfFrame = 8 };
using TSeekFlags = int;

// Pictures of the file now open (or last open): shown on time, and decoded but never
// shown (dropped late or skipped before filtering). For diagnostics and benchmarks.
struct TPlaybackCounters {
  int Shown = 0;
  int Dropped = 0;
};

// OnFileOpen: the handler may change the screen size the player will use.
using TFileOpenEvent = std::function<void(TCustomPlayer *Sender, std::int64_t ADuration, int AFrameWidth,
                                          int AFrameHeight, int &AScreenWidth, int &AScreenHeight)>;
using TPositionEvent = std::function<void(TCustomPlayer *Sender, std::int64_t APTS)>;
using TPlayStateEvent = std::function<void(TCustomPlayer *Sender, TPlayState AState)>;
// Runs in the video decode thread with the bitmap's canvas locked; the host may draw on
// the bitmap and the drawing is shown.
using THookEvent = std::function<void(TCustomPlayer *Sender, TBitmap *ABitmap, std::int64_t APTS)>;
// Key presses in the player's own window (play thread). Not used with a host window,
// whose host sees its keys itself. `key` is the SDL key code.
using TKeyEvent = std::function<void(TCustomPlayer *Sender, int key)>;

} // namespace tovi
