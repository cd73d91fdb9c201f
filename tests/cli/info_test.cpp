// tovi-convert info, run as the user runs it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "CliRunner.h"
#include "support/TestMedia.h"

namespace {

using tovi::test::RunCli;
using tovi::test::RunResult;
using tovi::test::ShellWords;

RunResult RunInfo(const std::vector<std::string> &files) { return RunCli("info" + ShellWords(files)); }

TEST(CliInfo, DescribesEachFileWithPlainNewlines) {
  const std::string a = tovi::test::FixturePath("metadata.mp4"),
                    b = tovi::test::FixturePath("two_programs.ts");
  const RunResult run = RunInfo({a, b});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.find('\r'), std::string::npos);
  EXPECT_TRUE(run.out.starts_with("File Name: " + a + "\nFormat Name: mov,mp4,m4a,3gp,3g2,mj2\n")) << run.out;
  EXPECT_NE(run.out.find("\n\nFile Name: " + b + "\nFormat Name: mpegts\n"), std::string::npos) << run.out;
}

TEST(CliInfo, FailuresGoToStderrAndTheExitCode) {
  const std::string missing = tovi::test::FixturePath("missing.mp4");
  const std::string good = tovi::test::FixturePath("audio_only.mp3");
  const RunResult run = RunInfo({missing, good});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "tovi-convert: " + missing + ": No such file or directory\n");
  EXPECT_TRUE(run.out.starts_with("File Name: " + good + "\n")) << run.out; // later files still shown
  EXPECT_EQ(RunInfo({}).exitCode, 2);
}

} // namespace
