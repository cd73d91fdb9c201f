// The direct setters: each has the effect of the option of the same meaning.
#include <thread>

#include "engine/FFmpeg.h"
#include "engine/ValueParsing.h"
#include "media/EntryPoints.h"

namespace tovi {

using engine::Trim;

void TCustomFFmpeg::SetFormat(const std::string &name) {
  if (name.empty()) return;
  if (name == "pgmyuv") {
    pending_.FormatName = "image2";
    job_.PgmyuvCompatibility = true;
    Log(llInfo, "pgmyuv format is deprecated, use image2");
  } else {
    pending_.FormatName = name;
  }
}

void TCustomFFmpeg::SetVerbose(int level) { job_.Verbose = level; }

void TCustomFFmpeg::SetFrameRate(const std::string &text) {
  RequireLibraries();
  AVRational rate{0, 0};
  if (ff::av_parse_video_rate(&rate, text.c_str()) < 0) throw FFmpegException("Incorrect frame rate");
  pending_.FrameRate = rate;
}

void TCustomFFmpeg::SetFrameSize(const std::string &text) {
  RequireLibraries();
  int width = 0, height = 0;
  if (ff::av_parse_video_size(&width, &height, text.c_str()) < 0)
    throw FFmpegException("Incorrect frame size");
  pending_.FrameWidth = width;
  pending_.FrameHeight = height;
}

void TCustomFFmpeg::SetFrameAspectRatio(const std::string &text) {
  double aspect = 0;
  const size_t colon = text.find(':');
  if (colon != std::string::npos) {
    size_t pos = 0;
    const int x = engine::PrefixInt(text.substr(0, colon), pos);
    pos = 0;
    const int y = engine::PrefixInt(text.substr(colon + 1), pos);
    if (y > 0) aspect = double(x) / double(y);
  } else {
    try {
      aspect = engine::StrictFloat(text);
    } catch (const FFmpegException &) {
      aspect = 0;
    }
  }
  // A negative ratio would reach the encoder as a negative sample aspect ratio; it is
  // refused like 0.
  if (!(aspect > 0)) throw FFmpegException("Incorrect aspect ratio specification.");
  pending_.FrameAspectRatio = aspect;
  pending_.FrameAspectFromInput = false;
}

void TCustomFFmpeg::SetCrop(TCropSide side, int pixels) {
  if (pixels <= 0) return;
  const bool vertical = side == TCropSide::Top || side == TCropSide::Bottom;
  int &band = side == TCropSide::Top      ? pending_.CropTop
              : side == TCropSide::Bottom ? pending_.CropBottom
              : side == TCropSide::Left   ? pending_.CropLeft
                                          : pending_.CropRight;
  int &dimension = vertical ? pending_.FrameHeight : pending_.FrameWidth;
  // A band given again replaces the earlier one instead of cropping a second time, so
  // that the stored bands always add up to what was taken off the frame size.
  const int uncropped = dimension + band;
  if (pixels >= uncropped) {
    throw FFmpegException(vertical
                              ? "Vertical crop dimensions are outside the range of the original image.\n"
                                "Remember to crop first and scale second."
                              : "Horizontal crop dimensions are outside the range of the original image.\n"
                                "Remember to crop first and scale second.");
  }
  Log(llWarning, "CropXXX is deprecated in favor of the crop avfilter");
  const double shapeBefore =
      pending_.FrameHeight > 0 ? double(pending_.FrameWidth) / pending_.FrameHeight : 0.0;
  band = pixels;
  dimension = uncropped - pixels;
  // A crop takes pixels away without changing their shape: the display aspect taken
  // from the input follows the cropped size. An aspect the user asked for stays.
  if (pending_.FrameAspectFromInput && pending_.FrameAspectRatio > 0 && pending_.FrameWidth > 0 &&
      pending_.FrameHeight > 0 && shapeBefore > 0)
    pending_.FrameAspectRatio *= double(pending_.FrameWidth) / pending_.FrameHeight / shapeBefore;
}

void TCustomFFmpeg::SetCropTop(int pixels) { SetCrop(TCropSide::Top, pixels); }
void TCustomFFmpeg::SetCropBottom(int pixels) { SetCrop(TCropSide::Bottom, pixels); }
void TCustomFFmpeg::SetCropLeft(int pixels) { SetCrop(TCropSide::Left, pixels); }
void TCustomFFmpeg::SetCropRight(int pixels) { SetCrop(TCropSide::Right, pixels); }

void TCustomFFmpeg::SetAudioRate(int hz) {
  if (hz > 0) pending_.AudioSampleRate = hz;
}

void TCustomFFmpeg::SetAudioChannels(int count) {
  if (count > 0) pending_.AudioChannels = count;
}

void TCustomFFmpeg::SetCodecName(AVMediaType type, const std::string &name) {
  std::string &codecName = type == AVMEDIA_TYPE_VIDEO   ? pending_.VideoCodecName
                           : type == AVMEDIA_TYPE_AUDIO ? pending_.AudioCodecName
                                                        : pending_.SubtitleCodecName;
  bool &streamCopy = type == AVMEDIA_TYPE_VIDEO   ? pending_.VideoStreamCopy
                     : type == AVMEDIA_TYPE_AUDIO ? pending_.AudioStreamCopy
                                                  : pending_.SubtitleStreamCopy;
  codecName.clear();
  if (name == "copy")
    streamCopy = true;
  else
    codecName = name;
}

void TCustomFFmpeg::SetVideoCodec(const std::string &name) { SetCodecName(AVMEDIA_TYPE_VIDEO, name); }
void TCustomFFmpeg::SetAudioCodec(const std::string &name) { SetCodecName(AVMEDIA_TYPE_AUDIO, name); }
void TCustomFFmpeg::SetSubtitleCodec(const std::string &name) { SetCodecName(AVMEDIA_TYPE_SUBTITLE, name); }

std::uint32_t TCustomFFmpeg::ParseCodecTag(const std::string &text, const char *what, std::uint32_t current) {
  if (text.empty()) return current;
  if (text.size() != 4) throw FFmpegException::Fmt("%s tag parameter must be 4 chars", what);
  const auto byte = [&](size_t i) { return std::uint32_t(static_cast<unsigned char>(text[i])); };
  return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

void TCustomFFmpeg::SetVideoTag(const std::string &text) {
  pending_.VideoCodecTag = ParseCodecTag(text, "video", pending_.VideoCodecTag);
}
void TCustomFFmpeg::SetAudioTag(const std::string &text) {
  pending_.AudioCodecTag = ParseCodecTag(text, "audio", pending_.AudioCodecTag);
}
void TCustomFFmpeg::SetSubtitleTag(const std::string &text) {
  pending_.SubtitleCodecTag = ParseCodecTag(text, "subtitle", pending_.SubtitleCodecTag);
}

void TCustomFFmpeg::SetVideoFilters(const std::string &text) { pending_.VideoFilters = text; }

void TCustomFFmpeg::SetStartTime(std::int64_t us) {
  if (us != NO_TIMESTAMP) job_.StartTimeUs = us;
}

void TCustomFFmpeg::SetRecordingTime(std::int64_t us) {
  if (us == NO_TIMESTAMP) return;
  if (us < 0)
    throw FFmpegException::Fmt("Invalid recording time %.3f s (must not be negative)",
                               double(us) / AV_TIME_BASE);
  job_.RecordingTimeUs = us;
  progressTotalUs_ = us;
}

void TCustomFFmpeg::SetProgramId(int id) {
  if (id >= 0) job_.ProgramId = id;
}

void TCustomFFmpeg::SetAudioVolume(int volume) {
  if (volume >= 0) job_.AudioVolume = volume;
}

void TCustomFFmpeg::SetAudioSyncMethod(int method) { job_.AudioSyncMethod = method; }
void TCustomFFmpeg::SetVideoSyncMethod(int method) { job_.VideoSyncMethod = method; }

void TCustomFFmpeg::SetMuxMaxDelay(double seconds) {
  if (seconds > 0) job_.MuxMaxDelaySeconds = seconds;
}

void TCustomFFmpeg::SetMuxPreload(double seconds) {
  if (seconds > 0) job_.MuxPreloadSeconds = seconds;
}

void TCustomFFmpeg::AddMetadata(const std::string &key, const std::string &value) {
  job_.Metadata.emplace_back(key, value);
}

void TCustomFFmpeg::SetThreadCount(int count) {
  if (count < 0) throw FFmpegException::Fmt("Invalid thread count %d", count);
  if (count == 0) {
    const unsigned cores = std::thread::hardware_concurrency();
    count = cores > 0 ? static_cast<int>(cores) : 1;
  }
  job_.ThreadCount = count;
}

} // namespace tovi
