// Names of this node and its peers: the storage host name, /etc/hosts, which
// of a list of names is this node, and address checks.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/throw_error.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"
#include "gluster/glfs_admin.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>

int tw_storage::get_tw_hname(std::string& hname, std::string& address) {
    const char* tag = "tw_storage::get_tw_hname";
    std::string name;
    int err = tidewall::host::current().host_name(name);
    if (err != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to get hostname error: %s", std::strerror(err));
        return -1;
    }
    // The storage network name: "sds" after the first label (node7.example.net
    // gives node7sds.example.net).
    size_t dot = name.find('.');
    hname = dot == std::string::npos ? name + "sds" : name.substr(0, dot) + "sds" + name.substr(dot);
    return tsaf_utils::resolve_hname(hname, address);
}

namespace {

// A name or address that could break /etc/hosts apart: empty, or holding a
// blank, a tab, a line break or a comment sign.
bool fits_hosts_line(const std::string& v) { return !v.empty() && v.find_first_of(" \t\r\n#") == std::string::npos; }

}  // namespace

int tw_storage::update_hosts(std::map<std::string, std::string>& names) {
    const char* tag = "tw_storage::update_hosts";
    const std::string hosts = tidewall::host::path("/etc/hosts");
    std::string existing;
    int read_rc = tidewall::file_io::read_all(hosts, existing);
    if (read_rc != 0 && read_rc != ENOENT) return 0;
    // A last line without its newline would run into the first line appended.
    bool need_newline = !existing.empty() && existing.back() != '\n';
    for (const auto& [name, address] : names) {
        std::string resolved;
        if (tsaf_utils::resolve_hname(name, resolved) == 0) continue;
        if (!fits_hosts_line(name) || !fits_hosts_line(address)) {
            log_.logMessage(tag, tidewall::log_level::failure,
                            "Not adding host name [%s] address [%s] to /etc/hosts: not a valid entry", name.c_str(),
                            address.c_str());
            continue;
        }
        std::string line = (need_newline ? "\n" : "") + address + " " + name + "\n";
        int rc = tidewall::file_io::append(hosts, line);
        if (rc != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to add [%s] to /etc/hosts error [%s]",
                            name.c_str(), std::strerror(rc));
            return 0;
        }
        need_newline = false;
        log_.logMessage(tag, tidewall::log_level::step, "Added host name [%s] address [%s] to /etc/hosts", name.c_str(),
                        address.c_str());
    }
    return 0;
}

int tw_storage::get_loop_back_hname(std::list<std::string>& names, std::string& hname) {
    const char* tag = "tw_storage::get_loop_back_hname";
    std::string tw_hname, tw_address;
    if (get_tw_hname(tw_hname, tw_address) != 0)
        tidewall::throw_storage_error(tag, "Failed to extract storagepool network hostname ");
    log_.logMessage(tag, tidewall::log_level::step, "Tidewall Hostname [%s] IP address [%s]", tw_hname.c_str(),
                    tw_address.c_str());
    for (const auto& name : names) {
        std::string address;
        if (tsaf_utils::resolve_hname(name, address) != 0) return 1;
        log_.logMessage(tag, tidewall::log_level::step, "Hostname [%s] IP address [%s]", name.c_str(), address.c_str());
        if (address == tw_address) {
            hname = tw_hname;
            return 0;
        }
    }
    const char* message = "Failed to find storagepool network hostname";
    log_.logMessage(tag, tidewall::log_level::failure, "%s", message);
    tidewall::throw_storage_error(tag, message);
}

int tw_storage::is_loop_back_hname(std::string name) { return tsaf_utils::is_loop_back_hname(name); }

int tw_storage::get_remote_ip_to_hname(std::string& ip, std::string& hname) {
    glfs_admin admin;
    hname = admin.ip_to_hname(ip);
    return hname.empty() ? 1 : 0;
}

int tw_storage::is_valid_ip(std::string& ip) {
    struct in_addr addr {};
    return ::inet_pton(AF_INET, ip.c_str(), &addr) == 1 ? 1 : 0;
}
