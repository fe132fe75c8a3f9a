// Checks of a layout's disks that change nothing: sysfs, the device nodes, the
// mount table, mountinfo and /proc/swaps, all read through the host layer.

#include "metadata/layout_disk_checks.h"

#include "foundation/blkdev/blkdev_probe.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/mount/ts_mnt_parser.h"
#include "foundation/compat/tsaf_utils.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using tidewall::host::path;

namespace tidewall::metadata {
namespace {

constexpr unsigned long long kMiB = 1ULL << 20;
// LVM puts the first extent 1 MiB into a physical volume by default; the
// estimate of the group's size is therefore never smaller than LVM's.
constexpr unsigned long long kPvHeaderMiB = 1;
// What the LVM manager holds back from a thin pool for its metadata.
constexpr unsigned long long kThinHoldBackMiB = 256;

std::string read_trimmed(const std::string& mapped) {
    std::string text;
    if (file_io::read_all(mapped, text) != 0) return "";
    return tsaf_utils::trim(text);
}

std::vector<std::string> list_dir(const std::string& mapped) {
    std::vector<std::string> names;
    file_io::list_dir(mapped, names);
    return names;
}

std::string resolved(const std::string& mapped) {
    char buf[PATH_MAX];
    return ::realpath(mapped.c_str(), buf) ? std::string(buf) : std::string();
}

std::string base_name(const std::string& p) { return p.substr(p.rfind('/') + 1); }

// A disk as the kernel knows it: its node, its sysfs directory, and the
// kernel names and device numbers of it and its partitions.
struct disk_view {
    std::string name;                 // as the layout names it
    std::string node;                 // mapped, links resolved
    std::vector<std::string> kernel;  // the disk's kernel name, then its partitions'
    std::vector<std::string> devnums;
    unsigned long long bytes = 0;
};

// Whether a device text of a table names the disk or one of its partitions.
bool names_disk(const std::string& source, const disk_view& d) {
    if (source.empty() || source[0] != '/') return false;
    std::string node = resolved(path(source));
    if (node.empty()) return false;
    if (node == d.node) return true;
    struct stat st {};
    if (::stat(node.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
        std::string num = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
        if (std::find(d.devnums.begin(), d.devnums.end(), num) != d.devnums.end()) return true;
    }
    return node.rfind(path("/dev/"), 0) == 0 &&
           std::find(d.kernel.begin(), d.kernel.end(), base_name(node)) != d.kernel.end();
}

std::string mangled(const std::string& vg) {
    std::string out;
    for (char c : vg) out += c == '-' ? std::string("--") : std::string(1, c);
    return out;
}

// The tables that tell what the machine uses; problem set when one that must
// exist cannot be read.
struct usage {
    std::list<TsMntInfo> mounts, swaps;
    std::vector<std::pair<std::string, std::string>> mountinfo;  // devnum, mount point
    std::string problem;
};

usage read_usage() {
    usage u;
    if (TsMntParser("/etc/mtab").ParseMountPointInfo(u.mounts) != 0) {
        u.problem = "cannot be checked: the mount table /etc/mtab is unreadable";
        return u;
    }
    int rc = TsMntParser("/proc/swaps").ParseMountPointInfo(u.swaps);
    if (rc != 0 && rc != ENOENT) u.problem = "cannot be checked: /proc/swaps is unreadable";
    std::string text;
    if (file_io::read_all(path("/proc/self/mountinfo"), text) == 0) {
        size_t start = 0;
        while (start < text.size()) {
            size_t nl = text.find('\n', start);
            std::vector<std::string> f;
            tsaf_utils::tokenize(text.substr(start, nl == std::string::npos ? nl : nl - start).c_str(), " ", f);
            if (f.size() >= 5) u.mountinfo.emplace_back(f[2], f[4]);
            start = nl == std::string::npos ? text.size() : nl + 1;
        }
    }
    return u;
}

// Why the disk cannot take a physical volume; empty when it can.
// outgoing_nodes: the resolved nodes of the disks of the group the configure
// tears down first.
std::string judge(disk_view& d, const usage& u, const std::string& outgoing_vg,
                  const std::vector<std::string>& outgoing_nodes, const std::vector<std::string>& own_mounts) {
    auto own = [&](const std::string& mount_point) {
        return std::find(own_mounts.begin(), own_mounts.end(), mount_point) != own_mounts.end();
    };
    if (d.name.empty() || d.name[0] != '/') return "is not a device path";
    struct stat st {};
    std::string mapped = path(d.name);
    if (::stat(mapped.c_str(), &st) != 0) return "does not exist";
    d.node = resolved(mapped);
    std::string sys = path("/sys/class/block/" + base_name(d.node));
    // An image file stands in for a disk where the host layer maps the node,
    // but only one that sysfs knows: a stray file under /dev is no disk.
    if ((!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode)) || d.node.empty() || ::access(sys.c_str(), F_OK) != 0)
        return "is not a block device";
    std::string sectors = read_trimmed(sys + "/size");
    if (sectors.empty() || sectors.find_first_not_of("0123456789") != std::string::npos) return "has no readable size";
    d.bytes = std::strtoull(sectors.c_str(), nullptr, 10) * 512ULL;
    d.kernel.push_back(base_name(d.node));
    d.devnums.push_back(read_trimmed(sys + "/dev"));
    for (const auto& entry : list_dir(sys))
        if (::access((sys + "/" + entry + "/partition").c_str(), F_OK) == 0) {
            d.kernel.push_back(entry);
            d.devnums.push_back(read_trimmed(sys + "/" + entry + "/dev"));
        }
    if (!u.problem.empty()) return u.problem;
    for (size_t i = 0; i < d.kernel.size(); ++i) {
        std::string dir = i == 0 ? sys : sys + "/" + d.kernel[i];
        for (const auto& holder : list_dir(dir + "/holders")) {
            std::string dm_name = read_trimmed(path("/sys/class/block/" + holder + "/dm/name"));
            bool freed = !outgoing_vg.empty() && dm_name.rfind(mangled(outgoing_vg) + "-", 0) == 0;
            if (!freed) return "is held by " + holder + (i == 0 ? "" : " (through " + d.kernel[i] + ")");
        }
    }
    for (const auto& m : u.mounts)
        if (!own(m.GetMountPoint()) && names_disk(m.GetBackingDevice(), d)) return "is mounted at " + m.GetMountPoint();
    for (const auto& [devnum, mount_point] : u.mountinfo)
        if (!own(mount_point) && !devnum.empty() &&
            std::find(d.devnums.begin(), d.devnums.end(), devnum) != d.devnums.end())
            return "is mounted at " + mount_point;
    for (const auto& s : u.swaps)
        if (names_disk(s.GetBackingDevice(), d)) return "is used as swap";
    if (std::find(outgoing_nodes.begin(), outgoing_nodes.end(), d.node) == outgoing_nodes.end()) {
        blkdev::probe_result probe = blkdev::probe_signatures(d.node);
        if (probe.what == blkdev::probe_result::found && probe.type == "LVM2_member")
            return "carries an LVM label and is not a disk of the group being replaced";
    }
    return "";
}

// Follows the LVM manager's sizing over an estimate of the group's extents:
// the problem of the first volume that would not fit, or empty.
std::string check_sizes(const tw_vg& vg, unsigned long long group_extents) {
    unsigned long long e = vg.get_extent_size();
    if (e == 0) return "volume group [" + vg.get_name() + "] has an extent size of 0";
    unsigned long long free = group_extents;
    free -= static_cast<unsigned long long>(static_cast<unsigned __int128>(free) * vg.get_rsvd_percentage_cap() / 100);
    const unsigned long long whole = free;
    for (const auto& lv : vg.get_lv_list()) {
        unsigned long long share = static_cast<unsigned long long>(
            static_cast<unsigned __int128>(whole) * lv.get_min_percentage() / 100);
        unsigned long long cap = lv.get_max_size() > ULLONG_MAX / 1024 ? ULLONG_MAX : lv.get_max_size() * 1024 / e;
        unsigned long long n = std::min(share, cap);
        unsigned long long hold = lv.is_thin_volume() ? kThinHoldBackMiB / e : 0;
        std::string what = "logical volume [" + lv.get_name() + "] of " + std::to_string(n) + " extents";
        if (n == 0 || (lv.is_thin_volume() && (n <= hold || (n - hold) * 90 / 100 == 0)))
            return "the disks are too small: " + what + " leaves no room for its data";
        if (n > free)
            return "the disks are too small: " + what + " does not fit in the " + std::to_string(free) +
                   " extents left";
        free -= n - hold;
    }
    return "";
}

} // namespace

bool is_volume_of_group(const std::string& device, const std::string& vg) {
    if (vg.empty()) return false;
    std::string direct = "/dev/" + vg + "/", mapper = "/dev/mapper/" + mangled(vg) + "-";
    return (device.size() > direct.size() && device.compare(0, direct.size(), direct) == 0) ||
           (device.size() > mapper.size() && device.compare(0, mapper.size(), mapper) == 0);
}

std::vector<std::string> check_layout_disks(const tw_md_storage_config& config, const std::string& outgoing_vg,
                                            const std::list<std::string>& outgoing_disks,
                                            const std::vector<std::string>& own_mounts) {
    std::vector<std::string> names;
    for (const auto& d : config.get_disk_list()) names.push_back(d.get_name());
    for (const auto& pv : config.get_vg().get_pv_list()) names.push_back(pv.get_name());
    std::vector<std::string> seen, problems;
    usage u = read_usage();
    std::vector<std::string> outgoing_nodes;
    for (const auto& disk : outgoing_disks)
        if (!disk.empty() && disk[0] == '/') outgoing_nodes.push_back(resolved(path(disk)));
    unsigned long long group_extents = 0;
    bool sized = true;
    for (const auto& name : names) {
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        seen.push_back(name);
        disk_view d;
        d.name = name;
        std::string why = judge(d, u, outgoing_vg, outgoing_nodes, own_mounts);
        if (!why.empty()) {
            problems.push_back("disk [" + name + "] " + why);
            sized = false;
            continue;
        }
        bool is_pv = false;
        for (const auto& pv : config.get_vg().get_pv_list()) is_pv = is_pv || pv.get_name() == name;
        unsigned long long e = config.get_vg().get_extent_size();
        if (is_pv && e != 0 && d.bytes / kMiB > kPvHeaderMiB) group_extents += (d.bytes / kMiB - kPvHeaderMiB) / e;
    }
    if (sized) {
        std::string why = check_sizes(config.get_vg(), group_extents);
        if (!why.empty()) problems.push_back(why);
    }
    // mkfs runs on every file system of the layout. One on a volume the layout
    // creates is new; one on any other device must pass the disks' checks, so
    // that nothing mounted, held, swapped on or labelled by LVM is formatted.
    const tw_vg& vg = config.get_vg();
    for (const auto& fs : config.get_fs_list()) {
        const std::string& dev = fs.get_blk_device();
        bool own = false;
        for (const auto& lv : vg.get_lv_list())
            own = own || dev == "/dev/" + vg.get_name() + "/" + lv.get_name() ||
                  dev == "/dev/mapper/" + mangled(vg.get_name()) + "-" + mangled(lv.get_name());
        if (own || std::find(seen.begin(), seen.end(), dev) != seen.end()) continue;
        seen.push_back(dev);
        disk_view d;
        d.name = dev;
        std::string why = judge(d, u, outgoing_vg, outgoing_nodes, own_mounts);
        if (!why.empty()) problems.push_back("file system device [" + dev + "] " + why);
    }
    return problems;
}

} // namespace tidewall::metadata
