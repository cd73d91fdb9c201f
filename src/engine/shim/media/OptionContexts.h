// TEMPORARY stand-in until the shared option contexts land on main; deleted at the merge.
#pragma once
#include <string>
#include <vector>
#include "media/Owners.h"
namespace tovi {
struct TPrivateOption {
  std::string Name;
  std::string Value;
};
class TOptionContexts {
public:
  bool Create(int scalerFlags);
  void Free();
  bool Created() const { return static_cast<bool>(format_); }
  AVCodecContext *CodecOptions(int type) const { return codec_[type].get(); }
  AVFormatContext *FormatOptions() const { return format_.get(); }
  const std::vector<std::string> &Names() const { return names_; }
  const std::vector<TPrivateOption> &PrivateOptions() const { return private_; }
  CodecContextPtr codec_[5];
  FormatContextPtr format_;
  std::vector<std::string> names_;
  std::vector<TPrivateOption> private_;
};
inline bool CreateOptionContexts(TOptionContexts &set, int scalerFlags) { return set.Create(scalerFlags); }
bool SetGenericOption(TOptionContexts &set, const std::string &name, const std::string &value);
void CopyGenericOptions(const TOptionContexts &set, void *target, const void *source, int requiredFlags);
int ApplyPrivateOptions(const TOptionContexts &set, const AVCodec *codec, AVDictionary **openOptions);
} // namespace tovi
