// Option actions that parse structured values: maps, scales, metadata, stream ids,
// formats, matrices, bit rates, the statistics file name and the target value.
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "engine/FFmpeg.h"
#include "engine/ValueParsing.h"
#include "media/EntryPoints.h"

namespace tovi {

using engine::PrefixFloat;
using engine::PrefixInt;
using engine::StrictInt;
using engine::Trim;

namespace {

// Steps over one separator character, never past the end of the text.
void SkipOne(const std::string &text, size_t &pos) {
  if (pos < text.size()) ++pos;
}

std::string TrimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n'))
    text.pop_back();
  return text;
}

} // namespace

namespace {

// Durations and dates share the library's parser; only the reading and the word in the
// message differ.
std::int64_t ParseTimeValue(const std::string &name, const std::string &value, bool duration) {
  std::int64_t us = NO_TIMESTAMP;
  if (ff::av_parse_time(&us, value.c_str(), duration ? 1 : 0) < 0 || us == NO_TIMESTAMP)
    throw FFmpegException::Fmt("Invalid %s specification for %s: %s", duration ? "duration" : "date",
                               name.c_str(), value.c_str());
  return us;
}

} // namespace

std::int64_t TCustomFFmpeg::ParseDuration(const std::string &name, const std::string &value) {
  RequireLibraries();
  return ParseTimeValue(name, value, true);
}

std::int64_t TCustomFFmpeg::ParseDate(const std::string &name, const std::string &value) {
  RequireLibraries();
  return ParseTimeValue(name, value, false);
}

void TCustomFFmpeg::OptionDoNothing(const std::string &name) { Log(llInfo, "Do nothing: option - " + name); }

void TCustomFFmpeg::OptionBitRate(const std::string &name, const std::string &value, AVMediaType type) {
  if (!SetGenericOption(name, value)) return;
  if (GenericBitRate(type) < 1000)
    Log(llWarning, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void TCustomFFmpeg::OptionMap(const std::string &value) {
  TStreamMap map;
  size_t pos = 0;
  map.FileIndex = PrefixInt(value, pos);
  SkipOne(value, pos);
  map.StreamIndex = PrefixInt(value, pos);
  if (pos < value.size()) {
    SkipOne(value, pos);
    map.SyncFileIndex = PrefixInt(value, pos);
    SkipOne(value, pos);
    map.SyncStreamIndex = PrefixInt(value, pos);
  } else {
    map.SyncFileIndex = map.FileIndex;
    map.SyncStreamIndex = map.StreamIndex;
  }
  AppendStreamMap(map);
}

void TCustomFFmpeg::OptionMapMetaData(const std::string &value) {
  TMetaDataMap map;
  size_t pos = 0;
  map.OutFile = PrefixInt(value, pos);
  SkipOne(value, pos);
  map.InFile = PrefixInt(value, pos);
  AppendMetaDataMap(map);
}

void TCustomFFmpeg::OptionItsScale(const std::string &value) {
  size_t pos = 0;
  const int stream = PrefixInt(value, pos);
  SkipOne(value, pos);
  const double scale = PrefixFloat(value, pos);
  if (stream >= MAX_STREAMS) throw FFmpegException::Fmt("stream index over MAX_STREAMS(%d)", MAX_STREAMS);
  if (stream < 0) throw FFmpegException::Fmt("Invalid stream index %d for itsscale", stream);
  // The scale belongs to the next input file, which must still fit the input table.
  if (inputCount_ >= MAX_FILES)
    throw FFmpegException::Fmt("Too many input files (the table holds %d)", MAX_FILES);
  inputTsScale_[static_cast<size_t>(inputCount_)][static_cast<size_t>(stream)] = scale;
}

void TCustomFFmpeg::OptionMetadata(const std::string &value) {
  const size_t eq = value.find('=');
  if (eq == std::string::npos) throw FFmpegException("Missing =");
  AddMetadata(value.substr(0, eq), value.substr(eq + 1));
}

void TCustomFFmpeg::OptionStreamId(const std::string &name, const std::string &value) {
  const size_t colon = value.find(':');
  const std::string index = colon == std::string::npos ? value : value.substr(0, colon);
  const std::string id = colon == std::string::npos ? std::string() : value.substr(colon + 1);
  if (index.empty() || id.empty())
    throw FFmpegException::Fmt("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
                               value.c_str(), name.c_str());
  const int i = StrictInt(index);
  if (i < 0 || i >= MAX_STREAMS)
    throw FFmpegException::Fmt("Invalid stream index %d for option \"%s\" (0 to %d)", i, name.c_str(),
                               MAX_STREAMS - 1);
  streamIdMap_[static_cast<size_t>(i)] = StrictInt(id);
}

void TCustomFFmpeg::OptionPixelFormat(const std::string &value) {
  RequireLibraries();
  if (value == "list") {
    char line[128];
    std::snprintf(line, sizeof line, "%-16s %13s %14s", "name", "nb_components", "bits_per_pixel");
    Log(llInfo, TrimRight(line));
    for (const AVPixFmtDescriptor *d = ff::av_pix_fmt_desc_next(nullptr); d;
         d = ff::av_pix_fmt_desc_next(d)) {
      std::snprintf(line, sizeof line, "%-16s %13d %14d", d->name, d->nb_components,
                    ff::av_get_bits_per_pixel(d));
      Log(llInfo, TrimRight(line));
    }
    return;
  }
  const AVPixelFormat format = ff::av_get_pix_fmt(value.c_str());
  if (format == AV_PIX_FMT_NONE)
    throw FFmpegException::Fmt("Unknown pixel format requested: %s", value.c_str());
  pending_.FramePixelFormat = format;
  pending_.FramePixelFormatChosen = true;
}

void TCustomFFmpeg::OptionSampleFormat(const std::string &value) {
  RequireLibraries();
  if (value == "list") {
    char line[128];
    for (int f = -1; f < AV_SAMPLE_FMT_NB; ++f) {
      line[0] = 0;
      ff::av_get_sample_fmt_string(line, sizeof line, static_cast<AVSampleFormat>(f));
      Log(llInfo, TrimRight(line));
    }
    return;
  }
  pending_.AudioSampleFormat = ff::av_get_sample_fmt(value.c_str()); // unknown: -1
}

void TCustomFFmpeg::OptionMatrix(const std::string &value, std::optional<TQuantMatrix> &matrix) {
  // Parsed into a copy first: a refused text leaves the matrix as it was rather than
  // half overwritten.
  TQuantMatrix parsed{};
  size_t pos = 0;
  for (int i = 0; i < 64; ++i) {
    const int coefficient = PrefixInt(value, pos);
    // MPEG quantiser matrices hold 8-bit, non-zero entries; an encoder divides by them.
    if (coefficient < 1 || coefficient > 255)
      throw FFmpegException::Fmt("Invalid coefficient %d in matrix \"%s\" at coeff %d", coefficient,
                                 value.c_str(), i);
    parsed[static_cast<size_t>(i)] = static_cast<std::uint16_t>(coefficient);
    if (i == 63) break;
    pos = value.find(',', pos);
    if (pos == std::string::npos)
      throw FFmpegException::Fmt("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), i);
    ++pos;
  }
  matrix = parsed;
}

void TCustomFFmpeg::OptionVStats() {
  // The statistics file goes to the working directory: the program's own folder is
  // not writable on an installed Linux system.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%H%M%S", &local);
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::current_path(ec);
  job_.VStatsFileName = (folder / ("vstats_" + std::string(stamp) + ".log")).string();
}

void TCustomFFmpeg::OptionTarget(const std::string &value) {
  const std::string text = Trim(value);
  for (const char *norm : {"pal", "ntsc", "film"}) {
    const std::string prefix = std::string(norm) + "-";
    if (text.compare(0, prefix.size(), prefix) == 0) {
      SetTarget(text.substr(prefix.size()), norm, "ntsc");
      return;
    }
  }
  SetTarget(text, "", "ntsc");
}

void TCustomFFmpeg::OptionNewStream(AVMediaType type) {
  if (outputCount_ == 0) throw FFmpegException("At least one output file must be specified");
  TOutputFile &output = *outputFiles_[static_cast<size_t>(outputCount_ - 1)];
  // In join mode the last slot repeats the first; the streams' filter chains belong to
  // the first slot that holds the file.
  int slot = outputCount_ - 1;
  while (slot > 0 && outputFiles_[static_cast<size_t>(slot - 1)] == outputFiles_[static_cast<size_t>(slot)])
    --slot;
  switch (type) {
  case AVMEDIA_TYPE_VIDEO: NewVideoStream(output, slot); break;
  case AVMEDIA_TYPE_AUDIO: NewAudioStream(output, slot); break;
  default: NewSubtitleStream(output, slot); break;
  }
}

} // namespace tovi
