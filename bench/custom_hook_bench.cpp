// Cost of the custom hook's round trip on a 1080p YUV 4:2:0 picture: the picture to the
// 24-bit bitmap, a host handler that changes nothing, and the bitmap back into the
// picture, through the engine's RunCustomHook. Baseline: the same two conversions as
// bare sws_scale calls on cached contexts into and out of a plain BGR24 buffer; the
// ratio is what the bitmap copy, the canvas lock and the callback add.
#include <algorithm>
#include <cstdio>

#include "BenchUtil.h"
#include "engine/EngineStepsAccess.h"
#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/Owners.h"

using namespace tovi;

int main() {
  auto &loader = TFFmpegLoader::Instance();
  if (!loader.LoadLibraries(CONVERTER_LIBRARIES)) {
    std::fprintf(stderr, "%s\n", loader.LastErrorText().c_str());
    return 1;
  }
  constexpr int W = 1920, H = 1080, Rounds = 40;
  const auto pattern = [](int p, int x, int y) {
    return static_cast<std::uint8_t>(p ? 128 + (x - y) % 40 : x + y);
  };
  FramePtr picture = test::MakePicture(AV_PIX_FMT_YUV420P, W, H, pattern);

  // Baseline: two cached scalers, picture -> BGR24 buffer -> picture.
  SwsContextPtr toRgb(ff::sws_getContext(W, H, AV_PIX_FMT_YUV420P, W, H, AV_PIX_FMT_BGR24, SWS_BICUBIC,
                                         nullptr, nullptr, nullptr));
  SwsContextPtr fromRgb(ff::sws_getContext(W, H, AV_PIX_FMT_BGR24, W, H, AV_PIX_FMT_YUV420P, SWS_BICUBIC,
                                           nullptr, nullptr, nullptr));
  FramePtr rgb = test::MakePicture(AV_PIX_FMT_BGR24, W, H, pattern);
  TCustomFFmpeg engine;
  const auto noOp = [](TCustomFFmpeg &, TBitmap &, int, std::int64_t, bool &, bool &) {};
  const auto lookOnly = [](TCustomFFmpeg &, TBitmap &, int, std::int64_t, bool &update, bool &) {
    update = false;
  };
  // The machine is shared: the three are measured in turns and the best pass counts.
  double bare = 1e18, roundTrip = 1e18, look = 1e18;
  for (int pass = 0; pass < 3; ++pass) {
    bare = std::min(
        bare, bench::MedianMicros(Rounds, [&] {
          ff::sws_scale(toRgb.get(), picture->data, picture->linesize, 0, H, rgb->data, rgb->linesize);
          ff::sws_scale(fromRgb.get(), rgb->data, rgb->linesize, 0, H, picture->data, picture->linesize);
        }));
    engine.SetOnCustomHook(noOp);
    roundTrip = std::min(roundTrip, bench::MedianMicros(Rounds, [&] {
                           TEngineStepsAccess::RunCustomHook(engine, picture.get());
                         }));
    engine.SetOnCustomHook(lookOnly);
    look = std::min(
        look, bench::MedianMicros(Rounds, [&] { TEngineStepsAccess::RunCustomHook(engine, picture.get()); }));
  }

  std::printf("custom hook on 1080p yuv420p, best of 3 medians of %d runs\n", Rounds);
  std::printf("  bare sws pair (to BGR24 and back)   %8.0f us/frame\n", bare);
  std::printf("  RunCustomHook, no-op handler        %8.0f us/frame   ratio %.2f\n", roundTrip,
              roundTrip / bare);
  std::printf("  RunCustomHook, update false         %8.0f us/frame   ratio %.2f\n", look, look / bare);
  std::printf("  peak RSS                            %8ld KiB\n", bench::PeakRssKiB());
  return 0;
}
