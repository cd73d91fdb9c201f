// The owners and the shared send/receive loop, against a real encoder and decoder.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>

#include "media/FFmpegLoader.h"
#include "media/Owners.h"
#include "media/SendReceive.h"
#include "support/TestMedia.h"

using namespace tovi;

namespace {

constexpr int kSize = 64;

class Codecs : public ::testing::Test {
protected:
  void SetUp() override { tovi::test::LoadConverterLibraries(); }

  // MPEG-4 with B-frames, so the encoder holds frames back until it is flushed.
  CodecContextPtr OpenEncoder(int maxBFrames) {
    const AVCodec *codec = ff::avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    EXPECT_NE(codec, nullptr);
    CodecContextPtr ctx(ff::avcodec_alloc_context3(codec));
    ctx->width = kSize;
    ctx->height = kSize;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = AVRational{1, 25};
    ctx->gop_size = 5;
    ctx->max_b_frames = maxBFrames;
    std::lock_guard lock(CodecLock());
    EXPECT_EQ(ff::avcodec_open2(ctx.get(), codec, nullptr), 0);
    return ctx;
  }
  CodecContextPtr OpenDecoder(AVCodecID id) {
    const AVCodec *codec = ff::avcodec_find_decoder(id);
    CodecContextPtr ctx(ff::avcodec_alloc_context3(codec));
    std::lock_guard lock(CodecLock());
    EXPECT_EQ(ff::avcodec_open2(ctx.get(), codec, nullptr), 0);
    return ctx;
  }
  FramePtr Picture(int index) {
    FramePtr frame = MakeFrame();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = kSize;
    frame->height = kSize;
    EXPECT_EQ(ff::av_frame_get_buffer(frame.get(), 0), 0);
    for (int p = 0; p < 3; ++p) {
      const int h = p ? kSize / 2 : kSize;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < frame->linesize[p]; ++x)
          frame->data[p][y * frame->linesize[p] + x] = (x + y + index * 9) & 0xff;
    }
    frame->pts = index;
    return frame;
  }
  // Keeps every packet the encoder delivers.
  TPacketSink Collect(std::vector<PacketPtr> &packets) {
    return [&packets](AVPacket *pkt) {
      PacketPtr kept = MakePacket();
      ff::av_packet_move_ref(kept.get(), pkt);
      packets.push_back(std::move(kept));
      return 0;
    };
  }
};

} // namespace

TEST_F(Codecs, EncodeDecodeRoundTripDeliversEveryFrameInOrder) {
  CodecContextPtr encoder = OpenEncoder(2);
  PacketPtr scratch = MakePacket();
  std::vector<PacketPtr> packets;
  for (int i = 0; i < 10; ++i)
    ASSERT_EQ(EncodeAndReceive(encoder.get(), Picture(i).get(), scratch.get(), Collect(packets)), 0) << i;
  // B-frames are still inside: flushing drains them and reports the end.
  EXPECT_LT(packets.size(), 10u);
  EXPECT_EQ(EncodeAndReceive(encoder.get(), nullptr, scratch.get(), Collect(packets)), AVERROR_EOF);
  ASSERT_EQ(packets.size(), 10u);
  // Nothing may be sent after the flush.
  EXPECT_EQ(EncodeAndReceive(encoder.get(), Picture(10).get(), scratch.get(), Collect(packets)), AVERROR_EOF);
  EXPECT_EQ(packets.size(), 10u);

  CodecContextPtr decoder = OpenDecoder(AV_CODEC_ID_MPEG4);
  FramePtr frame = MakeFrame();
  std::vector<std::int64_t> pts;
  const TFrameSink sink = [&](AVFrame *f) {
    EXPECT_EQ(f->width, kSize);
    pts.push_back(f->pts);
    return 0;
  };
  for (const PacketPtr &pkt : packets)
    ASSERT_EQ(DecodeAndReceive(decoder.get(), pkt.get(), frame.get(), sink), 0);
  EXPECT_EQ(DecodeAndReceive(decoder.get(), nullptr, frame.get(), sink), AVERROR_EOF);
  ASSERT_EQ(pts.size(), 10u);
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(pts[i], i);
  // The scratch frame holds no reference after the loop.
  EXPECT_EQ(frame->buf[0], nullptr);
}

TEST_F(Codecs, SinkStopEndsDeliveryWithItsResult) {
  // Two B-frames held back: the flush has more than one packet to deliver.
  CodecContextPtr encoder = OpenEncoder(2);
  PacketPtr scratch = MakePacket();
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(EncodeAndReceive(encoder.get(), Picture(i).get(), scratch.get(), [](AVPacket *) { return 0; }),
              0);
  int calls = 0;
  const int ret = EncodeAndReceive(encoder.get(), nullptr, scratch.get(), [&](AVPacket *) {
    ++calls;
    return AVERROR_EXIT;
  });
  EXPECT_EQ(ret, AVERROR_EXIT);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(scratch->buf, nullptr);
}

TEST_F(Codecs, OutputsLeftInTheCodecAreDeliveredBeforeTheNextInput) {
  CodecContextPtr encoder = OpenEncoder(0);
  // Fill the encoder without receiving, until it refuses input.
  int sent = 0;
  int ret = 0;
  while ((ret = ff::avcodec_send_frame(encoder.get(), Picture(sent).get())) == 0)
    ++sent;
  ASSERT_EQ(ret, AVERROR(EAGAIN));
  ASSERT_GT(sent, 0);

  PacketPtr scratch = MakePacket();
  std::vector<PacketPtr> packets;
  // The loop must drain what is waiting, then get this frame in.
  ASSERT_EQ(EncodeAndReceive(encoder.get(), Picture(sent).get(), scratch.get(), Collect(packets)), 0);
  EXPECT_EQ(EncodeAndReceive(encoder.get(), nullptr, scratch.get(), Collect(packets)), AVERROR_EOF);
  ASSERT_EQ(packets.size(), static_cast<size_t>(sent + 1));
  for (size_t i = 0; i < packets.size(); ++i)
    EXPECT_EQ(packets[i]->pts, static_cast<std::int64_t>(i));
}

TEST_F(Codecs, OpenedContextIsFreedUnderTheCodecLock) {
  CodecContextPtr encoder = OpenEncoder(0);
  std::unique_lock lock(CodecLock());
  auto freed = std::async(std::launch::async, [&] { encoder.reset(); });
  EXPECT_EQ(freed.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  lock.unlock();
  freed.get();
  EXPECT_FALSE(encoder);

  // A caller that holds the lock frees without taking it again; contexts never opened
  // need no lock.
  CodecContextPtr other = OpenEncoder(0);
  CodecContextPtr unopened(ff::avcodec_alloc_context3(nullptr));
  std::lock_guard held(CodecLock());
  FreeCodecContextLocked(other);
  unopened.reset();
  EXPECT_FALSE(other);
}
