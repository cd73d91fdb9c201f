// Conversion start through the real converter: watermark time ranges and effects in
// the output pictures, trims, skipped rows, the no-checked-row warning and the
// completion actions.
#include <gtest/gtest.h>

#include <QtGui/QImage>

#include "ConversionTestSupport.h"
#include "DecodedMedia.h"
#include "appcore/IniFile.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/Settings.h"
#include "appcore/WatermarkRenderer.h"

using namespace tovi;
using namespace tovi::test;

namespace {

struct FakeActions : ICompletionActions {
  std::vector<std::string> calls;
  void OpenOutputFolder(const std::string &folder) override { calls.push_back("open " + folder); }
  void ShutDown() override { calls.push_back("shutdown"); }
};

class Conversion : public QueueConversionTest {};

} // namespace

// A white square stamped for second 1 only, over the clip's black colour bar (the
// pattern's lower right); black text on black for the whole clip over the frame-number
// cells in the upper left (drawn with QPainter on the worker thread).
TEST_F(Conversion, WatermarksFollowTheirTimeRanges) {
  const std::string picture = config_.File("white.bmp");
  QImage white(16, 16, QImage::Format_RGB888);
  white.fill(Qt::white);
  ASSERT_TRUE(white.save(QString::fromStdString(picture)));

  std::vector<TFileRow> rows{RowFor(FixturePath("h264_aac.mp4"))}; // 176x144, 2 s
  TWmRec p;
  p.Kind = TWmRec::wkPicture;
  p.PictureFile = picture;
  p.PictureLeft = 150;
  p.PictureTop = 110;
  p.PictureOpacity = 255;
  p.Start = 1;
  p.End = 1;
  rows[0].Record.Watermarks.push_back(p);
  TWmRec text;
  text.Text = "Tovi";
  text.Font.Color = MakeColor(0, 0, 0);
  text.BackgroundColor = MakeColor(0, 0, 0);
  text.TextOpacity = 255;
  text.End = 1000;
  MeasureText(text.Text, text.Font, text.TextWidth, text.TextHeight);
  rows[0].Record.Watermarks.push_back(text);
  ASSERT_TRUE(rows[0].Record.NeedsCustomHook());

  const ConversionRun run = RunConversion(converter_, queue_, rows, options_);
  ASSERT_EQ(run.notices.size(), 1u);
  ASSERT_TRUE(run.notices[0].Finished) << run.notices[0].ExceptionMsg;

  int before = 0, during = 0;
  const DecodedMedia m = DecodeFile(rows[0].Record.DestinationFile, [&](AVFrame *f) {
    const double t = f->best_effort_timestamp * 0.001; // matroska: milliseconds
    EXPECT_LT(MeanLuma(f, 2, 2, std::min(text.TextWidth, 170) - 4, std::min(text.TextHeight, 30) - 4), 30)
        << "text box at " << f->best_effort_timestamp;
    const double luma = MeanLuma(f, 152, 112, 12, 12);
    if (t < 0.98) {
      ++before;
      EXPECT_LT(luma, 60) << "no mark at " << t;
    } else if (t > 1.02 && t < 1.98) {
      ++during;
      EXPECT_GT(luma, 200) << "mark at " << t;
    }
  });
  ASSERT_EQ(m.width, 176);
  EXPECT_GT(before, 20);
  EXPECT_GT(during, 20);
}

TEST_F(Conversion, EffectsReachTheOutputAndTrimSetsTheRange) {
  std::vector<TFileRow> rows{RowFor(FixturePath("h264_aac.mp4"))};
  rows[0].Record.Brightness = 0; // every channel to 1: a black picture
  rows[0].Record.TrimStart = 500000;
  rows[0].Record.TrimLength = 1000000;
  const ConversionRun run = RunConversion(converter_, queue_, rows, options_);
  ASSERT_EQ(run.notices.size(), 1u);
  ASSERT_TRUE(run.notices[0].Finished) << run.notices[0].ExceptionMsg;
  double brightest = 0;
  const DecodedMedia m = DecodeFile(rows[0].Record.DestinationFile, [&](AVFrame *f) {
    brightest = std::max(brightest, MeanLuma(f, 0, 0, 176, 144));
  });
  EXPECT_LT(brightest, 25);
  EXPECT_NEAR(m.videoEnd - m.videoStart, 1.0, m.frameSeconds + 1e-3);
}

TEST_F(Conversion, NoCheckedRowWarnsAndStartsNothing) {
  std::vector<TFileRow> rows{RowFor(FixturePath("h264_aac.mp4"))};
  rows[0].Checked = false;
  EXPECT_FALSE(queue_.StartConversion(rows, options_));
  EXPECT_EQ(warnings_,
            (std::vector<std::string>{"Warning: Please select a file by clicking the check box!"}));
  EXPECT_EQ(converter_.TaskCount(), 0);
}

TEST_F(Conversion, CompletionActionsOnceAfterTheLastTaskFinished) {
  std::vector<TFileRow> rows{RowFor(FixturePath("short_clip.mp4")), RowFor(FixturePath("audio_only.wav")),
                             RowFor(FixturePath("short_clip.mp4"))};
  rows[1].Checked = false;
  FakeActions actions;
  const ConversionRun run = RunConversion(converter_, queue_, rows, options_, &actions, true, true);
  ASSERT_EQ(run.notices.size(), 2u);
  EXPECT_EQ(queue_.TaskRows(), (std::vector<int>{0, 2}));
  EXPECT_EQ(actions.calls, (std::vector<std::string>{"open " + *options_.OutDir, "shutdown"}));
  EXPECT_EQ(rows[0].Progress, "100%");
  EXPECT_TRUE(rows[1].Progress.empty());
  EXPECT_NE(rows[0].Record.DestinationFile, rows[2].Record.DestinationFile) << "never the same output twice";
  EXPECT_TRUE(run.allEnded);
}

TEST_F(Conversion, AFailedLastTaskRunsNoCompletionAndBadRowsAreSkipped) {
  const std::string missingPicture = config_.File("missing.bmp");
  std::vector<TFileRow> rows{RowFor(FixturePath("short_clip.mp4")), RowFor(config_.File("no-such-file.mp4")),
                             RowFor(FixturePath("short_clip.mp4")), RowFor(FixturePath("truncated.mp4"))};
  TWmRec p;
  p.Kind = TWmRec::wkPicture;
  p.PictureFile = missingPicture;
  rows[2].Record.Watermarks.push_back(p);
  FakeActions actions;
  const ConversionRun run = RunConversion(converter_, queue_, rows, options_, &actions, true, false);
  ASSERT_EQ(queue_.RowErrors().size(), 3u);
  EXPECT_EQ(queue_.RowErrors()[0].first, 1);
  EXPECT_EQ(queue_.RowErrors()[1].first, 2);
  EXPECT_NE(queue_.RowErrors()[1].second.find("missing.bmp"), std::string::npos);
  EXPECT_EQ(queue_.RowErrors()[2].first, 3);
  ASSERT_EQ(run.notices.size(), 1u);
  EXPECT_TRUE(run.notices[0].Finished);
  EXPECT_EQ(actions.calls.size(), 1u) << "the only task was the last";

  // A stopped last task: no completion.
  TTerminateInfo stopped;
  stopped.TaskIndex = 0;
  stopped.Finished = false;
  actions.calls.clear();
  rows[0].Progress = "42%";
  EXPECT_EQ(queue_.HandleTerminate(stopped, rows, true, true, &actions), 0);
  EXPECT_TRUE(actions.calls.empty());
  EXPECT_EQ(rows[0].Progress, "42%");
}

// The settings file holds no section for the profile: the first start seeds it, so the
// video is converted, not silently dropped.
TEST_F(Conversion, AProfileWithoutUserSectionKeepsItsVideo) {
  TIniFile settings(global_.SettingsFile());
  ASSERT_FALSE(settings.SectionExists(ProfileSection(0)));
  options_.ProfileCode = 0; // iPod Video MPEG-4, 320x240
  std::vector<TFileRow> rows{RowFor(FixturePath("short_clip.mp4"))};
  const ConversionRun run = RunConversion(converter_, queue_, rows, options_);
  ASSERT_EQ(run.notices.size(), 1u);
  ASSERT_TRUE(run.notices[0].Finished) << run.notices[0].ExceptionMsg;
  const DecodedMedia m = DecodeFile(rows[0].Record.DestinationFile);
  EXPECT_EQ(m.videoCodec, "mpeg4");
  EXPECT_EQ(m.width, 320);
  EXPECT_EQ(settings.ReadString(ProfileSection(0), "paraVideoEncoder", ""), "mpeg4");
}
