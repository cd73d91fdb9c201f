// How the picture is framed and timed in real conversions: letterbox with the user's crop
// margins, pan and scan, and the frame rate and size of MPEG-2 outputs, each checked on
// the decoded output (where the source's colour bars land, size, rate).
#include <gtest/gtest.h>

#include <cmath>

#include "ConversionTestSupport.h"
#include "DecodedMedia.h"
#include "appcore/IniFile.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/ProfileChoices.h"
#include "appcore/Settings.h"
#include "fixtures/Pattern.h"

using namespace tovi;
using namespace tovi::test;

namespace {

constexpr int kMkv = 2200;             // H.264 in Matroska
constexpr int kMpeg2 = 2301;           // MPEG-2 program stream, 720x576, rate as source
constexpr int kHdMpeg2 = 2107;         // MPEG-2 program stream, 1280x720, rate as source
constexpr int kHdMpeg2Ts = 2108;       // MPEG-2 transport stream, 1280x720, rate as source
constexpr const char *kBars = "RGBWK"; // the pattern's bars, left to right

// The colour of a decoded 8-bit YUV picture around (x, y), as a bar letter; '?' when it is
// none of them.
char Colour(const AVFrame *f, int x, int y) {
  const int Y = f->data[0][y * f->linesize[0] + x];
  const int U = f->data[1][(y / 2) * f->linesize[1] + x / 2];
  const int V = f->data[2][(y / 2) * f->linesize[2] + x / 2];
  if (V > 190) return 'R';
  if (U > 190) return 'B';
  if (U < 100 && V < 80) return 'G';
  if (std::abs(U - 128) < 25 && std::abs(V - 128) < 25) return Y > 180 ? 'W' : Y < 50 ? 'K' : '?';
  return '?';
}

// The bar the source pattern (w x h) shows at (x, y), or 0 near a bar's edge or outside
// the bars.
char SourceBar(double x, double y, int w, int h) {
  for (int bar = 0; bar < fixtures::kBarCount; ++bar) {
    const fixtures::PixelRect r = fixtures::PatternBarRect(bar, w, h);
    if (x >= r.x + 3 && x < r.x + r.width - 3 && y >= r.y + 3 && y < r.y + r.height - 3) return kBars[bar];
  }
  return 0;
}

// Where the source's point shown at an output point comes from: the kept rectangle
// (kx, ky, kw, kh) of the source is shown at (px, py, pw, ph) of the output.
struct Placement {
  int sourceW, sourceH;
  double kx, ky, kw, kh;
  int px, py, pw, ph;
};

// Every picture shows the source's bars where the placement puts them (sampled on a
// grid) and black outside the placed rectangle. Returns the number of pictures.
int ExpectPlaced(const std::string &file, const Placement &p, int width, int height) {
  int pictures = 0, compared = 0;
  const DecodedMedia m = DecodeFile(file, [&](AVFrame *f) {
    ++pictures;
    EXPECT_EQ(f->format, AV_PIX_FMT_YUV420P);
    if (f->format != AV_PIX_FMT_YUV420P) return;
    for (int y = 1; y < height - 1; y += 3) {
      for (int x = 1; x < width - 1; x += 3) {
        const bool inside = x >= p.px && x < p.px + p.pw && y >= p.py && y < p.py + p.ph;
        if (!inside) {
          if (x < p.px - 3 || x > p.px + p.pw + 2 || y < p.py - 3 || y > p.py + p.ph + 2) {
            ASSERT_EQ(Colour(f, x, y), 'K') << "border at " << x << "," << y;
          }
          continue;
        }
        const char bar = SourceBar(p.kx + (x + 0.5 - p.px) * p.kw / p.pw,
                                   p.ky + (y + 0.5 - p.py) * p.kh / p.ph, p.sourceW, p.sourceH);
        if (!bar) continue;
        ++compared;
        ASSERT_EQ(Colour(f, x, y), bar) << "at " << x << "," << y;
      }
    }
  });
  EXPECT_EQ(m.width, width);
  EXPECT_EQ(m.height, height);
  EXPECT_GT(compared, pictures * 100) << "the check saw the bars";
  return pictures;
}

// The shape a player shows: width x sample aspect / height (unknown counts as square).
double DisplayShape(const std::string &file) {
  double shape = 0;
  DecodeFile(file, [&](AVFrame *f) {
    const AVRational sar = f->sample_aspect_ratio;
    shape = f->width * (sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0) / f->height;
  });
  return shape;
}

class Framing : public SharedConverterSuite<> {
protected:
  void TearDown() override { converter_->ClearTasks(); }

  // The user's settings of `code`, seeded from the profile's defaults, with `size`.
  void UseSize(int code, const std::string &size) {
    TIniFile settings(global_.SettingsFile());
    const TIniFile profile(global_.ProfileFile());
    EnsureUserProfileSection(settings, profile, code);
    settings.WriteString(ProfileSection(code), "paraVideoSize", size);
  }
  // Converts `row` with `code`; the output file, empty when the task failed.
  std::string Convert(TFileRow row, int code, const char *zoom = nullptr) {
    std::vector<TFileRow> rows{std::move(row)};
    TStartOptions options;
    options.ProfileCode = code;
    options.OutDir = (config_->Path() / "out").string();
    if (zoom) options.Zoom = zoom;
    TConversionQueue queue(*converter_, global_);
    const ConversionRun run = RunConversion(*converter_, queue, rows, options);
    EXPECT_TRUE(queue.RowErrors().empty()) << queue.RowErrors().front().second;
    if (run.notices.size() != 1 || !run.notices[0].Finished) {
      ADD_FAILURE() << (run.notices.empty() ? "no task" : run.notices[0].ExceptionMsg);
      return {};
    }
    return rows[0].Record.DestinationFile;
  }

  const TGlobalObject global_;
};

} // namespace

// The crop margins cut the source once: the bars left of the margin and the rows above
// it are gone, and what is left is letterboxed without distortion.
TEST_F(Framing, LetterboxShowsTheCroppedPictureOnce) {
  UseSize(kMkv, "176x144");
  TFileRow row = RowFor(FixturePath("h264_aac.mp4")); // 176x144
  row.Record.CropTop = 72;                            // the bars only
  row.Record.CropLeft = 36;                           // without the red one
  const std::string out = Convert(row, kMkv, "lbox");
  ASSERT_FALSE(out.empty());
  // 140x72 fitted into 176x144: 176 wide, 72 * 176 / 140 = 90.5 (92 on even pads) high.
  EXPECT_GT(ExpectPlaced(out, {176, 144, 36, 72, 140, 72, 0, 26, 176, 92}, 176, 144), 40);
  EXPECT_NEAR(DisplayShape(out), 176.0 / 144, 0.03);
}

// A wide source into 4:3: the middle 480x360 of 640x360 is kept and shown undistorted.
TEST_F(Framing, PanAndScanKeepsTheMiddleInTheTargetsShape) {
  UseSize(kMkv, "320x240");
  const std::string out = Convert(RowFor(FixturePath("wide_640x360.mp4")), kMkv, "pan");
  ASSERT_FALSE(out.empty());
  EXPECT_GT(ExpectPlaced(out, {640, 360, 80, 0, 480, 360, 0, 0, 320, 240}, 320, 240), 5);
  EXPECT_NEAR(DisplayShape(out), 4.0 / 3, 0.01);
}

// MPEG-2 keeps a source rate it can carry, with the lines of that rate's norm where the
// size is a norm's; HD sizes stay. 25 fps material keeps the PAL size.
TEST_F(Framing, Mpeg2KeepsTheSourcesRateWithItsNormsSize) {
  struct Case {
    const char *source;
    int code;
    double fps;
    int width, height;
  };
  for (const Case &c :
       {Case{"rate_30.mp4", kMpeg2, 30, 720, 480}, Case{"rate_23976.mp4", kMpeg2, 24000 / 1001.0, 720, 480},
        Case{"rate_60.mp4", kHdMpeg2, 60, 1280, 720}, Case{"rate_30.mp4", kHdMpeg2Ts, 30, 1280, 720},
        Case{"h264_aac.mp4", kMpeg2, 25, 720, 576}}) {
    SCOPED_TRACE(std::string(c.source) + " with " + std::to_string(c.code));
    const std::string out = Convert(RowFor(FixturePath(c.source)), c.code);
    if (out.empty()) continue;
    const DecodedMedia m = DecodeFile(out);
    EXPECT_EQ(m.videoCodec, "mpeg2video");
    EXPECT_EQ(m.decodeErrors, 0);
    EXPECT_EQ(m.width, c.width);
    EXPECT_EQ(m.height, c.height);
    ASSERT_GT(m.frameSeconds, 0);
    EXPECT_NEAR(1 / m.frameSeconds, c.fps, 0.001);
    const double seconds = c.source == std::string("h264_aac.mp4") ? 2.0 : 0.8;
    EXPECT_NEAR(m.videoFrames, seconds * c.fps, 1.5) << "no picture doubled or dropped";
  }
}
