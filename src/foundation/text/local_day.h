#ifndef TIDEWALL_FOUNDATION_TEXT_LOCAL_DAY_H
#define TIDEWALL_FOUNDATION_TEXT_LOCAL_DAY_H

// Local calendar days, as sar's daily files and the operator count them.

#include <ctime>

namespace tidewall::text {

// The local midnight that begins the day `days` after t's day (0: t's own day).
// Days are counted in the calendar, not in steps of 86400 s, which a change to
// or from daylight saving time would carry off midnight. t itself when it has
// no local time.
std::time_t local_midnight(std::time_t t, int days = 0);

}  // namespace tidewall::text

#endif
