// The video filter graph built at set-up: crop, scale and a graph text between the
// engine's source and sink, checked on the encoder's size and on filtered pixels.
#include <gtest/gtest.h>

#include "engine/EngineStepsAccess.h"
#include "engine/EngineTestSupport.h"
#include "engine/TranscodeTestSupport.h"

namespace tovi::test {
namespace {

using A = TEngineStepsAccess;

class VideoFiltersTest : public EngineTest {
protected:
  // h264_aac.mp4 (176x144 yuv420p) into MPEG-4 video with the settings made by `prepare`.
  template <typename F> void SetUpJob(F &&prepare) {
    ASSERT_TRUE(engine_.AddInputFile(FixturePath("h264_aac.mp4"))) << engine_.LastErrorText();
    engine_.SetVideoCodec("mpeg4");
    engine_.SetAudioDisabled(true);
    prepare();
    ASSERT_GE(engine_.AddOutputFile(dir_.file("out.avi"), false), 1) << engine_.LastErrorText();
    ASSERT_EQ(Raised([&] { engine_.TranscodeSetup(); }), "");
    ost_ = &A::Tables(engine_).OutputStreams.at(0);
    ist_ = &A::Tables(engine_).InputStreams.at(static_cast<std::size_t>(ost_->SourceIndex));
    ASSERT_TRUE(ist_->FilterGraph);
  }
  // One picture through the graph; the filtered one or null.
  const AVFrame *Filter(AVFrame *picture, std::int64_t ptsUs) {
    if (!A::PushFilterFrame(engine_, *ist_, picture, ptsUs)) return nullptr;
    return A::PullFilteredFrame(engine_, *ist_) ? ist_->FilteredPicture.get() : nullptr;
  }
  static int Y(const AVFrame *f, int x, int y) { return f->data[0][y * f->linesize[0] + x]; }

  TempDir dir_;
  TOutputStreamRecord *ost_ = nullptr;
  TInputStreamRecord *ist_ = nullptr;
};

// Luma tells the position: 8 * column block + row block, distinct for every 8x8 block.
FramePtr Positions() {
  return MakePicture(AV_PIX_FMT_YUV420P, 176, 144,
                     [](int p, int x, int y) { return std::uint8_t(p ? 128 : 16 + (x / 8) * 9 + (y / 8)); });
}

TEST_F(VideoFiltersTest, CropKeepsThePictureInsideTheBands) {
  SetUpJob([&] {
    engine_.SetCropLeft(16);
    engine_.SetCropTop(8);
    engine_.SetCropRight(0);
    engine_.SetCropBottom(8);
    engine_.SetFrameSize("160x128");
    engine_.SetVideoFilters("null");
  });
  EXPECT_EQ(ost_->Encoder->width, 160);
  EXPECT_EQ(ost_->Encoder->height, 128);
  FramePtr picture = Positions();
  const AVFrame *out = Filter(picture.get(), 40000);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->width, 160);
  EXPECT_EQ(out->height, 128);
  EXPECT_EQ(out->pts, 40000);
  EXPECT_EQ(ist_->Pts, 40000);
  for (int y = 0; y < 128; y += 7)
    for (int x = 0; x < 160; x += 5)
      ASSERT_EQ(Y(out, x, y), Y(picture.get(), x + 16, y + 8)) << x << "," << y;
}

TEST_F(VideoFiltersTest, CropThenScaleToTheEncodersSize) {
  SetUpJob([&] {
    engine_.SetCropLeft(8);
    engine_.SetCropRight(8);
    engine_.SetCropTop(8);
    engine_.SetCropBottom(8);
    engine_.SetFrameSize("320x256");
    engine_.SetVideoFilters("null");
  });
  EXPECT_EQ(ost_->Encoder->width, 320);
  EXPECT_EQ(ost_->Encoder->height, 256);
  // Bright inside the bands, dark in them: nothing of the bands may reach the output.
  FramePtr picture = MakePicture(AV_PIX_FMT_YUV420P, 176, 144, [](int p, int x, int y) {
    return std::uint8_t(p ? 128 : (x >= 8 && x < 168 && y >= 8 && y < 136) ? 200 : 16);
  });
  const AVFrame *out = Filter(picture.get(), 0);
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(out->width, 320);
  for (int y = 0; y < 256; y += 3)
    for (int x = 0; x < 320; x += 3)
      ASSERT_NEAR(Y(out, x, y), 200, 1) << x << "," << y;
}

TEST_F(VideoFiltersTest, PadGraphTextSetsTheEncodersSizeAndPlacesThePicture) {
  SetUpJob([&] { engine_.SetVideoFilters("pad=200:160:10:8:black"); });
  EXPECT_EQ(ost_->Encoder->width, 200);
  EXPECT_EQ(ost_->Encoder->height, 160);
  FramePtr picture = Positions();
  const AVFrame *out = Filter(picture.get(), 0);
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(out->format, ost_->Encoder->pix_fmt);
  EXPECT_EQ(Y(out, 10, 8), Y(picture.get(), 0, 0));
  EXPECT_EQ(Y(out, 185, 151), Y(picture.get(), 175, 143));
  EXPECT_EQ(Y(out, 5, 80), 16); // black border
  EXPECT_EQ(Y(out, 199, 159), 16);
}

TEST_F(VideoFiltersTest, TheSinkHoldsPicturesToTheEncodersPixelFormat) {
  SetUpJob([&] {
    engine_.SetVideoCodec("huffyuv");
    engine_.ParseOption("pix_fmt", "yuv422p");
    engine_.SetVideoFilters("null");
  });
  ASSERT_EQ(ost_->Encoder->pix_fmt, AV_PIX_FMT_YUV422P);
  FramePtr picture = Positions();
  const AVFrame *out = Filter(picture.get(), 0);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->format, AV_PIX_FMT_YUV422P);
  EXPECT_FALSE(A::PullFilteredFrame(engine_, *ist_)); // one in, one out
}

TEST_F(VideoFiltersTest, ABadGraphTextFailsWithTheReason) {
  SetUpJob([&] { engine_.SetVideoFilters("null"); });
  A::Pending(engine_).VideoFilters = "scale=w=";
  TInputStreamRecord ist = {};
  ist.Decoder = ist_->Decoder;
  EXPECT_EQ(A::ConfigureFilters(engine_, ist, *ost_), -1);
  EXPECT_NE(engine_.LastErrorText().find("scale=w="), std::string::npos) << engine_.LastErrorText();
  EXPECT_FALSE(ist.FilterGraph);
}

// The picture shape a player shows for the first video stream of `path`: width x sample
// aspect / height (an unknown sample aspect counts as square), 0 when unreadable.
double DisplayShape(const std::string &path) {
  AVFormatContext *raw = nullptr;
  if (ff::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return 0;
  InputFormatContextPtr ic(raw);
  {
    std::lock_guard lock(CodecLock());
    if (ff::avformat_find_stream_info(ic.get(), nullptr) < 0) return 0;
  }
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    AVStream *st = ic->streams[i];
    if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || st->codecpar->height <= 0) continue;
    const AVRational sar = ff::av_guess_sample_aspect_ratio(ic.get(), st, nullptr);
    const double pixel = sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0;
    return st->codecpar->width * pixel / st->codecpar->height;
  }
  return 0;
}

// Crop bands take lines away; the pixels keep their shape, with the engine's scaler and
// through a filter graph alike. An aspect given before the bands is what the user wants
// to see and stays.
class CropBandsTest : public TranscodeTest {
protected:
  // h264_aac.mp4 (176x144, square pixels) with 40 lines cropped at the top and bottom.
  double CroppedShape(std::vector<std::pair<std::string, std::string>> extra) {
    std::vector<std::pair<std::string, std::string>> options{
        {"i", "h264_aac.mp4"}, {"an", "1"}, {"vcodec", "mpeg4"}};
    options.insert(options.end(), extra.begin(), extra.end());
    options.insert(options.end(), {{"croptop", "40"}, {"cropbottom", "40"}});
    const std::string out = Out("out.mp4");
    if (!Configure(options, out) || !RunJob()) return 0;
    const FileSummary summary = ReadOutput(out); // First() points into it
    const StreamSummary *v = summary.First(AVMEDIA_TYPE_VIDEO);
    EXPECT_TRUE(v && v->Height == 64);
    return DisplayShape(out);
  }
};

TEST_F(CropBandsTest, KeepThePixelsShapeThroughTheScaler) {
  EXPECT_NEAR(CroppedShape({}), 176.0 / 64, 0.02) << "176x64 of square pixels";
}

TEST_F(CropBandsTest, KeepThePixelsShapeThroughAFilterGraph) {
  EXPECT_NEAR(CroppedShape({{"vf", "null"}}), 176.0 / 64, 0.02) << "176x64 of square pixels";
}

TEST_F(CropBandsTest, LeaveAnAskedForAspectAlone) {
  EXPECT_NEAR(CroppedShape({{"aspect", "16:9"}}), 16.0 / 9, 0.02);
}

} // namespace
} // namespace tovi::test
