// tovi-convert profiles and convert, run as the user runs them, with a private settings
// folder (the GUI's settings file format).
#include <gtest/gtest.h>

#include <sys/wait.h>

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
