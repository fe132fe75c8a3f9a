// Mount points: whether each important mount point and data mount path is
// mounted, how full it is, and whether a data drive carries valid ownership
// stamps.

#include "metrics/collector.h"

#include <tidewall/tw_platform.h>
#include <tidewall/tw_storage.h>

namespace tidewall::metrics {

namespace {
bool is_data_path(const std::string& path) { return path.rfind("/tw/disk", 0) == 0; }
}  // namespace

bool collect_mounts(family_set& out) {
    tw_debug log;
    std::list<tw_mntpointinfo> mounts;
    mntpoints_examine(log, mounts);
    tw_storage storage;
    for (const auto& m : mounts) {
        const std::string path = m.get_mntpath();
        const bool data = is_data_path(path);
        out.gauge("tidewall_mount_mounted", "Whether the mount point is mounted (1) or not (0).",
                  {{"path", path}, {"kind", data ? "data" : "system"}}, m.get_mounted() ? 1 : 0);
        if (!m.get_mounted()) continue;
        out.gauge("tidewall_mount_used_ratio", "Share of the file system's space in use (0 to 1).", {{"path", path}},
                  m.get_percentused() / 100.0);
        if (data)
            out.gauge("tidewall_mount_stamps_valid",
                      "Whether the data drive carries valid ownership stamps (1) or not (0).", {{"path", path}},
                      storage.check_for_tsln_xattrs(path) == 0 ? 1 : 0);
    }
    return true;
}

}  // namespace tidewall::metrics
