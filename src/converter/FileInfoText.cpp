// The probe's description text and the pieces it is made of.
#include <charconv>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "converter/AVProbe.h"
#include "converter/ProbeText.h"
#include "media/Owners.h"
#include "media/Texts.h"
#include "media/TimeZone.h"
#include "media/StringFormat.h"

namespace tovi {
namespace {

std::string Fixed(double value, int decimals) {
  char digits[64];
  const auto result =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
  return std::string(digits, result.ptr);
}

struct KeyName {
  const char *key;
  const char *shown;
};
constexpr KeyName kShownKeys[] = {
    {"TALB", "album"},      {"TAL", "album"},      {"TCOM", "composer"},  {"TCON", "genre"},
    {"TCO", "genre"},       {"TCOP", "copyright"}, {"TDRL", "date"},      {"TENC", "encoder"},
    {"TEN", "encoder"},     {"TSOA", "albumsort"}, {"TSOT", "titlesort"}, {"TIT2", "title"},
    {"TT2", "title"},       {"TLAN", "language"},  {"TPE1", "artist"},    {"TP1", "artist"},
    {"TPOS", "disc"},       {"TPUB", "publisher"}, {"TRCK", "track"},     {"TRK", "track"},
    {"TSOP", "authorsort"}, {"TYER", "year"},
};

// Every entry in stored order.
template <typename F> void ForEachEntry(const AVDictionary *m, F &&visit) {
  const AVDictionaryEntry *entry = nullptr;
  while ((entry = ff::av_dict_get(m, "", entry, AV_DICT_IGNORE_SUFFIX)))
    visit(*entry);
}

void AppendMetadata(std::vector<std::string> &lines, const AVDictionary *m, const char *prefix) {
  // A language alone is already part of the stream line.
  bool anyShown = false;
  ForEachEntry(
      m, [&](const AVDictionaryEntry &e) { anyShown = anyShown || std::strcmp(e.key, "language") != 0; });
  if (!anyShown) return;
  lines.push_back(StringFormat("%sMetadata:", prefix));
  ForEachEntry(m, [&](const AVDictionaryEntry &e) {
    if (std::strcmp(e.key, "language") != 0)
      lines.push_back(StringFormat("%s  %-16s: %s", prefix, ShownMetadataKey(e.key).c_str(), e.value));
  });
}

void AppendRate(std::string &line, AVRational rate, const char *unit) {
  if (rate.num && rate.den) line += ", " + RateText(static_cast<double>(rate.num) / rate.den, unit);
}

// What avcodec_string says about the decoder side of the stream.
std::string CodecSummary(const AVStream *st) {
  char text[256] = "";
  CodecContextPtr ctx(ff::avcodec_alloc_context3(nullptr));
  if (ctx && ff::avcodec_parameters_to_context(ctx.get(), st->codecpar) >= 0) {
    if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) ctx->time_base = CodecTimeBase(st);
    ff::avcodec_string(text, sizeof text, ctx.get(), 0);
  }
  return text;
}

void AppendStream(std::vector<std::string> &lines, const AVFormatContext *ic, unsigned index) {
  const AVStream *st = ic->streams[index];
  const AVCodecParameters *par = st->codecpar;
  std::string line = StringFormat("Stream #%u", index);
  if (ic->iformat && (ic->iformat->flags & AVFMT_SHOW_IDS)) line += StringFormat("[0x%x]", st->id);
  const std::string language = MetadataValue(st->metadata, "language", "");
  if (!language.empty()) line += "(" + language + ")";
  std::int64_t g = ff::av_gcd(st->time_base.num, st->time_base.den);
  if (g == 0) g = 1;
  line += StringFormat(", %" PRId64 "/%" PRId64, st->time_base.num / g, st->time_base.den / g);
  line += ": " + CodecSummary(st);

  const AVRational sar = st->sample_aspect_ratio;
  if (sar.num && av_cmp_q(sar, par->sample_aspect_ratio)) {
    AVRational dar{0, 1};
    ff::av_reduce(&dar.num, &dar.den, std::int64_t{par->width} * sar.num, std::int64_t{par->height} * sar.den,
                  1024 * 1024);
    line += StringFormat(", PAR %d:%d DAR %d:%d", sar.num, sar.den, dar.num, dar.den);
  }
  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    AppendRate(line, st->avg_frame_rate, "fps");
    AppendRate(line, st->r_frame_rate, "tbr");
    AppendRate(line, av_inv_q(st->time_base), "tbn");
    AppendRate(line, av_inv_q(CodecTimeBase(st)), "tbc");
  }
  const AVRational tb = UsableTimeBase(st->time_base);
  const AVRational us{1, AV_TIME_BASE};
  if (st->start_time != AV_NOPTS_VALUE)
    line += ", StartTime: " + SecondsText(ff::av_rescale_q(st->start_time, tb, us));
  line +=
      ", Duration: " + (st->duration == AV_NOPTS_VALUE ? std::string("N/A")
                                                       : TimeText(ff::av_rescale_q(st->duration, tb, us)));
  lines.push_back(std::move(line));
  AppendMetadata(lines, st->metadata, "  ");
}

} // namespace

std::string RateText(double value, const char *unit) {
  const long long hundredths = std::llround(value * 100);
  if (hundredths % 100) return Fixed(value, 2) + " " + unit;
  if (hundredths % 100000) return Fixed(value, 0) + " " + unit;
  return Fixed(value / 1000, 0) + "k " + unit;
}

std::string SecondsText(std::int64_t us) {
  // Magnitude in unsigned arithmetic: -INT64_MIN does not exist as a signed value.
  const std::uint64_t magnitude =
      us < 0 ? 0 - static_cast<std::uint64_t>(us) : static_cast<std::uint64_t>(us);
  return StringFormat("%s%" PRIu64 ".%06" PRIu64, us < 0 ? "-" : "", magnitude / 1000000,
                      magnitude % 1000000);
}

std::string LocalTimeStampText(std::int64_t unixSeconds) {
  const double local = UnixToLocal(unixSeconds);
  const std::time_t seconds = static_cast<std::time_t>(std::llround((local - 25569.0) * 86400.0));
  std::tm parts{};
  if (!gmtime_r(&seconds, &parts)) return {};
  char text[64];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts));
}

std::string ShownMetadataKey(const std::string &key) {
  for (const KeyName &k : kShownKeys)
    if (key == k.key) return k.shown;
  return key;
}

std::int64_t CreationTimeOf(const AVDictionary *metadata) {
  const std::string text = MetadataValue(metadata, "creation_time", "");
  std::int64_t us = 0;
  if (text.empty() || ff::av_parse_time(&us, text.c_str(), 0) < 0) return 0;
  // Whole seconds towards the past, also before 1970.
  return us / 1000000 - (us % 1000000 < 0 ? 1 : 0);
}

std::int32_t LeadingNumber(const std::string &text) {
  const char *begin = text.c_str();
  while (*begin == ' ' || *begin == '\t')
    ++begin;
  std::int32_t value = 0;
  const auto result = std::from_chars(begin, text.c_str() + text.size(), value);
  return result.ec == std::errc() ? value : 0;
}

AVRational UsableTimeBase(AVRational timeBase) {
  if (timeBase.den == 0) timeBase.den = timeBase.num != 0 ? timeBase.num : 1;
  return timeBase;
}

AVRational CodecTimeBase(const AVStream *stream) {
  if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) return AVRational{0, 1};
  AVRational rate = stream->r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = stream->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) return AVRational{0, 1};
  const AVCodecID id = stream->codecpar->codec_id;
  const int ticksPerFrame = id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_MPEG2VIDEO ? 2 : 1;
  AVRational timeBase{0, 1};
  ff::av_reduce(&timeBase.num, &timeBase.den, rate.den, std::int64_t{rate.num} * ticksPerFrame, INT_MAX);
  return timeBase;
}

std::string TCustomAVProbe::FileInfoText() {
  if (!context_) {
    Report(llWarning, "file not loaded.");
    return {};
  }
  const AVFormatContext *ic = context_;
  std::vector<std::string> lines;
  lines.push_back("File Name: " + FileName());
  lines.push_back("Format Name: " + FormatName());
  lines.push_back(std::string("Format Long Name: ") +
                  (ic->iformat && ic->iformat->long_name ? ic->iformat->long_name : ""));
  lines.push_back("File Size: " + ByteSizeText(fileSize_));
  if (ic->duration == AV_NOPTS_VALUE || ic->duration < 0)
    lines.push_back("Duration: N/A");
  else
    lines.push_back("Duration: " + TimeText(ic->duration));
  if (ic->start_time != AV_NOPTS_VALUE && ic->start_time >= 0)
    lines.push_back("StartTime: " + SecondsText(ic->start_time));
  if (ic->bit_rate < 1)
    lines.push_back("Bit Rate: N/A");
  else
    lines.push_back(StringFormat("Bit Rate: %" PRId64 " kb/s", ic->bit_rate / 1000));
  if (const std::int64_t stamp = CreationTimeOf(ic->metadata); stamp > 0)
    lines.push_back("Time Stamp: " + LocalTimeStampText(stamp));
  AppendMetadata(lines, ic->metadata, "");

  std::vector<bool> shown(ic->nb_streams, false);
  for (unsigned p = 0; p < ic->nb_programs; ++p) {
    const AVProgram *program = ic->programs[p];
    const std::string provider = MetadataValue(program->metadata, "service_provider", "N/A");
    const std::string name = MetadataValue(program->metadata, "service_name", "N/A");
    lines.push_back(StringFormat("Program %d %s@%s", program->id, provider.c_str(), name.c_str()));
    AppendMetadata(lines, program->metadata, "  ");
    for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
      const unsigned index = program->stream_index[k];
      if (index >= ic->nb_streams) continue; // a damaged program table
      AppendStream(lines, ic, index);
      shown[index] = true;
    }
  }
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    if (!shown[i]) AppendStream(lines, ic, i);

  std::string text;
  for (const std::string &line : lines) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

} // namespace tovi
