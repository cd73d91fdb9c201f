// A chain of library bitstream filters for one output stream.
//
// Option time (the "absf"/"vbsf"/"sbsf" options) only records which filters the chain
// holds, validated by name; set-up time (Initialize, once the stream's codec
// parameters are known) allocates and initialises one filter context per entry, each
// fed with the output parameters of the one before. The chain owns those contexts.
#pragma once

#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/bsf.h>
#include <libavutil/rational.h>
}

namespace tovi {

// Owner of one filter context. Frees nothing when the libraries have been unloaded in
// the meantime (leaks rather than calling through a cleared entry point).
struct TBsfContextFree {
  void operator()(AVBSFContext *context) const;
};
using TBsfContextPtr = std::unique_ptr<AVBSFContext, TBsfContextFree>;

class TBitstreamFilterChain {
public:
  TBitstreamFilterChain() = default;
  TBitstreamFilterChain(TBitstreamFilterChain &&) noexcept = default;
  TBitstreamFilterChain &operator=(TBitstreamFilterChain &&) noexcept = default;

  // Appends a filter at the end of the chain. Drops any set-up done before.
  void Append(const AVBitStreamFilter *filter);
  bool Empty() const { return filters_.empty(); }
  size_t Size() const { return filters_.size(); }
  const std::vector<const AVBitStreamFilter *> &Filters() const { return filters_; }
  std::vector<std::string> Names() const;

  // Allocates and initialises every filter in order. `parameters` describe the
  // stream's packets entering the chain, `timeBase` their time base. Throws
  // FFmpegException ("Failed to initialize bitstream filter %s") and leaves the chain
  // not initialised when a filter refuses them. Libraries must be loaded.
  void Initialize(const AVCodecParameters *parameters, AVRational timeBase);
  bool Initialized() const { return !filters_.empty() && contexts_.size() == filters_.size(); }
  // The filter contexts in chain order; empty before Initialize.
  const std::vector<TBsfContextPtr> &Contexts() const { return contexts_; }

  // Forgets every filter and frees the contexts.
  void Clear();

private:
  std::vector<const AVBitStreamFilter *> filters_;
  std::vector<TBsfContextPtr> contexts_;
};

} // namespace tovi
