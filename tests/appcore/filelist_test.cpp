// The file list's model, the progress window's texts and preview placement, the shown
// profile names and the desktop program's command line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "AppcoreTestSupport.h"
#include "appcore/AppCommandLine.h"
#include "appcore/FileList.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/ProfileDisplay.h"
#include "appcore/ProgressTexts.h"
#include "appcore/Settings.h"
#include "converter/Converter.h"

using namespace tovi;
using namespace tovi::test;
namespace fs = std::filesystem;

namespace {

class FileListTest : public ::testing::Test {
protected:
  void SetUp() override {
    LoadConverterLibraries();
    TAppSettings settings(global_.SettingsFile());
    settings.SetOutPutDir(out_.path().string());
  }
  ConfigFolder config_;
  TempDir out_, sources_;
  TGlobalObject global_;
  TFFConverter converter_;
};

TEST_F(FileListTest, AddsEachFileOnceWithDurationZoomAndOutputName) {
  TAppSettings settings(global_.SettingsFile());
  settings.SetFormat("MKV - Matroska Video (*.mkv)", 2200);
  settings.Ini().WriteString("formatInfo2200", "paraZoom", "pan");
  const std::string clip = FixturePath("h264_aac.mp4");
  // The same file under a name differing only in letter case is another file here.
  const std::string upper = sources_.file("H264_AAC.mp4");
  fs::copy_file(clip, upper);
  const std::string text = sources_.file("notes.mp4");
  std::ofstream(text) << "not a media file";

  std::vector<TFileRow> rows;
  const int added =
      AddFilesToList(rows, {clip, sources_.path().string(), text, clip, upper}, converter_, global_);
  ASSERT_EQ(added, 2);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Caption, clip);
  EXPECT_EQ(rows[1].Caption, upper);
  EXPECT_EQ(rows[1].Record.SelectionIndex, 4);
  for (const TFileRow &row : rows) {
    EXPECT_TRUE(row.Checked);
    EXPECT_EQ(row.Record.DurationSeconds, 2);
    EXPECT_EQ(row.Record.ZoomMode, "pan");
    EXPECT_TRUE(row.Progress.empty());
  }
  EXPECT_EQ(rows[0].Record.DestinationFile, out_.file("h264_aac_(new).mkv"));
  EXPECT_EQ(rows[1].Record.DestinationFile, out_.file("H264_AAC_(new).mkv"));
  EXPECT_EQ(converter_.TaskCount(), 0); // the temporary tasks are gone

  // Adding again changes nothing.
  EXPECT_EQ(AddFilesToList(rows, {clip, upper}, converter_, global_), 0);
  EXPECT_EQ(rows.size(), 2u);
}

TEST(FileListSelection, RemovalSelectsTheRowThatMovedUpOrTheNewLast) {
  EXPECT_EQ(RowAfterRemove(3, 0), 0);
  EXPECT_EQ(RowAfterRemove(3, 1), 1);
  EXPECT_EQ(RowAfterRemove(3, 2), 1);
  EXPECT_EQ(RowAfterRemove(1, 0), -1);
}

TEST(ProgressTextsTest, UnknownOrZeroLengthGivesNoPercentage) {
  TProgressInfo info;
  info.TaskIndex = 1;
  info.CurrentDuration = 12'500'000;
  info.CurrentSize = 123'456;
  for (std::int64_t total : {std::int64_t{0}, std::int64_t{-1}}) {
    info.TotalDuration = total;
    const TProgressTexts t = ProgressTexts(info, 3, "/v/a.mp4");
    EXPECT_FALSE(t.Percent);
    EXPECT_EQ(t.Length, "unknown");
    EXPECT_EQ(t.Time, "12 Second");
  }
  info.TotalDuration = 50'000'000;
  const TProgressTexts t = ProgressTexts(info, 3, "/v/a.mp4");
  EXPECT_EQ(t.Percent, 25);
  EXPECT_EQ(t.Length, "50 Second");
  EXPECT_EQ(t.Size, "123 kb");
  EXPECT_EQ(t.Position, "[2/3]");
  EXPECT_EQ(t.File, "/v/a.mp4");
}

TEST(ProgressTextsTest, LongFileNamesKeepTheirStartAndExtension) {
  const std::string fifty(50, 'x');
  EXPECT_EQ(ShortFileLabel(fifty), fifty);
  const std::string longName = "/videos/" + std::string(60, 'a') + ".mkv";
  EXPECT_EQ(ShortFileLabel(longName), longName.substr(0, 44) + "...mkv");
}

TEST(ProgressTextsTest, PreviewFitsCentredHalvesToEven) {
  const TPreviewRect fourThree = FitPreviewRect(372, 210, 640, 480);
  EXPECT_EQ(fourThree.Left, 46);
  EXPECT_EQ(fourThree.Right - fourThree.Left, 280);
  EXPECT_EQ(fourThree.Top, 0);
  EXPECT_EQ(fourThree.Bottom, 210);
  const TPreviewRect wide = FitPreviewRect(372, 210, 1920, 800);
  EXPECT_EQ(wide.Top, 28); // 27.5 goes to the even 28
  EXPECT_EQ(wide.Bottom, 182);
  EXPECT_EQ(wide.Left, 0);
  EXPECT_EQ(FitPreviewRect(372, 210, 0, 480).Right, 0);
}

TEST(ProfileDisplayTest, NamesAreShownCorrectedAndOldSpellingsStillSelect) {
  for (int code : AllProfileCodes()) {
    const std::string shown = ShownProfileName(code);
    for (const char *wrong : {"Nitendeo", "Vison", "Advenced", "Meida", "formates"})
      EXPECT_EQ(shown.find(wrong), std::string::npos) << shown;
    EXPECT_EQ(FindProfileByAnyName(shown), code) << shown;
    EXPECT_EQ(FindProfileByAnyName(std::string(ProfileName(code))), code);
  }
  EXPECT_EQ(ShownProfileName(1300), "Nintendo Wii AVI Video (*.avi)");
  EXPECT_EQ(ShownProfileName(1402), "Mobile Phone 3GP2 h263 Video(*.3g2)");
  EXPECT_EQ(ShownProfileName(1403), "Mobile Phone 3GP2 MPEG-4 Video(*.3g2)");
  EXPECT_EQ(ShownProfileName(1400), "Mobile Phone 3GP h263 Video(*.3gp)");
  EXPECT_EQ(ShownCategoryName(23), "General Video formats");
  EXPECT_EQ(ShownCategoryName(13), "Nintendo WII");
  // The two Nokia names differ by one blank and stay two profiles.
  EXPECT_EQ(FindProfileByAnyName("Nokia N Series MPEG-4 Video (*.mp4)"), 1600);
  EXPECT_EQ(FindProfileByAnyName("Nokia N Series MPEG-4 Video(*.mp4)"), 1405);
}

TEST(ProfileDisplayTest, ChosenProfileFollowsTheNameElseTheCode) {
  ConfigFolder config;
  TAppSettings settings(config.SettingsFile());
  // No settings file: the default name names no profile; code 1 is what converts.
  EXPECT_EQ(ChosenProfile(settings).Code, 1);
  EXPECT_EQ(ChosenProfile(settings).Text, "iPod Video H.264 (*.mp4)");
  settings.SetFormat("Nitendeo Wii MOV Video (*.mov)", 1301);
  EXPECT_EQ(ChosenProfile(settings).Code, 1301);
  EXPECT_EQ(ChosenProfile(settings).Text, "Nintendo Wii MOV Video (*.mov)");
  settings.SetFormat("  WMA - Windows Media Audio (*.wma) ", 2403);
  EXPECT_EQ(ChosenProfile(settings).Code, 2403);
  settings.SetFormat("something else", 2200);
  EXPECT_EQ(ChosenProfile(settings).Text, "MKV - Matroska Video (*.mkv)");
  settings.SetFormat("something else", 9999);
  EXPECT_EQ(ChosenProfile(settings).Code, 1);
}

TEST(AppCommandLineTest, OptionsAndFiles) {
  const TAppCommandLine cl =
      ParseAppCommandLine({"--profile", "Nintendo Wii AVI Video (*.avi)", "--out", "/tmp/x", "--start",
                           "--quit-when-done", "/a/b.mp4", "--", "--odd.mp4"});
  ASSERT_TRUE(cl.Error.empty()) << cl.Error;
  EXPECT_EQ(cl.ProfileCode, 1300);
  EXPECT_EQ(cl.OutDir, "/tmp/x");
  EXPECT_TRUE(cl.Start);
  EXPECT_TRUE(cl.QuitWhenDone);
  ASSERT_EQ(cl.Files.size(), 2u);
  EXPECT_EQ(cl.Files[0], "/a/b.mp4");
  EXPECT_EQ(fs::path(cl.Files[1]).filename(), "--odd.mp4");
  EXPECT_EQ(ParseAppCommandLine({"--profile", "2400"}).ProfileCode, 2400);
  EXPECT_EQ(ParseAppCommandLine({"--profile", "matroska"}).ProfileCode, 2200);

  EXPECT_FALSE(ParseAppCommandLine({"--profile", "iPod"}).Error.empty()); // ambiguous
  EXPECT_FALSE(ParseAppCommandLine({"--out"}).Error.empty());
  EXPECT_FALSE(ParseAppCommandLine({"--bogus", "a.mp4"}).Error.empty());
  EXPECT_FALSE(ParseAppCommandLine({"--start"}).Error.empty());
}

} // namespace
