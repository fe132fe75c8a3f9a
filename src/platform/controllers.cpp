// SAS/RAID controllers: the kernel drivers of the controllers lspci lists, and
// for each driver the vendor tool that describes its controllers.

#include "platform/controllers.h"

#include <tidewall/tw_platform.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"
#include "platform/tool_runners.h"

#include <set>
#include <sstream>

using tidewall::shell_quote;

namespace {

const char* const kSasRaidControllers = "lspci | grep -i controller | egrep -i 'sas|raid' | cut -d ' ' -f 1";

// The value after the first colon of line, trimmed; empty when it has none.
std::string value_of(const std::string& line) {
    std::string name, value;
    if (tsaf_utils::get_name_value_pair(line, name, value) != 0) return "";
    return tsaf_utils::trim(value);
}

// A MegaCli64 PCI number at least two digits wide.
std::string two_digits(const std::string& v) { return v.size() == 1 ? "0" + v : v; }

tw_ctrlinfo sas_record() {
    tw_ctrlinfo c;
    c.set_type("SAS");
    return c;
}

void list_amcli(tw_debug& log, const char* tag, std::list<tw_ctrlinfo>& out) {
    std::list<std::string> devnums;
    if (amcli_list_devnum(log, "SAS adapter", devnums) != 0 || devnums.empty()) {
        log.logMessage(tag, tidewall::log_level::failure, "No SAS adapters found");
        return;
    }
    log.logMessage(tag, tidewall::log_level::trace, "amCLI SAS adapters found. Count: %u",
                   static_cast<unsigned>(devnums.size()));
    for (const auto& devnum : devnums) {
        tw_ctrlinfo c = sas_record();
        std::string v;
        if (amcli_devnum_get_prop(log, devnum, "product", v) == 0) c.set_model(v);
        if (amcli_devnum_get_prop(log, devnum, "firmware_version", v) == 0) c.set_fwversion(v);
        if (amcli_devnum_get_pciaddr(log, devnum, v) == 0) c.set_bdf(v);
        if (amcli_devnum_get_prop(log, devnum, "status", v) == 0) c.set_state(v);
        out.push_back(c);
    }
}

void list_megacli(tw_debug& log, const char* tag, std::list<tw_ctrlinfo>& out) {
    unsigned count = megacli_get_adpcount(log);
    log.logMessage(tag, tidewall::log_level::trace, "Megacli SAS adapters found. Count: %u", count);
    for (unsigned adp = 0; adp < count; ++adp) {
        tw_ctrlinfo c = sas_record();
        std::string v;
        megacli_adp_get_prop(log, adp, "Product Name", v);
        c.set_model(v);
        megacli_adp_get_prop(log, adp, "FW Version", v);
        c.set_fwversion(v);
        megacli_adp_get_pciaddr(log, adp, v);
        c.set_bdf(v);
        out.push_back(c);
    }
}

void list_ssacli(tw_debug& log, std::list<tw_ctrlinfo>& out) {
    std::map<int, std::string> slots;
    if (hpcli_slot_map(log, slots) != 0) return;
    std::list<std::string> lines;
    if (run_hpcli(log, "controller all show detail", lines) == 0 && !lines.empty())
        hpcli_parse_ctrl_detail(lines, slots, out);
}

// The work of get_sascontrolinfo() past its gate. A tool that fails hides only
// its own controllers: the other drivers are still asked.
void collect_sas_controllers(tw_platform& platform, tw_debug& log, const char* tag, std::list<tw_ctrlinfo>& out) {
    std::set<std::string> drivers;
    platform.get_sasctrl_driverlist(drivers);
    const tw_system system = platform.get_systeminfo();
    bool ssacli_listed = false;
    for (const auto& driver : drivers) {
        if (driver == "mpt3sas") {
            // Only FUJITSU ships amCLI for its mpt3sas controllers.
            if (system.get_vendor() == "FUJITSU") list_amcli(log, tag, out);
        } else if (driver == "megaraid_sas") {
            list_megacli(log, tag, out);
        } else if (driver == "hpsa" || driver == "smartpqi") {
            // One ssacli listing shows the controllers of both drivers.
            if (!ssacli_listed) list_ssacli(log, out);
            ssacli_listed = true;
        }
    }
}

}  // namespace

// --- amCLI ---

int amcli_list_devnum(tw_debug& log, std::string searchstr, std::list<std::string>& devnums) {
    const char* tag = "amcli_list_devnum";
    devnums.clear();
    std::list<std::string> out;
    if (run_amcli(log, "-l struct | grep -i " + double_quoted_arg(searchstr), out) != 0 || out.empty()) {
        log.logMessage(tag, tidewall::log_level::failure, "amCLI: Failed to get devnum for searchstr - [%s]",
                       searchstr.c_str());
        return -1;
    }
    for (const auto& line : out) {
        std::string name, value;
        if (tsaf_utils::get_name_value_pair(line, name, value) != 0) continue;
        name = tsaf_utils::trim(name);
        if (!name.empty()) devnums.push_back(name);
    }
    return 0;
}

int amcli_devnum_get_prop(tw_debug& log, std::string devnum, std::string prop, std::string& value) {
    const char* tag = "amcli_devnum_get_prop";
    std::list<std::string> out;
    if (run_amcli(log, "--get " + shell_quote(devnum) + " " + shell_quote(prop), out) != 0 || out.empty()) {
        log.logMessage(tag, tidewall::log_level::failure, "amCLI: Devnum [%s] Failed to get property - [%s]",
                       devnum.c_str(), prop.c_str());
        return -1;
    }
    value = tsaf_utils::trim(out.front());
    return 0;
}

int amcli_devnum_get_pciaddr(tw_debug& log, std::string devnum, std::string& pciaddr) {
    std::string bus, device, function;
    if (amcli_devnum_get_prop(log, devnum, "pci_bus", bus) != 0 ||
        amcli_devnum_get_prop(log, devnum, "pci_device", device) != 0 ||
        amcli_devnum_get_prop(log, devnum, "pci_function", function) != 0) {
        pciaddr.clear();
        return -1;
    }
    pciaddr = tsaf_utils::uint_to_hexstr(tsaf_utils::string_to_uint(bus), 2) + ":" +
              tsaf_utils::uint_to_hexstr(tsaf_utils::string_to_uint(device), 2) + "." +
              tsaf_utils::uint_to_hexstr(tsaf_utils::string_to_uint(function), 1);
    return 0;
}

// --- MegaCli64 ---

unsigned megacli_get_adpcount(tw_debug& log) {
    std::list<std::string> out;
    if (run_megacli(log, "adpcount | grep -i \"Controller Count\"", out) != 0 || out.empty()) return 0;
    return tsaf_utils::string_to_uint(value_of(out.front()));  // "Controller Count: 1."
}

int megacli_adp_get_prop(tw_debug& log, unsigned adp, std::string prop, std::string& value) {
    const char* tag = "megacli_adp_get_prop";
    value.clear();
    std::list<std::string> out;
    std::string args = "adpallinfo a" + std::to_string(adp) + " | grep -i " + double_quoted_arg(prop);
    if (run_megacli(log, args, out) != 0 || out.empty()) {
        log.logMessage(tag, tidewall::log_level::failure, "megacli: adpnum [%u] Failed to get property - [%s]", adp,
                       prop.c_str());
        return -1;
    }
    // "Product Name    : PERC 6/i Integrated": the column layout's blanks are no part of it.
    value = value_of(out.front());
    return 0;
}

int megacli_adp_get_pciaddr(tw_debug& log, unsigned adp, std::string& pciaddr) {
    const char* tag = "megacli_adp_get_pciaddr";
    pciaddr.clear();
    std::list<std::string> out;
    if (run_megacli(log, "AdpGetPciInfo a" + std::to_string(adp), out) != 0) {
        log.logMessage(tag, tidewall::log_level::failure, "megacli: Failed to get PCI info for adp num [%u]", adp);
        return -1;
    }
    for (const auto& line : out) {
        if (line.find("Bus Number") != std::string::npos) {
            pciaddr += two_digits(value_of(line)) + ":";
        } else if (line.find("Device Number") != std::string::npos) {
            pciaddr += two_digits(value_of(line)) + ".";
        } else if (line.find("Function Number") != std::string::npos) {
            pciaddr += two_digits(value_of(line));
            break;
        }
    }
    return 0;
}

// --- ssacli ---

int hpcli_ctrl_get_driveprop(tw_debug& log, std::string slot, std::string target, std::string prop,
                             std::string& value) {
    const char* tag = "hpcli_ctrl_get_driveprop";
    std::list<std::string> out;
    // The target is words of ssacli's own ("physicaldrive 1I:1:1"): each is
    // quoted on its own, or the tool would get them as one word.
    std::string words;
    std::istringstream in(target);
    for (std::string w; in >> w;) words += shell_quote(w) + " ";
    std::string args =
        "controller slot=" + shell_quote(slot) + " " + words + "show | grep -i " + double_quoted_arg(prop);
    if (run_hpcli(log, args, out) != 0 || out.empty()) {
        log.logMessage(tag, tidewall::log_level::failure,
                       "hpcli: Ctrl_slot [%s] Drive_target [%s] Failed to get property - [%s]", slot.c_str(),
                       target.c_str(), prop.c_str());
        return -1;
    }
    value = value_of(tsaf_utils::trim(out.front()));
    return 0;
}

int hpcli_slot_map(tw_debug& log, std::map<int, std::string>& slots) {
    const char* tag = "hpcli_slot_map";
    std::list<std::string> addresses;
    if (tsaf_utils::popen(kSasRaidControllers, addresses, tidewall::time_limits::kDefaultS) != 0 || addresses.empty()) {
        log.logMessage(tag, tidewall::log_level::failure, "No SAS controllers found");
        return -1;
    }
    for (const auto& line : addresses) {
        std::string address = tsaf_utils::trim(line);
        if (address.empty()) continue;  // "lspci -s ''" would answer for every device
        std::list<std::string> out;
        std::string cmd = "lspci -v -s " + shell_quote(address) + " | grep -i \"Physical Slot\"";
        if (tsaf_utils::popen(cmd, out, tidewall::time_limits::kDefaultS) != 0 || out.empty()) {
            log.logMessage(tag, tidewall::log_level::failure, "lspci: Failed to get Physical Slot for PCI ID: %s",
                           address.c_str());
            continue;
        }
        std::string slot = value_of(out.front());
        if (!slot.empty()) slots[static_cast<int>(tsaf_utils::string_to_uint(slot))] = address;
    }
    return 0;
}

void hpcli_parse_ctrl_detail(const std::list<std::string>& lines, const std::map<int, std::string>& slots,
                             std::list<tw_ctrlinfo>& ctrls) {
    const std::string heading = "in Slot ";
    auto it = lines.begin();
    while (it != lines.end()) {
        size_t at = it->find(heading);
        if (at == std::string::npos) {
            ++it;
            continue;
        }
        // "HPE Smart Array P816i-a SR Gen10 in Slot 0 (Embedded)"
        tw_ctrlinfo c = sas_record();
        c.set_model(tsaf_utils::trim(it->substr(0, at == 0 ? 0 : at - 1)));
        int slot = -1;
        // The controller's lines run to its firmware version or the next
        // controller. Blank lines and a warning paragraph may come first.
        for (++it; it != lines.end() && it->find(heading) == std::string::npos;) {
            const std::string& line = *it++;
            if (line.find("Slot:") != std::string::npos) {
                std::string v = value_of(line);
                if (!v.empty()) slot = static_cast<int>(tsaf_utils::string_to_uint(v));
            }
            if (line.find("Controller Status:") != std::string::npos) c.set_state(value_of(line));
            if (line.find("Firmware Version:") != std::string::npos) {
                c.set_fwversion(value_of(line));
                break;
            }
        }
        if (slot == -1) continue;  // no slot, no way to tell which PCI device it is
        auto address = slots.find(slot);
        if (address != slots.end()) c.set_bdf(address->second);
        ctrls.push_back(c);
    }
}

// --- the platform's queries ---

void tw_platform::get_sasctrl_driverlist(std::set<std::string>& drivers) {
    const char* tag = "tw_platform::get_sasctrl_driverlist";
    drivers.clear();
    std::list<std::string> addresses;
    if (tsaf_utils::popen(kSasRaidControllers, addresses, tidewall::time_limits::kDefaultS) != 0 || addresses.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "No SAS controllers found");
        return;
    }
    log_.logMessage(tag, tidewall::log_level::trace, "SAS adapters found. Count: %u",
                    static_cast<unsigned>(addresses.size()));
    for (const auto& line : addresses) {
        std::string kmod, address = tsaf_utils::trim(line);
        if (address.empty()) continue;  // "lspci -s ''" would answer for every device
        get_controller_kmod(address, kmod);
        if (!kmod.empty()) drivers.insert(kmod);
    }
}

int tw_platform::get_controller_kmod(std::string pci_id, std::string& kmod) {
    const char* tag = "tw_platform::get_controller_kmod";
    kmod.clear();
    std::list<std::string> out;
    int status = tsaf_utils::popen("lspci -k -s " + shell_quote(pci_id) + " | grep -i \"Kernel driver in use\"", out,
                                   tidewall::time_limits::kDefaultS);
    if (status != 0 || out.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Failed to get kernel driver for PCI device: [%s] with error [%d]", pci_id.c_str(), status);
        return -1;
    }
    kmod = value_of(out.front());  // "\tKernel driver in use: megaraid_sas"
    log_.logMessage(tag, tidewall::log_level::trace, "PCI device: [%s] Kernel driver: [%s]", pci_id.c_str(),
                    kmod.c_str());
    return 0;
}

std::list<tw_ctrlinfo>& tw_platform::get_sascontrolinfo() {
    const char* tag = "tw_platform::get_sascontrolinfo";
    sas_ctrls_.clear();
    if (!hwmon_driveops_supported()) {
        log_.logMessage(tag, tidewall::log_level::dump, "Drive Operations not supported.");
        return sas_ctrls_;
    }
    collect_sas_controllers(*this, log_, tag, sas_ctrls_);
    loginfo(PINFO_SASCTRL);
    return sas_ctrls_;
}

void sascontrollers_examine(std::list<tw_ctrlinfo>& out) {
    out.clear();
    tw_platform platform;
    tw_debug log;
    collect_sas_controllers(platform, log, "sascontrollers_examine", out);
}
