// Processor sockets from the firmware tables, with each populated socket's
// temperature from the IPMI sensor listing.

#include <tidewall/tw_platform.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"
#include "platform/tool_runners.h"

#include <memory>
#include <new>

std::list<tw_processor>& tw_platform::get_cpuinfo() {
    const char* tag = "tw_platform::get_cpuinfo";
    processors_.clear();

    std::map<int, unsigned int> temps;
    int n = proc_temp_map_init(log_, temps);
    if (n < 1) log_.logMessage(tag, tidewall::log_level::trace, "Failed to init processor temperature list");
    log_.logMessage(tag, tidewall::log_level::trace, "Processor temperature list count: %d", n);

    // Sockets are counted in firmware-table order, populated or not, so the k-th
    // socket takes the k-th processor temperature sensor.
    unsigned socket = 0;
    std::unique_ptr<tw_processor> record;
    bool populated = false;

    auto finish_record = [&]() {
        if (populated) {
            unsigned temp = 0;
            if (n > 0 && socket < static_cast<unsigned>(n)) {
                auto t = temps.find(static_cast<int>(socket) + 1);
                if (t != temps.end()) temp = t->second;
            }
            record->set_temp(temp);
            processors_.push_back(*record);
        }
        ++socket;
        record.reset();
    };

    std::list<std::string> out;
    int status = run_dmidecode(log_, "-t processor", out);
    if (status == 0 && !out.empty()) {
        for (const auto& line : out) {
            if (line.compare(0, 6, "Handle") == 0 && record) finish_record();

            if (line == "Processor Information") {
                if (record) {
                    log_.logMessage(tag, tidewall::log_level::dump,
                                    "Previous tw_processor object was not deleted. Deleting now [%p].",
                                    static_cast<void*>(record.get()));
                    record.reset();
                }
                record.reset(new (std::nothrow) tw_processor());
                if (!record) {
                    log_.logMessage(tag, tidewall::log_level::failure, "Error creating new tw_processor object. ");
                    break;
                }
                populated = false;
            }
            if (!record) continue;

            std::string name, value;
            auto split = [&](const char* failure) {
                if (tsaf_utils::get_name_value_pair(line, name, value) == 0) return true;
                log_.logMessage(tag, tidewall::log_level::failure, failure, line.c_str());
                return false;
            };
            if (line.find("Socket Designation") != std::string::npos &&
                split("Failed to extract Processor Socket Designation from string: %s"))
                record->set_name(value);
            if (line.find("Version") != std::string::npos &&
                split("Failed to extract Processor Version from string: %s"))
                record->set_version(value);
            if (line.find("Status") != std::string::npos &&
                split("Failed to extract Processor Status from string: %s")) {
                populated = value.find("Unpopulated") == std::string::npos;
                log_.logMessage(tag, tidewall::log_level::dump, "Set CPU status: %s", populated ? "1" : "0");
            }
            if (line.find("Core Count") != std::string::npos &&
                split("Failed to extract Processor Core Count from string: %s"))
                record->set_numcores(tsaf_utils::string_to_uint(value));
            if (line.find("Core Enabled") != std::string::npos &&
                split("Failed to extract Processor Cores Enabled Count from string: %s"))
                record->set_coresenabled(tsaf_utils::string_to_uint(value));
            if (line.find("Thread Count") != std::string::npos &&
                split("Failed to extract Processor Thread Count from string: %s"))
                record->set_threadcount(tsaf_utils::string_to_uint(value));
        }
        if (record) finish_record();
    }

    loginfo(PINFO_PROCESSOR);
    return processors_;
}
