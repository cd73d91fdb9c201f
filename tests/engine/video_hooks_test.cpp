// Work on decoded pictures: the custom hook's bitmap round trip, its update and stop
// semantics, the "vhook" plug-in chain and deinterlacing.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <stdexcept>

#include "engine/EngineStepsAccess.h"
#include "engine/EngineTestSupport.h"
#include "media/Bitmap.h"

namespace tovi::test {
namespace {

using A = TEngineStepsAccess;

// A gradient with some detail in every plane, so that a lost or shifted byte shows.
FramePtr Gradient(AVPixelFormat format, int width, int height) {
  return MakePicture(format, width, height,
                     [](int p, int x, int y) { return std::uint8_t(40 + (x * 3 + y * 5 + p * 17) % 170); });
}

class VideoHooksTest : public EngineTest {
protected:
  void Process(AVFrame *picture) { A::PreProcessVideoFrame(engine_, ist_, picture); }
  TInputStreamRecord ist_;
};

TEST_F(VideoHooksTest, UpdateFalseLeavesThePictureBitIdentical) {
  int calls = 0;
  engine_.SetOnCustomHook(
      [&](TCustomFFmpeg &, TBitmap &bitmap, int frame, std::int64_t pts, bool &update, bool &) {
        ++calls;
        EXPECT_EQ(frame, 1);
        EXPECT_EQ(pts, 40000);
        EXPECT_EQ(bitmap.Width(), 161);
        for (int y = 0; y < bitmap.Height(); ++y)
          std::memset(bitmap.ScanLine(y), 255, bitmap.RowBytes());
        update = false;
      });
  // Odd width: the picture goes through the scaler into the bitmap.
  FramePtr picture = Gradient(AV_PIX_FMT_YUV420P, 161, 120);
  const auto before = PictureBytes(picture.get());
  ist_.Pts = 40000;
  Process(picture.get());
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(PictureBytes(picture.get()), before);
}

TEST_F(VideoHooksTest, ADrawnRectangleChangesExactlyThosePixels) {
  const int left = 20, top = 10, right = 60, bottom = 40; // even edges, for the chroma planes
  engine_.SetOnCustomHook([&](TCustomFFmpeg &, TBitmap &bitmap, int, std::int64_t, bool &, bool &) {
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) {
        std::uint8_t *px = bitmap.ScanLine(y) + 3 * x;
        px[0] = 0, px[1] = 0, px[2] = 255; // red in blue-green-red order
      }
  });

  // A 24-bit picture of even size is used as it is: the round trip is exact.
  FramePtr bgr = Gradient(AV_PIX_FMT_BGR24, 96, 64);
  FramePtr original = Gradient(AV_PIX_FMT_BGR24, 96, 64);
  Process(bgr.get());
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 96; ++x) {
      const std::uint8_t *got = bgr->data[0] + y * bgr->linesize[0] + 3 * x;
      const std::uint8_t *was = original->data[0] + y * original->linesize[0] + 3 * x;
      const bool inside = x >= left && x < right && y >= top && y < bottom;
      if (inside) {
        ASSERT_TRUE(got[0] == 0 && got[1] == 0 && got[2] == 255) << x << "," << y;
      } else {
        ASSERT_EQ(std::memcmp(got, was, 3), 0) << x << "," << y;
      }
    }

  // YUV 4:2:0 goes through BGR24 and back: luma away from the edge is kept within the
  // rounding of the two conversions, the rectangle turns red.
  // Grey levels only, so that no colour falls outside what 24-bit RGB can hold.
  const auto grey = [](int p, int x, int y) { return std::uint8_t(p ? 128 : 40 + (x * 3 + y * 5) % 170); };
  FramePtr yuv = MakePicture(AV_PIX_FMT_YUV420P, 96, 64, grey);
  FramePtr source = MakePicture(AV_PIX_FMT_YUV420P, 96, 64, grey);
  Process(yuv.get());
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 96; ++x) {
      const int got = yuv->data[0][y * yuv->linesize[0] + x];
      const int was = source->data[0][y * source->linesize[0] + x];
      const bool inside = x >= left && x < right && y >= top && y < bottom;
      const bool nearEdge = x >= left - 3 && x < right + 3 && y >= top - 3 && y < bottom + 3;
      if (inside && !(x < left + 3 || x >= right - 3 || y < top + 3 || y >= bottom - 3)) {
        ASSERT_NEAR(got, 82, 3) << x << "," << y; // red's luma
      } else if (!nearEdge) {
        ASSERT_NEAR(got, was, 3) << x << "," << y;
      }
    }
  EXPECT_GT(yuv->data[2][(top / 2 + 5) * yuv->linesize[2] + left / 2 + 5], 220); // V of red
}

TEST_F(VideoHooksTest, AnExceptionIsLoggedOnceAndTheHookStays) {
  int calls = 0;
  engine_.SetOnCustomHook([&](TCustomFFmpeg &, TBitmap &bitmap, int, std::int64_t, bool &, bool &) {
    ++calls;
    std::memset(bitmap.ScanLine(0), 0, bitmap.RowBytes());
    if (calls == 1) throw std::runtime_error("boom");
  });
  FramePtr picture = Gradient(AV_PIX_FMT_BGR24, 32, 16);
  const auto before = PictureBytes(picture.get());
  Process(picture.get());
  EXPECT_EQ(PictureBytes(picture.get()), before); // the failed call changes nothing
  Process(picture.get());
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(engine_.HasCustomHook());
  EXPECT_EQ(log_.Count(&engine_, llError, "Error occurs OnCustomHook: boom"), 1);
  EXPECT_NE(PictureBytes(picture.get()), before); // the second call drew
}

TEST_F(VideoHooksTest, TheCustomHookRunsWithTheCanvasLocked) {
  engine_.SetOnCustomHook([&](TCustomFFmpeg &, TBitmap &bitmap, int, std::int64_t, bool &, bool &) {
    EXPECT_FALSE(bitmap.TryLock());
  });
  FramePtr picture = Gradient(AV_PIX_FMT_YUV420P, 32, 16);
  Process(picture.get());
}

TEST_F(VideoHooksTest, TheDecodersBufferIsNotWrittenThrough) {
  engine_.SetOnCustomHook([&](TCustomFFmpeg &, TBitmap &bitmap, int, std::int64_t, bool &, bool &) {
    for (int y = 0; y < bitmap.Height(); ++y)
      std::memset(bitmap.ScanLine(y), 0, bitmap.RowBytes());
  });
  // The decoder keeps a reference to the buffer it predicts from.
  FramePtr decoded = Gradient(AV_PIX_FMT_BGR24, 32, 16);
  FramePtr picture = MakeFrame();
  ASSERT_GE(ff::av_frame_ref(picture.get(), decoded.get()), 0);
  const auto before = PictureBytes(decoded.get());
  Process(picture.get());
  EXPECT_EQ(PictureBytes(decoded.get()), before);
  EXPECT_NE(PictureBytes(picture.get()), before);
}

TEST_F(VideoHooksTest, AHandlerThatResizesTheBitmapCannotWritePastThePicture) {
  engine_.SetOnCustomHook([&](TCustomFFmpeg &, TBitmap &bitmap, int, std::int64_t, bool &, bool &) {
    bitmap.SetSize(300, 200); // cleared to black
  });
  for (AVPixelFormat format : {AV_PIX_FMT_BGR24, AV_PIX_FMT_YUV420P}) {
    FramePtr picture = Gradient(format, 64, 32);
    Process(picture.get());
    EXPECT_EQ(picture->width, 64);
    // The black bitmap came back, cut (24-bit) or scaled (YUV) to the picture.
    EXPECT_LE(picture->data[0][10 * picture->linesize[0] + 10], 16) << format;
  }
}

// A planned hook sees only its regions: they come into the bitmap at their place, what
// the handler draws there comes back with its colour on the right chroma samples, and
// nothing outside the regions (grown to whole chroma samples) changes. Odd sizes: the
// regions run over the right and bottom edges, whose chroma samples cover one pixel.
TEST_F(VideoHooksTest, APlannedHookConvertsOnlyItsRegions) {
  constexpr int W = 161, H = 121;
  const std::vector<THookRect> rects{{150, 110, 20, 20}, {-3, 5, 10, 9}};
  int plans = 0, draws = 0;
  std::vector<THookRect> want = rects;
  engine_.SetOnCustomHookPlan([&](TCustomFFmpeg &, THookPlanes *planes, int, std::int64_t, THookPlan &plan) {
    ++plans;
    ASSERT_NE(planes, nullptr);
    EXPECT_EQ(planes->Width, W);
    plan.WholeFrame = false;
    plan.Regions = want;
  });
  const auto red = [](int x, int y) { // inside a rectangle as asked, clipped to the picture
    for (const THookRect &r : std::vector<THookRect>{{150, 110, 20, 20}, {-3, 5, 10, 9}})
      if (x >= r.Left && x < r.Left + r.Width && y >= r.Top && y < r.Top + r.Height) return true;
    return false;
  };
  engine_.SetOnCustomHook([&](TCustomFFmpeg &, TBitmap &bitmap, int, std::int64_t, bool &, bool &) {
    ++draws;
    ASSERT_EQ(bitmap.Width(), W);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (red(x, y)) {
          std::uint8_t *px = bitmap.ScanLine(y) + 3 * x;
          px[0] = 0, px[1] = 0, px[2] = 255;
        }
  });
  const auto grey = [](int p, int x, int y) { return std::uint8_t(p ? 128 : 40 + (x * 3 + y * 5) % 170); };
  FramePtr picture = MakePicture(AV_PIX_FMT_YUV420P, W, H, grey);
  FramePtr source = MakePicture(AV_PIX_FMT_YUV420P, W, H, grey);
  Process(picture.get());
  EXPECT_EQ(draws, 1);
  // The regions grown to even edges: [150, 161) x [110, 121) and [0, 8) x [4, 14).
  const auto grown = [](int x, int y) { return (x >= 150 && y >= 110) || (x < 8 && y >= 4 && y < 14); };
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const int got = picture->data[0][y * picture->linesize[0] + x];
      const int was = source->data[0][y * source->linesize[0] + x];
      if (red(x, y)) {
        ASSERT_NEAR(got, 82, 2) << x << "," << y; // red's luma
      } else if (grown(x, y)) {
        ASSERT_NEAR(got, was, 2) << x << "," << y;
      } else {
        ASSERT_EQ(got, was) << x << "," << y;
      }
      if (x % 2 || y % 2) continue;
      const int u = picture->data[1][y / 2 * picture->linesize[1] + x / 2];
      const int v = picture->data[2][y / 2 * picture->linesize[2] + x / 2];
      const bool allRed = red(x, y) && (x + 1 >= W || red(x + 1, y)) && (y + 1 >= H || red(x, y + 1));
      if (allRed) {
        ASSERT_NEAR(v, 240, 2) << x << "," << y;
        ASSERT_NEAR(u, 90, 2) << x << "," << y;
      } else if (!grown(x, y)) {
        ASSERT_TRUE(u == 128 && v == 128) << x << "," << y;
      }
    }
  // No region: the handler is not called and the picture stays as it was.
  want.clear();
  FramePtr untouched = MakePicture(AV_PIX_FMT_YUV420P, W, H, grey);
  Process(untouched.get());
  EXPECT_EQ(draws, 1);
  EXPECT_EQ(PictureBytes(untouched.get()), PictureBytes(source.get()));
  EXPECT_EQ(plans, 2);
}

class VideoHookPluginTest : public VideoHooksTest {
protected:
  template <typename Fn> static Fn PluginFunction(const char *name) {
    void *module = ::dlopen(TOVI_TEST_VHOOK, RTLD_NOW | RTLD_NOLOAD);
    return module ? reinterpret_cast<Fn>(::dlsym(module, name)) : nullptr;
  }
  static int Released() { return PluginFunction<int (*)()>("TestReleased")(); }
  static int Processed() { return PluginFunction<int (*)()>("TestProcessed")(); }
};

TEST_F(VideoHookPluginTest, CommandLinesSplitAtBarsKeepSpaces) {
  EXPECT_EQ(SplitVideoHookCommandLine("/opt/hooks/draw text.so|-f|/usr/share/fonts/My Font.ttf"),
            (std::vector<std::string>{"/opt/hooks/draw text.so", "-f", "/usr/share/fonts/My Font.ttf"}));
  EXPECT_EQ(SplitVideoHookCommandLine("hook.so  -x 3"), (std::vector<std::string>{"hook.so", "-x", "3"}));
  std::string many = "hook.so";
  for (int i = 0; i < 80; ++i)
    many += " a" + std::to_string(i);
  const auto tokens = SplitVideoHookCommandLine(many);
  ASSERT_EQ(tokens.size(), 64u);
  EXPECT_EQ(tokens.back(), "a62");
}

TEST_F(VideoHookPluginTest, PluginsAreConfiguredRunOnEveryPictureAndReleased) {
  A::AddVideoHook(engine_, std::string(TOVI_TEST_VHOOK) + "|77|a b");
  EXPECT_TRUE(engine_.Job().UsingVideoHooks);
  ASSERT_EQ(PluginFunction<int (*)()>("TestArgCount")(), 3);
  EXPECT_STREQ(PluginFunction<const char *(*)(int)>("TestArg")(2), "a b");

  FramePtr picture = Gradient(AV_PIX_FMT_YUV420P, 32, 16);
  ist_.Pts = 123456;
  const int processedBefore = Processed();
  Process(picture.get());
  EXPECT_EQ(Processed(), processedBefore + 1);
  EXPECT_EQ(PluginFunction<std::int64_t (*)()>("TestLastPts")(), 123456);
  EXPECT_EQ(picture->data[0][5 * picture->linesize[0] + 7], 77);
  EXPECT_EQ(A::DecodedFrames(engine_), 1);

  const int releasedBefore = Released();
  engine_.FreeAll();
  EXPECT_EQ(Released(), releasedBefore + 1);
}

TEST_F(VideoHookPluginTest, WithoutConfigureOnlyTheFileNameIsAccepted) {
  const std::string lib = TOVI_TEST_VHOOK_NO_CONFIGURE;
  EXPECT_EQ(Raised([&] { A::AddVideoHook(engine_, lib); }), "");
  EXPECT_EQ(Raised([&] { A::AddVideoHook(engine_, lib + " extra"); }),
            "Failed to add video hook function: " + lib + " extra");
  EXPECT_TRUE(log_.Has(&TFFLogger::Instance(), llError, "Failed to find Configure entrypoint in " + lib));
}

TEST_F(VideoHookPluginTest, RefusedPlugins) {
  const std::string missing = "/nonexistent/folder/hook.so";
  EXPECT_EQ(Raised([&] { A::AddVideoHook(engine_, missing); }),
            "Failed to add video hook function: " + missing);
  EXPECT_EQ(Raised([&] { A::AddVideoHook(engine_, std::string(TOVI_TEST_VHOOK) + " fail"); }),
            "Failed to add video hook function: " + std::string(TOVI_TEST_VHOOK) + " fail");
  EXPECT_TRUE(
      log_.Has(&TFFLogger::Instance(), llError, "Failed to Configure " + std::string(TOVI_TEST_VHOOK)));
  EXPECT_FALSE(engine_.Job().UsingVideoHooks);
}

TEST_F(VideoHookPluginTest, StopHookEndsTheCustomHookAndThePluginsForTheJob) {
  A::AddVideoHook(engine_, std::string(TOVI_TEST_VHOOK) + " 9");
  int calls = 0;
  engine_.SetOnCustomHook([&](TCustomFFmpeg &, TBitmap &, int, std::int64_t, bool &update, bool &stopHook) {
    ++calls;
    update = false;
    stopHook = true;
  });
  FramePtr picture = Gradient(AV_PIX_FMT_YUV420P, 32, 16);
  const int processedBefore = Processed();
  Process(picture.get());
  Process(picture.get());
  Process(picture.get());
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(engine_.HasCustomHook());
  EXPECT_FALSE(engine_.Job().UsingVideoHooks);
  EXPECT_EQ(Processed(), processedBefore); // the custom hook had the picture, then nobody
  EXPECT_EQ(A::DecodedFrames(engine_), 3);
}

TEST_F(VideoHooksTest, DeinterlacingSmoothsCombingOfPlanarYuv) {
  engine_.ParseOption("deinterlace", "1");
  // Two fields far apart: every other line bright.
  FramePtr picture = MakePicture(AV_PIX_FMT_YUV420P, 64, 32, [](int p, int, int y) {
    return std::uint8_t(p ? 128 : (y % 2 ? 200 : 40));
  });
  Process(picture.get());
  EXPECT_FALSE(log_.Has(&engine_, llError, "Deinterlacing failed."));
  int maxStep = 0;
  for (int y = 4; y < 28; ++y)
    maxStep = std::max(maxStep, std::abs(picture->data[0][y * picture->linesize[0] + 10] -
                                         picture->data[0][(y + 1) * picture->linesize[0] + 10]));
  EXPECT_LT(maxStep, 80); // was 160
  EXPECT_EQ(picture->width, 64);
  EXPECT_EQ(picture->format, AV_PIX_FMT_YUV420P);

  // Packed RGB has no fields to filter: the picture stays as decoded.
  FramePtr rgb = Gradient(AV_PIX_FMT_RGB24, 32, 16);
  const auto before = PictureBytes(rgb.get());
  Process(rgb.get());
  EXPECT_TRUE(log_.Has(&engine_, llError, "Deinterlacing failed."));
  EXPECT_EQ(PictureBytes(rgb.get()), before);
}

TEST_F(VideoHooksTest, VideoStreamCopyIsRefusedWithACustomHook) {
  ASSERT_TRUE(engine_.AddInputFile(FixturePath("h264_aac.mp4"))) << engine_.LastErrorText();
  engine_.SetVideoCodec("copy");
  engine_.SetAudioDisabled(true);
  TempDir dir;
  ASSERT_GE(engine_.AddOutputFile(dir.file("copy.mp4"), false), 1) << engine_.LastErrorText();
  engine_.SetOnCustomHook([](TCustomFFmpeg &, TBitmap &, int, std::int64_t, bool &, bool &) {});
  EXPECT_EQ(Raised([&] { engine_.TranscodeSetup(); }),
            "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
}

} // namespace
} // namespace tovi::test
