// The generic option contexts of one engine (or probe): where named codec, container
// and scaler options are collected before any real context exists, and from where they
// are copied into the contexts an engine opens.
//
// Threads: no locks inside. A set belongs to one engine and is used by one thread at a
// time. The libraries of the converter set must stay loaded while a set holds contexts.
#pragma once

#include <string>
#include <vector>

#include "media/Owners.h"

namespace tovi {

// The five codec option contexts, indexed by AVMediaType: video (0), audio (1),
// data (2), subtitle (3), attachment (4).
constexpr int OPTION_MEDIA_TYPE_COUNT = 5;

// An option that the generic contexts do not know but a codec's private option class
// does (libx264's "partitions", "weightp", "coder"...): kept as text until a codec that
// knows it is opened (ApplyPrivateOptions).
struct TPrivateOption {
  std::string Name; // as it was set (before any spelling match)
  std::string Value;
};

class TOptionContexts {
public:
  TOptionContexts() = default;
  TOptionContexts(const TOptionContexts &) = delete;
  TOptionContexts &operator=(const TOptionContexts &) = delete;
  TOptionContexts(TOptionContexts &&) = default;
  TOptionContexts &operator=(TOptionContexts &&) = default;
  ~TOptionContexts() = default;

  // Creates the seven contexts, dropping any earlier ones and every set option. The
  // scaler option context is a 16x16 YUV420P -> YUV420P scaler with `scalerFlags`
  // (SWS_BICUBIC...). False when a context cannot be made; the set is then empty.
  bool Create(int scalerFlags);
  // Frees the contexts and forgets every set option.
  void Free();
  bool Created() const { return static_cast<bool>(format_); }

  // The steps of SetGenericOption below.
  // `known` (optional) tells a refused value of a known option from an unknown name.
  bool SetOption(const std::string &name, const std::string &value, bool *known = nullptr);
  void CopyOptions(void *target, const void *source, int requiredFlags) const;
  int ApplyPrivateOptions(const AVCodec *codec, AVDictionary **openOptions) const;

  // Null before Create. `type` is an AVMediaType from video to attachment.
  AVCodecContext *CodecOptions(int type) const;
  AVFormatContext *FormatOptions() const { return format_.get(); }
  SwsContext *ScalerOptions() const { return scaler_.get(); }

  // Names of the options the generic contexts took, in the order they were first set
  // (a name set again keeps its place: CopyOptions copies current values, so a repeat
  // adds nothing).
  const std::vector<std::string> &Names() const { return names_; }
  // Private codec options in the order they were first set; setting one again replaces
  // its value.
  const std::vector<TPrivateOption> &PrivateOptions() const { return private_; }

private:
  int SetOnContexts(const std::string &name, const std::string &value, const AVOption **matched);
  bool SetPrivate(const std::string &name, const std::string &value, bool *known);
  void AfterAccepted();

  CodecContextPtr codec_[OPTION_MEDIA_TYPE_COUNT];
  FormatContextPtr format_;
  SwsContextPtr scaler_;
  std::vector<std::string> names_;
  std::vector<TPrivateOption> private_;
};

// Thin wrappers under the names the engine uses.
bool CreateOptionContexts(TOptionContexts &set, int scalerFlags);
void FreeOptionContexts(TOptionContexts &set);

// Sets a named option on the generic contexts. Name and value are trimmed of white space
// first; either one empty gives false and changes nothing.
//  1. For each media type (video, audio, data, subtitle, attachment) with the flag
//     AV_OPT_FLAG_VIDEO_PARAM, AUDIO_PARAM, none, SUBTITLE_PARAM, none: when the video
//     codec option context has an option of that name carrying the flag (any option of
//     the name for "none"), the value is set on that type's codec option context; a
//     rejected value ends the loop.
//  2. No codec option of that name: the format option context, then the scaler one.
//  3. Still none: a name starting with "a", "v" or "s" is tried without that letter on
//     the audio, video or subtitle codec option context.
//  4. Still none: the private option classes of the codecs the library has. A class
//     matches by exact name, else by a name that differs only in '-' versus '_' or a
//     missing separator ("directpred" -> "direct-pred", "mixed_refs" -> "mixed-refs").
//     The value is accepted when one codec whose class matches takes it; it is then
//     kept in PrivateOptions() for ApplyPrivateOptions.
// A known option with a rejected value logs "Invalid value \"%s\" for option \"%s\"\n"
// through the libraries' log at error level and gives false; an unknown name gives false
// without a message. An accepted generic option's library name joins Names(); when the
// video codec option context's "debug" or the format option context's "fdebug" flags are
// then non-zero, the log router's level becomes llDebug. Result true.
bool SetGenericOption(TOptionContexts &set, const std::string &name, const std::string &value);

// For every name of set.Names(), in order: when `source` (an object with an AVClass, e.g.
// one of the set's contexts) has the option and its flags contain every bit of
// `requiredFlags` (e.g. AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM), its
// current value is copied as text onto `target`. A value the target rejects is skipped.
// Private options are not copied here: see ApplyPrivateOptions.
void CopyGenericOptions(const TOptionContexts &set, void *target, const void *source, int requiredFlags);

// Adds to `*openOptions` (for avcodec_open2 of `codec`) each private option that the
// codec's private class knows, under the name the class uses, when the codec accepts the
// value; an option it rejects is left out with a warning through the log router (another
// codec may have accepted it when it was set). Existing entries of the same name are
// replaced. Returns the number of entries added.
int ApplyPrivateOptions(const TOptionContexts &set, const AVCodec *codec, AVDictionary **openOptions);
// The same for the codec a context was allocated for (none: nothing added).
int ApplyPrivateOptions(const TOptionContexts &set, const AVCodecContext *ctx, AVDictionary **openOptions);

} // namespace tovi
