// A probe of every generated file reports what the generator wrote.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "converter/AVProbe.h"
#include "converter/ProbeTestSupport.h"
#include "fixtures/Catalog.h"
#include "support/TestMedia.h"

using namespace tovi;
using tovi::fixtures::FixtureFile;
using tovi::fixtures::Integrity;

namespace {

struct Video {
  std::string_view codec;
  int width, height;
};
struct Audio {
  std::string_view codec;
  int sampleRate, channels;
};

class CatalogProbe : public ::testing::TestWithParam<size_t> {
protected:
  void SetUp() override { test::LoadConverterLibraries(); }
};

TEST_P(CatalogProbe, ReportsWhatTheGeneratorWrote) {
  const FixtureFile &f = fixtures::kCatalog[GetParam()];
  const std::string path = test::FixturePath(std::string(f.fileName));
  TAVProbe probe;
  if (f.integrity == Integrity::TruncatedUnopenable) {
    EXPECT_FALSE(probe.LoadFile(path));
    EXPECT_EQ(probe.LastErrorText(), path + ": Invalid data found when processing input");
    EXPECT_EQ(probe.StreamCount(), -1);
    return;
  }
  ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrorText();
  EXPECT_EQ(probe.FileName(), path);
  EXPECT_EQ(probe.FormatName(), f.demuxer);
  EXPECT_EQ(probe.FileSize(), static_cast<std::int64_t>(std::filesystem::file_size(path)));
  EXPECT_EQ(probe.StreamCount(), f.videoStreams + f.audioStreams + f.subtitleStreams);
  EXPECT_EQ(probe.VideoStreamCount(), f.videoStreams);
  EXPECT_EQ(probe.AudioStreamCount(), f.audioStreams);
  EXPECT_EQ(probe.SubtitleStreamCount(), f.subtitleStreams);
  EXPECT_EQ(probe.ProgramCount(), f.programs);

  TFileStreamInfo file;
  ASSERT_TRUE(probe.GetFileStreamInfo(file));
  const std::int64_t written = std::llround(f.durationSeconds * 1e6);
  // Within one frame, or 50 ms of encoder delay for audio-only files.
  const std::int64_t tolerance = f.fpsNum > 0 ? std::int64_t{1000000} * f.fpsDen / f.fpsNum : 50000;
  if (f.integrity == Integrity::TruncatedOpens) {
    EXPECT_GT(file.Duration, 0);
    EXPECT_LT(file.Duration, written);
  } else {
    EXPECT_NEAR(file.Duration, written, tolerance);
  }
  EXPECT_GT(file.BitRate, 0);

  // The streams of each type in index order: two_programs.ts has one video and one
  // audio stream per program, two_video.mkv a primary and a second video stream.
  std::vector<Video> videos;
  std::vector<Audio> audios;
  if (f.programs > 0) {
    for (const auto &p : fixtures::kTsPrograms) {
      videos.push_back({p.videoCodec, p.width, p.height});
      audios.push_back({p.audioCodec, p.sampleRate, p.channels});
    }
  } else {
    if (f.videoStreams > 0) videos.push_back({f.videoCodec, f.width, f.height});
    if (f.videoStreams > 1) videos.push_back({f.secondVideoCodec, f.secondWidth, f.secondHeight});
    if (f.audioStreams > 0) audios.push_back({f.audioCodec, f.sampleRate, f.channels});
  }
  size_t v = 0, a = 0;
  int firstVideo = -1, firstAudio = -1;
  for (int i = 0; i < probe.StreamCount(); ++i) {
    SCOPED_TRACE("stream " + std::to_string(i));
    if (probe.IsVideoStream(i) && v < videos.size()) {
      if (firstVideo < 0) firstVideo = i;
      TVideoStreamInfo info;
      ASSERT_TRUE(probe.GetVideoStreamInfo(i, info));
      EXPECT_TRUE(test::StartsWith(info.CodecName, std::string(videos[v].codec))) << info.CodecName;
      EXPECT_EQ(info.Width, videos[v].width);
      EXPECT_EQ(info.Height, videos[v].height);
      EXPECT_EQ(info.FrameRateNum, f.fpsNum);
      EXPECT_EQ(info.FrameRateDen, f.fpsDen);
      EXPECT_NEAR(info.AspectRatio, double(info.Width) / info.Height, 1e-4);
      ++v;
    } else if (probe.IsAudioStream(i) && a < audios.size()) {
      if (firstAudio < 0) firstAudio = i;
      TAudioStreamInfo info;
      ASSERT_TRUE(probe.GetAudioStreamInfo(i, info));
      // Decoder names may add a suffix ("mp3float").
      EXPECT_TRUE(test::StartsWith(info.CodecName, std::string(audios[a].codec))) << info.CodecName;
      EXPECT_EQ(info.SampleRate, audios[a].sampleRate);
      EXPECT_EQ(info.Channels, audios[a].channels);
      ++a;
    }
  }
  EXPECT_EQ(v, videos.size());
  EXPECT_EQ(a, audios.size());
  EXPECT_EQ(probe.FirstVideoStreamIndex(), firstVideo);
  EXPECT_EQ(probe.FirstAudioStreamIndex(), firstAudio);

  // Each stream has exactly one line in the description, however programs group them.
  std::vector<int> lines(probe.StreamCount(), 0);
  for (const std::string &line : test::Lines(probe.FileInfoText())) {
    int index = -1;
    if (std::sscanf(line.c_str(), "Stream #%d", &index) == 1 && index >= 0 && index < probe.StreamCount())
      ++lines[index];
  }
  EXPECT_EQ(lines, std::vector<int>(probe.StreamCount(), 1));
}

std::string ParamName(const ::testing::TestParamInfo<size_t> &info) {
  std::string name = std::to_string(info.param) + "_";
  for (char c : fixtures::kCatalog[info.param].fileName)
    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Generated, CatalogProbe, ::testing::Range<size_t>(0, fixtures::kCatalog.size()),
                         ParamName);

} // namespace
