// The memory floor of the standard job's encoder: libx264 alone at the standard job's
// settings (1280x720 4:2:0, preset medium, 2000 kbit/s) on one thread, fed 300
// generated pictures, its packets thrown away. No converter that keeps these settings
// can peak below this. Prints the process's peak resident memory in KiB.
// usage: encoder-floor
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace {

int Fail(const char *what) {
  std::fprintf(stderr, "encoder-floor: %s\n", what);
  return 1;
}

// Sends `frame` (null: the end) and drops whatever comes out; false on an error.
bool EncodeAndDrop(AVCodecContext *enc, const AVFrame *frame, AVPacket *packet) {
  if (avcodec_send_frame(enc, frame) < 0) return false;
  for (;;) {
    const int rc = avcodec_receive_packet(enc, packet);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return false;
    av_packet_unref(packet);
  }
}

} // namespace

int main() {
  av_log_set_level(AV_LOG_ERROR);
  const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
  if (!codec) return Fail("libx264 is not available");
  AVCodecContext *enc = avcodec_alloc_context3(codec);
  AVFrame *frame = av_frame_alloc();
  AVPacket *packet = av_packet_alloc();
  if (!enc || !frame || !packet) return Fail("out of memory");
  enc->width = 1280;
  enc->height = 720;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->time_base = AVRational{1, 30};
  enc->framerate = AVRational{30, 1};
  enc->bit_rate = 2000000;
  enc->thread_count = 1; // fewest frame buffers: more threads only add to the floor
  av_opt_set(enc->priv_data, "preset", "medium", 0);
  frame->width = enc->width;
  frame->height = enc->height;
  frame->format = enc->pix_fmt;
  bool ok = avcodec_open2(enc, codec, nullptr) >= 0 && av_frame_get_buffer(frame, 0) >= 0;
  for (int n = 0; ok && n < 300; ++n) {
    ok = av_frame_make_writable(frame) >= 0;
    // A moving gradient with a block pattern: motion for the look-ahead to follow.
    for (int y = 0; ok && y < enc->height; ++y)
      for (int x = 0; x < enc->width; ++x)
        frame->data[0][y * frame->linesize[0] + x] =
            static_cast<std::uint8_t>(x / 8 + y / 4 + 3 * n + ((((x + 4 * n) / 64 + y / 64) & 1) ? 40 : 0));
    for (int c = 1; ok && c < 3; ++c)
      for (int y = 0; y < enc->height / 2; ++y)
        for (int x = 0; x < enc->width / 2; ++x)
          frame->data[c][y * frame->linesize[c] + x] =
              static_cast<std::uint8_t>(128 + ((x + y + n * c) & 31));
    frame->pts = n;
    ok = ok && EncodeAndDrop(enc, frame, packet);
  }
  ok = ok && EncodeAndDrop(enc, nullptr, packet);
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&enc);
  if (!ok) return Fail("encoding failed");
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("%ld\n", ru.ru_maxrss);
  return 0;
}
