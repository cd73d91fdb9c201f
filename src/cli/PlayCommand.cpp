// play FILE [--paused] [--volume N] [--mute]: plays a file in a window of the player's
// own. Space pauses and resumes, the arrows seek (left/right 5 s, down/up 30 s), S steps
// one picture, Esc stops. Ends with 0 when the file has played to its end or the user
// stopped it, 1 when it cannot be played.
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "cli/Commands.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "player/Player.h"

namespace tovi::cli {
namespace {

enum class TKeyCommand { TogglePause, SeekBy, Step, Stop };

struct TCommand {
  TKeyCommand kind;
  std::int64_t amountUs = 0;
};

// Hands key presses (play thread) and state changes (event thread) to the main thread,
// which alone drives the player.
struct TPlayControl {
  std::mutex mutex; // protects everything below
  std::condition_variable wake;
  std::deque<TCommand> commands;
  bool ended = false;
  bool stopped = false;
  std::int64_t position = 0;

  void Push(TCommand c) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      commands.push_back(c);
    }
    wake.notify_one();
  }
};

std::string UsageText() {
  const std::string max = std::to_string(MAX_AUDIO_VOLUME);
  std::string text = "usage: tovi-convert play [--paused] [--volume N] [--mute] [--] FILE\n"
                     "Plays FILE in a window of its own: Space pauses and resumes, the arrows seek\n"
                     "(left/right 5 s, down/up 30 s), S steps one picture, Esc stops.\n"
                     "  --paused     open paused on the first picture\n";
  text += "  --volume N   0.." + max + " (default " + max + ")\n";
  text += "  --mute       start muted\n"
          "Exit status: 0 played to the end or stopped, 1 cannot be played, 2 bad usage.\n";
  return text;
}

int Usage(const std::string &mistake) {
  std::fprintf(stderr, "tovi-convert: %s\n", mistake.c_str());
  std::fprintf(stderr, "%s", UsageText().c_str());
  return 2;
}

} // namespace

int CmdPlay(int argc, char **argv) {
  std::string file;
  bool paused = false, mute = false;
  int volume = MAX_AUDIO_VOLUME;
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    const bool option = !optionsEnded && argv[i][0] == '-' && argv[i][1] != 0;
    if (option && IsHelpWord(argv[i])) {
      std::printf("%s", UsageText().c_str());
      return 0;
    } else if (option && std::strcmp(argv[i], "--") == 0) {
      optionsEnded = true;
    } else if (option && std::strcmp(argv[i], "--paused") == 0) {
      paused = true;
    } else if (option && std::strcmp(argv[i], "--mute") == 0) {
      mute = true;
    } else if (option && std::strcmp(argv[i], "--volume") == 0) {
      if (i + 1 >= argc) return Usage("--volume needs a value");
      char *end = nullptr;
      const long v = std::strtol(argv[++i], &end, 10);
      if (*end || end == argv[i] || v < 0 || v > MAX_AUDIO_VOLUME) {
        std::fprintf(stderr, "tovi-convert: the volume must be 0..%d\n", MAX_AUDIO_VOLUME);
        return 2;
      }
      volume = static_cast<int>(v);
    } else if (option) {
      return Usage(std::string("unknown option ") + argv[i]);
    } else if (file.empty()) {
      file = argv[i];
    } else {
      return Usage(std::string("play takes one file (got '") + file + "' and '" + argv[i] + "')");
    }
  }
  if (file.empty()) return Usage("no file given");

  TFFPlayer player;
  if (!player.LoadLibraries({})) {
    std::fprintf(stderr, "tovi-convert: %s\n", player.LastErrorText().c_str());
    return 1;
  }
  TPlayControl control;
  player.SetTriggerEventInMainThread(false);
  player.SetAudioVolume(volume);
  player.SetMute(mute);
  player.SetOnState([&control](TCustomPlayer *, TPlayState state) {
    if (state != psEnd && state != psStop) return;
    {
      std::lock_guard<std::mutex> lock(control.mutex);
      (state == psEnd ? control.ended : control.stopped) = true;
    }
    control.wake.notify_one();
  });
  player.SetOnPosition([&control](TCustomPlayer *, std::int64_t pts) {
    std::lock_guard<std::mutex> lock(control.mutex);
    control.position = pts;
  });
  player.SetOnKey([&control](TCustomPlayer *, int key) {
    switch (key) {
    case SDLK_SPACE: control.Push({TKeyCommand::TogglePause}); break;
    case SDLK_LEFT: control.Push({TKeyCommand::SeekBy, -5000000}); break;
    case SDLK_RIGHT: control.Push({TKeyCommand::SeekBy, 5000000}); break;
    case SDLK_DOWN: control.Push({TKeyCommand::SeekBy, -30000000}); break;
    case SDLK_UP: control.Push({TKeyCommand::SeekBy, 30000000}); break;
    case SDLK_s: control.Push({TKeyCommand::Step}); break;
    case SDLK_ESCAPE: control.Push({TKeyCommand::Stop}); break;
    default: break;
    }
  });
  if (!player.Open(file, 0, paused)) {
    std::fprintf(stderr, "tovi-convert: %s\n", player.LastErrorText().c_str());
    return 1;
  }
  std::unique_lock<std::mutex> lock(control.mutex);
  for (;;) {
    control.wake.wait(lock, [&] { return control.ended || control.stopped || !control.commands.empty(); });
    if (control.ended || control.stopped) break;
    const TCommand c = control.commands.front();
    control.commands.pop_front();
    const std::int64_t position = control.position;
    lock.unlock();
    switch (c.kind) {
    case TKeyCommand::TogglePause:
      if (player.IsPaused())
        player.Resume();
      else
        player.Pause();
      break;
    case TKeyCommand::SeekBy: {
      const std::int64_t target = std::max<std::int64_t>(0, position + c.amountUs);
      player.Seek(c.amountUs < 0 ? sfBackward : 0, false, target);
      break;
    }
    case TKeyCommand::Step: player.Step(); break;
    case TKeyCommand::Stop: player.Stop(false); break;
    }
    lock.lock();
  }
  lock.unlock();
  player.Stop(true);
  return 0;
}

} // namespace tovi::cli
