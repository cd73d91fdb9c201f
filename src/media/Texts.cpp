#include "media/Texts.h"
#include "media/StringFormat.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace tovi {
namespace {

std::string Trim(const char *text) {
  if (!text) return {};
  const std::string s(text);
  constexpr const char *kSpace = " \t\r\n\v\f";
  const size_t first = s.find_first_not_of(kSpace);
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(kSpace) - first + 1);
}

// Two decimals with a '.' whatever the process locale (the Qt application sets the
// user's locale for the C library).
std::string Fixed2(double value, const char *unit) {
  char digits[64];
  const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 2);
  return std::string(digits, result.ptr) + " " + unit;
}

struct CodeText {
  int code;
  const char *text;
};

// The libraries' own codes (tags that are no system error number) with their texts,
// and the few system errors whose historical wording means the same on Linux. The old
// libraries also gave texts to -42, -33, -32 and -22, but on Linux those numbers are
// ENOMSG, EDOM, EPIPE and EINVAL: a broken pipe must not read "End of file", so they
// are told as system errors now. -10043 was a Windows socket error; no Linux errno
// comes near it.
constexpr CodeText kCodeTexts[] = {
    {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
    {-10043, "Unsupported network protocol"},
    {AVERROR(ENOMEM), "Not enough memory"},
    {AVERROR(EIO), "I/O error"},
    {AVERROR(ENOENT), "No such file or directory"},
    {AVERROR_EOF, "End of file"},
    {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
    {AVERROR_BSF_NOT_FOUND, "Bitstream filter not found"},
    {AVERROR_DECODER_NOT_FOUND, "Decoder not found"},
    {AVERROR_DEMUXER_NOT_FOUND, "Demuxer not found"},
    {AVERROR_ENCODER_NOT_FOUND, "Encoder not found"},
    {AVERROR_FILTER_NOT_FOUND, "Filter not found"},
    {AVERROR_MUXER_NOT_FOUND, "Muxer not found"},
    {AVERROR_OPTION_NOT_FOUND, "Option not found"},
    {AVERROR_PROTOCOL_NOT_FOUND, "Protocol not found"},
    {AVERROR_STREAM_NOT_FOUND, "Stream not found"},
    {AVERROR_BUG, "Internal bug, should not have happened"},
    {AVERROR_BUG2, "Internal bug, should not have happened"},
    {AVERROR_BUFFER_TOO_SMALL, "Buffer too small"},
    {AVERROR_EXIT, "Immediate exit requested"},
    {AVERROR_EXTERNAL, "Generic error in an external library"},
    {AVERROR_UNKNOWN, "Unknown error occurred"},
    {AVERROR_EXPERIMENTAL, "Experimental feature"},
    {AVERROR_INPUT_CHANGED, "Input changed"},
    {AVERROR_OUTPUT_CHANGED, "Output changed"},
    {AVERROR_HTTP_BAD_REQUEST, "Server returned 400 Bad Request"},
    {AVERROR_HTTP_UNAUTHORIZED, "Server returned 401 Unauthorized (authorization failed)"},
    {AVERROR_HTTP_FORBIDDEN, "Server returned 403 Forbidden (access denied)"},
    {AVERROR_HTTP_NOT_FOUND, "Server returned 404 Not Found"},
    {AVERROR_HTTP_OTHER_4XX, "Server returned 4XX Client Error, but not one of 40{0,1,3,4}"},
    {AVERROR_HTTP_SERVER_ERROR, "Server returned 5XX Server Error reply"},
    // Linux's number for what -10043 meant on Windows.
    {AVERROR(EPROTONOSUPPORT), "Unsupported network protocol"},
};

// The text of a system error number, in English whatever the process locale (the
// program's other messages are English too); null for a number the C library does
// not know. strerrordesc_np keeps no buffer, so it is safe on every thread.
const char *SystemErrorText(int code) {
  if (code >= 0 || code < -4095) return nullptr; // AVERROR(e) of a real errno only
  return strerrordesc_np(-code);
}

} // namespace

std::string TimeText(std::int64_t us) {
  if (us == AV_NOPTS_VALUE) return "N/A";
  // AV_NOPTS_VALUE is INT64_MIN, so every other negative value has an absolute value.
  const char *sign = us < 0 ? "-" : "";
  if (us < 0) us = -us;
  const std::int64_t hours = us / 3600000000LL;
  const int minutes = static_cast<int>(us / 60000000LL % 60);
  const int seconds = static_cast<int>(us / 1000000LL % 60);
  const int ms = static_cast<int>(us % 1000000LL / 1000);
  return StringFormat("%s%.2" PRId64 ":%.2d:%.2d.%.3d", sign, hours, minutes, seconds, ms);
}

std::string ErrorCodeText(int code) {
  for (const CodeText &entry : kCodeTexts)
    if (entry.code == code) return entry.text;
  if (const char *text = SystemErrorText(code)) return text;
  return StringFormat("Error number %d occurred", code);
}

std::string ErrorText(const std::string &prefix, int code) { return prefix + ": " + ErrorCodeText(code); }

bool IsSystemError(int code) { return SystemErrorText(code) != nullptr; }

std::string WriteFaultText(const std::string &fileName, int code) {
  return ErrorText("Cannot write " + fileName, code);
}

std::string CodecDescription(AVCodecID id, std::uint32_t codecTag, bool encoder) {
  const AVCodec *codec = encoder ? ff::avcodec_find_encoder(id) : ff::avcodec_find_decoder(id);
  if (codec) {
    const std::string longName = Trim(codec->long_name);
    return longName.empty() ? std::string(codec->name)
                            : StringFormat("%s(%s)", codec->name, longName.c_str());
  }
  if (id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
  if (const AVCodecDescriptor *descriptor = ff::avcodec_descriptor_get(id)) {
    const std::string name = Trim(descriptor->name);
    if (!name.empty()) return name;
  }
  const unsigned char c[4] = {static_cast<unsigned char>(codecTag), static_cast<unsigned char>(codecTag >> 8),
                              static_cast<unsigned char>(codecTag >> 16),
                              static_cast<unsigned char>(codecTag >> 24)};
  bool printable = true;
  for (unsigned char ch : c)
    printable = printable && ch >= 32 && ch <= 126;
  if (printable) return StringFormat("%c%c%c%c / 0x%04X", c[0], c[1], c[2], c[3], codecTag);
  return StringFormat("0x%04x", codecTag);
}

std::string CodecDescription(const AVCodecContext *ctx, bool encoder) {
  return ctx ? CodecDescription(ctx->codec_id, ctx->codec_tag, encoder) : std::string();
}

std::string CodecDescription(const AVCodecParameters *par, bool encoder) {
  return par ? CodecDescription(par->codec_id, par->codec_tag, encoder) : std::string();
}

std::string MediaTypeName(int type) {
  switch (type) {
  case AVMEDIA_TYPE_VIDEO: return "Video";
  case AVMEDIA_TYPE_AUDIO: return "Audio";
  case AVMEDIA_TYPE_DATA: return "Data";
  case AVMEDIA_TYPE_SUBTITLE: return "Subtitle";
  case AVMEDIA_TYPE_ATTACHMENT: return "Attachment";
  default: return "Unknown";
  }
}

std::string ByteSizeText(std::int64_t bytes) {
  if (bytes <= 1024) return StringFormat("%" PRId64 " Byte", bytes);
  const double value = static_cast<double>(bytes);
  if (bytes <= 1048576) return Fixed2(value / 1024.0, "KB");
  if (bytes <= 1073741824) return Fixed2(value / 1048576.0, "MB");
  return Fixed2(value / 1073741824.0, "GB");
}

std::string MetadataValue(const AVDictionary *metadata, const std::string &key,
                          const std::string &defaultValue) {
  if (!metadata) return defaultValue;
  const AVDictionaryEntry *entry = ff::av_dict_get(metadata, key.c_str(), nullptr, 0);
  return entry && entry->value ? std::string(entry->value) : defaultValue;
}

} // namespace tovi
