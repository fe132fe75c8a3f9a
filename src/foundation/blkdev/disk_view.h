#ifndef TIDEWALL_FOUNDATION_BLKDEV_DISK_VIEW_H
#define TIDEWALL_FOUNDATION_BLKDEV_DISK_VIEW_H

// One block device as sysfs and its device node show it: size, device number,
// flags, partitions and holders. Read once through the host layer, so the unit
// tier can build the tree in a temporary root.

#include <string>
#include <vector>

namespace tidewall::blkdev {

// Small sysfs reads on mapped paths: an attribute trimmed (false when it
// cannot be read), a decimal attribute (false when unreadable, not a number or
// out of range), and whether a name exists, links followed.
bool read_attr(const std::string& mapped, std::string& value);
bool read_number(const std::string& mapped, unsigned long long& value);
bool exists(const std::string& mapped);

// A disk or partition directory of sysfs.
struct sysfs_device {
    std::string name;  // kernel name: "sdb", "sdb1", "nvme0n1p2"
    std::string sysdir;  // mapped path of its directory
    std::string devnum;  // "major:minor", empty when unreadable
    bool size_known = false;
    unsigned long long sectors = 0;  // 512-byte sectors, whatever the block size
    std::vector<std::string> holders;  // kernel names, in kernel order
    int holders_error = 0;  // errno when holders/ could not be listed
};

struct disk_view {
    std::string devpath;  // the path the caller named the device by
    sysfs_device disk;
    std::vector<sysfs_device> partitions;  // in kernel order
    bool hardware = false;  // a device/ behind it (not loop, dm, zram)
    std::string model;
    bool ro_read = false, removable_read = false;
    std::string ro, removable;  // the attributes' text, trimmed
    // The device node at devpath: mapped, links resolved; identity for links
    // that name it by another path.
    bool node_exists = false;
    std::string node;
    unsigned long long node_dev = 0, node_ino = 0;

    // The device numbers of the disk and its partitions (the readable ones).
    std::vector<std::string> devnums() const;
    // The kernel names of the disk and its partitions.
    std::vector<std::string> kernel_names() const;
};

// Reads the device whose sysfs directory is sysdir (a system path such as
// /sys/block/sdb or /sys/class/block/sdb1) and whose node is devpath.
disk_view read_disk_view(const std::string& sysdir, const std::string& devpath);

// Kernel-name order: runs of digits compare as numbers, and drive letters as
// the kernel hands them out, so sdb < sdaa and loop2 < loop10.
bool kernel_order(const std::string& a, const std::string& b);

// Whether candidate names a partition of disk_dev by the kernel's naming:
// /dev/sdb1 of /dev/sdb, /dev/nvme0n1p1 of /dev/nvme0n1.
bool is_partition_name(const std::string& disk_dev, const std::string& candidate);

// The whole disks with a hardware device behind them (not loop, RAM or zram
// devices), as /dev paths in name order.
std::vector<std::string> physical_disks();

}  // namespace tidewall::blkdev

#endif
