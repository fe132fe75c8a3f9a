// Which disks are new (and may be wiped), on a fake sysfs tree with image files
// for devices; capacities; the vfat partition of an EFI node.

#include "storage_fixture.h"

#include "foundation/blkdev/blkdevmgr.h"

#include <gtest/gtest.h>

#include <filesystem>

using tidewall::testing::add_disk;
using tidewall::testing::fake_disk;
using tidewall::testing::test_backend;

namespace {

class NewDisksTest : public ::testing::Test {
protected:
    void SetUp() override {
        tb.write_file("/etc/mtab", "/dev/vda / ext4 rw 0 0\n");
        tb.write_file("/proc/swaps", "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n");
    }

    std::map<std::string, std::string> reasons() {
        tsaf_blkdevmgr manager;
        std::list<tsaf_blkdev_verdict> verdicts;
        last_rc = manager.survey_disks(verdicts);
        std::map<std::string, std::string> out;
        for (const auto& v : verdicts) {
            EXPECT_EQ(v.get_is_new(), v.get_reason().empty());
            out[v.get_info().get_devpath()] = v.get_is_new() ? "new" : v.get_reason();
        }
        // A disk judged alone gets the verdict the whole survey gave it.
        for (const auto& [dev, why] : out) {
            tsaf_blkdevmgr one;
            tsaf_blkdev_verdict v;
            EXPECT_EQ(one.survey_disk(dev, v), last_rc) << dev;
            EXPECT_EQ(v.get_is_new() ? "new" : v.get_reason(), why) << dev << " judged alone";
        }
        tsaf_blkdevmgr one;
        tsaf_blkdev_verdict gone;
        one.survey_disk("/dev/sdzz", gone);
        EXPECT_FALSE(gone.get_is_new());
        EXPECT_EQ(gone.get_reason(), "gone");
        return out;
    }

    std::vector<std::string> new_disks() {
        tsaf_blkdevmgr manager;
        std::list<tsaf_blkdev_basic_info> disks;
        last_rc = manager.get_new_disks(disks);
        std::vector<std::string> out;
        for (const auto& d : disks) out.push_back(d.get_devpath());
        return out;
    }

    test_backend tb;
    int last_rc = 0;
};

TEST_F(NewDisksTest, OnlyDisksNothingUsesAreNew) {
    add_disk(tb, fake_disk("sdb"));
    add_disk(tb, fake_disk("sdaa"));
    add_disk(tb, fake_disk("sdc").with_partitions({"sdc1"}));
    add_disk(tb, fake_disk("sdd").held_by({"dm-0"}));
    add_disk(tb, fake_disk("sde"));
    add_disk(tb, fake_disk("sdf"));
    add_disk(tb, fake_disk("sdg"));
    add_disk(tb, fake_disk("sdh"));
    add_disk(tb, fake_disk("sdi").ro_flag("1"));
    add_disk(tb, fake_disk("sdj").removable_media());
    add_disk(tb, fake_disk("sdk").size(0));
    add_disk(tb, fake_disk("sdl"));
    tidewall::testing::write_dos_table(tb, "/dev/sdl");
    add_disk(tb, fake_disk("sdm"));
    tidewall::testing::write_ext_superblock(tb, "/dev/sdm");
    add_disk(tb, fake_disk("sdn"));
    tidewall::testing::write_swap_signature(tb, "/dev/sdn");
    add_disk(tb, fake_disk("sdo").without_node());
    add_disk(tb, fake_disk("sdp").devnum_is("259:7"));
    add_disk(tb, fake_disk("sdq").ro_flag("maybe"));
    add_disk(tb, fake_disk("dm-0").virtual_device());
    add_disk(tb, fake_disk("loop0").virtual_device());
    add_disk(tb, fake_disk("loop1").virtual_device());
    tb.set_key("sTidewallTestDisks", "/dev/loop7, /dev/loop1");

    tb.make_dir("/dev/disk/by-id");
    std::filesystem::create_symlink("../../sdf", tb.root + "/dev/disk/by-id/wwn-0x5000f");
    tb.write_file("/etc/mtab",
                  "/dev/vda / ext4 rw 0 0\n"
                  "/dev/sde /data xfs rw 0 0\n"
                  "/dev/disk/by-id/wwn-0x5000f /srv/f xfs rw 0 0\n"
                  "tmpfs /run tmpfs rw 0 0\n");
    tb.write_file("/proc/self/mountinfo",
                  "22 1 252:1 / / rw - ext4 /dev/vda rw\n"
                  "40 22 259:7 / /srv/p rw - xfs /dev/root rw\n");
    tb.write_file("/etc/fstab",
                  "UUID=1111 / ext4 defaults 0 1\n"
                  "/dev/sdg /tw/disk9 xfs nofail 0 0\n");
    tb.write_file("/proc/swaps",
                  "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n"
                  "/dev/sdh                                partition\t65532\t\t0\t\t-2\n");

    auto r = reasons();
    EXPECT_EQ(last_rc, 0);
    EXPECT_EQ(r["/dev/sdb"], "new");
    EXPECT_EQ(r["/dev/sdaa"], "new");
    EXPECT_EQ(r["/dev/loop1"], "new");
    EXPECT_EQ(r["/dev/sdc"], "has partitions (sdc1)");
    EXPECT_EQ(r["/dev/sdd"], "held by dm-0");
    EXPECT_EQ(r["/dev/sde"], "mounted at /data");
    EXPECT_EQ(r["/dev/sdf"], "mounted at /srv/f");
    EXPECT_EQ(r["/dev/sdg"], "named in /etc/fstab (/dev/sdg on /tw/disk9)");
    EXPECT_EQ(r["/dev/sdh"], "used as swap (/dev/sdh)");
    EXPECT_EQ(r["/dev/sdi"], "read-only");
    EXPECT_EQ(r["/dev/sdj"], "removable media");
    EXPECT_EQ(r["/dev/sdk"], "zero size (no medium)");
    EXPECT_EQ(r["/dev/sdl"], "carries a dos partition table");
    EXPECT_EQ(r["/dev/sdm"], "carries a ext2 file system signature");
    EXPECT_EQ(r["/dev/sdn"], "carries a swap signature");
    EXPECT_EQ(r["/dev/sdo"], "no device node /dev/sdo");
    EXPECT_EQ(r["/dev/sdp"], "mounted at /srv/p");
    EXPECT_EQ(r["/dev/sdq"], "read-only flag unreadable");
    EXPECT_EQ(r["/dev/dm-0"], "no hardware device behind it (virtual block device)");
    EXPECT_EQ(r["/dev/loop0"], "loop device not named in sTidewallTestDisks");
    EXPECT_EQ(r.size(), 20u);

    // In kernel order: drive letters as the kernel hands them out.
    EXPECT_EQ(new_disks(), (std::vector<std::string>{"/dev/loop1", "/dev/sdb", "/dev/sdaa"}));
    EXPECT_TRUE(tb.logged(1, "tsaf_blkdevmgr::survey_disks", "Disk [/dev/sdc] is not new: has partitions (sdc1)"));
}

TEST_F(NewDisksTest, PartitionsAreMatchedByTheKernelsNaming) {
    add_disk(tb, fake_disk("sdb"));
    add_disk(tb, fake_disk("sdba"));
    add_disk(tb, fake_disk("loop1").virtual_device());
    add_disk(tb, fake_disk("loop10").virtual_device());
    add_disk(tb, fake_disk("nvme0n1"));
    tb.set_key("sTidewallTestDisks", "/dev/loop1,/dev/loop10");
    // sdb's partition is in fstab; loop1's, nvme0n1's are mounted. Names that
    // merely start alike are other disks.
    tb.write_file("/etc/fstab", "/dev/sdb2 /old xfs nofail 0 0\n");
    tb.write_file("/etc/mtab", "/dev/loop1p1 /a xfs rw 0 0\n/dev/nvme0n1p3 /b xfs rw 0 0\n");
    auto r = reasons();
    EXPECT_EQ(r["/dev/sdb"], "named in /etc/fstab (/dev/sdb2 on /old)");
    EXPECT_EQ(r["/dev/sdba"], "new");
    EXPECT_EQ(r["/dev/loop1"], "mounted at /a");
    EXPECT_EQ(r["/dev/loop10"], "new");
    EXPECT_EQ(r["/dev/nvme0n1"], "mounted at /b");
}

TEST_F(NewDisksTest, UnreadableTablesLeaveNoDiskNew) {
    add_disk(tb, fake_disk("sdb"));
    EXPECT_EQ(new_disks(), std::vector<std::string>{"/dev/sdb"});

    std::filesystem::remove(tb.root + "/etc/mtab");
    EXPECT_EQ(new_disks(), std::vector<std::string>{});
    EXPECT_NE(last_rc, 0);
    EXPECT_EQ(reasons()["/dev/sdb"], "mount table /etc/mtab unreadable (No such file or directory)");

    tb.write_file("/etc/mtab", "");
    tb.make_dir("/etc/fstab");  // exists but cannot be read as a file
    EXPECT_EQ(new_disks(), std::vector<std::string>{});
    EXPECT_NE(last_rc, 0);

    std::filesystem::remove(tb.root + "/etc/fstab");
    std::filesystem::remove(tb.root + "/proc/swaps");  // no fstab, no swap support: nothing to doubt
    EXPECT_EQ(new_disks(), std::vector<std::string>{"/dev/sdb"});

    tb.make_dir("/proc/self/mountinfo");  // there, but not readable as a table
    EXPECT_EQ(new_disks(), std::vector<std::string>{});
    EXPECT_NE(last_rc, 0);
    EXPECT_EQ(reasons()["/dev/sdb"], "/proc/self/mountinfo unreadable (Is a directory)");
    std::filesystem::remove(tb.root + "/proc/self/mountinfo");

    std::filesystem::remove_all(tb.root + "/sys");
    EXPECT_EQ(new_disks(), std::vector<std::string>{});
    EXPECT_NE(last_rc, 0);
}

TEST_F(NewDisksTest, MissingSysfsAttributesCountAgainstTheDisk) {
    add_disk(tb, fake_disk("sdb"));
    add_disk(tb, fake_disk("sdc"));
    add_disk(tb, fake_disk("sdd"));
    std::filesystem::remove(tb.root + "/sys/block/sdb/removable");
    std::filesystem::remove_all(tb.root + "/sys/block/sdc/holders");
    std::filesystem::remove(tb.root + "/sys/block/sdd/size");
    auto r = reasons();
    EXPECT_EQ(r["/dev/sdb"], "removable flag unreadable");
    EXPECT_EQ(r["/dev/sdc"], "holders unreadable");
    EXPECT_EQ(r["/dev/sdd"], "size unreadable");
}

TEST_F(NewDisksTest, EnumerationListsPartitionsWhenAsked) {
    add_disk(tb, fake_disk("sdb").with_partitions({"sdb2", "sdb1", "sdb10"}));
    add_disk(tb, fake_disk("sda"));
    tsaf_blkdevmgr manager;
    ASSERT_EQ(manager.enumerate_blkdevs(true), 0);
    std::vector<std::string> names;
    for (const auto& d : manager.blkdevs()) names.push_back(d.get_devpath() + (d.get_is_partition() ? "*" : ""));
    EXPECT_EQ(names, (std::vector<std::string>{"/dev/sda", "/dev/sdb", "/dev/sdb1*", "/dev/sdb2*", "/dev/sdb10*"}));
    EXPECT_EQ(manager.blkdevs().front().get_size(), 64ULL << 20);
    EXPECT_EQ(manager.blkdevs().front().get_model(), "QEMU HARDDISK");
    ASSERT_EQ(manager.enumerate_blkdevs(false), 0);
    EXPECT_EQ(manager.blkdevs().size(), 2u);
}

TEST_F(NewDisksTest, CapacityFromSysfs) {
    add_disk(tb, fake_disk("sdb").with_partitions({"sdb1"}));
    add_disk(tb, fake_disk("sdc"));
    tb.write_file("/sys/block/sdc/queue/logical_block_size", "4096\n");
    tsaf_blkdevmgr manager;
    tsaf_blkdev sdb("/dev/sdb"), sdc("/dev/sdc"), part("/dev/sdb1");
    manager.get_capacity(sdb);
    EXPECT_EQ(sdb.get_blocks(), 131072u);
    EXPECT_EQ(sdb.get_blksize(), 512u);
    manager.get_capacity(sdc);
    EXPECT_EQ(sdc.get_blocks(), 16384u);
    EXPECT_EQ(sdc.get_blksize(), 4096u);
    manager.get_capacity(part);
    EXPECT_EQ(part.get_blocks(), 2048u);

    tsaf_blkdev missing("/dev/sdx"), sneaky("/dev/../etc"), relative("sdb");
    EXPECT_THROW(manager.get_capacity(missing), TsException);
    EXPECT_THROW(manager.get_capacity(sneaky), TsException);
    EXPECT_THROW(manager.get_capacity(relative), TsException);
    tb.write_file("/sys/block/sdc/queue/logical_block_size", "0\n");
    EXPECT_THROW(manager.get_capacity(sdc), TsException);
}

TEST_F(NewDisksTest, VfatPartitionOfTheNode) {
    add_disk(tb, fake_disk("sda").removable_media().with_partitions({"sda1"}));  // a USB stick
    add_disk(tb, fake_disk("sdb").with_partitions({"sdb1", "sdb2"}));
    for (const char* p : {"/dev/sda1", "/dev/sdb1", "/dev/sdb2"}) {
        tb.write_file(p, "");
        std::filesystem::resize_file(tb.root + p, 2 << 20);
    }
    tsaf_blkdevmgr manager;
    std::string partition, uuid;
    EXPECT_EQ(manager.get_vfat_partition(partition, uuid), -1);
    tidewall::testing::write_fat_boot_sector(tb, "/dev/sda1");
    EXPECT_EQ(manager.get_vfat_partition(partition, uuid), -1);
    tidewall::testing::write_fat_boot_sector(tb, "/dev/sdb2");
    EXPECT_EQ(manager.get_vfat_partition(partition, uuid), 0);
    EXPECT_EQ(partition, "/dev/sdb2");
    EXPECT_EQ(uuid, "02DC-E00F");
}

TEST_F(NewDisksTest, StorageManagerSurveyMatchesWhatProvisioningTakes) {
    add_disk(tb, fake_disk("sdb"));
    add_disk(tb, fake_disk("sdc").ro_flag("1"));
    tw_storage st;
    std::list<tsaf_blkdev_verdict> verdicts;
    ASSERT_EQ(st.survey_new_disks(verdicts), 0);
    ASSERT_EQ(verdicts.size(), 2u);
    EXPECT_TRUE(verdicts.front().get_is_new());
    EXPECT_EQ(verdicts.back().get_reason(), "read-only");
}

}  // namespace
