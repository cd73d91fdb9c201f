// The option table of the dispatcher: every option name the engine handles itself,
// with its action. Names are compared exactly; each name appears once.
#include <stdexcept>
#include <unordered_map>

#include "engine/FFmpeg.h"
#include "engine/ValueParsing.h"

namespace tovi {

using engine::OptionBool;
using engine::StrictFloat;
using engine::StrictInt;
using engine::StrictInt64;

namespace {

// Sample rates and channel counts: a value of 0 or less would silently keep the source's.
int PositiveInt(const std::string &name, const std::string &value) {
  const int n = StrictInt(value);
  if (n <= 0)
    throw FFmpegException::Fmt("Invalid value \"%s\" for option \"%s\": must be above 0", value.c_str(),
                               name.c_str());
  return n;
}

} // namespace

std::int64_t TCustomFFmpeg::ParseRecordingTime(const std::string &name, const std::string &value) {
  const std::int64_t us = ParseDuration(name, value);
  // A negative length would end the job before its first packet and leave an empty file.
  if (us < 0)
    throw FFmpegException::Fmt("Invalid duration for %s: %s (must not be negative)", name.c_str(),
                               value.c_str());
  return us;
}

void TCustomFFmpeg::CheckOption(const std::string &name, const std::string &value) {
  RequireLibraries();
  if (value.find_first_not_of(" \t\r\n\v\f") == std::string::npos)
    throw FFmpegException::Fmt("Missing value for option '%s'", name.c_str());
  if (FindOption(name)) {
    if (name == "b" || name == "vb" || name == "ab") {
      bool known = false;
      if (!optionContexts_ || !optionContexts_->SetOption(name, value, &known))
        throw FFmpegException::Fmt("Invalid value \"%s\" for option \"%s\"", value.c_str(), name.c_str());
    } else if (name == "ar" || name == "ac") {
      (void)PositiveInt(name, value);
    } else if (name == "t") {
      (void)ParseRecordingTime(name, value);
    } else if (name == "ss" || name == "itsoffset") {
      (void)ParseDuration(name, value);
    }
    return;
  }
  if (!optionContexts_) throw FFmpegException("The engine has not been reset");
  bool known = false;
  if (optionContexts_->SetOption(name, value, &known)) return;
  if (!known) throw FFmpegException::Fmt("Unrecognized option '%s'", name.c_str());
  throw FFmpegException::Fmt("Invalid value \"%s\" for option \"%s\"", value.c_str(), name.c_str());
}

void TCustomFFmpeg::ParseOption(const std::string &name, const std::string &value) {
  if (const TOptionDef *option = FindOption(name))
    option->Action(*this, name, value);
  else
    (void)SetGenericOption(name, value); // unknown names are dropped without a message
}

const TCustomFFmpeg::TOptionDef *TCustomFFmpeg::FindOption(std::string_view name) {
  using E = TCustomFFmpeg;
  using S = const std::string &;
  static const TOptionDef kOptions[] = {
      // ---- general ----
      {"L", [](E &e, S n, S) { e.OptionDoNothing(n); }},
      {"h", [](E &e, S n, S) { e.OptionDoNothing(n); }},
      {"version", [](E &e, S n, S) { e.OptionDoNothing(n); }},
      {"formats", [](E &e, S n, S) { e.OptionDoNothing(n); }},
      {"codecs", [](E &e, S n, S) { e.OptionDoNothing(n); }},
      {"bsfs", [](E &e, S n, S) { e.OptionDoNothing(n); }},
      {"protocols", [](E &e, S n, S) { e.OptionDoNothing(n); }},
      {"filters", [](E &e, S n, S) { e.OptionDoNothing(n); }},
      {"benchmark", [](E &e, S n, S) { e.OptionDoNothing(n); }},
      {"i", [](E &e, S n, S) { e.OptionDoNothing(n); }},
      {"y", [](E &e, S n, S) { e.OptionDoNothing(n); }},
      {"loglevel",
       [](E &, S, S v) {
         try {
           TFFLogger::Instance().SetLogLevelByName(v);
         } catch (const std::invalid_argument &error) {
           throw FFmpegException(error.what());
         }
       }},
      {"f", [](E &e, S, S v) { e.SetFormat(v); }},
      {"map", [](E &e, S, S v) { e.OptionMap(v); }},
      {"map_meta_data", [](E &e, S, S v) { e.OptionMapMetaData(v); }},
      {"t", [](E &e, S n, S v) { e.SetRecordingTime(e.ParseRecordingTime(n, v)); }},
      {"fs", [](E &e, S, S v) { e.job_.LimitFileSizeBytes = StrictInt64(v); }},
      {"ss", [](E &e, S n, S v) { e.job_.StartTimeUs = ParseDuration(n, v); }},
      {"itsoffset", [](E &e, S n, S v) { e.job_.InputTsOffsetUs = ParseDuration(n, v); }},
      {"itsscale", [](E &e, S, S v) { e.OptionItsScale(v); }},
      {"timestamp",
       [](E &e, S n, S v) {
         const std::int64_t us = ParseDate(n, v);
         // Rounded to whole seconds, halves away from zero.
         e.job_.OutputTimestampSeconds = (us >= 0 ? us + 500000 : us - 500000) / 1000000;
       }},
      {"metadata", [](E &e, S, S v) { e.OptionMetadata(v); }},
      {"dframes", [](E &e, S, S v) { e.pending_.MaxFrames[AVMEDIA_TYPE_DATA] = StrictInt(v); }},
      {"timelimit", [](E &e, S, S) { e.Log(llWarning, "Warning: -timelimit not implemented on Windows"); }},
      {"dump", [](E &e, S, S v) { e.job_.PacketDump = OptionBool(v); }},
      {"hex", [](E &e, S, S v) { e.job_.HexDump = OptionBool(v); }},
      {"re", [](E &e, S, S v) { e.job_.RateEmulation = OptionBool(v); }},
      {"loop_input", [](E &e, S, S v) { e.pending_.LoopInput = OptionBool(v); }},
      {"loop_output", [](E &e, S, S v) { e.pending_.LoopOutput = StrictInt(v); }},
      {"v", [](E &e, S, S v) { e.SetVerbose(StrictInt(v)); }},
      {"target", [](E &e, S, S v) { e.OptionTarget(v); }},
      {"threads", [](E &, S n, S) { throw FFmpegException("TODO: option - " + n); }},
      {"vsync", [](E &e, S, S v) { e.SetVideoSyncMethod(StrictInt(v)); }},
      {"async", [](E &e, S, S v) { e.SetAudioSyncMethod(StrictInt(v)); }},
      {"adrift_threshold", [](E &e, S, S v) { e.job_.AudioDriftThreshold = StrictFloat(v); }},
      {"vglobal", [](E &e, S, S v) { e.job_.VideoGlobalHeader = StrictInt(v); }},
      {"copyts", [](E &e, S, S) { e.job_.CopyTimestamps = true; }},
      {"shortest", [](E &e, S, S v) { e.job_.Shortest = OptionBool(v); }},
      {"dts_delta_threshold", [](E &e, S, S v) { e.job_.DtsDeltaThresholdSeconds = StrictFloat(v); }},
      {"programid", [](E &e, S, S v) { e.job_.ProgramId = StrictInt(v); }},
      {"xerror", [](E &e, S, S) { e.job_.ExitOnError = true; }},
      {"copyinkf", [](E &e, S, S v) { e.job_.CopyInitialNonKeyFrames = StrictInt(v); }},
      {"isync", [](E &e, S, S v) { e.job_.InputSync = OptionBool(v); }},
      {"muxdelay", [](E &e, S, S v) { e.job_.MuxMaxDelaySeconds = StrictFloat(v); }},
      {"muxpreload", [](E &e, S, S v) { e.job_.MuxPreloadSeconds = StrictFloat(v); }},

      // ---- video ----
      {"b", [](E &e, S n, S v) { e.OptionBitRate(n, v, AVMEDIA_TYPE_VIDEO); }},
      {"vb", [](E &e, S n, S v) { e.OptionBitRate(n, v, AVMEDIA_TYPE_VIDEO); }},
      {"vframes", [](E &e, S, S v) { e.pending_.MaxFrames[AVMEDIA_TYPE_VIDEO] = StrictInt(v); }},
      {"r", [](E &e, S, S v) { e.SetFrameRate(v); }},
      {"s", [](E &e, S, S v) { e.SetFrameSize(v); }},
      {"aspect", [](E &e, S, S v) { e.SetFrameAspectRatio(v); }},
      {"pix_fmt", [](E &e, S, S v) { e.OptionPixelFormat(v); }},
      {"croptop", [](E &e, S, S v) { e.SetCropTop(StrictInt(v)); }},
      {"cropbottom", [](E &e, S, S v) { e.SetCropBottom(StrictInt(v)); }},
      {"cropleft", [](E &e, S, S v) { e.SetCropLeft(StrictInt(v)); }},
      {"cropright", [](E &e, S, S v) { e.SetCropRight(StrictInt(v)); }},
      {"padtop", [](E &, S, S) { throw FFmpegException("Please use vfilters=pad"); }},
      {"padbottom", [](E &, S, S) { throw FFmpegException("Please use vfilters=pad"); }},
      {"padleft", [](E &, S, S) { throw FFmpegException("Please use vfilters=pad"); }},
      {"padright", [](E &, S, S) { throw FFmpegException("Please use vfilters=pad"); }},
      {"padcolor", [](E &, S, S) { throw FFmpegException("Please use vfilters=pad"); }},
      {"intra", [](E &e, S, S v) { e.pending_.IntraOnly = OptionBool(v); }},
      {"vn", [](E &e, S, S v) { e.pending_.VideoDisable = OptionBool(v); }},
      {"vdt", [](E &e, S, S v) { e.pending_.VideoDiscard = StrictInt(v); }},
      {"qscale",
       [](E &e, S, S v) {
         const double q = StrictFloat(v);
         if (!(q > 0 && q <= 255)) throw FFmpegException("qscale must be > 0.0 and <= 255");
         e.pending_.VideoQScale = q;
       }},
      {"rc_override", [](E &e, S, S v) { e.pending_.RcOverride = v; }},
      {"vcodec", [](E &e, S, S v) { e.SetVideoCodec(v); }},
      {"me_threshold", [](E &e, S, S v) { e.pending_.MeThreshold = StrictInt(v); }},
      {"sameq", [](E &e, S, S v) { e.pending_.SameQuality = OptionBool(v); }},
      {"pass",
       [](E &e, S, S v) {
         const int pass = StrictInt(v);
         if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
         e.job_.Pass = pass;
       }},
      {"passlogfile", [](E &e, S, S v) { e.job_.PassLogFileName = v; }},
      {"deinterlace", [](E &e, S, S v) { e.pending_.Deinterlace = OptionBool(v); }},
      {"psnr", [](E &e, S, S v) { e.job_.DoPsnr = OptionBool(v); }},
      {"vstats", [](E &e, S, S) { e.OptionVStats(); }},
      {"vstats_file", [](E &e, S, S v) { e.job_.VStatsFileName = v; }},
      {"vhook", [](E &e, S, S v) { e.AddVideoHook(v); }},
      {"vfilters", [](E &e, S, S v) { e.SetVideoFilters(v); }},
      {"vf", [](E &e, S, S v) { e.SetVideoFilters(v); }},
      {"intra_matrix", [](E &e, S, S v) { e.OptionMatrix(v, e.pending_.IntraMatrix); }},
      {"inter_matrix", [](E &e, S, S v) { e.OptionMatrix(v, e.pending_.InterMatrix); }},
      {"top", [](E &e, S, S v) { e.pending_.TopFieldFirst = StrictInt(v); }},
      {"dc", [](E &e, S, S v) { e.pending_.IntraDcPrecision = StrictInt(v); }},
      {"vtag", [](E &e, S, S v) { e.SetVideoTag(v); }},
      {"newvideo", [](E &e, S, S) { e.OptionNewStream(AVMEDIA_TYPE_VIDEO); }},
      {"vlang", [](E &e, S, S v) { e.pending_.VideoLanguage = v; }},
      {"qphist", [](E &e, S, S v) { e.pending_.QpHistogram = OptionBool(v); }},
      {"force_fps", [](E &e, S, S v) { e.job_.ForceFps = OptionBool(v); }},
      {"streamid", [](E &e, S n, S v) { e.OptionStreamId(n, v); }},
      {"vc", [](E &e, S, S v) { e.pending_.VideoChannel = StrictInt(v); }},
      {"tvstd", [](E &e, S, S v) { e.pending_.VideoStandard = v; }},

      // ---- audio ----
      {"ab", [](E &e, S n, S v) { e.OptionBitRate(n, v, AVMEDIA_TYPE_AUDIO); }},
      {"aframes", [](E &e, S, S v) { e.pending_.MaxFrames[AVMEDIA_TYPE_AUDIO] = StrictInt(v); }},
      {"aq", [](E &e, S, S v) { e.pending_.AudioQScale = StrictFloat(v); }},
      {"ar", [](E &e, S n, S v) { e.SetAudioRate(PositiveInt(n, v)); }},
      {"ac", [](E &e, S n, S v) { e.SetAudioChannels(PositiveInt(n, v)); }},
      {"an", [](E &e, S, S v) { e.pending_.AudioDisable = OptionBool(v); }},
      {"acodec", [](E &e, S, S v) { e.SetAudioCodec(v); }},
      {"atag", [](E &e, S, S v) { e.SetAudioTag(v); }},
      {"vol", [](E &e, S, S v) { e.job_.AudioVolume = StrictInt(v); }},
      {"newaudio", [](E &e, S, S) { e.OptionNewStream(AVMEDIA_TYPE_AUDIO); }},
      {"alang", [](E &e, S, S v) { e.pending_.AudioLanguage = v; }},
      {"sample_fmt", [](E &e, S, S v) { e.OptionSampleFormat(v); }},

      // ---- subtitles, bitstream filters, presets ----
      {"sn", [](E &e, S, S v) { e.pending_.SubtitleDisable = OptionBool(v); }},
      {"scodec", [](E &e, S, S v) { e.SetSubtitleCodec(v); }},
      {"newsubtitle", [](E &e, S, S) { e.OptionNewStream(AVMEDIA_TYPE_SUBTITLE); }},
      {"slang", [](E &e, S, S v) { e.pending_.SubtitleLanguage = v; }},
      {"stag", [](E &e, S, S v) { e.SetSubtitleTag(v); }},
      {"absf", [](E &e, S n, S v) { e.AddBitstreamFilter(n, v); }},
      {"vbsf", [](E &e, S n, S v) { e.AddBitstreamFilter(n, v); }},
      {"sbsf", [](E &e, S n, S v) { e.AddBitstreamFilter(n, v); }},
      {"apre", [](E &e, S n, S v) { e.LoadPreset(n, v); }},
      {"vpre", [](E &e, S n, S v) { e.LoadPreset(n, v); }},
      {"spre", [](E &e, S n, S v) { e.LoadPreset(n, v); }},
      {"fpre", [](E &e, S n, S v) { e.LoadPreset(n, v); }},
  };
  static const auto kIndex = [] {
    std::unordered_map<std::string_view, const TOptionDef *> index;
    for (const TOptionDef &option : kOptions)
      index.emplace(option.Name, &option);
    return index;
  }();
  const auto it = kIndex.find(name);
  return it == kIndex.end() ? nullptr : it->second;
}

} // namespace tovi
