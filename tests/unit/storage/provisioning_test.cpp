// Block-device provisioning: slot scan, command texts, the order of the steps
// and where they stop, and whole runs over a fake sysfs tree.

#include "storage_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using tidewall::testing::add_disk;
using tidewall::testing::fake_disk;
using tidewall::testing::peek;
using tidewall::testing::poke;
using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

using attrs = std::map<std::string, std::string>;

// The UUID a provisioning run gives mkfs: the test backend's random source.
const std::string kRunUuid = "78563412-7856-4412-b856-341278563412";

const attrs kDataStamps(const std::string& path) {
    return {{"trusted.mntstamp", path}, {"trusted.tslnstamp", "arrowfield@tsln"}, {"trusted.blkdevstamp", ""}};
}

class ProvisioningTest : public ::testing::Test {
protected:
    void SetUp() override {
        tidewall::testing::use_gluster_flavour(tb);
        tb.make_dir("/run");  // the provisioning lock
        tb.make_dir("/var/lib");  // the provisioning record
        tb.write_file("/etc/mtab", "/dev/vda / ext4 rw 0 0\n");
        tidewall::testing::mounts_take_effect(tb);
    }
    // A disk image whose first sector holds bytes that are no signature.
    void add_used_looking_disk(const std::string& name) {
        add_disk(tb, fake_disk(name));
        poke(tb, "/dev/" + name, 0, std::string(512, '\xab'));
    }
    test_backend tb;
    storage_under_test s{tb};
    tw_storage& st = s.storage;
};

TEST_F(ProvisioningTest, SlotScanOnGlusterFS) {
    for (const char* d : {"/tw/disk1", "/tw/disk3", "/tw/disk10", "/tw/disk2a", "/tw/.disk99", "/tw/ddb", "/tw/diskx",
                          "/tw/disk99999999999"})
        tb.make_dir(d);
    EXPECT_EQ(st.get_data_mntpath_lastslot(), 10u);
    EXPECT_EQ(tw_storage::last_datapath_prefix(), "/tw/disk");
    EXPECT_TRUE(tb.logged(0, "tw_storage::get_data_mntpath_lastslot", "Directory : disk2a\n"));
    EXPECT_FALSE(tb.logged("Directory : .disk99\n"));
    EXPECT_FALSE(tb.logged("Directory : ddb\n"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::get_data_mntpath_lastslot", "Dirnum: 10\n"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::get_data_mntpath_lastslot", "last_highest_num: 10\n"));
}

TEST_F(ProvisioningTest, SlotScanOnMaldor) {
    tidewall::testing::use_maldor_flavour(tb);
    for (const char* d : {"/maldor/d1", "/maldor/d7", "/maldor/d2x", "/maldor/data", "/maldor/dd9", "/maldor/disk12"})
        tb.make_dir(d);
    EXPECT_EQ(st.get_data_mntpath_lastslot(), 7u);
    EXPECT_EQ(tw_storage::last_datapath_prefix(), "/maldor/d");
    // The GlusterFS rule takes none of these; the Maldor rule takes no "disk" names.
    tidewall::testing::use_gluster_flavour(tb);
    tb.set_key("sTidewallDataPathMountPathPrefix", "/maldor/disk");
    EXPECT_EQ(st.get_data_mntpath_lastslot(), 12u);
    EXPECT_EQ(tw_storage::last_datapath_prefix(), "/maldor/disk");
}

TEST_F(ProvisioningTest, SlotScanWithoutDataPaths) {
    EXPECT_EQ(st.get_data_mntpath_lastslot(), 0u);  // /tw missing altogether
    tb.make_dir("/tw/ddb");
    EXPECT_EQ(st.get_data_mntpath_lastslot(), 0u);
}

TEST_F(ProvisioningTest, FormatCommands) {
    tb.on("echo y | mkfs -t xfs -f /dev/sdb", 0);
    tb.on("echo y | mkfs -t ext4 /dev/sdb", 1, "", "mke2fs: invalid block size");
    tb.on("echo y | mkfs -t xfs -f -m uuid=0baa76a6-e0c5-4d9b-b9e9-3a93d9bcc94b /dev/sdc", 0);
    EXPECT_EQ(st.format_blkdev("/dev/sdb", "xfs"), 0);
    EXPECT_EQ(st.format_blkdev("/dev/sdb", "ext4"), 1);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::format_blkdev",
                          "command [echo y | mkfs -t ext4 /dev/sdb] failed with error [mke2fs: invalid block size]"));
    EXPECT_EQ(st.format_blkdev_with_uuid("/dev/sdc", "xfs", "0baa76a6-e0c5-4d9b-b9e9-3a93d9bcc94b"), 0);
    // mkfs.ext4 reads -m as a percentage: the ext family takes -U.
    EXPECT_EQ(st.format_blkdev_with_uuid("/dev/sdc", "ext4", "u"), 127);
    EXPECT_EQ(tb.commands.back(), "echo y | mkfs -t ext4 -U u /dev/sdc");
    EXPECT_EQ(tb.time_limits, (std::vector<int>{7200, 7200, 7200, 7200}));  // mkfs of a large disk takes long
    EXPECT_TRUE(
        tb.logged(2, "tw_storage::format_blkdev", "Request to create xfs filesystem on block device  /dev/sdb"));
}

TEST_F(ProvisioningTest, FilesystemUuidCommands) {
    tb.on("xfs_admin -u /dev/sdb | awk '{print $3}'", 0, "0baa76a6-e0c5-4d9b-b9e9-3a93d9bcc94b\n");
    tb.on("dumpe2fs /dev/sdc 2>/dev/null | grep \"Filesystem UUID\" | awk '{print $3}'", 0,
          " c64f022b-0622-40d7-b1c4-ac23d494c30a \n");
    tb.on("blkid /dev/sdd | awk '{print $2}' | cut -f 2 -d '=' | tr -d '\"'", 0, "02DC-E00F\n");
    std::string uuid;
    EXPECT_EQ(st.extract_filesys_uuid("/dev/sdb", "xfs", uuid), 0);
    EXPECT_EQ(uuid, "0baa76a6-e0c5-4d9b-b9e9-3a93d9bcc94b");
    EXPECT_EQ(st.extract_filesys_uuid("/dev/sdc", "ext4", uuid), 0);
    EXPECT_EQ(uuid, "c64f022b-0622-40d7-b1c4-ac23d494c30a");
    EXPECT_EQ(st.extract_filesys_uuid("/dev/sdd", "fat", uuid), 0);
    EXPECT_EQ(uuid, "02DC-E00F");
    try {
        st.extract_filesys_uuid("/dev/sdd", "vfat", uuid);
        FAIL() << "no exception";
    } catch (const TsException& e) {
        EXPECT_EQ(e.message(), "Filesystem not supported");
    }
    try {
        st.extract_filesys_uuid("/dev/sde", "xfs", uuid);
        FAIL() << "no exception";
    } catch (const TsException& e) {
        EXPECT_EQ(e.message(), "xfs_admin -u /dev/sde | awk '{print $3}' failed");
    }
    st.format_blkdev("/dev/sd b", "xfs");
    EXPECT_EQ(tb.commands.back(), "echo y | mkfs -t xfs -f '/dev/sd b'");
}

TEST_F(ProvisioningTest, AnEmptyOrForeignUuidOutputIsAFailure) {
    // The pipeline's status is awk's: a blank or missing device still exits 0.
    struct {
        const char* type;
        std::string cmd, out;
    } cases[] = {
        {"xfs", "xfs_admin -u /dev/sdb | awk '{print $3}'", ""},
        {"ext4", "dumpe2fs /dev/sdb 2>/dev/null | grep \"Filesystem UUID\" | awk '{print $3}'", "\n"},
        {"fat", "blkid /dev/sdb | awk '{print $2}' | cut -f 2 -d '=' | tr -d '\"'", "/dev/sdb:\n"},
        {"xfs", "xfs_admin -u /dev/sdb | awk '{print $3}'", "not a UUID\n"},
    };
    for (const auto& c : cases) {
        tb.on(c.cmd, 0, c.out);
        std::string uuid = "kept";
        try {
            st.extract_filesys_uuid("/dev/sdb", c.type, uuid);
            ADD_FAILURE() << c.type << " [" << c.out << "] gave no exception";
        } catch (const TsException& e) {
            EXPECT_EQ(e.message(), c.cmd + " failed");
        }
        EXPECT_EQ(uuid, "kept");
    }
}

TEST_F(ProvisioningTest, ProcessRunsItsStepsInOrder) {
    add_used_looking_disk("sdb");
    tb.make_dir("/tw");
    tb.on("echo y | mkfs -t xfs -f /dev/sdb", 0);
    ASSERT_EQ(st.process_blkdev("/dev/sdb", "/tw/disk1", "xfs", "noatime,inode64,nofail"), 0);
    EXPECT_EQ(peek(tb, "/dev/sdb", 0, 512), std::string(512, '\0'));
    EXPECT_EQ(tb.commands, (std::vector<std::string>{"echo y | mkfs -t xfs -f /dev/sdb",
                                                     "mount -t xfs  -o noatime,inode64,nofail /dev/sdb /tw/disk1"}));
    EXPECT_TRUE(std::filesystem::is_directory(tb.root + "/tw/disk1"));
    EXPECT_EQ(tb.xattrs["/tw/disk1"], kDataStamps("/tw/disk1"));
}

TEST_F(ProvisioningTest, ProcessStopsAtTheFirstFailingStep) {
    tb.make_dir("/tw");
    // 1. No device to open: nothing else runs.
    EXPECT_EQ(st.process_blkdev("/dev/sdq", "/tw/disk1", "xfs", ""), -1);
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_TRUE(tb.logged(-1, "tw_storage::process_blkdev",
                          "Failed to wipe partition table on block device  /dev/sdq error: No such file or directory"));

    // 2. mkfs fails: the disk is wiped, no directory, no mount.
    add_used_looking_disk("sdb");
    tb.on("echo y | mkfs -t xfs -f /dev/sdb", 1, "", "mkfs.xfs: cannot open /dev/sdb");
    tb.on("echo y | mkfs -t xfs -f /dev/sdb", 0);  // from the next call on
    EXPECT_EQ(st.process_blkdev("/dev/sdb", "/tw/disk1", "xfs", ""), 1);
    EXPECT_EQ(tb.commands, std::vector<std::string>{"echo y | mkfs -t xfs -f /dev/sdb"});
    EXPECT_FALSE(tb.exists("/tw/disk1"));
    EXPECT_EQ(peek(tb, "/dev/sdb", 0, 4), std::string(4, '\0'));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::process_blkdev", "Failed to format block device /dev/sdb"));

    // 3. The mount path exists as a file: no mount.
    tb.commands.clear();
    tb.write_file("/tw/disk2", "not a directory");
    EXPECT_EQ(st.process_blkdev("/dev/sdb", "/tw/disk2", "xfs", ""), -20);
    EXPECT_EQ(tb.commands, std::vector<std::string>{"echo y | mkfs -t xfs -f /dev/sdb"});
    EXPECT_TRUE(tb.logged(-1, "tw_storage::process_blkdev", "Failed to create directory /tw/disk2"));

    // 3b. The directory cannot be created: this disk fails, nothing throws.
    tb.commands.clear();
    EXPECT_EQ(st.process_blkdev("/dev/sdb", "/tw/missing/disk3", "xfs", ""), -1);
    EXPECT_EQ(tb.commands.size(), 1u);

    // 4. The mount fails: no stamps.
    tb.commands.clear();
    tb.on("mount -t xfs /dev/sdb /tw/disk4", 32, "", "mount: /tw/disk4: wrong fs type");
    EXPECT_EQ(st.process_blkdev("/dev/sdb", "/tw/disk4", "xfs", ""), -1);
    EXPECT_EQ(tb.commands.back(), "mount -t xfs /dev/sdb /tw/disk4");
    EXPECT_EQ(tb.xattrs.count("/tw/disk4"), 0u);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::process_blkdev", "Failed to mount block device /dev/sdb"));

    // 4b. mount(8) exits 0 (nofail) but nothing is mounted: no stamps.
    tb.on("mount -t xfs /dev/sdb /tw/disk6", 0);
    EXPECT_EQ(st.process_blkdev("/dev/sdb", "/tw/disk6", "xfs", ""), -1);
    EXPECT_EQ(tb.xattrs.count("/tw/disk6"), 0u);

    // 5. Stamping fails.
    tb.xattr_error = EOPNOTSUPP;
    EXPECT_EQ(st.process_blkdev("/dev/sdb", "/tw/disk5", "xfs", ""), -1);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::process_blkdev", "Failed to stamp block device /dev/sdb"));
}

TEST_F(ProvisioningTest, NewDisksGoToTheNextFreeSlotsAndUsedOnesAreUntouched) {
    add_used_looking_disk("sdb");
    add_disk(tb, fake_disk("sdc"));
    tidewall::testing::write_ext_superblock(tb, "/dev/sdc");
    add_used_looking_disk("sdd");
    add_disk(tb, fake_disk("loop0").virtual_device());
    tb.make_dir("/tw/disk1");
    tb.make_dir("/tw/disk3");
    std::string sdc_before = peek(tb, "/dev/sdc", 0, 4096);
    tb.on("echo y | mkfs -t xfs -f -m uuid=" + kRunUuid + " /dev/sdb", 0);
    tb.on("echo y | mkfs -t xfs -f -m uuid=" + kRunUuid + " /dev/sdd", 0);

    ASSERT_EQ(st.mount_new_blkdev(), 0);
    EXPECT_EQ(tb.commands, (std::vector<std::string>{"echo y | mkfs -t xfs -f -m uuid=" + kRunUuid + " /dev/sdb",
                                                     "mount -t xfs  -o noatime,inode64,nofail /dev/sdb /tw/disk4",
                                                     "echo y | mkfs -t xfs -f -m uuid=" + kRunUuid + " /dev/sdd",
                                                     "mount -t xfs  -o noatime,inode64,nofail /dev/sdd /tw/disk5"}));
    EXPECT_EQ(tb.xattrs["/tw/disk4"], kDataStamps("/tw/disk4"));
    EXPECT_EQ(tb.xattrs["/tw/disk5"], kDataStamps("/tw/disk5"));
    EXPECT_EQ(peek(tb, "/dev/sdc", 0, 4096), sdc_before);
    EXPECT_EQ(peek(tb, "/dev/sdd", 0, 512), std::string(512, '\0'));
    EXPECT_TRUE(tb.logged(2, "tw_storage::mount_new_blkdev", "Successfully processed block device /dev/sdd"));
}

TEST_F(ProvisioningTest, AFailedDiskUsesUpItsSlotAndTheNextFollows) {
    add_used_looking_disk("sdb");
    add_used_looking_disk("sdc");
    tb.make_dir("/tw");
    tb.on("echo y | mkfs -t xfs -f -m uuid=" + kRunUuid + " /dev/sdb", 0);
    tb.on("echo y | mkfs -t xfs -f -m uuid=" + kRunUuid + " /dev/sdc", 0);
    tb.on("mount -t xfs  -o noatime,inode64,nofail /dev/sdb /tw/disk1", 32);
    EXPECT_EQ(st.mount_new_blkdev(), 1);  // one disk failed
    EXPECT_TRUE(tb.logged(-1, "tw_storage::mount_new_blkdev", "Failed to process block device /dev/sdb"));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::mount_new_blkdev", "[1] of [2] new disks failed: /dev/sdb"));
    EXPECT_EQ(tb.commands.back(), "mount -t xfs  -o noatime,inode64,nofail /dev/sdc /tw/disk2");
    EXPECT_EQ(tb.xattrs["/tw/disk2"], kDataStamps("/tw/disk2"));
}

TEST_F(ProvisioningTest, NothingIsWipedWhenNewDisksCannotBeDetected) {
    add_used_looking_disk("sdb");
    std::filesystem::remove(tb.root + "/etc/mtab");
    EXPECT_EQ(st.mount_new_blkdev(), -1);
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_EQ(peek(tb, "/dev/sdb", 0, 1), "\xab");
    EXPECT_TRUE(tb.logged(0, "tw_storage::mount_new_blkdev", "Failed to detect new disks on the server"));

    std::filesystem::remove_all(tb.root + "/sys");
    tb.write_file("/etc/mtab", "");
    EXPECT_EQ(st.mount_new_blkdev(), -1);
}

// A node that cannot take new disks as data mount paths: nothing is wiped,
// and the log names each disk and the registry key to set.
TEST_F(ProvisioningTest, NothingIsWipedWhereNewDisksCannotBecomeMountPaths) {
    struct {
        const char* name;
        std::function<void(test_backend&)> setup;
        std::string why;
    } cases[] = {
        {"appliance type not recorded", [](test_backend& t) { t.registry["Dockwright"].clear(); },
         "set registry key sArrowfieldApplianceType"},
        {"prefix's parent missing",
         [](test_backend& t) { t.set_key("sTidewallDataPathMountPathPrefix", "/data/disk"); },
         "the directory [/data] of the data mount-path prefix [/data/disk] does not exist: create it or set "
         "registry key sTidewallDataPathMountPathPrefix"},
    };
    add_used_looking_disk("sdb");
    add_used_looking_disk("sdc");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tidewall::testing::use_gluster_flavour(tb);
        tb.registry["Dockwright"].erase("sTidewallDataPathMountPathPrefix");
        c.setup(tb);
        tb.commands.clear();
        tb.logs.clear();
        EXPECT_EQ(st.mount_new_blkdev(), -1);
        tsaf_blkdev_basic_info disk("/dev/sdc");
        std::string path;
        EXPECT_EQ(st.mount_new_blkdev(disk, path), -1);
        EXPECT_TRUE(tb.commands.empty());
        EXPECT_EQ(peek(tb, "/dev/sdb", 0, 512), std::string(512, '\xab'));
        EXPECT_EQ(peek(tb, "/dev/sdc", 0, 512), std::string(512, '\xab'));
        for (const char* dev : {"/dev/sdb", "/dev/sdc"}) {
            bool named = false;
            for (const auto& l : tb.logs)
                named = named || (l.text.find(std::string("Block device ") + dev + " left untouched") == 0 &&
                                  l.text.find(c.why) != std::string::npos);
            EXPECT_TRUE(named) << dev;
        }
        std::string why;
        EXPECT_EQ(st.check_datapath_target(why), -1);
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
}

TEST_F(ProvisioningTest, OneDiskAtTheNextSlot) {
    add_used_looking_disk("sdk");
    tidewall::testing::use_maldor_flavour(tb);
    tb.make_dir("/maldor/d4");
    tb.on("echo y | mkfs -t xfs -f -m uuid=" + kRunUuid + " /dev/sdk", 0);
    tsaf_blkdev_basic_info disk("/dev/sdk");
    std::string path;
    EXPECT_EQ(st.mount_new_blkdev(disk, path), 0);
    EXPECT_EQ(path, "/maldor/d5");
    EXPECT_EQ(tb.xattrs["/maldor/d5"], kDataStamps("/maldor/d5"));
}

// mount and umount change the fake mount table as the real ones would.
void follow_mounts(test_backend& tb) {
    tb.fallback = [&tb](const std::string& cmd) -> std::optional<tidewall::host::command_result> {
        tidewall::host::command_result ok;
        if (cmd == "umount  /tw/disk2") {
            tb.write_file("/etc/mtab", "/dev/vda / ext4 rw 0 0\n");
            return ok;
        }
        if (cmd == "mount -t xfs  -o noatime,inode64,nofail /dev/sdb /tw/disk2") {
            tb.write_file("/etc/mtab", "/dev/vda / ext4 rw 0 0\n/dev/sdb /tw/disk2 xfs rw 0 0\n");
            return ok;
        }
        return std::nullopt;
    };
}

TEST_F(ProvisioningTest, RecreateWithUuidReplacesTheOldDrive) {
    add_used_looking_disk("sdb");
    tb.make_dir("/tw/disk2");
    tb.write_file("/etc/mtab", "/dev/vda / ext4 rw 0 0\n/dev/sdz /tw/disk2 xfs rw 0 0\n");
    follow_mounts(tb);
    tb.on("systemctl daemon-reload", 0);
    tb.on("echo y | mkfs -t xfs -f -m uuid=0baa76a6-e0c5-4d9b-b9e9-3a93d9bcc94b /dev/sdb", 0);
    tsaf_blkdev_basic_info disk("/dev/sdb");
    ASSERT_EQ(st.mount_new_blkdev_with_uuid(disk, "0baa76a6-e0c5-4d9b-b9e9-3a93d9bcc94b", "/tw/disk2"), 0);
    EXPECT_EQ(tb.commands,
              (std::vector<std::string>{"umount  /tw/disk2", "systemctl daemon-reload",
                                        "echo y | mkfs -t xfs -f -m uuid=0baa76a6-e0c5-4d9b-b9e9-3a93d9bcc94b /dev/sdb",
                                        "mount -t xfs  -o noatime,inode64,nofail /dev/sdb /tw/disk2"}));
    EXPECT_EQ(tb.xattrs["/tw/disk2"], kDataStamps("/tw/disk2"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::mount_new_blkdev_with_uuid", "blk dev  /dev/sdz mnt path /tw/disk2 mounted"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::mount_new_blkdev_with_uuid", "old block device /dev/sdz  unmount succeeded"));
}

TEST_F(ProvisioningTest, RecreateWithUuidStopsEarlyAndRetriesTheMountOnce) {
    add_used_looking_disk("sdb");
    tb.make_dir("/tw/disk2");
    tsaf_blkdev_basic_info disk("/dev/sdb");
    const std::string uuid = "0baa76a6-e0c5-4d9b-b9e9-3a93d9bcc94b";

    tb.on("systemctl daemon-reload", 1, "", "System has not been booted with systemd");
    tb.on("systemctl daemon-reload", 0);  // from the second call on
    EXPECT_EQ(st.mount_new_blkdev_with_uuid(disk, uuid, "/tw/disk2"), 1);
    EXPECT_EQ(peek(tb, "/dev/sdb", 0, 1), "\xab");  // not wiped

    tb.on("echo y | mkfs -t xfs -f -m uuid=" + uuid + " /dev/sdb", 0);
    tb.on("mount -t xfs  -o noatime,inode64,nofail /dev/sdb /tw/disk2", 32);
    tb.commands.clear();
    EXPECT_EQ(st.mount_new_blkdev_with_uuid(disk, uuid, "/tw/disk2"), 1);
    EXPECT_EQ(std::count(tb.commands.begin(), tb.commands.end(),
                         "mount -t xfs  -o noatime,inode64,nofail /dev/sdb /tw/disk2"),
              2);
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::mount_new_blkdev_with_uuid", "Failed to mount block device /dev/sdb retrying..."));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::mount_new_blkdev_with_uuid", "Failed to mount block device /dev/sdb"));

    // Something else got mounted there after the unmount: it is not ours to stamp.
    tb.commands.clear();
    tb.fallback = [this](const std::string& cmd) -> std::optional<tidewall::host::command_result> {
        if (cmd == "umount  /tw/disk2") return tidewall::host::command_result{};
        return std::nullopt;
    };
    tb.write_file("/etc/mtab", "/dev/sdy /tw/disk2 xfs rw 0 0\n");
    EXPECT_EQ(st.mount_new_blkdev_with_uuid(disk, uuid, "/tw/disk2"), 1);
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::mount_new_blkdev_with_uuid", "device mounted [/dev/sdy] expected [/dev/sdb]"));
    EXPECT_EQ(tb.xattrs.count("/tw/disk2"), 0u);

    // The old drive does not let go: nothing is wiped.
    tb.fallback = nullptr;
    poke(tb, "/dev/sdb", 0, "\xab");
    EXPECT_EQ(st.mount_new_blkdev_with_uuid(disk, uuid, "/tw/disk2"), -1);
    EXPECT_EQ(peek(tb, "/dev/sdb", 0, 1), "\xab");
}

TEST_F(ProvisioningTest, UuidValidity) {
    EXPECT_TRUE(st.is_valid_uuid("0baa76a6-e0c5-4d9b-b9e9-3a93d9bcc94b"));
    EXPECT_TRUE(st.is_valid_uuid("{0BAA76A6-E0C5-4D9B-B9E9-3A93D9BCC94B}"));
    EXPECT_FALSE(st.is_valid_uuid(""));
    EXPECT_FALSE(st.is_valid_uuid("00000000-0000-0000-0000-000000000000"));  // no version
    EXPECT_FALSE(st.is_valid_uuid("0baa76a6-e0c5-4d9b-b9e9"));
    EXPECT_FALSE(st.is_valid_uuid("02DC-E00F"));
    // A refusal says why in the log.
    EXPECT_TRUE(tb.logged(0, "tw_storage::is_valid_uuid", "[02DC-E00F] is not a UUID: invalid uuid string"));
}

}  // namespace
