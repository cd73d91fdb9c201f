// The argument grammar of tovi-convert run: the input, cut at every NUL byte, is the
// list of words after "run". An accepted list must describe a task the component can
// take: an output, at least one input, and option lines that read back as the name and
// value given.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <set>

#include "FuzzSupport.h"
#include "cli/RunArguments.h"

using namespace tovi;

namespace {

// Every line of an option text must be "name=value" with a name given on the command
// line, as "-name" or "name=...".
void CheckLines(const std::string &text, const std::set<std::string> &names) {
  if (!text.empty() && text.back() != '\n') fuzz::Fail("an option text does not end with a line break");
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) fuzz::Fail("an option line without a name: " + line);
    if (!names.count(line.substr(0, eq))) fuzz::Fail("an option line names an option not given: " + line);
    if (line.find('\r') != std::string::npos) fuzz::Fail("an option line holds a carriage return");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static std::FILE *const sink = std::fopen("/dev/null", "w");
  std::vector<std::string> words = fuzz::Split(data, size, '\0');
  if (size == 0) words.clear();
  cli::TRunArguments args;
  const int result = cli::ParseRunArguments(words, args, sink);
  if (result != 0) {
    if (result != 2 && result != -1) fuzz::Fail("an exit code other than 2 for a usage error");
    return 0;
  }
  if (args.Output.empty()) fuzz::Fail("accepted without an output");
  if (args.Inputs.empty()) fuzz::Fail("accepted without an input");
  if (args.Inputs.size() != args.InputOptions.size()) fuzz::Fail("inputs and their options do not pair up");
  if (args.Threads < 0 || args.Threads > 1024) fuzz::Fail("thread count out of range");
  std::set<std::string> names;
  for (const std::string &word : words) {
    if (word.size() > 1 && word[0] == '-') names.insert(word.substr(1));
    if (const std::size_t eq = word.find('='); eq != std::string::npos) names.insert(word.substr(0, eq));
  }
  for (const std::string &text : args.InputOptions)
    CheckLines(text, names);
  CheckLines(args.OutputOptions, names);
  return 0;
}
