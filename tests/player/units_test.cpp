// The pieces of the player that can be driven without a file: the event ring, the
// packet queues, the wave display (drawn by SDL's software renderer), the picture on
// screen before the first one, the choice of decoded pictures while catching up, and a
// picture drawn through the software renderer.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "media/Owners.h"
#include "player/EventRing.h"
#include "player/PacketQueue.h"
#include "player/PlayerCore.h"
#include "support/TestMedia.h"

using namespace tovi;

TEST(EventRing, ConsecutiveEventsOfOneKindMergeIntoTheNewest) {
  TEventRing ring;
  ring.Post({pekPosition, 0, 100});
  ring.Post({pekPosition, 0, 200});
  TPlayerEvent ev = ring.Take();
  EXPECT_EQ(ev.Kind, pekPosition);
  EXPECT_EQ(ev.PTS, 200);
  EXPECT_EQ(ring.Take().Kind, pekNone);
  EXPECT_FALSE(ring.WaitNotEmpty(0));

  // A state between two positions keeps all three, in order.
  ring.Post({pekPosition, 0, 1});
  ring.Post({pekState, psPause, 0});
  ring.Post({pekPosition, 0, 2});
  EXPECT_TRUE(ring.WaitNotEmpty(0));
  ev = ring.Take();
  EXPECT_EQ(ev.Kind, pekPosition);
  EXPECT_EQ(ev.PTS, 1);
  ev = ring.Take();
  EXPECT_EQ(ev.Kind, pekState);
  EXPECT_EQ(ev.State, psPause);
  ev = ring.Take();
  EXPECT_EQ(ev.PTS, 2);
  EXPECT_EQ(ring.Take().Kind, pekNone);

  // Two states in a row merge as well: the newer state wins.
  ring.Post({pekState, psPlay, 0});
  ring.Post({pekState, psEnd, 0});
  EXPECT_EQ(ring.Take().State, psEnd);
}

TEST(EventRing, AFullRingDropsTheOldestAndHoldsNine) {
  TEventRing ring;
  for (int i = 0; i < 12; ++i)
    ring.Post({i % 2 ? pekState : pekPosition, i, i});
  std::vector<int> seen;
  for (TPlayerEvent ev = ring.Take(); ev.Kind != pekNone; ev = ring.Take())
    seen.push_back(static_cast<int>(ev.PTS));
  ASSERT_EQ(seen.size(), 9u);
  EXPECT_EQ(seen.front(), 3);
  EXPECT_EQ(seen.back(), 11);
}

TEST(EventRing, AWaitingTakerWakesOnPost) {
  TEventRing ring;
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ring.Post({pekTerminate, 0, 0});
  });
  EXPECT_TRUE(ring.WaitNotEmpty(2000));
  EXPECT_EQ(ring.Take().Kind, pekTerminate);
  producer.join();
}

class PacketQueueTest : public ::testing::Test {
protected:
  void SetUp() override { test::LoadPlayerLibraries(); }
};

TEST_F(PacketQueueTest, CountsBytesKeepsOrderAndPassesTheFlushMarkerByIdentity) {
  TPacketQueue q;
  q.Init();
  PacketPtr pkt = MakePacket();
  ASSERT_EQ(ff::av_new_packet(pkt.get(), 100), 0);
  pkt->pts = 7;
  PacketPtr flush = MakePacket();
  InitFlushPacket(flush.get());
  ASSERT_EQ(q.Put(flush.get()), 0);
  ASSERT_EQ(q.Put(pkt.get()), 0);
  EXPECT_EQ(q.PacketCount(), 2);
  EXPECT_EQ(q.Size(), 100 + 2 * TPacketQueue::NODE_BYTES);

  // The queue holds its own reference: the producer may reuse its packet at once.
  ff::av_packet_unref(pkt.get());
  PacketPtr out = MakePacket();
  ASSERT_EQ(q.Get(out.get(), false), 1);
  EXPECT_TRUE(IsFlushPacket(out.get()));
  ASSERT_EQ(q.Get(out.get(), false), 1);
  EXPECT_FALSE(IsFlushPacket(out.get()));
  EXPECT_EQ(out->size, 100);
  EXPECT_EQ(out->pts, 7);
  EXPECT_EQ(q.Size(), 0);
  EXPECT_EQ(q.Get(out.get(), false), 0);
  ff::av_packet_unref(out.get());
}

TEST_F(PacketQueueTest, AbortWakesABlockedGetAndFlushEmpties) {
  TPacketQueue q;
  q.Init();
  PacketPtr pkt = MakePacket();
  ASSERT_EQ(ff::av_new_packet(pkt.get(), 10), 0);
  q.Put(pkt.get());
  q.Put(pkt.get());
  q.Flush();
  EXPECT_EQ(q.PacketCount(), 0);
  EXPECT_EQ(q.Size(), 0);

  int result = 0;
  std::thread consumer([&] {
    PacketPtr out = MakePacket();
    result = q.Get(out.get(), true);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  q.Abort();
  consumer.join();
  EXPECT_EQ(result, -1);
  PacketPtr out = MakePacket();
  EXPECT_EQ(q.Get(out.get(), false), -1);
}

// The wave display, drawn into a memory surface through SDL's software renderer.
class WaveDisplayTest : public ::testing::Test {
protected:
  static constexpr int W = 200, H = 100;
  void SetUp() override {
    test::LoadPlayerLibraries();
    surface_ = ff::SDL_CreateRGBSurfaceWithFormat(0, W, H, 32, SDL_PIXELFORMAT_ARGB8888);
    ASSERT_NE(surface_, nullptr);
    player_ = std::make_unique<TFFPlayer>();
    core_ = std::make_unique<TPlayerCore>(player_.get());
    core_->surface.renderer.reset(ff::SDL_CreateSoftwareRenderer(surface_));
    ASSERT_TRUE(core_->surface.renderer);
    ctx_ = std::make_unique<TPlayContext>();
    ctx_->player = core_.get();
    ctx_->width = W;
    ctx_->height = H;
    ctx_->audioRate = 44100;
    ctx_->sampleArray.assign(SAMPLE_ARRAY_SIZE, 0);
  }
  void TearDown() override {
    ctx_.reset();
    core_.reset();
    player_.reset();
    if (surface_) ff::SDL_FreeSurface(surface_);
  }
  // Interleaved samples: channel 0 a sine of a few cycles across the display, the
  // others silent.
  void FillRing(int channels) {
    ctx_->audioChannels = channels;
    std::vector<std::int16_t> samples(4096 * channels, 0);
    for (int i = 0; i < 4096; ++i)
      samples[i * channels] = static_cast<std::int16_t>(20000 * std::sin(i * 2 * M_PI / 50.0));
    WaveRingUpdate(*ctx_, samples.data(), static_cast<int>(samples.size()));
  }
  bool White(int x, int y) const {
    const auto *row = static_cast<const std::uint32_t *>(surface_->pixels) + y * (surface_->pitch / 4);
    return (row[x] & 0xFFFFFF) == 0xFFFFFF;
  }
  int WhiteInRows(int y0, int y1) const {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < W; ++x)
        n += White(x, y);
    return n;
  }

  SDL_Surface *surface_ = nullptr;
  std::unique_ptr<TFFPlayer> player_;
  std::unique_ptr<TPlayerCore> core_;
  std::unique_ptr<TPlayContext> ctx_;
};

TEST_F(WaveDisplayTest, StereoShowsTwoBandsSeparatedByAWhiteLine) {
  FillRing(2);
  DrawWave(*ctx_);
  const int band = H / 2;
  for (int x = 0; x < W; ++x)
    ASSERT_TRUE(White(x, band)) << "separator at column " << x;
  // The sine swings both ways around the first band's centre; the silent channel
  // draws nothing.
  EXPECT_GT(WhiteInRows(0, band / 2 - 2), 0);
  EXPECT_GT(WhiteInRows(band / 2 + 2, band), 0);
  EXPECT_EQ(WhiteInRows(band + 1, H), 0);
  // Bars stay inside their band: amplitude 9/20 of the band height.
  EXPECT_EQ(WhiteInRows(0, band / 2 - band * 9 / 20 - 1), 0);
}

TEST_F(WaveDisplayTest, MonoShowsOneBandWithoutSeparator) {
  FillRing(1);
  DrawWave(*ctx_);
  EXPECT_GT(WhiteInRows(0, H / 2 - 2), 0);
  EXPECT_GT(WhiteInRows(H / 2 + 2, H), 0);
  int fullRows = 0;
  for (int y = 0; y < H; ++y) {
    int n = 0;
    for (int x = 0; x < W; ++x)
      n += White(x, y);
    fullRows += n == W;
  }
  EXPECT_EQ(fullRows, 0);
}

TEST_F(WaveDisplayTest, WhilePausedTheSameSamplesAreRedrawn) {
  FillRing(1);
  DrawWave(*ctx_);
  std::vector<std::uint32_t> first(static_cast<const std::uint32_t *>(surface_->pixels),
                                   static_cast<const std::uint32_t *>(surface_->pixels) + W * H);
  ctx_->paused = true;
  // New samples arrive, but the paused display keeps its start.
  std::vector<std::int16_t> more(777, 12345);
  WaveRingUpdate(*ctx_, more.data(), static_cast<int>(more.size()));
  DrawWave(*ctx_);
  std::vector<std::uint32_t> second(static_cast<const std::uint32_t *>(surface_->pixels),
                                    static_cast<const std::uint32_t *>(surface_->pixels) + W * H);
  EXPECT_EQ(first, second);
}

// The picture on screen before anything was decoded: there is none, so a snapshot must
// not get a black picture that passes for one.
TEST(CurrentFrame, BeforeTheFirstPictureThereIsNoneRatherThanABlackOne) {
  test::LoadPlayerLibraries();
  TFFPlayer player;
  TPlayerCore core(&player);
  FormatContextPtr format(ff::avformat_alloc_context());
  AVStream *stream = ff::avformat_new_stream(format.get(), nullptr);
  ASSERT_NE(stream, nullptr);
  stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  stream->codecpar->width = 176;
  stream->codecpar->height = 144;
  auto ctx = std::make_unique<TPlayContext>();
  ctx->player = &core;
  ctx->videoStreamIndex = 0;
  ctx->videoSt = stream;
  core.ctx = ctx.get();
  std::int64_t pts = 123;
  const TBitmap *frame = SnapshotFrame(core, pts);
  core.ctx = nullptr;
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->Width(), 0);
  EXPECT_EQ(frame->Height(), 0);
  EXPECT_EQ(pts, -1);
}

// Catching up, the decoder keeps only some pictures; a step must still show the very next
// one, or a single step moves two pictures on.
TEST(SkippedPictures, CatchingUpKeepsOneInTwoButAStepKeepsEachPicture) {
  test::LoadPlayerLibraries(); // the context frees its library objects
  TPlayContext ctx;
  ctx.skipFrames = 2;
  int kept = 0;
  for (int i = 0; i < 10; ++i)
    kept += KeepDecodedPicture(ctx, false);
  EXPECT_EQ(kept, 5);
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(KeepDecodedPicture(ctx, true)) << i;
}

// A software renderer gets each picture converted and scaled to the rectangle it is drawn
// in. A 4:3 picture with a colour in each quadrant, shown in a wider display and redrawn
// at two forced aspect ratios (one wider, one so wide that the bars go above and below):
// each time the bars must be black and each quadrant must keep its colour and place.
TEST(SoftwareDisplay, EachQuadrantLandsInPlaceBetweenBlackBarsAtEveryShape) {
  test::LoadPlayerLibraries();
  // 336 x 126 draws the picture 168 wide: not a multiple of the texture's row blocks.
  constexpr int W = 336, H = 126, PW = 320, PH = 240;
  SDL_Surface *window = ff::SDL_CreateRGBSurfaceWithFormat(0, W, H, 32, SDL_PIXELFORMAT_ARGB8888);
  ASSERT_NE(window, nullptr);
  struct TFree {
    SDL_Surface *s;
    ~TFree() { ff::SDL_FreeSurface(s); }
  } freeWindow{window};
  TFFPlayer player;
  TPlayerCore core(&player);
  core.surface.renderer.reset(ff::SDL_CreateSoftwareRenderer(window));
  ASSERT_TRUE(core.surface.renderer);
  ChooseUpload(core.surface);
  ASSERT_TRUE(core.surface.software);

  // Red, green / blue, white in limited-range BT.601.
  struct TColour {
    std::uint8_t y, u, v, r, g, b;
  };
  const TColour quadrant[4] = {{81, 90, 240, 255, 0, 0},
                               {145, 54, 34, 0, 255, 0},
                               {41, 240, 110, 0, 0, 255},
                               {235, 128, 128, 255, 255, 255}};
  FramePtr picture = MakeFrame();
  picture->format = AV_PIX_FMT_YUV420P;
  picture->width = PW;
  picture->height = PH;
  ASSERT_GE(ff::av_frame_get_buffer(picture.get(), 0), 0);
  for (int p = 0; p < 3; ++p) {
    const int shift = p ? 1 : 0;
    for (int y = 0; y < PH >> shift; ++y)
      for (int x = 0; x < PW >> shift; ++x) {
        const TColour &c = quadrant[(y >= (PH >> shift) / 2) * 2 + (x >= (PW >> shift) / 2)];
        picture->data[p][y * picture->linesize[p] + x] = p == 0 ? c.y : p == 1 ? c.u : c.v;
      }
  }

  auto ctx = std::make_unique<TPlayContext>();
  ctx->player = &core;
  ctx->videoStreamIndex = 0;
  ctx->width = W;
  ctx->height = H;
  TVideoPicture &vp = ctx->pictq[0];
  vp.Take(picture.get());
  vp.width = PW;
  vp.height = PH;
  vp.sampleAspect = {1, 1};
  vp.targetClock = WallClockSeconds(); // due now, and not late: the next is far off
  ctx->videoClock = 100;
  ctx->pictqSize = 1;
  RefreshTick(*ctx, TRefreshMode::Dequeue);
  ASSERT_EQ(core.shownPictures.load(), 1);

  const auto pixel = [&](int x, int y) {
    const std::uint32_t v = static_cast<const std::uint32_t *>(window->pixels)[y * (window->pitch / 4) + x];
    return std::array<int, 3>{static_cast<int>((v >> 16) & 255), static_cast<int>((v >> 8) & 255),
                              static_cast<int>(v & 255)};
  };
  const auto near = [](std::array<int, 3> got, int r, int g, int b) {
    return std::abs(got[0] - r) <= 12 && std::abs(got[1] - g) <= 12 && std::abs(got[2] - b) <= 12;
  };
  // The picture must fill exactly `rect`: black one pixel outside it, each quadrant's
  // colour two pixels inside each of its edges.
  const auto check = [&](const SDL_Rect &rect, const char *shape) {
    SCOPED_TRACE(shape);
    const int midX = rect.x + rect.w / 2, midY = rect.y + rect.h / 2;
    if (rect.x > 0)
      for (int y : {0, H / 2, H - 1}) {
        EXPECT_TRUE(near(pixel(rect.x - 1, y), 0, 0, 0)) << "left bar at y " << y;
        EXPECT_TRUE(near(pixel(rect.x + rect.w, y), 0, 0, 0)) << "right bar at y " << y;
      }
    if (rect.y > 0)
      for (int x : {0, W / 2, W - 1}) {
        EXPECT_TRUE(near(pixel(x, rect.y - 1), 0, 0, 0)) << "top bar at x " << x;
        EXPECT_TRUE(near(pixel(x, rect.y + rect.h), 0, 0, 0)) << "bottom bar at x " << x;
      }
    for (int q = 0; q < 4; ++q) {
      const int x0 = q % 2 ? midX : rect.x, x1 = q % 2 ? rect.x + rect.w : midX;
      const int y0 = q / 2 ? midY : rect.y, y1 = q / 2 ? rect.y + rect.h : midY;
      for (int x : {x0 + 2, (x0 + x1) / 2, x1 - 3})
        for (int y : {y0 + 2, (y0 + y1) / 2, y1 - 3}) {
          const auto got = pixel(x, y);
          EXPECT_TRUE(near(got, quadrant[q].r, quadrant[q].g, quadrant[q].b))
              << "quadrant " << q << " at " << x << "," << y << ": " << got[0] << " " << got[1] << " "
              << got[2];
        }
    }
  };
  check({84, 0, 168, 126}, "4:3 in a wider display");
  core.aspectRatio = 2.0f;
  DisplayPicture(*ctx);
  check({42, 0, 252, 126}, "forced 2:1");
  core.aspectRatio = 4.0f;
  DisplayPicture(*ctx);
  check({0, 21, 336, 84}, "forced 4:1, bars above and below");
}
