// What uses a disk, on a fake sysfs tree: each kind of use found on the disk
// or its partitions, and a table that cannot be read reported as a reason.

#include "fake_sysfs.h"

#include "foundation/blkdev/why_in_use.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using tidewall::blkdev::in_use;
using tidewall::testing::add_disk;
using tidewall::testing::add_holder;
using tidewall::testing::fake_disk;
using tidewall::testing::test_backend;

namespace {

std::string text(const in_use& r) {
    switch (r.kind) {
    case in_use::cannot_tell: return "cannot tell: " + r.unreadable;
    case in_use::held: return r.device + " held by " + r.holder + (r.holder_dm.empty() ? "" : " (" + r.holder_dm + ")");
    case in_use::mounted: return "mounted at " + r.mount_point + (r.source.empty() ? "" : " from " + r.source);
    case in_use::swap: return "swap on " + r.source;
    }
    return "?";
}

TEST(WhyInUse, FindsEveryUseOfTheDiskOrItsPartitions) {
    struct row {
        const char* name;
        std::function<void(test_backend&)> setup;
        std::vector<std::string> reasons;
    };
    const std::vector<row> rows = {
        {"plain free disk", nullptr, {}},
        {"mounted partition",
         [](test_backend& tb) { tb.write_file("/etc/mtab", "/dev/sda1 / xfs rw 0 0\n/dev/sdb1 /data xfs rw 0 0\n"); },
         {"mounted at /data from /dev/sdb1"}},
        {"mounted through a link",
         [](test_backend& tb) {
             tb.make_dir("/dev/disk/by-id");
             std::filesystem::create_symlink("../../sdb", tb.root + "/dev/disk/by-id/wwn-1");
             tb.write_file("/etc/mtab", "/dev/disk/by-id/wwn-1 /srv/x xfs rw 0 0\n");
         },
         {"mounted at /srv/x from /dev/disk/by-id/wwn-1"}},
        {"mounted by device number only, escaped mount point",
         [](test_backend& tb) {
             tb.write_file("/proc/self/mountinfo",
                           "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                           "40 22 8:18 / /mnt/my\\040data rw shared:5 - xfs /dev/root rw\n");
         },
         {"mounted at /mnt/my data"}},
        {"swap",
         [](test_backend& tb) {
             tb.write_file("/proc/swaps", "Filename Type Size Used Priority\n/dev/sdb partition 1 0 -2\n");
         },
         {"swap on /dev/sdb"}},
        {"device-mapper holder",
         [](test_backend& tb) { add_holder(tb, "sdb", "dm-0", "vg-data"); },
         {"sdb held by dm-0 (vg-data)"}},
        {"md member through a partition",
         [](test_backend& tb) { add_holder(tb, "sdb1", "md0"); },
         {"sdb1 held by md0"}},
        {"unreadable mountinfo",
         [](test_backend& tb) { tb.make_dir("/proc/self/mountinfo"); },
         {"cannot tell: /proc/self/mountinfo"}},
        {"unreadable mount table",
         [](test_backend& tb) { std::filesystem::remove(tb.root + "/etc/mtab"); },
         {"cannot tell: /etc/mtab"}},
        {"unreadable holders of a partition",
         [](test_backend& tb) { std::filesystem::remove_all(tb.root + "/sys/class/block/sdb1/holders"); },
         {"cannot tell: holders of sdb1"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        test_backend tb;
        add_disk(tb, fake_disk("sda").devnum_is("8:0").with_partitions({"sda1"}));
        add_disk(tb, fake_disk("sdb").devnum_is("8:16").with_partitions({"sdb1", "sdb2"}));
        tb.write_file("/etc/mtab", "/dev/sda1 / xfs rw 0 0\n");
        if (r.setup) r.setup(tb);
        auto view = tidewall::blkdev::read_disk_view("/sys/block/sdb", "/dev/sdb");
        std::vector<std::string> got;
        for (const auto& reason : tidewall::blkdev::why_in_use(view, tidewall::blkdev::read_usage_tables()))
            got.push_back(text(reason));
        EXPECT_EQ(got, r.reasons);
    }
}

}  // namespace
