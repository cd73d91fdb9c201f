// Every built-in preset loads through the engine and opens a real libx264 encoder with
// the options it collected; for the presets whose purpose can be seen in the stream,
// the encoder's own settings report (the SEI it writes) and the sequence parameter set
// show that the options arrived with their intent.
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "EngineTestSupport.h"
#include "engine/BuiltinPresets.h"
#include "media/FFmpegLoader.h"

using namespace tovi;
using tovi::test::EngineTest;

namespace {

struct TEncodedStream {
  std::vector<std::uint8_t> Bytes;             // extradata followed by every packet
  int Profile = -1;                            // profile_idc of the first sequence parameter set
  int Level = -1;                              // level_idc
  std::map<std::string, std::string> Settings; // the encoder's "options:" report
};

// Parses the sequence parameter set (Annex B, NAL type 7) and x264's settings report.
void Inspect(TEncodedStream &out) {
  const auto &b = out.Bytes;
  for (size_t i = 0; i + 6 < b.size(); ++i) {
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && (b[i + 3] & 0x1F) == 7) {
      out.Profile = b[i + 4];
      out.Level = b[i + 6];
      break;
    }
  }
  const std::string text(b.begin(), b.end());
  const size_t at = text.find("options: ");
  if (at == std::string::npos) return;
  const size_t end = text.find('\0', at);
  std::istringstream report(text.substr(at + 9, end - at - 9));
  for (std::string token; report >> token;) {
    const size_t eq = token.find('=');
    if (eq != std::string::npos) out.Settings[token.substr(0, eq)] = token.substr(eq + 1);
  }
}

// Opens libx264 for 64x64 yuv420p at 25 fps with the video encoding options the engine
// collected, encodes a few frames and returns what came out.
::testing::AssertionResult EncodeWithEngineOptions(const TCustomFFmpeg &engine, TEncodedStream &out) {
  const AVCodec *codec = ff::avcodec_find_encoder_by_name("libx264");
  if (!codec) return ::testing::AssertionFailure() << "this FFmpeg has no libx264 encoder";
  AVCodecContext *context = ff::avcodec_alloc_context3(codec);
  const TOptionContexts &options = *engine.GenericOptions();
  CopyGenericOptions(options, context, options.CodecOptions(AVMEDIA_TYPE_VIDEO),
                     AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
  AVDictionary *privateOptions = nullptr;
  ApplyPrivateOptions(options, codec, &privateOptions);
  context->width = 64;
  context->height = 64;
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->time_base = AVRational{1, 25};
  context->framerate = AVRational{25, 1};
  context->thread_count = 1;
  context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int ret;
  {
    std::lock_guard lock(CodecLock());
    ret = ff::avcodec_open2(context, codec, &privateOptions);
  }
  // Every private option must have been taken by the encoder.
  const int leftOver = ff::av_dict_count(privateOptions);
  AVDictionaryEntry *unused = ff::av_dict_get(privateOptions, "", nullptr, AV_DICT_IGNORE_SUFFIX);
  const std::string unusedName = unused ? unused->key : "";
  ff::av_dict_free(&privateOptions);
  if (ret < 0) {
    char error[AV_ERROR_MAX_STRING_SIZE] = {};
    ff::av_strerror(ret, error, sizeof error);
    ff::avcodec_free_context(&context);
    return ::testing::AssertionFailure() << "avcodec_open2: " << error;
  }
  if (leftOver != 0) {
    std::lock_guard lock(CodecLock());
    ff::avcodec_free_context(&context);
    return ::testing::AssertionFailure() << "option not taken by libx264: " << unusedName;
  }
  out.Bytes.assign(context->extradata, context->extradata + context->extradata_size);
  AVFrame *frame = ff::av_frame_alloc();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = 64;
  frame->height = 64;
  ff::av_frame_get_buffer(frame, 0);
  AVPacket *packet = ff::av_packet_alloc();
  const auto drain = [&] {
    while (ff::avcodec_receive_packet(context, packet) >= 0) {
      out.Bytes.insert(out.Bytes.end(), packet->data, packet->data + packet->size);
      ff::av_packet_unref(packet);
    }
  };
  for (int n = 0; n < 8; ++n) {
    ff::av_frame_make_writable(frame);
    for (int plane = 0; plane < 3; ++plane)
      for (int y = 0; y < (plane ? 32 : 64); ++y)
        for (int x = 0; x < (plane ? 32 : 64); ++x)
          frame->data[plane][y * frame->linesize[plane] + x] =
              std::uint8_t(plane ? 128 : (x * 3 + y + n * 5));
    frame->pts = n;
    ret = ff::avcodec_send_frame(context, frame);
    if (ret < 0) break;
    drain();
  }
  if (ret >= 0) ff::avcodec_send_frame(context, nullptr);
  drain();
  ff::av_packet_free(&packet);
  ff::av_frame_free(&frame);
  {
    std::lock_guard lock(CodecLock());
    ff::avcodec_free_context(&context);
  }
  if (ret < 0) return ::testing::AssertionFailure() << "avcodec_send_frame failed";
  Inspect(out);
  return ::testing::AssertionSuccess();
}

// Settings each preset must show in the encoder's report, and the profile/level of its
// sequence parameter set (-1: not checked).
struct TIntent {
  std::map<std::string, std::string> Settings;
  int Profile = -1;
  int Level = -1;
};

constexpr int kBaseline = 66, kMain = 77, kHigh = 100, kHigh444 = 244;

const std::map<std::string, TIntent> &Intents() {
  static const std::map<std::string, TIntent> intents = {
      {"libx264-baseline",
       {{{"cabac", "0"}, {"bframes", "0"}, {"8x8dct", "0"}, {"weightp", "0"}}, kBaseline}},
      {"libx264-main", {{{"8x8dct", "0"}}, kMain}},
      {"libx264-ipod320", {{{"cabac", "0"}, {"vbv_maxrate", "768"}, {"vbv_bufsize", "3000"}}, kBaseline, 13}},
      {"libx264-ipod640", {{{"ref", "1"}, {"bframes", "0"}, {"vbv_maxrate", "10000"}}, kBaseline, 30}},
      {"libx264-ipod",
       {{{"me", "umh"}, {"subme", "7"}, {"trellis", "2"}, {"bframes", "0"}, {"bitrate", "1000"}},
        kBaseline,
        30}},
      {"libx264-psp",
       {{{"me", "umh"}, {"ref", "1"}, {"bframes", "3"}, {"bitrate", "1250"}, {"vbv_maxrate", "1500"}},
        kMain,
        30}},
      {"libx264-mp4", {{{"bitrate", "1250"}, {"vbv_maxrate", "1500"}}, kMain, 30}},
      {"libx264-ps3", {{{"rc", "crf"}, {"vbv_maxrate", "3500"}, {"vbv_bufsize", "4000"}}, kMain, 30}},
      {"libx264-default",
       {{{"cabac", "1"},   {"me", "hex"},       {"subme", "7"},    {"ref", "3"},         {"bframes", "3"},
         {"b_adapt", "1"}, {"direct", "1"},     {"trellis", "1"},  {"mixed_ref", "1"},   {"weightb", "1"},
         {"weightp", "2"}, {"fast_pskip", "1"}, {"keyint", "250"}, {"keyint_min", "25"}, {"scenecut", "40"},
         {"qpmin", "10"},  {"qpmax", "51"},     {"qpstep", "4"},   {"qcomp", "0.60"},    {"chroma_me", "1"}},
        kHigh}},
      {"libx264-ultrafast",
       {{{"cabac", "0"},
         {"me", "dia"},
         {"subme", "0"},
         {"ref", "1"},
         {"bframes", "0"},
         {"deblock", "0:0:0"},
         {"mbtree", "0"},
         {"aq", "0"},
         {"scenecut", "0"}}}},
      {"libx264-veryslow",
       {{{"me", "umh"}, {"subme", "10"}, {"ref", "16"}, {"bframes", "8"}, {"me_range", "24"}}}},
      {"libx264-placebo",
       {{{"me", "tesa"},
         {"subme", "11"},
         {"bframes", "16"},
         {"b_adapt", "2"},
         {"direct", "3"},
         {"fast_pskip", "0"}}}},
      {"libx264-fast_firstpass",
       {{{"ref", "1"}, {"subme", "2"}, {"me", "dia"}, {"8x8dct", "0"}, {"trellis", "0"}}}},
      {"libx264-lossless_ultrafast",
       {{{"rc", "cqp"}, {"qp", "0"}, {"cabac", "0"}, {"subme", "0"}}, kHigh444}},
      {"libx264-lossless_max", {{{"rc", "cqp"}, {"qp", "0"}, {"me", "esa"}, {"ref", "16"}}, kHigh444}},
  };
  return intents;
}

std::vector<std::string> PresetNames() {
  std::vector<std::string> names;
  for (const TBuiltinPreset &preset : BuiltinPresets())
    names.emplace_back(preset.Name);
  return names;
}

class BuiltinPresetTest : public EngineTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(BuiltinPresetTest, LoadsAndOpensLibx264) {
  const std::string &name = GetParam();
  engine_.ParseOption("vcodec", "libx264");
  ASSERT_NO_THROW(engine_.ParseOption("vpre", name));
  TEncodedStream stream;
  ASSERT_TRUE(EncodeWithEngineOptions(engine_, stream));
  ASSERT_FALSE(stream.Bytes.empty());
  ASSERT_FALSE(stream.Settings.empty()) << "no settings report in the stream";
  const auto intent = Intents().find(name);
  if (intent == Intents().end()) return;
  for (const auto &[key, value] : intent->second.Settings)
    EXPECT_EQ(stream.Settings[key], value) << key;
  if (intent->second.Profile >= 0) {
    EXPECT_EQ(stream.Profile, intent->second.Profile);
  }
  if (intent->second.Level >= 0) {
    EXPECT_EQ(stream.Level, intent->second.Level);
  }
}

std::string TestName(const ::testing::TestParamInfo<std::string> &info) {
  std::string name = info.param;
  for (char &c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(All, BuiltinPresetTest, ::testing::ValuesIn(PresetNames()), TestName);

TEST(BuiltinPresetTableTest, FortyDistinctNamesFoundIgnoringCase) {
  const auto presets = BuiltinPresets();
  ASSERT_EQ(presets.size(), 40u);
  std::set<std::string> names;
  for (const TBuiltinPreset &preset : presets) {
    names.insert(std::string(preset.Name));
    EXPECT_EQ(preset.Name.substr(0, 8), "libx264-");
    EXPECT_EQ(preset.Text.back(), '\n') << preset.Name;
  }
  EXPECT_EQ(names.size(), 40u);
  ASSERT_NE(FindBuiltinPreset("LIBX264-HQ"), nullptr);
  EXPECT_EQ(FindBuiltinPreset("LIBX264-HQ")->Name, "libx264-hq");
  EXPECT_EQ(FindBuiltinPreset("libx264-hq2"), nullptr);
  // Entries the rest of the system names.
  for (const char *name : {"libx264-ipod320", "libx264-ipod640", "libx264-psp", "libx264-ps3", "libx264-ipod",
                           "libx264-mp4", "libx264-baseline", "libx264-main", "libx264-default"})
    EXPECT_NE(FindBuiltinPreset(name), nullptr) << name;
  // "mp4" is identical to "psp"; "ps3" differs from it only in the rate limits.
  EXPECT_EQ(FindBuiltinPreset("libx264-mp4")->Text, FindBuiltinPreset("libx264-psp")->Text);
}

} // namespace
