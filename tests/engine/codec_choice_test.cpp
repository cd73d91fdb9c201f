// Pixel formats for encoders that list more formats than they open with.
#include <gtest/gtest.h>

#include "engine/CodecChoice.h"
#include "media/EntryPoints.h"
#include "media/Owners.h"
#include "support/TestMedia.h"

using namespace tovi;

TEST(CodecChoice, MjpegAtNormalStrictnessTakesFullRange) {
  tovi::test::LoadConverterLibraries();
  const AVCodec *mjpeg = ff::avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  ASSERT_NE(mjpeg, nullptr);
  CodecContextPtr context(ff::avcodec_alloc_context3(nullptr));
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->strict_std_compliance = FF_COMPLIANCE_NORMAL;
  ChoosePixelFormat(context.get(), mjpeg);
  EXPECT_EQ(context->pix_fmt, AV_PIX_FMT_YUVJ420P);
}

TEST(CodecChoice, DvTakesTheChromaLayoutOfItsProfile) {
  tovi::test::LoadConverterLibraries();
  const AVCodec *dv = ff::avcodec_find_encoder(AV_CODEC_ID_DVVIDEO);
  ASSERT_NE(dv, nullptr);
  CodecContextPtr context(ff::avcodec_alloc_context3(nullptr));
  context->width = 720;
  context->height = 480;
  context->framerate = AVRational{30000, 1001};
  context->pix_fmt = AV_PIX_FMT_YUV420P; // no NTSC DV profile has 4:2:0
  ChooseDvPixelFormat(context.get(), dv);
  EXPECT_NE(ff::av_dv_codec_profile2(720, 480, context->pix_fmt, context->framerate), nullptr);
  EXPECT_EQ(context->pix_fmt, AV_PIX_FMT_YUV411P);

  context->height = 576;
  context->framerate = AVRational{25, 1};
  context->pix_fmt = AV_PIX_FMT_YUV420P; // PAL DV25 is 4:2:0: kept
  ChooseDvPixelFormat(context.get(), dv);
  EXPECT_EQ(context->pix_fmt, AV_PIX_FMT_YUV420P);
}
