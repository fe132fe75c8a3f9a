// The IPMI and firmware-table look-ups the power-supply readers share.

#include "platform/power_supply.h"

#include <tidewall/tw_platform.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"
#include "platform/tool_runners.h"

#include <boost/algorithm/string/case_conv.hpp>

#include <vector>

bool sdr_row_parse(const std::string& line, sdr_row& row) {
    std::vector<std::string> fields;
    tsaf_utils::tokenize(line.c_str(), "|", fields);
    if (fields.size() < 5) return false;
    row.name = tsaf_utils::trim(fields[0]);
    row.id = tsaf_utils::trim(fields[1]);
    row.status = tsaf_utils::trim(fields[2]);
    row.entity = tsaf_utils::trim(fields[3]);
    row.event = tsaf_utils::trim(fields[4]);
    return true;
}

bool ps_event_healthy(const std::string& event_text) {
    // ipmitool prints the asserted power-supply events, comma-separated:
    // "Presence detected", "Failure detected", "Predictive failure",
    // "Power Supply AC lost", "AC lost or out-of-range", ...
    std::string text = boost::algorithm::to_lower_copy(event_text);
    return text.find("presence detected") != std::string::npos && text.find("failure") == std::string::npos &&
           text.find("ac lost") == std::string::npos;
}

int ipmi_fru_get_ids(tw_debug& log, std::string pattern, std::list<std::string>& ids) {
    const char* tag = "ipmi_fru_get_ids";
    ids.clear();
    std::list<std::string> out;
    int status = run_ipmitool_local(log, "fru", out, 2);
    // ipmitool fails the whole listing when one FRU device times out, yet
    // prints every other device: use what it printed.
    if (status != 0 && out.empty()) {
        log.logMessage(tag, tidewall::log_level::trace, "Failed to get from fru data");
        return -1;
    }
    const std::string wanted = "FRU Device Description : " + pattern;
    for (const auto& line : out) {
        if (line.find(wanted) == std::string::npos) continue;
        std::string name, value;
        if (tsaf_utils::get_name_value_pair(line, name, value) != 0) {
            log.logMessage(tag, tidewall::log_level::failure, "Failed to extract FRU ID from string: %s", line.c_str());
            return -1;
        }
        if (value.empty()) continue;
        value = tsaf_utils::trim(value.substr(0, value.find('(')));
        if (!value.empty()) ids.push_back(value);
    }
    ids.sort();
    ids.unique();
    return ids.empty() ? -1 : 0;
}

int ipmi_get_ps_redundancy(tw_debug& log, std::string search, std::string& redundancy) {
    const char* tag = "ipmi_get_ps_redundancy";
    redundancy.clear();
    std::list<std::string> out;
    if (run_ipmitool_local(log, "sdr elist", out, 2) != 0 || out.empty()) {
        log.logMessage(tag, tidewall::log_level::failure, "Failed to get sdr elist");
        return -1;
    }
    for (const auto& line : out) {
        if (line.find(search) == std::string::npos) continue;
        std::vector<std::string> fields;
        tsaf_utils::tokenize(line.c_str(), "|", fields);
        if (fields.size() > 4) {
            redundancy = tsaf_utils::trim(fields[4]);
            return 0;
        }
        log.logMessage(tag, tidewall::log_level::trace, "Unexpected output line: %s", line.c_str());
    }
    return -1;
}

int ipmi_get_ps_redundancy_wretry(tw_debug& log, std::string search, std::string& redundancy, int retries) {
    int rc = ipmi_get_ps_redundancy(log, search, redundancy);
    for (int left = retry_count_get(retries, 10); rc != 0 && left > 0; --left)
        rc = ipmi_get_ps_redundancy(log, search, redundancy);
    return rc;
}

int ipmi_sdr_get_psstatus(tw_debug& log, std::string sensor, bool& ok) {
    const char* tag = "ipmi_sdr_get_psstatus";
    std::list<std::string> out;
    if (run_ipmitool_local(log, "sdr get " + ipmi_quote_sensor(sensor), out, 2) != 0) {
        log.logMessage(tag, tidewall::log_level::failure, "Failed to get details for sdr ID: %s", sensor.c_str());
        return -1;
    }
    for (const auto& line : out) {
        if (line.find("Status") == std::string::npos) continue;
        std::string name, value;
        if (tsaf_utils::get_name_value_pair(line, name, value) != 0) {
            log.logMessage(tag, tidewall::log_level::failure, "Failed to extract Status from string: %s", line.c_str());
            return -1;
        }
        // "Status : ok": the value carries the blank after the colon.
        value = tsaf_utils::trim(value);
        if (value.empty()) return -1;
        log.logMessage(tag, tidewall::log_level::trace, "ipmi entity '%s'- Status: %s", sensor.c_str(), value.c_str());
        ok = boost::algorithm::to_lower_copy(value) == "ok";
        return 0;
    }
    return -1;
}

int ipmi_sdr_get_pswatts(tw_debug& log, std::string sensor) {
    const char* tag = "ipmi_sdr_get_pswatts";
    std::list<std::string> out;
    if (run_ipmitool_local(log, "sdr get " + ipmi_quote_sensor(sensor), out, 2) != 0) {
        log.logMessage(tag, tidewall::log_level::failure, "Failed to get details for sdr ID: %s", sensor.c_str());
        return -1;
    }
    for (const auto& line : out) {
        if (line.find("Sensor Reading") == std::string::npos) continue;
        std::string name, value;
        if (tsaf_utils::get_name_value_pair(line, name, value) != 0) {
            log.logMessage(tag, tidewall::log_level::failure, "Failed to extract Sensor Reading from string: %s",
                           line.c_str());
            return -1;
        }
        log.logMessage(tag, tidewall::log_level::trace, "ipmi entity '%s'- Reading: %s", sensor.c_str(), value.c_str());
        // "Sensor Reading : 110 (+/- 0) Watts": the first word is the number.
        std::vector<std::string> words;
        tsaf_utils::tokenize(value.c_str(), " \t", words);
        if (words.empty()) return 0;
        unsigned watts = tsaf_utils::string_to_uint(tsaf_utils::trim(words.front()));
        return watts > 0x7fffffffU ? 0x7fffffff : static_cast<int>(watts);
    }
    return -1;
}

namespace {

int sdr_entity_rows(tw_debug& log, const char* tag, const std::string& entity, std::list<sdr_row>& rows) {
    std::list<std::string> out;
    // Entity IDs are numbers with a dot; nothing else may reach the shell.
    if (entity.empty() || entity.find_first_not_of("0123456789.") != std::string::npos ||
        run_ipmitool_local(log, "sdr entity " + entity, out, 2) != 0) {
        log.logMessage(tag, tidewall::log_level::failure, "Failed to get details for entity ID: %s", entity.c_str());
        return -1;
    }
    for (const auto& line : out) {
        sdr_row row;
        if (sdr_row_parse(line, row)) rows.push_back(row);
    }
    return 0;
}

}  // namespace

int ipmi_entityid_get_psstatus(tw_debug& log, std::string entity, bool& ok) {
    const char* tag = "ipmi_entityid_get_psstatus";
    std::list<sdr_row> rows;
    if (sdr_entity_rows(log, tag, entity, rows) != 0) return -1;
    // Every status sensor of the supply must judge healthy ("Status", "PS1 Status").
    bool found = false, healthy = true;
    for (const auto& row : rows) {
        if (boost::algorithm::to_lower_copy(row.name).find("status") == std::string::npos) continue;
        found = true;
        log.logMessage(tag, tidewall::log_level::trace, "ipmi entity ID '%s'- %s: %s", entity.c_str(), row.name.c_str(),
                       row.event.c_str());
        if (!ps_event_healthy(row.event)) healthy = false;
    }
    if (!found) return -1;
    ok = healthy;
    return 0;
}

int ipmi_entityid_get_pswatts(tw_debug& log, std::string entity) {
    const char* tag = "ipmi_entityid_get_pswatts";
    std::list<sdr_row> rows;
    if (sdr_entity_rows(log, tag, entity, rows) != 0) return -1;
    for (const auto& row : rows) {
        if (row.event.find("Watts") == std::string::npos) continue;
        log.logMessage(tag, tidewall::log_level::trace, "ipmi entity ID '%s'- Wattage value: %s", entity.c_str(),
                       row.event.c_str());
        unsigned watts = tsaf_utils::string_to_uint(row.event);
        return watts > 0x7fffffffU ? 0x7fffffff : static_cast<int>(watts);
    }
    return -1;
}

int dmi_get_powersupply_names(tw_debug& log, std::list<std::string>& names) {
    const char* tag = "dmi_get_powersupply_names";
    names.clear();
    std::list<std::string> out;
    if (run_dmidecode(log, "-t 39", out) != 0 || out.empty()) return -1;
    for (const auto& line : out) {
        if (line.find("Name:") == std::string::npos) continue;
        std::string name, value;
        if (tsaf_utils::get_name_value_pair(line, name, value) != 0) {
            log.logMessage(tag, tidewall::log_level::failure, "Failed to extract Power Supply name [%s]", line.c_str());
            continue;
        }
        value = tsaf_utils::trim(value);
        if (!value.empty()) names.push_back(value);
    }
    return names.empty() ? -1 : 0;
}
