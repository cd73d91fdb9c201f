// Whole conversions through the filter graph, the custom hook, the previews and the
// audio volume, checked by decoding the written files again.
#include <gtest/gtest.h>

#include <cstring>

#include "TranscodeTestSupport.h"
#include "media/Bitmap.h"

namespace tovi::test {
namespace {

// Every decoded picture's luma plane (rows without padding) of the first video stream.
std::vector<std::vector<std::uint8_t>> LumaPlanes(const std::string &path, int *width = nullptr) {
  std::vector<std::vector<std::uint8_t>> planes;
  AVFormatContext *raw = nullptr;
  if (ff::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return planes;
  InputFormatContextPtr ic(raw);
  {
    std::lock_guard lock(CodecLock());
    if (ff::avformat_find_stream_info(ic.get(), nullptr) < 0) return planes;
  }
  const int index = ff::av_find_best_stream(ic.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) return planes;
  const AVCodecParameters *par = ic->streams[index]->codecpar;
  const AVCodec *codec = ff::avcodec_find_decoder(par->codec_id);
  CodecContextPtr dec(ff::avcodec_alloc_context3(codec));
  ff::avcodec_parameters_to_context(dec.get(), par);
  {
    std::lock_guard lock(CodecLock());
    if (ff::avcodec_open2(dec.get(), codec, nullptr) < 0) return planes;
  }
  FramePtr frame = MakeFrame();
  PacketPtr packet = MakePacket();
  const auto keep = [&](AVFrame *f) {
    if (width) *width = f->width;
    std::vector<std::uint8_t> plane;
    for (int y = 0; y < f->height; ++y)
      plane.insert(plane.end(), f->data[0] + y * f->linesize[0], f->data[0] + y * f->linesize[0] + f->width);
    planes.push_back(std::move(plane));
    return 0;
  };
  while (ff::av_read_frame(ic.get(), packet.get()) >= 0) {
    if (packet->stream_index == index) DecodeAndReceive(dec.get(), packet.get(), frame.get(), keep);
    ff::av_packet_unref(packet.get());
  }
  DecodeAndReceive(dec.get(), nullptr, frame.get(), keep);
  return planes;
}

using Options = std::vector<std::pair<std::string, std::string>>;
// Lossless video, so that what the hook did reaches the file unchanged.
const Options kLossless = {{"i", "h264_aac.mp4"}, {"vcodec", "huffyuv"}, {"an", "1"}};

class FrameWorkTranscodeTest : public TranscodeTest {};

TEST_F(FrameWorkTranscodeTest, HookThatDoesNotUpdateLeavesTheConversionAsItWas) {
  // The plain conversion first, on an engine of its own.
  const std::string plain = Out("plain.avi");
  {
    TCustomFFmpeg other;
    other.Reset();
    ASSERT_TRUE(other.AddInputFile(FixturePath("h264_aac.mp4")));
    other.ParseOption("vcodec", "huffyuv");
    other.ParseOption("an", "1");
    ASSERT_GE(other.AddOutputFile(plain, false), 1);
    other.Start(false);
    ASSERT_TRUE(other.CompletedNormally()) << other.ErrorMessage();
  }
  int calls = 0;
  engine_.SetOnCustomHook([&](TCustomFFmpeg &, TBitmap &bitmap, int, std::int64_t, bool &update, bool &) {
    ++calls;
    std::memset(bitmap.ScanLine(0), 0, bitmap.RowBytes());
    update = false;
  });
  ASSERT_TRUE(Configure(kLossless, Out("hooked.avi")));
  ASSERT_TRUE(RunJob());
  const auto expected = LumaPlanes(plain);
  ASSERT_EQ(expected.size(), 50u);
  EXPECT_EQ(calls, 50);
  EXPECT_TRUE(LumaPlanes(Out("hooked.avi")) == expected);
}

TEST_F(FrameWorkTranscodeTest, HookDrawsAKnownRectangleIntoEveryFrame) {
  std::vector<int> frameNumbers;
  engine_.SetOnCustomHook([&](TCustomFFmpeg &, TBitmap &bitmap, int frame, std::int64_t, bool &, bool &) {
    frameNumbers.push_back(frame);
    for (int y = 80; y < 120; ++y)
      for (int x = 40; x < 100; ++x)
        std::memset(bitmap.ScanLine(y) + 3 * x, 255, 3); // white
  });
  ASSERT_TRUE(Configure(kLossless, Out("rect.avi")));
  ASSERT_TRUE(RunJob());
  ASSERT_EQ(frameNumbers.size(), 50u);
  EXPECT_EQ(frameNumbers.front(), 1);
  EXPECT_EQ(frameNumbers.back(), 50);
  int width = 0;
  const auto planes = LumaPlanes(Out("rect.avi"), &width);
  ASSERT_EQ(planes.size(), 50u);
  ASSERT_EQ(width, 176);
  for (const auto &plane : planes)
    for (int y = 81; y < 119; ++y)
      for (int x = 41; x < 99; ++x)
        ASSERT_NEAR(plane[std::size_t(y * width + x)], 235, 2) << x << "," << y;
  // The test pattern outside the rectangle still tells the frame numbers.
  const FileSummary summary = ReadOutput(Out("rect.avi"));
  ASSERT_NE(summary.First(AVMEDIA_TYPE_VIDEO), nullptr);
  EXPECT_TRUE(Consecutive(summary.First(AVMEDIA_TYPE_VIDEO)->PatternFrames, 0));
}

TEST_F(FrameWorkTranscodeTest, StopHookEndsHookingButNotTheJob) {
  int calls = 0;
  engine_.SetOnCustomHook([&](TCustomFFmpeg &, TBitmap &, int, std::int64_t, bool &, bool &stopHook) {
    stopHook = ++calls == 3;
  });
  ASSERT_TRUE(Configure(kLossless, Out("stop.avi")));
  ASSERT_TRUE(RunJob());
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(LumaPlanes(Out("stop.avi")).size(), 50u);
}

TEST_F(FrameWorkTranscodeTest, CropAndScaleThroughTheFilterGraph) {
  ASSERT_TRUE(Configure({{"i", "h264_aac.mp4"},
                         {"vcodec", "mpeg4"},
                         {"an", "1"},
                         {"croptop", "8"},
                         {"cropbottom", "8"},
                         {"cropleft", "16"},
                         {"cropright", "16"},
                         {"s", "288x256"},
                         {"vf", "null"}},
                        Out("cropscale.avi")));
  ASSERT_TRUE(RunJob());
  const FileSummary summary = ReadOutput(Out("cropscale.avi"));
  const StreamSummary *video = summary.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->Width, 288);
  EXPECT_EQ(video->Height, 256);
  EXPECT_EQ(video->Frames, 50);
}

TEST_F(FrameWorkTranscodeTest, PadGraphTextFramesThePicture) {
  ASSERT_TRUE(Configure(
      {{"i", "h264_aac.mp4"}, {"vcodec", "huffyuv"}, {"an", "1"}, {"vf", "pad=208:176:16:16:black"}},
      Out("pad.avi")));
  ASSERT_TRUE(RunJob());
  int width = 0;
  const auto planes = LumaPlanes(Out("pad.avi"), &width);
  ASSERT_EQ(planes.size(), 50u);
  ASSERT_EQ(width, 208);
  const auto plain = LumaPlanes(FixturePath("h264_aac.mp4"));
  ASSERT_EQ(plain.size(), 50u);
  for (std::size_t f = 0; f < planes.size(); f += 7) {
    EXPECT_EQ(planes[f][std::size_t(5 * width + 5)], 16);     // border
    EXPECT_EQ(planes[f][std::size_t(170 * width + 200)], 16); // border
    for (int y = 0; y < 144; y += 11)
      for (int x = 0; x < 176; x += 13)
        ASSERT_EQ(planes[f][std::size_t((y + 16) * width + x + 16)], plain[f][std::size_t(y * 176 + x)]);
  }
}

TEST_F(FrameWorkTranscodeTest, PreviewsDuringAConversion) {
  int previews = 0;
  int lastFrame = 0;
  engine_.SetOnPreviewBitmap([&](TCustomFFmpeg &, const TBitmap &bitmap, int frame, std::int64_t) {
    ++previews;
    lastFrame = frame;
    EXPECT_EQ(bitmap.Width(), 176);
  });
  engine_.SetPreviewFlags(PREVIEW_BITMAP);
  ASSERT_TRUE(
      Configure({{"i", "h264_aac.mp4"}, {"vcodec", "mpeg4"}, {"an", "1"}, {"re", "1"}}, Out("previews.avi")));
  ASSERT_TRUE(RunJob());
  // Two seconds in real time: about one preview per 100 ms, never more.
  EXPECT_GE(previews, 5);
  EXPECT_LE(previews, 22);
  EXPECT_GT(lastFrame, 0);
}

TEST_F(FrameWorkTranscodeTest, VolumeHalvesTheLevelAndDeinterlacingKeepsEveryFrame) {
  ASSERT_TRUE(
      Configure({{"i", "h264_aac.mp4"}, {"vcodec", "mpeg4"}, {"acodec", "pcm_s16le"}}, Out("plain.avi")));
  ASSERT_TRUE(RunJob());
  const double plainRms = ReadOutput(Out("plain.avi")).First(AVMEDIA_TYPE_AUDIO)->Rms;

  TCustomFFmpeg quiet;
  quiet.Reset();
  ASSERT_TRUE(quiet.AddInputFile(FixturePath("h264_aac.mp4")));
  quiet.ParseOption("vcodec", "mpeg4");
  quiet.ParseOption("acodec", "pcm_s16le");
  quiet.ParseOption("vol", "128");
  quiet.ParseOption("deinterlace", "1");
  ASSERT_GE(quiet.AddOutputFile(Out("quiet.avi"), false), 1);
  quiet.Start(false);
  ASSERT_TRUE(quiet.CompletedNormally()) << quiet.ErrorMessage();
  const FileSummary summary = ReadOutput(Out("quiet.avi"));
  EXPECT_NEAR(summary.First(AVMEDIA_TYPE_AUDIO)->Rms / plainRms, 0.5, 0.02);
  EXPECT_EQ(summary.First(AVMEDIA_TYPE_VIDEO)->Frames, 50);
}

} // namespace
} // namespace tovi::test
