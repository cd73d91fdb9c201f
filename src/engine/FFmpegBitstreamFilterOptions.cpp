// The "absf", "vbsf" and "sbsf" options: validated filter names for the pending chains.
#include "engine/FFmpeg.h"
#include "engine/ValueParsing.h"
#include "media/EntryPoints.h"

namespace tovi {

void TCustomFFmpeg::AddBitstreamFilter(const std::string &kind, const std::string &text) {
  if (kind.empty()) return;
  const std::string trimmed = engine::Trim(text);
  if (trimmed.empty() || trimmed[0] == '=') return;
  RequireLibraries();
  // Arguments after "=" are not used: filters are initialised with their defaults.
  const std::string name = engine::Trim(trimmed.substr(0, trimmed.find('=')));
  const AVBitStreamFilter *filter = ff::av_bsf_get_by_name(name.c_str());
  if (!filter) throw FFmpegException::Fmt("Unknown bitstream filter %s", trimmed.c_str());
  PendingChain(kind[0]).Append(filter);
}

} // namespace tovi
