// The profile catalogue and the shipped profile file: counts and codes, the tree, and
// that every profile's section describes something this FFmpeg build can write.
#include <gtest/gtest.h>

#include <set>

#include "AppcoreTestSupport.h"
#include "appcore/IniFile.h"
#include "appcore/ParameterBuilder.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/ProfileChoices.h"
#include "appcore/Settings.h"
#include "engine/CodecNames.h"
#include "media/EntryPoints.h"

using namespace tovi;

TEST(Catalog, CountsCodesAndNames) {
  EXPECT_EQ(ProfileCategories().size(), 29u);
  EXPECT_EQ(ProfileCount(), 131);
  std::set<std::string_view> names;
  for (int code : AllProfileCodes())
    names.insert(ProfileName(code));
  EXPECT_EQ(names.size(), 131u) << "names are unique";
  EXPECT_EQ(ProfileName(0), "iPod Video MPEG-4 (*.mp4)");
  EXPECT_EQ(ProfileName(100), "iPhone MPEG-4 Extra Video (*.mp4)");
  EXPECT_EQ(ProfileName(2400), "MP3 MPEG Layer-3 Audio (*.mp3)");
  EXPECT_EQ(ProfileName(1), "iPod Video H.264 (*.mp4)");
  EXPECT_EQ(FindProfileByName("Nokia N Series MPEG-4 Video (*.mp4)"), 1600);
  EXPECT_EQ(FindProfileByName("Nokia N Series MPEG-4 Video(*.mp4)"), 1405);
  EXPECT_EQ(FindProfileByName("  PSP H.264/AVC Video (*.mp4) "), 403);
  EXPECT_TRUE(ProfileName(9).empty());
  // The newer categories come after the 25 older ones, whose codes stay.
  EXPECT_EQ(ProfileCategories()[25].Name, "Phones and Tablets");
  EXPECT_EQ(ProfileName(2501), "Phone and Tablet HEVC 1080p (*.mp4)");
  EXPECT_EQ(ProfileName(2700), "8 MB H.264 MP4 (*.mp4)");
  EXPECT_EQ(ProfileName(2802), "FLAC 24-bit Lossless Audio (*.flac)");
  EXPECT_TRUE(ProfileName(2900).empty());
  EXPECT_TRUE(ProfileName(2803).empty());
  EXPECT_EQ(ProfileSection(1402), "formatInfo1402");
  EXPECT_EQ(LookupProfile("2309"), 2309);
  EXPECT_EQ(LookupProfile("9"), std::nullopt);
  EXPECT_EQ(LookupProfile("dv - pal"), 2309);
  EXPECT_EQ(LookupProfile("iPod"), std::nullopt) << "ambiguous";
}

TEST(Catalog, TreeExpandsCollapsesAndKeepsItsState) {
  tovi::test::ConfigFolder cfg;
  TAppSettings s(cfg.SettingsFile());
  auto rows = BuildTreeRows(s);
  ASSERT_EQ(rows.size(), 29u) << "every category collapsed without a settings file";
  const auto before = rows.size();
  ToggleCategory(rows, 4); // Sony PSP
  ASSERT_EQ(rows.size(), before + 5);
  EXPECT_EQ(rows[5].Text, "PSP MPEG-4 Excellent Quality (*.mp4)");
  EXPECT_EQ(rows[9].Info.Code, 404);
  EXPECT_EQ(rows[10].Text, "Sony PS3");
  SaveTreeState(rows, s);
  const auto reread = BuildTreeRows(s);
  ASSERT_EQ(reread.size(), rows.size()) << "an expanded state survives a restart";
  ToggleCategory(rows, 4);
  ASSERT_EQ(rows.size(), before);
  for (std::size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ(rows[i].Info.Code, static_cast<int>(i));
}

// Every profile's defaults, as the first use seeds them, name encoders this build has
// and a container that accepts them.
TEST(ProfileFile, EverySectionParsesAndNamesEncodersThisBuildHas) {
  tovi::test::LoadConverterLibraries();
  const TIniFile profile(tovi::test::ShippedProfileFile());
  ASSERT_EQ(profile.ReadSections().size(), 131u);
  for (int code : AllProfileCodes()) {
    SCOPED_TRACE(std::string(ProfileName(code)) + " (" + std::to_string(code) + ")");
    const std::string s = ProfileSection(code);
    ASSERT_TRUE(profile.SectionExists(s));
    EXPECT_EQ(profile.ReadString(s, "Description", ""), ProfileName(code));
    const std::string ext = profile.ReadString(s, "FileExt", "");
    ASSERT_FALSE(ext.empty());
    const TProfileChoices c = DefaultChoices(profile, code);
    for (const TChoice *choice : {&c.VideoSize, &c.VideoEncoder, &c.VideoBitRate, &c.FrameRate, &c.SampleRate,
                                  &c.AudioEncoder, &c.Channel, &c.Volume})
      if (!choice->Items.empty()) {
        EXPECT_GE(choice->Position, 0) << "default position inside its list";
      }
    ASSERT_GE(c.AudioEncoder.Position, 0);
    EXPECT_EQ(VolumeValue(c.Volume.Text), "256") << "profiles start at 100% volume";

    // The muxer the engine will pick: the profile's format word when the builder
    // passes it on, else the one the extension names.
    const AVOutputFormat *muxer = nullptr;
    const std::string format = LowerCase(profile.ReadString(s, "Format", "null"));
    for (const char *f : {"ipod", "3gp", "3g2", "avi", "psp", "mov", "flv", "mpegts", "asf", "dv"})
      if (format == f) muxer = ff::av_guess_format(f, nullptr, nullptr);
    if (!muxer) muxer = ff::av_guess_format(nullptr, ("x." + ext).c_str(), nullptr);
    ASSERT_NE(muxer, nullptr) << ext;

    for (const TChoice *list : {&c.AudioEncoder, &c.VideoEncoder}) {
      for (const std::string &label : list->Items) {
        const auto value = list == &c.AudioEncoder ? AudioEncoderValue(label) : VideoEncoderValue(label);
        ASSERT_TRUE(value) << "label " << label << " is in the dialog's table";
        // Container words ("flv") leave the container's default encoder.
        std::string name = StableEncoderName(*value);
        const AVCodec *encoder = FindEncoderByName(name);
        if (!encoder && list == &c.VideoEncoder) encoder = ff::avcodec_find_encoder(muxer->video_codec);
        ASSERT_NE(encoder, nullptr) << name;
        EXPECT_FALSE(encoder->capabilities & AV_CODEC_CAP_EXPERIMENTAL) << name;
        // 0: refused; negative: the muxer cannot tell (mpeg, mpegts), checked by converting.
        EXPECT_NE(ff::avformat_query_codec(muxer, encoder->id, FF_COMPLIANCE_NORMAL), 0)
            << muxer->name << " takes " << encoder->name;
      }
    }
    // A size limit is whole mebibytes ("25M"), on every "Size Limited" profile only.
    std::int64_t n = 0;
    const std::string limit = profile.ReadString(s, "TargetSize", "");
    EXPECT_EQ(!limit.empty(),
              ProfileCategories()[static_cast<std::size_t>(code / 100)].Name == "Size Limited");
    if (!limit.empty()) {
      EXPECT_TRUE(limit.back() == 'M' && IsIntegerText(limit.substr(0, limit.size() - 1), &n) && n > 0)
          << limit;
    }
    EXPECT_TRUE(IsIntegerText(profile.ReadString(s, "paraSampleRate", ""), &n) && n > 0);
    EXPECT_TRUE(IsNumberText(profile.ReadString(s, "paraAudioBitRate", "")));
    EXPECT_TRUE(IsIntegerText(profile.ReadString(s, "paraVideoBitRate", ""), &n) && n > 0);
    for (const std::string &size : c.VideoSize.Items) {
      if (size == "as source") continue;
      const auto x = size.find('x');
      std::int64_t w = 0, h = 0;
      ASSERT_TRUE(x != std::string::npos && IsIntegerText(size.substr(0, x), &w) &&
                  IsIntegerText(size.substr(x + 1), &h))
          << size;
      EXPECT_TRUE(w > 0 && h > 0 && w % 2 == 0 && h % 2 == 0) << size;
    }
  }
}
