// Taking a brick's data disk out of service: its /etc/fstab entry, its
// ownership stamps and its mount.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/system_paths.h"
#include "foundation/log/log_level.h"

#include <climits>
#include <cstdlib>

namespace {

// realpath of a system path, through the host layer's mapping and back.
bool real_system_path(const std::string& path, std::string& out) {
    char buf[PATH_MAX];
    if (!::realpath(tidewall::host::path("/").c_str(), buf)) return false;
    std::string root = buf;
    if (!::realpath(tidewall::host::path(path).c_str(), buf)) return false;
    std::string real = buf;
    if (root == "/") {
        out = real;
        return true;
    }
    if (real == root) {
        out = "/";
        return true;
    }
    if (real.compare(0, root.size(), root) != 0 || real[root.size()] != '/') return false;
    out = real.substr(root.size());
    return true;
}

// A numbered data mount path under prefix: the prefix, then a slot number
// (decimal, no leading zero), nothing more.
bool is_numbered_under(const std::string& path, const std::string& prefix) {
    if (prefix.empty() || path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return false;
    std::string slot = path.substr(prefix.size());
    return slot[0] != '0' && slot.find_first_not_of("0123456789") == std::string::npos;
}

// The prefix with its directory part resolved as the brick's path was, so that
// a prefix under a linked directory still matches.
std::string resolved_prefix(const std::string& prefix) {
    size_t slash = prefix.rfind('/');
    if (slash == std::string::npos) return prefix;
    std::string parent;
    if (!real_system_path(slash == 0 ? "/" : prefix.substr(0, slash), parent)) return prefix;
    return (parent == "/" ? "" : parent) + prefix.substr(slash);
}

}  // namespace

int tw_storage::cleanup_brick(std::string brick) {
    const char* tag = "tw_storage::cleanup_brick";
    log_.logMessage(tag, tidewall::log_level::step, "Request to cleanup brick [%s]", brick.c_str());
    std::string host, dir;
    if (tsaf_utils::get_name_value_pair(brick, host, dir) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to parse brick path [%s]", brick.c_str());
        return -1;
    }
    // A peer's brick names a path that exists here too (every node keeps its
    // brick at /tw/disk1/tw_brick): only this node's own bricks are cleaned.
    if (tsaf_utils::is_loop_back_hname(host) != 1) {
        log_.logMessage(tag, tidewall::log_level::failure, "Refusing to cleanup brick [%s]: host [%s] is not this node",
                        brick.c_str(), host.c_str());
        return -1;
    }
    std::string disk;
    if (!real_system_path(dir + "/..", disk)) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to determine the absolute path for [%s]",
                        dir.c_str());
        return -1;
    }
    // A brick directory placed straight on a system mount path must never take
    // that file system out of /etc/fstab or unmount it.
    if (is_sys_mnt_path(disk)) {
        log_.logMessage(tag, tidewall::log_level::failure, "Refusing to cleanup system mount path [%s] of brick [%s]",
                        disk.c_str(), brick.c_str());
        return -1;
    }
    // The DDB, IndexCache, gluster and Maldor mounts and the system paths are
    // never a brick's disk: only the numbered data mount paths are.
    std::string prefix = get_datapath_prefix();
    if (!is_numbered_under(disk, prefix) && !is_numbered_under(disk, resolved_prefix(prefix))) {
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Refusing to cleanup [%s] of brick [%s]: not a data mount path of this node (%sN)",
                        disk.c_str(), brick.c_str(), prefix.c_str());
        return -1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Will cleanup directory [%s]", disk.c_str());

    std::list<std::string> removed;
    try {
        trim_sysconfig_files(disk, tidewall::host::system_paths::fstab, removed);
    } catch (const TsException&) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to remove mount path [%s] from /etc/fstab",
                        disk.c_str());
        return -1;
    }
    int attempt = 0;
    for (const auto& device : removed) {
        (void)device;
        log_.logMessage(tag, tidewall::log_level::step, "Will cleanup block device mounted under [%s]", disk.c_str());
        if (remove_tsln_xattrs(disk) != 0)
            log_.logMessage(tag, tidewall::log_level::failure,
                            "Failed to remove Tessaline extended attributes from mount path [%s]", disk.c_str());
        try {
            unmount(disk);
            log_.logMessage(tag, tidewall::log_level::step, "Attempt [%d] successfully unmounted mount path [%s]",
                            attempt, disk.c_str());
        } catch (const TsException&) {
            log_.logMessage(tag, tidewall::log_level::failure, "Attempt [%d] failed to unmount mount path [%s]",
                            attempt, disk.c_str());
        }
        ++attempt;
    }
    return 0;
}
