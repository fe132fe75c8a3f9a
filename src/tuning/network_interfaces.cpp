// Network-interface facts the tuning versions need: the interfaces, their link
// speed and MAC address, the ifcfg file of a MAC address, and ring sizes.

#include <tidewall/tw_perf_params_config.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"

#include <cctype>
#include <vector>

namespace {

const char* const kIfListCommand = "ifconfig -a -s | grep -Ev 'Iface|vdsmdum|bond|lo|ovirtmgm|vnet' | awk '{print $1}'";
const char* const kNetworkScripts = "/etc/sysconfig/network-scripts";

// The text of a one-value sysfs attribute, without its line end.
std::string read_attribute(const std::string& path) {
    std::string text;
    if (tsaf_utils::read(path, text) != 0) return "";
    return tsaf_utils::trim(text);
}

// A MAC address as an ifcfg file writes it: HWADDR=52:54:00:AB:CD:EF, in either
// case (NetworkManager writes upper case, sysfs gives lower case), possibly in
// double quotes. Two texts name the same address when they agree but for case.
bool names_mac(const std::string& line, const std::string& mac) {
    static const std::string key = "HWADDR=";
    if (line.compare(0, key.size(), key) != 0) return false;
    std::string value = tsaf_utils::trim(line.substr(key.size()));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.size() != mac.size() || mac.empty()) return false;
    for (size_t i = 0; i < mac.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(value[i])) != std::tolower(static_cast<unsigned char>(mac[i])))
            return false;
    return true;
}

}  // namespace

int tw_perf_params_config::get_nw_if_list(std::list<std::string>& interfaces) {
    const char* tag = "tw_perf_params_config::get_nw_if_list";
    log_.logMessage(tag, tidewall::log_level::step, "command [%s]", kIfListCommand);
    std::list<std::string> lines;
    if (tsaf_utils::popen(kIfListCommand, lines, tidewall::time_limits::kDefaultS) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "command [%s] failed", kIfListCommand);
        return 1;
    }
    for (const auto& line : lines) {
        std::string name = tsaf_utils::trim(line);
        if (!name.empty()) interfaces.push_back(name);
    }
    return 0;
}

int tw_perf_params_config::get_nw_if_speed(const std::string& nw_if, std::string& speed) {
    const char* tag = "tw_perf_params_config::get_nw_if_speed";
    // A link that is down has no speed: reading the attribute then fails.
    speed = nw_if.find('/') == std::string::npos ? read_attribute("/sys/class/net/" + nw_if + "/speed") : "";
    if (speed.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "failed to find nw_if [%s] speed", nw_if.c_str());
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "nw_if [%s] speed [%s]", nw_if.c_str(), speed.c_str());
    return 0;
}

int tw_perf_params_config::get_nw_if_mac_addr(const std::string& nw_if, std::string& address) {
    const char* tag = "tw_perf_params_config::get_nw_if_mac_addr";
    address = nw_if.find('/') == std::string::npos ? read_attribute("/sys/class/net/" + nw_if + "/address") : "";
    if (address.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "failed to find nw_if [%s] address", nw_if.c_str());
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "nw_if [%s] address [%s]", nw_if.c_str(), address.c_str());
    return 0;
}

int tw_perf_params_config::get_nw_if_conf_file(const std::string& mac, std::string& path) {
    const char* tag = "tw_perf_params_config::get_nw_if_conf_file";
    std::list<std::string> names;
    tsaf_utils::read_directory(kNetworkScripts, names);
    for (const auto& name : names) {
        if (name.compare(0, 6, "ifcfg-") != 0) continue;
        std::string file = std::string(kNetworkScripts) + "/" + name;
        log_.logMessage(tag, tidewall::log_level::failure, "network conf file [%s]\n", file.c_str());
        std::list<std::string> lines;
        tsaf_utils::read_file(file, lines);
        for (const auto& line : lines) {
            if (names_mac(line, mac)) {
                path = file;
                log_.logMessage(tag, tidewall::log_level::step, "nw_if [%s] conf file [%s]", mac.c_str(), path.c_str());
                return 0;
            }
        }
    }
    log_.logMessage(tag, tidewall::log_level::failure, "failed to find network conf file");
    return 1;
}

int tw_perf_params_config::get_nw_if_ring_buffer_values(const std::string& nw_if, unsigned& max_rx, unsigned& max_tx,
                                                        unsigned& current_rx, unsigned& current_tx) {
    const char* tag = "tw_perf_params_config::get_nw_if_ring_buffer_values";
    std::string cmd = "ethtool -g " + tidewall::shell_quote(nw_if);
    std::list<std::string> out;
    if (tsaf_utils::popen(cmd, out, tidewall::time_limits::kDefaultS) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "command [%s] failed", cmd.c_str());
        return 1;
    }
    if (out.size() < 11) {
        log_.logMessage(tag, tidewall::log_level::failure, "expected output list 11 but received [%zu]", out.size());
        return 1;
    }
    // ethtool prints the pre-set maximums, then the current settings, each as
    // RX, RX Mini, RX Jumbo and TX lines.
    std::vector<std::string> lines(out.begin(), out.end());
    const struct {
        size_t line;
        const char* label;
    } fields[] = {{2, "RX:"}, {5, "TX:"}, {7, "RX:"}, {10, "TX:"}};
    unsigned values[4] = {};
    for (size_t i = 0; i < 4; ++i) {
        const std::string& text = lines[fields[i].line];
        size_t at = text.find(fields[i].label);
        if (at == std::string::npos) {
            log_.logMessage(tag, tidewall::log_level::failure, "line [%s] of [%s] holds no [%s]", text.c_str(),
                            cmd.c_str(), fields[i].label);
            return 1;
        }
        values[i] = tsaf_utils::string_to_uint(text.substr(at + 3));
    }
    max_rx = values[0];
    max_tx = values[1];
    current_rx = values[2];
    current_tx = values[3];
    log_.logMessage(tag, tidewall::log_level::step, "nw_if [%s] max_rx [%u]", nw_if.c_str(), max_rx);
    log_.logMessage(tag, tidewall::log_level::step, "nw_if [%s] max_tx [%u]", nw_if.c_str(), max_tx);
    log_.logMessage(tag, tidewall::log_level::step, "nw_if [%s] current_rx [%u]", nw_if.c_str(), current_rx);
    log_.logMessage(tag, tidewall::log_level::step, "nw_if [%s] current_tx [%u]", nw_if.c_str(), current_tx);
    return 0;
}
