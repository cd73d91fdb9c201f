// Text helpers and ReadWholeFile.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>

#include "media/Owners.h"
#include "media/ReadWholeFile.h"
#include "media/Texts.h"
#include "support/TestMedia.h"

using namespace tovi;

namespace {
constexpr std::uint32_t Tag(char a, char b, char c, char d) {
  return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 |
         std::uint32_t(std::uint8_t(c)) << 16 | std::uint32_t(std::uint8_t(d)) << 24;
}
class WithLibraries : public ::testing::Test {
protected:
  void SetUp() override { tovi::test::LoadConverterLibraries(); }
};
} // namespace

TEST(Texts, TimeTextCarriesUnitsAndNeverWrapsOrTruncatesHours) {
  EXPECT_EQ(TimeText(3723004000LL), "01:02:03.004");
  EXPECT_EQ(TimeText(360000000000LL), "100:00:00.000");
  EXPECT_EQ(TimeText(999), "00:00:00.000"); // cut, not rounded
  EXPECT_EQ(TimeText(3599999999LL), "00:59:59.999");
  EXPECT_EQ(TimeText(INT64_MAX), "2562047788:00:54.775"); // hours beyond an int
  EXPECT_EQ(TimeText(AV_NOPTS_VALUE), "N/A");
  EXPECT_EQ(TimeText(-3723004000LL), "-01:02:03.004");
  EXPECT_EQ(TimeText(AV_NOPTS_VALUE + 1), "-2562047788:00:54.775");
}

// What a user reads when a file cannot be written or read: a system error in words
// after the file's name, never a bare number, and never the text an old library gave
// the same number on another system (-32 is a broken pipe here, not the end of a file).
TEST(Texts, ErrorTextTellsSystemErrorsInWordsAndKeepsTheLibrarysOwnCodes) {
  EXPECT_EQ(ErrorText("a.avi", -2), "a.avi: No such file or directory");
  EXPECT_EQ(ErrorText("/out/a.mp4", AVERROR(EROFS)), "/out/a.mp4: Read-only file system");
  EXPECT_EQ(ErrorText("a.mp4", AVERROR(ENOSPC)), "a.mp4: No space left on device");
  EXPECT_EQ(ErrorCodeText(AVERROR(EACCES)), "Permission denied");
  EXPECT_EQ(ErrorCodeText(AVERROR(EISDIR)), "Is a directory");
  EXPECT_EQ(ErrorCodeText(AVERROR(ENAMETOOLONG)), "File name too long");
  EXPECT_EQ(ErrorCodeText(AVERROR(EFBIG)), "File too large");
  EXPECT_EQ(ErrorCodeText(AVERROR(EAGAIN)), "Resource temporarily unavailable");
  EXPECT_EQ(ErrorText("a.avi", -7), "a.avi: Argument list too long");
  // Numbers the old table gave other meanings are Linux's errors now.
  EXPECT_EQ(ErrorCodeText(AVERROR(EPIPE)), "Broken pipe");
  EXPECT_EQ(ErrorCodeText(AVERROR(EINVAL)), "Invalid argument");
  EXPECT_EQ(ErrorCodeText(-33), "Numerical argument out of domain");
  EXPECT_EQ(ErrorCodeText(-42), "No message of desired type");
  // The library's own codes and the old Windows number keep their texts.
  EXPECT_EQ(ErrorText("x", -10043), "x: Unsupported network protocol");
  EXPECT_EQ(ErrorCodeText(AVERROR_PATCHWELCOME), "Not yet implemented in FFmpeg");
  EXPECT_EQ(ErrorCodeText(AVERROR_EOF), "End of file");
  EXPECT_EQ(ErrorCodeText(AVERROR_INVALIDDATA), "Invalid data found when processing input");
  EXPECT_EQ(ErrorCodeText(AVERROR_ENCODER_NOT_FOUND), "Encoder not found");
  EXPECT_EQ(ErrorCodeText(AVERROR_OPTION_NOT_FOUND), "Option not found");
  EXPECT_EQ(ErrorCodeText(AVERROR_EXTERNAL), "Generic error in an external library");
  // Neither a system error nor a library code: the number, as before.
  EXPECT_EQ(ErrorText("a.avi", -4096), "a.avi: Error number -4096 occurred");
  EXPECT_EQ(ErrorCodeText(-123456), "Error number -123456 occurred");
  EXPECT_TRUE(IsSystemError(AVERROR(EROFS)));
  EXPECT_FALSE(IsSystemError(AVERROR_EOF));
  EXPECT_EQ(WriteFaultText("/out/a.mp4", AVERROR(ENOSPC)),
            "Cannot write /out/a.mp4: No space left on device");
}

TEST(Texts, ByteSizeBoundariesBelongToTheSmallerUnit) {
  EXPECT_EQ(ByteSizeText(1024), "1024 Byte");
  EXPECT_EQ(ByteSizeText(1025), "1.00 KB");
  EXPECT_EQ(ByteSizeText(1048576), "1024.00 KB");
  EXPECT_EQ(ByteSizeText(1048577), "1.00 MB");
  EXPECT_EQ(ByteSizeText(1073741824), "1024.00 MB");
  EXPECT_EQ(ByteSizeText(1073741825), "1.00 GB");
  EXPECT_EQ(ByteSizeText(5LL << 40), "5120.00 GB"); // beyond 32 bits
  EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_ATTACHMENT), "Attachment");
  EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_UNKNOWN), "Unknown");
  EXPECT_EQ(MediaTypeName(5), "Unknown");
}

TEST_F(WithLibraries, CodecDescriptionFallsBackStepByStep) {
  EXPECT_EQ(CodecDescription(AV_CODEC_ID_H264, 0, false), "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)");
  const AVCodec *encoder = ff::avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  ASSERT_NE(encoder, nullptr);
  EXPECT_EQ(CodecDescription(AV_CODEC_ID_MPEG4, 0, true),
            std::string(encoder->name) + "(" + encoder->long_name + ")");
  EXPECT_EQ(CodecDescription(AV_CODEC_ID_MPEG2TS, 0, true), "mpeg2ts");
  // No VP6 encoder exists; its descriptor still names it.
  EXPECT_EQ(CodecDescription(AV_CODEC_ID_VP6, Tag('V', 'P', '6', '0'), true), "vp6");
  // Ids the library does not have: the tag decides; one unprintable byte gives hex.
  EXPECT_EQ(CodecDescription(static_cast<AVCodecID>(0x7ffff0), Tag('X', 'V', 'I', 'D'), false),
            "XVID / 0x44495658");
  EXPECT_EQ(CodecDescription(AV_CODEC_ID_NONE, Tag(' ', '~', 'a', '0'), true), " ~a0 / 0x30617E20");
  EXPECT_EQ(CodecDescription(AV_CODEC_ID_NONE, Tag('X', 'V', 'I', '\x7f'), true), "0x7f495658");
  EXPECT_EQ(CodecDescription(AV_CODEC_ID_NONE, Tag('X', '\x1f', 'I', 'D'), true), "0x44491f58");
  EXPECT_EQ(CodecDescription(AV_CODEC_ID_NONE, 0x12, true), "0x0012");

  // The overloads read id and tag from their object.
  CodecContextPtr ctx(ff::avcodec_alloc_context3(nullptr));
  ctx->codec_id = AV_CODEC_ID_H264;
  EXPECT_EQ(CodecDescription(ctx.get(), false), CodecDescription(AV_CODEC_ID_H264, 0, false));
  CodecParametersPtr par(ff::avcodec_parameters_alloc());
  par->codec_tag = Tag('X', 'V', 'I', 'D');
  EXPECT_EQ(CodecDescription(par.get(), false), "XVID / 0x44495658");
}

TEST_F(WithLibraries, MetadataValueIsTheFirstWholeKeyMatch) {
  EXPECT_EQ(MetadataValue(nullptr, "title", "none"), "none");
  DictionaryPtr dict;
  ff::av_dict_set(dict.Out(), "title", "Clip", 0);
  ff::av_dict_set(dict.Out(), "title", "Second", AV_DICT_MULTIKEY);
  EXPECT_EQ(MetadataValue(dict.get(), "TITLE", "none"), "Clip");
  EXPECT_EQ(MetadataValue(dict.get(), "tit", "none"), "none");
}

TEST_F(WithLibraries, ReadWholeFileGivesBytesPlusZeroOrAnError) {
  tovi::test::TempDir dir;
  std::vector<char> buffer{'o', 'l', 'd'};
  EXPECT_EQ(ReadWholeFile(dir.file("missing.bin"), buffer), -1);
  EXPECT_TRUE(buffer.empty());
  EXPECT_EQ(ReadWholeFile(dir.path().string(), buffer), -1);

  std::ofstream(dir.file("empty.bin"), std::ios::binary).close();
  ASSERT_EQ(ReadWholeFile(dir.file("empty.bin"), buffer), 0);
  EXPECT_EQ(buffer, std::vector<char>{'\0'});

  // Every byte value, zeros and CR/LF included, comes back unchanged.
  std::string bytes;
  for (int i = 0; i < 300 * 256; ++i)
    bytes += static_cast<char>(i);
  std::ofstream(dir.file("binary.bin"), std::ios::binary) << bytes;
  ASSERT_EQ(ReadWholeFile(dir.file("binary.bin"), buffer), 0);
  ASSERT_EQ(buffer.size(), bytes.size() + 1);
  EXPECT_EQ(std::string(buffer.data(), bytes.size()), bytes);
  EXPECT_EQ(buffer.back(), '\0');
}
