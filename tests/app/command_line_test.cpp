// The desktop program started the way scripts and file managers start it: files on the
// command line, --start and --quit-when-done, and the exit status that reports the run.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <fstream>

#include "appcore/AppcoreTestSupport.h"
#include "appcore/DecodedMedia.h"

using namespace tovi;
using namespace tovi::test;

namespace {

int gArgc = 1;
char gArg0[] = "app_command_line_test";
char *gArgv[] = {gArg0, nullptr};

class CommandLineTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (xvfb-run)";
    LoadConverterLibraries();
  }

  // Runs tovi-converter with `args`; the exit status, or -1 when it did not exit.
  int Run(const QStringList &args) {
    QCoreApplication app(gArgc, gArgv);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TOVI_CONFIG_DIR", QString::fromStdString(config_.Path().string()));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(TOVI_CONVERTER_BIN, args);
    if (!process.waitForFinished(300'000) || process.exitStatus() != QProcess::NormalExit) {
      process.kill();
      process.waitForFinished();
      return -1;
    }
    return process.exitCode();
  }

  static QString Q(const std::string &s) { return QString::fromStdString(s); }

  ConfigFolder config_;
  TempDir out_;
};

TEST_F(CommandLineTest, StartsConvertsAndQuitsWithSuccess) {
  const int status =
      Run({"--profile", "2200", "--out", Q((out_.path() / "made/by/out").string()), "--start",
           "--quit-when-done", Q(FixturePath("h264_aac.mp4")), Q(FixturePath("mpeg4_mp3.avi"))});
  EXPECT_EQ(status, 0) << "a missing --out folder is made, not refused in a box nobody answers";
  for (const char *name : {"h264_aac_(new).mkv", "mpeg4_mp3_(new).mkv"}) {
    const DecodedMedia m = DecodeFile((out_.path() / "made/by/out" / name).string());
    ASSERT_TRUE(m.opened) << name;
    EXPECT_EQ(m.demuxer, "matroska,webm");
    EXPECT_NEAR(m.videoEnd - m.videoStart, 2.0, 0.25) << name;
    EXPECT_GT(m.audioSamples, 0);
  }
}

TEST_F(CommandLineTest, NothingToConvertOrBadUsageIsReported) {
  const std::string text = out_.file("notes.mp4");
  std::ofstream(text) << "not a media file";
  // The file is not added, so Start has nothing to run.
  EXPECT_EQ(Run({"--out", Q(out_.path().string()), "--start", "--quit-when-done", Q(text)}), 1);
  EXPECT_EQ(Run({"--profile", "no such profile", Q(FixturePath("h264_aac.mp4"))}), 2);
}

} // namespace
