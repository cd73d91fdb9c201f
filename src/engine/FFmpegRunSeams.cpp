// The job runner's entry points, declared with the engine and built with the transcode
// loop. Until then a job is rejected with an error and the termination notice, never
// reported as done.
#include "engine/FFmpeg.h"

namespace tovi {

TConvertThread *TCustomFFmpeg::Start(bool, TThreadPriority) {
  if (busy_ || terminated_) return nullptr;
  errorOccurred_ = true;
  errorMessage_ = "the transcode loop is not available yet";
  NotifyTermination();
  return nullptr;
}
void TCustomFFmpeg::Run() {}
void TCustomFFmpeg::NotifyTermination() {
  busy_ = false;
  terminated_ = true;
  if (onTerminate_) onTerminate_(*this);
}
void TCustomFFmpeg::Stop(bool) { stopRequested_ = true; }
void TCustomFFmpeg::Terminate(bool) {}
void TCustomFFmpeg::Pause() {}
void TCustomFFmpeg::Resume() {}
bool TCustomFFmpeg::Paused() const { return false; }
void TCustomFFmpeg::WriteFrame(TOutputStreamRecord &, AVPacket *) {
  throw FFmpegException("the muxing step is not available yet");
}
double TCustomFFmpeg::SyncTime(const TOutputStreamRecord &) const { return 0; }

} // namespace tovi
