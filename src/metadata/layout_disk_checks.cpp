// Checks of a layout's disks that change nothing: sysfs, the device nodes, the
// mount table, mountinfo and /proc/swaps, all read through the host layer.

#include "metadata/layout_disk_checks.h"

#include "foundation/blkdev/blkdev_probe.h"
#include "foundation/blkdev/dm_names.h"
#include "foundation/blkdev/why_in_use.h"
#include "foundation/host/host_backend.h"

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

std::string resolved(const std::string& mapped) {
    char buf[PATH_MAX];
    return ::realpath(mapped.c_str(), buf) ? std::string(buf) : std::string();
}

std::string base_name(const std::string& p) { return p.substr(p.rfind('/') + 1); }

// A device a layout names, as the kernel knows it.
struct disk_view {
    std::string name;  // as the layout names it
    blkdev::disk_view view;
    unsigned long long bytes = 0;
};

// The first table that could not be read, in this check's words.
std::string unreadable_table(const blkdev::usage_tables& u) {
    if (u.unreadable.empty()) return "";
    if (u.unreadable == "/etc/mtab") return "cannot be checked: the mount table /etc/mtab is unreadable";
    return "cannot be checked: " + u.unreadable + " is unreadable";
}

// Why the disk cannot take a physical volume; empty when it can.
// outgoing_nodes: the resolved nodes of the disks of the group the configure
// tears down first.
std::string judge(disk_view& d, const blkdev::usage_tables& u, const std::string& outgoing_vg,
                  const std::vector<std::string>& outgoing_nodes, const std::vector<std::string>& own_mounts) {
    auto own = [&](const std::string& mount_point) {
        return std::find(own_mounts.begin(), own_mounts.end(), mount_point) != own_mounts.end();
    };
    if (d.name.empty() || d.name[0] != '/') return "is not a device path";
    struct stat st {};
    std::string mapped = path(d.name);
    if (::stat(mapped.c_str(), &st) != 0) return "does not exist";
    std::string node = resolved(mapped);
    std::string sys = "/sys/class/block/" + base_name(node);
    // An image file stands in for a disk where the host layer maps the node,
    // but only one that sysfs knows: a stray file under /dev is no disk.
    if ((!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode)) || node.empty() || ::access(path(sys).c_str(), F_OK) != 0)
        return "is not a block device";
    d.view = blkdev::read_disk_view(sys, d.name);
    if (!d.view.disk.size_known) return "has no readable size";
    d.bytes = d.view.disk.sectors * 512ULL;
    std::string problem = unreadable_table(u);
    if (!problem.empty()) return problem;
    // Policy: holders that are volumes of the outgoing group and mounts the
    // teardown unmounts first do not count.
    for (const auto& r : blkdev::why_in_use(d.view, u)) {
        switch (r.kind) {
        case blkdev::in_use::cannot_tell: return "cannot be checked: the " + r.unreadable + " are unreadable";
        case blkdev::in_use::held:
            if (blkdev::dm_name_in_group(r.holder_dm, outgoing_vg)) break;
            return "is held by " + r.holder + (r.device == d.view.disk.name ? "" : " (through " + r.device + ")");
        case blkdev::in_use::mounted:
            if (!own(r.mount_point)) return "is mounted at " + r.mount_point;
            break;
        case blkdev::in_use::swap: return "is used as swap";
        }
    }
    if (std::find(outgoing_nodes.begin(), outgoing_nodes.end(), d.view.node) == outgoing_nodes.end()) {
        blkdev::probe_result probe = blkdev::probe_signatures(d.view.node);
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
        unsigned long long share =
            static_cast<unsigned long long>(static_cast<unsigned __int128>(whole) * lv.get_min_percentage() / 100);
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

}  // namespace

bool is_volume_of_group(const std::string& device, const std::string& vg) {
    if (vg.empty()) return false;
    std::string direct = "/dev/" + vg + "/", mapper = "/dev/mapper/";
    return (device.size() > direct.size() && device.compare(0, direct.size(), direct) == 0) ||
           (device.compare(0, mapper.size(), mapper) == 0 &&
            blkdev::dm_name_in_group(device.substr(mapper.size()), vg));
}

std::vector<std::string> check_layout_disks(const tw_md_storage_config& config, const std::string& outgoing_vg,
                                            const std::list<std::string>& outgoing_disks,
                                            const std::vector<std::string>& own_mounts) {
    std::vector<std::string> names;
    for (const auto& d : config.get_disk_list()) names.push_back(d.get_name());
    for (const auto& pv : config.get_vg().get_pv_list()) names.push_back(pv.get_name());
    std::vector<std::string> seen, problems;
    blkdev::usage_tables u = blkdev::read_usage_tables();
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
                  dev == blkdev::dm_mapper_path(vg.get_name(), lv.get_name());
        if (own || std::find(seen.begin(), seen.end(), dev) != seen.end()) continue;
        seen.push_back(dev);
        disk_view d;
        d.name = dev;
        std::string why = judge(d, u, outgoing_vg, outgoing_nodes, own_mounts);
        if (!why.empty()) problems.push_back("file system device [" + dev + "] " + why);
    }
    return problems;
}

}  // namespace tidewall::metadata
