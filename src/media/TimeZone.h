// Unix times <-> local date-times counted in days since 1899-12-30 (the date-time the
// settings files and the file lists store).
//
// Every conversion uses the offset in force at the instant itself, daylight saving
// included, so a summer date reads as the clock on the wall showed it. The zone is read
// from the environment (TZ, else /etc/localtime) on every call, so a change of TZ takes
// effect at once. Thread-safe (tzset and localtime_r are safe in glibc).
#pragma once

#include <cstdint>

namespace tovi {

// (local time - UTC) in days at the instant `unixSeconds`: +1/24 for Central Europe in
// winter, +2/24 in summer, +330/1440 for India.
double LocalBiasDays(std::int64_t unixSeconds);
// seconds / 86400 + 25569 + LocalBiasDays(seconds).
double UnixToLocal(std::int64_t seconds);
// The instant whose local date-time is `dateTime`, to the nearest second. A local time
// that occurs twice (the hour repeated when the clocks go back) gives the later of the
// two instants; one that never occurs (the hour skipped when they go forward) is read
// with the offset in force before the change.
std::int64_t LocalToUnix(double dateTime);

} // namespace tovi
