#include "metadata/failure_record.h"
#include "foundation/log/log_level.h"

#include <cstdio>

namespace tidewall::metadata {

void record_failure(tw_debug& log, std::list<std::string>& failures, const char* tag, const char* fmt, va_list args) {
    char buf[2048];
    std::vsnprintf(buf, sizeof buf, fmt, args);
    log.logMessage(tag, tidewall::log_level::failure, "%s", buf);
    failures.push_back(buf);
}

}  // namespace tidewall::metadata
