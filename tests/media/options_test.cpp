// The generic option contexts: routing of named options, rejected values and their log
// line, the private codec options of today's encoders, and copying into real contexts.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/OptionContexts.h"
#include "support/TestMedia.h"

using namespace tovi;

namespace {

using Names = std::vector<std::string>;

class GenericOptions : public ::testing::Test {
protected:
  void SetUp() override {
    tovi::test::LoadConverterLibraries();
    ASSERT_TRUE(CreateOptionContexts(set_, SWS_FAST_BILINEAR));
    defaultBitRate_ = Codec(AVMEDIA_TYPE_VIDEO)->bit_rate;
    TFFLogger::Instance().SetOnLog([this](const void *, std::uint32_t, TLogLevel, const std::string &msg) {
      std::lock_guard lock(logMutex_);
      log_.push_back(msg);
    });
  }
  void TearDown() override { TFFLogger::Instance().SetOnLog(nullptr); }

  bool Logged(const std::string &line) {
    std::lock_guard lock(logMutex_);
    return std::find(log_.begin(), log_.end(), line) != log_.end();
  }
  std::int64_t Int(void *obj, const char *name) {
    std::int64_t value = -12345;
    EXPECT_GE(ff::av_opt_get_int(obj, name, 0, &value), 0) << name;
    return value;
  }
  AVCodecContext *Codec(AVMediaType type) { return set_.CodecOptions(type); }

  TOptionContexts set_;
  std::int64_t defaultBitRate_ = 0; // what every fresh codec option context holds
  std::mutex logMutex_;             // protects log_; the handler may run on a library thread
  std::vector<std::string> log_;
};

} // namespace

TEST_F(GenericOptions, EmptyOrUnknownIsRefusedSilentlyAndFreeForgetsEverything) {
  for (int type = 0; type < OPTION_MEDIA_TYPE_COUNT; ++type)
    EXPECT_EQ(set_.CodecOptions(type)->codec_type, type);
  EXPECT_FALSE(SetGenericOption(set_, "b", "   "));
  EXPECT_FALSE(SetGenericOption(set_, " \t", "1"));
  EXPECT_FALSE(SetGenericOption(set_, "nosuchoption", "1"));
  EXPECT_FALSE(SetGenericOption(set_, "snosuchoption", "1")); // stripped or not, unknown
  EXPECT_FALSE(SetGenericOption(set_, "genpts", "1"));        // a named constant is no option
  EXPECT_EQ(Codec(AVMEDIA_TYPE_VIDEO)->bit_rate, defaultBitRate_);
  EXPECT_TRUE(set_.Names().empty() && set_.PrivateOptions().empty());
  EXPECT_TRUE(log_.empty());

  ASSERT_TRUE(SetGenericOption(set_, "b", "500000"));
  ASSERT_TRUE(SetGenericOption(set_, "coder", "cabac"));
  FreeOptionContexts(set_);
  EXPECT_EQ(set_.CodecOptions(AVMEDIA_TYPE_VIDEO), nullptr);
  EXPECT_TRUE(set_.Names().empty() && set_.PrivateOptions().empty());
  EXPECT_FALSE(SetGenericOption(set_, "b", "500000"));
}

TEST_F(GenericOptions, RejectedValueIsLoggedAndChangesNothing) {
  EXPECT_FALSE(SetGenericOption(set_, "b", "abc"));
  EXPECT_TRUE(Logged("Invalid value \"abc\" for option \"b\""));
  EXPECT_EQ(Codec(AVMEDIA_TYPE_VIDEO)->bit_rate, defaultBitRate_);
  EXPECT_FALSE(SetGenericOption(set_, "g", "x"));
  EXPECT_TRUE(Logged("Invalid value \"x\" for option \"g\""));
  EXPECT_FALSE(SetGenericOption(set_, "fflags", "+nosuchflag"));
  EXPECT_TRUE(Logged("Invalid value \"+nosuchflag\" for option \"fflags\""));
  // After stripping the prefix letter the message still names the option as given.
  EXPECT_FALSE(SetGenericOption(set_, "vqmin", "lots"));
  EXPECT_TRUE(Logged("Invalid value \"lots\" for option \"vqmin\""));
  EXPECT_TRUE(set_.Names().empty());
}

TEST_F(GenericOptions, EachOptionReachesTheContextsItBelongsTo) {
  // "b" is a video and audio option; data and attachment take any option.
  ASSERT_TRUE(SetGenericOption(set_, " b ", " 500000 "));
  EXPECT_EQ(Codec(AVMEDIA_TYPE_VIDEO)->bit_rate, 500000);
  EXPECT_EQ(Codec(AVMEDIA_TYPE_AUDIO)->bit_rate, 500000);
  EXPECT_EQ(Codec(AVMEDIA_TYPE_DATA)->bit_rate, 500000);
  EXPECT_EQ(Codec(AVMEDIA_TYPE_SUBTITLE)->bit_rate, defaultBitRate_);
  EXPECT_EQ(Codec(AVMEDIA_TYPE_ATTACHMENT)->bit_rate, 500000);
  ASSERT_TRUE(SetGenericOption(set_, "g", "77")); // video only
  EXPECT_EQ(Codec(AVMEDIA_TYPE_VIDEO)->gop_size, 77);
  EXPECT_EQ(Codec(AVMEDIA_TYPE_AUDIO)->gop_size, 12);
  ASSERT_TRUE(SetGenericOption(set_, "ab", "96000")); // an audio option of its own today
  EXPECT_EQ(Codec(AVMEDIA_TYPE_AUDIO)->bit_rate, 96000);
  EXPECT_EQ(Codec(AVMEDIA_TYPE_VIDEO)->bit_rate, 500000);
  // Prefix letters select one context.
  ASSERT_TRUE(SetGenericOption(set_, "vqmin", "3"));
  EXPECT_EQ(Codec(AVMEDIA_TYPE_VIDEO)->qmin, 3);
  EXPECT_EQ(Codec(AVMEDIA_TYPE_AUDIO)->qmin, 2);
  ASSERT_TRUE(SetGenericOption(set_, "aar", "22050"));
  EXPECT_EQ(Codec(AVMEDIA_TYPE_AUDIO)->sample_rate, 22050);
  EXPECT_EQ(Codec(AVMEDIA_TYPE_VIDEO)->sample_rate, 0);
  ASSERT_TRUE(SetGenericOption(set_, "ssub_charenc", "CP1252"));
  EXPECT_STREQ(Codec(AVMEDIA_TYPE_SUBTITLE)->sub_charenc, "CP1252");
  // Format and scaler option contexts.
  ASSERT_TRUE(SetGenericOption(set_, "fflags", "+genpts"));
  EXPECT_TRUE(set_.FormatOptions()->flags & AVFMT_FLAG_GENPTS);
  ASSERT_TRUE(SetGenericOption(set_, "sws_flags", "bicubic"));
  EXPECT_EQ(Int(set_.ScalerOptions(), "sws_flags"), SWS_BICUBIC);
  // Library names, each once, in first-set order.
  ASSERT_TRUE(SetGenericOption(set_, "b", "600000"));
  EXPECT_EQ(set_.Names(), (Names{"b", "g", "ab", "qmin", "ar", "sub_charenc", "fflags", "sws_flags"}));
}

TEST_F(GenericOptions, DebugFlagsSwitchTheLogRouterToDebug) {
  TFFLogger::Instance().SetLogLevel(llInfo);
  ASSERT_TRUE(SetGenericOption(set_, "debug", "0"));
  EXPECT_EQ(TFFLogger::Instance().LogLevel(), llInfo);
  ASSERT_TRUE(SetGenericOption(set_, "debug", "pict"));
  EXPECT_EQ(TFFLogger::Instance().LogLevel(), llDebug);
  TFFLogger::Instance().SetLogLevel(llInfo);
  ASSERT_TRUE(SetGenericOption(set_, "debug", "0"));
  ASSERT_TRUE(SetGenericOption(set_, "fdebug", "ts"));
  EXPECT_EQ(TFFLogger::Instance().LogLevel(), llDebug);
}

TEST_F(GenericOptions, PrivateEncoderOptionsAreKeptUnderTheirOldSpelling) {
  for (const char *name : {"partitions", "weightp", "me_method", "coder", "directpred", "mixed_refs"})
    ASSERT_TRUE(SetGenericOption(set_, name, std::string(name) == "partitions" ? "i8x8" : "1")) << name;
  ASSERT_TRUE(SetGenericOption(set_, "weightp", "smart")); // replaced in place
  ASSERT_EQ(set_.PrivateOptions().size(), 6u);
  EXPECT_EQ(set_.PrivateOptions()[1].Name, "weightp");
  EXPECT_EQ(set_.PrivateOptions()[1].Value, "smart");
  EXPECT_TRUE(set_.Names().empty()); // nothing to copy from the generic contexts
  // A value that no codec knowing the option takes is rejected like a generic one.
  EXPECT_FALSE(SetGenericOption(set_, "weightp", "heavy"));
  EXPECT_TRUE(Logged("Invalid value \"heavy\" for option \"weightp\""));
  EXPECT_EQ(set_.PrivateOptions()[1].Value, "smart");
}

TEST_F(GenericOptions, PrivateOptionsReachOnlyTheEncodersThatTakeThem) {
  const AVCodec *x264 = ff::avcodec_find_encoder_by_name("libx264");
  if (!x264) GTEST_SKIP() << "this FFmpeg build has no libx264";
  ASSERT_TRUE(SetGenericOption(set_, "partitions", "i8x8,i4x4"));
  ASSERT_TRUE(SetGenericOption(set_, "weightp", "smart"));
  ASSERT_TRUE(SetGenericOption(set_, "me_method", "umh"));
  ASSERT_TRUE(SetGenericOption(set_, "coder", "cavlc"));
  ASSERT_TRUE(SetGenericOption(set_, "directpred", "temporal"));
  // The MPEG-4 encoder's option; libx264's "motion-est" does not take this value.
  ASSERT_TRUE(SetGenericOption(set_, "motion_est", "epzs"));

  DictionaryPtr mpeg4Options;
  EXPECT_EQ(ApplyPrivateOptions(set_, ff::avcodec_find_encoder(AV_CODEC_ID_MPEG4), mpeg4Options.Out()), 1);
  EXPECT_STREQ(ff::av_dict_get(mpeg4Options.get(), "motion_est", nullptr, 0)->value, "epzs");

  CodecContextPtr ctx(ff::avcodec_alloc_context3(x264));
  ctx->width = ctx->height = 64;
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->time_base = AVRational{1, 25};
  DictionaryPtr openOptions;
  ff::av_dict_set(openOptions.Out(), "preset", "ultrafast", 0);
  EXPECT_EQ(ApplyPrivateOptions(set_, ctx.get(), openOptions.Out()), 5);
  EXPECT_TRUE(Logged("Option \"motion_est\" = \"epzs\" ignored: not accepted by libx264"));
  {
    std::lock_guard lock(CodecLock());
    ASSERT_EQ(ff::avcodec_open2(ctx.get(), x264, openOptions.Out()), 0);
  }
  EXPECT_EQ(ff::av_dict_count(openOptions.get()), 0); // libx264 took every entry
  std::uint8_t *partitions = nullptr;
  ASSERT_GE(ff::av_opt_get(ctx->priv_data, "partitions", 0, &partitions), 0);
  EXPECT_STREQ(AVStringPtr(reinterpret_cast<char *>(partitions)).get(), "i8x8,i4x4");
  EXPECT_EQ(Int(ctx->priv_data, "weightp"), 2);     // X264_WEIGHTP_SMART
  EXPECT_EQ(Int(ctx->priv_data, "motion-est"), 2);  // X264_ME_UMH
  EXPECT_EQ(Int(ctx->priv_data, "coder"), 0);       // CAVLC
  EXPECT_EQ(Int(ctx->priv_data, "direct-pred"), 2); // X264_DIRECT_PRED_TEMPORAL
}

TEST_F(GenericOptions, CopyHonoursTheRequiredFlags) {
  ASSERT_TRUE(SetGenericOption(set_, "g", "77"));
  ASSERT_TRUE(SetGenericOption(set_, "b", "900000"));
  ASSERT_TRUE(SetGenericOption(set_, "flags", "+global_header+qscale"));
  ASSERT_TRUE(SetGenericOption(set_, "fflags", "+genpts"));
  const int flags = AV_CODEC_FLAG_GLOBAL_HEADER | AV_CODEC_FLAG_QSCALE;
  CodecContextPtr video(ff::avcodec_alloc_context3(nullptr)), audio(ff::avcodec_alloc_context3(nullptr)),
      decoder(ff::avcodec_alloc_context3(nullptr));

  CopyGenericOptions(set_, video.get(), Codec(AVMEDIA_TYPE_VIDEO),
                     AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
  EXPECT_EQ(video->gop_size, 77);
  EXPECT_EQ(video->bit_rate, 900000);
  EXPECT_EQ(video->flags & flags, flags);
  // "g" has no audio flag: the audio encoder keeps its default.
  CopyGenericOptions(set_, audio.get(), Codec(AVMEDIA_TYPE_AUDIO),
                     AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM);
  EXPECT_EQ(audio->gop_size, 12);
  EXPECT_EQ(audio->bit_rate, 900000);
  // "g" and "b" are encoding options; "flags" serves decoders too.
  CopyGenericOptions(set_, decoder.get(), Codec(AVMEDIA_TYPE_VIDEO),
                     AV_OPT_FLAG_DECODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
  EXPECT_EQ(decoder->gop_size, 12);
  EXPECT_EQ(decoder->bit_rate, defaultBitRate_);
  EXPECT_EQ(decoder->flags & flags, flags);

  FormatContextPtr output(ff::avformat_alloc_context());
  CopyGenericOptions(set_, output.get(), set_.FormatOptions(), 0);
  EXPECT_TRUE(output->flags & AVFMT_FLAG_GENPTS);
}
