// Fans from the IPMI fan sensors.

#include <tidewall/tw_platform.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"
#include "platform/tool_runners.h"

#include <boost/algorithm/string/case_conv.hpp>

#include <vector>

std::list<tw_faninfo>& tw_platform::get_faninfo_internal() {
    const char* tag = "tw_platform::get_faninfo_internal";
    fans_.clear();
    std::string vendor = get_systeminfo().get_vendor();

    std::list<std::string> out;
    if (run_ipmitool_local(log_, "sdr type fan | grep -i FAN", out, 2) != 0 || out.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to get fan info from sdr");
        return fans_;
    }

    // HPE boards list several sensors per fan (speed, duty cycle, ...), one after
    // the other under one entity: the first of them stands for the fan.
    const bool hpe = vendor == "HPE" || vendor == "HP";
    std::string last_entity = "0";
    for (const auto& line : out) {
        if (boost::algorithm::to_lower_copy(line).find("redundan") != std::string::npos) continue;
        std::vector<std::string> fields;
        tsaf_utils::tokenize(line.c_str(), "|", fields);

        if (hpe) {
            if (fields.size() > 3) {
                std::string entity = tsaf_utils::trim(fields[3]);
                if (last_entity != "0" && last_entity == entity) continue;
                last_entity = entity;
            } else {
                log_.logMessage(tag, tidewall::log_level::trace, "Unexpected output line: %s", line.c_str());
            }
        }

        tw_faninfo fan;
        if (!fields.empty()) fan.set_name(tsaf_utils::trim(fields[0]));
        if (fields.size() > 4)
            fan.set_value(tsaf_utils::trim(fields[4]));
        else
            log_.logMessage(tag, tidewall::log_level::trace, "Unexpected output line: %s", line.c_str());
        if (fields.size() > 2)
            fan.set_status(tsaf_utils::trim(fields[2]) == "ok");
        else
            log_.logMessage(tag, tidewall::log_level::trace, "Unexpected output line: %s", line.c_str());
        fans_.push_back(fan);
    }

    loginfo(PINFO_FAN);
    return fans_;
}

std::list<tw_faninfo>& tw_platform::get_faninfo() {
    // A fan can read unhealthy for one pass while it spins up; a disabled fan
    // reads so on every pass and is no reason to look again.
    auto worth_another_pass = [this]() {
        for (const auto& fan : fans_) {
            std::string value = fan.get_value();
            if (!fan.get_status() && value.find("Disabled") == std::string::npos &&
                value.find("disabled") == std::string::npos)
                return true;
        }
        return false;
    };
    get_faninfo_internal();
    for (int pass = 1; pass < 3 && worth_another_pass(); ++pass) get_faninfo_internal();
    return fans_;
}
