// Playing a 1080p H.264 + AAC clip at real speed with SDL's dummy video driver, at the
// picture's size and at the preview panel's, and (with a display, e.g. under xvfb-run)
// into the desktop program's preview host window with the X11 driver: pictures shown and
// dropped, the picture's offset from the sound clock, and CPU time per second of
// playback, against a bare decode loop of the same clip in the same run (the ratio is
// what filtering, queueing, timing and display add to decoding).
// The clip is written first with libx264 and aac into a temporary folder.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "BenchUtil.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/FormatIO.h"
#include "media/Owners.h"
#include "media/SendReceive.h"
#include "player/Player.h"

#ifdef TOVI_BENCH_HOST_WINDOW
#include <QApplication>

#include "app/widgets/PlayerHost.h"
#endif

using namespace tovi;

namespace {

constexpr int W = 1920, H = 1080, FPS = 25, SECONDS = 4;
constexpr int RATE = 48000;

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool Fail(const char *what) {
  std::fprintf(stderr, "player_bench: %s\n", what);
  return false;
}

// A moving picture that does not compress to nothing.
void Draw(AVFrame *f, int n) {
  for (int y = 0; y < H; ++y) {
    std::uint8_t *row = f->data[0] + y * f->linesize[0];
    for (int x = 0; x < W; ++x)
      row[x] = static_cast<std::uint8_t>((x + 3 * n) ^ (y + n));
  }
  for (int p = 1; p < 3; ++p)
    for (int y = 0; y < H / 2; ++y)
      for (int x = 0; x < W / 2; ++x)
        f->data[p][y * f->linesize[p] + x] = static_cast<std::uint8_t>(128 + ((x + y * p + n) & 63) - 32);
}

bool WriteClip(const std::string &path) {
  const AVCodec *codec = ff::avcodec_find_encoder_by_name("libx264");
  if (!codec) return Fail("no libx264 encoder");
  AVFormatContext *raw = nullptr;
  if (ff::avformat_alloc_output_context2(&raw, nullptr, "mp4", path.c_str()) < 0) return Fail("no mp4 muxer");
  FormatContextPtr oc(raw);
  CodecContextPtr enc(ff::avcodec_alloc_context3(codec));
  enc->width = W;
  enc->height = H;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->time_base = {1, FPS};
  enc->framerate = {FPS, 1};
  enc->gop_size = FPS;
  enc->bit_rate = 8000000;
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  ff::av_opt_set(enc->priv_data, "preset", "ultrafast", 0);
  {
    std::lock_guard lock(CodecLock());
    if (ff::avcodec_open2(enc.get(), codec, nullptr) < 0) return Fail("cannot open libx264");
  }
  AVStream *st = ff::avformat_new_stream(oc.get(), nullptr);
  ff::avcodec_parameters_from_context(st->codecpar, enc.get());
  st->time_base = enc->time_base;
  // Sound, so that the player runs on its audio clock as with real files.
  const AVCodec *acodec = ff::avcodec_find_encoder_by_name("aac");
  if (!acodec) return Fail("no aac encoder");
  CodecContextPtr aenc(ff::avcodec_alloc_context3(acodec));
  aenc->sample_rate = RATE;
  aenc->sample_fmt = AV_SAMPLE_FMT_FLTP;
  ff::av_channel_layout_default(&aenc->ch_layout, 2);
  aenc->time_base = {1, RATE};
  aenc->bit_rate = 128000;
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) aenc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  {
    std::lock_guard lock(CodecLock());
    if (ff::avcodec_open2(aenc.get(), acodec, nullptr) < 0) return Fail("cannot open aac");
  }
  AVStream *ast = ff::avformat_new_stream(oc.get(), nullptr);
  ff::avcodec_parameters_from_context(ast->codecpar, aenc.get());
  ast->time_base = aenc->time_base;
  TOutputIO io;
  if (OpenOutputIO(oc.get(), path, AVIO_FLAG_WRITE, io) < 0) return Fail("cannot create the clip");
  if (ff::avformat_write_header(oc.get(), nullptr) < 0) return Fail("cannot write the header");
  FramePtr frame = MakeFrame();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = W;
  frame->height = H;
  ff::av_frame_get_buffer(frame.get(), 32);
  PacketPtr pkt = MakePacket();
  const auto write = [&](AVPacket *p) {
    ff::av_packet_rescale_ts(p, enc->time_base, st->time_base);
    p->stream_index = st->index;
    return ff::av_interleaved_write_frame(oc.get(), p);
  };
  const auto writeAudio = [&](AVPacket *p) {
    ff::av_packet_rescale_ts(p, aenc->time_base, ast->time_base);
    p->stream_index = ast->index;
    return ff::av_interleaved_write_frame(oc.get(), p);
  };
  FramePtr sound = MakeFrame();
  sound->format = AV_SAMPLE_FMT_FLTP;
  sound->sample_rate = RATE;
  sound->nb_samples = aenc->frame_size;
  ff::av_channel_layout_copy(&sound->ch_layout, &aenc->ch_layout);
  ff::av_frame_get_buffer(sound.get(), 0);
  std::int64_t samples = 0;
  for (int n = 0; n < FPS * SECONDS; ++n) {
    ff::av_frame_make_writable(frame.get());
    Draw(frame.get(), n);
    frame->pts = n;
    if (EncodeAndReceive(enc.get(), frame.get(), pkt.get(), write) < 0) return Fail("encoding failed");
    // Sound up to the end of this picture: a quiet 440 Hz tone.
    while (samples < static_cast<std::int64_t>(n + 1) * RATE / FPS) {
      ff::av_frame_make_writable(sound.get());
      for (int i = 0; i < sound->nb_samples; ++i) {
        const float v = 0.1f * std::sin(2 * M_PI * 440.0 * static_cast<double>(samples + i) / RATE);
        reinterpret_cast<float *>(sound->data[0])[i] = v;
        reinterpret_cast<float *>(sound->data[1])[i] = v;
      }
      sound->pts = samples;
      samples += sound->nb_samples;
      if (EncodeAndReceive(aenc.get(), sound.get(), pkt.get(), writeAudio) < 0) return Fail("aac failed");
    }
  }
  EncodeAndReceive(enc.get(), nullptr, pkt.get(), write);
  EncodeAndReceive(aenc.get(), nullptr, pkt.get(), writeAudio);
  ff::av_write_trailer(oc.get());
  return io.Close() >= 0;
}

// The baseline: read and decode every packet as fast as possible (one decoding thread,
// as the player uses).
bool BareDecode(const std::string &path, double &cpu, int &frames) {
  TInputFile in;
  if (OpenInputFile(path, nullptr, nullptr, in) < 0 ||
      ff::avformat_find_stream_info(in.Context(), nullptr) < 0)
    return Fail("cannot open the clip");
  const int index = ff::av_find_best_stream(in.Context(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) return Fail("no video stream");
  AVStream *st = in->streams[index];
  const AVCodec *codec = ff::avcodec_find_decoder(st->codecpar->codec_id);
  CodecContextPtr dec(ff::avcodec_alloc_context3(codec));
  ff::avcodec_parameters_to_context(dec.get(), st->codecpar);
  dec->thread_count = 1;
  {
    std::lock_guard lock(CodecLock());
    if (ff::avcodec_open2(dec.get(), codec, nullptr) < 0) return Fail("cannot open the decoder");
  }
  PacketPtr pkt = MakePacket();
  FramePtr frame = MakeFrame();
  frames = 0;
  const auto count = [&](AVFrame *) {
    ++frames;
    return 0;
  };
  const double start = CpuSeconds();
  while (ff::av_read_frame(in.Context(), pkt.get()) >= 0) {
    if (pkt->stream_index == index) DecodeAndReceive(dec.get(), pkt.get(), frame.get(), count);
    ff::av_packet_unref(pkt.get());
  }
  DecodeAndReceive(dec.get(), nullptr, frame.get(), count);
  cpu = CpuSeconds() - start;
  return true;
}

struct TPlayResult {
  double wall = 0, cpu = 0;
  TPlaybackCounters counters;
  // Picture clock minus sound clock, sampled while playing, in milliseconds.
  double meanOffsetMs = 0, maxOffsetMs = 0;
};

// `host`: the native window to play into (0: the player's own); `pump` runs while
// waiting (the host's event loop); `screenWidth` x `screenHeight`: the display size the
// file-open handler gives the player, as the desktop program's preview panel does (0:
// the picture's own size).
bool Play(const std::string &path, bool hook, std::uintptr_t host, const std::function<void()> &pump,
          TPlayResult &result, int screenWidth = 0, int screenHeight = 0) {
  TFFPlayer player;
  player.SetTriggerEventInMainThread(false);
  if (screenWidth > 0)
    player.SetOnFileOpen(
        [screenWidth, screenHeight](TCustomPlayer *, std::int64_t, int, int, int &sw, int &sh) {
          sw = screenWidth;
          sh = screenHeight;
        });
  std::mutex m;
  std::condition_variable cv;
  bool ended = false;
  player.SetOnState([&](TCustomPlayer *, TPlayState s) {
    if (s != psEnd) return;
    std::lock_guard<std::mutex> lock(m);
    ended = true;
    cv.notify_all();
  });
  if (hook) {
    player.SetHook(true);
    player.SetOnHook([](TCustomPlayer *, TBitmap *, std::int64_t) {});
  }
  const double wall0 = Now(), cpu0 = CpuSeconds();
  if (!player.Open(path, host, false)) return Fail(player.LastErrorText().c_str());
  double offsetSum = 0;
  int offsetCount = 0;
  for (bool done = false; !done;) {
    {
      std::unique_lock<std::mutex> lock(m);
      done = cv.wait_for(lock, std::chrono::milliseconds(20), [&] { return ended; });
    }
    if (Now() - wall0 > SECONDS * 4) return Fail("no end");
    if (pump) pump();
    double video = 0, master = 0;
    // The first half second settles the clocks (the first pictures wait for the sound).
    if (!done && Now() - wall0 > 0.5 && player.GetClocks(video, master) && video > 0 && master > 0) {
      const double offsetMs = (video - master) * 1000;
      offsetSum += std::fabs(offsetMs);
      result.maxOffsetMs = std::max(result.maxOffsetMs, std::fabs(offsetMs));
      ++offsetCount;
    }
  }
  result.wall = Now() - wall0;
  result.cpu = CpuSeconds() - cpu0;
  result.counters = player.Counters();
  result.meanOffsetMs = offsetCount ? offsetSum / offsetCount : 0;
  player.Stop(true);
  return true;
}

} // namespace

int main(int argc, char **argv) {
  ::setenv("SDL_VIDEODRIVER", "dummy", 1);
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
#ifdef TOVI_BENCH_HOST_WINDOW
  const bool display = std::getenv("DISPLAY") != nullptr;
  if (display) ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  std::unique_ptr<QApplication> app = display ? std::make_unique<QApplication>(argc, argv) : nullptr;
#else
  (void)argc;
  (void)argv;
#endif
  auto &loader = TFFmpegLoader::Instance();
  if (!loader.LoadLibraries(PLAYER_LIBRARIES)) {
    std::fprintf(stderr, "%s\n", loader.LastErrorText().c_str());
    return 1;
  }
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tovi-player-bench";
  std::filesystem::create_directories(dir);
  const std::string clip = (dir / "clip_1080p.mp4").string();
  if (!WriteClip(clip)) return 1;

  double bareCpu = 0;
  int bareFrames = 0;
  if (!BareDecode(clip, bareCpu, bareFrames)) return 1;
  const double content = static_cast<double>(bareFrames) / FPS;
  // TOVI_PLAYER_BENCH_ONLY=player|panel|hook|host runs one kind of playback (for a profiler).
  const char *only = std::getenv("TOVI_PLAYER_BENCH_ONLY");
  const auto wanted = [only](const char *kind) { return !only || std::string(only) == kind; };
  std::vector<std::pair<const char *, TPlayResult>> runs;
  if (wanted("player")) {
    runs.emplace_back("player", TPlayResult{});
    if (!Play(clip, false, 0, nullptr, runs.back().second)) return 1;
  }
  if (wanted("panel")) {
    // The preview panel's size (640 x 360): the picture is drawn scaled down.
    runs.emplace_back("player 640x360", TPlayResult{});
    if (!Play(clip, false, 0, nullptr, runs.back().second, 640, 360)) return 1;
  }
  if (wanted("hook")) {
    runs.emplace_back("player + hook", TPlayResult{});
    if (!Play(clip, true, 0, nullptr, runs.back().second)) return 1;
  }
#ifdef TOVI_BENCH_HOST_WINDOW
  if (app && wanted("host")) {
    // The preview panel's host window at a typical size, drawn by SDL's X11 driver.
    ::setenv("SDL_VIDEODRIVER", "x11", 1);
    TPlayerHost host;
    host.resize(640, 360);
    host.show();
    const std::uintptr_t handle = host.Handle();
    for (int i = 0; i < 20; ++i)
      QApplication::processEvents();
    runs.emplace_back("preview host (X11)", TPlayResult{});
    if (!Play(
            clip, false, handle, [] { QApplication::processEvents(); }, runs.back().second))
      return 1;
  }
#endif
  std::filesystem::remove_all(dir);

  const double bareRate = bareCpu / content;
  std::printf("1080p H.264 + AAC, %d pictures (%.1f s), dummy audio driver, %d cores\n", bareFrames, content,
              ff::av_cpu_count());
  std::printf("  bare decode loop      %6.3f CPU s per second of content (%.0f fps decode speed)\n", bareRate,
              bareFrames / bareCpu);
  for (const auto &[name, r] : runs) {
    const double perSecond = r.cpu / r.wall;
    std::printf("  %-20s  %6.3f CPU s per second of playback   ratio %.2f   shown %d  dropped %d  (%.2f s)"
                "   A/V offset mean %.1f ms, max %.1f ms\n",
                name, perSecond, perSecond / bareRate, r.counters.Shown, r.counters.Dropped, r.wall,
                r.meanOffsetMs, r.maxOffsetMs);
  }
  return 0;
}
