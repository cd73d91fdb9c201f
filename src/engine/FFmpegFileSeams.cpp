// Entry points of the job's later stages that are declared with the engine but built
// separately: video hook plug-ins. Until they are, each refuses with an FFmpegException
// so that a caller is never told that work happened which did not.
#include "engine/FFmpeg.h"

namespace tovi {

void TCustomFFmpeg::AddVideoHook(const std::string &commandLine) {
  throw FFmpegException("Failed to add video hook function: " + commandLine);
}

} // namespace tovi

namespace tovi {

// The video filter graph is built by the filter step of the pipeline; until then a job
// that asks for one is refused rather than run without its filters.
void TCustomFFmpeg::ConfigureFilters(TOutputStreamRecord &) {
  throw FFmpegException("Error opening filters: the video filter graph (ConfigureFilters) is not available yet");
}

} // namespace tovi
