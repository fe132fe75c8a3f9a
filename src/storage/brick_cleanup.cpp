// Taking a brick's data disk out of service: its /etc/fstab entry, its
// ownership stamps and its mount.

#include <tidewall/tw_storage.h>

#include "foundation/host_backend.h"
#include "foundation/tsaf_utils.h"

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

} // namespace

int tw_storage::cleanup_brick(std::string brick) {
    const char* tag = "tw_storage::cleanup_brick";
    log_.logMessage(tag, 0, "Request to cleanup brick [%s]", brick.c_str());
    std::string host, dir;
    if (tsaf_utils::get_name_value_pair(brick, host, dir) != 0) {
        log_.logMessage(tag, -1, "Failed to parse brick path [%s]", brick.c_str());
        return -1;
    }
    std::string disk;
    if (!real_system_path(dir + "/..", disk)) {
        log_.logMessage(tag, -1, "Failed to determine the absolute path for [%s]", dir.c_str());
        return -1;
    }
    // A brick directory placed straight on a system mount path must never take
    // that file system out of /etc/fstab or unmount it.
    if (is_sys_mnt_path(disk)) {
        log_.logMessage(tag, -1, "Refusing to cleanup system mount path [%s] of brick [%s]", disk.c_str(),
                        brick.c_str());
        return -1;
    }
    log_.logMessage(tag, 0, "Will cleanup directory [%s]", disk.c_str());

    std::list<std::string> removed;
    try {
        trim_sysconfig_files(disk, "/etc/fstab", removed);
    } catch (const TsException&) {
        log_.logMessage(tag, -1, "Failed to remove mount path [%s] from /etc/fstab", disk.c_str());
        return -1;
    }
    int attempt = 0;
    for (const auto& device : removed) {
        (void)device;
        log_.logMessage(tag, 0, "Will cleanup block device mounted under [%s]", disk.c_str());
        if (remove_tsln_xattrs(disk) != 0)
            log_.logMessage(tag, -1, "Failed to remove Tessaline extended attributes from mount path [%s]",
                            disk.c_str());
        try {
            unmount(disk);
            log_.logMessage(tag, 0, "Attempt [%d] successfully unmounted mount path [%s]", attempt, disk.c_str());
        } catch (const TsException&) {
            log_.logMessage(tag, -1, "Attempt [%d] failed to unmount mount path [%s]", attempt, disk.c_str());
        }
        ++attempt;
    }
    return 0;
}
