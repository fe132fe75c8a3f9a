// Mount and unmount command texts, and what is mounted where.

#include "storage_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

class MountingTest : public ::testing::Test {
protected:
    test_backend tb;
    storage_under_test s{tb};
    tw_storage& st = s.storage;
};

TEST_F(MountingTest, MountCommandWithAndWithoutOptions) {
    tidewall::testing::mounts_take_effect(tb);
    EXPECT_EQ(st.mount("/tw/disk1", "/dev/sdb", "xfs", "noatime,inode64,nofail"), 0);
    EXPECT_EQ(st.mount("/tw/disk1", "/dev/sdb", "xfs", ""), 0);
    EXPECT_EQ(tb.commands, (std::vector<std::string>{"mount -t xfs  -o noatime,inode64,nofail /dev/sdb /tw/disk1",
                                                     "mount -t xfs /dev/sdb /tw/disk1"}));
    EXPECT_EQ(tb.time_limits, (std::vector<int>{600, 600}));  // log replay of a large file system takes minutes
}

TEST_F(MountingTest, FailedMountReportsMinusOneWithTheToolsError) {
    tb.on("mount -t xfs /dev/sdq /tw/disk4", 32, "", "mount: /tw/disk4: special device /dev/sdq does not exist.\n");
    EXPECT_EQ(st.mount("/tw/disk4", "/dev/sdq", "xfs", ""), -1);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::mount",
                          "Mount command [mount -t xfs /dev/sdq /tw/disk4] failed with error [mount: /tw/disk4: "
                          "special device /dev/sdq does not exist.\n]"));
    tb.on("mount /boot/efi", 0);
    tb.write_file("/etc/mtab", "/dev/sda1 /boot/efi vfat rw 0 0\n");
    EXPECT_EQ(st.mount("/boot/efi"), 0);
    EXPECT_EQ(st.mount("/boot/nothing"), -1);
    EXPECT_EQ(tb.commands.back(), "mount /boot/nothing");
}

// With nofail, mount(8) exits 0 for a missing device: a mount counts only
// when the mount table shows the device at the path.
TEST_F(MountingTest, ExitZeroIsASuccessOnlyWhenTheDeviceIsMountedThere) {
    tb.on("mount -t xfs  -o nofail /dev/sdb /tw/disk1", 0);
    tb.on("mount /tw/disk1", 0);
    // The links LVM makes: /dev/vg/lv and /dev/mapper/vg-lv both lead to /dev/dm-0.
    tb.write_file("/dev/dm-0", "");
    std::filesystem::create_directories(tb.root + "/dev/vg");
    std::filesystem::create_directories(tb.root + "/dev/mapper");
    std::filesystem::create_symlink("../dm-0", tb.root + "/dev/vg/lv");
    std::filesystem::create_symlink("../dm-0", tb.root + "/dev/mapper/vg-lv");
    tb.on("mount -t xfs  -o nofail /dev/vg/lv /tw/disk1", 0);
    struct {
        const char* mtab;
        const char* device;
        int rc;
    } cases[] = {
        {"/dev/vda / ext4 rw 0 0\n", "/dev/sdb", -1},  // nothing mounted
        {"/dev/sdc /tw/disk1 xfs rw 0 0\n", "/dev/sdb", -1},  // another device
        {"/dev/sdb /tw/disk1 xfs rw 0 0\n/dev/sdc /tw/disk1 xfs rw 0 0\n", "/dev/sdb", -1},  // covered by another
        {"/dev/sdb /tw/disk10 xfs rw 0 0\n", "/dev/sdb", -1},  // another path
        {"/dev/sdb /tw/disk1 xfs rw 0 0\n", "/dev/sdb", 0},
        {"/dev/mapper/vg-lv /tw/disk1 xfs rw 0 0\n", "/dev/vg/lv", 0},
    };
    for (const auto& c : cases) {
        tb.write_file("/etc/mtab", c.mtab);
        EXPECT_EQ(st.mount("/tw/disk1", c.device, "xfs", "nofail"), c.rc) << c.device << " with " << c.mtab;
    }
    EXPECT_TRUE(tb.logged(-1, "tw_storage::mount",
                          "Mount command [mount -t xfs  -o nofail /dev/sdb /tw/disk1] exited 0 but [/dev/sdb] is not "
                          "mounted at [/tw/disk1]"));
    tb.write_file("/etc/mtab", "/dev/vda / ext4 rw 0 0\n");
    EXPECT_EQ(st.mount("/tw/disk1"), -1);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::mount",
                          "Mount command [mount /tw/disk1] exited 0 but nothing is mounted at [/tw/disk1]"));
}

TEST_F(MountingTest, ValuesWithShellSyntaxAreQuoted) {
    EXPECT_EQ(st.mount("/tw/my disk", "/dev/sdb;reboot", "xfs", "noatime,$(id)"), -1);
    EXPECT_EQ(tb.commands.back(), "mount -t xfs  -o 'noatime,$(id)' '/dev/sdb;reboot' '/tw/my disk'");
    EXPECT_THROW(st.unmount("/tw/it's"), TsException);
    EXPECT_EQ(tb.commands.back(), "umount  '/tw/it'\\''s'");
    std::string disk;
    st.get_backing_device_for_partition("/dev/sdb1 && rm -rf /", disk);
    EXPECT_EQ(tb.commands.back(), "lsblk -no pkname '/dev/sdb1 && rm -rf /'");
}

TEST_F(MountingTest, UnmountThrowsTheCommandFollowedByFailed) {
    tb.on("umount  /tw/disk1", 0);
    EXPECT_EQ(st.unmount("/tw/disk1"), 0);
    tb.on("umount  /tw/disk2", 32, "", "umount: /tw/disk2: target is busy.");
    try {
        st.unmount("/tw/disk2");
        FAIL() << "no exception";
    } catch (const TsException& e) {
        EXPECT_EQ(e.message(), "umount  /tw/disk2 failed");
        EXPECT_EQ(e.code(), -1);
    }
    EXPECT_TRUE(tb.logged(0, "tw_storage::unmount", "unmount command [umount  /tw/disk2]"));
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::unmount",
                  "unmount command [umount  /tw/disk2] failed with error [umount: /tw/disk2: target is busy.]"));
}

TEST_F(MountingTest, BlockDeviceOfAMountPathByType) {
    tb.write_file("/etc/mtab",
                  "/dev/sdb /tw/disk1 xfs rw,noatime 0 0\n"
                  "/dev/sdc /tw/disk2 ext4 rw 0 0\n");
    std::string dev;
    EXPECT_EQ(st.get_blk_dev("/tw/disk1", "xfs", dev), 0);
    EXPECT_EQ(dev, "/dev/sdb");
    try {
        st.get_blk_dev("/tw/disk2", "xfs", dev);
        FAIL() << "no exception";
    } catch (const TsException& e) {
        EXPECT_EQ(e.message(), "/tw/disk2 mounted through different file system ext4");
    }
    try {
        st.get_blk_dev("/tw/disk3", "xfs", dev);
        FAIL() << "no exception";
    } catch (const TsException& e) {
        EXPECT_EQ(e.message(), "/tw/disk3 No blkdev currently mounted at /tw/disk3");
    }
    std::string type;
    std::list<std::string> options;
    EXPECT_EQ(st.is_mounted("/tw/disk1", dev, type, options), 1);
    EXPECT_EQ(options, (std::list<std::string>{"rw", "noatime"}));
}

TEST_F(MountingTest, BackingDeviceOfAKindFromTheMountTable) {
    tb.write_file("/etc/mtab",
                  "/dev/sda2 / xfs rw 0 0\n"
                  "/dev/mapper/systemvg-ddb /tw/ddb xfs rw 0 0\n"
                  "/dev/sdk /srv/ddb xfs rw 0 0\n");
    std::string dev;
    EXPECT_EQ(st.get_backing_dev(tw_storage::MNT_PATH_DDB, dev), 0);
    EXPECT_EQ(dev, "/dev/mapper/systemvg-ddb");
    EXPECT_TRUE(tb.logged(0, "tw_storage::get_backing_dev",
                          "Found a device [/dev/mapper/systemvg-ddb] currently mounted at [/tw/ddb]"));
    tb.set_key("sTidewallDDBMountPath", "/srv/ddb");
    EXPECT_EQ(get_ddb_backing_dev(dev), 0);  // the exported free function
    EXPECT_EQ(dev, "/dev/sdk");
    EXPECT_EQ(st.get_backing_dev(tw_storage::MNT_PATH_MALDOR_FS, dev), -1);
    EXPECT_EQ(st.get_backing_dev(tw_storage::MNT_PATH_DATAPATH, dev), -1);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_backing_dev", "Unsupported mount path"));
}

TEST_F(MountingTest, DiskOfAPartition) {
    tb.on("lsblk -no pkname /dev/sdb1", 0, "sdb\n");
    tb.on("lsblk -no pkname /dev/sdz1", 32, "", "lsblk: /dev/sdz1: not a block device");
    tb.on("lsblk -no pkname /dev/sdc", 0, "\n");
    std::string disk = "unset";
    EXPECT_EQ(st.get_backing_device_for_partition("/dev/sdb1", disk), 0);
    EXPECT_EQ(disk, "/dev/sdb");
    EXPECT_EQ(st.get_backing_device_for_partition("/dev/sdz1", disk), 32);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_backing_device_for_partition",
                          "Failed to retrieve backing device for [lsblk -no pkname /dev/sdz1] failed with error "
                          "[lsblk: /dev/sdz1: not a block device]"));
    EXPECT_EQ(st.get_backing_device_for_partition("/dev/sdc", disk), 0);
    EXPECT_EQ(disk, "/dev/sdb");  // an empty answer leaves it as it was
}

}  // namespace
