// tovi-convert profiles and convert, run as the user runs them, with a private settings
// folder (the GUI's settings file format).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <map>
#include <string>
#include <vector>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CliRunner.h"
#include "support/TestMedia.h"

namespace {

using tovi::test::RunCli;
using tovi::test::RunResult;

std::string Quote(const std::string &s) { return "'" + s + "'"; }

class CliConvert : public ::testing::Test {
protected:
  void SetUp() override { ::setenv("TOVI_CONFIG_DIR", config_.path().c_str(), 1); }
  void TearDown() override { ::unsetenv("TOVI_CONFIG_DIR"); }
  std::string Settings() const {
    std::ostringstream s;
    s << std::ifstream(config_.file("tovivi4ziridavevudezu.ini")).rdbuf();
    return s.str();
  }
  tovi::test::TempDir config_, out_;
};

} // namespace

TEST_F(CliConvert, ProfilesListsTheCatalogueAndMarksTheChosenProfile) {
  const RunResult run = RunCli("profiles");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("Apple iPod\n"), std::string::npos);
  EXPECT_NE(run.out.find("  *    1  mp4   iPod Video H.264 (*.mp4)\n"), std::string::npos)
      << "FormatCode 1 by default";
  EXPECT_NE(run.out.find(" 2309  dv    DV - PAL -Digital Video Format (*.dv)\n"), std::string::npos);
  EXPECT_NE(run.out.find("Phones and Tablets\n    2500  mp4   Phone and Tablet H.264 1080p (*.mp4)\n"),
            std::string::npos);
  EXPECT_NE(run.out.find(" 2802  flac  FLAC 24-bit Lossless Audio (*.flac)\n"), std::string::npos);
  EXPECT_EQ(RunCli("profiles extra").exitCode, 2);
}

TEST_F(CliConvert, ConvertsWithAProfileIntoTheOutputFolderAndSeedsTheSettings) {
  const std::string clip = tovi::test::FixturePath("short_clip.mp4");
  const RunResult run =
      RunCli("convert " + Quote(clip) + " --profile 'dv - pal' --out " + Quote(out_.path().string()));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string output = out_.file("short_clip_(new).dv");
  ASSERT_TRUE(std::filesystem::exists(output)) << run.err;
  EXPECT_NE(run.err.find("-> " + output), std::string::npos) << run.err;
  const RunResult info = RunCli("info " + Quote(output));
  EXPECT_NE(info.out.find("Video: dvvideo"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("720x576"), std::string::npos) << info.out;
  EXPECT_NE(Settings().find("[formatInfo2309]"), std::string::npos) << "the GUI's settings file was seeded";
  EXPECT_EQ(Settings().find("FormatCode"), std::string::npos) << "--profile is not written back";

  // The same again: a new name, never the existing file.
  ASSERT_EQ(
      RunCli("convert " + Quote(clip) + " --profile 2309 --out " + Quote(out_.path().string())).exitCode, 0);
  EXPECT_TRUE(std::filesystem::exists(out_.file("short_clip_(new_1).dv")));
}

// The container's duration from the info text, in seconds; -1 when absent.
double InfoDuration(const std::string &info) {
  const auto at = info.find("\nDuration: ");
  if (at == std::string::npos) return -1;
  int h = 0, m = 0;
  double sec = 0;
  return std::sscanf(info.c_str() + at + 11, "%d:%d:%lf", &h, &m, &sec) == 3 ? h * 3600 + m * 60 + sec : -1;
}

TEST_F(CliConvert, EditsTrimAndSeveralJobs) {
  const std::string a = tovi::test::FixturePath("h264_aac.mp4"), b = tovi::test::FixturePath("mpeg4_mp3.avi");
  const RunResult run =
      RunCli("convert " + Quote(a) + " " + Quote(b) + " --profile 2302 --trim 0.5-1.5 --jobs 2" +
             " --brightness 300 --contrast 10 --watermark-text 'Tovi@4,4,200,0,1' --crop 2,2,4,4" +
             " --zoom lbox --out " + Quote(out_.path().string()));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const char *name : {"h264_aac_(new).mp4", "mpeg4_mp3_(new).mp4"}) {
    const RunResult info = RunCli("info " + Quote(out_.file(name)));
    ASSERT_EQ(info.exitCode, 0) << name << info.err;
    EXPECT_NEAR(InfoDuration(info.out), 1.0, 0.06) << info.out;
    EXPECT_NE(info.out.find("640x480"), std::string::npos) << "letterboxed into the profile's size";
  }
}

TEST_F(CliConvert, TheDefaultSizeQuestionIsAnsweredByTheFlag) {
  {
    std::ofstream settings(config_.file("tovivi4ziridavevudezu.ini"));
    settings << "[formatInfo2200]\nparaVideoEncoder=mpeg4\nparaAudioEncoder=libfaac\nparaVideoSize=640x\n"
                "paraZoom=full\nparaVolume=256\n";
  }
  const std::string clip = tovi::test::FixturePath("short_clip.mp4");
  RunResult run = RunCli("convert " + Quote(clip) + " --profile 2200 --out " + Quote(out_.path().string()));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("Error output Video Size.Use the default size 320x240? No"), std::string::npos)
      << run.err;
  EXPECT_NE(RunCli("info " + Quote(out_.file("short_clip_(new).mkv"))).out.find("176x144"),
            std::string::npos);

  run =
      RunCli("convert " + Quote(clip) + " --profile 2200 --yes-320x240 --out " + Quote(out_.path().string()));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("320x240? Yes"), std::string::npos) << run.err;
  EXPECT_NE(RunCli("info " + Quote(out_.file("short_clip_(new_1).mkv"))).out.find("320x240"),
            std::string::npos);
}

TEST_F(CliConvert, BadUsageAndBadFilesGiveTheirExitCodes) {
  const std::string clip = tovi::test::FixturePath("short_clip.mp4");
  const std::string out = " --out " + Quote(out_.path().string());
  RunResult run = RunCli("convert " + Quote(clip) + " --profile nonsense-profile" + out);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("no single profile matches"), std::string::npos) << run.err;
  EXPECT_EQ(RunCli("convert " + Quote(clip) + " --crop 1,2,3" + out).exitCode, 2);
  EXPECT_EQ(RunCli("convert " + Quote(clip) + " --brightness 900" + out).exitCode, 2);
  EXPECT_EQ(RunCli("convert" + out).exitCode, 2);
  run = RunCli("convert " + Quote(tovi::test::FixturePath("missing.mp4")) + " " + Quote(clip) +
               " --profile 2400" + out);
  EXPECT_EQ(run.exitCode, 1) << "one of two files failed";
  EXPECT_NE(run.err.find("missing.mp4"), std::string::npos) << run.err;
  EXPECT_TRUE(std::filesystem::exists(out_.file("short_clip_(new).mp3")));
  run =
      RunCli("convert " + Quote(clip) + " --watermark-image " + Quote(out_.file("none.bmp") + "@1,1") + out);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Cannot load the watermark picture"), std::string::npos) << run.err;
}

// A size target from the command line: junk is refused before anything runs; a target
// the noise clip fills is met (at most the target, at least 90 %) and the closing note
// says what was reached in how many passes.
TEST_F(CliConvert, TargetSizeIsParsedMetAndReported) {
  const std::string clip = tovi::test::FixturePath("size_noise.mp4");
  const std::string out = " --out " + Quote(out_.path().string());
  RunResult run = RunCli("convert " + Quote(clip) + " --profile 2303 --target-size 25Q" + out);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("\"25Q\" is not a size target"), std::string::npos) << run.err;
  EXPECT_TRUE(std::filesystem::is_empty(out_.path()));
  run = RunCli("convert " + Quote(clip) + " --profile 2303 --target-size 150K" + out);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::int64_t size =
      static_cast<std::int64_t>(std::filesystem::file_size(out_.file("size_noise_(new).mp4")));
  EXPECT_LE(size, 150 * 1024);
  EXPECT_GE(size, 135 * 1024);
  EXPECT_NE(run.err.find("size targets:"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(" KB of 150 KB, "), std::string::npos) << run.err;
  for (const auto &entry : std::filesystem::directory_iterator(out_.path()))
    EXPECT_EQ(entry.path().filename().string(), "size_noise_(new).mp4") << "the passes' folder is gone";
}

TEST_F(CliConvert, ProgressIsOneRisingFigurePerFileEndingAt100) {
  const std::string a = tovi::test::FixturePath("h264_aac.mp4"), b = tovi::test::FixturePath("mpeg4_mp3.avi");
  for (const char *jobs : {"1", "2"}) {
    const RunResult run = RunCli("convert " + Quote(a) + " " + Quote(b) + " --profile 2302 --jobs " + jobs +
                                 " --out " + Quote(out_.path().string()));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err.find('\r'), std::string::npos) << "plain lines off a terminal";
    // Every line is whole and says which file it is about; each file's figure rises to 100.
    std::map<std::string, int> last;
    std::istringstream lines(run.err);
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("tovi-convert: ")) continue; // a warning of the libraries
      ASSERT_TRUE(line.starts_with("[1/2] h264_aac.mp4") || line.starts_with("[2/2] mpeg4_mp3.avi")) << line;
      int percent = -1;
      const auto at = line.find("%  elapsed ");
      if (at == std::string::npos) continue;
      ASSERT_EQ(std::sscanf(line.c_str() + at - 3, "%d", &percent), 1) << line;
      const std::string file = line.substr(0, 5);
      EXPECT_GE(percent, last[file]) << line;
      last[file] = percent;
    }
    EXPECT_EQ(last["[1/2]"], 100) << run.err;
    EXPECT_EQ(last["[2/2]"], 100) << run.err;
  }
}

TEST_F(CliConvert, AProfileTheSourceCannotFillIsRefusedWithTheReason) {
  const std::string out = " --out " + Quote(out_.path().string());
  const struct {
    const char *source, *profile, *reason;
  } cases[] = {
      {"video_only.mp4", "400", "needs a video and an audio stream and the source has no audio"}, // PSP
      {"audio_only.mp3", "403", "needs a video and an audio stream and the source has no video"}, // PSP
      {"audio_only.mp3", "2301", "needs a video stream and the source has none"},                 // MPEG-2
      {"audio_only.mp3", "2308", "needs a video stream and the source has none"},                 // DV
      {"video_only.mp4", "2400", "makes an audio file and the source has no audio stream"},       // MP3
  };
  for (const auto &c : cases) {
    const RunResult run =
        RunCli("convert " + Quote(tovi::test::FixturePath(c.source)) + " --profile " + c.profile + out);
    EXPECT_EQ(run.exitCode, 1) << c.profile << run.err;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << c.profile << ": " << run.err;
    EXPECT_TRUE(std::filesystem::is_empty(out_.path())) << c.profile;
  }
  // A video profile whose container holds audio alone still takes an audio-only source.
  const RunResult run =
      RunCli("convert " + Quote(tovi::test::FixturePath("audio_only.mp3")) + " --profile 2302" + out);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const RunResult info = RunCli("info " + Quote(out_.file("audio_only_(new).mp4")));
  EXPECT_NE(info.out.find("Audio:"), std::string::npos) << info.out;
}

TEST_F(CliConvert, ATrimStartPastTheEndIsRefused) {
  const RunResult run = RunCli("convert " + Quote(tovi::test::FixturePath("short_clip.mp4")) +
                               " --profile 2302 --trim 10 --out " + Quote(out_.path().string()));
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("is at or past the end of the input"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(" -> "), std::string::npos) << run.err;
  EXPECT_TRUE(std::filesystem::is_empty(out_.path()));
}

TEST_F(CliConvert, HelpAndUsageMistakes) {
  for (const char *words :
       {"--help", "-h", "help", "--version", "version", "info --help", "run --help", "convert --help",
        "convert -h", "play --help", "profiles --help", "version --help"}) {
    const RunResult run = RunCli(words);
    EXPECT_EQ(run.exitCode, 0) << words << run.err;
    EXPECT_FALSE(run.out.empty()) << words;
    EXPECT_EQ(run.err, "") << words;
  }
  EXPECT_NE(RunCli("--version").out.find("tovi-convert "), std::string::npos);
  RunResult run = RunCli("convert x.mp4 --bogus 1");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("unknown option --bogus"), std::string::npos) << run.err;
  run = RunCli("convert x.mp4 --profile");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("--profile needs a value"), std::string::npos) << run.err;
  run = RunCli("");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("no command given"), std::string::npos) << run.err;
  run = RunCli("frobnicate");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("unknown command 'frobnicate'"), std::string::npos) << run.err;
  run = RunCli("info --bogus");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("unknown option --bogus"), std::string::npos) << run.err;
  // After "--" a word is a file name, whatever it looks like.
  run = RunCli("info -- --help");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
  run = RunCli("convert --out " + Quote(out_.path().string()) + " --profile 2302 -- --trim");
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("--trim"), std::string::npos) << "taken as a file: " << run.err;
  run = RunCli("play --volume");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("--volume needs a value"), std::string::npos) << run.err;
}

TEST_F(CliConvert, CtrlCAndSigtermStopWithoutLeavingAnIncompleteOutput) {
  const std::string clip = tovi::test::FixturePath("h264_aac.mp4");
  for (const int signal : {SIGINT, SIGTERM}) {
    tovi::test::TempDir sources, out;
    // Several copies in a row: the signal comes while one of them is being converted.
    std::vector<std::string> args = {TOVI_CONVERT_EXE, "convert"};
    for (int k = 0; k < 6; ++k) {
      const std::string copy = sources.file("clip" + std::to_string(k) + ".mp4");
      std::filesystem::copy_file(clip, copy);
      args.push_back(copy);
    }
    for (const char *word : {"--profile", "2302", "--out"})
      args.push_back(word);
    args.push_back(out.path().string());
    int fromChild[2];
    ASSERT_EQ(::pipe(fromChild), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::dup2(fromChild[1], 2);
      ::close(fromChild[0]);
      ::close(fromChild[1]);
      std::vector<char *> argv;
      for (std::string &a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(TOVI_CONVERT_EXE, argv.data());
      ::_exit(127);
    }
    ::close(fromChild[1]);
    // The signal follows the first finished file: the next one is under way.
    std::string seen;
    char buffer[1024];
    bool signalled = false;
    for (ssize_t n; (n = ::read(fromChild[0], buffer, sizeof buffer)) > 0;) {
      seen.append(buffer, size_t(n));
      if (!signalled && seen.find(" -> ") != std::string::npos) {
        ::kill(pid, signal);
        signalled = true;
      }
    }
    ::close(fromChild[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by the signal instead of stopping\n" << seen;
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal) << seen;
    // Every output is either a whole conversion or absent; the last files never started.
    int complete = 0;
    for (int k = 0; k < 6; ++k) {
      const std::string name = out.file("clip" + std::to_string(k) + "_(new).mp4");
      if (!std::filesystem::exists(name)) continue;
      const RunResult info = RunCli("info " + Quote(name));
      ASSERT_EQ(info.exitCode, 0) << name << info.err;
      EXPECT_NEAR(InfoDuration(info.out), 2.0, 0.1) << name << "\n" << info.out;
      ++complete;
    }
    EXPECT_GE(complete, 1);
    EXPECT_LT(complete, 6) << seen;
  }
}

TEST_F(CliConvert, AFailureShowsTheLibraryMessageThatExplainsIt) {
  {
    // An audio bit rate the MP2 encoder does not have.
    std::ofstream settings(config_.file("tovivi4ziridavevudezu.ini"));
    settings << "[formatInfo2300]\nparaVideoEncoder=mpeg1video\nparaAudioEncoder=mp2\nparaAudioBitRate=300\n"
                "paraVideoSize=352x288\nparaFrameRate=25\nparaVolume=256\n";
  }
  const RunResult run = RunCli("convert " + Quote(tovi::test::FixturePath("h264_aac.mp4")) +
                               " --profile 2300 --out " + Quote(out_.path().string()));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("bitrate 300 is not allowed in mp2"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("[1/1] h264_aac.mp4 failed: Error while opening encoder"), std::string::npos)
      << run.err;
  EXPECT_TRUE(std::filesystem::is_empty(out_.path()));
}
