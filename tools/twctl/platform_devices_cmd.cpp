// twctl platform nics | controllers | cpu-usage: the node's configured network
// interfaces, its storage controllers and its average CPU usage.

#include "platform_devices.h"
#include "json_out.h"

#include <tidewall/tw_platform.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace twctl {

namespace {

bool unexpected(const char* command, const args& words) {
    if (words.empty()) return false;
    std::fprintf(stderr, "twctl platform %s: unexpected argument '%s'\n", command, words[0].c_str());
    return true;
}

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

int platform_nics(args words) {
    bool json = take_flag(words, "--json");
    if (unexpected("nics", words)) return 2;
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
                    "/var/lib/tidewall/nwconf.json (see the product log)\n");
    for (const auto& n : nics)
        std::printf("  %-10s %s, pci %s, firmware %s, link %s, speed %s, mac %s, rx %.2f kB/s, tx %.2f kB/s\n",
                    n.get_devname().c_str(), or_dash(n.get_model()), or_dash(n.get_busaddr()),
                    or_dash(n.get_fwversion()), or_dash(n.get_linkstatus()), or_dash(n.get_linkspeed()),
                    or_dash(n.get_macaddr()), n.get_rxkbps(), n.get_txkbps());
    return 0;
}

int platform_controllers(args words) {
    bool json = take_flag(words, "--json");
    if (unexpected("controllers", words)) return 2;
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

int platform_cpu_usage(args words) {
    unsigned minutes = 0;
    for (auto it = words.begin(); it != words.end(); ++it) {
        if (*it != "--minutes") continue;
        if (it + 1 == words.end()) {
            std::fprintf(stderr, "twctl platform cpu-usage: --minutes needs a number\n");
            return 2;
        }
        const std::string& v = *(it + 1);
        char* end = nullptr;
        errno = 0;
        unsigned long n = std::strtoul(v.c_str(), &end, 10);
        if (v.empty() || v[0] < '0' || v[0] > '9' || *end != '\0' || errno == ERANGE || n == 0 || n > UINT_MAX / 60) {
            std::fprintf(stderr, "twctl platform cpu-usage: --minutes wants a whole number of minutes from 1, not '%s'\n",
                         v.c_str());
            return 2;
        }
        minutes = static_cast<unsigned>(n);
        words.erase(it, it + 2);
        break;
    }
    if (unexpected("cpu-usage", words)) return 2;
    tw_platform platform;
    double usage = platform.get_cpu_usage(minutes, false);  // a look: leaves the monitoring interval alone
    std::printf("CPU usage: %.2f%%\n", usage);
    return 0;
}

} // namespace twctl
