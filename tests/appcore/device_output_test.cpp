// Outputs of the H.264 profiles as a player sees them: 8-bit 4:2:0 whatever the source,
// the bit rate the profile asks for with a level that holds the frame, and even frame
// sizes from odd sources.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "ConversionTestSupport.h"
#include "DecodedMedia.h"
#include "appcore/DeviceOutput.h"
#include "appcore/IniFile.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/ProfileChoices.h"

using namespace tovi;
using namespace tovi::test;

namespace {

// The H.264 facts of a file's video stream: profile and level as the decoder reads them
// from the stream, and the rate settings libx264 records in the stream itself (shown by
// media-information tools as the "encoding settings").
struct H264Facts {
  int Profile = FF_PROFILE_UNKNOWN;
  int Level = FF_LEVEL_UNKNOWN;
  int BitRateKbit = -1; // "bitrate=" of the recorded settings; -1 when absent
  int MaxRateKbit = -1; // "vbv_maxrate="
};

int SettingValue(const std::string &settings, const char *key) {
  const auto at = settings.find(std::string(" ") + key + "=");
  return at == std::string::npos ? -1 : std::atoi(settings.c_str() + at + std::strlen(key) + 2);
}

H264Facts ReadH264Facts(const std::string &file) {
  H264Facts facts;
  TInputFile in;
  if (OpenInputFile(file, nullptr, nullptr, in) < 0) return facts;
  {
    std::lock_guard lock(CodecLock());
    if (ff::avformat_find_stream_info(in.Context(), nullptr) < 0) return facts;
  }
  const int v = ff::av_find_best_stream(in.Context(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (v < 0) return facts;
  facts.Profile = in->streams[v]->codecpar->profile;
  facts.Level = in->streams[v]->codecpar->level;
  PacketPtr packet = MakePacket();
  while (ff::av_read_frame(in.Context(), packet.get()) >= 0) {
    if (packet->stream_index == v) {
      const std::string bytes(reinterpret_cast<const char *>(packet->data), std::size_t(packet->size));
      const auto at = bytes.find("x264 - core");
      if (at != std::string::npos) {
        const std::string settings = bytes.substr(at, bytes.find('\0', at) - at);
        facts.BitRateKbit = SettingValue(settings, "bitrate");
        facts.MaxRateKbit = SettingValue(settings, "vbv_maxrate");
        break;
      }
    }
    ff::av_packet_unref(packet.get());
  }
  return facts;
}

struct Converted {
  DecodedMedia media;
  std::set<int> pictureFormats;
  std::string file;
};

class DeviceOutput : public SharedConverterSuite<> {
protected:
  // Converts `fixture` with profile `code`, its seeded settings changed by `settings`
  // (key, value pairs), into a folder of its own named `run`.
  Converted Convert(const char *fixture, int code,
                    const std::vector<std::pair<const char *, std::string>> &settings, const char *run,
                    const char *zoom = "full") {
    const TGlobalObject global;
    {
      TIniFile settingsFile(global.SettingsFile());
      const TIniFile profile(global.ProfileFile());
      settingsFile.EraseSection(ProfileSection(code));
      EnsureUserProfileSection(settingsFile, profile, code);
      for (const auto &[key, value] : settings)
        settingsFile.WriteString(ProfileSection(code), key, value);
    }
    TConversionQueue queue(*converter_, global);
    std::vector<TFileRow> rows{RowFor(FixturePath(fixture))};
    TStartOptions options;
    options.ProfileCode = code;
    options.OutDir = (config_->Path() / run).string();
    options.Zoom = zoom;
    const ConversionRun result = RunConversion(*converter_, queue, rows, options);
    converter_->ClearTasks();
    Converted c;
    EXPECT_TRUE(queue.RowErrors().empty()) << queue.RowErrors().front().second;
    EXPECT_EQ(result.notices.size(), 1u);
    if (result.notices.size() != 1 || !result.notices[0].Finished) {
      ADD_FAILURE() << (result.notices.empty() ? "no notice" : result.notices[0].ExceptionMsg);
      return c;
    }
    c.file = rows[0].Record.DestinationFile;
    c.media = DecodeFile(c.file, [&](AVFrame *f) { c.pictureFormats.insert(f->format); });
    return c;
  }
};

bool PlayerProfile(int profile) {
  return profile == FF_PROFILE_H264_BASELINE || profile == FF_PROFILE_H264_CONSTRAINED_BASELINE ||
         profile == FF_PROFILE_H264_MAIN || profile == FF_PROFILE_H264_HIGH;
}

} // namespace

TEST_F(DeviceOutput, SourcesPlayersCannotDecodeBecomeEightBit420) {
  // "iPod Video H.264" at its 320x240 and "MKV" at the source's size.
  for (const int code : {1, 2200}) {
    for (const char *source : {"h264_yuv422p.mp4", "h264_yuv444p.mp4", "h264_yuv420p10.mp4"}) {
      SCOPED_TRACE(std::to_string(code) + " " + source);
      const Converted c = Convert(source, code, {}, source);
      ASSERT_TRUE(c.media.opened);
      EXPECT_EQ(c.media.videoCodec, "h264");
      EXPECT_EQ(c.media.videoFrames, 25);
      EXPECT_EQ(c.pictureFormats, std::set<int>{AV_PIX_FMT_YUV420P});
      const int profile = ReadH264Facts(c.file).Profile;
      EXPECT_TRUE(PlayerProfile(profile)) << "profile " << profile;
    }
  }
}

TEST_F(DeviceOutput, HdProfilesKeepTheirBitRateAndClaimALevelThatHoldsTheFrame) {
  // Default settings: 1280x720 at 4000 kbit/s ("Apple H.264 720p") and 6000 kbit/s
  // ("HD H.264/MPEG-4 AVC"); the source is a 4:2:2 camera clip.
  for (const auto &[code, kbit] : {std::pair{205, 4000}, std::pair{2102, 6000}}) {
    SCOPED_TRACE(code);
    const Converted c = Convert("h264_yuv422p.mp4", code, {}, code == 205 ? "hd205" : "hd2102");
    ASSERT_TRUE(c.media.opened);
    EXPECT_EQ(c.media.width, 1280);
    EXPECT_EQ(c.media.height, 720);
    EXPECT_EQ(c.pictureFormats, std::set<int>{AV_PIX_FMT_YUV420P});
    const H264Facts facts = ReadH264Facts(c.file);
    // 1280x720 at 25 frames per second needs level 3.1; 3.0 holds only 1620 macroblocks.
    EXPECT_EQ(facts.Level, 31);
    EXPECT_EQ(facts.BitRateKbit, kbit);
    // The rate cap may not hold the stream below the profile's rate.
    EXPECT_GE(facts.MaxRateKbit, kbit);
  }
}

TEST_F(DeviceOutput, OddSourceSizesGiveEvenPictures) {
  // "H.264/MPEG-4 AVC Video" with the source's 161x121, stretched and letterboxed, and
  // with a size of 1x1 typed by the user.
  struct Case {
    const char *run, *size, *zoom;
    int width, height;
  };
  for (const Case &k :
       {Case{"odd_full", "as source", "full", 160, 120}, Case{"odd_lbox", "as source", "lbox", 160, 120},
        Case{"one_pixel", "1x1", "full", 2, 2}}) {
    SCOPED_TRACE(k.run);
    const Converted c = Convert("odd_size.avi", 2303, {{"paraVideoSize", k.size}}, k.run, k.zoom);
    ASSERT_TRUE(c.media.opened);
    EXPECT_EQ(c.media.width, k.width);
    EXPECT_EQ(c.media.height, k.height);
    EXPECT_EQ(c.media.videoFrames, 50);
    EXPECT_EQ(c.media.decodeErrors, 0);
  }
}

TEST(DeviceOutputOptions, PixelFormatAndRateCapFollowTheProfile) {
  TOutputOptions out;
  AskPixelFormat(DEVICE_PIXEL_FORMAT, out);
  EXPECT_EQ(out.ExtOptions, "pix_fmt=yuv420p");
  out.ExtOptions = "g=12";
  AskPixelFormat("yuv411p", out);
  EXPECT_EQ(out.ExtOptions, "g=12\npix_fmt=yuv411p");
  out.ExtOptions.clear();
  AskPixelFormat("as source", out);
  EXPECT_EQ(out.ExtOptions, "");

  // The profile's cap where it is higher, the bit rate where that is.
  out.VideoBitrate = 4000000;
  FollowVideoBitRate("5000000", "5000000", out);
  EXPECT_EQ(out.VideoMaxRate, 5000000);
  EXPECT_EQ(out.VideoBufSize, 5000000);
  out.VideoBitrate = 3000000;
  FollowVideoBitRate("768000", "2000000", out);
  EXPECT_EQ(out.VideoMaxRate, 3000000);
  EXPECT_EQ(out.VideoBufSize, 3000000);
  out.VideoBitrate = 768000;
  FollowVideoBitRate("", "", out);
  EXPECT_EQ(out.VideoMaxRate, 768000);
  EXPECT_EQ(out.VideoBufSize, 768000);
}
