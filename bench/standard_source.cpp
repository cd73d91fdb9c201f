// Writes the comparison benches' standard source: 10 s of 1080p30 8-bit 4:2:0 H.264
// with 48 kHz stereo AAC, from the test pattern and tone (deterministic).
// usage: bench-source OUTPUT.mp4
#include <cstdio>
#include <exception>

#include "fixtures/MediaWriter.h"

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.mp4\n", argc > 0 ? argv[0] : "bench-source");
    return 2;
  }
  // The encoders' notes would bury the bench's report; failures still throw.
  av_log_set_level(AV_LOG_ERROR);
  try {
    tovi::fixtures::MediaWriter writer(argv[1], "mp4");
    tovi::fixtures::VideoParams video;
    video.encoder = "libx264";
    video.width = 1920;
    video.height = 1080;
    video.fps = AVRational{30, 1};
    video.frameCount = 300;
    writer.AddVideo(video);
    tovi::fixtures::AudioParams audio;
    audio.encoder = "aac";
    audio.sampleRate = 48000;
    audio.channels = 2;
    audio.toneHz = 440.0;
    audio.sampleCount = 48000 * 10;
    writer.AddAudio(audio);
    writer.Write();
  } catch (const std::exception &error) {
    std::fprintf(stderr, "bench-source: %s\n", error.what());
    return 1;
  }
  return 0;
}
