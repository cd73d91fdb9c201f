// tovi-convert run, as the user runs it: a conversion, the flag options, and the exit
// code and leftovers of runs that fail before or while they start.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int exitCode = -1;
  std::string out, err;
};

RunResult RunTool(const std::vector<std::string> &words) {
  tovi::test::TempDir dir;
  std::string command = TOVI_CONVERT_EXE;
  for (const std::string &w : words)
    command += " '" + w + "'"; // the words hold no quote
  command += " 2>'" + dir.file("err") + "'";
  RunResult run;
  FILE *pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    run.out.append(buffer, n);
  const int status = ::pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ostringstream err;
  err << std::ifstream(dir.file("err")).rdbuf();
  run.err = err.str();
  return run;
}

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
      {"run", "-i", tovi::test::FixturePath("video_only.mp4"), "-vcodec", "libx264", "-s", "161x121", out});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Error while opening encoder for output stream #0.0"), std::string::npos) << run.err;
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

} // namespace
