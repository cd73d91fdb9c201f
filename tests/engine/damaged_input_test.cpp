// Jobs on inputs damaged in ways a cut or a bit flip leaves them: one packet whose time
// jumps far ahead, and a stream whose decoder set-up data is garbage.
#include <functional>

#include "TranscodeTestSupport.h"

using namespace tovi;
using namespace tovi::test;

namespace {

using PacketEdit = std::function<void(const AVStream &, AVPacket &, int index)>;
using StreamEdit = std::function<void(AVCodecParameters &)>;

// Copies every stream of the fixture `name` into `output` (format by its extension),
// letting `editStream` change a stream's parameters and `editPacket` each packet
// (`index` counts the packets of its stream).
void Remux(const std::string &name, const std::string &output, const StreamEdit &editStream,
           const PacketEdit &editPacket) {
  InputFormatContextPtr in;
  {
    AVFormatContext *raw = nullptr;
    ASSERT_GE(ff::avformat_open_input(&raw, FixturePath(name).c_str(), nullptr, nullptr), 0);
    in.reset(raw);
  }
  ASSERT_GE(ff::avformat_find_stream_info(in.get(), nullptr), 0);
  AVFormatContext *raw = nullptr;
  ASSERT_GE(ff::avformat_alloc_output_context2(&raw, nullptr, nullptr, output.c_str()), 0);
  FormatContextPtr out(raw);
  // Closes the written file before the context goes (declared after it).
  struct FileCloser {
    AVFormatContext *context;
    ~FileCloser() { ff::avio_closep(&context->pb); }
  } closer{out.get()};
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    AVStream *st = ff::avformat_new_stream(out.get(), nullptr);
    ASSERT_NE(st, nullptr);
    ASSERT_GE(ff::avcodec_parameters_copy(st->codecpar, in->streams[i]->codecpar), 0);
    st->codecpar->codec_tag = 0;
    st->time_base = in->streams[i]->time_base;
    if (editStream) editStream(*st->codecpar);
  }
  ASSERT_GE(ff::avio_open2(&out->pb, output.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), 0);
  ASSERT_GE(ff::avformat_write_header(out.get(), nullptr), 0);
  std::vector<int> counts(in->nb_streams, 0);
  PacketPtr packet = MakePacket();
  while (ff::av_read_frame(in.get(), packet.get()) >= 0) {
    const AVStream *source = in->streams[packet->stream_index];
    if (editPacket) editPacket(*source, *packet, counts[size_t(packet->stream_index)]++);
    ff::av_packet_rescale_ts(packet.get(), source->time_base, out->streams[packet->stream_index]->time_base);
    ASSERT_GE(ff::av_interleaved_write_frame(out.get(), packet.get()), 0);
  }
  ASSERT_GE(ff::av_write_trailer(out.get()), 0);
}

class DamagedInputTest : public TranscodeTest {};

// Matroska keeps only the presentation time of a block, so one audio block stamped eight
// seconds late reads back as a decoding time that jumps ahead and comes back: the job
// goes on (that packet's neighbours are moved after it, with a warning) instead of
// ending at the muxer's refusal, and every picture and sample reaches the output.
TEST_F(DamagedInputTest, ATimestampJumpingAwayAndBackDoesNotEndTheJob) {
  const std::string damaged = Out("jump.mkv");
  Remux("h264_aac.mp4", damaged, nullptr, [](const AVStream &st, AVPacket &p, int index) {
    if (st.codecpar->codec_type == AVMEDIA_TYPE_AUDIO && index == 30)
      p.pts += ff::av_rescale_q(8 * AV_TIME_BASE, AV_TIME_BASE_Q, st.time_base);
  });
  if (HasFatalFailure()) return;
  const std::string out = Out("out.mkv");
  engine_.AddInputFile(damaged);
  ASSERT_GE(engine_.AddOutputFile(out, false), 0) << engine_.LastErrorText();
  engine_.ParseOption("vcodec", "mpeg4");
  engine_.ParseOption("acodec", "aac");
  ASSERT_TRUE(RunJob());
  const FileSummary file = ReadOutput(out);
  ASSERT_TRUE(file.Opened);
  const StreamSummary *v = file.First(AVMEDIA_TYPE_VIDEO);
  const StreamSummary *a = file.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_TRUE(v && a);
  EXPECT_EQ(v->Frames, 50);
  EXPECT_TRUE(Consecutive(v->PatternFrames, 0));
  EXPECT_NEAR(double(a->Samples), 88200.0, 3 * 1024.0); // encoder delay and padding
  int warnings = 0;
  for (const LoggedLine &line : log_.Lines())
    warnings += line.Level == llWarning && line.Text.find("going backwards") != std::string::npos;
  EXPECT_EQ(warnings, 1) << "one warning per stream, not one per packet";

  // Told to stop at any damage, the job stops there instead.
  engine_.FreeAll();
  engine_.Reset();
  terminations_ = 0;
  engine_.AddInputFile(damaged);
  engine_.ParseOption("xerror", "1");
  ASSERT_GE(engine_.AddOutputFile(Out("stopped.mkv"), false), 0) << engine_.LastErrorText();
  engine_.ParseOption("acodec", "aac");
  engine_.SetOnTerminate([this](TCustomFFmpeg &) { ++terminations_; });
  engine_.Start(false);
  EXPECT_TRUE(engine_.ErrorOccurred());
  EXPECT_NE(engine_.ErrorMessage().find("going backwards"), std::string::npos) << engine_.ErrorMessage();
}

// An AAC stream whose set-up bytes name no audio object type the decoder knows: the job
// fails at the start, and the message says which file and why.
TEST_F(DamagedInputTest, ADecoderThatCannotOpenNamesTheFile) {
  const std::string damaged = Out("bad_config.mp4");
  Remux(
      "h264_aac.mp4", damaged,
      [](AVCodecParameters &par) {
        if (par.codec_type != AVMEDIA_TYPE_AUDIO || par.extradata_size < 2) return;
        par.extradata[0] = 0xFF;
        par.extradata[1] = 0xFF;
      },
      nullptr);
  if (HasFatalFailure()) return;
  const std::string out = Out("out.mkv");
  ASSERT_TRUE(engine_.AddInputFile(damaged)) << engine_.LastErrorText();
  ASSERT_GE(engine_.AddOutputFile(out, false), 0) << engine_.LastErrorText();
  engine_.SetOnTerminate([this](TCustomFFmpeg &) { ++terminations_; });
  engine_.Start(false);
  EXPECT_FALSE(engine_.CompletedNormally());
  EXPECT_TRUE(engine_.ErrorOccurred());
  EXPECT_NE(engine_.ErrorMessage().find("opening decoder for input stream #0.1 (Audio) of " + damaged),
            std::string::npos)
      << engine_.ErrorMessage();
  EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace
