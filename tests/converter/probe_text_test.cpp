// The description text and the file record: metadata, programs, rates, names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "converter/AVProbe.h"
#include "converter/ProbeTestSupport.h"
#include "converter/ProbeText.h"
#include "fixtures/Catalog.h"
#include "media/FileUtils.h"
#include "media/Owners.h"
#include "media/Texts.h"
#include "support/TestMedia.h"

using namespace tovi;
using test::Has;
using test::Lines;
using test::StartsWith;

namespace {

class ProbeText : public ::testing::Test {
protected:
  void SetUp() override { test::LoadConverterLibraries(); }
};

size_t IndexOf(const std::vector<std::string> &lines, const std::string &prefix) {
  const auto it =
      std::find_if(lines.begin(), lines.end(), [&](const auto &l) { return StartsWith(l, prefix); });
  EXPECT_NE(it, lines.end()) << "no line starts with \"" << prefix << "\"";
  return static_cast<size_t>(it - lines.begin());
}

constexpr const char *kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

TEST(ProbeTextPieces, SignedSecondsAndLocalTimeStamps) {
  // A negative start (encoder delay) keeps its sign once, in front.
  EXPECT_EQ(SecondsText(-23000), "-0.023000");
  EXPECT_EQ(SecondsText(INT64_MIN), "-9223372036854.775808");
  EXPECT_EQ(RateText(24000.0 / 1001, "fps"), "23.98 fps");
  ::setenv("TZ", kCentralEurope, 1);
  EXPECT_EQ(LocalTimeStampText(1719835200), "2024-07-01 14:00:00"); // summer time: UTC+2
  EXPECT_EQ(LocalTimeStampText(1704110400), "2024-01-01 13:00:00"); // winter: UTC+1
  ::unsetenv("TZ");
}

TEST_F(ProbeText, MetadataFileRecordsAndDescription) {
  const std::string path = test::FixturePath("metadata.mp4");
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrorText();
  TFileStreamInfo info;
  ASSERT_TRUE(probe.GetFileStreamInfo(info));
  EXPECT_EQ(info.Title, "Tovi Test Title");
  EXPECT_EQ(info.Author, "Tovi Artist"); // written as "artist"
  EXPECT_EQ(info.Comment, "Tovi fixture comment");
  EXPECT_EQ(info.Year, 2024); // from "date"
  EXPECT_EQ(info.Track, 0);
  EXPECT_EQ(info.Timestamp, 0);
  EXPECT_EQ(info.Album, "");

  const std::string text = probe.FileInfoText();
  const std::vector<std::string> lines = Lines(text);
  const std::vector<std::string> head = {"File Name: " + path,
                                         "Format Name: mov,mp4,m4a,3gp,3g2,mj2",
                                         "Format Long Name: QuickTime / MOV",
                                         "File Size: " + ByteSizeText(FileSizeOf(path)),
                                         "Duration: 00:00:01.000",
                                         "StartTime: 0.000000"};
  ASSERT_GT(lines.size(), head.size() + 2);
  EXPECT_TRUE(std::equal(head.begin(), head.end(), lines.begin()));
  EXPECT_TRUE(StartsWith(lines[6], "Bit Rate: ") && lines[6].ends_with(" kb/s") &&
              lines[6] != "Bit Rate: N/A");
  EXPECT_EQ(lines[7], "Metadata:");
  for (const char *entry : {"  title           : Tovi Test Title", "  artist          : Tovi Artist"})
    EXPECT_NE(std::find(lines.begin(), lines.end(), entry), lines.end()) << entry;
  EXPECT_FALSE(Has(text, "language")); // shown in the stream lines only
  EXPECT_FALSE(Has(text, "Time Stamp:"));

  const std::string &video = lines[IndexOf(lines, "Stream #0")];
  EXPECT_TRUE(StartsWith(video, "Stream #0[0x1](fre), 1/12800: Video: h264 ")) << video;
  EXPECT_TRUE(Has(video, ", 25 fps, 25 tbr, 12800 tbn, 50 tbc, StartTime: 0.000000, Duration: 00:00:01.000"));
  const std::string &audio = lines[IndexOf(lines, "Stream #1")];
  EXPECT_TRUE(StartsWith(audio, "Stream #1[0x2](eng), 1/44100: Audio: aac")) << audio;
  EXPECT_FALSE(Has(audio, "tbr")) << audio;
}

// ID3 keys, a time stamp, "year"/"track" tags and a stream whose only tag is its
// language, on a context the test owns and edits.
TEST_F(ProbeText, AttachedContextWithEditedMetadata) {
  TInputFile input = test::OpenWithStreamInfo(test::FixturePath("h264_aac.mp4"));
  ASSERT_TRUE(input);
  AVFormatContext *ic = input.Context();
  ASSERT_EQ(ic->nb_streams, 2u);
  ff::av_dict_free(&ic->metadata);
  for (const auto &[key, value] : {std::pair{"TIT2", "Old Title"},
                                   {"creation_time", "2024-03-01T12:00:00.000000Z"},
                                   {"year", "1999"},
                                   {"track", "3/12"},
                                   {"author", "Real"},
                                   {"artist", "Other"}})
    ff::av_dict_set(&ic->metadata, key, value, 0);
  for (AVStream *st : {ic->streams[0], ic->streams[1]}) {
    ff::av_dict_free(&st->metadata);
    ff::av_dict_set(&st->metadata, "language", "ger", 0);
  }
  ff::av_dict_set(&ic->streams[1]->metadata, "handler_name", "Tovi Sound", 0);

  TAVProbe probe;
  probe.AttachContext(ic);
  TFileStreamInfo info;
  ASSERT_TRUE(probe.GetFileStreamInfo(info));
  EXPECT_EQ(info.Timestamp, 1709294400);
  EXPECT_EQ(info.Year, 1999);
  EXPECT_EQ(info.Track, 3);
  EXPECT_EQ(info.Author, "Real"); // "author" wins over "artist"

  ::setenv("TZ", kCentralEurope, 1);
  const std::vector<std::string> lines = Lines(probe.FileInfoText());
  ::unsetenv("TZ");
  EXPECT_EQ(lines[IndexOf(lines, "Time Stamp:")], "Time Stamp: 2024-03-01 13:00:00");
  EXPECT_EQ(lines[IndexOf(lines, "  title")], "  title           : Old Title");
  const size_t v = IndexOf(lines, "Stream #0");
  ASSERT_EQ(lines.size(), v + 4);
  EXPECT_TRUE(Has(lines[v], "(ger)"));
  EXPECT_TRUE(StartsWith(lines[v + 1], "Stream #1")) << "a lone language needs no Metadata line";
  EXPECT_EQ(lines[v + 2], "  Metadata:");
  EXPECT_EQ(lines[v + 3], "    handler_name    : Tovi Sound");
}

TEST_F(ProbeText, ProgramsListTheirStreams) {
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(test::FixturePath("two_programs.ts"))) << probe.LastErrorText();
  const std::vector<std::string> lines = Lines(probe.FileInfoText());
  const size_t p1 = IndexOf(lines, "Program 1 "), p2 = IndexOf(lines, "Program 2 ");
  ASSERT_TRUE(p1 + 4 < p2 && p2 + 5 < lines.size());
  EXPECT_TRUE(lines[p1].ends_with("@Tovi One")) << lines[p1]; // the muxer's provider name first
  EXPECT_TRUE(lines[p2].ends_with("@Tovi Two")) << lines[p2];
  EXPECT_EQ(lines[p1 + 1], "  Metadata:");
  EXPECT_NE(std::find(lines.begin() + p1, lines.begin() + p2, "    service_name    : Tovi One"),
            lines.begin() + p2);
  // Streams follow their program, with their PIDs in lower-case hex.
  EXPECT_TRUE(StartsWith(lines[p2 - 2], "Stream #0[0x100], 1/90000: Video: h264")) << lines[p2 - 2];
  EXPECT_TRUE(Has(lines[p2 - 2], ", 25 fps, 25 tbr, 90k tbn, 50 tbc, StartTime: ")) << lines[p2 - 2];
  EXPECT_TRUE(StartsWith(lines[p2 - 1], "Stream #1[0x101], 1/90000: Audio: aac"));
  EXPECT_TRUE(StartsWith(lines[lines.size() - 2], "Stream #2[0x200], 1/90000: Video: mpeg2video"));
  EXPECT_TRUE(StartsWith(lines.back(), "Stream #3[0x201], 1/90000: Audio: mp2"));

  // A program table naming a stream the file lacks, and a program without names.
  TInputFile input = test::OpenWithStreamInfo(test::FixturePath("two_programs.ts"));
  ASSERT_TRUE(input);
  AVProgram *program = input->programs[0];
  const unsigned saved = program->stream_index[0];
  program->stream_index[0] = 99;
  ff::av_dict_free(&program->metadata);
  probe.AttachContext(input.Context());
  const std::vector<std::string> damaged = Lines(probe.FileInfoText());
  program->stream_index[0] = saved;
  const size_t d1 = IndexOf(damaged, "Program 1 ");
  ASSERT_LT(d1 + 1, damaged.size());
  EXPECT_EQ(damaged[d1], "Program 1 N/A@N/A");
  EXPECT_TRUE(StartsWith(damaged[d1 + 1], "Stream #1[0x101]")) << damaged[d1 + 1];
  EXPECT_TRUE(StartsWith(damaged.back(), "Stream #0[0x100]")); // still shown, once, at the end
}

TEST_F(ProbeText, RatesOfRealStreams) {
  const std::pair<const char *, const char *> cases[] = {
      {"ntsc_30000_1001.mp4", ", 29.97 fps, 29.97 tbr, 30k tbn, 59.94 tbc"},
      {"mpeg4_mp3.avi", ", 25 fps, 25 tbr, 25 tbn, 25 tbc"},  // MPEG-4 part 2 counts frames
      {"mpeg2_mp2.mpg", ", 25 fps, 25 tbr, 90k tbn, 50 tbc"}, // MPEG-2 counts fields
      {"vp8_vorbis.webm", "160x120, PAR 1:1 DAR 4:3, 25 fps, 25 tbr, 1k tbn, 25 tbc"},
  };
  for (const auto &[file, part] : cases) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(test::FixturePath(file))) << probe.LastErrorText();
    const std::vector<std::string> lines = Lines(probe.FileInfoText());
    const std::string &line =
        lines[IndexOf(lines, "Stream #" + std::to_string(probe.FirstVideoStreamIndex()))];
    EXPECT_TRUE(Has(line, part)) << line;
  }
}

TEST_F(ProbeText, NamesThatNeedTheUnicodeProtocol) {
  for (const std::string_view name : {fixtures::kNonAsciiFileName, fixtures::kColonFileName}) {
    const std::string path = test::FixturePath(std::string(name));
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrorText();
    EXPECT_EQ(Lines(probe.FileInfoText()).front(), "File Name: " + path);
    // An engine's context holds the wrapped URL; the probe gives the user's name back.
    TInputFile input = test::OpenWithStreamInfo(path);
    ASSERT_TRUE(input);
    probe.AttachContext(input.Context());
    EXPECT_EQ(probe.FileName(), path);
    EXPECT_EQ(probe.FileSize(), FileSizeOf(path));
  }
}

// A context without I/O of its own (no pb): the size comes from the file system.
TEST_F(ProbeText, SizeFromTheFileSystemWhenTheContainerHasNone) {
  const std::string path = test::FixturePath("audio_only.wav");
  FormatContextPtr bare(ff::avformat_alloc_context());
  ASSERT_TRUE(bare);
  bare->url = ff::av_strdup(path.c_str());
  TAVProbe probe;
  probe.AttachContext(bare.get());
  EXPECT_EQ(probe.FileSize(), FileSizeOf(path));
  EXPECT_EQ(probe.StreamCount(), 0);
  const std::vector<std::string> lines = Lines(probe.FileInfoText());
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[1], "Format Name: ");
  EXPECT_EQ(lines[3], "File Size: " + ByteSizeText(FileSizeOf(path)));

  ff::av_freep(&bare->url);
  bare->url = ff::av_strdup((path + ".missing").c_str());
  probe.RefreshStreamInfo();
  EXPECT_EQ(probe.FileSize(), -1);
  probe.CloseFile();
}

} // namespace
