// The network configuration document: generating it with the product's script
// and reading the configured interfaces out of it, bond members included.

#include "platform/network_document.h"

#include <tidewall/tw_platform.h>
#include <tidewall/twjson.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using tidewall::shell_quote;

int nwconf_file_generate(std::string path, tw_debug& log) {
    const char* tag = "nwconf_file_generate";
    std::string home;
    if (tsaf_utils::get_reg_key("dHOME", home) != 0) {
        log.logMessage(tag, tidewall::log_level::trace,
                       "Failed to get Home directory regkey value from registry. Using default.");
        home = "/opt/tessaline/Dockwright";
    }
    std::string cmd = "PYTHONPATH=" + shell_quote(home) + " python " + shell_quote(home) + "/tsnwconfigmgr.py get " +
                      shell_quote(path);
    log.logMessage(tag, tidewall::log_level::trace, "Generate NW config file with cmd - [%s]", cmd.c_str());
    std::list<std::string> out;
    int status = tsaf_utils::popen(cmd, out, tidewall::time_limits::kDefaultS);
    if (status != 0)
        log.logMessage(tag, tidewall::log_level::failure, "Error [%d] executing cmd [%s]. Continuing..", status,
                       cmd.c_str());
    return 0;
}

namespace {

// The document's text when it is one root alone could have written; 0 or an
// errno value (EPERM: another owner, or writable by others; EFBIG: too large).
int read_trusted_document(const std::string& path, std::string& text) {
    int fd = ::open(tidewall::host::path(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno;
    struct stat st {};
    int rc = 0;
    if (::fstat(fd, &st) != 0)
        rc = errno;
    else if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & S_IWOTH) ||
             ((st.st_mode & S_IWGRP) && st.st_gid != 0))
        rc = EPERM;
    else if (st.st_size > kNwconfMaxBytes)
        rc = EFBIG;
    char buf[65536];
    while (rc == 0) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) rc = errno;
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
        if (static_cast<long long>(text.size()) > kNwconfMaxBytes) rc = EFBIG;
    }
    ::close(fd);
    return rc;
}

// The text under key when it is a string, else empty.
std::string text_of(const twjson::Object& o, const char* key) {
    return o.has<twjson::String>(key) ? o.get<twjson::String>(key) : std::string();
}

// Ports of every adapter by interface name; the first port of a name wins.
std::map<std::string, eth_adp_s> port_map(tw_debug& log, const char* tag, const twjson::Object& doc) {
    std::map<std::string, eth_adp_s> ports;
    if (!doc.has<twjson::Array>("ethernet_adaptors")) return ports;
    const twjson::Array& adapters = doc.get<twjson::Array>("ethernet_adaptors");
    for (size_t i = 0; i < adapters.size(); ++i) {
        if (!adapters.has<twjson::Object>(i) || !adapters.get<twjson::Object>(i).has<twjson::String>("pci_bus_info")) {
            log.logMessage(tag, tidewall::log_level::failure,
                           "PCIbus info missing in ethernet adapter info at index[%u]", static_cast<unsigned>(i));
            continue;
        }
        const twjson::Object& adapter = adapters.get<twjson::Object>(i);
        if (!adapter.has<twjson::Object>("ports")) continue;
        const twjson::Object& adapter_ports = adapter.get<twjson::Object>("ports");
        // Ports are keyed "0", "1", ...; the first index missing ends the list.
        for (int k = 0; adapter_ports.has<twjson::Object>(std::to_string(k)); ++k) {
            const twjson::Object& port = adapter_ports.get<twjson::Object>(std::to_string(k));
            if (!port.has<twjson::String>("intfx")) {
                log.logMessage(tag, tidewall::log_level::failure, "No interface name for the adapter [%s] port [%d]",
                               adapter.get<twjson::String>("pci_bus_info").c_str(), k);
                continue;
            }
            eth_adp_s p;
            p.pci_bus_info = text_of(port, "pci_bus_info");
            p.hwaddr = text_of(port, "hwaddr");
            p.speed = text_of(port, "speed");
            ports.emplace(port.get<twjson::String>("intfx"), p);
        }
    }
    return ports;
}

}  // namespace

std::map<std::string, tw_nicinfo> tw_platform::nwconf_json_parse(const std::string& path) {
    const char* tag = "tw_platform::nwconf_json_parse";
    std::map<std::string, tw_nicinfo> nics;
    twjson::Object doc;
    std::string text;
    int rc = read_trusted_document(path, text);
    if (rc == EPERM || rc == EFBIG)
        log_.logMessage(tag, tidewall::log_level::failure, "Network config file [%s] not read: %s", path.c_str(),
                        rc == EPERM ? "not a regular file of root's alone" : "too large");
    if (rc != 0 || !doc.parse(text)) {
        log_.logMessage(tag, tidewall::log_level::failure, "Error parsing network config file");
        return nics;
    }

    std::map<std::string, eth_adp_s> ports = port_map(log_, tag, doc);
    if (log_.getDebugLevel() > 2)
        for (const auto& [name, p] : ports)
            log_.logMessage(tag, tidewall::log_level::dump, "Eth-Intfx [%s] HWaddr [%s] PCI info [%s] Speed [%s]",
                            name.c_str(), p.hwaddr.c_str(), p.pci_bus_info.c_str(), p.speed.c_str());

    if (!doc.has<twjson::Array>("interfaces")) {
        log_.logMessage(tag, tidewall::log_level::failure, "Interfaces data missing");
        return nics;
    }
    const twjson::Array& interfaces = doc.get<twjson::Array>("interfaces");
    log_.logMessage(tag, tidewall::log_level::dump, "Number of Interfaces [%d]", static_cast<int>(interfaces.size()));
    for (size_t j = 0; j < interfaces.size(); ++j) {
        if (!interfaces.has<twjson::Object>(j) || !interfaces.get<twjson::Object>(j).has<twjson::String>("device")) {
            log_.logMessage(tag, tidewall::log_level::trace, "Device name missing in interface object at index [%d]",
                            static_cast<int>(j));
            continue;
        }
        const twjson::Object& intf = interfaces.get<twjson::Object>(j);
        const std::string& device = intf.get<twjson::String>("device");
        if (text_of(intf, "ipaddr").empty()) {
            log_.logMessage(tag, tidewall::log_level::dump, "Skipping device [%s] as IP Address is missing",
                            device.c_str());
            continue;
        }
        if (device.find("bond") == std::string::npos) {
            tw_nicinfo nic;
            nic.set_devname(device);
            nic.set_busaddr(text_of(intf, "pci_bus_info"));
            nic.set_macaddr(text_of(intf, "hwaddr"));
            nic.set_linkspeed(text_of(intf, "speed"));
            nics.emplace(device, nic);
            continue;
        }
        // A bond is reported through its members, with their ports' facts.
        if (!intf.has<twjson::Array>("slave_devices")) {
            log_.logMessage(tag, tidewall::log_level::trace, "Slave devices data missing for interface [%s]",
                            device.c_str());
            continue;
        }
        for (const auto& member_value : intf.get<twjson::Array>("slave_devices").values()) {
            if (!member_value.is<twjson::String>()) continue;
            const std::string& member = member_value.get<twjson::String>();
            if (nics.count(member)) {
                log_.logMessage(tag, tidewall::log_level::failure, "Interface [%s] is already in the NIC list",
                                member.c_str());
                continue;
            }
            auto port = ports.find(member);
            if (port == ports.end()) {
                log_.logMessage(tag, tidewall::log_level::failure, "Data for [%s] slave interface [%s] not available",
                                device.c_str(), member.c_str());
                continue;
            }
            tw_nicinfo nic;
            nic.set_devname(member);
            nic.set_busaddr(port->second.pci_bus_info);
            nic.set_macaddr(port->second.hwaddr);
            nic.set_linkspeed(port->second.speed);
            nics.emplace(member, nic);
        }
    }
    return nics;
}

void tw_platform::config_get_nicmap(std::map<std::string, tw_nicinfo>& nics) {
    const char* tag = "tw_platform::config_get_nicmap";
    std::string dir;
    if (int rc = tidewall::locks::state_directory(dir); rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "No safe directory for the network config file [%s]: %s",
                        kNwconfPath, std::strerror(rc));
        nics.clear();
        return;
    }
    nwconf_file_generate(kNwconfPath, log_);
    nics = nwconf_json_parse(kNwconfPath);
    if (log_.getDebugLevel() > 2)
        for (const auto& [name, n] : nics)
            log_.logMessage(tag, tidewall::log_level::dump, "Intfx [%s] HWaddr [%s] PCI info [%s] Speed [%s]",
                            name.c_str(), n.get_macaddr().c_str(), n.get_busaddr().c_str(), n.get_linkspeed().c_str());
}
