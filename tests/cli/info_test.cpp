// tovi-convert info, run as the user runs it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/TestMedia.h"

namespace {

struct RunResult {
  int exitCode = -1;
  std::string out, err;
};

RunResult RunInfo(const std::vector<std::string> &files) {
  tovi::test::TempDir dir;
  std::string command = TOVI_CONVERT_EXE " info";
  for (const std::string &f : files)
    command += " '" + f + "'"; // the generated names hold no quote
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

TEST(CliInfo, DescribesEachFileWithPlainNewlines) {
  const std::string a = tovi::test::FixturePath("metadata.mp4"), b = tovi::test::FixturePath("two_programs.ts");
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
