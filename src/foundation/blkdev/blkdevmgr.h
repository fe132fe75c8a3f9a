#ifndef TIDEWALL_FOUNDATION_BLKDEVMGR_H
#define TIDEWALL_FOUNDATION_BLKDEVMGR_H

// The host layer's block-device manager: the machine's block devices from
// sysfs, which of the whole disks are new (nothing uses them: they may be wiped),
// capacities, and the vfat partition of an EFI node. Every path goes through the
// host layer (/sys/block, /dev, /etc/mtab, /etc/fstab, /proc/swaps), so the unit
// tier can run it on a fake sysfs tree with image files for devices.
//
// A disk is new only when it is certain that nothing uses it: a whole disk with
// a hardware device behind it (a loop device only when named in the registry key
// sTidewallTestDisks), writable, not removable, of non-zero size, without
// partitions or holders, not mounted, not swap, not named in /etc/fstab, not
// held open exclusively by the kernel, and without any signature libblkid finds.
// Anything that cannot be read counts against the disk.

#include "foundation/blkdev/why_in_use.h"

#include <tidewall/ts_mnt_info.h>
#include <tidewall/tsaf_blkdev.h>
#include <tidewall/tw_debug.h>

#include <list>
#include <string>
#include <vector>

class tsaf_blkdevmgr {
public:
    tsaf_blkdevmgr();

    // Lists the block devices from /sys/block in kernel-name order (sdb before
    // sdaa); with include_partitions each disk's partitions follow it. 0, or an
    // errno value when /sys/block cannot be read.
    int enumerate_blkdevs(bool include_partitions);
    const std::list<tsaf_blkdev_basic_info>& blkdevs() const { return devices_; }

    // The new whole disks, in enumeration order (enumerates first if that was
    // not done). 0, or non-zero when it cannot be decided: sysfs, the mount table,
    // /etc/fstab or /proc/swaps unreadable. The list is then empty.
    int get_new_disks(std::list<tsaf_blkdev_basic_info>& disks);

    // Every whole disk with whether it is new and, if not, why. Same result
    // codes as get_new_disks; verdicts are filled in either case.
    int survey_disks(std::list<tsaf_blkdev_verdict>& verdicts);

    // The verdict on one whole disk only (reason "gone" when sysfs has no such
    // disk): the same judgement as survey_disks, without reading every other
    // disk, for a caller that provisions one disk at a time. Same result codes.
    // Leaves blkdevs() holding that disk alone.
    int survey_disk(const std::string& devpath, tsaf_blkdev_verdict& verdict);

    // Block count and block size (logical sector size) of the device named by
    // the record's device path; throws TsException when they cannot be read.
    void get_capacity(tsaf_blkdev& dev);

    // The partition holding a vfat file system (an EFI system partition first)
    // and its file-system UUID. 0, or -1 when there is none.
    int get_vfat_partition(std::string& partition, std::string& uuid);

private:
    // What sysfs and the device node say about one whole disk.
    struct disk_facts {
        tsaf_blkdev_basic_info info;
        tidewall::blkdev::disk_view view;
    };
    // The tables that tell what the machine uses.
    struct usage_tables {
        tidewall::blkdev::usage_tables in_use;  // mtab, swaps, mountinfo
        std::list<TsMntInfo> fstab;
        std::string problem;  // why every disk is in doubt, when a table is unreadable
    };

    // Reads what sysfs and /dev say about the whole disk `name` and appends it.
    void add_disk(const std::string& name, bool include_partitions);
    int load_usage_tables(usage_tables& t);
    std::string judge(const disk_facts& d, const usage_tables& t);
    bool loop_allowed(const std::string& devpath);

    tw_debug log_;
    bool enumerated_ = false;
    int enumerate_error_ = 0;
    bool with_partitions_ = false;
    std::list<tsaf_blkdev_basic_info> devices_;
    std::vector<disk_facts> disks_;
    std::vector<std::string> test_disks_;
    bool test_disks_read_ = false;
};

#endif
