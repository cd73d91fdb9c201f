// The extra option lines of the task records: the input is an ExtOptions text, split
// into lines and applied as an input record and as an output record would be, on fresh
// engines. Refusals must come as FFmpegException.
#include <cctype>
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "converter/FFmpegTask.h"
#include "converter/TaskOptionsApply.h"

using namespace tovi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::LoadLibrariesOnce();
  const std::string text(reinterpret_cast<const char *>(data), size);

  const std::vector<TExtOption> lines = ParseExtOptions(text);
  for (const TExtOption &line : lines) {
    if (line.Name.empty()) fuzz::Fail("a line with an empty name was kept");
    if (line.Name.find_first_of("=\r\n") != std::string::npos) fuzz::Fail("a name holds '=' or a line break");
    if (line.Value.find_first_of("\r\n") != std::string::npos) fuzz::Fail("a value holds a line break");
    for (const char c : line.Name)
      if (c >= 'A' && c <= 'Z') fuzz::Fail("a name is not in lower case: " + line.Name);
    // A hook names a plug-in library to load and run: not something to try at random.
    if (line.Name == "vhook") return 0;
  }
  // Joined again between two other lines (so that the trimming of the text's ends
  // touches neither the first name nor the last value), the lines read back unchanged.
  const TExtOption edge{"edge", "1"};
  std::string joined = "edge=1\r\n";
  for (const TExtOption &line : lines)
    joined += line.Name + "=" + line.Value + "\r\n";
  joined += "edge=1";
  std::vector<TExtOption> expected{edge};
  expected.insert(expected.end(), lines.begin(), lines.end());
  expected.push_back(edge);
  if (ParseExtOptions(joined) != expected) fuzz::Fail("joined lines read back as other lines");

  {
    TFFmpeg engine;
    engine.Reset();
    TInputOptions input;
    input.ExtOptions = text;
    try {
      ApplyInputOptions(engine, input);
    } catch (const FFmpegException &) {
    }
    engine.FreeAll();
  }
  {
    TFFmpeg engine;
    engine.Reset();
    TOutputOptions output;
    output.ExtOptions = text;
    TOutputOptionsApplier applier(output);
    try {
      applier.ApplyBeforeOpen(engine);
    } catch (const FFmpegException &) {
    }
    engine.FreeAll();
  }
  fuzz::QuietLog();
  return 0;
}
