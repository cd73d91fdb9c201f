// Cost of turning a 1080p YUV 4:2:0 frame into our BGR bitmap (ConvertToBitmap) and back
// (ConvertFromBitmap), against a bare sws_scale of the same conversion into a plain
// buffer: the ratio is what the holder's bookkeeping and row copy add.
#include <cstdio>

#include "BenchUtil.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/Owners.h"
#include "media/RGBHolder.h"

using namespace tovi;

int main() {
  auto &loader = TFFmpegLoader::Instance();
  if (!loader.LoadLibraries(CONVERTER_LIBRARIES)) {
    std::fprintf(stderr, "%s\n", loader.LastErrorText().c_str());
    return 1;
  }
  constexpr int W = 1920, H = 1080, Rounds = 60;
  FramePtr yuv = MakeFrame();
  yuv->format = AV_PIX_FMT_YUV420P;
  yuv->width = W;
  yuv->height = H;
  ff::av_frame_get_buffer(yuv.get(), 32);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      yuv->data[0][y * yuv->linesize[0] + x] = static_cast<uint8_t>(x + y);
  for (int p = 1; p < 3; ++p)
    for (int y = 0; y < H / 2; ++y)
      for (int x = 0; x < W / 2; ++x)
        yuv->data[p][y * yuv->linesize[p] + x] = static_cast<uint8_t>(x * p);

  // Baseline: one cached scaler straight into a BGR24 buffer.
  SwsContextPtr sws(ff::sws_getContext(W, H, AV_PIX_FMT_YUV420P, W, H, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr,
                                       nullptr, nullptr));
  uint8_t *dst[4] = {};
  int dstLines[4] = {};
  ff::av_image_alloc(dst, dstLines, W, H, AV_PIX_FMT_BGR24, 32);
  const double bare = bench::MedianMicros(
      Rounds, [&] { ff::sws_scale(sws.get(), yuv->data, yuv->linesize, 0, H, dst, dstLines); });
  ff::av_free(dst[0]);

  TRGBHolder holder;
  const double toBitmap = bench::MedianMicros(Rounds, [&] { ConvertToBitmap(holder, yuv.get()); });
  FramePtr back = MakeFrame();
  back->format = AV_PIX_FMT_YUV420P;
  back->width = W;
  back->height = H;
  ff::av_frame_get_buffer(back.get(), 32);
  const double fromBitmap = bench::MedianMicros(Rounds, [&] { ConvertFromBitmap(holder, back.get()); });

  std::printf("1080p yuv420p -> BGR24, median of %d runs\n", Rounds);
  std::printf("  bare sws_scale          %8.0f us/frame\n", bare);
  std::printf("  ConvertToBitmap         %8.0f us/frame   ratio %.2f\n", toBitmap, toBitmap / bare);
  std::printf("  ConvertFromBitmap       %8.0f us/frame\n", fromBitmap);
  std::printf("  hook round trip         %8.0f us/frame\n", toBitmap + fromBitmap);
  std::printf("  peak RSS                %8ld KiB\n", bench::PeakRssKiB());
  return 0;
}
