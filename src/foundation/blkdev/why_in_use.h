#ifndef TIDEWALL_FOUNDATION_BLKDEV_WHY_IN_USE_H
#define TIDEWALL_FOUNDATION_BLKDEV_WHY_IN_USE_H

// Whether anything on the machine uses a disk, and what: holders (device
// mapper, md), mounts by any path or only by device number, swap, on the disk
// or any of its partitions. A table that cannot be read is a reason too: what
// cannot be looked at may be in use. Callers put their own policy on top
// (which reasons they excuse, how they word them).

#include "foundation/blkdev/disk_view.h"
#include "foundation/mount/mountinfo.h"

#include <tidewall/ts_mnt_info.h>

#include <list>
#include <string>
#include <vector>

namespace tidewall::blkdev {

// The tables that tell what the machine uses, read once for many disks.
struct usage_tables {
    std::list<TsMntInfo> mounts;  // /etc/mtab
    std::list<TsMntInfo> swaps;  // /proc/swaps
    std::vector<mount_table::mountinfo_entry> mountinfo;
    // The first table that could not be read, and why; empty when all could.
    // A missing /proc/swaps or /proc/self/mountinfo is an empty table.
    std::string unreadable;
    int error = 0;
};
usage_tables read_usage_tables();

struct in_use {
    enum kind_t {
        cannot_tell,  // `unreadable` could not be read
        held,  // `device` has holder `holder`
        mounted,  // `device` (a table's `source`) is mounted at `mount_point`
        swap,  // `source` is used as swap
    };
    kind_t kind = cannot_tell;
    std::string device;  // held: kernel name of the disk or partition held
    std::string holder;  // held: kernel name of the holder ("dm-3", "md0")
    std::string holder_dm;  // held: the holder's device-mapper name, when it has one
    std::string mount_point;  // mounted
    std::string source;  // mounted (from /etc/mtab), swap: the table's device text
    std::string unreadable;  // cannot_tell: "/etc/mtab", "holders of sdb1", ...
    int error = 0;  // cannot_tell: errno
};

// Every reason the disk is in use, in this order: unreadable tables, holders
// (the disk's, then its partitions'), /etc/mtab mounts, mounts mountinfo alone
// shows, swap. Empty: nothing uses it.
std::vector<in_use> why_in_use(const disk_view& disk, const usage_tables& tables);

// Whether a device text of a table (a path, possibly a link) names the disk or
// one of its partitions.
bool names_disk(const std::string& source, const disk_view& disk);

}  // namespace tidewall::blkdev

#endif
