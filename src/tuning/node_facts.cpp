// Node facts the tuning versions need: memory size and the gluster volumes.

#include <tidewall/tw_perf_params_config.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"
#include "gluster/glfs_admin.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

int tw_perf_params_config::get_ram_size(unsigned long long& size_kb) {
    const char* tag = "tw_perf_params_config::get_ram_size";
    std::list<std::string> lines;
    tsaf_utils::read_file("/proc/meminfo", lines);
    // The kernel puts MemTotal first.
    if (lines.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "memTotal not found");
        return 1;
    }
    const std::string& line = lines.front();
    log_.logMessage(tag, tidewall::log_level::step, "name  [%s]", line.c_str());
    if (line.find("MemTotal") == std::string::npos) {
        log_.logMessage(tag, tidewall::log_level::failure, "memTotal not found");
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::failure, "ss [%s]", line.c_str());
    std::vector<std::string> tokens;
    tsaf_utils::tokenize(line.c_str(), " ", tokens);
    for (const auto& t : tokens) log_.logMessage(tag, tidewall::log_level::step, "token [%s]", t.c_str());
    if (tokens.size() != 3) {
        log_.logMessage(tag, tidewall::log_level::failure, "failed to find mem info size = %zu", tokens.size());
        return 1;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long kb = std::strtoull(tokens[1].c_str(), &end, 10);
    // A size that is no number would make vm.min_free_kbytes 0.
    if (tokens[1].empty() || *end != '\0' || errno == ERANGE || tokens[1][0] == '-') {
        log_.logMessage(tag, tidewall::log_level::failure, "MemTotal size [%s] is no number", tokens[1].c_str());
        return 1;
    }
    size_kb = kb;
    log_.logMessage(tag, tidewall::log_level::step, "RAM size [%llu]", size_kb);
    return 0;
}

int tw_perf_params_config::get_gluster_volumes(std::list<std::string>& volumes) {
    const char* tag = "tw_perf_params_config::get_gluster_volumes";
    glfs_admin admin;
    std::list<std::string> names;
    if (admin.list_volumes(names) != 0) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to scan gluster volumes on the server");
        return 1;
    }
    for (const auto& name : names)
        if (name != "dav_he_vol" && name != "dav_vm_vol") volumes.push_back(name);
    return 0;
}
