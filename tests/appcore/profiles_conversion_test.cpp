// Converts the short generated clip with every profile of the catalogue at the
// profile's default settings and checks each output by decoding it again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "ConversionTestSupport.h"
#include "DecodedMedia.h"
#include "appcore/DeviceOutput.h"
#include "appcore/IniFile.h"
#include "appcore/ParameterBuilder.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/ProfileChoices.h"
#include "appcore/SizeTarget.h"
#include "engine/CodecNames.h"

using namespace tovi;
using namespace tovi::test;

namespace {

// The demuxer that reads back each extension's files.
const std::map<std::string, std::string> kDemuxers{{"mp4", "mov,mp4,m4a,3gp,3g2,mj2"},
                                                   {"m4a", "mov,mp4,m4a,3gp,3g2,mj2"},
                                                   {"mov", "mov,mp4,m4a,3gp,3g2,mj2"},
                                                   {"3gp", "mov,mp4,m4a,3gp,3g2,mj2"},
                                                   {"3g2", "mov,mp4,m4a,3gp,3g2,mj2"},
                                                   {"avi", "avi"},
                                                   {"wmv", "asf"},
                                                   {"wma", "asf"},
                                                   {"flv", "flv"},
                                                   {"swf", "swf"},
                                                   {"mpg", "mpeg"},
                                                   {"ts", "mpegts"},
                                                   {"mkv", "matroska,webm"},
                                                   {"dv", "dv"},
                                                   {"mp3", "mp3"},
                                                   {"aac", "aac"},
                                                   {"wav", "wav"},
                                                   {"ogg", "ogg"},
                                                   {"ac3", "ac3"},
                                                   {"webm", "matroska,webm"},
                                                   {"flac", "flac"}};

// The decoder name of the codec an encoder name produces.
std::string DecoderOf(const std::string &encoderName) {
  const AVCodec *enc = FindEncoderByName(StableEncoderName(encoderName));
  if (!enc) return "?" + encoderName;
  const AVCodec *dec = ff::avcodec_find_decoder(enc->id);
  return dec ? dec->name : "?";
}

// The newer categories' encoders (x265, VP9, SVT-AV1, x264 at 4K) take seconds per
// picture at their HD defaults. Their rows keep every default but the frame size, which
// becomes "as source" (the clip's 176x144), as a user would pick it in the dialog; the
// scaling to a named size is the same code every older profile goes through.
constexpr int kFirstNewerCategory = 25;

void UseSourceSizeAboveHd(const TGlobalObject &global, int code) {
  if (code / 100 < kFirstNewerCategory) return;
  TIniFile settings(global.SettingsFile());
  const TIniFile profile(global.ProfileFile());
  EnsureUserProfileSection(settings, profile, code);
  const TProfileChoices c = DefaultChoices(profile, code);
  const std::string &size = c.VideoSize.Text;
  const auto x = size.find('x');
  if (x == std::string::npos || std::stoi(size.substr(0, x)) * std::stoi(size.substr(x + 1)) <= 1280 * 720)
    return;
  const auto asSource = std::find(c.VideoSize.Items.begin(), c.VideoSize.Items.end(), "as source");
  ASSERT_NE(asSource, c.VideoSize.Items.end()) << "every newer video profile offers the source's size";
  settings.WriteInteger(ProfileSection(code), "iVideoSize", asSource - c.VideoSize.Items.begin());
  settings.WriteString(ProfileSection(code), "paraVideoSize", "as source");
}

// Whether a picture format is 8-bit 4:2:0 (full-range yuvj420p included).
bool Is8Bit420(int format) {
  const AVPixFmtDescriptor *d = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
  return d && d->nb_components == 3 && d->comp[0].depth == 8 && d->log2_chroma_w == 1 &&
         d->log2_chroma_h == 1 && !(d->flags & AV_PIX_FMT_FLAG_RGB);
}

class EveryProfile : public SharedConverterSuite<::testing::TestWithParam<int>> {};

} // namespace

TEST_P(EveryProfile, ConvertsTheShortClipAsTheProfileSays) {
  const int code = GetParam();
  SCOPED_TRACE(std::string(ProfileName(code)));
  const TGlobalObject global;
  UseSourceSizeAboveHd(global, code);
  TConversionQueue queue(*converter_, global);
  std::vector<TFileRow> rows{RowFor(FixturePath("short_clip.mp4"))};
  TStartOptions options;
  options.ProfileCode = code;
  options.OutDir = (config_->Path() / "out").string();
  options.AskDefaultSize = [](const std::string &) {
    ADD_FAILURE() << "every shipped frame size is valid";
    return false;
  };
  const ConversionRun run = RunConversion(*converter_, queue, rows, options);
  ASSERT_TRUE(queue.RowErrors().empty()) << queue.RowErrors().front().second;
  // A size-limited profile encodes twice (statistics, then the output); the rest once.
  const std::string target =
      TIniFile(global.ProfileFile()).ReadString(ProfileSection(code), "TargetSize", "");
  ASSERT_EQ(run.notices.size(), target.empty() ? 1u : 2u);
  for (const auto &notice : run.notices)
    ASSERT_TRUE(notice.Finished) << notice.ExceptionMsg;
  EXPECT_TRUE(run.allEnded);
  if (target.empty()) {
    EXPECT_EQ(rows[0].Progress, "100%");
  }
  converter_->ClearTasks();

  // What the user's seeded section asks for.
  const TIniFile settings(global.SettingsFile()), profile(global.ProfileFile());
  const std::string s = ProfileSection(code);
  const std::string ext = profile.ReadString(s, "FileExt", "mp4");
  const std::string output = rows[0].Record.DestinationFile;
  EXPECT_EQ(output.substr(output.size() - ext.size() - 1), "." + ext);

  if (!target.empty()) {
    const auto limit = ParseSizeTarget(target, nullptr);
    ASSERT_TRUE(limit) << target;
    EXPECT_LE(FileBytes(output), *limit);
  }

  const DecodedMedia m = DecodeFile(output);
  ASSERT_TRUE(m.opened) << output;
  EXPECT_EQ(m.demuxer, kDemuxers.at(ext));
  EXPECT_EQ(m.decodeErrors, 0);

  EXPECT_EQ(m.audioCodec, DecoderOf(settings.ReadString(s, "paraAudioEncoder", "")));
  const std::string rate = settings.ReadString(s, "paraSampleRate", "");
  EXPECT_EQ(m.sampleRate, rate == "as source" ? 44100 : std::stoi(rate));
  const std::string channels = settings.ReadString(s, "paraChannel", "");
  EXPECT_EQ(m.channels, channels == "as source" ? 2 : std::stoi(channels));

  // A profile named 24-bit stores 24 bits, not the source's 16.
  if (ProfileName(code).find("24-bit") != std::string_view::npos) {
    EXPECT_EQ(m.audioBits, 24);
    EXPECT_EQ(m.audioSampleFormat, AV_SAMPLE_FMT_S32);
  }

  const std::string video = settings.ReadString(s, "paraVideoEncoder", "");
  if (video.empty()) {
    EXPECT_TRUE(m.videoCodec.empty()) << "audio-only profile";
    EXPECT_NEAR(m.audioSamples / static_cast<double>(m.sampleRate), 1.0, 0.1);
    return;
  }
  ASSERT_FALSE(m.videoCodec.empty());
  const std::string size = settings.ReadString(s, "paraVideoSize", "");
  int w = 176, h = 144;
  if (size != "as source") {
    w = std::stoi(size.substr(0, size.find('x')));
    h = std::stoi(size.substr(size.find('x') + 1));
    if (video == "h263") SnapH263Size(size, w, h);
  }
  EXPECT_EQ(m.width, w);
  EXPECT_EQ(m.height, h);
  // Container words ("flv") leave the container's own encoder.
  if (video != "flv") {
    EXPECT_EQ(m.videoCodec, DecoderOf(video));
  }
  // The pictures' format: what the profile names, else 8-bit 4:2:0 for every device.
  const std::string pixelFormat = profile.ReadString(s, PIXEL_FORMAT_KEY, "");
  if (pixelFormat.empty()) {
    EXPECT_TRUE(Is8Bit420(m.pixelFormat)) << "picture format " << m.pixelFormat;
  } else if (pixelFormat != "as source") {
    EXPECT_EQ(m.pixelFormat, ff::av_get_pix_fmt(pixelFormat.c_str()));
  }
  // Apple's players open HEVC in MP4 only when it is tagged hvc1 (parameter sets in the
  // sample description), not hev1.
  if (m.videoCodec == "hevc" && m.demuxer.rfind("mov", 0) == 0) {
    EXPECT_EQ(m.videoTag, "hvc1");
  }
  ASSERT_GT(m.frameSeconds, 0);
  // Within one picture of the source's second; when the frame rate changes in a
  // constant-rate container, the engine's sync rule lets the output run up to 1.1
  // pictures ahead before it drops one, so one more picture may stand at the end.
  const std::string fps = settings.ReadString(s, "paraFrameRate", "");
  const bool rateChanged = fps != "as source" && fps != "25";
  const double slack =
      rateChanged && !(m.demuxer.rfind("mov", 0) == 0 || m.demuxer.rfind("matroska", 0) == 0) ? 2.1 : 1.0;
  EXPECT_NEAR(m.videoEnd - m.videoStart, 1.0, slack * m.frameSeconds + 1e-3) << m.videoFrames << " pictures";
}

INSTANTIATE_TEST_SUITE_P(Shipped, EveryProfile, ::testing::ValuesIn(AllProfileCodes()),
                         [](const ::testing::TestParamInfo<int> &p) { return std::to_string(p.param); });
