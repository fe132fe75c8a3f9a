#ifndef TIDEWALL_FOUNDATION_BLKDEV_PROBE_H
#define TIDEWALL_FOUNDATION_BLKDEV_PROBE_H

// What libblkid finds on a block device (or an image file standing in for one):
// file systems, RAID and LVM members, swap, partition tables. Paths given here
// are already mapped by the host layer.

#include <string>

namespace tidewall::blkdev {

struct probe_result {
    enum outcome {
        nothing,  // no signature of any kind
        found,  // one signature: type (or pttype) tells which
        ambivalent,  // several signatures that contradict each other
        failed,  // the device could not be opened or read
    };
    outcome what = failed;
    std::string type;  // TYPE: "xfs", "LVM2_member", "linux_raid_member", "swap", "vfat", ...
    std::string usage;  // USAGE: "filesystem", "raid", "crypto", "other"
    std::string uuid;  // UUID of the file system, when it has one
    std::string pttype;  // PTTYPE: "dos", "gpt", ... for a partition table
    std::string part_entry_type;  // PART_ENTRY_TYPE of a partition ("0xef", an ESP GUID)
    int error = 0;  // errno when failed
};

// Probes every superblock and partition-table signature libblkid knows, also
// those with a bad checksum: a damaged file system is still somebody's data.
probe_result probe_signatures(const std::string& path);

// Text for an operator: "a xfs file system signature", "a gpt partition table".
std::string describe(const probe_result& r);

}  // namespace tidewall::blkdev

#endif
