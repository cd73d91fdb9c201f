// Bitstream filter options: names validated and recorded per media type; chains set up
// later against a stream's codec parameters.
#include "EngineTestSupport.h"

using namespace tovi;
using tovi::test::EngineTest;

namespace {

class BitstreamFilterTest : public EngineTest {};

TEST_F(BitstreamFilterTest, FiltersGoToTheChainOfTheirMediaType) {
  engine_.ParseOption("vbsf", "h264_mp4toannexb");
  engine_.ParseOption("vbsf", "null=ignored:args");
  engine_.ParseOption("absf", " aac_adtstoasc ");
  engine_.ParseOption("sbsf", "null");
  EXPECT_EQ(engine_.PendingBitstreamFilters(AVMEDIA_TYPE_VIDEO).Names(),
            (std::vector<std::string>{"h264_mp4toannexb", "null"}));
  EXPECT_EQ(engine_.PendingBitstreamFilters(AVMEDIA_TYPE_AUDIO).Names(),
            (std::vector<std::string>{"aac_adtstoasc"}));
  EXPECT_EQ(engine_.PendingBitstreamFilters(AVMEDIA_TYPE_SUBTITLE).Names(),
            (std::vector<std::string>{"null"}));
  // Only the kind's first letter counts; anything else is the subtitle chain.
  engine_.AddBitstreamFilter("x", "null");
  EXPECT_EQ(engine_.PendingBitstreamFilters(AVMEDIA_TYPE_SUBTITLE).Size(), 2u);
}

TEST_F(BitstreamFilterTest, EmptyOrNamelessTextIsIgnoredAndUnknownNamesRefused) {
  engine_.ParseOption("vbsf", "");
  engine_.ParseOption("vbsf", "=null");
  EXPECT_TRUE(engine_.PendingBitstreamFilters(AVMEDIA_TYPE_VIDEO).Empty());
  EXPECT_EQ(Raised([&] { engine_.ParseOption("vbsf", " dump_extra_please=1 "); }),
            "Unknown bitstream filter dump_extra_please=1");
  EXPECT_TRUE(engine_.PendingBitstreamFilters(AVMEDIA_TYPE_VIDEO).Empty());
}

TEST_F(BitstreamFilterTest, ChainSetUpFeedsEachFilterThePreviousOutput) {
  TBitstreamFilterChain chain;
  chain.Append(ff::av_bsf_get_by_name("null"));
  chain.Append(ff::av_bsf_get_by_name("dump_extra"));
  AVCodecParameters *parameters = ff::avcodec_parameters_alloc();
  parameters->codec_type = AVMEDIA_TYPE_VIDEO;
  parameters->codec_id = AV_CODEC_ID_MPEG4;
  parameters->width = 64;
  parameters->height = 48;
  chain.Initialize(parameters, AVRational{1, 25});
  ASSERT_TRUE(chain.Initialized());
  ASSERT_EQ(chain.Contexts().size(), 2u);
  EXPECT_EQ(chain.Contexts()[1]->par_in->width, 64);
  EXPECT_EQ(chain.Contexts()[1]->time_base_in.den, 25);

  // A filter that refuses the stream's codec leaves the chain not set up.
  chain.Append(ff::av_bsf_get_by_name("h264_mp4toannexb"));
  EXPECT_FALSE(chain.Initialized());
  try {
    chain.Initialize(parameters, AVRational{1, 25});
    ADD_FAILURE() << "no exception";
  } catch (const FFmpegException &error) {
    EXPECT_STREQ(error.what(), "Failed to initialize bitstream filter h264_mp4toannexb");
  }
  EXPECT_FALSE(chain.Initialized());
  EXPECT_TRUE(chain.Contexts().empty());
  ff::avcodec_parameters_free(&parameters);
}

} // namespace
