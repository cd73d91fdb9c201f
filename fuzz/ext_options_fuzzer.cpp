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
  // Joining the lines again gives the same names (a value may lose the blanks at its
  // end when it is the last one, as the whole text is trimmed).
  std::string joined;
  for (const TExtOption &line : lines)
    joined += line.Name + "=" + line.Value + "\r\n";
  const std::vector<TExtOption> again = ParseExtOptions(joined);
  if (again.size() != lines.size()) fuzz::Fail("joined lines split into another number of lines");
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (again[i].Name != lines[i].Name) fuzz::Fail("joined lines give another name: " + again[i].Name);

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
