// tovi-convert run, as the user runs it: a conversion, the flag options, the exit code
// and leftovers of runs that fail before or while they start, machine-readable
// progress and Ctrl-C.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <signal.h>
#include <unistd.h>

#include "converter/AVProbe.h"
#include "CliRunner.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;
using tovi::test::FixturePath;
using tovi::test::RunCli;
using tovi::test::RunResult;
using tovi::test::ShellWords;
using tovi::test::TempDir;

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

RunResult RunTool(const std::vector<std::string> &words) { return RunCli(ShellWords(words)); }

TEST(CliRun, ConvertsWithFlagAndNameValueOptions) {
  tovi::test::TempDir dir;
  const std::string out = dir.file("out.avi");
  // "-an" takes no value; "vcodec=mpeg4" and "-r 10" are name=value and -name value.
  const RunResult run = RunTool({"run", "-i", tovi::test::FixturePath("h264_aac.mp4"), "-an", "vcodec=mpeg4",
                                 "-r", "10", "--threads", "1", out});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("frame="), std::string::npos) << run.err; // progress, plain lines off a terminal
  EXPECT_EQ(run.err.find('\r'), std::string::npos);
  ASSERT_TRUE(fs::exists(out));
  const RunResult info = RunTool({"info", out});
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_NE(info.out.find("Video: mpeg4"), std::string::npos) << info.out;
  EXPECT_EQ(info.out.find("Audio:"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("10 fps"), std::string::npos) << info.out;
}

TEST(CliRun, FailuresLeaveNoOutputAndExitNonZero) {
  tovi::test::TempDir dir;
  const std::string out = dir.file("out.mp4");
  // Missing input: the message and exit 1, nothing created.
  RunResult run = RunTool({"run", "-i", dir.file("missing.mp4"), out});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("missing.mp4"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(out));
  // An encoder that refuses its settings when the job starts: the message, no file.
  run = RunTool(
      {"run", "-i", tovi::test::FixturePath("video_only.mp4"), "-vcodec", "h263", "-s", "161x121", out});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Error while opening encoder for output stream #0.0"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("width and height must be a multiple of 4"), std::string::npos)
      << "the encoder's reason";
  EXPECT_FALSE(fs::exists(out));
  // An unknown encoder is refused while the options are read.
  run = RunTool({"run", "-i", tovi::test::FixturePath("video_only.mp4"), "-vcodec", "nosuchcodec", out});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Unknown encoder 'nosuchcodec'"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(out));
  // Usage errors.
  EXPECT_EQ(RunTool({"run"}).exitCode, 2);
  EXPECT_EQ(RunTool({"run", out}).exitCode, 2); // no input
  EXPECT_EQ(RunTool({"run", "-i", tovi::test::FixturePath("video_only.mp4"), "-vcodec"}).exitCode, 2);
}

std::int64_t Duration(const std::string &file) {
  tovi::test::LoadConverterLibraries();
  tovi::TAVProbe probe;
  tovi::TFileStreamInfo info;
  if (!probe.LoadFile(file) || !probe.GetFileStreamInfo(info)) return -1;
  return info.Duration;
}

TEST(CliRun, JsonProgressLinesAndTheNotices) {
  TempDir dir;
  const std::string out = dir.file("out.mkv");
  const RunResult run = RunTool({"run", "-i", FixturePath("h264_aac.mp4"), "-vcodec", "mpeg4", "-acodec",
                                 "mp2", "--threads", "2", "--progress=json", out});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_GE(lines.size(), 3u) << run.out;
  for (size_t i = 0; i + 2 < lines.size(); ++i) {
    EXPECT_TRUE(lines[i].starts_with("{\"event\":\"progress\",\"task\":0,\"file\":")) << lines[i];
    for (const char *key :
         {"\"frame\":", "\"fps\":", "\"quality\":", "\"bitrate\":", "\"size\":", "\"time\":", "\"total\":"})
      EXPECT_NE(lines[i].find(key), std::string::npos) << key << " in " << lines[i];
  }
  EXPECT_NE(lines[lines.size() - 3].find("\"file\":-1,"), std::string::npos); // the final report
  EXPECT_NE(lines[lines.size() - 3].find("\"total\":2000000}"), std::string::npos) << lines[lines.size() - 3];
  EXPECT_EQ(lines[lines.size() - 2],
            "{\"event\":\"terminate\",\"task\":0,\"finished\":true,\"error\":false,\"message\":\"\"}");
  EXPECT_EQ(lines.back(),
            "{\"event\":\"terminate\",\"task\":-1,\"finished\":true,\"error\":false,\"message\":\"\"}");
  EXPECT_NEAR(double(Duration(out)), 2e6, 2e5);
}

TEST(CliRun, AFailedTaskExitsWithItsMessage) {
  TempDir dir;
  // The MP3 muxer takes MP3 audio only: copying AAC into it fails at the header.
  const std::string out = dir.file("out.mp3");
  const RunResult run =
      RunTool({"run", "-i", FixturePath("h264_aac.mp4"), "-acodec", "copy", "--progress=json", out});
  EXPECT_EQ(run.exitCode, 1);
  const auto errors = Lines(run.err);
  ASSERT_FALSE(errors.empty());
  EXPECT_TRUE(errors.back().starts_with("tovi-convert: ")) << run.err;
  EXPECT_GT(errors.back().size(), std::string("tovi-convert: ").size());
  EXPECT_NE(
      run.out.find("{\"event\":\"terminate\",\"task\":0,\"finished\":false,\"error\":true,\"message\":\""),
      std::string::npos)
      << run.out;
  EXPECT_FALSE(std::ifstream(out).good()); // nothing half-written left behind

  EXPECT_EQ(RunTool({"run", "--threads", "x", "-i", FixturePath("h264_aac.mp4"), dir.file("a.mkv")}).exitCode,
            2);
  EXPECT_EQ(RunTool({"run", "-vcodec", "mpeg4", dir.file("a.mkv")}).exitCode, 2);
}

TEST(CliRun, CtrlCStopsCleanlyWithExitCode130) {
  TempDir dir;
  const std::string out = dir.file("out.mkv");
  int fromChild[2];
  ASSERT_EQ(::pipe(fromChild), 0);
  const std::string input = FixturePath("h264_aac.mp4");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(fromChild[1], 1);
    ::close(fromChild[0]);
    ::close(fromChild[1]);
    // -re reads the input at its own pace, so the 2-second clip takes 2 seconds.
    ::execl(TOVI_CONVERT_EXE, TOVI_CONVERT_EXE, "run", "-re", "-i", input.c_str(), "-vcodec", "mpeg4",
            "-acodec", "mp2", "--progress=json", out.c_str(), static_cast<char *>(nullptr));
    ::_exit(127);
  }
  ::close(fromChild[1]);
  // Interrupt at the first progress report that is not the final one.
  std::string seen;
  char buffer[1024];
  bool interrupted = false;
  for (ssize_t n; (n = ::read(fromChild[0], buffer, sizeof buffer)) > 0;) {
    seen.append(buffer, size_t(n));
    if (!interrupted && seen.find("\"event\":\"progress\"") != std::string::npos) {
      ASSERT_EQ(seen.find("\"file\":-1"), std::string::npos) << "the job ended before it could be stopped";
      ::kill(pid, SIGINT);
      interrupted = true;
    }
  }
  ::close(fromChild[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by a signal instead of stopping";
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_NE(
      seen.find("{\"event\":\"terminate\",\"task\":0,\"finished\":false,\"error\":false,\"message\":\"\"}"),
      std::string::npos)
      << seen;
  // The trailer was written: the part converted so far is a readable file.
  const std::int64_t duration = Duration(out);
  EXPECT_GT(duration, 0);
  EXPECT_LT(duration, 1900000);
}

} // namespace
