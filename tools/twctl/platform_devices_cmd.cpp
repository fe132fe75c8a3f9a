// twctl platform nics | controllers | cpu-usage: the node's configured network
// interfaces, its storage controllers and its average CPU usage.

#include "cli.h"
#include "json_out.h"
#include "platform_devices.h"

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

twjson::Array ctrl_json(const std::list<tw_ctrlinfo>& ctrls) {
    twjson::Array out;
    for (const auto& c : ctrls) {
        twjson::Object o;
        o << "type" << c.get_type() << "model" << c.get_model() << "pci_address" << c.get_bdf() << "wwn" << c.get_wwn()
          << "firmware" << c.get_fwversion() << "state" << c.get_state();
        out << std::move(o);
    }
    return out;
}

void print_ctrl_text(const char* heading, const std::list<tw_ctrlinfo>& ctrls, const char* none) {
    std::printf("%s\n", heading);
    if (ctrls.empty()) std::printf("  none: %s\n", none);
    for (const auto& c : ctrls)
        std::printf("  %-12s %s, firmware %s, state %s%s%s\n", or_dash(c.get_bdf()), or_dash(c.get_model()),
                    or_dash(c.get_fwversion()), or_dash(c.get_state()), c.get_wwn().empty() ? "" : ", wwn ",
                    c.get_wwn().c_str());
}

}  // namespace

int platform_nics(bool json) {
    tw_platform platform;
    const std::list<tw_nicinfo> nics = platform.get_nicinfo(false);  // a look: leaves the monitoring interval alone
    if (json) {
        twjson::Array list;
        for (const auto& n : nics) {
            twjson::Object o;
            o << "device" << n.get_devname() << "pci_address" << n.get_busaddr() << "model" << n.get_model()
              << "firmware" << n.get_fwversion() << "link" << n.get_linkstatus() << "speed" << n.get_linkspeed()
              << "mac" << n.get_macaddr() << "rx_kbps" << rounded(n.get_rxkbps(), 2) << "tx_kbps"
              << rounded(n.get_txkbps(), 2);
            list << std::move(o);
        }
        twjson::Object doc;
        doc << "nics" << std::move(list);
        print_document(doc);
        return 0;
    }
    std::printf("Network interfaces:\n");
    if (nics.empty())
        std::printf(
            "  none: no interface of this node is configured in the network document "
            "/var/lib/tidewall/nwconf.json (see %s)\n",
            log_file().c_str());
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
        twjson::Object doc;
        doc << "sas" << ctrl_json(sas) << "fc" << ctrl_json(fc);
        print_document(doc);
        return 0;
    }
    print_ctrl_text("SAS/RAID controllers:", sas,
                    "lspci lists no SAS or RAID controller that amCLI, MegaCli64 or "
                    "ssacli describes");
    print_ctrl_text("Fibre Channel host adapters:", fc, "no host in /sys/class/fc_host");
    return 0;
}

int platform_cpu_usage(unsigned minutes) {
    // Without activity files the average would read 0.00 %, as for an idle node.
    if (tw_activity_file_count() == 0) {
        std::fprintf(stderr,
                     "twctl platform cpu-usage: no activity files (/var/log/sa/saDD): sysstat's data "
                     "collection is not running, so there is no CPU usage to tell\n");
        return exit_failed;
    }
    tw_platform platform;
    double usage = platform.get_cpu_usage(minutes, false);  // a look: leaves the monitoring interval alone
    std::printf("CPU usage: %.2f%%\n", usage);
    return 0;
}

}  // namespace twctl
