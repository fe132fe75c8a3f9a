// Fibre Channel host adapters, from the kernel's fc_host class in sysfs.

#include "platform/controllers.h"

#include <tidewall/tw_platform.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"

#include <cstdlib>
#include <cstring>

namespace {

const char* const kFcHosts = "/sys/class/fc_host";

// A sysfs attribute of the host, without its line end; empty when absent.
bool read_attribute(const std::string& path, std::string& value) {
    if (!tsaf_utils::is_file(path)) return false;
    std::string content;
    if (tsaf_utils::read(path, content) != 0) return false;
    value = tsaf_utils::trim(content);
    return true;
}

// The PCI address directory that the host's sysfs link passes through:
// ".../0000:08:00.0/host1/fc_host/host1" gives "0000:08:00.0".
std::string bdf_of_link(const std::string& target, const std::string& host) {
    size_t p = target.find(host);
    if (p == std::string::npos || p <= 2) return "";
    size_t end = p - 2;  // the last character before "/" host
    size_t slash = target.rfind('/', end);
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    if (start >= end) return "";
    return target.substr(start, end - start + 1);
}

}  // namespace

int host_select(const struct dirent* entry) {
    return entry->d_name[0] != '.' && std::strncmp(entry->d_name, "host", 4) == 0;
}

std::list<tw_ctrlinfo>& tw_platform::get_fcinfo() {
    const char* tag = "tw_platform::get_fcinfo";
    fc_ctrls_.clear();
    struct dirent** entries = nullptr;
    int count = ::scandir(tidewall::host::path(kFcHosts).c_str(), &entries, host_select, alphasort);
    if (count < 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "No hosts found in %s\n", kFcHosts);
        loginfo(PINFO_FCCTRL);
        return fc_ctrls_;
    }
    std::list<std::string> hosts;
    for (int i = 0; i < count; ++i) {
        hosts.push_back(entries[i]->d_name);
        std::free(entries[i]);
    }
    std::free(entries);

    log_.logMessage(tag, tidewall::log_level::trace, "Found hosts: %u\n", static_cast<unsigned>(hosts.size()));
    for (const auto& h : hosts) {
        const std::string base = std::string(kFcHosts) + "/" + h;
        log_.logMessage(tag, tidewall::log_level::trace, "Fetching info for : %s\n", h.c_str());
        tw_ctrlinfo c;
        c.set_type("FC");
        std::string v;
        if (read_attribute(base + "/port_name", v)) c.set_wwn(v);
        if (read_attribute(base + "/fw_version", v) || read_attribute(base + "/symbolic_name", v)) c.set_fwversion(v);
        if (read_attribute(base + "/port_state", v)) c.set_state(v);

        std::string target;
        if (tsaf_utils::readlink(base, target) == 0) c.set_bdf(bdf_of_link(target, h));
        if (!c.get_bdf().empty()) {
            std::list<std::string> out;
            std::string cmd =
                "lspci -s " + tidewall::shell_quote(c.get_bdf()) + " | cut -d ' ' -f 2- | cut -d ':' -f 2-";
            if (tsaf_utils::popen(cmd, out, tidewall::time_limits::kDefaultS) == 0 && !out.empty())
                c.set_model(tsaf_utils::trim(out.front()));
        }
        fc_ctrls_.push_back(c);
    }
    loginfo(PINFO_FCCTRL);
    return fc_ctrls_;
}
