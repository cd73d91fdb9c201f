#include "appcore/FileInformation.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "converter/AVProbe.h"

namespace tovi {
namespace {

// Index of the first byte of the `n`-th UTF-8 character (or the size when shorter).
std::size_t CharacterOffset(const std::string &text, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t count = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (count++ == n) return i;
  }
  return text.size();
}

std::size_t CharacterCount(const std::string &text) {
  std::size_t count = 0;
  for (const char ch : text)
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++count;
  return count;
}

std::string BitRateText(std::int32_t bitRate) {
  return bitRate > 0 ? std::to_string(bitRate) : std::string("unknown");
}

// The codec's short name as the description text's first audio line gives it: the word
// after "Audio: " (today's summary goes on with the profile and tag in brackets, as in
// "aac (LC) (mp4a / 0x6134706D), 48000 Hz", where the old one had a comma at once).
std::string AudioFormatFromText(const std::string &text) {
  const auto start = text.find("Audio:");
  if (start == std::string::npos || start + 7 > text.size()) return {};
  const auto end = text.find_first_of(", \n", start + 7);
  return text.substr(start + 7, end == std::string::npos ? std::string::npos : end - (start + 7));
}

} // namespace

std::string ShortFileName(const std::string &name) {
  if (CharacterCount(name) < 46) return name;
  const auto dot = name.rfind('.');
  const std::string extension =
      dot == std::string::npos || name.find('/', dot) != std::string::npos ? std::string() : name.substr(dot);
  return name.substr(0, CharacterOffset(name, 40)) + ".." + extension + "  ";
}

std::string DurationText(std::int64_t us) {
  if (us < 0) us = 0;
  char text[64];
  std::snprintf(text, sizeof text, "%" PRId64 ".%.3d Second", us / 1000000,
                static_cast<int>(us % 1000000 / 1000));
  return text;
}

std::string FrameRateText(int num, int den) {
  if (num <= 0 || den <= 0) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(num) / den);
  std::string s = text;
  while (s.back() == '0')
    s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

TFileInformation DescribeFile(TCustomAVProbe &probe) {
  TFileInformation info;
  const std::string path = probe.FileName();
  const auto slash = path.find_last_of('/');
  info.Name = ShortFileName(slash == std::string::npos ? path : path.substr(slash + 1));
  TFileStreamInfo file;
  probe.GetFileStreamInfo(file);
  info.Duration = DurationText(file.Duration);
  info.Format = probe.FormatName();

  const int v = probe.FirstVideoStreamIndex();
  TVideoStreamInfo video;
  if (probe.VideoStreamCount() > 0 && probe.IsVideoStream(v) && probe.GetVideoStreamInfo(v, video)) {
    info.Resolution = std::to_string(video.Width) + "x" + std::to_string(video.Height);
    info.BitRate = BitRateText(video.BitRate);
    info.FrameRate = FrameRateText(video.FrameRateNum, video.FrameRateDen);
    if (video.FrameCount > 0) {
      info.TotalFrames = std::to_string(video.FrameCount);
    } else {
      // The container does not count its pictures (Matroska, MPEG streams): the
      // stream's (else the file's) duration at the frame rate.
      const std::int64_t us = video.Duration > 0 ? video.Duration : file.Duration;
      if (us > 0 && video.FrameRateNum > 0 && video.FrameRateDen > 0)
        info.TotalFrames =
            std::to_string(std::llround(us / 1e6 * video.FrameRateNum / video.FrameRateDen)) + " (estimated)";
    }
  }

  const int a = probe.FirstAudioStreamIndex();
  TAudioStreamInfo audio;
  if (probe.AudioStreamCount() > 0 && probe.IsAudioStream(a) && probe.GetAudioStreamInfo(a, audio)) {
    info.AudioFormat = AudioFormatFromText(probe.FileInfoText());
    info.AudioBitRate = BitRateText(audio.BitRate);
    info.SampleRate = std::to_string(audio.SampleRate);
    info.Channels = std::to_string(audio.Channels);
  }
  return info;
}

} // namespace tovi
