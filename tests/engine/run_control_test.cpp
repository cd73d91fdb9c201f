// Running jobs from the host's side: refused starts, the termination notice, stop
// during a threaded run, pause, the progress callback's arguments, and what the job
// leaves on disk when it fails before it starts.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
#include <vector>

#include "TranscodeTestSupport.h"

using namespace tovi;
using namespace tovi::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The writing end of a named pipe that delivers what it is given and then nothing,
// without ending, until it is closed. Opened read-write so that it never waits for a
// reader.
class TStalledPipe {
public:
  explicit TStalledPipe(const std::string &name) {
    if (::mkfifo(name.c_str(), 0600) == 0) fd_ = ::open(name.c_str(), O_RDWR);
  }
  ~TStalledPipe() { Close(); }
  bool IsOpen() const { return fd_ >= 0; }
  // Writes `bytes` on a thread of its own (a pipe holds less than a file).
  void Feed(std::vector<char> bytes) {
    feeder_ = std::thread([this, bytes = std::move(bytes)] {
      for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += size_t(n);
      }
    });
  }
  // The end of the data: a reader still waiting sees the end of the file.
  void Close() {
    if (feeder_.joinable()) feeder_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

private:
  int fd_ = -1;
  std::thread feeder_;
};

// Waits up to 10 s for `done`; the generous bound only turns a hang into a failure.
bool EndsWithin10s(const std::function<bool()> &done) {
  for (int i = 0; i < 1000 && !done(); ++i)
    std::this_thread::sleep_for(10ms);
  return done();
}

struct Report {
  int Input, Frame, Fps;
  float Quality, BitRate;
  std::int64_t Size, TimeUs, TotalUs;
};

class RunControlTest : public TranscodeTest {
protected:
  // Progress reports, written on the job's thread.
  void RecordProgress() {
    engine_.SetOnProgress([this](TCustomFFmpeg &, int input, int frame, int fps, float q, float rate,
                                 std::int64_t size, std::int64_t time, std::int64_t total) {
      std::lock_guard lock(mutex_);
      reports_.push_back({input, frame, fps, q, rate, size, time, total});
    });
  }
  std::vector<Report> Reports() {
    std::lock_guard lock(mutex_);
    return reports_;
  }
  // Waits up to `limit` for the first progress report.
  bool WaitForReport(std::chrono::milliseconds limit = 5000ms) {
    for (auto waited = 0ms; waited < limit; waited += 5ms) {
      if (!Reports().empty()) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }
  std::atomic<int> threadedTerminations_{0};
  std::mutex mutex_; // protects reports_
  std::vector<Report> reports_;
};

TEST_F(RunControlTest, StartWithoutFilesIsRejectedWithOneNotice) {
  engine_.SetOnTerminate([this](TCustomFFmpeg &e) {
    ++terminations_;
    EXPECT_TRUE(e.ErrorOccurred());
    EXPECT_FALSE(e.Busy());
  });
  EXPECT_EQ(engine_.Start(true), nullptr);
  EXPECT_EQ(terminations_, 1);
  EXPECT_EQ(engine_.ErrorMessage(), "At least one output file must be specified");
  EXPECT_TRUE(log_.Has(&engine_, llQuiet, "At least one output file must be specified"));
  EXPECT_TRUE(engine_.Terminated());
  // A terminated engine starts nothing and sends no second notice.
  EXPECT_EQ(engine_.Start(false), nullptr);
  EXPECT_EQ(terminations_, 1);

  // An output without any input: the input message, and the empty file is gone.
  TCustomFFmpeg other;
  other.Reset();
  int notices = 0;
  other.SetOnTerminate([&](TCustomFFmpeg &) { ++notices; });
  const std::string out = Out("no_input.avi");
  if (other.AddOutputFile(out, false) >= 0) {
    EXPECT_EQ(other.Start(false), nullptr);
    EXPECT_EQ(other.ErrorMessage(), "At least one input file must be specified");
    EXPECT_EQ(notices, 1);
    EXPECT_FALSE(fs::exists(out));
  }
}

TEST_F(RunControlTest, FailureInSetUpLeavesNoOutputAndReportsTheMessage) {
  // H.263 refuses a picture size that is not a multiple of 4 when the encoder is opened.
  const std::string out = Out("refused.mp4");
  ASSERT_TRUE(Configure({{"i", "video_only.mp4"}, {"vcodec", "h263"}, {"s", "161x121"}}, out));
  engine_.SetOnTerminate([this](TCustomFFmpeg &) { ++terminations_; });
  engine_.Start(false);
  EXPECT_EQ(terminations_, 1);
  EXPECT_FALSE(engine_.CompletedNormally());
  EXPECT_TRUE(engine_.ErrorOccurred());
  EXPECT_TRUE(engine_.ErrorMessage().starts_with("Error while opening encoder for output stream #0.0"))
      << engine_.ErrorMessage();
  EXPECT_TRUE(log_.Has(&engine_, llQuiet, engine_.ErrorMessage()));
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(engine_.OpenEncoderCount(), 0);
}

TEST_F(RunControlTest, StopDuringAThreadedRunFinishesTheFile) {
  const std::string out = Out("stopped.avi");
  // Rate emulation makes the job last as long as the input plays.
  ASSERT_TRUE(Configure({{"re", "1"}, {"i", "video_only.mp4"}, {"vcodec", "mpeg4"}}, out));
  engine_.SetProgressIntervalUs(50000);
  RecordProgress();
  engine_.SetOnTerminate([this](TCustomFFmpeg &) { ++threadedTerminations_; });
  TConvertThread *thread = engine_.Start(true, TThreadPriority::Lower);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(engine_.Busy());
  thread->Resume();
  ASSERT_TRUE(WaitForReport());
  engine_.Stop(true);
  EXPECT_FALSE(engine_.Busy());
  EXPECT_EQ(threadedTerminations_, 1);
  EXPECT_FALSE(engine_.CompletedNormally());
  EXPECT_FALSE(engine_.ErrorOccurred()) << engine_.ErrorMessage();
  const FileSummary file = ReadOutput(out);
  ASSERT_TRUE(file.Opened);
  ASSERT_EQ(file.Streams.size(), 1u);
  EXPECT_GT(file.Streams[0].Frames, 0);
  EXPECT_LT(file.Streams[0].Frames, 50);
  EXPECT_TRUE(Consecutive(file.Streams[0].PatternFrames, 0));
  EXPECT_NEAR(file.DurationSeconds, file.Streams[0].Frames * 0.04, 0.041); // the index was written
}

TEST_F(RunControlTest, PauseHoldsTheJobAndStopEndsIt) {
  const std::string out = Out("paused.avi");
  ASSERT_TRUE(Configure({{"re", "1"}, {"i", "video_only.mp4"}, {"vcodec", "mpeg4"}}, out));
  engine_.SetProgressIntervalUs(20000);
  RecordProgress();
  engine_.SetOnTerminate([this](TCustomFFmpeg &) { ++threadedTerminations_; });
  TConvertThread *thread = engine_.Start(true);
  ASSERT_NE(thread, nullptr);
  // The caller may start the suspended thread through the engine as well.
  engine_.Resume();
  ASSERT_TRUE(WaitForReport());
  engine_.Pause();
  EXPECT_TRUE(engine_.Paused());
  std::this_thread::sleep_for(100ms); // lets a packet in flight finish
  const size_t before = Reports().size();
  std::this_thread::sleep_for(300ms);
  EXPECT_LE(Reports().size(), before + 0); // nothing moves while paused
  EXPECT_TRUE(engine_.Busy());
  const auto start = std::chrono::steady_clock::now();
  engine_.Stop(true);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_FALSE(engine_.Paused());
  EXPECT_FALSE(engine_.Busy());
  EXPECT_EQ(threadedTerminations_, 1);
  EXPECT_FALSE(engine_.ErrorOccurred()) << engine_.ErrorMessage();
  EXPECT_GT(ReadOutput(out).Streams.at(0).Frames, 0);
}

TEST_F(RunControlTest, ProgressReportsStartWithTheFirstEncodedPicture) {
  const std::string out = Out("progress.avi");
  ASSERT_TRUE(Configure({{"i", "video_only.mp4"}, {"vcodec", "mpeg4"}}, out));
  engine_.SetProgressIntervalUs(0); // a report after every packet
  RecordProgress();
  ASSERT_TRUE(RunJob());
  const auto reports = Reports();
  ASSERT_GE(reports.size(), 2u);
  for (const Report &r : reports) {
    EXPECT_GE(r.Frame, 1); // never before the first picture is encoded
    EXPECT_GE(r.Quality, 1.0f);
    EXPECT_EQ(r.TotalUs, 2000000);
  }
  for (size_t k = 0; k + 1 < reports.size(); ++k) {
    EXPECT_EQ(reports[k].Input, 0);
    EXPECT_LE(reports[k].Frame, reports[k + 1].Frame);
    EXPECT_LE(reports[k].TimeUs, reports[k + 1].TimeUs);
  }
  const Report &last = reports.back();
  EXPECT_EQ(last.Input, -1);
  EXPECT_EQ(last.Frame, 50);
  EXPECT_EQ(last.Size, std::int64_t(fs::file_size(out)));
  EXPECT_NEAR(double(last.TimeUs), 2000000.0, 40000.0);
  EXPECT_NEAR(last.BitRate, double(last.Size) * 8 / (double(last.TimeUs) / 1e6) / 1000, 1.0);
}

TEST_F(RunControlTest, TerminateSendsTheNoticeOfAnIdleEngineOnce) {
  engine_.SetOnTerminate([this](TCustomFFmpeg &e) {
    ++threadedTerminations_;
    EXPECT_TRUE(e.Terminated());
  });
  engine_.Terminate(true);
  EXPECT_EQ(threadedTerminations_, 1);
  engine_.Terminate(true);
  EXPECT_EQ(threadedTerminations_, 1);
}

// Several threads stop one idle engine at the same moment, one of them through a
// refused Start: whoever wins, the engine sends exactly one notice.
TEST_F(RunControlTest, ConcurrentTerminatesSendOneNotice) {
  constexpr int kRounds = 200, kThreads = 4;
  for (int round = 0; round < kRounds; ++round) {
    std::atomic<int> notices{0};
    {
      TCustomFFmpeg engine;
      engine.Reset();
      engine.SetOnTerminate([&](TCustomFFmpeg &) { ++notices; });
      std::atomic<int> ready{0};
      std::vector<std::thread> threads;
      for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
          ++ready;
          while (ready < kThreads)
            std::this_thread::yield();
          if (t == 0)
            engine.Start(false); // no files: refused with its notice
          else
            engine.Terminate(false);
        });
      for (std::thread &thread : threads)
        thread.join();
      // The destructor joins a notice thread still on its way.
    }
    ASSERT_EQ(notices, 1) << "round " << round;
  }
}

} // namespace

namespace {

// A stop reaches a read that no data will ever end: while the input is being opened
// (nothing written at all), and while a running job waits for more of a stream.
TEST_F(RunControlTest, StopEndsReadsOfAPipeThatStalls) {
  {
    SCOPED_TRACE("opening a pipe that stays silent");
    const std::string name = Out("silent.mpg");
    TStalledPipe pipe(name);
    ASSERT_TRUE(pipe.IsOpen());
    std::atomic<bool> ended{false}, added{true};
    std::thread adder([&] {
      added = engine_.AddInputFile(name);
      ended = true;
    });
    std::this_thread::sleep_for(200ms); // usually inside the read by now; either way works
    engine_.Stop(false);
    EXPECT_TRUE(EndsWithin10s([&] { return ended.load(); })) << "the open waited on";
    pipe.Close(); // lets a read that ignored the stop end
    adder.join();
    EXPECT_FALSE(added);
  }
  engine_.Reset();
  {
    SCOPED_TRACE("a running job whose pipe stalls after the data");
    const std::string name = Out("stalled.mpg");
    TStalledPipe pipe(name);
    ASSERT_TRUE(pipe.IsOpen());
    std::ifstream in(FixturePath("mpeg2_mp2.mpg"), std::ios::binary);
    pipe.Feed({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
    const std::string out = Out("from_pipe.avi");
    // A program stream announces no streams: without a short probe the opening would
    // wait for more data than the pipe gives.
    engine_.ParseOption("analyzeduration", "500000");
    ASSERT_TRUE(engine_.AddInputFile(name)) << engine_.LastErrorText();
    engine_.ParseOption("vcodec", "mpeg4");
    engine_.ParseOption("an", "1");
    ASSERT_GE(engine_.AddOutputFile(out, false), 0) << engine_.LastErrorText();
    engine_.SetOnTerminate([this](TCustomFFmpeg &) { ++threadedTerminations_; });
    TConvertThread *thread = engine_.Start(true);
    ASSERT_NE(thread, nullptr);
    thread->Resume();
    std::this_thread::sleep_for(300ms); // the job reads what there is, then waits
    engine_.Stop(false);
    EXPECT_TRUE(EndsWithin10s([&] { return !engine_.Busy(); })) << "the job waited on";
    pipe.Close();
    engine_.Stop(true);
    EXPECT_EQ(threadedTerminations_, 1);
    EXPECT_FALSE(engine_.CompletedNormally());
    EXPECT_FALSE(engine_.ErrorOccurred()) << engine_.ErrorMessage();
    // What was read before the stall is in a finished file.
    const FileSummary file = ReadOutput(out);
    ASSERT_TRUE(file.Opened);
    ASSERT_EQ(file.Streams.size(), 1u);
    EXPECT_GT(file.Streams[0].Frames, 10);
  }
}

// Rate emulation holds the job until a packet is due; an input that starts late (here
// 30 s) makes that a long wait, which a stop must cut short.
TEST_F(RunControlTest, StopEndsTheWaitOfRateEmulation) {
  const std::string out = Out("late.avi");
  ASSERT_TRUE(
      Configure({{"re", "1"}, {"itsoffset", "30"}, {"i", "video_only.mp4"}, {"vcodec", "mpeg4"}}, out));
  engine_.SetOnTerminate([this](TCustomFFmpeg &) { ++threadedTerminations_; });
  TConvertThread *thread = engine_.Start(true);
  ASSERT_NE(thread, nullptr);
  thread->Resume();
  std::this_thread::sleep_for(300ms);
  engine_.Stop(false);
  EXPECT_TRUE(EndsWithin10s([&] { return !engine_.Busy(); })) << "the job slept on";
  engine_.Stop(true);
  EXPECT_EQ(threadedTerminations_, 1);
  EXPECT_FALSE(engine_.ErrorOccurred()) << engine_.ErrorMessage();
}

} // namespace
