// The node's important mount points: whether each is mounted and how full it is.

#include <tidewall/tw_platform.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"
#include "platform/mount_points.h"

#include <cstdlib>
#include <cstring>

namespace {

const char* const kFixedMountPoints[] = {
    "/",          "/opt",       "/var", "/var/log", "/boot", "/tw/ddb", "/opt/tessaline/Dockwright64/IndexCache",
    "/tw/dav_vm", "/tw/dav_he",
};

void examine(tw_debug& log, const char* tag, std::list<tw_mntpointinfo>& out) {
    std::list<std::string> paths(std::begin(kFixedMountPoints), std::end(kFixedMountPoints));

    struct dirent** entries = nullptr;
    int count = ::scandir(tidewall::host::path("/tw").c_str(), &entries, disk_select, alphasort);
    if (count < 0) {
        log.logMessage(tag, tidewall::log_level::trace, "No disk* directories found in %s\n", "/tw");
    } else {
        for (int i = 0; i < count; ++i) {
            paths.push_back(std::string("/tw/") + entries[i]->d_name);
            std::free(entries[i]);
        }
        std::free(entries);
    }

    for (const auto& path : paths) {
        tw_mntpointinfo info;
        info.set_mntpath(path);
        info.set_mounted(mntpath_get_mounted_status(path) == 1);
        info.set_percentused(info.get_mounted() ? mntpath_get_percentused(log, path) : 0);
        out.push_back(info);
    }
}

}  // namespace

int disk_select(const struct dirent* entry) {
    return entry->d_name[0] != '.' && std::strncmp(entry->d_name, "disk", 4) == 0;
}

// The storage manager's mount test (tw_storage::is_mounted) is this same host
// service; asking it directly spares a storage manager per path, each of which
// would scan the gluster volumes.
int mntpath_get_mounted_status(std::string path) {
    std::string blkdev, fstype;
    std::list<std::string> options;
    return tsaf_utils::is_mounted(path, blkdev, fstype, options);
}

unsigned mntpath_get_percentused(tw_debug& log, std::string path) {
    const char* tag = "mntpath_get_percentused";
    std::string df = "df -Ph " + tidewall::shell_quote(path);
    std::list<std::string> out;
    log.logMessage(tag, tidewall::log_level::trace, "Exec command: %s", df.c_str());
    if (tsaf_utils::popen(df, out, tidewall::time_limits::kDefaultS) != 0 || out.empty()) {
        log.logMessage(tag, tidewall::log_level::failure, "Failed to get output for cmd [%s]", df.c_str());
        return 0;
    }
    // A header and one file system; a long device name wraps onto a third line.
    if (out.size() != 2) return 0;

    std::string cmd = df + "  | awk 'NR==2' | awk -F \" \" '{print $5}'";
    out.clear();
    log.logMessage(tag, tidewall::log_level::trace, "Get Mntpath percent used with cmd: %s", cmd.c_str());
    if (tsaf_utils::popen(cmd, out, tidewall::time_limits::kDefaultS) != 0 || out.empty()) {
        log.logMessage(tag, tidewall::log_level::failure, "Failed to get mntpath percentage used with cmd [%s]",
                       cmd.c_str());
        return 0;
    }
    return tsaf_utils::string_to_uint(tsaf_utils::trim_right(out.front(), "%"));
}

std::list<tw_mntpointinfo>& tw_platform::get_mntpointinfo() {
    const char* tag = "tw_platform::get_mntpointinfo";
    mntpoints_.clear();
    if (!hwmon_driveops_supported()) {
        log_.logMessage(tag, tidewall::log_level::dump, "Drive Operations not supported.");
        return mntpoints_;
    }
    examine(log_, tag, mntpoints_);
    loginfo(PINFO_MNTPOINT);
    return mntpoints_;
}

void mntpoints_examine(tw_debug& log, std::list<tw_mntpointinfo>& out) {
    out.clear();
    examine(log, "mntpoints_examine", out);
}
