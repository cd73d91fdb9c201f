// The description text and the file record: metadata, programs, rates, names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>

#include "converter/AVProbe.h"
#include "converter/ProbeTestSupport.h"
#include "converter/ProbeText.h"
#include "fixtures/Catalog.h"
#include "media/FileUtils.h"
#include "media/Owners.h"
#include "media/Texts.h"
#include "support/TestMedia.h"

using namespace tovi;
using test::Lines;
using test::StartsWith;

namespace {

class ProbeText : public ::testing::Test {
protected:
  void SetUp() override { test::LoadConverterLibraries(); }
};

// The line that starts with `prefix`; fails the test when there is none.
std::string LineStarting(const std::vector<std::string> &lines, const std::string &prefix) {
  for (const std::string &line : lines)
    if (StartsWith(line, prefix)) return line;
  ADD_FAILURE() << "no line starts with \"" << prefix << "\"";
  return {};
}

size_t IndexOf(const std::vector<std::string> &lines, const std::string &prefix) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (StartsWith(lines[i], prefix)) return i;
  ADD_FAILURE() << "no line starts with \"" << prefix << "\"";
  return lines.size();
}

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

bool EndsWith(const std::string &text, const std::string &suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Sets TZ for the lifetime of the object.
class ScopedTimeZone {
public:
  explicit ScopedTimeZone(const char *zone) {
    if (const char *old = std::getenv("TZ")) {
      old_ = old;
      hadOld_ = true;
    }
    ::setenv("TZ", zone, 1);
  }
  ~ScopedTimeZone() {
    if (hadOld_)
      ::setenv("TZ", old_.c_str(), 1);
    else
      ::unsetenv("TZ");
  }

private:
  std::string old_;
  bool hadOld_ = false;
};

TEST(ProbeTextPieces, RatesSecondsKeysAndNumbers) {
  EXPECT_EQ(RateText(30000.0 / 1001, "tbr"), "29.97 tbr");
  EXPECT_EQ(RateText(24000.0 / 1001, "fps"), "23.98 fps");
  EXPECT_EQ(RateText(25, "tbr"), "25 tbr");
  EXPECT_EQ(RateText(12800, "tbn"), "12800 tbn");
  EXPECT_EQ(RateText(90000, "tbn"), "90k tbn");
  EXPECT_EQ(RateText(1000, "tbn"), "1k tbn");
  EXPECT_EQ(RateText(0.5, "fps"), "0.50 fps");

  EXPECT_EQ(SecondsText(1500000), "1.500000");
  EXPECT_EQ(SecondsText(0), "0.000000");
  // A negative start (encoder delay) keeps its sign once, in front.
  EXPECT_EQ(SecondsText(-23000), "-0.023000");
  EXPECT_EQ(SecondsText(-3000001), "-3.000001");
  EXPECT_EQ(SecondsText(INT64_MIN), "-9223372036854.775808");

  EXPECT_EQ(ShownMetadataKey("TIT2"), "title");
  EXPECT_EQ(ShownMetadataKey("TSOP"), "authorsort");
  EXPECT_EQ(ShownMetadataKey("TYER"), "year");
  EXPECT_EQ(ShownMetadataKey("tit2"), "tit2"); // exact comparison
  EXPECT_EQ(ShownMetadataKey("encoder"), "encoder");

  EXPECT_EQ(LeadingNumber("2024-05-01"), 2024);
  EXPECT_EQ(LeadingNumber("3/12"), 3);
  EXPECT_EQ(LeadingNumber(" 7"), 7);
  EXPECT_EQ(LeadingNumber("track 3"), 0);
  EXPECT_EQ(LeadingNumber("99999999999"), 0);
  EXPECT_EQ(LeadingNumber(""), 0);

  EXPECT_EQ(av_cmp_q(UsableTimeBase({1, 0}), AVRational{1, 1}), 0);
  EXPECT_EQ(UsableTimeBase({0, 0}).den, 1);
  EXPECT_EQ(av_cmp_q(UsableTimeBase({1, 90000}), AVRational{1, 90000}), 0);
}

TEST(ProbeTextPieces, TimeStampIsLocalStandardTime) {
  ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(LocalTimeStampText(1709294400), "2024-03-01 13:00:00");
  // Summer: still the standard offset.
  EXPECT_EQ(LocalTimeStampText(1719835200), "2024-07-01 13:00:00");
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
  EXPECT_EQ(info.Copyright, "");
  EXPECT_EQ(info.Album, "");
  EXPECT_EQ(info.Genre, "");
  EXPECT_EQ(info.StartTime, 0);
  TVideoStreamInfo video;
  TAudioStreamInfo audio;
  ASSERT_TRUE(probe.GetVideoStreamInfo(-1, video));
  ASSERT_TRUE(probe.GetAudioStreamInfo(-1, audio));
  EXPECT_EQ(video.Language, "fre");
  EXPECT_EQ(audio.Language, "eng");

  const std::string text = probe.FileInfoText();
  const std::vector<std::string> lines = Lines(text);
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[0], "File Name: " + path);
  EXPECT_EQ(lines[1], "Format Name: mov,mp4,m4a,3gp,3g2,mj2");
  EXPECT_EQ(lines[2], "Format Long Name: QuickTime / MOV");
  EXPECT_EQ(lines[3], "File Size: " + ByteSizeText(FileSizeOf(path)));
  EXPECT_EQ(lines[4], "Duration: 00:00:01.000");
  EXPECT_EQ(lines[5], "StartTime: 0.000000");
  int kbps = 0;
  char unit[8] = "";
  EXPECT_EQ(std::sscanf(lines[6].c_str(), "Bit Rate: %d %7s", &kbps, unit), 2) << lines[6];
  EXPECT_GT(kbps, 0);
  EXPECT_STREQ(unit, "kb/s");
  EXPECT_EQ(lines[7], "Metadata:");
  for (const char *expected : {"  title           : Tovi Test Title", "  artist          : Tovi Artist",
                               "  comment         : Tovi fixture comment", "  date            : 2024"})
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
  EXPECT_FALSE(Contains(text, "Time Stamp:"));
  // Languages show in the stream lines, never as metadata entries.
  EXPECT_FALSE(Contains(text, "language"));

  const std::string v = LineStarting(lines, "Stream #0");
  EXPECT_TRUE(StartsWith(v, "Stream #0[0x1](fre), 1/12800: Video: h264 ")) << v;
  EXPECT_TRUE(Contains(v, "160x120")) << v;
  EXPECT_TRUE(Contains(v, ", 25 fps, 25 tbr, 12800 tbn, 50 tbc, StartTime: 0.000000, Duration: 00:00:01.000")) << v;
  const std::string a = LineStarting(lines, "Stream #1");
  EXPECT_TRUE(StartsWith(a, "Stream #1[0x2](eng), 1/44100: Audio: aac")) << a;
  EXPECT_TRUE(Contains(a, "44100 Hz, stereo")) << a;
  EXPECT_FALSE(Contains(a, "tbr")) << a; // rates are for video only

  // The file information window takes the audio format from the text this way.
  const size_t at = text.find("Audio:");
  ASSERT_NE(at, std::string::npos);
  EXPECT_TRUE(StartsWith(text.substr(at + 7, text.find(',', at) - at - 7), "aac"));
}

// Old ID3 keys, a time stamp, "year"/"track" tags and a stream with only a language,
// on a context the test owns and edits.
TEST_F(ProbeText, AttachedContextWithEditedMetadata) {
  ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  TInputFile input = test::OpenWithStreamInfo(test::FixturePath("h264_aac.mp4"));
  ASSERT_TRUE(input);
  AVFormatContext *ic = input.Context();
  ASSERT_EQ(ic->nb_streams, 2u);
  ff::av_dict_free(&ic->metadata);
  for (const auto &[key, value] : {std::pair{"TIT2", "Old Title"}, {"TPE1", "Old Artist"},
                                   {"creation_time", "2024-03-01T12:00:00.000000Z"}, {"year", "1999"},
                                   {"track", "3/12"}, {"author", "Real Author"}, {"artist", "Someone"}})
    ff::av_dict_set(&ic->metadata, key, value, 0);
  ff::av_dict_free(&ic->streams[0]->metadata);
  ff::av_dict_set(&ic->streams[0]->metadata, "language", "ger", 0);
  ff::av_dict_free(&ic->streams[1]->metadata);
  ff::av_dict_set(&ic->streams[1]->metadata, "language", "eng", 0);
  ff::av_dict_set(&ic->streams[1]->metadata, "handler_name", "Tovi Sound", 0);

  TAVProbe probe;
  probe.AttachContext(ic);
  TFileStreamInfo info;
  ASSERT_TRUE(probe.GetFileStreamInfo(info));
  EXPECT_EQ(info.Timestamp, 1709294400);
  EXPECT_EQ(info.Year, 1999);
  EXPECT_EQ(info.Track, 3);
  EXPECT_EQ(info.Author, "Real Author"); // "author" wins over "artist"
  EXPECT_EQ(info.Title, "");              // an ID3 key is shown renamed, not looked up

  const std::vector<std::string> lines = Lines(probe.FileInfoText());
  EXPECT_EQ(LineStarting(lines, "Time Stamp:"), "Time Stamp: 2024-03-01 13:00:00");
  EXPECT_EQ(LineStarting(lines, "  title"), "  title           : Old Title");
  EXPECT_EQ(LineStarting(lines, "  artist"), "  artist          : Old Artist");
  const size_t v = IndexOf(lines, "Stream #0");
  ASSERT_LT(v + 1, lines.size());
  EXPECT_TRUE(Contains(lines[v], "(ger)"));
  EXPECT_TRUE(StartsWith(lines[v + 1], "Stream #1")) << "a lone language needs no Metadata line";
  ASSERT_LT(v + 3, lines.size());
  EXPECT_EQ(lines[v + 2], "  Metadata:");
  EXPECT_EQ(lines[v + 3], "    handler_name    : Tovi Sound");
  EXPECT_EQ(lines.size(), v + 4);
}

TEST_F(ProbeText, ProgramsListTheirStreams) {
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(test::FixturePath("two_programs.ts"))) << probe.LastErrorText();
  EXPECT_EQ(probe.ProgramCount(), 2);
  const std::vector<std::string> lines = Lines(probe.FileInfoText());
  const size_t p1 = IndexOf(lines, "Program 1 ");
  const size_t p2 = IndexOf(lines, "Program 2 ");
  ASSERT_LT(p2 + 5, lines.size());
  ASSERT_LT(p1, p2);
  // Provider (the muxer's own) @ service name.
  EXPECT_TRUE(EndsWith(lines[p1], "@Tovi One")) << lines[p1];
  EXPECT_TRUE(EndsWith(lines[p2], "@Tovi Two")) << lines[p2];
  EXPECT_EQ(lines[p1 + 1], "  Metadata:");
  EXPECT_NE(std::find(lines.begin() + p1, lines.begin() + p2, "    service_name    : Tovi One"),
            lines.begin() + p2);
  // Streams follow their program, with their PIDs in lower-case hex.
  EXPECT_TRUE(StartsWith(lines[p2 - 2], "Stream #0[0x100], 1/90000: Video: h264")) << lines[p2 - 2];
  EXPECT_TRUE(StartsWith(lines[p2 - 1], "Stream #1[0x101], 1/90000: Audio: aac")) << lines[p2 - 1];
  EXPECT_TRUE(StartsWith(lines[lines.size() - 2], "Stream #2[0x200], 1/90000: Video: mpeg2video"));
  EXPECT_TRUE(StartsWith(lines.back(), "Stream #3[0x201], 1/90000: Audio: mp2"));
  EXPECT_TRUE(Contains(lines[p2 - 2], ", 25 fps, 25 tbr, 90k tbn, 50 tbc, StartTime: ")) << lines[p2 - 2];
}

// A program table naming a stream that does not exist, and a program without names.
TEST_F(ProbeText, DamagedProgramTable) {
  TInputFile input = test::OpenWithStreamInfo(test::FixturePath("two_programs.ts"));
  ASSERT_TRUE(input);
  AVProgram *program = input->programs[0];
  ASSERT_GE(program->nb_stream_indexes, 1u);
  const unsigned saved = program->stream_index[0];
  program->stream_index[0] = 99;
  ff::av_dict_free(&program->metadata);
  TAVProbe probe;
  probe.AttachContext(input.Context());
  const std::vector<std::string> lines = Lines(probe.FileInfoText());
  program->stream_index[0] = saved;

  const size_t p1 = IndexOf(lines, "Program 1 ");
  ASSERT_LT(p1 + 1, lines.size());
  EXPECT_EQ(lines[p1], "Program 1 N/A@N/A");
  EXPECT_TRUE(StartsWith(lines[p1 + 1], "Stream #1[0x101]")) << lines[p1 + 1];
  // The stream the table lost is still shown, once, after the programs.
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string &l) { return StartsWith(l, "Stream #0"); }),
            1);
  EXPECT_TRUE(StartsWith(lines.back(), "Stream #0[0x100]"));
}

TEST_F(ProbeText, RatesOfRealStreams) {
  struct Case {
    const char *file;
    const char *part;
  } cases[] = {
      {"ntsc_30000_1001.mp4", ", 29.97 fps, 29.97 tbr, 30k tbn, 59.94 tbc"},
      {"mpeg4_mp3.avi", ", 25 fps, 25 tbr, 25 tbn, 25 tbc"},        // no fields in MPEG-4 part 2
      {"mpeg2_mp2.mpg", ", 25 fps, 25 tbr, 90k tbn, 50 tbc"},       // MPEG-2 counts fields
      {"vp8_vorbis.webm", "160x120, PAR 1:1 DAR 4:3, 25 fps, 25 tbr, 1k tbn, 25 tbc"},
  };
  for (const Case &c : cases) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(test::FixturePath(c.file))) << probe.LastErrorText();
    const std::string line = LineStarting(Lines(probe.FileInfoText()), "Stream #" +
                                          std::to_string(probe.FirstVideoStreamIndex()));
    EXPECT_TRUE(Contains(line, c.part)) << line;
  }
}

TEST_F(ProbeText, NamesThatNeedTheUnicodeProtocol) {
  for (const std::string_view name : {fixtures::kNonAsciiFileName, fixtures::kColonFileName}) {
    const std::string path = test::FixturePath(std::string(name));
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrorText();
    EXPECT_EQ(probe.FileName(), path);
    EXPECT_EQ(probe.FileSize(), FileSizeOf(path));
    EXPECT_EQ(Lines(probe.FileInfoText()).front(), "File Name: " + path);

    // An engine's context holds the wrapped URL; the probe still gives the user's name.
    TInputFile input = test::OpenWithStreamInfo(path);
    ASSERT_TRUE(input);
    TAVProbe attached;
    attached.AttachContext(input.Context());
    EXPECT_EQ(attached.FileName(), path);
    EXPECT_EQ(attached.FileSize(), FileSizeOf(path));
  }

  // A bare relative name with a colon, which the library alone would take for a protocol.
  const std::string saved = GetCurrentDir();
  ASSERT_TRUE(SetCurrentDir(test::FixtureDir().string()));
  TAVProbe probe;
  EXPECT_TRUE(probe.LoadFile(std::string(fixtures::kColonFileName))) << probe.LastErrorText();
  EXPECT_EQ(probe.FileName(), fixtures::kColonFileName);
  EXPECT_GT(probe.FileSize(), 0);
  probe.CloseFile();
  SetCurrentDir(saved);
}

// A context without its own I/O: the size comes from the file system.
TEST_F(ProbeText, SizeFromTheFileSystemWhenTheContainerHasNone) {
  const std::string path = test::FixturePath("audio_only.wav");
  FormatContextPtr bare(ff::avformat_alloc_context());
  ASSERT_TRUE(bare);
  bare->url = ff::av_strdup(path.c_str());
  TAVProbe probe;
  probe.AttachContext(bare.get());
  EXPECT_EQ(probe.FileSize(), FileSizeOf(path));
  EXPECT_EQ(probe.StreamCount(), 0);
  EXPECT_EQ(probe.FormatName(), "");
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
