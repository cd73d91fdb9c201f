// tovi-convert run, as the user runs it: a conversion, the flag options, the exit code
// and leftovers of runs that fail before or while they start, machine-readable
// progress and Ctrl-C.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
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

// --target-size: the output of the noise clip lands within 90..100 % of the target,
// the passes' folder goes, and the line saying so names the size reached.
TEST(CliRun, TargetSizeIsMet) {
  tovi::test::TempDir dir;
  const std::string out = dir.file("out.mp4");
  const RunResult run = RunTool({"run", "-i", tovi::test::FixturePath("size_noise.mp4"), "-vcodec", "libx264",
                                 "-acodec", "aac", "ab=64k", "--target-size", "120K", out});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto size = static_cast<std::int64_t>(fs::file_size(out));
  EXPECT_LE(size, 120 * 1024);
  EXPECT_GE(size, 108 * 1024);
  EXPECT_NE(run.err.find(" KB of 120 KB, "), std::string::npos) << run.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  EXPECT_EQ(RunTool({"run", "-i", tovi::test::FixturePath("size_noise.mp4"), "--target-size", "lots", out})
                .exitCode,
            2);
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
  ASSERT_GE(lines.size(), 4u) << run.out;
  EXPECT_TRUE(lines.front().starts_with("{\"event\":\"start\",\"task\":0,\"inputs\":[")) << lines.front();
  double percent = -1;
  for (size_t i = 1; i + 2 < lines.size(); ++i) {
    EXPECT_NE(lines[i], lines[i - 1]) << "a line repeated";
    // The figure a reader shows never goes back.
    const auto at = lines[i].find("\"percent\":");
    ASSERT_NE(at, std::string::npos) << lines[i];
    const double now = std::strtod(lines[i].c_str() + at + 10, nullptr);
    EXPECT_GE(now, percent) << lines[i];
    percent = now;
    EXPECT_TRUE(lines[i].starts_with("{\"event\":\"progress\",\"task\":0,\"file\":")) << lines[i];
    for (const char *key :
         {"\"frame\":", "\"fps\":", "\"quality\":", "\"bitrate\":", "\"size\":", "\"time\":", "\"total\":"})
      EXPECT_NE(lines[i].find(key), std::string::npos) << key << " in " << lines[i];
  }
  EXPECT_NE(lines[lines.size() - 3].find("\"file\":-1,"), std::string::npos); // the final report
  EXPECT_NE(lines[lines.size() - 3].find("\"total\":2000000,"), std::string::npos) << lines[lines.size() - 3];
  EXPECT_NE(lines[lines.size() - 3].find("\"percent\":100.0,"), std::string::npos) << lines[lines.size() - 3];
  EXPECT_NE(lines[lines.size() - 3].find("\"left\":0.00}"), std::string::npos) << lines[lines.size() - 3];
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

// Stops a -re run with `signal` at its first progress report; returns what it printed on
// stdout and its exit status (-1: killed by a signal).
std::pair<std::string, int> StopRunAtFirstProgress(const std::string &out, int signal) {
  int fromChild[2];
  if (::pipe(fromChild) != 0) return {"pipe failed", -2};
  const std::string input = FixturePath("h264_aac.mp4");
  const pid_t pid = ::fork();
  if (pid < 0) return {"fork failed", -2};
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
      EXPECT_EQ(seen.find("\"file\":-1"), std::string::npos) << "the job ended before it could be stopped";
      ::kill(pid, signal);
      interrupted = true;
    }
  }
  ::close(fromChild[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {seen, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(CliRun, CtrlCAndSigtermStopCleanlyWithTheirExitCodes) {
  for (const int signal : {SIGINT, SIGTERM}) {
    TempDir dir;
    const std::string out = dir.file("out.mkv");
    const auto [seen, exitCode] = StopRunAtFirstProgress(out, signal);
    EXPECT_EQ(exitCode, 128 + signal) << "signal " << signal << " (-1: killed instead of stopping)";
    EXPECT_NE(
        seen.find("{\"event\":\"terminate\",\"task\":0,\"finished\":false,\"error\":false,\"message\":\"\"}"),
        std::string::npos)
        << seen;
    EXPECT_EQ(seen.find("\"percent\":100.0"), std::string::npos) << "a stopped file is not complete";
    // The trailer was written: the part converted so far is a readable file.
    const std::int64_t duration = Duration(out);
    EXPECT_GT(duration, 0);
    EXPECT_LT(duration, 1900000);
  }
}

TEST(CliRun, UnknownOptionsAndRefusedValuesAreUsageErrorsNamingTheOption) {
  TempDir dir;
  const std::string input = FixturePath("h264_aac.mp4"), out = dir.file("out.avi");
  const struct {
    std::vector<std::string> options;
    const char *named;
  } cases[] = {
      {{"-vcodc", "mpeg4"}, "option -vcodc: Unrecognized option 'vcodc'"},
      {{"-b", "abc"}, "option -b: Invalid value \"abc\" for option \"b\""},
      {{"-ar", "0"}, "option -ar: "},
      {{"-ac", "-2"}, "option -ac: "},
      {{"-t", "-3"}, "option -t: "},
      {{"nosuchthing=1"}, "option -nosuchthing: Unrecognized option"},
  };
  for (const auto &c : cases) {
    std::vector<std::string> words = {"run", "-i", input};
    words.insert(words.end(), c.options.begin(), c.options.end());
    words.push_back(out);
    const RunResult run = RunTool(words);
    EXPECT_EQ(run.exitCode, 2) << c.named << "\n" << run.err;
    EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out)) << c.named;
  }
  // Input options are checked as well, and with JSON progress the refusal is an event.
  const RunResult run = RunTool({"run", "-itsofset", "1", "-i", input, "--progress=json", out});
  EXPECT_EQ(run.exitCode, 2) << run.err;
  EXPECT_TRUE(run.out.starts_with("{\"event\":\"refused\",\"task\":0,\"message\":\"option -itsofset: "))
      << run.out;
  // Known options with good values still pass the check (names are not case-sensitive).
  EXPECT_EQ(RunTool({"run", "-i", input, "-VCODEC", "mpeg4", "-acodec", "mp2", "-ar", "22050", "-ac", "1",
                     "-t", "1", "-g", "12", out})
                .exitCode,
            0);
}

TEST(CliRun, AStartAtOrPastTheEndIsRefusedAndLeavesNoFile) {
  TempDir dir;
  const std::string input = FixturePath("h264_aac.mp4"); // 2 s
  const std::string out = dir.file("out.mkv");
  // Before -i: the input's start, refused when the input is opened. After it: the
  // output's, refused when the job sets up.
  const struct {
    std::vector<std::string> words;
    const char *event;
  } cases[] = {
      {{"run", "-ss", "20", "-i", input, "--progress=json", out}, "{\"event\":\"refused\""},
      {{"run", "-i", input, "-ss", "2", "--progress=json", out}, "\"finished\":false,\"error\":true"},
  };
  for (const auto &c : cases) {
    const RunResult run = RunTool(c.words);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("is at or past the end of the input"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("wrote"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find(c.event), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(out));
  }
  // Just before the end is a (short) conversion.
  const RunResult run =
      RunTool({"run", "-ss", "1.5", "-i", input, "-vcodec", "mpeg4", "-acodec", "mp2", out});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NEAR(double(Duration(out)), 0.5e6, 0.15e6);
}

TEST(CliRun, UsageMistakesAreNamed) {
  TempDir dir;
  const std::string input = FixturePath("h264_aac.mp4");
  RunResult run = RunTool({"run", "-i", input});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("no output file given"), std::string::npos) << run.err;
  run = RunTool({"run", "--bogus", "-i", input, dir.file("a.mkv")});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("unknown option --bogus"), std::string::npos) << run.err;
  run = RunTool({"run", "-i", input, "stray", dir.file("a.mkv")});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("unexpected word 'stray'"), std::string::npos) << run.err;
  // "-name=value" is neither form: its value would be the next word, and the line
  // "vcodec=mpeg4=WORD" would reach the engine as vcodec "mpeg4=WORD".
  run = RunTool({"run", "-i", input, "-vcodec=mpeg4", "mpeg4", "-acodec", "mp2", dir.file("b.mkv")});
  EXPECT_EQ(run.exitCode, 2) << run.err;
  EXPECT_NE(run.err.find("option -vcodec=mpeg4: "), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir.file("b.mkv")));
  // "--" ends the options: an output whose name starts with "-".
  run = RunCli("run -i '" + input + "' -vcodec mpeg4 -acodec mp2 -t 0.5 -- -dash.mkv",
               "cd '" + dir.path().string() + "' &&");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_GT(Duration(dir.file("-dash.mkv")), 0);
}

} // namespace
