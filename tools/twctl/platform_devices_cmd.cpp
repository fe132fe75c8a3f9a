// twctl platform nics | controllers | cpu-usage: the node's configured network
// interfaces, its storage controllers and its average CPU usage.

#include "cli.h"
#include "platform_devices.h"
#include "json_out.h"

#include <tidewall/tw_activity.h>
#include <tidewall/tw_platform.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace twctl {

namespace {

const char* or_dash(const std::string& s) { return s.empty() ? "-" : s.c_str(); }

void print_ctrl_json(const char* name, const std::list<tw_ctrlinfo>& ctrls, const char* after) {
    std::printf("  \"%s\": [", name);
    const char* sep = "";
    for (const auto& c : ctrls) {
        std::printf("%s\n    {\"type\": %s, \"model\": %s, \"pci_address\": %s, \"wwn\": %s, \"firmware\": %s, "
                    "\"state\": %s}",
                    sep, json_string(c.get_type()).c_str(), json_string(c.get_model()).c_str(),
                    json_string(c.get_bdf()).c_str(), json_string(c.get_wwn()).c_str(),
                    json_string(c.get_fwversion()).c_str(), json_string(c.get_state()).c_str());
        sep = ",";
    }
    std::printf("%s]%s\n", ctrls.empty() ? "" : "\n  ", after);
}

void print_ctrl_text(const char* heading, const std::list<tw_ctrlinfo>& ctrls, const char* none) {
    std::printf("%s\n", heading);
    if (ctrls.empty()) std::printf("  none: %s\n", none);
    for (const auto& c : ctrls)
        std::printf("  %-12s %s, firmware %s, state %s%s%s\n", or_dash(c.get_bdf()), or_dash(c.get_model()),
                    or_dash(c.get_fwversion()), or_dash(c.get_state()), c.get_wwn().empty() ? "" : ", wwn ",
                    c.get_wwn().c_str());
}

} // namespace

int platform_nics(bool json) {
    tw_platform platform;
    const std::list<tw_nicinfo> nics = platform.get_nicinfo(false);  // a look: leaves the monitoring interval alone
    if (json) {
        std::printf("{\n  \"nics\": [");
        const char* sep = "";
        for (const auto& n : nics) {
            std::printf("%s\n    {\"device\": %s, \"pci_address\": %s, \"model\": %s, \"firmware\": %s, \"link\": %s, "
                        "\"speed\": %s, \"mac\": %s, \"rx_kbps\": %.2f, \"tx_kbps\": %.2f}",
                        sep, json_string(n.get_devname()).c_str(), json_string(n.get_busaddr()).c_str(),
                        json_string(n.get_model()).c_str(), json_string(n.get_fwversion()).c_str(),
                        json_string(n.get_linkstatus()).c_str(), json_string(n.get_linkspeed()).c_str(),
                        json_string(n.get_macaddr()).c_str(), n.get_rxkbps(), n.get_txkbps());
            sep = ",";
        }
        std::printf("%s]\n}\n", nics.empty() ? "" : "\n  ");
        return 0;
    }
    std::printf("Network interfaces:\n");
    if (nics.empty())
        std::printf("  none: no interface of this node is configured in the network document "
                    "/var/lib/tidewall/nwconf.json (see %s)\n", log_file().c_str());
    for (const auto& n : nics)
        std::printf("  %-10s %s, pci %s, firmware %s, link %s, speed %s, mac %s, rx %.2f kB/s, tx %.2f kB/s\n",
                    n.get_devname().c_str(), or_dash(n.get_model()), or_dash(n.get_busaddr()),
                    or_dash(n.get_fwversion()), or_dash(n.get_linkstatus()), or_dash(n.get_linkspeed()),
                    or_dash(n.get_macaddr()), n.get_rxkbps(), n.get_txkbps());
    return 0;
}

int platform_controllers(bool json) {
    std::list<tw_ctrlinfo> sas;
    sascontrollers_examine(sas);
    tw_platform platform;
    const std::list<tw_ctrlinfo> fc = platform.get_fcinfo();
    if (json) {
        std::printf("{\n");
        print_ctrl_json("sas", sas, ",");
        print_ctrl_json("fc", fc, "");
        std::printf("}\n");
        return 0;
    }
    print_ctrl_text("SAS/RAID controllers:", sas, "lspci lists no SAS or RAID controller that amCLI, MegaCli64 or "
                                                  "ssacli describes");
    print_ctrl_text("Fibre Channel host adapters:", fc, "no host in /sys/class/fc_host");
    return 0;
}

int platform_cpu_usage(unsigned minutes) {
    // Without activity files the average would read 0.00 %, as for an idle node.
    if (tw_activity_file_count() == 0) {
        std::fprintf(stderr, "twctl platform cpu-usage: no activity files (/var/log/sa/saDD): sysstat's data "
                             "collection is not running, so there is no CPU usage to tell\n");
        return exit_failed;
    }
    tw_platform platform;
    double usage = platform.get_cpu_usage(minutes, false);  // a look: leaves the monitoring interval alone
    std::printf("CPU usage: %.2f%%\n", usage);
    return 0;
}

} // namespace twctl
