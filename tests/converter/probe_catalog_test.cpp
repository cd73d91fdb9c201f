// A probe of every generated file reports what the generator wrote.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <set>

#include "converter/AVProbe.h"
#include "converter/ProbeTestSupport.h"
#include "fixtures/Catalog.h"
#include "support/TestMedia.h"

using namespace tovi;
using tovi::fixtures::FixtureFile;
using tovi::fixtures::Integrity;

namespace {

class CatalogProbe : public ::testing::TestWithParam<size_t> {
protected:
  void SetUp() override { test::LoadConverterLibraries(); }
  const FixtureFile &File() const { return fixtures::kCatalog[GetParam()]; }
  std::string Path() const { return test::FixturePath(std::string(File().fileName)); }
};

// One frame for files with video, 50 ms (encoder delay) for audio-only files.
std::int64_t ToleranceUs(const FixtureFile &f) {
  return f.fpsNum > 0 ? std::int64_t{1000000} * f.fpsDen / f.fpsNum : 50000;
}

std::int64_t WrittenUs(const FixtureFile &f) { return std::llround(f.durationSeconds * 1e6); }

// The stream indices of one type, in index order.
std::vector<int> StreamsOfType(const TCustomAVProbe &probe, AVMediaType type) {
  std::vector<int> out;
  for (int i = 0; i < probe.StreamCount(); ++i)
    if (probe.FormatContext()->streams[i]->codecpar->codec_type == type) out.push_back(i);
  return out;
}

TEST_P(CatalogProbe, ContainerCountsAndSizes) {
  const FixtureFile &f = File();
  TAVProbe probe;
  if (f.integrity == Integrity::TruncatedUnopenable) {
    EXPECT_FALSE(probe.LoadFile(Path()));
    EXPECT_EQ(probe.LastErrorText(), Path() + ": Invalid data found when processing input");
    EXPECT_EQ(probe.FormatContext(), nullptr);
    EXPECT_EQ(probe.StreamCount(), -1);
    return;
  }
  ASSERT_TRUE(probe.LoadFile(Path())) << probe.LastErrorText();
  EXPECT_TRUE(probe.OwnsContext());
  EXPECT_EQ(probe.FileName(), Path());
  EXPECT_EQ(probe.FormatName(), f.demuxer);
  EXPECT_EQ(probe.ForcedFormat(), "");
  EXPECT_EQ(probe.FileSize(), static_cast<std::int64_t>(std::filesystem::file_size(Path())));
  EXPECT_EQ(probe.VideoStreamCount(), f.videoStreams);
  EXPECT_EQ(probe.AudioStreamCount(), f.audioStreams);
  EXPECT_EQ(probe.SubtitleStreamCount(), f.subtitleStreams);
  EXPECT_EQ(probe.StreamCount(), f.videoStreams + f.audioStreams + f.subtitleStreams);
  EXPECT_EQ(probe.ProgramCount(), f.programs);
  const std::vector<int> video = StreamsOfType(probe, AVMEDIA_TYPE_VIDEO);
  const std::vector<int> audio = StreamsOfType(probe, AVMEDIA_TYPE_AUDIO);
  const std::vector<int> subtitles = StreamsOfType(probe, AVMEDIA_TYPE_SUBTITLE);
  EXPECT_EQ(probe.FirstVideoStreamIndex(), video.empty() ? -1 : video.front());
  EXPECT_EQ(probe.FirstAudioStreamIndex(), audio.empty() ? -1 : audio.front());
  EXPECT_EQ(probe.FirstSubtitleStreamIndex(), subtitles.empty() ? -1 : subtitles.front());

  TFileStreamInfo info;
  ASSERT_TRUE(probe.GetFileStreamInfo(info));
  if (f.integrity == Integrity::TruncatedOpens) {
    EXPECT_GT(info.Duration, 0);
    EXPECT_LT(info.Duration, WrittenUs(f));
  } else {
    EXPECT_NEAR(info.Duration, WrittenUs(f), ToleranceUs(f));
  }
  if (f.videoStreams > 0) {
    EXPECT_GE(info.StartTime, 0);
  }
  EXPECT_GT(info.BitRate, 0);
}

TEST_P(CatalogProbe, StreamRecords) {
  const FixtureFile &f = File();
  if (f.integrity == Integrity::TruncatedUnopenable) GTEST_SKIP() << "does not open";
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(Path())) << probe.LastErrorText();

  // Expected sizes of the video streams in index order (two_programs.ts: one per
  // program; two_video.mkv: primary, then second).
  std::vector<std::pair<int, int>> sizes;
  std::vector<std::string_view> videoCodecs, audioCodecs;
  if (f.programs > 0) {
    for (const auto &p : fixtures::kTsPrograms) {
      sizes.emplace_back(p.width, p.height);
      videoCodecs.push_back(p.videoCodec);
      audioCodecs.push_back(p.audioCodec);
    }
  } else {
    if (f.videoStreams > 0) {
      sizes.emplace_back(f.width, f.height);
      videoCodecs.push_back(f.videoCodec);
    }
    if (f.videoStreams > 1) {
      sizes.emplace_back(f.secondWidth, f.secondHeight);
      videoCodecs.push_back(f.secondVideoCodec);
    }
    if (f.audioStreams > 0) audioCodecs.push_back(f.audioCodec);
  }

  const std::vector<int> video = StreamsOfType(probe, AVMEDIA_TYPE_VIDEO);
  ASSERT_EQ(video.size(), sizes.size());
  for (size_t k = 0; k < video.size(); ++k) {
    SCOPED_TRACE("video stream " + std::to_string(video[k]));
    TVideoStreamInfo v;
    ASSERT_TRUE(probe.GetVideoStreamInfo(video[k], v)) << probe.LastErrorText();
    EXPECT_EQ(v.Width, sizes[k].first);
    EXPECT_EQ(v.Height, sizes[k].second);
    EXPECT_TRUE(test::StartsWith(v.CodecName, std::string(videoCodecs[k]))) << v.CodecName;
    EXPECT_EQ(v.FrameRateNum, f.fpsNum);
    EXPECT_EQ(v.FrameRateDen, f.fpsDen);
    EXPECT_NEAR(v.AspectRatio, static_cast<double>(v.Width) / v.Height, 1e-4);
    EXPECT_EQ(v.PixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_GE(v.StartTime, 0);
    if (k == 0 && !f.videoLanguage.empty()) {
      EXPECT_EQ(v.Language, f.videoLanguage);
    }
    // MP4 stores each stream's duration; other containers leave it to estimates.
    if (f.muxer == "mp4") {
      EXPECT_NEAR(v.Duration, WrittenUs(f), ToleranceUs(f));
    }
  }
  TVideoStreamInfo first;
  EXPECT_EQ(probe.GetVideoStreamInfo(-1, first), !video.empty());

  const std::vector<int> audio = StreamsOfType(probe, AVMEDIA_TYPE_AUDIO);
  ASSERT_EQ(audio.size(), audioCodecs.size());
  for (size_t k = 0; k < audio.size(); ++k) {
    SCOPED_TRACE("audio stream " + std::to_string(audio[k]));
    TAudioStreamInfo a;
    ASSERT_TRUE(probe.GetAudioStreamInfo(audio[k], a)) << probe.LastErrorText();
    // Decoder names may add a suffix ("mp3float").
    EXPECT_TRUE(test::StartsWith(a.CodecName, std::string(audioCodecs[k]))) << a.CodecName;
    EXPECT_EQ(a.SampleRate, f.programs > 0 ? fixtures::kTsPrograms[k].sampleRate : f.sampleRate);
    EXPECT_EQ(a.Channels, f.programs > 0 ? fixtures::kTsPrograms[k].channels : f.channels);
    EXPECT_GE(a.SampleFormat, 0);
    if (k == 0 && !f.audioLanguage.empty()) {
      EXPECT_EQ(a.Language, f.audioLanguage);
    }
  }
}

// Every stream appears in exactly one stream line, however programs group them.
TEST_P(CatalogProbe, DescriptionShowsEachStreamOnce) {
  const FixtureFile &f = File();
  if (f.integrity == Integrity::TruncatedUnopenable) GTEST_SKIP() << "does not open";
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(Path())) << probe.LastErrorText();
  std::multiset<int> shown;
  for (const std::string &line : test::Lines(probe.FileInfoText())) {
    int index = -1;
    if (std::sscanf(line.c_str(), "Stream #%d", &index) == 1) shown.insert(index);
  }
  ASSERT_EQ(shown.size(), static_cast<size_t>(probe.StreamCount()));
  for (int i = 0; i < probe.StreamCount(); ++i)
    EXPECT_EQ(shown.count(i), 1u) << "stream " << i;
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
