// Unix time <-> local date-time. Each test runs in a process of its own, so setting TZ
// here affects no other test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "media/TimeZone.h"

using namespace tovi;

namespace {

void UseZone(const char *zone) {
  ASSERT_EQ(setenv("TZ", zone, 1), 0);
  tzset();
}

constexpr double kSecond = 1.0 / 86400.0;

void ExpectRoundTrips() {
  for (std::int64_t s : {0LL, -1LL, 1700000000LL, -2208988800LL, 4102444800LL})
    EXPECT_EQ(LocalToUnix(UnixToLocal(s)), s) << s;
}

} // namespace

TEST(TimeZone, UtcHasNoBiasAndRoundsToTheNearestSecond) {
  UseZone("UTC");
  EXPECT_EQ(LocalBiasDays(), 0.0);
  // 2023-11-14 22:13:20 UTC is day 45244 of the date-time count.
  EXPECT_NEAR(UnixToLocal(1700000000), 45244.0 + 80000 * kSecond, 1e-9);
  EXPECT_EQ(LocalToUnix(25569.5), 43200);
  EXPECT_EQ(LocalToUnix(UnixToLocal(1000) + 0.4 * kSecond), 1000);
  EXPECT_EQ(LocalToUnix(UnixToLocal(1000) - 0.6 * kSecond), 999);
  ExpectRoundTrips();
}

TEST(TimeZone, HalfHourZoneAddsItsOffset) {
  UseZone("Asia/Kolkata");
  EXPECT_DOUBLE_EQ(LocalBiasDays(), 330.0 / 1440.0);
  // Local midnight of 1970-01-02 is 18:30 UTC of 1970-01-01.
  EXPECT_EQ(LocalToUnix(25570.0), 18 * 3600 + 30 * 60);
  ExpectRoundTrips();
}

TEST(TimeZone, StandardOffsetOnlyInEitherHemisphere) {
  UseZone("Europe/Berlin");
  EXPECT_DOUBLE_EQ(LocalBiasDays(), 60.0 / 1440.0);
  const std::int64_t summer = 1688212800; // 2023-07-01 12:00 UTC gets the winter offset too
  EXPECT_NEAR(UnixToLocal(summer) - UnixToLocal(summer - 86400 * 180), 180.0, 1e-9);
  // January is summer in Sydney: its standard offset is July's +10:00.
  UseZone("Australia/Sydney");
  EXPECT_DOUBLE_EQ(LocalBiasDays(), 600.0 / 1440.0);
  UseZone("America/New_York");
  EXPECT_DOUBLE_EQ(LocalBiasDays(), -300.0 / 1440.0);
  // A changed TZ counts without the caller calling tzset.
  ASSERT_EQ(setenv("TZ", "Asia/Kolkata", 1), 0);
  EXPECT_DOUBLE_EQ(LocalBiasDays(), 330.0 / 1440.0);
}
