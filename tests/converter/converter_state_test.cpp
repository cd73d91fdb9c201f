// The converter component without running a job to its end: configuring tasks from
// records, the refusals while working, the all-ended notice of an empty run, clearing,
// the property rules and the per-input probes.
#include <filesystem>

#include "ConverterTestSupport.h"
#include "media/StringFormat.h"

using namespace tovi;
using namespace tovi::test;

namespace {

class ConverterStateTest : public ::testing::Test {
protected:
  void SetUp() override {
    LoadConverterLibraries();
    converter_.SetTriggerEventInMainThread(false);
    recorder_.Attach(converter_);
  }
  TempDir dir_;
  TFFConverter converter_;
  NoticeRecorder recorder_;
};

TEST_F(ConverterStateTest, DefaultsAndProgressIntervalFloor) {
  EXPECT_FALSE(converter_.Preview());
  EXPECT_FALSE(converter_.PreviewBitmap());
  EXPECT_EQ(converter_.ProgressInterval(), 500);
  EXPECT_EQ(converter_.ThreadPriority(), TThreadPriority::Normal);
  EXPECT_TRUE(TFFConverter().TriggerEventInMainThread());
  converter_.SetProgressInterval(50);
  EXPECT_EQ(converter_.ProgressInterval(), 100);
  converter_.SetProgressInterval(100);
  EXPECT_EQ(converter_.ProgressInterval(), 100);
  converter_.SetProgressInterval(101);
  EXPECT_EQ(converter_.ProgressInterval(), 101);
  EXPECT_THROW(converter_.SetThreadCount(-1), EConverterError);
}

TEST_F(ConverterStateTest, RecordsConfigureTheTaskAndAreFilledIn) {
  TInputOptions in;
  InitInputOptions(in);
  in.StartTime = 500000;
  const std::string source = FixturePath("h264_aac.mp4");
  const int task = converter_.AddTask(source, &in);
  ASSERT_EQ(task, 0) << converter_.LastErrorText();
  EXPECT_EQ(in.FileName, source); // an empty name is filled in

  TOutputOptions out;
  InitOutputOptions(out);
  out.VideoCodec = "mpeg4";
  out.AudioCodec = "mp2";
  out.FrameSize = "96x64";
  out.ExtOptions = "acodec=ac3<CRLF>newaudio=";
  out.Metadata.Title = "Title";
  const std::string target = dir_.file("out.mkv");
  ASSERT_TRUE(converter_.SetOutputFile(task, target, &out)) << converter_.LastErrorText();
  EXPECT_EQ(out.FileName, target);
  EXPECT_EQ(converter_.TaskCount(), 1);

  TAVProbe *probe = converter_.InputProbe(0, 0);
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->VideoStreamCount(), 1);
  EXPECT_EQ(probe->AudioStreamCount(), 1);
  EXPECT_FALSE(probe->OwnsContext()); // attached to the engine's own open file
  EXPECT_EQ(converter_.InputProbe(0, 1), nullptr);
  EXPECT_EQ(converter_.InputProbe(1, 0), nullptr);
}

TEST_F(ConverterStateTest, FailuresComeBackWithTheReason) {
  EXPECT_EQ(converter_.AddTask(dir_.file("missing.mp4")), -1);
  EXPECT_FALSE(converter_.LastErrorText().empty());
  EXPECT_EQ(converter_.TaskCount(), 0);

  TInputOptions in;
  in.FileFormat = "no-such-demuxer";
  EXPECT_EQ(converter_.AddTask(FixturePath("h264_aac.mp4"), &in), -1);
  EXPECT_FALSE(converter_.LastErrorText().empty());

  ASSERT_EQ(converter_.AddTask(FixturePath("h264_aac.mp4")), 0);
  TOutputOptions out;
  out.AudioTag = "abc";
  EXPECT_FALSE(converter_.SetOutputFile(0, dir_.file("a.mp4"), &out));
  EXPECT_EQ(converter_.LastErrorText(), "audio tag parameter must be 4 chars");
  EXPECT_FALSE(converter_.SetOutputFile(0, dir_.file("a.nosuchextension")));
  EXPECT_NE(converter_.LastErrorText().find("Unable to find a suitable output format"), std::string::npos);
  EXPECT_FALSE(converter_.SetOutputFile(5, dir_.file("a.mp4")));
}

TEST_F(ConverterStateTest, TwentyFirstOutputFileIsRefused) {
  ASSERT_EQ(converter_.AddTask(FixturePath("audio_only.mp3")), 0);
  for (int i = 0; i < MAX_FILES; ++i) {
    TOutputOptions out;
    out.DisableVideo = true;
    std::string name = std::to_string(i);
    name.append(".wav");
    ASSERT_TRUE(converter_.SetOutputFile(0, dir_.file(name), &out)) << i << converter_.LastErrorText();
  }
  EXPECT_FALSE(converter_.SetOutputFile(0, dir_.file("extra.wav")));
  EXPECT_EQ(converter_.LastErrorText(), "max output files 20 reached");
  EXPECT_FALSE(std::filesystem::exists(dir_.file("extra.wav")));
}

TEST_F(ConverterStateTest, EmptyRunEndsAtOnceAndClearsBackToIdle) {
  for (int threads : {0, 2}) {
    SCOPED_TRACE(threads);
    NoticeRecorder recorder;
    recorder.Attach(converter_);
    converter_.StartTask(threads);
    ASSERT_TRUE(recorder.WaitAllEnded(std::chrono::seconds(5)));
    EXPECT_EQ(recorder.Notices().size(), 1u);
    EXPECT_TRUE(recorder.Notices()[0].Info.Finished);
    EXPECT_TRUE(converter_.Working());
    EXPECT_TRUE(converter_.AllEnded());
    EXPECT_EQ(ConverterRefusal([&] { converter_.AddTask(FixturePath("h264_aac.mp4")); }),
              "Cannot AddTask while working.");
    converter_.ClearTasks(); // accepted: all ended
    EXPECT_FALSE(converter_.Working());
  }
}

TEST_F(ConverterStateTest, OperationsAreRefusedWhileWorking) {
  // A run whose only task has no output file: its job is rejected at once, so the run
  // ends with one notice carrying the engine's message.
  ASSERT_EQ(converter_.AddTask(FixturePath("h264_aac.mp4")), 0);
  converter_.StartTask(0);
  ASSERT_TRUE(recorder_.WaitAllEnded(std::chrono::seconds(5)));
  const auto notices = recorder_.Notices();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].Info.TaskIndex, 0);
  EXPECT_FALSE(notices[0].Info.Finished);
  EXPECT_TRUE(notices[0].Info.Exception);
  EXPECT_EQ(notices[0].Info.ExceptionMsg, "At least one output file must be specified");
  EXPECT_EQ(notices[1].Info.TaskIndex, -1);

  for (const char *op : {"AddTask", "SetOutputFile", "RemoveTask", "StartTask"}) {
    const std::string refusal = ConverterRefusal([&] {
      const std::string name = op;
      if (name == "AddTask") converter_.AddTask(FixturePath("h264_aac.mp4"));
      if (name == "SetOutputFile") converter_.SetOutputFile(0, dir_.file("x.mp4"));
      if (name == "RemoveTask") converter_.RemoveTask(0);
      if (name == "StartTask") converter_.StartTask(0);
    });
    EXPECT_EQ(refusal, StringFormat("Cannot %s while working.", op));
  }
  EXPECT_EQ(converter_.TaskCount(), 1);
  converter_.ClearTasks();
  EXPECT_EQ(converter_.TaskCount(), 0);
  EXPECT_EQ(converter_.LastErrorText(), "");
  EXPECT_EQ(converter_.AddTask(FixturePath("h264_aac.mp4")), 0); // idle again
}

TEST_F(ConverterStateTest, RemoveTaskMovesLaterTasksDown) {
  ASSERT_EQ(converter_.AddTask(FixturePath("h264_aac.mp4")), 0);
  ASSERT_EQ(converter_.AddTask(FixturePath("audio_only.mp3")), 1);
  ASSERT_EQ(converter_.AddTask(FixturePath("video_only.mp4")), 2);
  converter_.RemoveTask(1);
  EXPECT_EQ(converter_.TaskCount(), 2);
  EXPECT_EQ(converter_.InputProbe(1, 0)->AudioStreamCount(), 0); // video_only.mp4 moved to 1
  converter_.RemoveTask(7);                                      // out of range: nothing
  EXPECT_EQ(converter_.TaskCount(), 2);
}

} // namespace
