// The "target" option: every parameter of a disc or camcorder standard at once.
#include <cmath>

#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"

namespace tovi {

namespace {

// Frame rate × 1000, rounded: 25000 is PAL, 29970 and 23976 are NTSC material.
TTargetNorm NormOfRate(AVRational rate) {
  if (rate.den == 0) return TTargetNorm::Unknown;
  const long long milli = std::llround(double(rate.num) * 1000.0 / double(rate.den));
  if (milli == 25000) return TTargetNorm::PAL;
  if (milli == 29970 || milli == 23976) return TTargetNorm::NTSC;
  return TTargetNorm::Unknown;
}

} // namespace

TTargetNorm TCustomFFmpeg::DecideNorm(const std::string &norm, const std::string &defaultNorm) const {
  if (norm == "pal") return TTargetNorm::PAL;
  if (norm == "ntsc") return TTargetNorm::NTSC;
  if (norm == "film") return TTargetNorm::FILM;

  if (pending_.FrameRate.den == 0) throw FFmpegException("frame_rate is invalid.");
  TTargetNorm result = NormOfRate(pending_.FrameRate);
  for (int i = 0; i < inputCount_ && result == TTargetNorm::Unknown; ++i) {
    AVFormatContext *input = inputFiles_[static_cast<size_t>(i)].Context();
    if (!input) continue;
    for (unsigned s = 0; s < input->nb_streams && result == TTargetNorm::Unknown; ++s) {
      AVStream *stream = input->streams[s];
      if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
      result = NormOfRate(ff::av_guess_frame_rate(input, stream, nullptr));
    }
  }
  if (result == TTargetNorm::Unknown)
    result = defaultNorm == "film"   ? TTargetNorm::FILM
             : defaultNorm == "ntsc" ? TTargetNorm::NTSC
                                     : TTargetNorm::PAL;
  if (job_.Verbose > 0)
    LogFmt(llVerbose, "Assuming %s for target.", result == TTargetNorm::PAL ? "PAL" : "NTSC");
  return result;
}

void TCustomFFmpeg::SetTarget(const std::string &type, const std::string &norm,
                              const std::string &defaultNorm) {
  RequireLibraries();
  const TTargetNorm decided = DecideNorm(norm, defaultNorm);
  const bool pal = decided == TTargetNorm::PAL;
  const char *rate = pal ? "25" : decided == TTargetNorm::NTSC ? "30000/1001" : "24000/1001";
  const char *gop = pal ? "15" : "18";
  // Generic options go to whichever context knows them; a refusal is not an error here.
  const auto generic = [this](const char *name, const char *value) { (void)SetGenericOption(name, value); };
  const auto assumeAspect = [this](double aspect, const char *text) {
    if (pending_.FrameAspectRatio != 0) return;
    pending_.FrameAspectRatio = aspect;
    pending_.FrameAspectFromInput = false;
    Log(llInfo, text);
  };
  const auto atLeastStereo = [this] {
    if (pending_.AudioChannels == 1) pending_.AudioChannels = 2;
  };

  if (type == "vcd") {
    SetVideoCodec("mpeg1video");
    SetAudioCodec("mp2");
    SetFormat("vcd");
    SetFrameSize(pal ? "352x288" : "352x240");
    SetFrameRate(rate);
    generic("g", gop);
    generic("b", "1150000");
    generic("maxrate", "1150000");
    generic("minrate", "1150000");
    generic("bufsize", "327680");
    generic("ab", "224000");
    pending_.AudioSampleRate = 44100;
    pending_.AudioChannels = 2;
    generic("packetsize", "2324");
    generic("muxrate", "1411200");
    job_.MuxPreloadSeconds = 0.44;
    assumeAspect(4.0 / 3.0, "Assuming 4:3 for aspect ratio");
  } else if (type == "svcd") {
    SetVideoCodec("mpeg2video");
    SetAudioCodec("mp2");
    SetFormat("svcd");
    SetFrameSize(pal ? "480x576" : "480x480");
    SetFrameRate(rate);
    generic("g", gop);
    generic("b", "2040000");
    generic("maxrate", "2516000");
    generic("minrate", "0");
    generic("bufsize", "1835008");
    // The scan-offset flag is a private option of the MPEG-2 encoder in this library
    // generation.
    generic("scan_offset", "1");
    generic("ab", "224000");
    pending_.AudioSampleRate = 44100;
    atLeastStereo();
    generic("packetsize", "2324");
    assumeAspect(4.0 / 3.0, "Assuming 4:3 for aspect ratio");
  } else if (type == "dvd") {
    SetVideoCodec("mpeg2video");
    SetAudioCodec("ac3");
    SetFormat("dvd");
    SetFrameSize(pal ? "720x576" : "720x480");
    SetFrameRate(rate);
    generic("g", gop);
    generic("b", "6000000");
    generic("maxrate", "9000000");
    generic("minrate", "0");
    generic("bufsize", "1835008");
    generic("ab", "448000");
    pending_.AudioSampleRate = 48000;
    atLeastStereo();
    generic("packetsize", "2048");
    generic("muxrate", "10080000");
    assumeAspect(16.0 / 9.0, "Assuming 16:9 for aspect ratio");
  } else if (type == "dv" || type == "dv50") {
    SetFormat("dv");
    SetFrameSize(pal ? "720x576" : "720x480");
    OptionPixelFormat(type == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
    SetFrameRate(rate);
    pending_.AudioSampleRate = 48000;
    pending_.AudioChannels = 2;
  } else {
    throw FFmpegException("Unknown target type");
  }
}

} // namespace tovi
