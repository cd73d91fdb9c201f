// Unix times <-> local date-times counted in days since 1899-12-30 (the date-time the
// settings files and the file lists store).
//
// The local offset is the time zone's standard offset: daylight saving is not applied,
// so a summer date is one hour off in zones that have it. The zone is read from the
// environment (TZ, else /etc/localtime) on every call, so a change of TZ takes effect
// at once. Thread-safe (tzset and localtime_r are safe in glibc).
#pragma once

#include <cstdint>

namespace tovi {

// (local standard time - UTC) in days: +1/24 for Central Europe, +330/1440 for India.
double LocalBiasDays();
// seconds / 86400 + 25569 + LocalBiasDays().
double UnixToLocal(std::int64_t seconds);
// (dateTime - 25569 - LocalBiasDays()) x 86400 rounded to the nearest second.
std::int64_t LocalToUnix(double dateTime);

} // namespace tovi
