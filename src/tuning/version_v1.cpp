// Tuning version 1: data-mover registry values, ring buffers of fast network
// interfaces, kernel parameters, tuned profile, periodic TRIM, thin-pool
// auto-extend threshold, blacklisted product modules, web application folders.

#include "tuning/perf_params_versions.h"

#include <tidewall/tw_perf_params_config.h>

#include "foundation/compat/ts_platform_info.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/shell_quote.h"
#include "foundation/log/log_level.h"

#include <cstdlib>

namespace {

const char* const kTag = "tw_perf_params_version_v1::configure()";

// The order the parameters are applied in (registry values first, the module
// blacklists before the web folders, the memory reserve last).
const char* const kWalkOrder[] = {
    "DataMoverLookAheadLinkReaderSlots",
    "DataMoverUseLookAheadLinkReader",
    "SIDBCommitThreshold",
    "tsbf",
    "tsfsf",
    "directory_my_flask_prod",
    "kernel.sem",
    "nBufFileRdrReadSizeKB",
    "nw_rx_ring_buffer",
    "nw_tx_ring_buffer",
    "service_fstrim",
    "thin_pool_autoextend_threshold",
    "tuned_adm_profile",
    "vm.min_free_kbytes",
};

// A link at 10000 Mb/s or more.
const unsigned kFastLinkAbove = 9999;

const char* const kWebRoot = "/var/www/";
const char* const kWebUser = "apache";
const char* const kWebFolders[] = {
    "static",         "templates",          "scripts",    "logs",     "config", "static/css", "static/fonts",
    "static/compare", "static/screenshots", "static/img", "static/js"};

bool is_registry_value(const std::string& name) {
    return name == "nBufFileRdrReadSizeKB" || name == "DataMoverLookAheadLinkReaderSlots" ||
           name == "DataMoverUseLookAheadLinkReader" || name == "SIDBCommitThreshold";
}

}  // namespace

tw_perf_params_version_v1::tw_perf_params_version_v1()
    : params_{
          {"nBufFileRdrReadSizeKB", "256"},
          {"DataMoverLookAheadLinkReaderSlots", "128"},
          {"DataMoverUseLookAheadLinkReader", "1"},
          {"SIDBCommitThreshold", "32768"},
          {"nw_tx_ring_buffer", "4096"},
          {"nw_rx_ring_buffer", "4096"},
          {"kernel.sem", "6000 768000 6000 128"},
          {"tuned_adm_profile", "throughput-performance"},
          {"service_fstrim", "fstrim"},
          {"thin_pool_autoextend_threshold", "50"},
          {"tsbf", "blacklist tsbf"},
          {"tsfsf", "blacklist tsfsf"},
          {"directory_my_flask_prod", "my_flask_prod"},
      } {}

int tw_perf_params_version_v1::configure() {
    tw_perf_params_config config;

    unsigned long long ram_kb = 0;
    int rc = config.get_ram_size(ram_kb);
    if (rc != 0) {
        log_.logMessage(kTag, tidewall::log_level::failure, "getting ram size failed");
        return rc;
    }
    // Keep 2 % of memory free for the kernel's own allocations.
    params_["vm.min_free_kbytes"] = std::to_string(ram_kb / 50);

    std::string ring_options = " tx " + params_["nw_tx_ring_buffer"] + " rx " + params_["nw_rx_ring_buffer"];

    std::list<std::string> interfaces;
    if (config.get_nw_if_list(interfaces) != 0) {
        log_.logMessage(kTag, tidewall::log_level::failure, "getting network interface list failed");
        return 1;
    }
    std::list<std::string> fast;
    for (const auto& nw_if : interfaces) {
        std::string speed;
        if (config.get_nw_if_speed(nw_if, speed) != 0) {
            log_.logMessage(kTag, tidewall::log_level::failure, "getting network interface speed failed [%s]",
                            nw_if.c_str());
            continue;
        }
        if (tsaf_utils::string_to_uint(speed) > kFastLinkAbove) fast.push_back(nw_if);
    }

    for (const char* key : kWalkOrder) {
        const std::string name = key;
        const std::string& value = params_[name];
        if (is_registry_value(name)) {
            unsigned long long number = std::strtoull(value.c_str(), nullptr, 10);
            if (TSPlatformInfo::setLongLong("Dockwright", name, number) == 0) {
                log_.logMessage(kTag, tidewall::log_level::failure, "setting reg key failed for [%s]= [%s]",
                                name.c_str(), value.c_str());
                return 1;
            }
            log_.logMessage(kTag, tidewall::log_level::step, "reg key set [%s] = [%s]", name.c_str(), value.c_str());
        } else if (name == "nw_rx_ring_buffer" || name == "nw_tx_ring_buffer") {
            tune_ring_buffers(config, name, value, fast, ring_options);
        } else if (name == "vm.min_free_kbytes" || name == "kernel.sem") {
            if ((rc = set_sysctl(config, name, value)) != 0) return rc;
        } else if (name == "tuned_adm_profile") {
            config.run_cmd("tuned-adm profile " + tidewall::shell_quote(value));  // run_cmd logs a failure
        } else if (name == "service_fstrim") {
            if ((rc = enable_fstrim(config, value)) != 0) return rc;
        } else if (name == "thin_pool_autoextend_threshold") {
            // Only an existing setting is changed: lvm.conf keeps its own layout.
            if ((rc = config.update_conf_file("/etc/lvm/lvm.conf", name, name + " = " + value, false)) != 0) return rc;
        } else if (name == "tsbf" || name == "tsfsf") {
            if ((rc = blacklist_module(config, name, value)) != 0) return rc;
        } else if (name == "directory_my_flask_prod") {
            if ((rc = make_web_directories(config, value)) != 0) return rc;
        }
    }
    return 0;
}

void tw_perf_params_version_v1::tune_ring_buffers(tw_perf_params_config& config, const std::string& name,
                                                  const std::string& value,
                                                  const std::list<std::string>& fast_interfaces,
                                                  const std::string& ring_options) {
    bool rx = name == "nw_rx_ring_buffer";
    for (const auto& nw_if : fast_interfaces) {
        unsigned max_rx = 0, max_tx = 0, current_rx = 0, current_tx = 0;
        if (config.get_nw_if_ring_buffer_values(nw_if, max_rx, max_tx, current_rx, current_tx) != 0) {
            log_.logMessage(kTag, tidewall::log_level::failure, "failed to get ring buffer settings [%s]",
                            nw_if.c_str());
            continue;
        }
        unsigned requested = tsaf_utils::string_to_uint(value);
        std::string option;
        if (rx) {
            log_.logMessage(kTag, tidewall::log_level::step, "requested[%u] current[%u] max [%u] nw_if_name[%s] [%s]",
                            requested, current_rx, max_rx, nw_if.c_str(), name.c_str());
            if (requested == current_rx) continue;
            option = " rx " + value;
        } else {
            if (requested == current_tx) continue;
            option = " tx " + value;
            log_.logMessage(kTag, tidewall::log_level::step, "requested[%u] current[%u] max [%u] nw_if_name[%s] [%s]",
                            requested, current_tx, max_tx, nw_if.c_str(), name.c_str());
        }
        if (config.run_cmd("ethtool -G " + tidewall::shell_quote(nw_if) + option) != 0) continue;

        // Make the sizes survive a reboot: the interface's ifcfg file passes
        // them to ethtool when the link comes up.
        std::string mac, conf_file;
        if (config.get_nw_if_mac_addr(nw_if, mac) != 0 || config.get_nw_if_conf_file(mac, conf_file) != 0) continue;
        std::string opts_name = "ETHTOOL_OPTS=\"-G " + nw_if;
        config.update_conf_file(conf_file, opts_name, opts_name + ring_options + "\"", true);
    }
}

int tw_perf_params_version_v1::set_sysctl(tw_perf_params_config& config, const std::string& name,
                                          const std::string& value) {
    int rc = config.update_conf_file("/etc/sysctl.conf", name, name + "=" + value, true);
    if (rc != 0) return rc;
    return config.run_cmd("sysctl -p");
}

int tw_perf_params_version_v1::enable_fstrim(tw_perf_params_config& config, const std::string& service) {
    std::string quoted = tidewall::shell_quote(service);
    const std::string commands[] = {"systemctl start " + quoted, "systemctl enable " + quoted,
                                    "systemctl start fstrim.timer", "systemctl enable fstrim.timer"};
    for (const auto& cmd : commands) {
        int rc = config.run_cmd(cmd);
        if (rc != 0) return rc;
    }
    return 0;
}

int tw_perf_params_version_v1::blacklist_module(tw_perf_params_config& config, const std::string& module,
                                                const std::string& line) {
    int rc = config.update_conf_file("/etc/modprobe.d/blacklist.conf", line, line, true);
    if (rc != 0) return rc;
    // blacklist stops only loading by alias; install keeps modprobe from loading it at all.
    std::string install = "install " + module + " /bin/true";
    return config.update_conf_file("/etc/modprobe.d/" + module + ".conf", install, install, true);
}

int tw_perf_params_version_v1::make_web_directories(tw_perf_params_config& config, const std::string& directory) {
    bool exists = false;
    config.user_exist(kWebUser, exists);
    if (!exists) {
        log_.logMessage(kTag, tidewall::log_level::failure, "user [%s] does not exist", kWebUser);
        return 0;
    }
    std::string root = kWebRoot + directory;
    std::list<std::string> commands;
    for (const char* folder : kWebFolders) commands.push_back("mkdir -p " + tidewall::shell_quote(root + "/" + folder));
    commands.push_back("chmod -R 775 " + tidewall::shell_quote(root + "/static"));
    commands.push_back("chmod -R 775 " + tidewall::shell_quote(root + "/templates"));
    commands.push_back("chown -R " + std::string(kWebUser) + ":" + kWebUser + " " + tidewall::shell_quote(root));
    for (const auto& cmd : commands) {
        int rc = config.run_cmd(cmd);
        if (rc != 0) return rc;
    }
    return 0;
}
