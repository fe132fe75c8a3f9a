// Total and used memory from /proc/meminfo.

#include <tidewall/tw_platform.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"

tw_memory& tw_platform::get_memoryinfo() {
    const char* tag = "tw_platform::get_memoryinfo";
    std::list<std::string> out;
    int status = tsaf_utils::popen("cat /proc/meminfo", out, tidewall::time_limits::kDefaultS);
    if (status != 0 || out.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to get memory info with error [%d].", status);
        loginfo(PINFO_MEMORY);
        return memory_;
    }

    std::uint64_t total_kb = 0, available_kb = 0;
    bool scanned = true;
    for (const auto& line : out) {
        std::string name, value;
        if (line.find("MemTotal") != std::string::npos) {
            if (tsaf_utils::get_name_value_pair(line, name, value) != 0) {
                log_.logMessage(tag, tidewall::log_level::failure, "Failed to extract MemTotal value from string: %s",
                                line.c_str());
                scanned = false;
                break;
            }
            total_kb = tsaf_utils::string_to_ulong(tsaf_utils::trim_right(value, " kB"));
        }
        if (line.find("MemAvailable") != std::string::npos) {
            if (tsaf_utils::get_name_value_pair(line, name, value) != 0) {
                log_.logMessage(tag, tidewall::log_level::failure,
                                "Failed to extract MemAvailable value from string: %s", line.c_str());
                scanned = false;
                break;
            }
            available_kb = tsaf_utils::string_to_ulong(tsaf_utils::trim_right(value, " kB"));
        }
    }
    if (scanned) {
        memory_.set_totalmem(total_kb >> 10);
        // More available than total only comes from a damaged table: report none used
        // rather than a wrapped-around figure.
        memory_.set_usedmem(available_kb > total_kb ? 0 : (total_kb - available_kb) >> 10);
    }
    loginfo(PINFO_MEMORY);
    return memory_;
}
