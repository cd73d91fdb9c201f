// TEMPORARY stand-in until the shared option contexts land on main; deleted at the merge.
#include "media/OptionContexts.h"
namespace tovi {
TOptionContexts::TOptionContexts(int) {
  const AVMediaType types[5] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA, AVMEDIA_TYPE_SUBTITLE,
                                AVMEDIA_TYPE_ATTACHMENT};
  for (int i = 0; i < 5; ++i) {
    Codec[i] = ff::avcodec_alloc_context3(nullptr);
    Codec[i]->codec_type = types[i];
  }
  Format = ff::avformat_alloc_context();
}
TOptionContexts::~TOptionContexts() {
  for (auto *&c : Codec) ff::avcodec_free_context(&c);
  ff::avformat_free_context(Format);
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
  if (name.empty() || value.empty()) return false;
  const int flags[5] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0, AV_OPT_FLAG_SUBTITLE_PARAM, 0};
  bool matched = false;
  int ret = 0;
  for (int i = 0; i < 5 && ret >= 0; ++i) {
    if (ff::av_opt_find(set.Codec[0], name.c_str(), nullptr, flags[i], 0)) {
      matched = true;
      ret = ff::av_opt_set(set.Codec[i], name.c_str(), value.c_str(), 0);
    }
  }
  if (!matched && ff::av_opt_find(set.Format, name.c_str(), nullptr, 0, 0)) {
    matched = true;
    ret = ff::av_opt_set(set.Format, name.c_str(), value.c_str(), 0);
  }
  if (!matched && (name[0] == 'a' || name[0] == 'v' || name[0] == 's') && name.size() > 1) {
    AVCodecContext *c = set.Codec[name[0] == 'v' ? 0 : name[0] == 'a' ? 1 : 3];
    if (ff::av_opt_find(c, name.c_str() + 1, nullptr, 0, 0)) {
      matched = true;
      ret = ff::av_opt_set(c, name.c_str() + 1, value.c_str(), 0);
    }
  }
  if (!matched && KnownPrivate(name)) {
    set.Private.emplace_back(name, value);
    matched = true;
  }
  if (!matched || ret < 0) return false;
  set.Names.push_back(name);
  return true;
}
void CopyGenericOptions(const TOptionContexts &set, void *target, const void *source, int requiredFlags) {
  for (const auto &n : set.Names) {
    const AVOption *o = ff::av_opt_find(const_cast<void *>(source), n.c_str(), nullptr, 0, 0);
    if (!o || (o->flags & requiredFlags) != requiredFlags) continue;
    uint8_t *v = nullptr;
    if (ff::av_opt_get(const_cast<void *>(source), n.c_str(), 0, &v) >= 0 && v) {
      ff::av_opt_set(target, n.c_str(), reinterpret_cast<char *>(v), 0);
      ff::av_free(v);
    }
  }
}
void ApplyPrivateOptions(const TOptionContexts &set, AVCodecContext *target) {
  for (const auto &[n, v] : set.Private) ff::av_opt_set(target, n.c_str(), v.c_str(), AV_OPT_SEARCH_CHILDREN);
}
} // namespace tovi
