// The engine's option dispatcher: the input is a list of name=value lines (cut at the
// first '='), each checked the way tovi-convert run checks a command line and then
// given to ParseOption, on a fresh engine per input. Refusals must come as
// FFmpegException; anything else escaping is a fault.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "converter/FFmpegTask.h"

using namespace tovi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::LoadLibrariesOnce();
  TFFmpeg checker;
  checker.Reset();
  TFFmpeg engine;
  engine.Reset();
  for (const std::string &line : fuzz::Split(data, size, '\n')) {
    const std::size_t eq = line.find('=');
    const std::string name = line.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    // A hook names a plug-in library to load and run: not something to try at random.
    if (name == "vhook") continue;
    try {
      checker.CheckOption(name, value);
    } catch (const FFmpegException &) {
    }
    try {
      engine.ParseOption(name, value);
    } catch (const FFmpegException &) {
    }
  }
  engine.FreeAll();
  checker.FreeAll();
  fuzz::QuietLog();
  return 0;
}
