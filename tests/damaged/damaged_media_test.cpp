// Damaged copies of the generated clips (cut short, bits flipped) through the three
// paths a user's file takes: the probe, a conversion as the desktop program runs it,
// and the preview player. Each must end, under a watchdog, either with a result that
// holds up (stream facts, an output that decodes, playback that stops) or with an error
// naming the file; a job reported finished must have left a decodable output and a
// failed one no output at all.
//
// The default run takes a few representative cases; TOVI_DAMAGED_FULL=1 runs every
// damage of every source (scripts/damaged-media.sh runs each case in its own process
// and counts crashes and hangs).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <filesystem>
#include <string>
#include <vector>

#include "DamagedCopies.h"
#include "appcore/ConversionTestSupport.h"
#include "appcore/DecodedMedia.h"
#include "converter/AVProbe.h"
#include "converter/Converter.h"
#include "fixtures/Catalog.h"
#include "player/PlayerTestSupport.h"

using namespace tovi;
using namespace tovi::test;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

constexpr int kWatchdogSeconds = 60;
constexpr int kMkvProfile = 2200; // H.264 and AAC in Matroska at the source's size

struct TCase {
  std::string Source;
  std::string Damage;
};
void PrintTo(const TCase &c, std::ostream *os) { *os << c.Source << " " << c.Damage; }

// The containers and codecs a user brings most: MP4 H.264/AAC, AVI MPEG-4/MP3, Matroska,
// FLAC and MP3 audio, 10-bit video, an odd picture size, MPEG program and transport
// streams.
const std::vector<std::string> kSources{
    "h264_aac.mp4",   "mpeg4_mp3.avi",      "vp8_vorbis_subs.mkv", "two_video.mkv", "audio_only.flac",
    "audio_only.mp3", "h264_yuv420p10.mp4", "odd_size.avi",        "mpeg2_mp2.mpg", "two_programs.ts"};

bool FullMatrix() {
  const char *full = std::getenv("TOVI_DAMAGED_FULL");
  return full && std::string(full) == "1";
}

std::vector<TCase> Cases() {
  std::vector<TCase> cases;
  if (FullMatrix()) {
    for (const std::string &source : kSources)
      for (const TDamage &damage : AllDamages())
        cases.push_back({source, damage.Name});
    return cases;
  }
  // One of each source and of each kind of damage.
  return {{"h264_aac.mp4", "cut50"},        {"h264_aac.mp4", "flip3"},    {"mpeg4_mp3.avi", "cut90"},
          {"vp8_vorbis_subs.mkv", "flip4"}, {"audio_only.flac", "cut10"}, {"audio_only.mp3", "flip1"},
          {"h264_yuv420p10.mp4", "short1"}, {"odd_size.avi", "flip2"},    {"mpeg2_mp2.mpg", "cut1"}};
}

// One line per case for scripts/damaged-media.sh to count: how the path ended.
void Outcome(const char *path, const char *how) { std::printf("[outcome] %s %s\n", path, how); }

std::string CaseName(const ::testing::TestParamInfo<TCase> &info) {
  std::string name = info.param.Source + "_" + info.param.Damage;
  for (char &c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

class DamagedMedia : public ::testing::TestWithParam<TCase> {
protected:
  static void SetUpTestSuite() { UseDummyDrivers(); }
  void SetUp() override {
    LoadPlayerLibraries();
    const fixtures::FixtureFile *source = fixtures::FindFixture(GetParam().Source);
    ASSERT_NE(source, nullptr) << GetParam().Source;
    sourceSeconds_ = source->durationSeconds;
    damaged_ = WriteDamagedCopy(FixturePath(GetParam().Source), DamageNamed(GetParam().Damage), dir_.path());
    name_ = fs::path(damaged_).filename().string();
  }

  TempDir dir_;
  std::string damaged_; // the damaged copy's full path
  std::string name_;    // its file name, which every error must show
  double sourceSeconds_ = 0;
};

TEST_P(DamagedMedia, ProbeDescribesTheFileOrNamesItInTheError) {
  TWatchdog watchdog(damaged_.c_str(), kWatchdogSeconds);
  TAVProbe probe;
  if (!probe.LoadFile(damaged_)) {
    Outcome("probe", "refused");
    EXPECT_THAT(probe.LastErrorText(), HasSubstr(name_));
    EXPECT_EQ(probe.StreamCount(), -1);
    return;
  }
  Outcome("probe", "described");
  TFileStreamInfo file;
  EXPECT_TRUE(probe.GetFileStreamInfo(file)) << probe.LastErrorText();
  EXPECT_GT(probe.StreamCount(), 0);
  for (int i = 0; i < probe.StreamCount(); ++i) {
    SCOPED_TRACE(i);
    TVideoStreamInfo video;
    TAudioStreamInfo audio;
    if (probe.IsVideoStream(i)) {
      ASSERT_TRUE(probe.GetVideoStreamInfo(i, video)) << probe.LastErrorText();
      EXPECT_GT(video.Width, 0);
      EXPECT_GT(video.Height, 0);
    } else if (probe.IsAudioStream(i)) {
      ASSERT_TRUE(probe.GetAudioStreamInfo(i, audio)) << probe.LastErrorText();
      EXPECT_GT(audio.SampleRate, 0);
      EXPECT_GT(audio.Channels, 0);
    }
  }
  EXPECT_THAT(probe.FileInfoText(), HasSubstr(name_));
}

TEST_P(DamagedMedia, ConversionDecodesOrFailsNamingTheFileAndLeavesNoOutput) {
  ConfigFolder config;
  TGlobalObject global;
  global.SetProfileFile(ShippedProfileFile());
  TFFConverter converter;
  ASSERT_TRUE(converter.LoadLibraries("")) << converter.LastErrorText();
  converter.SetThreadCount(1);
  converter.SetTriggerEventInMainThread(false);
  TConversionQueue queue(converter, global);
  const fs::path out = config.Path() / "out";
  fs::create_directories(out);
  TStartOptions options;
  options.ProfileCode = kMkvProfile;
  options.OutDir = out.string();

  std::mutex mutex; // protects notices, allEnded
  std::condition_variable ended;
  std::vector<TTerminateInfo> notices;
  bool allEnded = false;
  // Runs on a notice thread of its own.
  converter.SetOnTerminate([&](TCustomConverter &, const TTerminateInfo &info) {
    std::lock_guard lock(mutex);
    if (info.TaskIndex < 0)
      allEnded = true;
    else
      notices.push_back(info);
    ended.notify_all();
  });

  TWatchdog watchdog(damaged_.c_str(), kWatchdogSeconds);
  std::vector<TFileRow> rows{RowFor(damaged_)};
  // A row the queue cannot use is skipped with its reason, and no task is made.
  if (!queue.StartConversion(rows, options) || queue.TaskRows().empty()) {
    // Refused before any job started: the reason names the file, nothing was written.
    Outcome("conversion", "refused");
    ASSERT_EQ(queue.RowErrors().size(), 1u);
    EXPECT_THAT(queue.RowErrors()[0].second, HasSubstr(name_));
    EXPECT_TRUE(fs::is_empty(out));
    return;
  }
  converter.SetPreview(false);
  converter.StartTask(1); // one worker, as the progress window runs it
  {
    std::unique_lock lock(mutex);
    ended.wait(lock, [&] { return allEnded && !notices.empty(); });
  }
  converter.ClearTasks();
  ASSERT_EQ(notices.size(), 1u);
  const TTerminateInfo &notice = notices[0];
  const std::string output = rows[0].Record.DestinationFile;
  if (!notice.Finished) {
    Outcome("conversion", "failed");
    EXPECT_TRUE(notice.Exception) << "neither finished nor failed";
    EXPECT_THAT(notice.ExceptionMsg, HasSubstr(name_));
    EXPECT_FALSE(fs::exists(output)) << "a failed job left " << output;
    return;
  }
  Outcome("conversion", "finished");
  EXPECT_FALSE(notice.Exception) << notice.ExceptionMsg;
  const DecodedMedia m = DecodeFile(output);
  ASSERT_TRUE(m.opened) << "a finished job left an output that does not open: " << output;
  EXPECT_GT(m.videoFrames + m.audioSamples, 0) << output;
  const double audioSeconds = m.sampleRate > 0 ? double(m.audioSamples) / m.sampleRate : 0;
  const double seconds = std::max(m.videoEnd - m.videoStart, audioSeconds);
  EXPECT_GT(seconds, 0);
  EXPECT_LE(seconds, sourceSeconds_ + 0.5) << "longer than the source: " << output;
}

TEST_P(DamagedMedia, PlayerPlaysOrRefusesNamingTheFileAndAlwaysStops) {
  TWatchdog watchdog(damaged_.c_str(), kWatchdogSeconds);
  TEventLog log;
  TFFPlayer player;
  log.Attach(player);
  if (!player.Open(damaged_, 0, false)) {
    Outcome("player", "refused");
    EXPECT_THAT(player.LastErrorText(), HasSubstr(name_));
    EXPECT_TRUE(log.States().empty());
    return;
  }
  EXPECT_TRUE(log.WaitFor(psPlay));
  // The end, or five seconds of a file that lasts two: then it is stopped.
  const bool reachedEnd = log.WaitFor(psEnd, 1, 5000);
  Outcome("player", reachedEnd ? "ended" : "stopped");
  player.Stop(true);
  EXPECT_TRUE(log.WaitFor(psStop, 1, 5000));
  EXPECT_EQ(log.Count(psStop), 1);
}

INSTANTIATE_TEST_SUITE_P(Clips, DamagedMedia, ::testing::ValuesIn(Cases()), CaseName);

// The copies themselves: the same bytes every time, cut where asked, and flips that
// touch only the body when the head is spared.
TEST(DamagedCopies, AreDeterministicAndDamageWhereAsked) {
  std::string source(100000, '\0');
  for (std::size_t i = 0; i < source.size(); ++i)
    source[i] = static_cast<char>(i * 7);
  EXPECT_EQ(DamagedBytes(source, DamageNamed("cut10")).size(), 10000u);
  EXPECT_EQ(DamagedBytes(source, DamageNamed("short1")), source.substr(0, source.size() - 1));
  for (const char *name : {"flip1", "flip3"}) {
    SCOPED_TRACE(name);
    const TDamage &damage = DamageNamed(name);
    const std::string once = DamagedBytes(source, damage);
    EXPECT_EQ(once, DamagedBytes(source, damage));
    ASSERT_EQ(once.size(), source.size());
    int bits = 0;
    std::size_t first = source.size();
    for (std::size_t i = 0; i < source.size(); ++i) {
      bits += __builtin_popcount(static_cast<unsigned char>(once[i] ^ source[i]));
      if (once[i] != source[i]) first = std::min(first, i);
    }
    EXPECT_GE(bits, 8);
    EXPECT_LE(bits, std::max<int>(8, int(source.size() / damage.BytesPerFlip)));
    EXPECT_GE(first, std::size_t(double(source.size()) * damage.SparedHead));
  }
  EXPECT_NE(DamagedBytes(source, DamageNamed("flip1")), DamagedBytes(source, DamageNamed("flip2")));
}

} // namespace
