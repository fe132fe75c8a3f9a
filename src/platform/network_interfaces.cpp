// The node's configured network interfaces: which they are and their
// addresses from the network document, model, firmware, link and driver from
// lspci and ethtool, throughput from sar.

#include <tidewall/tw_platform.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/sync.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"
#include "platform/tool_runners.h"

#include <vector>

using tidewall::shell_quote;

namespace {

bool says_unknown(const std::string& s) {
    return s.find("Unknown") != std::string::npos || s.find("unknown") != std::string::npos;
}

// The command that reads one fact about an interface; empty for an unknown fact.
std::string nic_fact_command(const std::string& what, const std::string& dev, const std::string& busaddr) {
    const std::string d = shell_quote(dev);
    if (what == "model") return "lspci -s " + shell_quote(busaddr) + " | cut -d ' ' -f 2- | cut -d ':' -f 2-";
    if (what == "fwver") return "ethtool -i " + d + " | grep \"firmware-version\" | cut -d ':' -f 2-";
    if (what == "linkstatus") return "ethtool " + d + " | grep \"Link detected\" | cut -d ':' -f 2-";
    if (what == "linkspeed") return "ethtool " + d + " | grep \"Speed\" | cut -d ':' -f 2-";
    if (what == "macaddr") return "ifconfig " + d + " | egrep -o \"..:..:..:..:..:..\"";
    if (what == "version") return "ethtool -i " + d + " | grep -E '(^version)' | cut -d ':' -f 2-";
    return "";
}

}  // namespace

int tw_platform::get_nicdevinfo(const std::string& dev, const std::string& busaddr, const std::string& what,
                                std::string& value, int retry_count) {
    const char* tag = "tw_platform::get_nicdevinfo";
    const std::string cmd = nic_fact_command(what, dev, busaddr);
    if (cmd.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "Unknown NIC info [%s] asked for device [%s]", what.c_str(),
                        dev.c_str());
        return 0;
    }
    if (what == "model" && busaddr.empty()) {
        // "lspci -s ''" lists every device: the first one's name is no model of this port.
        log_.logMessage(tag, tidewall::log_level::failure, "No PCI address for device [%s]. Cannot get NIC info %s",
                        dev.c_str(), what.c_str());
        return 0;
    }
    int retries = retry_count_get(retry_count, 10);
    int status = 0;
    bool ok = false;
    std::list<std::string> out;
    while (true) {
        log_.logMessage(tag, tidewall::log_level::trace, "Get NIC info %s (retry_count=[%d])", what.c_str(), retries);
        out.clear();
        status = tsaf_utils::popen(cmd, out, tidewall::time_limits::kDefaultS);
        ok = false;
        if (status == 0 && !out.empty()) {
            value = tsaf_utils::trim(out.front());
            ok = !value.empty();
            // A link that is down is worth asking again; the answer is kept.
            if (what == "linkstatus" && value != "yes" && value != "Yes" && value != "YES") ok = false;
            if (what == "linkspeed" && says_unknown(value)) value = "0";
        }
        if (ok || retries <= 0) break;
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Error [%d] getting NIC info %s, command[%s] output [%s] retry count [%u]", status,
                        what.c_str(), cmd.c_str(), out.empty() ? "" : out.front().c_str(),
                        static_cast<unsigned>(retries));
        ZUSLEEP_InTeRnAl(100);
        --retries;
    }
    if (!ok)
        log_.logMessage(tag, tidewall::log_level::failure, "Error [%d] getting NIC info %s, output [%s]", status,
                        what.c_str(), out.empty() ? "" : out.front().c_str());
    return 0;
}

std::list<tw_nicinfo>& tw_platform::get_nicinfo() { return get_nicinfo(true); }

std::list<tw_nicinfo>& tw_platform::get_nicinfo(bool record_interval) {
    const char* tag = "tw_platform::get_nicinfo";
    nics_.clear();
    std::list<std::string> devices;
    std::map<std::string, tw_nicinfo> configured;
    if (tsaf_utils::popen("ls /sys/class/net/", devices, tidewall::time_limits::kDefaultS) != 0 || devices.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "No network devices found");
        loginfo(PINFO_NIC);
        return nics_;
    }
    config_get_nicmap(configured);
    if (configured.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "No configured network devices found");
        loginfo(PINFO_NIC);
        return nics_;
    }

    std::string start;  // one interval start for every interface
    for (const auto& dev : devices) {
        log_.logMessage(tag, tidewall::log_level::trace, "Check if NIC device [%s] is configured", dev.c_str());
        auto it = configured.find(dev);
        if (it == configured.end()) {
            log_.logMessage(tag, tidewall::log_level::dump, "Interface [%s] is not configured. Not reporting it.",
                            dev.c_str());
            continue;
        }
        tw_nicinfo nic = it->second;
        std::string speed = nic.get_linkspeed();
        if (speed.empty() || says_unknown(speed)) speed = "0";
        nic.set_linkspeed(speed + "Mb/s");

        std::string value;
        get_nicdevinfo(dev, nic.get_busaddr(), "model", value, 2);
        nic.set_model(value);
        value.clear();
        get_nicdevinfo(dev, nic.get_busaddr(), "fwver", value, 2);
        nic.set_fwversion(value);
        value.clear();
        get_nicdevinfo(dev, nic.get_busaddr(), "linkstatus", value, 2);
        nic.set_linkstatus(value);
        value.clear();
        get_nicdevinfo(dev, nic.get_busaddr(), "version", value, 2);
        nic.set_driver_version(value);

        double rx = 0, tx = 0;
        get_nicdevstats(dev, 0, rx, tx, "sLastMonitorTimeNW", start);
        nic.set_rxkbps(rx);
        nic.set_txkbps(tx);
        nics_.push_back(nic);
    }
    if (record_interval) tsaf_utils::set_reg_key("sLastMonitorTimeNW", std::to_string(tsaf_utils::now()));
    loginfo(PINFO_NIC);
    return nics_;
}

bool tw_platform::nic_is_physical(std::string dev) {
    const char* tag = "tw_platform::nic_is_physical";
    std::list<std::string> out;
    if (tsaf_utils::popen("ethtool -P " + double_quoted_arg(dev), out, tidewall::time_limits::kDefaultS) != 0 ||
        out.empty())
        return false;
    // "Permanent address: 02:fc:00:00:00:01"; virtual devices show all zeros.
    std::vector<std::string> fields;
    tsaf_utils::tokenize(out.front().c_str(), " \t", fields);
    if (fields.size() < 3) {
        log_.logMessage(tag, tidewall::log_level::trace, "Unexpected output line: %s", out.front().c_str());
        return false;
    }
    return tsaf_utils::trim(fields[2]) != "00:00:00:00:00:00";
}

int tw_platform::nic_get_busaddr(std::string dev, std::string& busaddr) {
    busaddr.clear();
    std::list<std::string> out;
    if (tsaf_utils::popen("ethtool -i " + shell_quote(dev) + " | grep bus-info | cut -d ' ' -f 2", out,
                          tidewall::time_limits::kDefaultS) != 0 ||
        out.empty())
        return -1;
    busaddr = tsaf_utils::trim(out.front());
    return 0;
}
