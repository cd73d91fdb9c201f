// Entry points of the job's later stages that are declared with the engine but built
// separately: filters, hooks, previews and audio output. Until they are, each refuses
// with an FFmpegException (or a failure result) so that a caller is never told that work
// happened which did not.
#include "engine/FFmpeg.h"

#include <atomic>
#include <mutex>

namespace tovi {

namespace {
std::mutex previewFactoryLock;
TPreviewerFactory &PreviewerFactory() {
  static TPreviewerFactory factory;
  return factory;
}
} // namespace

void SetPreviewerFactory(TPreviewerFactory factory) {
  std::lock_guard guard(previewFactoryLock);
  PreviewerFactory() = std::move(factory);
}

std::unique_ptr<IFramePreviewer> CreateFramePreviewer() {
  std::lock_guard guard(previewFactoryLock);
  return PreviewerFactory() ? PreviewerFactory()() : nullptr;
}

void TCustomFFmpeg::AddVideoHook(const std::string &commandLine) {
  throw FFmpegException("Failed to add video hook function: " + commandLine);
}

int TCustomFFmpeg::ConfigureFilters(TInputStreamRecord &, TOutputStreamRecord &) {
  lastError_ = "the video filter graph is not available yet";
  return -1;
}

bool TCustomFFmpeg::PushFilterFrame(TInputStreamRecord &, AVFrame *, std::int64_t) { return false; }
bool TCustomFFmpeg::PullFilteredFrame(TInputStreamRecord &) { return false; }
void TCustomFFmpeg::PreProcessVideoFrame(TInputStreamRecord &, AVFrame *) {}
void TCustomFFmpeg::RunCustomHook(AVFrame *, const AVCodecContext *, std::int64_t) {}
void TCustomFFmpeg::RunPreviews(const AVFrame *, const AVCodecContext *) {}
void TCustomFFmpeg::SetPreviewFlags(int flags) { previewFlags_ = flags; }
int TCustomFFmpeg::PreviewFlags() const { return previewFlags_; }

void TCustomFFmpeg::DoAudioOut(TOutputStreamRecord &, TInputStreamRecord &, const AVFrame *) {
  throw FFmpegException("Audio encoding failed: audio output is not available yet");
}
void TCustomFFmpeg::FlushAudioOut(TOutputStreamRecord &) {}

} // namespace tovi
