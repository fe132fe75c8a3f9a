#include "foundation/text/local_day.h"

namespace tidewall::text {

std::time_t local_midnight(std::time_t t, int days) {
    struct tm tm {};
    if (!::localtime_r(&t, &tm)) return t;
    tm.tm_mday += days;
    tm.tm_hour = 0;
    tm.tm_min = 0;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;  // the offset in force at midnight, which a DST change may differ from t's
    return std::mktime(&tm);
}

}  // namespace tidewall::text
