#include "foundation/mount/mount_check.h"

#include "foundation/host/host_backend.h"
#include "foundation/mount/ts_mnt_parser.h"

#include <climits>
#include <cstdlib>
#include <list>
#include <sys/stat.h>

namespace tidewall::mount_check {

namespace {

std::string without_trailing_slashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

// The device of the last mount-table entry at path; false when there is none.
bool device_at(const std::string& path, std::string& device) {
    std::list<TsMntInfo> entries;
    if (TsMntParser("/etc/mtab").ParseMountPointInfo(entries) != 0) return false;
    std::string want = without_trailing_slashes(path);
    bool found = false;
    for (const auto& e : entries) {
        if (e.GetMountPoint() != want) continue;
        device = e.GetBackingDevice();
        found = true;
    }
    return found;
}

bool same_node(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty() || a[0] != '/' || b[0] != '/') return false;
    char ra[PATH_MAX], rb[PATH_MAX];
    if (!::realpath(host::path(a).c_str(), ra) || !::realpath(host::path(b).c_str(), rb)) return false;
    return std::string(ra) == rb;
}

bool holds_file_system_at(const std::string& device, const std::string& path) {
    if (device.empty() || device[0] != '/') return false;
    struct stat dev {
    }, dir{};
    if (::stat(host::path(device).c_str(), &dev) != 0 || !S_ISBLK(dev.st_mode)) return false;
    return ::stat(host::path(path).c_str(), &dir) == 0 && dir.st_dev == dev.st_rdev;
}

}  // namespace

bool is_mount_of(const std::string& path, const std::string& device) {
    std::string mounted;
    if (!device_at(path, mounted)) return false;
    return mounted == device || same_node(mounted, device) || holds_file_system_at(device, path);
}

bool is_mount_point(const std::string& path) {
    std::string mounted;
    return device_at(path, mounted);
}

}  // namespace tidewall::mount_check
