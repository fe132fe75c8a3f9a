#include "foundation/compat/tsaf_utils.h"

#include "foundation/host/host_backend.h"
#include "foundation/text/local_day.h"

#include <ctime>

using tidewall::host::current;

std::time_t tsaf_utils::now() { return current().now(); }

std::string tsaf_utils::time_get_timestr(std::time_t t) {
    struct tm tm {};
    if (!::localtime_r(&t, &tm)) return "";
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    return buf;
}

std::time_t tsaf_utils::time_get_datetimezero(std::time_t t) { return tidewall::text::local_midnight(t); }
