// Unix time <-> local date-time, with the offset of each date itself.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "media/TimeZone.h"

using namespace tovi;

namespace {

constexpr double kSecond = 1.0 / 86400.0;
constexpr double kHour = 1.0 / 24.0;

// Sets TZ for one test and puts the previous value back afterwards.
class TimeZone : public ::testing::Test {
protected:
  void SetUp() override {
    if (const char *tz = std::getenv("TZ")) saved_ = tz;
  }
  void TearDown() override {
    if (saved_)
      setenv("TZ", saved_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  static void UseZone(const char *zone) {
    ASSERT_EQ(setenv("TZ", zone, 1), 0);
    tzset();
  }

private:
  std::optional<std::string> saved_;
};

// Date-time of a UTC calendar reading, for readable expectations.
double Days(int year, int month, int day, int hour, int minute = 0) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  return static_cast<double>(timegm(&t)) / 86400.0 + 25569.0;
}

std::int64_t Unix(int year, int month, int day, int hour, int minute = 0) {
  return std::llround((Days(year, month, day, hour, minute) - 25569.0) * 86400.0);
}

void ExpectRoundTrips() {
  for (std::int64_t s : {0LL, -1LL, 1700000000LL, 1688212800LL, -2208988800LL, 4102444800LL})
    EXPECT_EQ(LocalToUnix(UnixToLocal(s)), s) << s;
}

} // namespace

TEST_F(TimeZone, UtcHasNoBiasAndRoundsToTheNearestSecond) {
  UseZone("UTC");
  EXPECT_EQ(LocalBiasDays(1688212800), 0.0);
  // 2023-11-14 22:13:20 UTC is day 45244 of the date-time count.
  EXPECT_NEAR(UnixToLocal(1700000000), 45244.0 + 80000 * kSecond, 1e-9);
  EXPECT_EQ(LocalToUnix(25569.5), 43200);
  EXPECT_EQ(LocalToUnix(UnixToLocal(1000) + 0.4 * kSecond), 1000);
  EXPECT_EQ(LocalToUnix(UnixToLocal(1000) - 0.6 * kSecond), 999);
  ExpectRoundTrips();
}

TEST_F(TimeZone, HalfHourZoneAddsItsOffset) {
  UseZone("Asia/Kolkata");
  EXPECT_DOUBLE_EQ(LocalBiasDays(1700000000), 330.0 / 1440.0);
  // Local midnight of 1970-01-02 is 18:30 UTC of 1970-01-01.
  EXPECT_EQ(LocalToUnix(25570.0), 18 * 3600 + 30 * 60);
  ExpectRoundTrips();
}

// Each date gets the offset in force on that date, whatever today's offset is.
TEST_F(TimeZone, WinterAndSummerDatesUseTheirOwnOffset) {
  UseZone("Europe/Berlin");
  const std::int64_t winter = Unix(2023, 1, 15, 12), summer = Unix(2023, 7, 1, 12);
  EXPECT_DOUBLE_EQ(LocalBiasDays(winter), kHour);
  EXPECT_DOUBLE_EQ(LocalBiasDays(summer), 2 * kHour);
  EXPECT_NEAR(UnixToLocal(winter), Days(2023, 1, 15, 13), 1e-9);
  EXPECT_NEAR(UnixToLocal(summer), Days(2023, 7, 1, 14), 1e-9) << "the wall clock showed 14:00";
  EXPECT_EQ(LocalToUnix(Days(2023, 1, 15, 13)), winter);
  EXPECT_EQ(LocalToUnix(Days(2023, 7, 1, 14)), summer);
  ExpectRoundTrips();

  // January is summer in Sydney, July in New York.
  UseZone("Australia/Sydney");
  EXPECT_EQ(LocalToUnix(Days(2024, 1, 10, 23)), Unix(2024, 1, 10, 12)); // +11:00
  EXPECT_EQ(LocalToUnix(Days(2024, 7, 10, 22)), Unix(2024, 7, 10, 12)); // +10:00
  UseZone("America/New_York");
  EXPECT_NEAR(UnixToLocal(Unix(2024, 7, 10, 12)), Days(2024, 7, 10, 8), 1e-9);
  EXPECT_NEAR(UnixToLocal(Unix(2024, 1, 10, 12)), Days(2024, 1, 10, 7), 1e-9);
  ExpectRoundTrips();

  // A changed TZ counts without the caller calling tzset.
  ASSERT_EQ(setenv("TZ", "Asia/Kolkata", 1), 0);
  EXPECT_DOUBLE_EQ(LocalBiasDays(summer), 330.0 / 1440.0);
}

TEST_F(TimeZone, InstantsAroundTheClockChangesRoundTrip) {
  for (const char *zone : {"Europe/Berlin", "America/New_York", "Australia/Sydney"}) {
    UseZone(zone);
    // Every quarter hour across a whole year: each instant comes back, except the
    // first pass through a repeated hour, which reads as its second pass.
    for (std::int64_t s = Unix(2023, 1, 1, 0); s < Unix(2024, 1, 1, 0); s += 900) {
      const std::int64_t back = LocalToUnix(UnixToLocal(s));
      if (back != s) {
        EXPECT_GT(LocalBiasDays(s), LocalBiasDays(back)) << zone << " " << s;
        EXPECT_EQ(back - s, std::llround((LocalBiasDays(s) - LocalBiasDays(back)) * 86400))
            << zone << " " << s;
      }
    }
  }
  UseZone("Europe/Berlin");
  // 2023-10-29: 02:30 happened at 00:30 and again at 01:30 UTC; the later is taken.
  EXPECT_EQ(LocalToUnix(Days(2023, 10, 29, 2, 30)), Unix(2023, 10, 29, 1, 30));
  // 2023-03-26: 02:30 never happened; it is read with the winter offset.
  EXPECT_EQ(LocalToUnix(Days(2023, 3, 26, 2, 30)), Unix(2023, 3, 26, 1, 30));
}
