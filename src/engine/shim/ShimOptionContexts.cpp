// TEMPORARY stand-in until the shared option contexts land on main; deleted at the merge.
#include "media/OptionContexts.h"
namespace tovi {
bool TOptionContexts::Create(int) {
  Free();
  const AVMediaType types[5] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA, AVMEDIA_TYPE_SUBTITLE,
                                AVMEDIA_TYPE_ATTACHMENT};
  for (int i = 0; i < 5; ++i) {
    codec_[i].reset(ff::avcodec_alloc_context3(nullptr));
    codec_[i]->codec_type = types[i];
  }
  format_.reset(ff::avformat_alloc_context());
  return true;
}
void TOptionContexts::Free() {
  for (auto &c : codec_) c.reset();
  format_.reset();
  names_.clear();
  private_.clear();
}
static bool KnownPrivate(const std::string &name) {
  void *it = nullptr;
  while (const AVCodec *c = ff::av_codec_iterate(&it)) {
    if (!c->priv_class) continue;
    const AVClass *cls = c->priv_class;
    if (ff::av_opt_find(&cls, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) return true;
  }
  return false;
}
bool SetGenericOption(TOptionContexts &set, const std::string &name, const std::string &value) {
  if (name.empty() || value.empty() || !set.Created()) return false;
  const int flags[5] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0, AV_OPT_FLAG_SUBTITLE_PARAM, 0};
  bool matched = false;
  int ret = 0;
  for (int i = 0; i < 5 && ret >= 0; ++i) {
    if (ff::av_opt_find(set.CodecOptions(0), name.c_str(), nullptr, flags[i], 0)) {
      matched = true;
      ret = ff::av_opt_set(set.CodecOptions(i), name.c_str(), value.c_str(), 0);
    }
  }
  if (!matched && ff::av_opt_find(set.FormatOptions(), name.c_str(), nullptr, 0, 0)) {
    matched = true;
    ret = ff::av_opt_set(set.FormatOptions(), name.c_str(), value.c_str(), 0);
  }
  if (!matched && (name[0] == 'a' || name[0] == 'v' || name[0] == 's') && name.size() > 1) {
    AVCodecContext *c = set.CodecOptions(name[0] == 'v' ? 0 : name[0] == 'a' ? 1 : 3);
    if (ff::av_opt_find(c, name.c_str() + 1, nullptr, 0, 0)) {
      matched = true;
      ret = ff::av_opt_set(c, name.c_str() + 1, value.c_str(), 0);
    }
  }
  if (!matched && KnownPrivate(name)) {
    set.private_.push_back({name, value});
    return true;
  }
  if (!matched || ret < 0) return false;
  set.names_.push_back(name);
  return true;
}
void CopyGenericOptions(const TOptionContexts &set, void *target, const void *source, int requiredFlags) {
  for (const auto &n : set.Names()) {
    const AVOption *o = ff::av_opt_find(const_cast<void *>(source), n.c_str(), nullptr, 0, 0);
    if (!o || (o->flags & requiredFlags) != requiredFlags) continue;
    uint8_t *v = nullptr;
    if (ff::av_opt_get(const_cast<void *>(source), n.c_str(), 0, &v) >= 0 && v) {
      ff::av_opt_set(target, n.c_str(), reinterpret_cast<char *>(v), 0);
      ff::av_free(v);
    }
  }
}
int ApplyPrivateOptions(const TOptionContexts &set, const AVCodec *codec, AVDictionary **openOptions) {
  int n = 0;
  for (const auto &o : set.PrivateOptions()) {
    const AVClass *cls = codec->priv_class;
    if (!cls || !ff::av_opt_find(&cls, o.Name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) continue;
    ff::av_dict_set(openOptions, o.Name.c_str(), o.Value.c_str(), 0);
    ++n;
  }
  return n;
}
} // namespace tovi
