// Power supplies by server maker: their names, redundancy and health.
//
// FUJITSU follows a fixed procedure (sdr status with a wattage check, three
// attempts). The other makers' rules are ours and rest on one verdict,
// ps_event_healthy(): a supply is healthy when its sensor reports "Presence
// detected" and neither a failure nor a lost AC input. Each reader below says
// which sensor lines it judges.

#include "platform/power_supply.h"

#include <tidewall/tw_platform.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"
#include "platform/tool_runners.h"

#include <boost/algorithm/string/case_conv.hpp>

namespace {

// The power-supply sensors of the BMC, one row per line that has all columns.
int ps_sensor_rows(tw_debug& log, std::list<sdr_row>& rows) {
    std::list<std::string> out;
    if (run_ipmitool_local(log, "sdr type \"Power Supply\"", out, 2) != 0 || out.empty()) return -1;
    for (const auto& line : out) {
        sdr_row row;
        if (sdr_row_parse(line, row)) rows.push_back(row);
    }
    return 0;
}

// The supply's number in its name ("PS2", "PSU2", "Power Supply 2"): the last
// run of digits; empty when there is none.
std::string supply_number(const std::string& name) {
    size_t end = name.find_last_of("0123456789");
    if (end == std::string::npos) return "";
    size_t start = name.find_last_not_of("0123456789", end);
    start = start == std::string::npos ? 0 : start + 1;
    return name.substr(start, end - start + 1);
}

void judge_by_entity(tw_debug& log, const char* tag, tw_powersupply& ps) {
    // IPMI numbers power supplies as entity 10, instance = the supply's number.
    std::string number = supply_number(ps.get_name());
    bool ok = false;
    if (number.empty()) {
        log.logMessage(tag, tidewall::log_level::failure, "No supply number in name [%s]", ps.get_name().c_str());
    } else {
        std::string instance = tsaf_utils::trim_left(number, "0");
        if (ipmi_entityid_get_psstatus(log, "10." + (instance.empty() ? "0" : instance), ok) != 0) ok = false;
    }
    ps.set_status(ok);
}

void report_failure(tw_debug& log, const char* tag, const tw_powersupply& ps) {
    if (!ps.get_status())
        log.logMessage(tag, tidewall::log_level::failure, "Power Supply failure for '%s'", ps.get_name().c_str());
}

}  // namespace

void fujitsu_get_psinfo(tw_debug& log, std::list<tw_powersupply>& supplies) {
    const char* tag = "fujitsu_get_psinfo";
    std::list<std::string> ids;
    log.logMessage(tag, tidewall::log_level::trace, "Fetching PS* ID names from FRU list.");
    if (ipmi_fru_get_ids(log, "PS", ids) != 0) {
        log.logMessage(tag, tidewall::log_level::trace, "PS* ID names not present in FRU IDs.");
        return;
    }
    for (const auto& id : ids) {
        tw_powersupply ps;
        ps.set_name(id);
        std::string redundancy;
        if (ipmi_get_ps_redundancy_wretry(log, "Power Unit", redundancy, 0) != 0)
            log.logMessage(tag, tidewall::log_level::failure,
                           "Failed to get redundancy with search string 'Power Unit' for - %s", id.c_str());
        ps.set_redundancy(redundancy);

        // A supply that reads ok but delivers no power is not healthy; such a
        // reading is read again, an unreadable one is not.
        bool ok = false;
        for (int attempt = 0; attempt < 1 + retry_count_get(2, 10); ++attempt) {
            ok = false;
            if (ipmi_sdr_get_psstatus(log, id, ok) != 0) {
                ok = false;
                break;
            }
            if (ok && ipmi_sdr_get_pswatts(log, id + " Power") <= 0) ok = false;
            if (ok) break;
        }
        ps.set_status(ok);
        supplies.push_back(ps);
    }
}

// HPE: names from the firmware tables ("Power Supply 1"). The sensor of that
// name judges the supply; the "PS n Output" sensor of the same entity, when it
// reports a failure or lost AC, fails it as well.
void hpe_get_psinfo(tw_debug& log, std::list<tw_powersupply>& supplies) {
    const char* tag = "hpe_get_psinfo";
    std::list<std::string> names;
    if (dmi_get_powersupply_names(log, names) != 0) {
        log.logMessage(tag, tidewall::log_level::trace, "No power supply names in the firmware tables.");
        return;
    }
    std::string redundancy;
    if (ipmi_get_ps_redundancy_wretry(log, "Power Supplies", redundancy, 0) != 0)
        log.logMessage(tag, tidewall::log_level::failure,
                       "Failed to get redundancy with search string 'Power Supplies'");
    std::list<sdr_row> rows;
    if (ps_sensor_rows(log, rows) != 0)
        log.logMessage(tag, tidewall::log_level::failure, "Failed to get power supply sensors");

    for (const auto& name : names) {
        tw_powersupply ps;
        ps.set_name(name);
        ps.set_redundancy(redundancy);
        bool ok = false;
        std::string entity;
        for (const auto& row : rows) {
            if (row.name != name) continue;
            log.logMessage(tag, tidewall::log_level::trace, "ipmi entity '%s' - Status: %s", row.name.c_str(),
                           row.event.c_str());
            ok = ps_event_healthy(row.event);
            entity = row.entity;
            break;
        }
        for (const auto& row : rows) {
            if (entity.empty() || row.entity != entity || row.name.find("Output") == std::string::npos) continue;
            log.logMessage(tag, tidewall::log_level::trace, "ipmi entity '%s' - Output: %s", row.name.c_str(),
                           row.event.c_str());
            std::string text = boost::algorithm::to_lower_copy(row.event);
            if (text.find("failure") != std::string::npos || text.find("ac lost") != std::string::npos) ok = false;
        }
        ps.set_status(ok);
        report_failure(log, tag, ps);
        supplies.push_back(ps);
    }
}

// DELL: names from the FRU list ("PS1"). The supply's "Status" sensors (entity
// 10.n, named "Status" or "PS1 Status" by iDRAC generation) judge it.
void dell_get_psinfo(tw_debug& log, std::list<tw_powersupply>& supplies) {
    const char* tag = "dell_get_psinfo";
    std::list<std::string> ids;
    if (ipmi_fru_get_ids(log, "PS", ids) != 0) {
        log.logMessage(tag, tidewall::log_level::trace, "PS* ID names not present in FRU IDs.");
        return;
    }
    std::string redundancy;
    if (ipmi_get_ps_redundancy_wretry(log, "PS Redundancy", redundancy, 0) != 0)
        log.logMessage(tag, tidewall::log_level::failure,
                       "Failed to get redundancy with search string 'PS Redundancy'");
    for (const auto& id : ids) {
        tw_powersupply ps;
        ps.set_name(id);
        ps.set_redundancy(redundancy);
        judge_by_entity(log, tag, ps);
        report_failure(log, tag, ps);
        supplies.push_back(ps);
    }
}

// Supermicro: every "Status" sensor of the power-supply listing is one supply
// ("PS1 Status" gives "PS1"); its event text judges it. No redundancy sensor.
void supermicro_get_psinfo(tw_debug& log, std::list<tw_powersupply>& supplies) {
    const char* tag = "supermicro_get_psinfo";
    std::list<sdr_row> rows;
    if (ps_sensor_rows(log, rows) != 0) {
        log.logMessage(tag, tidewall::log_level::failure, "Failed to get power supply sensors");
        return;
    }
    for (const auto& row : rows) {
        if (row.name.find("Status") == std::string::npos) continue;
        log.logMessage(tag, tidewall::log_level::trace, "ipmi entity '%s' - Status: %s", row.name.c_str(),
                       row.event.c_str());
        std::string name = tsaf_utils::trim_right(row.name.substr(0, row.name.rfind("Status")), " _");
        tw_powersupply ps;
        ps.set_name(name.empty() ? row.name : name);
        ps.set_status(ps_event_healthy(row.event));
        report_failure(log, tag, ps);
        supplies.push_back(ps);
    }
}

// Lenovo: names from the FRU list; the supply's status sensors (entity 10.n)
// judge it, as on DELL. The BMC has no redundancy sensor we can rely on.
void lenovo_get_psinfo(tw_debug& log, std::list<tw_powersupply>& supplies) {
    const char* tag = "lenovo_get_psinfo";
    std::list<std::string> ids;
    // XClarity names them "PSU1"; older IMM boards "Power Supply 1".
    if (ipmi_fru_get_ids(log, "PS", ids) != 0 && ipmi_fru_get_ids(log, "Power Supply", ids) != 0) {
        log.logMessage(tag, tidewall::log_level::trace, "PS* ID names not present in FRU IDs.");
        return;
    }
    log.logMessage(tag, tidewall::log_level::trace, "No PS redundancy info.");
    for (const auto& id : ids) {
        tw_powersupply ps;
        ps.set_name(id);
        judge_by_entity(log, tag, ps);
        report_failure(log, tag, ps);
        supplies.push_back(ps);
    }
}

// Cisco: names from the FRU list ("FRU_PSU1"); the sensor "PSU1_STATUS" of the
// power-supply listing judges it.
void cisco_get_psinfo(tw_debug& log, std::list<tw_powersupply>& supplies) {
    const char* tag = "cisco_get_psinfo";
    std::list<std::string> ids;
    if (ipmi_fru_get_ids(log, "FRU_PS", ids) != 0) {
        log.logMessage(tag, tidewall::log_level::trace, "FRU_PS* ID names not present in FRU IDs.");
        return;
    }
    std::string redundancy;
    if (ipmi_get_ps_redundancy_wretry(log, "PS_RDNDNT_MODE", redundancy, 0) != 0)
        log.logMessage(tag, tidewall::log_level::failure,
                       "Failed to get redundancy with search string 'PS_RDNDNT_MODE'");
    std::list<sdr_row> rows;
    if (ps_sensor_rows(log, rows) != 0)
        log.logMessage(tag, tidewall::log_level::failure, "Failed to get power supply sensors");

    for (const auto& id : ids) {
        tw_powersupply ps;
        ps.set_name(id);
        ps.set_redundancy(redundancy);
        const std::string sensor = (id.compare(0, 4, "FRU_") == 0 ? id.substr(4) : id) + "_STATUS";
        bool ok = false, found = false;
        for (const auto& row : rows) {
            if (row.name != sensor) continue;
            found = true;
            log.logMessage(tag, tidewall::log_level::trace, "ipmi entity '%s' - Status: %s", row.name.c_str(),
                           row.event.c_str());
            ok = ps_event_healthy(row.event);
            break;
        }
        if (!found)
            log.logMessage(tag, tidewall::log_level::trace, "No sensor [%s] for '%s'", sensor.c_str(), id.c_str());
        ps.set_status(ok);
        report_failure(log, tag, ps);
        supplies.push_back(ps);
    }
}

std::list<tw_powersupply>& tw_platform::get_pwrsupplyinfo() {
    const char* tag = "tw_platform::get_pwrsupplyinfo";
    std::string vendor = get_systeminfo().get_vendor();
    pwrsupplies_.clear();

    int maker = 0;
    auto known = vendor_strmap.find(vendor);
    if (known != vendor_strmap.end()) {
        maker = known->second;
    } else {
        std::string lower = boost::algorithm::to_lower_copy(vendor);
        if (lower.find("dell") != std::string::npos)
            maker = VENDOR_DELL;
        else if (lower.find("cisco") != std::string::npos)
            maker = VENDOR_CISCO;
        else
            log_.logMessage(tag, tidewall::log_level::trace, "Unsupported vendor as per vendor strmap [%s]",
                            vendor.c_str());
    }

    switch (maker) {
    case VENDOR_FUJITSU: fujitsu_get_psinfo(log_, pwrsupplies_); break;
    case VENDOR_HPE: hpe_get_psinfo(log_, pwrsupplies_); break;
    case VENDOR_DELL: dell_get_psinfo(log_, pwrsupplies_); break;
    case VENDOR_SUPERMICRO: supermicro_get_psinfo(log_, pwrsupplies_); break;
    case VENDOR_LENOVO: lenovo_get_psinfo(log_, pwrsupplies_); break;
    case VENDOR_CISCO: cisco_get_psinfo(log_, pwrsupplies_); break;
    default: break;
    }
    loginfo(PINFO_POWERSUPPLY);
    return pwrsupplies_;
}
