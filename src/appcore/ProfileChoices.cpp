#include "appcore/ProfileChoices.h"

#include <array>
#include <utility>

#include "appcore/ProfileCatalog.h"

namespace tovi {
namespace {

using TPair = std::pair<const char *, const char *>;

constexpr std::array<TPair, 30> kVideoEncoders{{
    {"mpeg-4", "mpeg4"},
    {"xvid", "libxvid"},
    {"h264", "libx264"},
    {"3gp", "3gp"},
    {"3g2", "3g2"},
    {"mov", "mov"},
    {"wmv1", "wmv1"},
    {"wmv2", "wmv2"},
    {"wmv3", "wmv3"},
    {"flv", "flv"},
    {"swf", "swf"},
    {"msmpeg4", "msmpeg4"},
    {"msmpeg4v1", "msmpeg4v1"},
    {"msmpeg4v2", "msmpeg4v2"},
    {"mpeg1video", "mpeg1video"},
    {"mpeg2video", "mpeg2video"},
    {"h263", "h263"},
    {"h263p", "h263p"},
    {"rawvideo", "rawvideo"},
    {"rv10", "rv10"},
    {"rv20", "rv20"},
    {"dvvideo", "dvvideo"},
    {"huffyuv", "huffyuv"},
    {"ljpeg", "ljpeg"},
    {"mjpeg", "mjpeg"},
    {"svq1", "svq1"},
    {"zlib", "zlib"},
    {"hevc", "libx265"},
    {"vp9", "libvpx-vp9"},
    {"av1", "libsvtav1"},
}};

constexpr std::array<TPair, 29> kAudioEncoders{{
    {"mp3", "libmp3lame"},
    {"ogg", "vorbis"},
    {"mp2", "mp2"},
    {"aac", "libfaac"},
    {"ac-3", "ac3"},
    {"flac", "flac"},
    {"alac", "alac"},
    {"libamr_nb", "libopencore_amrnb"},
    {"adpcm_swf", "adpcm_swf"},
    {"adpcm_yamaha", "adpcm_yamaha"},
    {"pcm-8bit", "pcm_s8"},
    {"pcm-16bit", "pcm_s16be"},
    {"pcm-24bit", "pcm_s24be"},
    {"pcm-32bit", "pcm_s32be"},
    {"pcm-32bit float", "pcm_f32be"},
    {"pcm-64bit float", "pcm_f64be"},
    {"ccitt a-law(8-bit)", "pcm_alaw"},
    {"ccitt mu-law(8-bit)", "pcm_mulaw"},
    {"ima adpcm(4-bit)", "adpcm_ima_qt"},
    {"gsm", "libgsm"},
    {"pcm_s16", "pcm_s16le"},
    {"pcm_u16", "pcm_u16le"},
    {"pcm_alaw", "pcm_alaw"},
    {"pcm_mulaw ", "pcm_mulaw"}, // the label carries a trailing blank
    {"adpcm_ms", "adpcm_ms"},
    {"adpcm_ima_wav", "adpcm_ima_wav"},
    {"wma1", "wmav1"},
    {"wma2", "wmav2"},
    {"opus", "libopus"},
}};

template <class Table> std::optional<std::string> Lookup(const Table &table, const std::string &key) {
  for (const auto &[label, value] : table)
    if (key == label) return std::string(value);
  return std::nullopt;
}

// Fills one control from a profile list; `emptyDisables`: an empty list also disables.
TChoice FillChoice(const TIniFile &profile, const std::string &section, const char *listKey,
                   const char *positionKey, bool emptyDisables) {
  TChoice c;
  const std::string list = profile.ReadString(section, listKey, "null");
  if (list != "null" && !(emptyDisables && list.empty())) c.Items = SplitChoiceList(list);
  const auto pos = profile.ReadInteger(section, positionKey, 0);
  if (pos >= 0 && pos < static_cast<std::int64_t>(c.Items.size())) {
    c.Position = static_cast<int>(pos);
    c.Text = c.Items[static_cast<std::size_t>(pos)];
  }
  return c;
}

const std::string &SelectedLabel(const TChoice &c) {
  static const std::string none;
  return c.Position >= 0 && c.Position < static_cast<int>(c.Items.size())
             ? c.Items[static_cast<std::size_t>(c.Position)]
             : none;
}

} // namespace

std::vector<std::string> SplitChoiceList(const std::string &text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (;;) {
    const auto comma = text.find(',', start);
    items.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return items;
}

std::optional<std::string> VideoEncoderValue(const std::string &label) {
  return Lookup(kVideoEncoders, LowerCase(label));
}

std::optional<std::string> AudioEncoderValue(const std::string &label) {
  return Lookup(kAudioEncoders, LowerCase(label));
}

std::optional<std::string> ChannelValue(const std::string &label) {
  if (label == "as source") return std::string("as source");
  if (label == "mono 1 channel") return std::string("1");
  if (label == "stereo 2 channels") return std::string("2");
  return std::nullopt;
}

std::optional<std::string> VolumeValue(const std::string &label) {
  if (label.empty()) return std::nullopt;
  std::int64_t percent = 0;
  if (!IsIntegerText(label.substr(0, label.size() - 1), &percent)) return std::nullopt;
  static constexpr std::array<std::pair<int, int>, 12> kVolumes{{{25, 64},
                                                                 {50, 128},
                                                                 {75, 192},
                                                                 {100, 256},
                                                                 {125, 320},
                                                                 {150, 384},
                                                                 {175, 448},
                                                                 {200, 512},
                                                                 {250, 640},
                                                                 {300, 768},
                                                                 {350, 896},
                                                                 {400, 1024}}};
  for (const auto &[p, v] : kVolumes)
    if (percent == p) return std::to_string(v);
  return std::nullopt;
}

TProfileChoices DefaultChoices(const TIniFile &profile, int code) {
  const std::string s = ProfileSection(code);
  TProfileChoices c;
  c.VideoSize = FillChoice(profile, s, "VideoSize", "iVideoSize", false);
  c.VideoEncoder = FillChoice(profile, s, "VideoEncoder", "iVideoEncoder", true);
  c.VideoBitRate = FillChoice(profile, s, "VideoBitRate", "iVideoBitRate", false);
  c.FrameRate = FillChoice(profile, s, "FrameRate", "iFrameRate", false);
  c.SampleRate = FillChoice(profile, s, "SampleRate", "iSampleRate", true);
  c.AudioEncoder = FillChoice(profile, s, "AudioEncoder", "iAudioEncoder", true);
  c.Channel = FillChoice(profile, s, "Channel", "iChannel", true);
  c.AudioBitRate = FillChoice(profile, s, "AudioBitRate", "iAudioBitRate", true);
  c.Volume = FillChoice(profile, s, "Volume", "iVolume", true);
  c.Zoom = "full";
  if (!c.VideoEncoder.Items.empty()) c.TargetSize = profile.ReadString(s, "TargetSize", "");
  return c;
}

void WriteProfileChoices(TIniFile &settings, const TIniFile &profile, int code,
                         const std::string &description, const TProfileChoices &c) {
  const std::string s = ProfileSection(code);
  settings.WriteString(s, "Description", description);
  settings.WriteInteger(s, "iVideoSize", c.VideoSize.Position);
  settings.WriteInteger(s, "iVideoBitRate", c.VideoBitRate.Position);
  settings.WriteInteger(s, "iVideoEncoder", c.VideoEncoder.Position);
  settings.WriteInteger(s, "iFrameRate", c.FrameRate.Position);
  settings.WriteInteger(s, "iSampleRate", c.SampleRate.Position);
  settings.WriteInteger(s, "iAudioBitRate", c.AudioBitRate.Position);
  settings.WriteInteger(s, "iChannel", c.Channel.Position);
  settings.WriteInteger(s, "iVolume", c.Volume.Position);
  settings.WriteInteger(s, "iAudioEncoder", c.AudioEncoder.Position);
  settings.WriteString(s, "paraVideoSize", c.VideoSize.Text);
  settings.WriteString(s, "paraVideoBitRate", c.VideoBitRate.Text);
  settings.WriteString(s, "paraFrameRate", c.FrameRate.Text);
  // Written even when empty: a target the user cleared must not come back from the
  // profile file.
  if (!c.VideoEncoder.Items.empty()) settings.WriteString(s, "TargetSize", c.TargetSize);
  if (!c.Zoom.empty()) settings.WriteString(s, "paraZoom", c.Zoom);

  const std::string videoLabel = SelectedLabel(c.VideoEncoder);
  if (auto v = VideoEncoderValue(videoLabel)) {
    settings.WriteString(s, "paraVideoEncoder", *v);
    if (LowerCase(videoLabel) == "h264") {
      if (LowerCase(profile.ReadString(s, "paraBitExact", "")) == "true")
        settings.WriteString(s, "paraBitExact", profile.ReadString(s, "paraBitExact", ""));
      for (const char *key : {"paraMaxBitrate", "paraBufferSize", "paraLevel", "paraQscale", "paraGop"}) {
        std::int64_t n = 0;
        if (IsIntegerText(profile.ReadString(s, key, ""), &n) && n > 0) settings.WriteInteger(s, key, n);
      }
      std::int64_t coder = 0;
      if (IsIntegerText(profile.ReadString(s, "paraCoder", ""), &coder) && coder >= 0)
        settings.WriteInteger(s, "paraCoder", coder);
    }
  }

  settings.WriteString(s, "paraSampleRate", c.SampleRate.Text);
  settings.WriteString(s, "paraAudioBitRate", c.AudioBitRate.Text);
  if (auto v = ChannelValue(SelectedLabel(c.Channel))) settings.WriteString(s, "paraChannel", *v);
  if (auto v = VolumeValue(SelectedLabel(c.Volume))) settings.WriteString(s, "paraVolume", *v);
  const std::string audioLabel = SelectedLabel(c.AudioEncoder);
  if (auto v = AudioEncoderValue(audioLabel)) {
    settings.WriteString(s, "paraAudioEncoder", *v);
    if (LowerCase(audioLabel) == "gsm") {
      settings.WriteString(s, "paraSampleRate", "8000");
      settings.WriteString(s, "paraChannel", "1");
    }
  }
}

bool EnsureUserProfileSection(TIniFile &settings, const TIniFile &profile, int code) {
  if (settings.SectionExists(ProfileSection(code))) return false;
  WriteProfileChoices(settings, profile, code, std::string(ProfileName(code)), DefaultChoices(profile, code));
  return true;
}

} // namespace tovi
