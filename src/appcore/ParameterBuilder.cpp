#include "appcore/ParameterBuilder.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "appcore/DeviceOutput.h"
#include "appcore/ProfileCatalog.h"
#include "converter/AVProbe.h"
#include "converter/ProbeRecords.h"
#include "media/EntryPoints.h"

namespace tovi {
namespace {

constexpr const char *AS_SOURCE = "as source";

std::int64_t ToInteger(const std::string &text) {
  std::int64_t v = 0;
  if (!IsIntegerText(text, &v)) throw TConversionError("'" + text + "' is not a valid integer value");
  return v;
}

double ToNumber(const std::string &text) {
  double v = 0;
  if (!IsNumberText(text, &v)) throw TConversionError("'" + text + "' is not a valid floating point value");
  return v;
}

std::string SizeText(int w, int h, const char *separator) {
  return std::to_string(w) + separator + std::to_string(h);
}

// x truncated toward zero and made even.
int EvenTrunc(double x) { return (static_cast<int>(std::trunc(x)) / 2) * 2; }
int Pad(int target, int e) { return ((target - e) / 4) * 2; }

bool AnyMargin(const TlvFilesRecord &item) { return item.AnyCropMargin(); }

// The frame rates an MPEG-2 stream may declare, with the television norm each belongs
// to: 25 and 50 go with PAL's 576 lines, the 30-frame family (and film) with NTSC's 480.
struct TMpeg2Rate {
  int Num, Den;
  const char *Text;
  bool Pal;
  bool OfNorm; // a norm's own rate (the nearest is chosen among these)
};
constexpr std::array kMpeg2Rates{TMpeg2Rate{24000, 1001, "24000/1001", false, true},
                                 TMpeg2Rate{24, 1, "24", false, false},
                                 TMpeg2Rate{25, 1, "25", true, true},
                                 TMpeg2Rate{30000, 1001, "30000/1001", false, true},
                                 TMpeg2Rate{30, 1, "30", false, false},
                                 TMpeg2Rate{50, 1, "50", true, true},
                                 TMpeg2Rate{60000, 1001, "60000/1001", false, true},
                                 TMpeg2Rate{60, 1, "60", false, false}};

// The source's rate when MPEG-2 can carry it, otherwise the nearest rate of a norm.
const TMpeg2Rate &Mpeg2RateFor(double fps) {
  for (const TMpeg2Rate &r : kMpeg2Rates)
    if (std::fabs(fps - static_cast<double>(r.Num) / r.Den) < fps * 2e-4) return r;
  const TMpeg2Rate *best = nullptr;
  for (const TMpeg2Rate &r : kMpeg2Rates)
    if (r.OfNorm && (!best || std::fabs(fps - static_cast<double>(r.Num) / r.Den) <
                                  std::fabs(fps - static_cast<double>(best->Num) / best->Den)))
      best = &r;
  return *best;
}

// A frame size that belongs to one norm (disc and CIF sizes) becomes its counterpart of
// the other norm when the rate says so; other sizes stay.
void FitSizeToNorm(bool pal, int &W, int &H) {
  constexpr std::array kPairs{std::array{720, 576, 480}, std::array{704, 576, 480}, std::array{480, 576, 480},
                              std::array{352, 576, 480}, std::array{352, 288, 240}};
  for (const auto &[w, palLines, ntscLines] : kPairs) {
    if (W != w || (H != palLines && H != ntscLines)) continue;
    H = pal ? palLines : ntscLines;
    return;
  }
}

constexpr std::array kVideoCodecs{
    "mpeg4",   "libxvid",  "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1", "msmpeg4v2",  "huffyuv",
    "dvvideo", "rawvideo", "h263p",      "h263",       "rv10",    "rv20",      "ljpeg",      "mjpeg",
    "svq1",    "zlib",     "wmv1",       "wmv2",       "libx264", "libx265",   "libvpx-vp9", "libsvtav1"};

} // namespace

TSourceFacts SourceFactsFromProbe(TCustomAVProbe &probe) {
  TSourceFacts f;
  f.VideoStreamCount = probe.VideoStreamCount();
  if (probe.FirstVideoStreamIndex() >= 0) {
    TVideoStreamInfo v;
    if (probe.GetVideoStreamInfo(probe.FirstVideoStreamIndex(), v)) {
      f.Width = v.Width;
      f.Height = v.Height;
      f.FrameRateNum = v.FrameRateNum;
      f.FrameRateDen = v.FrameRateDen;
      f.VideoBitRate = v.BitRate;
    }
  }
  if (probe.FirstAudioStreamIndex() >= 0) {
    TAudioStreamInfo a;
    if (probe.GetAudioStreamInfo(probe.FirstAudioStreamIndex(), a)) {
      f.AudioSampleRate = a.SampleRate;
      f.AudioBitRate = a.BitRate;
    }
  }
  return f;
}

TParameterBuilder::TParameterBuilder(const TIniFile &profileFile, const TIniFile &settingsFile,
                                     TDefaultSizeQuestion askDefaultSize)
    : profile_(profileFile), settings_(settingsFile), askDefaultSize_(std::move(askDefaultSize)) {}

std::string TParameterBuilder::Setting(int code, const char *key, const char *defaultValue) const {
  return settings_.ReadString(ProfileSection(code), key, defaultValue);
}

std::string TParameterBuilder::Profile(int code, const char *key, const char *defaultValue) const {
  return profile_.ReadString(ProfileSection(code), key, defaultValue);
}

bool TParameterBuilder::SourceValueInRange(int code, const std::string &kind, double value) const {
  const char *key = kind == "audiosamplerate" ? "SampleRate"
                    : kind == "audiobitrate"  ? "AudioBitRate"
                    : kind == "videobitrate"  ? "VideoBitRate"
                    : kind == "framerate"     ? "FrameRate"
                                              : nullptr;
  if (!key) return false;
  const std::string list = Profile(code, key, "null");
  const auto first = list.find(',');
  // A list needs an item before its first comma.
  if (first == std::string::npos || first < 1) return false;
  const auto last = list.rfind(',');
  const std::string firstItem = list.substr(0, first);
  std::string low = firstItem;
  if (list.size() > firstItem.size() + 1 && LowerCase(firstItem) == AS_SOURCE) {
    const auto next = list.find(',', first + 1);
    low = list.substr(first + 1, next == std::string::npos ? std::string::npos : next - first - 1);
  }
  const std::string high = first < last ? list.substr(last + 1) : low;
  if (kind == "audiobitrate" || kind == "videobitrate") value /= 1000.0;
  double lo = 0, hi = 0;
  // Bounds that are not numbers (a list of labels) contain nothing.
  if (!IsNumberText(low, &lo) || !IsNumberText(high, &hi)) return false;
  return lo <= value && value <= hi;
}

void TParameterBuilder::AudioRates(int code, const TSourceFacts &source, TOutputOptions &out,
                                   bool guarded) const {
  // Sample rate.
  const std::string sr = Setting(code, "paraSampleRate", "44100");
  std::int64_t n = 0;
  if (sr != AS_SOURCE && IsIntegerText(sr, &n)) {
    if (n > 0) out.AudioSampleRate = static_cast<std::int32_t>(n);
  } else if (SourceValueInRange(code, "audiosamplerate", source.AudioSampleRate)) {
    out.AudioSampleRate = source.AudioSampleRate;
  } else {
    const std::string fallback = Profile(code, "paraSampleRate", "44100");
    if (!(guarded && LowerCase(fallback) == AS_SOURCE)) {
      n = ToInteger(fallback);
      if (n > 0) out.AudioSampleRate = static_cast<std::int32_t>(n);
    }
  }
  // Audio bit rate, in kbit/s in both files (decimal fractions allowed).
  const std::string br = Setting(code, "paraAudioBitRate", "128");
  double kbps = 0;
  if (br != AS_SOURCE && IsNumberText(br, &kbps)) {
    const double x = kbps * 1000.0;
    if (x > 0) out.AudioBitrate = static_cast<std::int32_t>(std::trunc(x));
  } else if (SourceValueInRange(code, "audiobitrate", source.AudioBitRate)) {
    out.AudioBitrate = source.AudioBitRate;
  } else {
    const std::string fallback = Profile(code, "paraAudioBitRate", "128");
    if (!(guarded && LowerCase(fallback) == AS_SOURCE) && !TrimBlanks(fallback).empty()) {
      const double x = ToNumber(fallback) * 1000.0;
      if (x > 0) out.AudioBitrate = static_cast<std::int32_t>(std::trunc(x));
    }
  }
}

void TParameterBuilder::Volume(int code, TOutputOptions &out) const {
  // A section without the key (written by hand or by an older version) keeps the
  // source's volume: 256 is 100 %.
  const std::string v = Setting(code, "paraVolume", "256");
  if (v != "256") out.AudioVolume = static_cast<std::int32_t>(ToInteger(v));
}

void TParameterBuilder::BuildConversionParameters(const TlvFilesRecord &item, int code, TOutputOptions &out,
                                                  const TSourceFacts &source, TInputOptions &input) const {
  // 1. Target.
  const std::string format = Profile(code, "Format", "null");
  const std::string fmt = LowerCase(format);
  const std::string videoSizeSetting = Setting(code, "paraVideoSize", "null");
  if (fmt == "ntsc-dvd" || fmt == "pal-dvd") {
    out.TargetType = 3;
    out.TargetNorm = fmt == "ntsc-dvd" ? 2 : 1;
    out.AspectRatio = videoSizeSetting == (fmt == "ntsc-dvd" ? "720x480" : "720x576") ? "16:9" : "4:3";
  } else if (fmt == "ntsc-vcd" || fmt == "pal-vcd" || fmt == "ntsc-svcd" || fmt == "pal-svcd") {
    out.TargetType = fmt.find("svcd") != std::string::npos ? 2 : 1;
    out.TargetNorm = fmt.rfind("ntsc", 0) == 0 ? 2 : 1;
    out.AspectRatio = "4:3";
  }

  // 2. Audio-only profiles.
  const std::string videoEncoder = Setting(code, "paraVideoEncoder", "");
  if (TrimBlanks(videoEncoder).empty()) {
    out.AudioCodec = StableEncoderName(Setting(code, "paraAudioEncoder", "libfaac"));
    static constexpr std::array kAudioFormats{"amr",  "ac3", "asf", "aiff",     "au", "voc",
                                              "flac", "flv", "avi", "matroska", "mmf"};
    for (const char *f : kAudioFormats)
      if (fmt == f) out.FileFormat = f;
    const std::string channels = Setting(code, "paraChannel", "2");
    std::int64_t n = 0;
    if (channels != AS_SOURCE && IsIntegerText(channels, &n) && n > 0)
      out.AudioChannels = static_cast<std::int32_t>(n);
    AudioRates(code, source, out, true);
    Volume(code, out);
    AddProfileOutputOptions(Profile(code, OUTPUT_OPTIONS_KEY, ""), out);
    input.ExtOptions = "vn=1";
    out.DisableVideo = true;
    out.DisableSubtitle = true;
    return;
  }

  // V1. Video codec; other words ("mov", "flv", "wmv3", …) leave the container's default.
  for (const char *c : kVideoCodecs)
    if (videoEncoder == c) out.VideoCodec = c;
  if (videoEncoder == "mpeg2video") out.TargetType = 3;
  if (videoEncoder == "libx264") {
    out.VideoPreset = fmt == "psp"    ? "libx264-psp"
                      : fmt == "ipod" ? "libx264-ipod"
                      : fmt == "ps3"  ? "libx264-ps3"
                                      : "libx264-mp4";
  }

  std::string filter;
  if (source.VideoStreamCount <= 0) {
    // V2. Nothing to show: audio of a video profile only.
    out.DisableVideo = true;
  } else {
    // V3. Video bit rate.
    const std::string vbr = Setting(code, "paraVideoBitRate", "512");
    std::int64_t n = 0;
    if (vbr != AS_SOURCE && IsIntegerText(vbr, &n)) {
      if (n > 0) out.VideoBitrate = static_cast<std::int32_t>(n * 1000);
    } else if (SourceValueInRange(code, "videobitrate", source.VideoBitRate)) {
      out.VideoBitrate = source.VideoBitRate;
    } else {
      const std::string fallback = Profile(code, "paraVideoBitRate", "256");
      if (LowerCase(fallback) != AS_SOURCE) {
        n = ToInteger(fallback); // bit/s in the profile file
        if (n > 0) out.VideoBitrate = static_cast<std::int32_t>(n);
      }
    }
    // What the profile's device can play: its pixel format, and a preset's rate cap
    // raised to the bit rate asked for.
    AskPixelFormat(Profile(code, PIXEL_FORMAT_KEY, DEVICE_PIXEL_FORMAT), out);
    if (out.VideoCodec == "libx264")
      FollowVideoBitRate(Setting(code, "paraMaxBitrate", Profile(code, "paraMaxBitrate", "").c_str()),
                         Setting(code, "paraBufferSize", Profile(code, "paraBufferSize", "").c_str()), out);
    // V4. Frame rate, as written ("25", "29.97").
    const std::string fr = Setting(code, "paraFrameRate", "29.97");
    double rate = 0;
    if (fr != AS_SOURCE && IsNumberText(fr, &rate) && rate > 0) out.FrameRate = fr;
    // V5. Container.
    static constexpr std::array kVideoFormats{"ipod", "3gp", "3g2",    "avi", "psp", "mov",
                                              "vcd",  "flv", "mpegts", "vob", "asf", "dv"};
    for (const char *f : kVideoFormats)
      if (fmt == f) out.FileFormat = format;
    // V6. Target size.
    const int SW = source.Width, SH = source.Height;
    int W = SW, H = SH;
    std::string size = videoSizeSetting;
    const auto x = size.find('x');
    const std::size_t P = x == std::string::npos ? 0 : x + 1, L = size.size();
    if (size != AS_SOURCE && P > 1 && P < L) {
      std::int64_t v = 0;
      W = IsIntegerText(size.substr(0, P - 1), &v) ? static_cast<int>(v) : SW;
      H = IsIntegerText(size.substr(P), &v) ? static_cast<int>(v) : SH;
      if (LowerCase(out.VideoCodec) == "h263") SnapH263Size(size, W, H);
    } else if (size != AS_SOURCE) {
      if (askDefaultSize_ && askDefaultSize_(DEFAULT_SIZE_QUESTION)) {
        W = 320;
        H = 240;
      } else {
        size = AS_SOURCE;
      }
    }
    if (size == AS_SOURCE) {
      W = SW;
      H = SH;
    }
    // MPEG-2 outside a disc format goes through the DVD target, whose norm would replace
    // a source rate it does not know (30, 60) or pair it with the wrong lines. A rate
    // kept from the source decides the norm, and a norm-bound size follows it.
    if (videoEncoder == "mpeg2video" && out.TargetNorm == 0 && out.FrameRate.empty() &&
        source.FrameRateNum > 0 && source.FrameRateDen > 0) {
      const TMpeg2Rate &r = Mpeg2RateFor(static_cast<double>(source.FrameRateNum) / source.FrameRateDen);
      out.FrameRate = r.Text;
      out.TargetNorm = r.Pal ? 1 : 2;
      if (size != AS_SOURCE) FitSizeToNorm(r.Pal, W, H);
    }
    // V7. Unset margins become 0.
    for (std::int32_t *m : {&out.CropTop, &out.CropBottom, &out.CropLeft, &out.CropRight})
      if (*m == -1) *m = 0;
    // V8. Zoom.
    const std::string &zoom = item.ZoomMode;
    if (zoom == "full") {
      if (AnyMargin(item)) {
        out.CropTop = item.CropTop;
        out.CropBottom = item.CropBottom;
        out.CropLeft = item.CropLeft;
        out.CropRight = item.CropRight;
      }
      out.FrameSize = SizeText(W, H, "x");
      out.AspectRatio = SizeText(W, H, ":");
    } else if (zoom == "lbox" || zoom == "center") {
      filter = LetterboxFilter(W, H, SW, SH, item, out);
    } else if (zoom == "pan") {
      filter = PanAndScan(W, H, SW, SH, item, out);
    }
  }
  // V9. An empty filter adds nothing (a trailing "," would break the graph text).
  if (!filter.empty()) out.VideoFilters = out.VideoFilters.empty() ? filter : out.VideoFilters + "," + filter;

  AddProfileOutputOptions(Profile(code, OUTPUT_OPTIONS_KEY, ""), out);

  // V10. Audio of a video profile.
  std::string audioCodec = Setting(code, "paraAudioEncoder", "");
  if (audioCodec == "libamr_nb") audioCodec = "libopencore_amrnb";
  out.AudioCodec = StableEncoderName(audioCodec);
  if (TrimBlanks(audioCodec).empty()) out.DisableAudio = true;
  const std::string channels = Setting(code, "paraChannel", "2");
  std::int64_t ch = 0;
  if (channels != AS_SOURCE && IsIntegerText(channels, &ch))
    out.AudioChannels = static_cast<std::int32_t>(ch);
  Volume(code, out);
  AudioRates(code, source, out, false);
}

std::string StableEncoderName(const std::string &name) {
  if (name.empty() || !ff::avcodec_find_encoder_by_name || !ff::avcodec_find_encoder) return name;
  const AVCodec *named = ff::avcodec_find_encoder_by_name(name.c_str());
  if (!named || !(named->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) return name;
  const AVCodec *regular = ff::avcodec_find_encoder(named->id);
  if (regular && !(regular->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) return regular->name;
  // avcodec_find_encoder prefers non-experimental encoders, so none exists: keep the name
  // and let the engine report it.
  return name;
}

void SnapH263Size(const std::string &sizeText, int &W, int &H) {
  static const std::string kStandard = "704x576,352x288,176x144,160x120,128x96";
  if (kStandard.find(sizeText) != std::string::npos) return;
  if (W > 176 && W <= 352) {
    W = 352;
    H = 288;
  } else if (W > 352) {
    W = 704;
    H = 576;
  }
}

std::string LetterboxFilter(int W, int H, int SW, int SH, const TlvFilesRecord &item, TOutputOptions &out) {
  // An unknown source size or an empty target leaves the frame as it is.
  if (W <= 0 || H <= 0 || SW <= 0 || SH <= 0) return {};
  // The picture that is fitted is what the user's margins leave of the source; margins
  // that leave nothing are ignored rather than handed on as an impossible crop.
  const int CW = SW - item.CropLeft - item.CropRight, CH = SH - item.CropTop - item.CropBottom;
  const bool crop = AnyMargin(item) && CW > 0 && CH > 0 && item.CropLeft >= 0 && item.CropTop >= 0;
  const int PW = crop ? CW : SW, PH = crop ? CH : SH;
  const double rW = static_cast<double>(PW) / W, rH = static_cast<double>(PH) / H;
  const auto vertical = [&] { return Pad(H, EvenTrunc(PH / rW)); };
  const auto horizontal = [&] { return Pad(W, EvenTrunc(PW / rH)); };
  int padV = 0, padH = 0;
  if (W <= PW && H >= PH) {
    padV = vertical();
    padH = 0;
  }
  if (W >= PW && H <= PH) {
    padH = horizontal();
    padV = 0;
  }
  if (W >= PW && H >= PH) {
    if (rW > rH) {
      padV = vertical();
      padH = 0;
    } else if (rW < rH) {
      padH = horizontal();
      padV = 0;
    } else {
      padV = vertical();
      padH = horizontal();
    }
  }
  if (W <= PW && H <= PH) {
    if (rW > rH) {
      padV = vertical();
      padH = 0;
    } else {
      padH = horizontal();
      padV = 0;
    }
  }
  if (W == PW && H == PH) padV = padH = 0;

  const int Wi = W - 2 * padH, Hi = H - 2 * padV;
  const std::string pad = "pad=" + std::to_string(W) + ":" + std::to_string(H) + ":" + std::to_string(padH) +
                          ":" + std::to_string(padV);
  if (crop) {
    // The filter does the whole crop; margins left in the record would reach the engine
    // as crop bands and cut the picture a second time. The engine hands the graph the
    // source at its own size (a target's default size must not scale it first) with
    // square pixels, which the crop, the aspect-keeping scale and the pad preserve.
    out.CropTop = out.CropBottom = out.CropLeft = out.CropRight = 0;
    out.FrameSize = SizeText(SW, SH, "x");
    out.AspectRatio = SizeText(SW, SH, ":");
    return "crop=w=" + std::to_string(CW) + ":h=" + std::to_string(CH) +
           ":x=" + std::to_string(item.CropLeft) + ":y=" + std::to_string(item.CropTop) +
           ",scale=" + SizeText(Wi, Hi, ":") + "," + pad;
  }
  out.FrameSize = SizeText(Wi, Hi, "x");
  out.AspectRatio = SizeText(Wi, Hi, ":");
  return pad;
}

std::string PanAndScan(int W, int H, int SW, int SH, const TlvFilesRecord &item, TOutputOptions &out) {
  const int CW = SW - item.CropLeft - item.CropRight, CH = SH - item.CropTop - item.CropBottom;
  const int OW = SW - out.CropLeft - out.CropRight, OH = SH - out.CropTop - out.CropBottom;
  out.FrameSize = SizeText(W, H, "x");
  out.AspectRatio = SizeText(W, H, ":");
  // Unknown source or target size: nothing to cut.
  if (CW <= 0 || CH <= 0 || OW <= 0 || OH <= 0 || W <= 0 || H <= 0) return {};
  // The kept part has the target's shape, so that stretching it to W x H (square
  // pixels, as the aspect above says) does not distort it; the cut is shared by both
  // sides, on top of the user's own margins, in even pixels.
  const double target = static_cast<double>(W) / H;
  const double ratio = static_cast<double>(CW) / CH;
  const auto even = [](double v) { return static_cast<std::int32_t>(std::trunc(v / 2) * 2); };
  if (ratio > target * (1 + 1e-9)) {
    const double cut = (OW - OH * target) / 2;
    out.CropLeft = even(std::max(item.CropLeft, 0) + cut);
    out.CropRight = even(std::max(item.CropRight, 0) + cut);
  } else if (ratio < target * (1 - 1e-9)) {
    const double cut = (OH - OW / target) / 2;
    out.CropTop = even(std::max(item.CropTop, 0) + cut);
    out.CropBottom = even(std::max(item.CropBottom, 0) + cut);
  }
  return {};
}

} // namespace tovi
