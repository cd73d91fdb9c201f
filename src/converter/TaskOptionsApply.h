// Applying the task records to a new engine: the order in which record fields and the
// name=value lines of ExtOptions reach the engine, so that record fields override the
// same options given as lines, and lines that add streams ("newaudio", "newvideo",
// "newsubtitle") find the codec and preset meant for them.
//
// Every step may raise FFmpegException with the engine's message (a bad frame rate, a
// tag that is not 4 characters, an unknown preset...); the caller reports it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "converter/TaskOptions.h"

namespace tovi {

class TCustomFFmpeg;

// One line of an ExtOptions text: the name in lower case, the value exactly as written.
struct TExtOption {
  std::string Name;
  std::string Value;
  bool operator==(const TExtOption &) const = default;
};

// Splits an ExtOptions text into its lines. The text is trimmed of white space and
// control characters at both ends; CR LF, lone CR and the literal "<CRLF>" count as line
// breaks (so a settings file can keep a multi-line value on one line). A line is split at
// its first "="; a line without one is a name with an empty value; lines with an empty
// name are left out.
std::vector<TExtOption> ParseExtOptions(const std::string &text);

// The engine's recording time stamp (whole seconds since 1970 UTC) for a record's
// Timestamp: days since 1899-12-30 in local time, read with that date's own offset;
// 0 stands for now. Only for values >= 0.
std::int64_t RecordTimestampToUnix(double timestamp);

// Applies an input record before its file is opened: its ExtOptions lines (without the
// output-only ones), then "f", the start time and the program id.
void ApplyInputOptions(TCustomFFmpeg &engine, const TInputOptions &options);

// Applies an output record in two halves around the opening of the output file.
class TOutputOptionsApplier {
public:
  // Collects the codec, preset, size and filter defaults and the pending list of the
  // per-stream lines of ExtOptions.
  explicit TOutputOptionsApplier(const TOutputOptions &options);

  // Before AddOutputFile: the target, the default codecs and presets, the other
  // ExtOptions lines, the record's fields, then the frame size and the filters.
  void ApplyBeforeOpen(TCustomFFmpeg &engine) const;
  // After a successful AddOutputFile: every "newaudio", "newvideo" and "newsubtitle"
  // line adds a stream, each with the next pending codec/preset/size/filter line of its
  // kind or else the default. Runs once.
  void AddStreams(TCustomFFmpeg &engine);

  // For tests and diagnostics: the "def_" + name table and the pending list.
  const std::string &Default(const std::string &name) const;
  const std::vector<TExtOption> &Pending() const { return pending_; }

private:
  // Applies option `name`: its first pending entry (which is used up), else "def_" + name.
  void TakeOption(TCustomFFmpeg &engine, const std::string &name);

  TOutputOptions options_;
  std::vector<TExtOption> lines_;
  std::map<std::string, std::string> defaults_; // keyed by the option name, without "def_"
  std::vector<TExtOption> pending_;
};

} // namespace tovi
