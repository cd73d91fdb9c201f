// tovi-convert play, run as the user runs it, on SDL's dummy drivers (no display, no
// sound device).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/TestMedia.h"

namespace {

struct RunResult {
  int exitCode = -1;
  std::string err;
  double seconds = 0;
};

RunResult RunPlay(const std::string &args) {
  tovi::test::TempDir dir;
  const std::string command = "SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout 30 " TOVI_CONVERT_EXE
                              " play " +
                              args + " 2>'" + dir.file("err") + "' >/dev/null";
  RunResult run;
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ostringstream err;
  err << std::ifstream(dir.file("err")).rdbuf();
  run.err = err.str();
  return run;
}

TEST(CliPlay, PlaysToTheEndAndExitsWithZero) {
  for (const char *name : {"h264_aac.mp4", "audio_only.wav"}) {
    SCOPED_TRACE(name);
    const RunResult run = RunPlay("'" + tovi::test::FixturePath(name) + "' --volume 64 --mute");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_GT(run.seconds, 0.8) << "played at real speed";
    EXPECT_LT(run.seconds, 10.0);
  }
}

TEST(CliPlay, AFileThatCannotBePlayedFailsWithTheReason) {
  const std::string missing = tovi::test::FixturePath("missing.mp4");
  const RunResult run = RunPlay("'" + missing + "'");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("tovi-convert: " + missing + ": No such file or directory\n"), std::string::npos)
      << run.err;
}

TEST(CliPlay, BadArgumentsAreUsageErrors) {
  const std::string file = "'" + tovi::test::FixturePath("h264_aac.mp4") + "'";
  EXPECT_EQ(RunPlay("").exitCode, 2);
  EXPECT_EQ(RunPlay(file + " --volume 200").exitCode, 2);
  EXPECT_EQ(RunPlay(file + " --loop").exitCode, 2);
}

} // namespace
