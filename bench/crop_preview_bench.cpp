// The crop dialog on a 1080p H.264 clip: output previews drawn per second (the dialog
// redraws at most every 100 ms) and the pictures per second its player shows meanwhile,
// against the same player showing the same clip into the same kind of hidden panel
// without the dialog's work (no hook, no previews), in the same run. Also the cost of
// one output preview (crop + adjustments of a 1080p frame).
//
// Needs an X server (run it under xvfb-run): the player draws into an X11 window.
#include <QApplication>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchUtil.h"
#include "app/CropWindow.h"
#include "app/widgets/PlayerHost.h"
#include "appcore/CropPreview.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/FormatIO.h"
#include "media/MainThread.h"
#include "media/Owners.h"
#include "media/SendReceive.h"
#include "ui/QtMainThreadDispatcher.h"

using namespace tovi;

namespace {

constexpr int W = 1920, H = 1080, FPS = 25, SECONDS = 12;
constexpr int kMeasureMs = 6000;

bool Fail(const char *what) {
  std::fprintf(stderr, "crop_preview_bench: %s\n", what);
  return false;
}

// Colour bars with a moving stripe, so that the encoder has something to code.
void Draw(AVFrame *f, int n) {
  for (int y = 0; y < H; ++y) {
    std::uint8_t *row = f->data[0] + y * f->linesize[0];
    for (int x = 0; x < W; ++x)
      row[x] = static_cast<std::uint8_t>(x * 5 / W * 48 + ((x + 8 * n) % 97 < 6 ? 40 : 0));
  }
  for (int p = 1; p < 3; ++p)
    for (int y = 0; y < H / 2; ++y)
      for (int x = 0; x < W / 2; ++x)
        f->data[p][y * f->linesize[p] + x] = static_cast<std::uint8_t>(64 + (x * 5 / (W / 2)) * 32 * p % 128);
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
  enc->bit_rate = 6000000;
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  ff::av_opt_set(enc->priv_data, "preset", "ultrafast", 0);
  {
    std::lock_guard lock(CodecLock());
    if (ff::avcodec_open2(enc.get(), codec, nullptr) < 0) return Fail("cannot open libx264");
  }
  AVStream *st = ff::avformat_new_stream(oc.get(), nullptr);
  ff::avcodec_parameters_from_context(st->codecpar, enc.get());
  st->time_base = enc->time_base;
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
  for (int n = 0; n < FPS * SECONDS; ++n) {
    ff::av_frame_make_writable(frame.get());
    Draw(frame.get(), n);
    frame->pts = n;
    if (EncodeAndReceive(enc.get(), frame.get(), pkt.get(), write) < 0) return Fail("encoding failed");
  }
  EncodeAndReceive(enc.get(), nullptr, pkt.get(), write);
  ff::av_write_trailer(oc.get());
  return io.Close() >= 0;
}

struct TRun {
  double seconds = 0;
  int shown = 0, dropped = 0, previews = 0;
};

// Shown pictures counted over kMeasureMs after the first second (start-up excluded).
template <class Counters> void Measure(Counters counters, TRun &run, int *previews = nullptr) {
  QTest::qWait(1000);
  const auto [shown0, dropped0] = counters();
  const int previews0 = previews ? *previews : 0;
  const auto start = std::chrono::steady_clock::now();
  QTest::qWait(kMeasureMs);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const auto [shown1, dropped1] = counters();
  run.shown = shown1 - shown0;
  run.dropped = dropped1 - dropped0;
  run.previews = previews ? *previews - previews0 : 0;
}

} // namespace

int main(int argc, char **argv) {
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "crop_preview_bench: needs an X server (xvfb-run)\n");
    return 2;
  }
  ::setenv("SDL_VIDEODRIVER", "x11", 1);
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tovi-crop-bench";
  std::filesystem::create_directories(dir);
  ::setenv("TOVI_CONFIG_DIR", dir.c_str(), 1);
  QApplication app(argc, argv);
  SetMainThreadDispatcher(std::make_shared<QtMainThreadDispatcher>());
  auto &loader = TFFmpegLoader::Instance();
  if (!loader.LoadLibraries(PLAYER_LIBRARIES)) {
    std::fprintf(stderr, "%s\n", loader.LastErrorText().c_str());
    return 1;
  }
  const std::string clip = (dir / "clip_1080p.mp4").string();
  if (!WriteClip(clip)) return 1;

  // Baseline: the player alone, into a hidden panel like the dialog's.
  TRun plain;
  {
    QWidget window;
    auto *host = new TPlayerHost(&window);
    host->setFixedSize(TCropWindow::kPreviewWidth, TCropWindow::kPreviewHeight);
    host->hide();
    window.show();
    TFFPlayer player;
    if (!player.Open(clip, host->Handle(), false)) {
      Fail(player.LastErrorText().c_str());
      return 1;
    }
    Measure(
        [&] {
          const auto c = player.Counters();
          return std::pair{c.Shown, c.Dropped};
        },
        plain);
    player.Stop(true);
  }

  // The dialog with a crop and every adjustment away from neutral.
  TRun dialogRun;
  {
    TlvFilesRecord record;
    record.CropTopShown = record.CropBottomShown = 20;
    record.CropLeftShown = record.CropRightShown = 40;
    record.Brightness = 300;
    record.Contrast = 20;
    record.Saturation = 180;
    record.Exposure = 40;
    TCropWindow dialog(record, clip, (dir / "settings.ini").string());
    dialog.show();
    if (!QTest::qWaitFor([&] { return dialog.OutputPreviewCount() > 0; }, 30'000)) {
      Fail("the dialog showed no preview");
      return 1;
    }
    int previews = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { previews = dialog.OutputPreviewCount(); });
    poll.start(10);
    Measure(
        [&] {
          const auto c = dialog.Player().Counters();
          return std::pair{c.Shown, c.Dropped};
        },
        dialogRun, &previews);
    dialog.reject();
  }

  // One output preview of a 1080p frame on the GUI thread.
  QImage frame(W, H, QImage::Format_BGR888);
  frame.fill(QColor(90, 140, 200));
  const TCropMargins margins{40, 90, 40, 90};
  const double neutralUs = bench::MedianMicros(15, [&] { (void)MakeOutputPreview(frame, margins, {}); });
  const double adjustedUs = bench::MedianMicros(15, [&] {
    (void)MakeOutputPreview(frame, margins, {300, 20, 180, 40});
  });

  std::filesystem::remove_all(dir);
  SetMainThreadDispatcher(nullptr);
  std::printf("1080p H.264 at %d fps, hidden X11 panel, %d cores, %.1f s measured per run\n", FPS,
              ff::av_cpu_count(), plain.seconds);
  std::printf("  player alone            %5.1f pictures/s shown, %d dropped\n", plain.shown / plain.seconds,
              plain.dropped);
  std::printf("  player in crop dialog   %5.1f pictures/s shown, %d dropped   ratio %.2f\n",
              dialogRun.shown / dialogRun.seconds, dialogRun.dropped,
              plain.shown > 0 ? (dialogRun.shown / dialogRun.seconds) / (plain.shown / plain.seconds) : 0.0);
  std::printf("  output previews         %5.1f per second (timer every 100 ms)\n",
              dialogRun.previews / dialogRun.seconds);
  std::printf("  one output preview      %6.1f ms plain crop, %6.1f ms with adjustments\n", neutralUs / 1000,
              adjustedUs / 1000);
  return 0;
}
