// The converter component running real conversions of generated media: the order and
// threads of its notices in the calling-thread and threaded modes, Stop mid-run, an
// error in one task, and handlers in the main thread that call back into the component.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "ConverterTestSupport.h"
#include "media/Bitmap.h"
#include "support/StalledPipe.h"

using namespace tovi;
using namespace tovi::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class ConverterRunTest : public ::testing::Test {
protected:
  void SetUp() override {
    LoadConverterLibraries();
    converter_.SetTriggerEventInMainThread(false);
    converter_.SetProgressInterval(100);
    recorder_.Attach(converter_);
  }

  // A task converting the 2-second clip to MPEG-4 and MP2 in Matroska.
  int AddTask(const std::string &output, bool hook = false) {
    const int index = converter_.AddTask(FixturePath("h264_aac.mp4"));
    EXPECT_GE(index, 0) << converter_.LastErrorText();
    TOutputOptions out;
    InitOutputOptions(out);
    out.VideoCodec = "mpeg4";
    out.AudioCodec = "mp2";
    out.CustomHook = hook;
    EXPECT_TRUE(converter_.SetOutputFile(index, dir_.file(output), &out)) << converter_.LastErrorText();
    return index;
  }

  // The duration of a finished output in microseconds (-1 when it cannot be read).
  static std::int64_t OutputDuration(const std::string &file) {
    TAVProbe probe;
    TFileStreamInfo info;
    if (!probe.LoadFile(file) || !probe.GetFileStreamInfo(info)) return -1;
    return info.Duration;
  }

  // Waits until `count` notices have arrived (the all-ended one is the last, but the
  // recorder may be asked before a task notice's thread has recorded it).
  bool WaitNotices(size_t count) {
    for (int i = 0; i < 3000 && recorder_.Notices().size() < count; ++i)
      std::this_thread::sleep_for(10ms);
    return recorder_.Notices().size() >= count;
  }

  TempDir dir_;
  TFFConverter converter_;
  NoticeRecorder recorder_;
};

TEST_F(ConverterRunTest, CallingThreadRunsTasksInOrderBeforeReturning) {
  for (const char *name : {"a.mkv", "b.mkv", "c.mkv"})
    AddTask(name);
  std::mutex mutex;
  std::vector<std::pair<int, int>> finalReports; // (task, file index) of final reports
  std::set<std::thread::id> progressThreads;
  converter_.SetOnProgress([&](TCustomConverter &, PProgressInfo info) {
    std::lock_guard lock(mutex);
    progressThreads.insert(std::this_thread::get_id());
    if (info->FileIndex == -1) {
      finalReports.emplace_back(info->TaskIndex, info->FileIndex);
      EXPECT_GT(info->CurrentSize, 0);
      EXPECT_GT(info->FrameNumber, 0);
      EXPECT_NEAR(double(info->CurrentDuration), 2e6, 2e5);
    }
  });

  converter_.StartTask(0);

  // Everything was delivered before StartTask returned, on this thread, in task order.
  const auto notices = recorder_.Notices();
  ASSERT_EQ(notices.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(notices[size_t(i)].Info.TaskIndex, i < 3 ? i : -1);
    EXPECT_TRUE(notices[size_t(i)].Info.Finished);
    EXPECT_FALSE(notices[size_t(i)].Info.Exception) << notices[size_t(i)].Info.ExceptionMsg;
    EXPECT_EQ(notices[size_t(i)].Thread, std::this_thread::get_id());
  }
  EXPECT_EQ(finalReports, (std::vector<std::pair<int, int>>{{0, -1}, {1, -1}, {2, -1}}));
  EXPECT_EQ(progressThreads, std::set<std::thread::id>{std::this_thread::get_id()});
  for (const char *name : {"a.mkv", "b.mkv", "c.mkv"})
    EXPECT_NEAR(double(OutputDuration(dir_.file(name))), 2e6, 2e5);
  converter_.ClearTasks();
}

TEST_F(ConverterRunTest, TwoWorkersRunThreeTasksAndTheThirdWaitsForAFreeOne) {
  for (const char *name : {"a.mkv", "b.mkv", "c.mkv"})
    AddTask(name, true);
  std::mutex mutex;
  std::map<int, size_t> noticesAtStart; // task -> notices counted when its first frame came
  std::set<std::thread::id> hookThreads;
  std::condition_variable secondStarted;
  converter_.SetOnCustomHook([&](TCustomConverter &, PHookInfo info) {
    {
      std::unique_lock lock(mutex);
      hookThreads.insert(std::this_thread::get_id());
      if (!noticesAtStart.count(info->TaskIndex))
        noticesAtStart[info->TaskIndex] = recorder_.Notices().size();
      if (info->TaskIndex == 1) secondStarted.notify_all();
      // Task 0 holds on until task 1 has a frame: run side by side, that comes at once;
      // run one after the other, it never comes before task 0 ends, which the check of
      // task 1's start below then catches. No scheduling luck either way.
      if (info->TaskIndex == 0)
        secondStarted.wait_for(lock, 5s, [&] { return noticesAtStart.count(1) != 0; });
    }
    EXPECT_TRUE(info->Update);
    EXPECT_FALSE(info->StopHook);
    if (info->Bitmap->TryLock()) { // the canvas must be locked while the handler draws
      ADD_FAILURE() << "canvas not locked";
      info->Bitmap->Unlock();
    }
    std::this_thread::sleep_for(3ms); // keeps the two first tasks running side by side
  });

  converter_.StartTask(2);
  EXPECT_TRUE(converter_.Working()); // threaded: returns at once
  ASSERT_TRUE(recorder_.WaitAllEnded());
  ASSERT_TRUE(WaitNotices(4));
  std::this_thread::sleep_for(50ms); // a second all-ended notice would show up here
  const auto notices = recorder_.Notices();
  ASSERT_EQ(notices.size(), 4u);
  EXPECT_EQ(recorder_.AllEndedCount(), 1);
  EXPECT_EQ(notices.back().Info.TaskIndex, -1); // after every task's notice was handled
  std::set<int> tasks;
  for (const TNotice &n : notices) {
    tasks.insert(n.Info.TaskIndex);
    EXPECT_TRUE(n.Info.Finished) << n.Info.TaskIndex << " " << n.Info.ExceptionMsg;
    EXPECT_NE(n.Thread, std::this_thread::get_id());
  }
  EXPECT_EQ(tasks, (std::set<int>{-1, 0, 1, 2}));

  std::lock_guard lock(mutex);
  EXPECT_EQ(noticesAtStart[0], 0u);
  EXPECT_EQ(noticesAtStart[1], 0u); // started together with task 0
  EXPECT_GE(noticesAtStart[2], 1u); // only once one of them had ended
  EXPECT_FALSE(hookThreads.count(std::this_thread::get_id()));
  EXPECT_GE(hookThreads.size(), 2u);
  converter_.ClearTasks();
  for (const char *name : {"a.mkv", "b.mkv", "c.mkv"})
    EXPECT_NEAR(double(OutputDuration(dir_.file(name))), 2e6, 2e5);
}

TEST_F(ConverterRunTest, StopWithWaitEndsTheRunningTaskCleanlyAndTheOthersUnstarted) {
  for (const char *name : {"a.mkv", "b.mkv", "c.mkv"})
    AddTask(name, true);
  std::atomic<int> frames{0};
  converter_.SetOnCustomHook([&](TCustomConverter &, PHookInfo) {
    ++frames;
    std::this_thread::sleep_for(10ms);
  });
  converter_.StartTask(1);
  while (frames < 5)
    std::this_thread::sleep_for(1ms);
  converter_.Stop(true);
  // With wait, the running task has ended (and counted) when Stop returns.
  ASSERT_TRUE(recorder_.WaitAllEnded(10s));
  ASSERT_TRUE(WaitNotices(4));
  std::map<int, TTerminateInfo> byTask;
  for (const TNotice &n : recorder_.Notices())
    byTask[n.Info.TaskIndex] = n.Info;
  ASSERT_EQ(byTask.size(), 4u);
  EXPECT_FALSE(byTask[0].Finished);
  EXPECT_FALSE(byTask[0].Exception) << byTask[0].ExceptionMsg;
  for (int task : {1, 2}) {
    EXPECT_FALSE(byTask[task].Finished);
    EXPECT_FALSE(byTask[task].Exception);
  }
  EXPECT_TRUE(byTask[-1].Finished);
  EXPECT_EQ(recorder_.AllEndedCount(), 1);
  converter_.ClearTasks();

  // The stopped output is complete up to where it stopped; the tasks that never ran
  // leave no file behind.
  const std::int64_t stopped = OutputDuration(dir_.file("a.mkv"));
  EXPECT_GT(stopped, 0);
  EXPECT_LT(stopped, 1900000);
  EXPECT_FALSE(fs::exists(dir_.file("b.mkv")));
  EXPECT_FALSE(fs::exists(dir_.file("c.mkv")));
}

TEST_F(ConverterRunTest, ConcurrentStopsGiveEachTaskOneNoticeAndTheAllEndedNoticeLast) {
  constexpr int kRounds = 15, kTasks = 4, kStoppers = 4;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    NoticeRecorder recorder;
    recorder.Attach(converter_);
    for (int t = 0; t < kTasks; ++t)
      AddTask("r" + std::to_string(t) + ".mkv");
    converter_.StartTask(2);
    std::atomic<int> ready{0};
    std::vector<std::thread> stoppers;
    for (int s = 0; s < kStoppers; ++s)
      stoppers.emplace_back([&, s] {
        ++ready;
        while (ready < kStoppers)
          std::this_thread::yield();
        converter_.Stop(s == 0);
      });
    for (std::thread &t : stoppers)
      t.join();
    ASSERT_TRUE(recorder.WaitAllEnded(20s));
    const std::vector<TNotice> notices = recorder.Notices();
    std::map<int, int> perTask;
    for (const TNotice &n : notices)
      ++perTask[n.Info.TaskIndex];
    for (int t = -1; t < kTasks; ++t)
      EXPECT_EQ(perTask[t], 1) << "notices of task " << t;
    EXPECT_EQ(perTask.size(), size_t(kTasks + 1));
    EXPECT_EQ(notices.back().Info.TaskIndex, -1);
    converter_.ClearTasks();
  }
}

TEST_F(ConverterRunTest, AnErrorInOneTaskDoesNotStopTheOthers) {
  AddTask("a.mkv");
  const int bad = converter_.AddTask(FixturePath("h264_aac.mp4"));
  TOutputOptions out;
  out.VideoCodec = "copy";
  out.CustomHook = true; // a hook needs decoded pictures: the set-up refuses the copy
  ASSERT_TRUE(converter_.SetOutputFile(bad, dir_.file("bad.mkv"), &out)) << converter_.LastErrorText();
  AddTask("c.mkv");
  converter_.StartTask(1);
  ASSERT_TRUE(recorder_.WaitAllEnded());
  ASSERT_TRUE(WaitNotices(4));
  std::map<int, TTerminateInfo> byTask;
  for (const TNotice &n : recorder_.Notices())
    byTask[n.Info.TaskIndex] = n.Info;
  EXPECT_TRUE(byTask[0].Finished);
  EXPECT_TRUE(byTask[1].Exception);
  EXPECT_FALSE(byTask[1].ExceptionMsg.empty());
  EXPECT_TRUE(byTask[2].Finished);
  EXPECT_FALSE(byTask[2].Exception);
  converter_.ClearTasks();
  EXPECT_FALSE(fs::exists(dir_.file("bad.mkv"))); // a failed job leaves no half file
}

TEST_F(ConverterRunTest, MainThreadHandlersMayCallBackIntoTheComponent) {
  auto dispatcher = std::make_shared<TQueuedDispatcher>();
  SetMainThreadDispatcher(dispatcher);
  converter_.SetTriggerEventInMainThread(true);
  for (const char *name : {"a.mkv", "b.mkv"})
    AddTask(name, true);
  converter_.SetOnCustomHook([&](TCustomConverter &, PHookInfo) { std::this_thread::sleep_for(5ms); });

  std::atomic<int> calls{0};
  std::atomic<bool> offMainThread{false};
  std::string refusal;
  converter_.SetOnProgress([&](TCustomConverter &sender, PProgressInfo) {
    if (!IsMainThread()) offMainThread = true;
    EXPECT_EQ(sender.TaskCount(), 2);
    sender.SetPreviewBitmap(calls % 2 == 0); // the engine's preview lock may be held
    sender.Pause();
    sender.Resume();
    if (++calls == 2) {
      refusal = ConverterRefusal([&] { sender.AddTask(FixturePath("h264_aac.mp4")); });
      sender.Stop(true); // the job waits for this handler: must not wait for the job
    }
  });
  converter_.StartTask(2);
  const bool ended = recorder_.PumpUntilAllEnded(*dispatcher, 60s);
  EXPECT_TRUE(ended);
  EXPECT_GE(calls, 2);
  EXPECT_FALSE(offMainThread);
  EXPECT_EQ(refusal, "Cannot AddTask while working.");
  if (ended) converter_.ClearTasks();
  SetMainThreadDispatcher(nullptr);
}

TEST_F(ConverterRunTest, PreviewBitmapsReachTheMainThreadAtTheOutputSize) {
  auto dispatcher = std::make_shared<TQueuedDispatcher>();
  SetMainThreadDispatcher(dispatcher);
  converter_.SetTriggerEventInMainThread(true);
  converter_.SetPreviewBitmap(true);
  const int task = converter_.AddTask(FixturePath("h264_aac.mp4"));
  TOutputOptions out;
  out.VideoCodec = "mpeg4";
  out.FrameSize = "96x64";
  out.CustomHook = true;
  ASSERT_TRUE(converter_.SetOutputFile(task, dir_.file("a.mkv"), &out)) << converter_.LastErrorText();
  // 50 frames at 10 ms: about half a second, so several previews (at most one per 100 ms).
  converter_.SetOnCustomHook([](TCustomConverter &, PHookInfo) { std::this_thread::sleep_for(10ms); });
  std::vector<int> frames;
  bool wrong = false;
  converter_.SetOnPreviewBitmap([&](TCustomConverter &, const TPreviewInfo &info) {
    wrong |= !IsMainThread() || info.TaskIndex != 0 || !info.Bitmap || info.Bitmap->Width() != 96 ||
             info.Bitmap->Height() != 64;
    frames.push_back(info.FrameNumber);
  });
  converter_.StartTask(1);
  ASSERT_TRUE(recorder_.PumpUntilAllEnded(*dispatcher));
  EXPECT_FALSE(wrong);
  EXPECT_GE(frames.size(), 2u);
  EXPECT_LE(frames.size(), 12u);
  EXPECT_TRUE(std::is_sorted(frames.begin(), frames.end()));
  converter_.ClearTasks();
  SetMainThreadDispatcher(nullptr);
}

TEST_F(ConverterRunTest, JoinedInputsMakeOneOutput) {
  TInputOptions in;
  const int task = converter_.AddTask(FixturePath("h264_aac.mp4"), &in);
  ASSERT_TRUE(converter_.AddInputFile(task, FixturePath("h264_aac.mp4"))) << converter_.LastErrorText();
  TOutputOptions out;
  out.VideoCodec = "mpeg4";
  out.AudioCodec = "mp2";
  out.Join = true;
  ASSERT_TRUE(converter_.SetOutputFile(task, dir_.file("joined.mkv"), &out)) << converter_.LastErrorText();
  EXPECT_NE(converter_.InputProbe(task, 1), nullptr);
  converter_.StartTask(0);
  ASSERT_EQ(recorder_.Notices().size(), 2u);
  EXPECT_TRUE(recorder_.Notices()[0].Info.Finished) << recorder_.Notices()[0].Info.ExceptionMsg;
  converter_.ClearTasks();
  EXPECT_NEAR(double(OutputDuration(dir_.file("joined.mkv"))), 4e6, 3e5);
}

TEST_F(ConverterRunTest, AllEndedHandlerMayClearTheTasks) {
  for (int threads : {0, 2}) {
    SCOPED_TRACE(threads);
    NoticeRecorder recorder;
    std::atomic<bool> cleared{false};
    converter_.SetOnTerminate([&](TCustomConverter &sender, const TTerminateInfo &info) {
      if (info.TaskIndex == -1) {
        sender.ClearTasks();
        cleared = true;
      }
      recorder.Add(info);
    });
    AddTask("a.mkv");
    AddTask("b.mkv");
    converter_.StartTask(threads);
    ASSERT_TRUE(recorder.WaitAllEnded());
    for (int i = 0; i < 500 && !cleared; ++i)
      std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(cleared);
    EXPECT_FALSE(converter_.Working());
    EXPECT_EQ(converter_.TaskCount(), 0);
  }
}

// A task's input that stops delivering: while the task is being added (nothing written
// yet, or no writer at all) Stop makes AddTask give up; while the job runs, Stop ends
// it with a stopped notice, never a finished one.
TEST_F(ConverterRunTest, StopEndsTasksWhoseInputPipeStalls) {
  for (const auto kind : {TStalledPipe::Silent, TStalledPipe::NoWriter}) {
    SCOPED_TRACE(kind == TStalledPipe::Silent ? "adding: silent writer" : "adding: no writer");
    const std::string name = dir_.file(kind == TStalledPipe::Silent ? "silent.mpg" : "lonely.mpg");
    TStalledPipe pipe(name, kind);
    ASSERT_TRUE(pipe.Ready());
    std::atomic<bool> ended{false};
    std::atomic<int> index{0};
    std::thread adder([&] {
      index = converter_.AddTask(name);
      ended = true;
    });
    EXPECT_TRUE(StopUntilEnded([&] { converter_.Stop(false); }, [&] { return ended.load(); }))
        << "AddTask waited on";
    pipe.Release(); // lets an AddTask that ignored the stop end
    adder.join();
    EXPECT_EQ(index, -1);
    EXPECT_EQ(converter_.LastErrorText(), name + ": opening stopped");
    EXPECT_EQ(converter_.TaskCount(), 0);
  }

  SCOPED_TRACE("running");
  const std::string name = dir_.file("stalled.mpg");
  TStalledPipe pipe(name, TStalledPipe::Silent);
  ASSERT_TRUE(pipe.Ready());
  std::ifstream in(FixturePath("mpeg2_mp2.mpg"), std::ios::binary);
  pipe.Feed({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
  TInputOptions input;
  // A program stream announces no streams: a short probe keeps the open within the data.
  input.ExtOptions = "analyzeduration=500000";
  const int task = converter_.AddTask(name, &input);
  ASSERT_EQ(task, 0) << converter_.LastErrorText();
  TOutputOptions out;
  InitOutputOptions(out);
  out.VideoCodec = "mpeg4";
  out.AudioCodec = "mp2";
  const std::string output = dir_.file("from_pipe.mkv");
  ASSERT_TRUE(converter_.SetOutputFile(task, output, &out)) << converter_.LastErrorText();
  std::atomic<int> reports{0};
  converter_.SetOnProgress([&](TCustomConverter &, PProgressInfo) { ++reports; });
  converter_.StartTask(1);
  // Usually the job has read what there is by then and waits; either way works.
  for (int i = 0; i < 300 && reports < 1; ++i)
    std::this_thread::sleep_for(10ms);
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    converter_.Stop(true);
    stopped = true;
  });
  const bool ended = StopUntilEnded([] {}, [&] { return stopped.load(); });
  EXPECT_TRUE(ended) << "the job waited on";
  pipe.Release();
  stopper.join();
  ASSERT_TRUE(recorder_.WaitAllEnded());
  ASSERT_TRUE(WaitNotices(2));
  for (const TNotice &n : recorder_.Notices())
    if (n.Info.TaskIndex == task) {
      EXPECT_FALSE(n.Info.Finished);
      EXPECT_FALSE(n.Info.Exception) << n.Info.ExceptionMsg;
    }
  converter_.ClearTasks();
  // Whatever was written before the stop is a readable file, not a broken one.
  if (fs::exists(output)) {
    EXPECT_GT(OutputDuration(output), 0);
  }
}

} // namespace
