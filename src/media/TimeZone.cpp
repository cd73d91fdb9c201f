#include "media/TimeZone.h"

#include <cmath>
#include <ctime>

namespace tovi {
namespace {

// Offset east of UTC in seconds at `when`, and whether daylight saving was in force.
long OffsetAt(std::time_t when, bool *dst) {
  std::tm local{};
  if (!localtime_r(&when, &local)) {
    *dst = false;
    return 0;
  }
  *dst = local.tm_isdst > 0;
  return local.tm_gmtoff;
}

} // namespace

double LocalBiasDays() {
  // localtime_r does not re-read TZ by itself.
  tzset();
  // The standard offset of this year: of 1 January and 1 July (UTC noon) the one without
  // daylight saving; January when neither or both have it.
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::tm probe{};
  probe.tm_year = utc.tm_year;
  probe.tm_mday = 1;
  probe.tm_hour = 12;
  probe.tm_mon = 0;
  const std::time_t january = timegm(&probe);
  probe = std::tm{};
  probe.tm_year = utc.tm_year;
  probe.tm_mday = 1;
  probe.tm_hour = 12;
  probe.tm_mon = 6;
  const std::time_t july = timegm(&probe);

  bool januaryDst = false, julyDst = false;
  const long januaryOffset = OffsetAt(january, &januaryDst);
  const long julyOffset = OffsetAt(july, &julyDst);
  const long offsetSeconds = januaryDst && !julyDst ? julyOffset : januaryOffset;
  return static_cast<double>(offsetSeconds / 60) / 1440.0;
}

double UnixToLocal(std::int64_t seconds) {
  return static_cast<double>(seconds) / 86400.0 + 25569.0 + LocalBiasDays();
}

std::int64_t LocalToUnix(double dateTime) {
  return static_cast<std::int64_t>(std::llround((dateTime - 25569.0 - LocalBiasDays()) * 86400.0));
}

} // namespace tovi
