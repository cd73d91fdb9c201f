// Entry points of the job's later stages that are declared with the engine but built
// separately: output files and streams, video hook plug-ins. Until they
// are, each refuses with an FFmpegException so that a caller is never told that work
// happened which did not.
#include "engine/FFmpeg.h"

namespace tovi {

int TCustomFFmpeg::AddOutputFile(const std::string &, bool) {
  throw FFmpegException("AddOutputFile: output files are not available in this build");
}

void TCustomFFmpeg::NewVideoStream(AVFormatContext *) {
  throw FFmpegException("new_video_stream: output streams are not available in this build");
}

void TCustomFFmpeg::NewAudioStream(AVFormatContext *) {
  throw FFmpegException("new_audio_stream: output streams are not available in this build");
}

void TCustomFFmpeg::NewSubtitleStream(AVFormatContext *) {
  throw FFmpegException("new_subtitle_stream: output streams are not available in this build");
}

void TCustomFFmpeg::AddVideoHook(const std::string &commandLine) {
  throw FFmpegException("Failed to add video hook function: " + commandLine);
}

} // namespace tovi
