#include "foundation/blkdev/why_in_use.h"

#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/mount/ts_mnt_parser.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace tidewall::blkdev {

namespace {

bool contains(const std::vector<std::string>& items, const std::string& item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

}  // namespace

usage_tables read_usage_tables() {
    usage_tables t;
    auto note = [&t](const char* what, int rc) {
        if (rc == 0 || !t.unreadable.empty()) return;
        t.unreadable = what;
        t.error = rc;
    };
    note("/etc/mtab", TsMntParser("/etc/mtab").ParseMountPointInfo(t.mounts));
    int rc = TsMntParser("/proc/swaps").ParseMountPointInfo(t.swaps);
    note("/proc/swaps", rc == ENOENT ? 0 : rc);
    rc = mount_table::read_mountinfo(t.mountinfo);
    note("/proc/self/mountinfo", rc == ENOENT ? 0 : rc);
    return t;
}

bool names_disk(const std::string& source, const disk_view& d) {
    if (source.empty() || source[0] != '/') return false;
    const std::vector<std::string> names = d.kernel_names();
    if (source == d.devpath || is_partition_name("/dev/" + d.disk.name, source)) return true;
    for (const auto& n : names)
        if (source == "/dev/" + n) return true;
    std::string mapped = host::path(source);
    char buf[PATH_MAX];
    if (::realpath(mapped.c_str(), buf)) {
        std::string node(buf);
        if (!d.node.empty() && node == d.node) return true;
        if (node.rfind(host::path("/dev/"), 0) == 0 && contains(names, node.substr(node.rfind('/') + 1))) return true;
    }
    struct stat st {};
    if (::stat(mapped.c_str(), &st) != 0) return false;
    if (S_ISBLK(st.st_mode) &&
        contains(d.devnums(), std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev))))
        return true;
    return d.node_exists && st.st_dev == d.node_dev && st.st_ino == d.node_ino;
}

std::vector<in_use> why_in_use(const disk_view& d, const usage_tables& t) {
    std::vector<in_use> out;
    if (!t.unreadable.empty()) {
        in_use r;
        r.unreadable = t.unreadable;
        r.error = t.error;
        out.push_back(r);
    }
    std::vector<const sysfs_device*> devices{&d.disk};
    for (const auto& p : d.partitions) devices.push_back(&p);
    for (const sysfs_device* dev : devices) {
        if (dev->holders_error != 0) {
            in_use r;
            r.device = dev->name;
            r.unreadable = "holders of " + dev->name;
            r.error = dev->holders_error;
            out.push_back(r);
            continue;
        }
        for (const auto& h : dev->holders) {
            in_use r;
            r.kind = in_use::held;
            r.device = dev->name;
            r.holder = h;
            std::string dm;
            if (file_io::read_all(host::path("/sys/class/block/" + h + "/dm/name"), dm) == 0)
                r.holder_dm = tsaf_utils::trim(dm);
            out.push_back(r);
        }
    }
    for (const auto& m : t.mounts)
        if (names_disk(m.GetBackingDevice(), d)) {
            in_use r;
            r.kind = in_use::mounted;
            r.mount_point = m.GetMountPoint();
            r.source = m.GetBackingDevice();
            out.push_back(r);
        }
    const std::vector<std::string> numbers = d.devnums();
    for (const auto& m : t.mountinfo)
        if (!m.devnum.empty() && contains(numbers, m.devnum)) {
            in_use r;
            r.kind = in_use::mounted;
            r.mount_point = m.mount_point;
            out.push_back(r);
        }
    for (const auto& s : t.swaps)
        if (names_disk(s.GetBackingDevice(), d)) {
            in_use r;
            r.kind = in_use::swap;
            r.source = s.GetBackingDevice();
            out.push_back(r);
        }
    return out;
}

}  // namespace tidewall::blkdev
