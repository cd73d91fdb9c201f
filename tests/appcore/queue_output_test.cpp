// What a user finds after a conversion through the queue: the audio level with an
// incomplete profile section, a watermark further down the list, the folder the output
// lands in when the chosen one cannot be made, and the output of a very long name.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "ConversionTestSupport.h"
#include "DecodedMedia.h"
#include "appcore/IniFile.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/ProfileChoices.h"
#include "appcore/Settings.h"
#include "appcore/WatermarkRenderer.h"

using namespace tovi;
using namespace tovi::test;

namespace {

class QueueOutput : public QueueConversionTest {
protected:
  // Runs one row and expects it to finish.
  TFileRow ConvertOne(TFileRow row) {
    std::vector<TFileRow> rows{std::move(row)};
    const ConversionRun run = RunConversion(converter_, queue_, rows, options_);
    EXPECT_EQ(run.notices.size(), 1u);
    for (const TTerminateInfo &notice : run.notices)
      EXPECT_TRUE(notice.Finished) << notice.ExceptionMsg;
    return rows[0];
  }
};

// Root mean square of every decoded audio sample, full scale = 1.
double AudioRms(const std::string &file) {
  TInputFile in;
  if (OpenInputFile(file, nullptr, nullptr, in) < 0 ||
      ff::avformat_find_stream_info(in.Context(), nullptr) < 0)
    return -1;
  const int a = ff::av_find_best_stream(in.Context(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (a < 0) return -1;
  const AVCodec *codec = ff::avcodec_find_decoder(in->streams[a]->codecpar->codec_id);
  if (!codec) return -1;
  CodecContextPtr dec(ff::avcodec_alloc_context3(codec));
  ff::avcodec_parameters_to_context(dec.get(), in->streams[a]->codecpar);
  {
    std::lock_guard lock(CodecLock());
    if (ff::avcodec_open2(dec.get(), codec, nullptr) < 0) return -1;
  }
  double sum = 0;
  long long count = 0;
  bool unknownFormat = false;
  const auto sink = [&](AVFrame *f) {
    const int channels = f->ch_layout.nb_channels;
    const auto format = static_cast<AVSampleFormat>(f->format);
    const bool planar = ff::av_sample_fmt_is_planar(format) != 0;
    const AVSampleFormat packed = ff::av_get_packed_sample_fmt(format);
    for (int c = 0; c < channels; ++c)
      for (int i = 0; i < f->nb_samples; ++i) {
        const int plane = planar ? c : 0;
        const int index = planar ? i : i * channels + c;
        double v = 0;
        if (packed == AV_SAMPLE_FMT_FLT)
          v = reinterpret_cast<const float *>(f->extended_data[plane])[index];
        else if (packed == AV_SAMPLE_FMT_S16)
          v = reinterpret_cast<const std::int16_t *>(f->extended_data[plane])[index] / 32768.0;
        else
          unknownFormat = true;
        sum += v * v;
        ++count;
      }
    return 0;
  };
  FramePtr frame = MakeFrame();
  PacketPtr packet = MakePacket();
  while (ff::av_read_frame(in.Context(), packet.get()) >= 0) {
    if (packet->stream_index == a) DecodeAndReceive(dec.get(), packet.get(), frame.get(), sink);
    ff::av_packet_unref(packet.get());
  }
  DecodeAndReceive(dec.get(), nullptr, frame.get(), sink);
  return unknownFormat || count == 0 ? -1 : std::sqrt(sum / static_cast<double>(count));
}

// Sets HOME for one test and puts the previous value back.
class HomeFolder {
public:
  explicit HomeFolder(const std::string &dir) {
    if (const char *home = std::getenv("HOME")) saved_ = home;
    ::setenv("HOME", dir.c_str(), 1);
  }
  ~HomeFolder() {
    if (saved_)
      ::setenv("HOME", saved_->c_str(), 1);
    else
      ::unsetenv("HOME");
  }
  HomeFolder(const HomeFolder &) = delete;
  HomeFolder &operator=(const HomeFolder &) = delete;

private:
  std::optional<std::string> saved_;
};

} // namespace

// A settings section without "paraVolume" (an older settings file, or one edited by
// hand) keeps the source's loudness.
TEST_F(QueueOutput, AMissingVolumeSettingKeepsTheSourceLevel) {
  TIniFile settings(global_.SettingsFile());
  EnsureUserProfileSection(settings, TIniFile(global_.ProfileFile()), kMkv);
  ASSERT_TRUE(settings.ValueExists(ProfileSection(kMkv), "paraVolume"));
  std::stringstream text;
  text << std::ifstream(global_.SettingsFile()).rdbuf();
  std::string kept, line;
  while (std::getline(text, line))
    if (line.rfind("paraVolume=", 0) != 0) kept += line + "\n";
  std::ofstream(global_.SettingsFile(), std::ios::trunc) << kept;
  ASSERT_FALSE(settings.ValueExists(ProfileSection(kMkv), "paraVolume"));

  const std::string source = FixturePath("h264_aac.mp4");
  const TFileRow row = ConvertOne(RowFor(source));
  const double before = AudioRms(source), after = AudioRms(row.Record.DestinationFile);
  ASSERT_GT(before, 0.01) << "the source carries a tone";
  EXPECT_NEAR(after / before, 1.0, 0.15) << "source RMS " << before << ", output RMS " << after;
}

// The first watermark of the row is an empty item; the second, a white box with text,
// must still be stamped over the pattern's black bar in the lower right.
TEST_F(QueueOutput, AWatermarkAfterAnEmptyFirstOneIsStamped) {
  TFileRow row = RowFor(FixturePath("h264_aac.mp4")); // 176x144
  row.Record.Watermarks.emplace_back();
  TWmRec text;
  text.Text = "Tovi";
  text.Font.Color = MakeColor(255, 255, 255);
  text.BackgroundColor = MakeColor(255, 255, 255);
  text.TextLeft = 150;
  text.TextTop = 110;
  text.End = 1000;
  MeasureText(text.Text, text.Font, text.TextWidth, text.TextHeight);
  ASSERT_GT(text.TextWidth, 16);
  ASSERT_GT(text.TextHeight, 16);
  row.Record.Watermarks.push_back(text);

  const TFileRow done = ConvertOne(row);
  int pictures = 0;
  DecodeFile(done.Record.DestinationFile, [&](AVFrame *f) {
    ++pictures;
    EXPECT_GT(MeanLuma(f, 152, 112, 12, 12), 200) << "white box at " << f->best_effort_timestamp;
  });
  EXPECT_GT(pictures, 40);
}

// An output folder that cannot be created: the default folder is used, and the output
// is really written there.
TEST_F(QueueOutput, AnUncreatableOutputFolderFallsBackForTheNameToo) {
  const std::string home = (config_.Path() / "home").string();
  const HomeFolder useHome(home);
  std::ofstream(config_.File("blocker")) << "x";
  TAppSettings(global_.SettingsFile()).SetOutPutDir(config_.File("blocker") + "/out");
  options_.OutDir.reset(); // the settings' folder

  const TFileRow row = ConvertOne(RowFor(FixturePath("h264_aac.mp4")));
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_NE(warnings_[0].find("Cannot create output directory"), std::string::npos) << warnings_[0];
  EXPECT_EQ(row.Record.DestinationFile, home + "/videoconverter/h264_aac_(new).mkv");
  EXPECT_EQ(DecodeFile(row.Record.DestinationFile).width, 176);
  EXPECT_EQ(TAppSettings(global_.SettingsFile()).OutPutDir(), home + "/videoconverter");
}

// A source whose base name has 246 bytes: "_(new).mkv" would make 256, one more than a
// folder entry may have.
TEST_F(QueueOutput, AVeryLongSourceNameConverts) {
  const std::string e = "\xC3\xA9"; // é
  const std::string base = std::string(240, 'v') + e + e + e;
  const std::filesystem::path source = config_.Path() / (base + ".mp4");
  std::filesystem::copy_file(FixturePath("h264_aac.mp4"), source);

  const TFileRow row = ConvertOne(RowFor(source.string()));
  const std::filesystem::path output(row.Record.DestinationFile);
  EXPECT_EQ(output.parent_path(), std::filesystem::path(*options_.OutDir));
  EXPECT_LE(output.filename().string().size(), 255u);
  EXPECT_EQ(output.filename().string(), std::string(240, 'v') + e + e + "_(new).mkv");
  const DecodedMedia m = DecodeFile(output.string());
  EXPECT_EQ(m.width, 176);
  EXPECT_GT(m.audioSamples, 0);
  EXPECT_TRUE(std::filesystem::exists(source)) << "the source stays";
}
