#include "foundation/compat/tsaf_utils.h"

#include "foundation/host/host_backend.h"
#include "foundation/mount/ts_mnt_parser.h"
#include "foundation/text/path_text.h"

using tidewall::host::current;
using tidewall::host::path;

int tsaf_utils::is_mounted(const std::string& p, std::string& blkdev, std::string& fstype,
                           std::list<std::string>& options) {
    std::list<TsMntInfo> entries;
    if (TsMntParser("/etc/mtab").ParseMountPointInfo(entries) != 0) return -1;
    std::string want = tidewall::text::without_trailing_slashes(p);
    // The last entry for a mount point is the one in force (mounts stack).
    const TsMntInfo* found = nullptr;
    for (const auto& e : entries)
        if (e.GetMountPoint() == want) found = &e;
    if (!found) return 0;
    blkdev = found->GetBackingDevice();
    fstype = found->GetFileSystemType();
    found->GetMountOptions(options);
    return 1;
}

int tsaf_utils::get_dir_bdev(const std::string& dir, std::string& bdev, std::string& mnt_point) {
    std::list<TsMntInfo> entries;
    if (TsMntParser("/etc/mtab").ParseMountPointInfo(entries) != 0) return -1;
    std::string want = tidewall::text::without_trailing_slashes(dir);
    size_t best = 0;
    bool found = false;
    for (const auto& e : entries) {
        const std::string& mp = e.GetMountPoint();
        bool covers = mp == "/" || want == mp ||
                      (want.compare(0, mp.size(), mp) == 0 && want.size() > mp.size() && want[mp.size()] == '/');
        if (covers && mp.size() >= best) {
            best = mp.size();
            bdev = e.GetBackingDevice();
            mnt_point = mp;
            found = true;
        }
    }
    return found ? 0 : -1;
}

int tsaf_utils::get_fs_usage(const std::string& p, unsigned long& total, unsigned long& free) {
    tidewall::host::fs_usage u;
    int rc = current().fs_usage_of(path(p), u);
    if (rc != 0) return rc;
    total = u.total_bytes;
    free = u.free_bytes;
    return 0;
}

std::string tsaf_utils::create_file_sys_args(const std::list<std::string>& options) {
    std::string out;
    for (const auto& o : options) {
        if (!out.empty()) out += ',';
        out += o;
    }
    return out;
}
