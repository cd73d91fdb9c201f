#include "media/TimeZone.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace tovi {
namespace {

constexpr std::int64_t kDay = 86400;

// Offset east of UTC in seconds at `when`, daylight saving included.
long OffsetAt(std::int64_t when) {
  const std::time_t t = static_cast<std::time_t>(when);
  std::tm local{};
  if (!localtime_r(&t, &local)) return 0;
  return local.tm_gmtoff;
}

} // namespace

double LocalBiasDays(std::int64_t unixSeconds) {
  // localtime_r does not re-read TZ by itself.
  tzset();
  return static_cast<double>(OffsetAt(unixSeconds)) / static_cast<double>(kDay);
}

double UnixToLocal(std::int64_t seconds) {
  return static_cast<double>(seconds) / static_cast<double>(kDay) + 25569.0 + LocalBiasDays(seconds);
}

std::int64_t LocalToUnix(double dateTime) {
  tzset();
  // The wall-clock reading as if it were UTC; the instant lies within a day of it.
  const std::int64_t wall = std::llround((dateTime - 25569.0) * static_cast<double>(kDay));
  // A zone changes its offset at most once around any given reading, so the offsets a
  // day either side are the only two candidates. A candidate fits when the instant it
  // gives really has that offset.
  const long before = OffsetAt(wall - kDay);
  const long after = OffsetAt(wall + kDay);
  const bool beforeFits = OffsetAt(wall - before) == before;
  const bool afterFits = OffsetAt(wall - after) == after;
  if (beforeFits && afterFits) return std::max(wall - before, wall - after); // a repeated hour
  if (afterFits) return wall - after;
  // Only the earlier offset fits, or neither (a skipped hour): the clock is read as if
  // it had not been put forward yet.
  return wall - before;
}

} // namespace tovi
