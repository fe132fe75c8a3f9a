#ifndef TIDEWALL_METADATA_FAILURE_RECORD_H
#define TIDEWALL_METADATA_FAILURE_RECORD_H

#include <tidewall/tw_debug.h>

#include <cstdarg>
#include <list>
#include <string>

namespace tidewall::metadata {

// Logs a failure at -1 under tag and keeps its text for the caller's
// get_failures(), so operators see why a configure stopped.
void record_failure(tw_debug& log, std::list<std::string>& failures, const char* tag, const char* fmt, va_list args);

}  // namespace tidewall::metadata

#endif
