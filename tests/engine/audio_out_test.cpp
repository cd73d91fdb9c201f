// Audio output of a re-encoded stream on the records of a real job set-up: framing into
// encoder frames, conversion, drift correction, volume and the end-of-input drain.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/EngineStepsAccess.h"
#include "engine/EngineTestSupport.h"

namespace tovi::test {
namespace {

using A = TEngineStepsAccess;

class AudioOutTest : public EngineTest {
protected:
  // Opens the mono 48 kHz WAV fixture and sets up one audio output with `codec`,
  // `rate` and `channels`; encoded packets are collected in packets_.
  void SetUpJob(const std::string &codec, int rate, int channels, const std::string &fileName) {
    ASSERT_TRUE(engine_.AddInputFile(FixturePath("audio_only.wav"))) << engine_.LastErrorText();
    engine_.SetAudioCodec(codec);
    engine_.SetAudioRate(rate);
    engine_.SetAudioChannels(channels);
    ASSERT_GE(engine_.AddOutputFile(dir_.file(fileName), false), 1) << engine_.LastErrorText();
    ASSERT_EQ(Raised([&] { engine_.TranscodeSetup(); }), "");
    A::CollectAudioPackets(engine_, [this](TOutputStreamRecord &, AVPacket *packet) {
      packets_.emplace_back(packet->data, packet->data + packet->size);
      durations_.push_back(packet->duration);
    });
    ost_ = &A::Tables(engine_).OutputStreams.at(0);
    ist_ = &A::Tables(engine_).InputStreams.at(static_cast<std::size_t>(ost_->SourceIndex));
    // The output's sync clock stands at the start; drift is set through SyncOutputPts.
    A::Tables(engine_).InputStreams.at(static_cast<std::size_t>(ost_->SyncIndex)).Pts = 0;
  }

  void Out(const AVFrame *block) { A::DoAudioOut(engine_, *ost_, *ist_, block); }
  int FifoSamples() const { return ff::av_audio_fifo_size(ost_->Fifo.get()); }
  // The collected PCM packets as 16-bit samples.
  std::vector<std::int16_t> Samples16() const {
    std::vector<std::int16_t> all;
    for (const auto &p : packets_) {
      const auto *s = reinterpret_cast<const std::int16_t *>(p.data());
      all.insert(all.end(), s, s + p.size() / 2);
    }
    return all;
  }

  TempDir dir_;
  TOutputStreamRecord *ost_ = nullptr;
  TInputStreamRecord *ist_ = nullptr;
  std::vector<std::vector<std::uint8_t>> packets_;
  std::vector<std::int64_t> durations_;
};

FramePtr S16Block(int channels, int rate, int samples, std::int16_t value) {
  return MakeAudioBlock<std::int16_t>(AV_SAMPLE_FMT_S16, channels, rate, samples, [=](int) { return value; });
}

TEST_F(AudioOutTest, BlocksAreCutIntoEncoderFramesAndTheRestIsDrainedAtTheEnd) {
  SetUpJob("mp2", 48000, 1, "frames.mp2");
  ASSERT_EQ(ost_->Encoder->frame_size, 1152);
  Out(S16Block(1, 48000, 2500, 1000).get());
  // Two whole frames went to the encoder (it has no delay); the rest waits.
  EXPECT_EQ(packets_.size(), 2u);
  EXPECT_EQ(FifoSamples(), 2500 - 2 * 1152);
  EXPECT_EQ(ost_->SyncOutputPts, 2 * 1152);

  A::FlushAudioOut(engine_, *ost_);
  // The remainder goes out as one frame padded with silence.
  EXPECT_EQ(packets_.size(), 3u);
  EXPECT_EQ(FifoSamples(), 0);
  EXPECT_EQ(A::AudioBytes(engine_),
            std::int64_t(packets_[0].size() + packets_[1].size() + packets_[2].size()));
}

TEST_F(AudioOutTest, ShortLastFrameForAnEncoderThatTakesOne) {
  SetUpJob("aac", 48000, 1, "frames.m4a");
  ASSERT_EQ(ost_->Encoder->frame_size, 1024);
  ASSERT_TRUE(ost_->Encoder->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
  Out(S16Block(1, 48000, 2500, 1000).get());
  EXPECT_EQ(FifoSamples(), 452);
  EXPECT_EQ(ost_->SyncOutputPts, 2048);
  A::FlushAudioOut(engine_, *ost_);
  EXPECT_EQ(FifoSamples(), 0);
  EXPECT_EQ(ost_->SyncOutputPts, 2500); // the last frame held 452 samples, no padding
  std::int64_t total = 0;
  for (std::int64_t d : durations_)
    total += d;
  // Every input sample is covered (the encoder adds its own priming frame).
  EXPECT_GE(total, 2500);
  EXPECT_GE(packets_.size(), 3u);
}

TEST_F(AudioOutTest, MonoToStereoAtTheSameRateGoesThroughTheResampler) {
  SetUpJob("pcm_s16le", 48000, 2, "stereo.wav");
  Out(S16Block(1, 48000, 1000, 8000).get());
  EXPECT_TRUE(ost_->AudioResample);
  ASSERT_TRUE(ost_->Resampler);
  A::FlushAudioOut(engine_, *ost_);
  const auto samples = Samples16();
  ASSERT_EQ(samples.size(), 2000u); // 1000 stereo pairs
  // Both channels carry the mono signal (at the level the default downmix matrix gives).
  for (std::size_t i = 0; i < samples.size(); i += 2)
    ASSERT_EQ(samples[i], samples[i + 1]) << i;
  EXPECT_GT(samples[1000], 4000);
}

TEST_F(AudioOutTest, FloatAt48kToS16At44k1IsResampled) {
  SetUpJob("pcm_s16le", 44100, 2, "resampled.wav");
  // 0.1 s of a 1 kHz tone in planar float, as today's decoders deliver it.
  auto block = MakeAudioBlock<float>(AV_SAMPLE_FMT_FLTP, 2, 48000, 4800,
                                     [](int i) { return 0.5f * std::sin(2 * M_PI * 1000.0 * i / 48000.0); });
  Out(block.get());
  A::FlushAudioOut(engine_, *ost_);
  const auto samples = Samples16();
  EXPECT_NEAR(double(samples.size()) / 2, 4410, 2);
  int peak = 0;
  for (std::int16_t s : samples)
    peak = std::max(peak, std::abs(int(s)));
  EXPECT_NEAR(peak, 16384, 600);
}

TEST_F(AudioOutTest, LateFirstBlockGetsSilenceAndSmallLaterDriftIsLeftAlone) {
  SetUpJob("pcm_s16le", 44100, 1, "late.wav");
  engine_.SetAudioSyncMethod(1);
  engine_.SetVerbose(3);
  // The clock says 0.5 s while nothing was written yet.
  ost_->SyncOutputPts = -22050;
  Out(S16Block(1, 44100, 1000, 1234).get());
  EXPECT_FALSE(ist_->IsStart);
  EXPECT_TRUE(log_.Has(&engine_, llVerbose, "adding 22050 audio samples of silence"));
  auto samples = Samples16();
  ASSERT_EQ(samples.size(), 23050u);
  EXPECT_EQ(std::count(samples.begin(), samples.begin() + 22050, 0), 22050);
  EXPECT_EQ(std::count(samples.begin() + 22050, samples.end(), 1234), 1000);

  // 1000 samples of drift after the start stay under the 0.1 s threshold.
  packets_.clear();
  ost_->SyncOutputPts -= 1000;
  Out(S16Block(1, 44100, 500, 7).get());
  EXPECT_EQ(Samples16().size(), 500u);
}

TEST_F(AudioOutTest, DriftThatDropsMoreThanTheBlockDropsExactlyTheBlock) {
  SetUpJob("pcm_s16le", 44100, 1, "early.wav");
  engine_.SetAudioSyncMethod(1);
  engine_.SetVerbose(3);
  ost_->SyncOutputPts = 5000; // 5000 samples ahead of the clock
  Out(S16Block(1, 44100, 1000, 99).get());
  EXPECT_TRUE(packets_.empty());
  EXPECT_EQ(FifoSamples(), 0);
  EXPECT_TRUE(ist_->IsStart); // nothing was output yet
  EXPECT_TRUE(log_.Has(&engine_, llVerbose, "discarding 5000 audio samples"));

  // A smaller lead drops only part of the next block.
  ost_->SyncOutputPts = 300;
  Out(S16Block(1, 44100, 1000, 99).get());
  EXPECT_EQ(Samples16().size(), 700u);
  EXPECT_FALSE(ist_->IsStart);
}

TEST_F(AudioOutTest, SoftCompensationStretchesThroughTheResampler) {
  SetUpJob("pcm_s16le", 44100, 1, "soft.wav");
  engine_.SetAudioSyncMethod(1000);
  engine_.SetVerbose(3);
  ist_->IsStart = false;
  ost_->SyncOutputPts = -100; // 100 samples behind, under the hard threshold
  Out(S16Block(1, 44100, 4410, 500).get());
  ASSERT_TRUE(ost_->Resampler);
  EXPECT_TRUE(log_.Has(&engine_, llVerbose,
                       "compensating audio timestamp drift:100.000000 compensation:100 in:44100"));
  A::FlushAudioOut(engine_, *ost_);
  // 100 extra samples spread over a second: this tenth of a second gains about 10.
  EXPECT_GT(Samples16().size(), 4410u);
  EXPECT_LT(Samples16().size(), 4440u);
}

TEST_F(AudioOutTest, VolumeScalesOnTheRealSampleFormatAndClamps) {
  SetUpJob("pcm_s16le", 48000, 1, "volume.wav");
  engine_.SetAudioVolume(128);
  Out(S16Block(1, 48000, 100, 10000).get());
  Out(S16Block(1, 48000, 100, -10000).get());
  engine_.SetAudioVolume(512);
  Out(S16Block(1, 48000, 100, 20000).get());
  const auto samples = Samples16();
  ASSERT_EQ(samples.size(), 300u);
  EXPECT_EQ(samples[0], 5000);
  EXPECT_EQ(samples[100], -5000);
  EXPECT_EQ(samples[200], 32767);
}

TEST_F(AudioOutTest, VolumeOnFloatEncoderInput) {
  SetUpJob("pcm_f32le", 48000, 1, "volume_float.wav");
  engine_.SetAudioVolume(128);
  Out(S16Block(1, 48000, 10, 16384).get());
  ASSERT_EQ(packets_.size(), 1u);
  const auto *s = reinterpret_cast<const float *>(packets_[0].data());
  EXPECT_NEAR(s[0], 0.25f, 1e-4);
}

} // namespace
} // namespace tovi::test
