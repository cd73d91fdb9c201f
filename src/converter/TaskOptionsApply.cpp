// The order in which a task's records reach its engine (see TaskOptionsApply.h).
#include "converter/TaskOptionsApply.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <string_view>

#include "engine/FFmpeg.h"
#include "media/TimeZone.h"

namespace tovi {
namespace {

bool IsOneOf(const std::string &name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Lines that only mean something for an output file: stream adding and the options
// whose values the stream-adding pass hands out.
bool IsOutputOnlyLine(const std::string &name) {
  return IsOneOf(name, {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf"});
}

// The options collected into the default table and the pending list.
bool IsPerStreamOption(const std::string &name) {
  return IsOneOf(name, {"acodec", "vcodec", "scodec", "apre", "vpre", "spre", "s", "vfilters", "vf"});
}

std::string ToLowerAscii(std::string text) {
  for (char &c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

const char *TargetKind(int type) {
  switch (type) {
  case 1: return "vcd";
  case 2: return "svcd";
  case 3: return "dvd";
  default: return nullptr;
  }
}

const char *TargetNormText(int norm) {
  switch (norm) {
  case 1: return "pal";
  case 2: return "ntsc";
  default: return "auto";
  }
}

} // namespace

std::vector<TExtOption> ParseExtOptions(const std::string &text) {
  // Trim white space and control characters (everything up to and including space).
  size_t first = 0, last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
    ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
    --last;
  // CR LF, lone CR and the literal "<CRLF>" all become LF, in one pass.
  const std::string_view crlfText = "<CRLF>";
  std::string body;
  body.reserve(last - first);
  for (size_t i = first; i < last; ++i) {
    if (text[i] == '\r') {
      if (i + 1 < last && text[i + 1] == '\n') ++i;
      body.push_back('\n');
    } else if (std::string_view(text).substr(i, last - i).starts_with(crlfText)) {
      i += crlfText.size() - 1;
      body.push_back('\n');
    } else {
      body.push_back(text[i]);
    }
  }

  std::vector<TExtOption> lines;
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('\n', start);
    if (end == std::string::npos) end = body.size();
    const std::string line = body.substr(start, end - start);
    const size_t eq = line.find('=');
    TExtOption option;
    option.Name = ToLowerAscii(line.substr(0, eq));
    if (eq != std::string::npos) option.Value = line.substr(eq + 1);
    if (!option.Name.empty()) lines.push_back(std::move(option));
    start = end + 1;
  }
  return lines;
}

std::int64_t RecordTimestampToUnix(double timestamp) {
  // "Now" is taken as the current instant itself rather than read back from a local
  // date-time, which would lose the seconds' fraction and is ambiguous in a repeated hour.
  if (timestamp == 0) return static_cast<std::int64_t>(std::time(nullptr));
  return LocalToUnix(timestamp);
}

void ApplyInputOptions(TCustomFFmpeg &engine, const TInputOptions &options) {
  for (const TExtOption &line : ParseExtOptions(options.ExtOptions))
    if (!IsOutputOnlyLine(line.Name)) engine.ParseOption(line.Name, line.Value);
  if (!options.FileFormat.empty()) engine.ParseOption("f", options.FileFormat);
  if (options.StartTime != RECORD_NO_TIME) engine.SetStartTime(options.StartTime);
  if (options.ProgramID >= 0) engine.SetProgramId(options.ProgramID);
}

TOutputOptionsApplier::TOutputOptionsApplier(const TOutputOptions &options)
    : options_(options), lines_(ParseExtOptions(options.ExtOptions)) {
  defaults_["acodec"] = options_.AudioCodec;
  defaults_["vcodec"] = options_.VideoCodec;
  defaults_["scodec"] = options_.SubtitleCodec;
  defaults_["apre"] = options_.AudioPreset;
  defaults_["vpre"] = options_.VideoPreset;
  defaults_["spre"] = options_.SubtitlePreset;
  defaults_["s"] = options_.FrameSize;
  defaults_["vf"] = options_.VideoFilters;
  for (const TExtOption &line : lines_) {
    if (!IsPerStreamOption(line.Name) || line.Value.empty()) continue;
    const std::string name = line.Name == "vfilters" ? "vf" : line.Name;
    std::string &fallback = defaults_[name];
    if (fallback.empty()) fallback = line.Value;
    pending_.push_back({name, line.Value});
  }
}

const std::string &TOutputOptionsApplier::Default(const std::string &name) const {
  static const std::string empty;
  const auto it = defaults_.find(name);
  return it == defaults_.end() ? empty : it->second;
}

void TOutputOptionsApplier::ApplyBeforeOpen(TCustomFFmpeg &engine) const {
  const TOutputOptions &o = options_;

  if (const char *kind = TargetKind(o.TargetType))
    engine.SetTarget(kind, TargetNormText(o.TargetNorm), o.TargetFallbackNorm == 1 ? "pal" : "ntsc");

  // Default codecs, then presets (a preset may refer to the codec chosen just before).
  for (const char *name : {"acodec", "vcodec", "scodec", "apre", "vpre", "spre"}) {
    const std::string &value = Default(name);
    if (!value.empty()) engine.ParseOption(name, value);
  }

  for (const TExtOption &line : lines_)
    if (!IsOutputOnlyLine(line.Name) && !IsOneOf(line.Name, {"acodec", "vcodec", "scodec", "s"}))
      engine.ParseOption(line.Name, line.Value);

  // The record's fields: they come after the lines so that a set field wins.
  if (!o.FileFormat.empty()) engine.SetFormat(o.FileFormat);
  if (o.PacketSize > 0) engine.SetGenericIntOption("packetsize", o.PacketSize);
  if (o.MuxRate > 0) engine.SetGenericIntOption("muxrate", o.MuxRate);
  if (o.MuxDelay > 0) engine.SetMuxMaxDelay(o.MuxDelay);
  if (o.MuxPreload > 0) engine.SetMuxPreload(o.MuxPreload);
  if (o.DisableAudio) engine.SetAudioDisabled(true);
  if (o.AudioVolume >= 0) engine.SetAudioVolume(o.AudioVolume);
  if (o.AudioChannels > 0) engine.SetAudioChannels(o.AudioChannels);
  if (o.AudioSampleRate > 0) engine.SetAudioRate(o.AudioSampleRate);
  // Bit rates and the like go straight to the generic setter: the option-table handlers
  // of "ab"/"vb" would warn about low values, which a record never means.
  if (o.AudioBitrate > 0) engine.SetGenericIntOption("ab", o.AudioBitrate);
  if (o.AudioBitrateTolerance > 0) engine.SetGenericIntOption("abt", o.AudioBitrateTolerance);
  engine.SetAudioLanguage(o.AudioLanguage);
  engine.SetAudioSyncMethod(o.AudioSync);
  if (!o.AudioTag.empty()) engine.SetAudioTag(o.AudioTag);
  if (o.DisableVideo) engine.SetVideoDisabled(true);
  if (!o.FrameRate.empty()) engine.SetFrameRate(o.FrameRate);
  if (!o.AspectRatio.empty()) engine.SetFrameAspectRatio(o.AspectRatio);
  if (o.CropTop > 0) engine.SetCropTop(o.CropTop);
  if (o.CropBottom > 0) engine.SetCropBottom(o.CropBottom);
  if (o.CropLeft > 0) engine.SetCropLeft(o.CropLeft);
  if (o.CropRight > 0) engine.SetCropRight(o.CropRight);
  if (o.GOPSize > 0) engine.SetGenericIntOption("g", o.GOPSize);
  if (o.VideoBitrate > 0) engine.SetGenericIntOption("vb", o.VideoBitrate);
  if (o.VideoMaxRate > 0) engine.SetGenericIntOption("maxrate", o.VideoMaxRate);
  if (o.VideoMinRate > 0) engine.SetGenericIntOption("minrate", o.VideoMinRate);
  if (o.VideoBitrateTolerance > 0) engine.SetGenericIntOption("bt", o.VideoBitrateTolerance);
  if (o.VideoBufSize > 0) engine.SetGenericIntOption("bufsize", o.VideoBufSize);
  engine.SetVideoSyncMethod(o.VideoSync);
  if (!o.VideoTag.empty()) engine.SetVideoTag(o.VideoTag);
  engine.SetVideoLanguage(o.VideoLanguage);
  if (o.DisableSubtitle) engine.SetSubtitleDisabled(true);
  engine.SetSubtitleLanguage(o.SubtitleLanguage);
  engine.SetInputSync(o.InputSync);
  if (o.CopyTimestamps) engine.SetCopyTimestamps(true);
  if (o.StartTime != RECORD_NO_TIME) engine.SetStartTime(o.StartTime);
  if (o.Duration != RECORD_NO_TIME) engine.SetRecordingTime(o.Duration);

  const TStreamInfo &m = o.Metadata;
  if (m.Timestamp >= 0) engine.SetOutputTimestamp(RecordTimestampToUnix(m.Timestamp));
  if (m.Year > 0) engine.AddMetadata("year", std::to_string(m.Year));
  if (m.Track > 0) engine.AddMetadata("track", std::to_string(m.Track));
  const std::pair<const char *, const std::string *> texts[] = {
      {"title", &m.Title},     {"author", &m.Author}, {"copyright", &m.Copyright},
      {"comment", &m.Comment}, {"album", &m.Album},   {"genre", &m.Genre}};
  for (const auto &[key, value] : texts)
    if (!value->empty()) engine.AddMetadata(key, *value);

  for (const char *name : {"s", "vf"}) {
    const std::string &value = Default(name);
    if (!value.empty()) engine.ParseOption(name, value);
  }
}

void TOutputOptionsApplier::TakeOption(TCustomFFmpeg &engine, const std::string &name) {
  const auto it =
      std::find_if(pending_.begin(), pending_.end(), [&](const TExtOption &p) { return p.Name == name; });
  if (it != pending_.end()) {
    const TExtOption taken = *it;
    pending_.erase(it);
    engine.ParseOption(taken.Name, taken.Value);
    return;
  }
  const std::string &value = Default(name);
  if (!value.empty()) engine.ParseOption(name, value);
}

void TOutputOptionsApplier::AddStreams(TCustomFFmpeg &engine) {
  for (const TExtOption &line : lines_) {
    if (line.Name == "newaudio") {
      for (const char *name : {"acodec", "apre"})
        TakeOption(engine, name);
    } else if (line.Name == "newvideo") {
      for (const char *name : {"vcodec", "vpre", "s", "vf"})
        TakeOption(engine, name);
    } else if (line.Name == "newsubtitle") {
      for (const char *name : {"scodec", "spre"})
        TakeOption(engine, name);
    } else {
      continue;
    }
    engine.ParseOption(line.Name, line.Value);
  }
}

} // namespace tovi
