// The output settings dialog's rules without its widgets: the checks of typed fields,
// the key filters, loading the user's choices back, what OK writes, and that every
// encoder a shipped profile offers reaches a real encoder of this build.
#include <gtest/gtest.h>

#include <set>

#include "AppcoreTestSupport.h"
#include "appcore/FileInformation.h"
#include "appcore/OutputSettings.h"
#include "appcore/ParameterBuilder.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/Settings.h"
#include "engine/CodecNames.h"
#include "support/TestMedia.h"

using namespace tovi;
using tovi::test::ConfigFolder;

namespace {

using R = TFieldCheck::TResult;

struct FieldCase {
  TTypedField field;
  const char *text;
  R result;
  const char *title;
  const char *message;
  const char *value;
};

const char *Name(TTypedField f) {
  switch (f) {
  case TTypedField::tfFrameSize: return "frame size";
  case TTypedField::tfVideoBitRate: return "video bit rate";
  case TTypedField::tfSampleRate: return "sample rate";
  case TTypedField::tfAudioBitRate: return "audio bit rate";
  }
  return "?";
}

// Selects item `position` of a list as the dialog's control shows it.
void Select(TChoice &c, int position) {
  c.Position = position;
  c.Text = c.Items.at(static_cast<std::size_t>(position));
}

} // namespace

TEST(OutputSettingsFields, TypedValuesAreCheckedAndOddSizesCorrected) {
  constexpr auto kSize = TTypedField::tfFrameSize;
  constexpr auto kVideo = TTypedField::tfVideoBitRate;
  constexpr auto kRate = TTypedField::tfSampleRate;
  constexpr auto kAudio = TTypedField::tfAudioBitRate;
  const char *const notSize = "Frame Size is not a valid value!";
  const FieldCase cases[] = {
      {kSize, "640x480", R::Accepted, "", "", ""},
      {kSize, "As Source", R::Accepted, "", "", ""},
      {kSize, "321x241", R::Corrected, "Input Error!",
       "Frame Size must be a multiple of 2.\nThe correct value:320x240", "320x240"},
      {kSize, "0x0", R::Corrected, "Input Error!",
       "Frame Size must be a multiple of 2.\nThe correct value:2x2", "2x2"},
      {kSize, "640x0", R::Corrected, "Input Error!",
       "Frame Size must be a multiple of 2.\nThe correct value:640x2", "640x2"},
      {kSize, "640x", R::Invalid, "Warning", notSize, ""},
      {kSize, "x240", R::Invalid, "Warning", notSize, ""},
      {kSize, "abcx240", R::Invalid, "Warning", notSize, ""},
      {kSize, "640", R::Invalid, "Warning", notSize, ""},
      {kSize, "-2x4", R::Invalid, "Warning", notSize, ""},
      {kSize, "99999999999x2", R::Invalid, "Warning", notSize, ""}, // no overflow into a "valid" size
      {kVideo, "1500", R::Accepted, "", "", ""},
      {kVideo, "as source", R::Accepted, "", "", ""},
      {kVideo, "As source", R::Invalid, "Warning", "Video BitRate is not a valid value!", ""},
      {kVideo, "12.5", R::Invalid, "Warning", "Video BitRate is not a valid value!", ""},
      {kRate, "", R::Invalid, "Warning", "Audio SampleRate is not a valid value!", ""},
      {kRate, "22050", R::Accepted, "", "", ""},
      {kAudio, "12.2", R::Accepted, "", "", ""},
      {kAudio, "12,2", R::Invalid, "Warning", "Audio BitRate is not a valid value!", ""},
  };
  for (const FieldCase &c : cases) {
    SCOPED_TRACE(std::string(Name(c.field)) + " \"" + c.text + "\"");
    const TFieldCheck check = CheckTypedField(c.field, c.text);
    EXPECT_EQ(check.Result, c.result);
    if (c.result == R::Accepted) continue;
    EXPECT_EQ(check.Title, c.title);
    EXPECT_EQ(check.Message, c.message);
    EXPECT_EQ(check.Value, c.value);
  }

  // Key filters: digits everywhere; one "x" in a size; one "." in the audio bit rate.
  EXPECT_TRUE(TypedKeyAccepted(kSize, "640", 'x'));
  EXPECT_FALSE(TypedKeyAccepted(kSize, "640x", 'x'));
  EXPECT_FALSE(TypedKeyAccepted(kSize, "640", 'X'));
  EXPECT_TRUE(TypedKeyAccepted(kSize, "640x", '4'));
  EXPECT_FALSE(TypedKeyAccepted(kVideo, "15", '.'));
  EXPECT_FALSE(TypedKeyAccepted(kRate, "", 'a'));
  EXPECT_TRUE(TypedKeyAccepted(kAudio, "12", '.'));
  EXPECT_FALSE(TypedKeyAccepted(kAudio, "12.2", '.'));
  EXPECT_EQ(RefusedKeyMessage(kVideo), "Please enter numerical.");
  EXPECT_EQ(RefusedKeyMessage(kSize), "");
}

// What OK writes for typed values, items and the label tables, and that showing the
// dialog again (or choosing the profile again in it) brings every typed value back.
TEST(OutputSettingsConfirm, TypedValuesAndLabelsRoundTripThroughTheSettingsFile) {
  ConfigFolder cfg;
  const std::string s = ProfileSection(2200);
  TIniFile profile(cfg.File("profile.ini"));
  profile.WriteString(s, "VideoSize", "320x240,640x480,as source");
  profile.WriteString(s, "VideoEncoder", "MPEG-4,H264");
  profile.WriteString(s, "VideoBitRate", "as source,1000,2000");
  profile.WriteString(s, "FrameRate", "as source,25,29.97");
  profile.WriteString(s, "AudioEncoder", "AAC,MP3,GSM");
  profile.WriteString(s, "AudioBitRate", "as source,64,128");
  profile.WriteString(s, "SampleRate", "as source,22050,48000");
  profile.WriteString(s, "Channel", "as source,mono 1 channel,stereo 2 channels");
  profile.WriteString(s, "Volume", "90%,100%,150%");
  profile.WriteString(s, "paraBitExact", "TRUE");
  profile.WriteString(s, "paraLevel", "31");
  profile.WriteString(s, "paraGop", "0");     // not above 0: not copied
  profile.WriteString(s, "paraCoder", "0");   // 0 or more: copied
  profile.WriteString(s, "paraQscale", "x4"); // not an integer: not copied

  profile.WriteString(s, "iVolume", "1");

  TAppSettings settings(cfg.SettingsFile());
  // Never confirmed: the profile's default positions, not the first item of each list.
  EXPECT_EQ(LoadUserChoices(settings.Ini(), profile, 2200).Volume.Text, "100%");
  TProfileChoices c = DefaultChoices(profile, 2200);
  c.VideoSize.Text = "400x300"; // typed over the selected first item
  Select(c.VideoEncoder, 1);    // "H264": libx264 with its extras
  c.VideoBitRate.Text = "1234";
  Select(c.FrameRate, 2);
  c.SampleRate.Text = "48000"; // typed, but the text of an item: stored as that item
  Select(c.AudioEncoder, 1);
  c.AudioBitRate.Text = "12.5";
  Select(c.Channel, 1);
  Select(c.Volume, 2);
  c.Zoom = "pan";
  ConfirmOutputSettings(settings, profile, 2200, "MKV - Matroska Video (*.mkv)", c);

  const TIniFile &ini = settings.Ini();
  const std::pair<const char *, const char *> written[] = {
      {"Description", "MKV - Matroska Video (*.mkv)"},
      {"iVideoSize", "-1"},
      {"paraVideoSize", "400x300"},
      {"iVideoEncoder", "1"},
      {"paraVideoEncoder", "libx264"},
      {"paraBitExact", "TRUE"},
      {"paraLevel", "31"},
      {"paraCoder", "0"},
      {"iVideoBitRate", "-1"},
      {"paraVideoBitRate", "1234"},
      {"iFrameRate", "2"},
      {"paraFrameRate", "29.97"},
      {"iSampleRate", "2"},
      {"paraSampleRate", "48000"},
      {"paraAudioEncoder", "libmp3lame"},
      {"paraAudioBitRate", "12.5"},
      {"paraChannel", "1"},
      {"paraVolume", "384"},
      {"paraZoom", "pan"},
  };
  for (const auto &[key, value] : written)
    EXPECT_EQ(ini.ReadString(s, key, "<absent>"), value) << key;
  EXPECT_FALSE(ini.ValueExists(s, "paraGop"));
  EXPECT_FALSE(ini.ValueExists(s, "paraQscale"));
  EXPECT_EQ(settings.FormatCode(), 2200);
  EXPECT_EQ(settings.FormatName(), "MKV - Matroska Video (*.mkv)");

  const TProfileChoices back = LoadUserChoices(ini, profile, 2200);
  EXPECT_EQ(back.VideoSize.Position, -1);
  EXPECT_EQ(back.VideoSize.Text, "400x300");
  EXPECT_EQ(back.VideoBitRate.Text, "1234");
  EXPECT_EQ(back.AudioBitRate.Text, "12.5");
  EXPECT_EQ(back.SampleRate.Position, 2);
  EXPECT_EQ(back.FrameRate.Text, "29.97");
  EXPECT_EQ(back.VideoEncoder.Text, "H264");
  EXPECT_EQ(back.Channel.Text, "mono 1 channel");
  EXPECT_EQ(back.Volume.Text, "150%");
  EXPECT_EQ(back.Zoom, "pan");

  // "GSM" fixes the rate and the channel whatever the controls show; a volume without
  // a value in the table ("90%") writes none, so the earlier one stays; "center" is
  // never offered and selects no zoom entry.
  Select(c.AudioEncoder, 2);
  Select(c.Volume, 0);
  c.Zoom = "";
  ConfirmOutputSettings(settings, profile, 2200, "MKV - Matroska Video (*.mkv)", c);
  EXPECT_EQ(ini.ReadString(s, "paraAudioEncoder", ""), "libgsm");
  EXPECT_EQ(ini.ReadString(s, "paraSampleRate", ""), "8000");
  EXPECT_EQ(ini.ReadString(s, "paraChannel", ""), "1");
  EXPECT_EQ(ini.ReadString(s, "paraVolume", ""), "384");
  EXPECT_EQ(ini.ReadString(s, "paraZoom", ""), "pan");
  settings.Ini().WriteString(s, "paraZoom", "center");
  EXPECT_EQ(LoadUserChoices(ini, profile, 2200).Zoom, "");

  // A profile without a video encoder list turns the video group off.
  profile.WriteString(s, "VideoEncoder", "");
  const TProfileChoices audioOnly = LoadUserChoices(ini, profile, 2200);
  EXPECT_FALSE(VideoOptionsEnabled(audioOnly));
  EXPECT_TRUE(AudioOptionsEnabled(audioOnly));
}

// Every encoder label a shipped profile offers, written as OK writes it, names an
// encoder this FFmpeg build has once the conversion maps it (libfaac -> aac, ...).
// Container words ("mov", "flv", ...) leave the choice to the container.
TEST(OutputSettingsConfirm, EveryOfferedEncoderExistsAtConversionTime) {
  tovi::test::LoadConverterLibraries();
  const TIniFile profile(tovi::test::ShippedProfileFile());
  const std::set<std::string> videoCodecs{
      "mpeg4",   "libxvid",  "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1", "msmpeg4v2",  "huffyuv",
      "dvvideo", "rawvideo", "h263p",      "h263",       "rv10",    "rv20",      "ljpeg",      "mjpeg",
      "svq1",    "zlib",     "wmv1",       "wmv2",       "libx264", "libx265",   "libvpx-vp9", "libsvtav1"};
  int checked = 0;
  for (const std::string &section : profile.ReadSections()) {
    for (const auto &[listKey, isVideo] :
         {std::pair{"VideoEncoder", true}, std::pair{"AudioEncoder", false}}) {
      const std::string list = profile.ReadString(section, listKey, "");
      if (list.empty()) continue;
      for (const std::string &label : SplitChoiceList(list)) {
        SCOPED_TRACE(section + " " + label);
        const auto value = isVideo ? VideoEncoderValue(label) : AudioEncoderValue(label);
        ASSERT_TRUE(value.has_value()) << "a label OK would not write";
        if (isVideo && !videoCodecs.count(*value)) continue;
        EXPECT_NE(FindEncoderByName(StableEncoderName(*value)), nullptr) << *value;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 200);
}

TEST(FileInformationTexts, NamesDurationsAndRates) {
  const std::string name45(41, 'a'), name46(42, 'a');
  EXPECT_EQ(ShortFileName(name45 + ".mp4"), name45 + ".mp4");
  EXPECT_EQ(ShortFileName(name46 + ".mp4"), std::string(40, 'a') + "...mp4  ");
  // 46 characters of two bytes each: cut after 40 characters, not 40 bytes.
  std::string wide;
  for (int i = 0; i < 42; ++i)
    wide += "\xC3\xBC";
  EXPECT_EQ(ShortFileName(wide + ".mkv").substr(0, 80), wide.substr(0, 80));
  EXPECT_EQ(DurationText(2'005'000), "2.005 Second");
  EXPECT_EQ(DurationText(-1), "0.000 Second");
  EXPECT_EQ(FrameRateText(30000, 1001), "29.97");
  EXPECT_EQ(FrameRateText(24000, 1001), "23.976");
  EXPECT_EQ(FrameRateText(25, 1), "25");
  EXPECT_EQ(FrameRateText(0, 0), "");
}
