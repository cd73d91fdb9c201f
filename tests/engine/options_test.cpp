// The option dispatcher: value conventions, the validation messages, the options with
// structured values, and the refusal of full tables.
#include <thread>
#include <utility>
#include <vector>

#include "EngineTestSupport.h"

using namespace tovi;
using tovi::test::EngineTest;

namespace {

class OptionTest : public EngineTest {
protected:
  void Set(const std::string &name, const std::string &value) { engine_.ParseOption(name, value); }
  std::string Refused(const std::string &name, const std::string &value) {
    return Raised([&] { engine_.ParseOption(name, value); });
  }
};

TEST_F(OptionTest, IgnoredOptionsLogAndThreadsIsRefused) {
  EXPECT_EQ(Refused("threads", "4"), "TODO: option - threads");
  EXPECT_EQ(engine_.Job().ThreadCount, 1);
  Set("y", "");
  Set("i", "whatever");
  EXPECT_TRUE(log_.Has(&engine_, llInfo, "Do nothing: option - y"));
  EXPECT_TRUE(log_.Has(&engine_, llInfo, "Do nothing: option - i"));
  Set("timelimit", "10");
  EXPECT_TRUE(log_.Has(&engine_, llWarning, "Warning: -timelimit not implemented on Windows"));
  // Names are compared exactly: "Y" is no engine option and goes nowhere.
  EXPECT_NO_THROW(Set("Y", "1"));
  EXPECT_FALSE(log_.Has(&engine_, llInfo, "Do nothing: option - Y"));
}

TEST_F(OptionTest, BooleanValuesAreTrueUnlessExactlyZero) {
  Set("vn", "false");
  EXPECT_TRUE(engine_.Pending().VideoDisable);
  Set("vn", "0");
  EXPECT_FALSE(engine_.Pending().VideoDisable);
  Set("vn", "");
  EXPECT_TRUE(engine_.Pending().VideoDisable);
  Set("shortest", " 0");
  EXPECT_TRUE(engine_.Job().Shortest);
  Set("copyts", "0"); // kind "ignored": any value turns it on
  EXPECT_TRUE(engine_.Job().CopyTimestamps);
}

TEST_F(OptionTest, IntegerAndFloatConversions) {
  // A rate or channel count of 0 or less would silently keep the source's: refused.
  EXPECT_EQ(Refused("ar", "0"), "Invalid value \"0\" for option \"ar\": must be above 0");
  EXPECT_EQ(Refused("ac", "-1"), "Invalid value \"-1\" for option \"ac\": must be above 0");
  EXPECT_EQ(engine_.Pending().AudioSampleRate, 44100);
  EXPECT_EQ(engine_.Pending().AudioChannels, 2);
  Set("ar", "48000");
  Set("ac", "0x6");
  EXPECT_EQ(engine_.Pending().AudioSampleRate, 48000);
  EXPECT_EQ(engine_.Pending().AudioChannels, 6);

  Set("vol", "-5");
  EXPECT_EQ(engine_.Job().AudioVolume, -5);
  Set("vol", "300");
  engine_.SetAudioVolume(-5); // the setter ignores what the option stores
  EXPECT_EQ(engine_.Job().AudioVolume, 300);
  engine_.SetMuxPreload(0);
  EXPECT_DOUBLE_EQ(engine_.Job().MuxPreloadSeconds, 0.5);

  EXPECT_EQ(Refused("ar", "44.1k"), "'44.1k' is not a valid integer value");
  EXPECT_EQ(Refused("ac", ""), "'' is not a valid integer value");
  EXPECT_EQ(Refused("vframes", "99999999999"), "'99999999999' is not a valid integer value");
  Set("fs", "99999999999");
  EXPECT_EQ(engine_.Job().LimitFileSizeBytes, 99999999999LL);
  EXPECT_EQ(Refused("muxdelay", "0,5"), "'0,5' is not a valid floating point value");
  EXPECT_EQ(Refused("adrift_threshold", "nan"), "'nan' is not a valid floating point value");
}

TEST_F(OptionTest, CropBandsStayInsideTheFrame) {
  const std::string vertical = "Vertical crop dimensions are outside the range of the original image.\n"
                               "Remember to crop first and scale second.";
  const std::string horizontal = "Horizontal crop dimensions are outside the range of the original image.\n"
                                 "Remember to crop first and scale second.";
  EXPECT_EQ(Refused("croptop", "10"), vertical); // no frame size yet
  Set("s", "320x240");
  Set("croptop", "10");
  EXPECT_TRUE(log_.Has(&engine_, llWarning, "CropXXX is deprecated in favor of the crop avfilter"));
  EXPECT_EQ(engine_.Pending().CropTop, 10);
  EXPECT_EQ(engine_.Pending().FrameHeight, 230);
  EXPECT_EQ(Refused("cropbottom", "230"), vertical);
  Set("cropbottom", "229");
  EXPECT_EQ(engine_.Pending().FrameHeight, 1);
  EXPECT_EQ(Refused("cropleft", "320"), horizontal);
  Set("cropleft", "16");
  Set("cropright", "16");
  EXPECT_EQ(engine_.Pending().FrameWidth, 288);
  // Giving a band again replaces it rather than cropping twice.
  Set("cropleft", "8");
  EXPECT_EQ(engine_.Pending().CropLeft, 8);
  EXPECT_EQ(engine_.Pending().FrameWidth, 296);
  // Values <= 0 are ignored.
  Set("cropright", "0");
  Set("cropright", "-4");
  EXPECT_EQ(engine_.Pending().CropRight, 16);
  EXPECT_EQ(engine_.Pending().FrameWidth, 296);
}

TEST_F(OptionTest, FrameSizeRateAndAspect) {
  Set("s", "hd720");
  EXPECT_EQ(engine_.Pending().FrameWidth, 1280);
  EXPECT_EQ(engine_.Pending().FrameHeight, 720);
  EXPECT_EQ(Refused("s", "352x"), "Incorrect frame size");
  EXPECT_EQ(Refused("s", "-352x288"), "Incorrect frame size");
  EXPECT_EQ(engine_.Pending().FrameWidth, 1280);

  Set("r", "ntsc");
  EXPECT_EQ(engine_.Pending().FrameRate.num, 30000);
  EXPECT_EQ(engine_.Pending().FrameRate.den, 1001);
  Set("r", "12.5");
  EXPECT_EQ(engine_.Pending().FrameRate.num, 25);
  EXPECT_EQ(engine_.Pending().FrameRate.den, 2);
  EXPECT_EQ(Refused("r", "fast"), "Incorrect frame rate");
  EXPECT_EQ(Refused("r", "0"), "Incorrect frame rate");

  EXPECT_EQ(Refused("aspect", "16:0"), "Incorrect aspect ratio specification.");
  EXPECT_EQ(Refused("aspect", "wide"), "Incorrect aspect ratio specification.");
  EXPECT_EQ(Refused("aspect", "-16:9"), "Incorrect aspect ratio specification.");
  Set("aspect", "1.7777");
  EXPECT_DOUBLE_EQ(engine_.Pending().FrameAspectRatio, 1.7777);
  Set("aspect", "4:3");
  EXPECT_DOUBLE_EQ(engine_.Pending().FrameAspectRatio, 4.0 / 3.0);
}

TEST_F(OptionTest, PassAndQscaleRanges) {
  EXPECT_EQ(Refused("pass", "3"), "pass number can be only 1 or 2");
  EXPECT_EQ(Refused("pass", "0"), "pass number can be only 1 or 2");
  Set("pass", "2");
  EXPECT_EQ(engine_.Job().Pass, 2);
  EXPECT_EQ(Refused("qscale", "0"), "qscale must be > 0.0 and <= 255");
  EXPECT_EQ(Refused("qscale", "256"), "qscale must be > 0.0 and <= 255");
  EXPECT_EQ(Refused("qscale", "255.01"), "qscale must be > 0.0 and <= 255");
  Set("qscale", "255");
  EXPECT_DOUBLE_EQ(engine_.Pending().VideoQScale, 255);
  Set("qscale", "0.5");
  EXPECT_DOUBLE_EQ(engine_.Pending().VideoQScale, 0.5);
}

TEST_F(OptionTest, DurationsAndDates) {
  Set("t", "00:01:30.5");
  EXPECT_EQ(engine_.Job().RecordingTimeUs, 90500000);
  EXPECT_EQ(engine_.ProgressTotalUs(), 90500000);
  Set("ss", "2.5");
  EXPECT_EQ(engine_.Job().StartTimeUs, 2500000);
  Set("itsoffset", "-1");
  EXPECT_EQ(engine_.Job().InputTsOffsetUs, -1000000);
  EXPECT_EQ(Refused("t", "soon"), "Invalid duration specification for t: soon");
  EXPECT_EQ(Refused("itsoffset", ""), "Invalid duration specification for itsoffset: ");
  Set("timestamp", "2000-01-01 00:00:00.6Z");
  EXPECT_EQ(engine_.Job().OutputTimestampSeconds, 946684801);
  EXPECT_EQ(Refused("timestamp", "yesterday"), "Invalid date specification for timestamp: yesterday");

  // The setters take microseconds and ignore the no-time value.
  engine_.SetStartTime(NO_TIMESTAMP);
  engine_.SetRecordingTime(NO_TIMESTAMP);
  EXPECT_EQ(engine_.Job().StartTimeUs, 2500000);
  EXPECT_EQ(engine_.Job().RecordingTimeUs, 90500000);
  engine_.SetRecordingTime(5000000);
  EXPECT_EQ(engine_.ProgressTotalUs(), 5000000);
  // A negative length would end the job before its first packet.
  EXPECT_EQ(Refused("t", "-3"), "Invalid duration for t: -3 (must not be negative)");
  EXPECT_EQ(Raised([&] { engine_.SetRecordingTime(-1000000); }),
            "Invalid recording time -1.000 s (must not be negative)");
  EXPECT_EQ(engine_.Job().RecordingTimeUs, 5000000);
}

TEST_F(OptionTest, ItsScaleBelongsToTheNextInputStream) {
  EXPECT_EQ(Refused("itsscale", "20:2"), "stream index over MAX_STREAMS(20)");
  EXPECT_EQ(Refused("itsscale", "-1:2"), "Invalid stream index -1 for itsscale");
  Set("itsscale", "19:2");
  EXPECT_DOUBLE_EQ(engine_.InputTsScale(0, 19), 2.0);
  Set("itsscale", "3");
  EXPECT_DOUBLE_EQ(engine_.InputTsScale(0, 3), 0.0);
}

TEST_F(OptionTest, MetadataPairs) {
  EXPECT_EQ(Refused("metadata", "title"), "Missing =");
  Set("metadata", "title=a=b");
  engine_.AddMetadata("artist", "x=y");
  ASSERT_EQ(engine_.Job().Metadata.size(), 2u);
  EXPECT_EQ(engine_.Job().Metadata[0], (std::pair<std::string, std::string>("title", "a=b")));
  EXPECT_EQ(engine_.Job().Metadata[1], (std::pair<std::string, std::string>("artist", "x=y")));
}

TEST_F(OptionTest, BitRatesWarnWhenGivenInKilobits) {
  const std::string warning =
      "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
  Set("b", "64");
  EXPECT_EQ(VideoInt("b"), 64);
  EXPECT_EQ(log_.Count(&engine_, llWarning, warning), 1);
  Set("b", "64000");
  EXPECT_EQ(VideoInt("b"), 64000);
  Set("vb", "800k");
  EXPECT_EQ(VideoInt("b"), 800000);
  EXPECT_EQ(log_.Count(&engine_, llWarning, warning), 1);
  Set("ab", "128");
  EXPECT_EQ(AudioInt("b"), 128);
  EXPECT_EQ(log_.Count(&engine_, llWarning, warning), 2);
  Set("ab", "128000");
  EXPECT_EQ(AudioInt("b"), 128000);
  EXPECT_EQ(log_.Count(&engine_, llWarning, warning), 2);
}

TEST_F(OptionTest, UnknownNamesChangeNothing) {
  const auto namesBefore = engine_.GenericOptions()->Names();
  EXPECT_NO_THROW(Set("no_such_option", "1"));
  EXPECT_NO_THROW(Set("-vcodec", "libx264")); // names come without the dash
  EXPECT_EQ(engine_.GenericOptions()->Names(), namesBefore);
  EXPECT_TRUE(engine_.Pending().VideoCodecName.empty());
  // A known generic name reaches its context.
  Set("g", "12");
  EXPECT_EQ(VideoInt("g"), 12);
}

// The command line's check: names the engine does not know and values it refuses raise a
// message naming the option, where ParseOption drops or only logs them.
TEST_F(OptionTest, CheckOptionNamesUnknownNamesAndRefusedValues) {
  const auto checked = [&](const std::string &name, const std::string &value) {
    return Raised([&] { engine_.CheckOption(name, value); });
  };
  EXPECT_EQ(checked("vcodc", "mpeg4"), "Unrecognized option 'vcodc'");
  EXPECT_EQ(checked("b", "abc"), "Invalid value \"abc\" for option \"b\"");
  EXPECT_EQ(checked("bufsize", "lots"), "Invalid value \"lots\" for option \"bufsize\"");
  EXPECT_EQ(checked("ar", "0"), "Invalid value \"0\" for option \"ar\": must be above 0");
  EXPECT_EQ(checked("t", "-3"), "Invalid duration for t: -3 (must not be negative)");
  EXPECT_EQ(checked("ss", "later"), "Invalid duration specification for ss: later");
  EXPECT_EQ(checked("g", " "), "Missing value for option 'g'");
  // Known names with good values pass: table options, generic, prefixed and private ones.
  for (const auto &[name, value] :
       std::vector<std::pair<std::string, std::string>>{{"vcodec", "nosuchcodec"}, // found only when applied
                                                        {"b", "800k"},
                                                        {"g", "12"},
                                                        {"ar", "48000"},
                                                        {"t", "1.5"},
                                                        {"vstrict", "1"},
                                                        {"preset", "fast"}})
    EXPECT_NO_THROW(engine_.CheckOption(name, value)) << name;
}

TEST_F(OptionTest, QuantiserMatrices) {
  std::string values;
  for (int i = 1; i <= 63; ++i)
    values += std::to_string(i) + (i < 63 ? "," : "");
  const std::string sixtyThree = values;
  EXPECT_EQ(Refused("intra_matrix", sixtyThree), "Syntax error in matrix \"" + sixtyThree + "\" at coeff 62");
  EXPECT_FALSE(engine_.Pending().IntraMatrix.has_value());

  const std::string sixtyFive = sixtyThree + ",64,99";
  Set("intra_matrix", sixtyFive);
  ASSERT_TRUE(engine_.Pending().IntraMatrix.has_value());
  EXPECT_EQ((*engine_.Pending().IntraMatrix)[0], 1);
  EXPECT_EQ((*engine_.Pending().IntraMatrix)[63], 64);
  EXPECT_FALSE(engine_.Pending().InterMatrix.has_value());

  // A refused matrix leaves the previous one untouched; a zero entry is refused
  // because encoders divide by the entries.
  const std::string withZero = "0," + sixtyFive;
  EXPECT_EQ(Refused("intra_matrix", withZero),
            "Invalid coefficient 0 in matrix \"" + withZero + "\" at coeff 0");
  EXPECT_EQ(Refused("intra_matrix", "1,2,x"), "Invalid coefficient 0 in matrix \"1,2,x\" at coeff 2");
  EXPECT_EQ((*engine_.Pending().IntraMatrix)[0], 1);
}

TEST_F(OptionTest, CodecTagsNeedFourCharacters) {
  EXPECT_EQ(Refused("vtag", "XVI"), "video tag parameter must be 4 chars");
  EXPECT_EQ(Refused("atag", "mp4a "), "audio tag parameter must be 4 chars");
  EXPECT_EQ(Refused("stag", "x"), "subtitle tag parameter must be 4 chars");
  Set("vtag", "XVID");
  EXPECT_EQ(engine_.Pending().VideoCodecTag, 0x44495658u);
  Set("vtag", "");
  EXPECT_EQ(engine_.Pending().VideoCodecTag, 0x44495658u);
  engine_.SetAudioTag("mp4a");
  EXPECT_EQ(engine_.Pending().AudioCodecTag, 0x6134706Du);
}

TEST_F(OptionTest, CodecNamesAndStreamCopy) {
  Set("vcodec", "libx264");
  EXPECT_EQ(engine_.Pending().VideoCodecName, "libx264");
  EXPECT_FALSE(engine_.Pending().VideoStreamCopy);
  Set("vcodec", "copy");
  EXPECT_TRUE(engine_.Pending().VideoStreamCopy);
  EXPECT_TRUE(engine_.Pending().VideoCodecName.empty());
  Set("acodec", "libfaac"); // stored as typed; mapped when the encoder is looked up
  EXPECT_EQ(engine_.Pending().AudioCodecName, "libfaac");
  Set("scodec", "copy");
  EXPECT_TRUE(engine_.Pending().SubtitleStreamCopy);
}

TEST_F(OptionTest, StreamIds) {
  const std::string syntax =
      "Invalid value \"%s\" for option \"streamid\", required syntax is \"index:value\"";
  const auto message = [&](const std::string &value) {
    std::string m = syntax;
    return m.replace(m.find("%s"), 2, value);
  };
  EXPECT_EQ(Refused("streamid", "1:"), message("1:"));
  EXPECT_EQ(Refused("streamid", ":5"), message(":5"));
  EXPECT_EQ(Refused("streamid", "15"), message("15"));
  EXPECT_EQ(Refused("streamid", "20:5"), "Invalid stream index 20 for option \"streamid\" (0 to 19)");
  EXPECT_EQ(Refused("streamid", "-1:5"), "Invalid stream index -1 for option \"streamid\" (0 to 19)");
  Set("streamid", "3:224");
  EXPECT_EQ(engine_.StreamIdMap()[3], 224);
  EXPECT_EQ(engine_.StreamIdMap()[0], 0);
}

TEST_F(OptionTest, PixelAndSampleFormats) {
  Set("pix_fmt", "yuv422p");
  EXPECT_EQ(engine_.Pending().FramePixelFormat, AV_PIX_FMT_YUV422P);
  EXPECT_EQ(Refused("pix_fmt", "yuv999"), "Unknown pixel format requested: yuv999");
  EXPECT_EQ(engine_.Pending().FramePixelFormat, AV_PIX_FMT_YUV422P);
  Set("sample_fmt", "s16");
  EXPECT_EQ(engine_.Pending().AudioSampleFormat, AV_SAMPLE_FMT_S16);
  Set("sample_fmt", "s17");
  EXPECT_EQ(engine_.Pending().AudioSampleFormat, -1);

  log_.Clear();
  Set("pix_fmt", "list");
  Set("sample_fmt", "list");
  EXPECT_EQ(engine_.Pending().FramePixelFormat, AV_PIX_FMT_YUV422P);
  bool sawYuv420p = false, sawFltp = false;
  for (const auto &line : log_.Lines()) {
    if (line.Sender != &engine_) continue;
    EXPECT_EQ(line.Level, llInfo);
    EXPECT_FALSE(line.Text.empty());
    EXPECT_NE(line.Text.back(), ' ');
    sawYuv420p |= line.Text.rfind("yuv420p ", 0) == 0;
    sawFltp |= line.Text.rfind("fltp ", 0) == 0;
  }
  EXPECT_TRUE(sawYuv420p);
  EXPECT_TRUE(sawFltp);
}

TEST_F(OptionTest, FormatNamesAndLogLevel) {
  Set("f", "pgmyuv");
  EXPECT_EQ(engine_.Pending().FormatName, "image2");
  EXPECT_TRUE(engine_.Job().PgmyuvCompatibility);
  EXPECT_TRUE(log_.Has(&engine_, llInfo, "pgmyuv format is deprecated, use image2"));
  Set("f", "");
  EXPECT_EQ(engine_.Pending().FormatName, "image2");

  Set("loglevel", "error");
  EXPECT_EQ(TFFLogger::Instance().LogLevel(), llError);
  EXPECT_FALSE(Refused("loglevel", "chatty").empty());
  EXPECT_EQ(TFFLogger::Instance().LogLevel(), llError);
}

TEST_F(OptionTest, OptionsThatNeedAnotherPart) {
  EXPECT_EQ(Refused("newvideo", ""), "At least one output file must be specified");
  EXPECT_EQ(Refused("newaudio", ""), "At least one output file must be specified");
  EXPECT_EQ(Refused("newsubtitle", ""), "At least one output file must be specified");
  for (const char *pad : {"padtop", "padbottom", "padleft", "padright", "padcolor"})
    EXPECT_EQ(Refused(pad, "8"), "Please use vfilters=pad") << pad;
  Set("vf", "scale=320:240");
  EXPECT_EQ(engine_.Pending().VideoFilters, "scale=320:240");
}

TEST_F(OptionTest, StreamMapsAndTheirTableLimit) {
  Set("map", "1:2");
  Set("map", "0.1:2.3");
  Set("map", "0x2"); // no separator: the stream number reads as 0
  const auto maps = engine_.StreamMaps();
  ASSERT_EQ(maps.size(), 3u);
  EXPECT_EQ(maps[0].FileIndex, 1);
  EXPECT_EQ(maps[0].StreamIndex, 2);
  EXPECT_EQ(maps[0].SyncFileIndex, 1);
  EXPECT_EQ(maps[0].SyncStreamIndex, 2);
  EXPECT_EQ(maps[1].StreamIndex, 1);
  EXPECT_EQ(maps[1].SyncFileIndex, 2);
  EXPECT_EQ(maps[1].SyncStreamIndex, 3);
  EXPECT_EQ(maps[2].FileIndex, 2);
  EXPECT_EQ(maps[2].StreamIndex, 0);

  for (int i = 3; i < MAX_STREAM_MAPS; ++i)
    Set("map", "0:0");
  EXPECT_EQ(engine_.StreamMaps().size(), size_t(MAX_STREAM_MAPS));
  EXPECT_EQ(Refused("map", "5:5"), "Too many stream maps (the table holds 400)");
  EXPECT_EQ(engine_.StreamMaps().size(), size_t(MAX_STREAM_MAPS));
  EXPECT_EQ(engine_.StreamMaps().back().FileIndex, 0);

  for (int i = 0; i < MAX_META_DATA_MAPS; ++i)
    Set("map_meta_data", "0:" + std::to_string(i));
  EXPECT_EQ(engine_.MetaDataMaps()[19].InFile, 19);
  EXPECT_EQ(Refused("map_meta_data", "0:1"), "Too many metadata maps (the table holds 20)");

  // ResetSettings empties the tables again.
  engine_.ResetSettings();
  EXPECT_TRUE(engine_.StreamMaps().empty());
  EXPECT_TRUE(engine_.MetaDataMaps().empty());
}

TEST_F(OptionTest, InputTableRefusesTheTwentyFirstFile) {
  for (int i = 0; i < MAX_FILES; ++i)
    EXPECT_EQ(engine_.RegisterInputFile(test::OpenFixture("audio_only.wav"), i), i);
  EXPECT_EQ(Raised([&] { engine_.RegisterInputFile(test::OpenFixture("audio_only.wav"), 0); }),
            "Too many input files (the table holds 20)");
  EXPECT_EQ(engine_.InputFileCount(), MAX_FILES);
  // No next input exists for a timestamp scale either.
  EXPECT_EQ(Refused("itsscale", "0:2"), "Too many input files (the table holds 20)");
  engine_.FreeAll();
  EXPECT_EQ(engine_.InputFileCount(), 0);
}

TEST_F(OptionTest, ThreadCountSetter) {
  engine_.SetThreadCount(3);
  EXPECT_EQ(engine_.Job().ThreadCount, 3);
  engine_.SetThreadCount(0);
  const int cores = int(std::thread::hardware_concurrency());
  EXPECT_EQ(engine_.Job().ThreadCount, cores > 0 ? cores : 1);
  EXPECT_EQ(Raised([&] { engine_.SetThreadCount(-1); }), "Invalid thread count -1");
}

TEST_F(OptionTest, ResetReturnsEveryDefault) {
  Set("s", "640x480");
  Set("vcodec", "libx264");
  Set("b", "900000");
  Set("vol", "512");
  Set("pass", "1");
  Set("map", "0:0");
  Set("vbsf", "null");
  engine_.Reset();
  EXPECT_EQ(engine_.Pending().FrameWidth, 0);
  EXPECT_TRUE(engine_.Pending().VideoCodecName.empty());
  EXPECT_EQ(engine_.Job().AudioVolume, 256);
  EXPECT_EQ(engine_.Job().Pass, 0);
  EXPECT_EQ(engine_.Job().RecordingTimeUs, INT64_MAX);
  EXPECT_EQ(engine_.Pending().MaxFrames[AVMEDIA_TYPE_SUBTITLE], INT32_MAX);
  EXPECT_DOUBLE_EQ(engine_.Pending().AudioQScale, -99999.0);
  EXPECT_EQ(engine_.ProgressTotalUs(), -1);
  EXPECT_TRUE(engine_.StreamMaps().empty());
  EXPECT_TRUE(engine_.PendingBitstreamFilters(AVMEDIA_TYPE_VIDEO).Empty());
  ASSERT_NE(engine_.GenericOptions(), nullptr);
  EXPECT_NE(VideoInt("b"), 900000); // fresh option contexts
}

TEST_F(OptionTest, CodecLookupMapsOldEncoderNames) {
  AVCodecID id = AV_CODEC_ID_NONE;
  const AVCodec *codec = nullptr;
  EXPECT_TRUE(engine_.FindCodec("", AVMEDIA_TYPE_AUDIO, true, 0, id, &codec));
  EXPECT_EQ(id, AV_CODEC_ID_NONE);
  ASSERT_TRUE(engine_.FindCodec("libfaac", AVMEDIA_TYPE_AUDIO, true, 0, id, &codec));
  EXPECT_EQ(id, AV_CODEC_ID_AAC);
  EXPECT_STREQ(codec->name, "aac");
  ASSERT_TRUE(engine_.FindCodec("libamr_nb", AVMEDIA_TYPE_AUDIO, true, 0, id));
  EXPECT_EQ(id, AV_CODEC_ID_AMR_NB);
  // Decoders are not mapped, and other missing encoders stay unknown.
  EXPECT_FALSE(engine_.FindCodec("libfaac", AVMEDIA_TYPE_AUDIO, false, 0, id));
  EXPECT_EQ(engine_.LastErrorText(), "Unknown decoder 'libfaac'");
  EXPECT_FALSE(engine_.FindCodec("libxvid_old", AVMEDIA_TYPE_VIDEO, true, 0, id));
  EXPECT_EQ(engine_.LastErrorText(), "Unknown encoder 'libxvid_old'");
  EXPECT_FALSE(engine_.FindCodec("mp3", AVMEDIA_TYPE_VIDEO, false, 0, id));
  EXPECT_EQ(engine_.LastErrorText(), "Invalid decoder type 'mp3'");
}

TEST_F(OptionTest, CodecLookupRefusesExperimentalEncoders) {
  const AVCodec *vorbis = ff::avcodec_find_encoder_by_name("vorbis");
  if (!vorbis || !(vorbis->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
    GTEST_SKIP() << "no experimental vorbis encoder in this build";
  AVCodecID id = AV_CODEC_ID_NONE;
  EXPECT_FALSE(engine_.FindCodec("vorbis", AVMEDIA_TYPE_AUDIO, true, FF_COMPLIANCE_NORMAL, id));
  std::string expected = "encoder 'vorbis' is experimental and might produce bad results.\r\n"
                         "Add '-strict experimental' if you want to use it.";
  const AVCodec *first = ff::avcodec_find_encoder(AV_CODEC_ID_VORBIS);
  if (first && !(first->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
    expected += std::string("\r\nOr use the non experimental encoder '") + first->name + "'.";
  EXPECT_EQ(engine_.LastErrorText(), expected);
  EXPECT_TRUE(engine_.FindCodec("vorbis", AVMEDIA_TYPE_AUDIO, true, FF_COMPLIANCE_EXPERIMENTAL, id));
}

// Without Reset (and without libraries) nothing calls through an unbound entry point.
TEST(OptionWithoutLibrariesTest, RefusesInsteadOfCallingUnboundLibraries) {
  TCustomFFmpeg engine;
  engine.Reset(); // does nothing: the libraries are not loaded
  EXPECT_EQ(engine.GenericOptions(), nullptr);
  EXPECT_FALSE(engine.SetGenericOption("g", "12"));
  try {
    engine.ParseOption("r", "25");
    FAIL() << "no exception";
  } catch (const FFmpegException &error) {
    EXPECT_STREQ(error.what(), "The media libraries are not loaded");
  }
  engine.ParseOption("vn", "1");
  EXPECT_TRUE(engine.Pending().VideoDisable);
}

} // namespace
