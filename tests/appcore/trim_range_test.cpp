// The trim editor's arithmetic: markers on a bar of pixels, the slider and seek
// positions, what Ok stores and what the "Trimmed Length" column then shows.
#include <gtest/gtest.h>

#include "appcore/TrimRange.h"

using namespace tovi;

namespace {

constexpr std::int64_t kS = 1000000;

TlvFilesRecord Stored(const TTrimOutcome &outcome, std::int32_t durationSeconds) {
  TlvFilesRecord record;
  record.DurationSeconds = durationSeconds;
  record.TrimStart = outcome.TrimStart;
  record.TrimLength = outcome.TrimLength;
  return record;
}

TEST(TrimRange, MarkersLandOnTheValueTheyShowAndZeroLengthsAreSkipped) {
  // A marker put at a value and read back gives that value, on bars wider than the range
  // (rounding one way and truncating the other loses a second on some of them).
  for (const auto &[maximum, track] : {std::pair{40, 808}, {125, 797}, {7, 7}, {3600, 3601}, {1, 20}}) {
    for (int v = 0; v <= maximum; ++v)
      ASSERT_EQ(PixelToValue(ValueToPixel(v, maximum, track), maximum, track), v)
          << v << " of " << maximum << " on " << track;
    EXPECT_EQ(ValueToPixel(maximum, maximum, track), track);
  }
  // A bar narrower than the range: neighbouring values share pixels, the ends still hold.
  EXPECT_EQ(PixelToValue(0, 1000, 100), 0);
  EXPECT_EQ(PixelToValue(100, 1000, 100), 1000);
  EXPECT_EQ(PixelToValue(50, 1000, 100), 500);
  // Outside the bar or the range: clamped, not extrapolated.
  EXPECT_EQ(PixelToValue(-30, 40, 800), 0);
  EXPECT_EQ(PixelToValue(900, 40, 800), 40);
  EXPECT_EQ(ValueToPixel(50, 40, 800), 800);
  // A file of unknown duration, or a bar not laid out yet: no division by zero.
  EXPECT_EQ(ValueToPixel(5, 0, 800), 0);
  EXPECT_EQ(ValueToPixel(5, 40, 0), 0);
  EXPECT_EQ(PixelToValue(300, 0, 800), 0);
  EXPECT_EQ(PixelToValue(300, 40, 0), 0);
}

TEST(TrimRange, SliderFollowsThePictureAndSeeksWhereItPoints) {
  const std::int64_t duration = 40'020'000; // 40.02 s: the slider runs 0..40
  EXPECT_EQ(RoundedSeconds(duration), 40);
  EXPECT_EQ(RoundedSeconds(2'500'000), 3);
  EXPECT_EQ(SliderPosition(20'010'000, duration, 40), 20);
  EXPECT_EQ(SliderPosition(duration + kS, duration, 40), 40); // the end clamp
  EXPECT_EQ(SliderPosition(5 * kS, 0, 40), 0);                // unknown duration
  EXPECT_EQ(SliderPosition(5 * kS, duration, 0), 0);
  EXPECT_EQ(SliderSeekTarget(10, 40, duration), 10'005'000);
  EXPECT_EQ(SliderSeekTarget(40, 40, duration), duration);
  EXPECT_EQ(SliderSeekTarget(10, 0, duration), 0);
  EXPECT_EQ(SliderSeekTarget(10, 40, 0), 0);
}

TEST(TrimRange, OkStoresTheRangeAndTheColumnShowsWhatIsKept) {
  // 125 s kept from 10 s to the end.
  TTrimOutcome o = TrimFromRange(10, 125, 125);
  ASSERT_EQ(o.Kind, TTrimOutcome::tkStore);
  EXPECT_EQ(o.TrimStart, 10 * kS);
  EXPECT_EQ(o.TrimLength, 115 * kS);
  EXPECT_EQ(TrimmedLengthText(Stored(o, 125)), "115");
  // A range in the middle.
  o = TrimFromRange(3, 7, 40);
  ASSERT_EQ(o.Kind, TTrimOutcome::tkStore);
  EXPECT_EQ(o.TrimStart, 3 * kS);
  EXPECT_EQ(o.TrimLength, 4 * kS);
  EXPECT_EQ(TrimmedLengthText(Stored(o, 40)), "4");
  // The whole file (what Default gives) stores "from the beginning to the end".
  o = TrimFromRange(0, 125, 125);
  ASSERT_EQ(o.Kind, TTrimOutcome::tkStore);
  EXPECT_EQ(o.TrimStart, 0);
  EXPECT_EQ(o.TrimLength, 0);
  EXPECT_EQ(TrimmedLengthText(Stored(o, 125)), "125");
  // Markers beyond the file are taken at its ends.
  o = TrimFromRange(-4, 300, 125);
  EXPECT_EQ(o.Kind, TTrimOutcome::tkStore);
  EXPECT_EQ(o.TrimLength, 0);
}

TEST(TrimRange, ARangeThatKeepsNothingIsRefusedWithAMessage) {
  // Storing start 50 with length 0 would mean "from 50 s to the end" while the user
  // chose nothing; the column would claim the whole file.
  for (const auto &[start, end] : {std::pair{50, 50}, {60, 20}, {0, 0}, {125, 125}, {200, 130}}) {
    const TTrimOutcome o = TrimFromRange(start, end, 125);
    EXPECT_EQ(o.Kind, TTrimOutcome::tkRefuse) << start << "-" << end;
    EXPECT_NE(o.Message.find("Trim End"), std::string::npos) << o.Message;
  }
  EXPECT_NE(TrimFromRange(50, 50, 125).Message.find("0:00:50"), std::string::npos);
  // A file whose duration is unknown has nothing to trim: the record stays as it is.
  EXPECT_EQ(TrimFromRange(0, 0, 0).Kind, TTrimOutcome::tkKeep);
  EXPECT_EQ(TrimFromRange(3, 9, 0).Kind, TTrimOutcome::tkKeep);
}

TEST(TrimRange, AStoredRangePutsTheMarkersBackWhereTheyWere) {
  for (const auto &[start, end] : {std::pair{0, 40}, {3, 7}, {0, 12}, {39, 40}, {10, 40}}) {
    const TTrimOutcome o = TrimFromRange(start, end, 40);
    ASSERT_EQ(o.Kind, TTrimOutcome::tkStore);
    const TTrimMarkers m = MarkersFromRecord(Stored(o, 40), 40);
    EXPECT_EQ(m.StartSeconds, start);
    EXPECT_EQ(m.EndSeconds, end);
  }
  // A record made for a longer file (or by hand) stays within this one.
  TlvFilesRecord record;
  record.TrimStart = 30 * kS;
  record.TrimLength = 60 * kS;
  TTrimMarkers m = MarkersFromRecord(record, 40);
  EXPECT_EQ(m.StartSeconds, 30);
  EXPECT_EQ(m.EndSeconds, 40);
  record.TrimStart = 90 * kS;
  m = MarkersFromRecord(record, 40);
  EXPECT_EQ(m.StartSeconds, 40);
  EXPECT_EQ(m.EndSeconds, 40);
  m = MarkersFromRecord(record, 0);
  EXPECT_EQ(m.StartSeconds, 0);
  EXPECT_EQ(m.EndSeconds, 0);
}

TEST(TrimRange, TheColumnCountsFromTheStartWhenOnlyTheStartIsSet) {
  // The command line's "--trim 10" stores a start and no length: 30 s of 40 are kept.
  TlvFilesRecord record;
  record.DurationSeconds = 40;
  record.TrimStart = 10 * kS;
  EXPECT_EQ(TrimmedLengthText(record), "30");
  record.TrimLength = 60 * kS; // more than is left: the output ends with the file
  EXPECT_EQ(TrimmedLengthText(record), "30");
  record.DurationSeconds = 0; // unknown duration: the stored length is all there is
  EXPECT_EQ(TrimmedLengthText(record), "60");
  record.TrimStart = 0;
  record.TrimLength = 0;
  EXPECT_EQ(TrimmedLengthText(record), "0");
}

TEST(TrimRange, TimeTexts) {
  EXPECT_EQ(ShortTimeText(3907), "1:05:07");
  EXPECT_EQ(ShortTimeText(59), "0:00:59");
  EXPECT_EQ(ShortTimeText(-5), "0:00:00");
  EXPECT_EQ(ShortTimeText(36000), "10:00:00");
  EXPECT_EQ(LongTimeText(3'907'250'000), "01:05:07.250");
  EXPECT_EQ(LongTimeText(40'020'000), "00:00:40.020");
  EXPECT_EQ(LongTimeText(-1), "00:00:00.000");
}

} // namespace
