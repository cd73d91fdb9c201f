// TEMPORARY stand-in until the shared option contexts land on main; deleted at the merge.
#pragma once
#include <array>
#include <string>
#include <vector>
#include "media/EntryPoints.h"
namespace tovi {
struct TOptionContexts {
  std::array<AVCodecContext *, 5> Codec{}; // video, audio, data, subtitle, attachment
  AVFormatContext *Format = nullptr;
  std::vector<std::string> Names;
  std::vector<std::pair<std::string, std::string>> Private;
  TOptionContexts(int scalerFlags);
  ~TOptionContexts();
};
bool SetGenericOption(TOptionContexts &set, const std::string &name, const std::string &value);
void CopyGenericOptions(const TOptionContexts &set, void *target, const void *source, int requiredFlags);
void ApplyPrivateOptions(const TOptionContexts &set, AVCodecContext *target);
} // namespace tovi
