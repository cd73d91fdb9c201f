#include "engine/BitstreamFilters.h"

#include "engine/FFmpegException.h"
#include "media/EntryPoints.h"

namespace tovi {

void TBsfContextFree::operator()(AVBSFContext *context) const {
  if (context && ff::av_bsf_free) ff::av_bsf_free(&context);
}

void TBitstreamFilterChain::Append(const AVBitStreamFilter *filter) {
  contexts_.clear();
  filters_.push_back(filter);
}

std::vector<std::string> TBitstreamFilterChain::Names() const {
  std::vector<std::string> names;
  names.reserve(filters_.size());
  for (const AVBitStreamFilter *f : filters_)
    names.emplace_back(f->name);
  return names;
}

void TBitstreamFilterChain::Initialize(const AVCodecParameters *parameters, AVRational timeBase) {
  contexts_.clear();
  std::vector<TBsfContextPtr> contexts;
  contexts.reserve(filters_.size());
  const AVCodecParameters *in = parameters;
  AVRational inTimeBase = timeBase;
  for (const AVBitStreamFilter *filter : filters_) {
    AVBSFContext *raw = nullptr;
    if (ff::av_bsf_alloc(filter, &raw) < 0 || !raw)
      throw FFmpegException::Fmt("Failed to initialize bitstream filter %s", filter->name);
    TBsfContextPtr context(raw);
    if (ff::avcodec_parameters_copy(context->par_in, in) < 0)
      throw FFmpegException::Fmt("Failed to initialize bitstream filter %s", filter->name);
    context->time_base_in = inTimeBase;
    if (ff::av_bsf_init(context.get()) < 0)
      throw FFmpegException::Fmt("Failed to initialize bitstream filter %s", filter->name);
    in = context->par_out;
    inTimeBase = context->time_base_out;
    contexts.push_back(std::move(context));
  }
  contexts_ = std::move(contexts);
}

void TBitstreamFilterChain::Clear() {
  contexts_.clear();
  filters_.clear();
}

} // namespace tovi
