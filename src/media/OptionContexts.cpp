#include "media/OptionContexts.h"

#include <algorithm>
#include <unordered_set>

#include "media/FFmpegLogger.h"

namespace tovi {
namespace {

constexpr int kTypeFlags[OPTION_MEDIA_TYPE_COUNT] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                                     AV_OPT_FLAG_SUBTITLE_PARAM, 0};

std::string Trim(const std::string &text) {
  constexpr const char *kSpace = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// The name with '-' and '_' dropped: the 5.1 private options of some encoders spell the
// old generic names with a dash or an extra separator.
std::string LooseName(const char *name) {
  std::string out;
  for (; *name; ++name)
    if (*name != '-' && *name != '_') out += *name;
  return out;
}

// The option of a codec's private class that `name` stands for, or null.
const AVOption *FindPrivateOption(const AVCodec *codec, const std::string &name) {
  if (!codec->priv_class) return nullptr;
  void *fakeObject = const_cast<const AVClass **>(&codec->priv_class);
  if (const AVOption *o =
          ff::av_opt_find2(fakeObject, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ, nullptr))
    return o;
  const std::string loose = LooseName(name.c_str());
  for (const AVOption *o = nullptr; (o = ff::av_opt_next(fakeObject, o));)
    if (o->type != AV_OPT_TYPE_CONST && LooseName(o->name) == loose) return o;
  return nullptr;
}

// Private options can only be checked on a real private object: a context allocated for
// the codec has one with the defaults set, and allocating it opens nothing.
class TPrivateScratch {
public:
  explicit TPrivateScratch(const AVCodec *codec) : codec_(codec) {}
  bool Accepts(const AVOption *option, const std::string &value) {
    if (!ctx_) ctx_.reset(ff::avcodec_alloc_context3(codec_));
    return ctx_ && ctx_->priv_data && ff::av_opt_set(ctx_->priv_data, option->name, value.c_str(), 0) >= 0;
  }

private:
  const AVCodec *codec_;
  CodecContextPtr ctx_;
};

} // namespace

bool TOptionContexts::Create(int scalerFlags) {
  Free();
  for (int type = 0; type < OPTION_MEDIA_TYPE_COUNT; ++type) {
    codec_[type].reset(ff::avcodec_alloc_context3(nullptr));
    if (!codec_[type]) {
      Free();
      return false;
    }
    codec_[type]->codec_type = static_cast<AVMediaType>(type);
  }
  format_.reset(ff::avformat_alloc_context());
  scaler_.reset(ff::sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P, scalerFlags,
                                   nullptr, nullptr, nullptr));
  if (!format_ || !scaler_) {
    Free();
    return false;
  }
  return true;
}

void TOptionContexts::Free() {
  for (CodecContextPtr &ctx : codec_)
    ctx.reset();
  format_.reset();
  scaler_.reset();
  names_.clear();
  private_.clear();
}

AVCodecContext *TOptionContexts::CodecOptions(int type) const {
  return type >= 0 && type < OPTION_MEDIA_TYPE_COUNT ? codec_[type].get() : nullptr;
}

// Steps 1 to 3 of SetGenericOption. `*matched` is the option that took part (null: the
// name is unknown to every generic context); the result is the last av_opt_set result.
int TOptionContexts::SetOnContexts(const std::string &name, const std::string &value,
                                   const AVOption **matched) {
  *matched = nullptr;
  int ret = 0;
  AVCodecContext *video = codec_[AVMEDIA_TYPE_VIDEO].get();
  for (int type = 0; type < OPTION_MEDIA_TYPE_COUNT && ret >= 0; ++type) {
    const AVOption *o = ff::av_opt_find(video, name.c_str(), nullptr, kTypeFlags[type], 0);
    if (!o) continue;
    *matched = o;
    ret = ff::av_opt_set(codec_[type].get(), name.c_str(), value.c_str(), 0);
  }
  if (*matched) return ret;

  for (void *ctx : {static_cast<void *>(format_.get()), static_cast<void *>(scaler_.get())}) {
    if ((*matched = ff::av_opt_find(ctx, name.c_str(), nullptr, 0, 0)))
      return ff::av_opt_set(ctx, name.c_str(), value.c_str(), 0);
  }

  int prefixed = -1;
  switch (name[0]) {
  case 'a': prefixed = AVMEDIA_TYPE_AUDIO; break;
  case 'v': prefixed = AVMEDIA_TYPE_VIDEO; break;
  case 's': prefixed = AVMEDIA_TYPE_SUBTITLE; break;
  }
  if (prefixed >= 0 && name.size() > 1) {
    AVCodecContext *ctx = codec_[prefixed].get();
    if ((*matched = ff::av_opt_find(ctx, name.c_str() + 1, nullptr, 0, 0)))
      return ff::av_opt_set(ctx, name.c_str() + 1, value.c_str(), 0);
  }
  return AVERROR_OPTION_NOT_FOUND;
}

// Step 4. `*known`: some codec's private class has the option.
bool TOptionContexts::SetPrivate(const std::string &name, const std::string &value, bool *known) {
  *known = false;
  // Many codecs share one private class (libx264 and libx264rgb, the mpegvideo family);
  // each class is checked once.
  std::unordered_set<const AVClass *> checked;
  void *iterator = nullptr;
  while (const AVCodec *codec = ff::av_codec_iterate(&iterator)) {
    if (!codec->priv_class || !checked.insert(codec->priv_class).second) continue;
    const AVOption *o = FindPrivateOption(codec, name);
    if (!o) continue;
    *known = true;
    if (!TPrivateScratch(codec).Accepts(o, value)) continue;
    auto same = std::find_if(private_.begin(), private_.end(),
                             [&](const TPrivateOption &p) { return p.Name == name; });
    if (same != private_.end())
      same->Value = value;
    else
      private_.push_back({name, value});
    return true;
  }
  return false;
}

void TOptionContexts::AfterAccepted() {
  std::int64_t videoDebug = 0, formatDebug = 0;
  ff::av_opt_get_int(codec_[AVMEDIA_TYPE_VIDEO].get(), "debug", 0, &videoDebug);
  ff::av_opt_get_int(format_.get(), "fdebug", 0, &formatDebug);
  if (videoDebug != 0 || formatDebug != 0) TFFLogger::Instance().SetLogLevel(llDebug);
}

bool TOptionContexts::SetOption(const std::string &rawName, const std::string &rawValue, bool *knownName) {
  bool ignored = false;
  bool &known = knownName ? *knownName : ignored;
  known = false;
  const std::string name = Trim(rawName);
  const std::string value = Trim(rawValue);
  if (name.empty() || value.empty() || !Created()) return false;

  const AVOption *matched = nullptr;
  int ret = SetOnContexts(name, value, &matched);
  known = matched != nullptr;
  if (known && ret >= 0) {
    if (std::find(names_.begin(), names_.end(), matched->name) == names_.end())
      names_.emplace_back(matched->name);
    AfterAccepted();
    return true;
  }
  if (!known && SetPrivate(name, value, &known)) {
    AfterAccepted();
    return true;
  }
  if (known)
    ff::av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", value.c_str(),
               name.c_str());
  return false;
}

void TOptionContexts::CopyOptions(void *target, const void *source, int requiredFlags) const {
  void *from = const_cast<void *>(source);
  for (const std::string &name : names_) {
    const AVOption *o = ff::av_opt_find(from, name.c_str(), nullptr, 0, 0);
    if (!o || (o->flags & requiredFlags) != requiredFlags) continue;
    std::uint8_t *text = nullptr;
    if (ff::av_opt_get(from, name.c_str(), 0, &text) < 0 || !text) continue;
    const AVBufferPtr owned(text);
    ff::av_opt_set(target, name.c_str(), reinterpret_cast<const char *>(text), 0);
  }
}

int TOptionContexts::ApplyPrivateOptions(const AVCodec *codec, AVDictionary **openOptions) const {
  if (!codec || !codec->priv_class || !openOptions) return 0;
  TPrivateScratch scratch(codec);
  int added = 0;
  for (const TPrivateOption &p : private_) {
    const AVOption *o = FindPrivateOption(codec, p.Name);
    if (!o) continue;
    if (!scratch.Accepts(o, p.Value)) {
      TFFLogger::Instance().LogFmt(this, llWarning, "Option \"%s\" = \"%s\" ignored: not accepted by %s",
                                   p.Name.c_str(), p.Value.c_str(), codec->name);
      continue;
    }
    if (ff::av_dict_set(openOptions, o->name, p.Value.c_str(), 0) >= 0) ++added;
  }
  return added;
}

bool CreateOptionContexts(TOptionContexts &set, int scalerFlags) { return set.Create(scalerFlags); }
void FreeOptionContexts(TOptionContexts &set) { set.Free(); }
bool SetGenericOption(TOptionContexts &set, const std::string &name, const std::string &value) {
  return set.SetOption(name, value);
}
void CopyGenericOptions(const TOptionContexts &set, void *target, const void *source, int requiredFlags) {
  set.CopyOptions(target, source, requiredFlags);
}
int ApplyPrivateOptions(const TOptionContexts &set, const AVCodec *codec, AVDictionary **openOptions) {
  return set.ApplyPrivateOptions(codec, openOptions);
}
int ApplyPrivateOptions(const TOptionContexts &set, const AVCodecContext *ctx, AVDictionary **openOptions) {
  return ctx ? set.ApplyPrivateOptions(ctx->codec, openOptions) : 0;
}

} // namespace tovi
