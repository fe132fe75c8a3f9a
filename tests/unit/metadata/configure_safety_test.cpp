// What a configure and an unconfigure must leave alone: a layout the disks
// cannot take is refused before the earlier storage is torn down, a failed
// build undoes only what it did, and a teardown unmounts only the node's own
// file systems.

#include "fixture.h"
#include "resource_node.h"

#include <functional>
#include <unistd.h>

#include "foundation/fs/node_lock.h"

using namespace tidewall::testing;

namespace {

struct refusal {
    const char* name;
    strings disks;
    std::function<void(test_backend&, fake_node&)> setup;
    std::string problem;  // the failure that names why
    std::string fs_device = {};  // when set, the first file system is made there instead of on its volume
};

// The document with its first file system (before the mounts) on device.
void move_first_file_system(std::string& doc, const std::string& device) {
    const std::string key = "\"blkDevice\": \"";
    size_t at = doc.find(key);
    ASSERT_LT(at, doc.find("fileSystemMount")) << doc;
    at += key.size();
    doc.replace(at, doc.find('"', at) - at, device);
}

TEST(ConfigureSafety, RefusesBeforeTheTeardownWhenTheDisksCannotTakeTheLayout) {
    const std::vector<refusal> cases = {
        {"missing disk", {"/dev/sdz"}, nullptr, "disk [/dev/sdz] does not exist"},
        {"file that sysfs does not know",
         {"/dev/notadisk"},
         [](test_backend& tb, fake_node&) { tb.write_file("/dev/notadisk", ""); },
         "disk [/dev/notadisk] is not a block device"},
        {"mounted disk",
         {"/dev/sdb", "/dev/sdc"},
         [](test_backend&, fake_node& n) { n.mount("/dev/sdc", "/srv/data"); },
         "disk [/dev/sdc] is mounted at /srv/data"},
        {"mounted partition",
         {"/dev/sdc"},
         [](test_backend& tb, fake_node& n) {
             add_partition(tb, "sdc", "sdc1", 1, "8:33");
             tb.write_file("/dev/sdc1", "");
             n.mount("/dev/sdc1", "/boot");
         },
         "disk [/dev/sdc] is mounted at /boot"},
        {"swap",
         {"/dev/sdc"},
         [](test_backend& tb, fake_node&) {
             tb.write_file("/proc/swaps",
                           "Filename\tType\tSize\tUsed\tPriority\n/dev/sdc  partition\t1048572\t0\t-2\n");
         },
         "disk [/dev/sdc] is used as swap"},
        {"held by another group's volume",
         {"/dev/sdc"},
         [](test_backend& tb, fake_node&) { hold_disk(tb, "sdc", "dm-4", "othervg-data"); },
         "disk [/dev/sdc] is held by dm-4"},
        {"held by a volume of a group named like the outgoing one",
         {"/dev/sdc"},
         [](test_backend& tb, fake_node&) { hold_disk(tb, "sdc", "dm-5", "metadatavg--old-data"); },
         "disk [/dev/sdc] is held by dm-5"},
        {"mountinfo unreadable",
         {"/dev/sdc"},
         [](test_backend& tb, fake_node&) { tb.make_dir("/proc/self/mountinfo"); },
         "disk [/dev/sdc] cannot be checked: /proc/self/mountinfo is unreadable"},
        {"RAID member",
         {"/dev/sdc"},
         [](test_backend& tb, fake_node&) { tb.make_dir("/sys/class/block/sdc/holders/md0"); },
         "disk [/dev/sdc] is held by md0"},
        {"another group's physical volume",
         {"/dev/sdc"},
         [](test_backend& tb, fake_node&) { write_lvm_label(tb, "sdc"); },
         "disk [/dev/sdc] carries an LVM label and is not a disk of the group being replaced"},
        {"too small",
         {"/dev/sdg"},
         [](test_backend& tb, fake_node&) { add_block_device(tb, "sdg", 4ULL << 20, "8:96"); },
         "the disks are too small: logical volume [index] of 0 extents leaves no room for its data"},
        // mkfs on a device that is not one of the layout's new volumes: checked like a disk.
        {"file system on a missing device",
         {"/dev/sdb"},
         nullptr,
         "file system device [/dev/othervg/index] does not exist",
         "/dev/othervg/index"},
        {"file system on a mounted disk",
         {"/dev/sdb"},
         [](test_backend&, fake_node& n) { n.mount("/dev/sdc", "/srv/data"); },
         "file system device [/dev/sdc] is mounted at /srv/data",
         "/dev/sdc"},
        {"file system on another group's physical volume",
         {"/dev/sdb"},
         [](test_backend& tb, fake_node&) { write_lvm_label(tb, "sdc"); },
         "file system device [/dev/sdc] carries an LVM label and is not a disk of the group being replaced",
         "/dev/sdc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test_backend tb;
        fake_node node(tb, "Data", "ReferenceArchitecture", kDell);
        std::string doc = layout_of("Data", c.disks);
        if (!c.fs_device.empty()) move_first_file_system(doc, c.fs_device);
        // The earlier storage: group metadatavg on sdb, its index mounted.
        tb.set_key("sArrowfieldMetadataVG", "metadatavg");
        tb.set_key("sArrowfieldMetadataPV", "old-b");
        tb.on(kPvScan, 0, "/dev/sdb\nold-b\n");
        node.mount("/dev/mapper/metadatavg-index", kIndexPath);
        if (c.setup) c.setup(tb, node);
        auto mounts_before = node.mounts();
        tb.commands.clear();

        tw_resource_mgr mgr;
        std::string type, vg, pvs;
        EXPECT_EQ(1, mgr.configure_meta_data_storage(doc, type, vg, pvs));
        EXPECT_EQ((strings{kPvScan}), storage_commands(tb));  // finding the earlier disks, nothing more
        EXPECT_EQ(mounts_before, node.mounts());
        const auto& f = mgr.get_failures();
        EXPECT_NE(f.end(), std::find(f.begin(), f.end(), c.problem)) << ::testing::PrintToString(f);
        EXPECT_EQ("the disks cannot take the layout, nothing was changed", f.back());
        EXPECT_EQ("old-b", tb.key("sArrowfieldMetadataPV"));

        // A build without a teardown checks the same before its first label.
        tb.commands.clear();
        EXPECT_EQ(1, mgr.configure_m5_meta_data_storage(doc));
        EXPECT_TRUE(storage_commands(tb).empty());
    }
}

TEST(ConfigureSafety, MalformedDocumentTearsNothingDown) {
    test_backend tb;
    fake_node node(tb, "Data", "ReferenceArchitecture", kDell);
    tb.set_key("sArrowfieldMetadataVG", "metadatavg");
    tb.set_key("sArrowfieldMetadataPV", "old-b");
    node.mount("/dev/mapper/metadatavg-index", kIndexPath);
    tb.commands.clear();
    tw_resource_mgr mgr;
    std::string doc = "{\"disk\": []}", type, vg, pvs;
    EXPECT_EQ(1, mgr.configure_meta_data_storage(doc, type, vg, pvs));
    EXPECT_TRUE(storage_commands(tb).empty());
    EXPECT_EQ((strings{kIndexPath}), node.mount_points());
    EXPECT_EQ("reading storage config data failed", mgr.get_failures().back());
}

// A Control node without metadata storage, about to build it on sdb and sdc;
// every command of the build and of its clean-up is scripted.
class FailedBuild : public ::testing::Test {
protected:
    FailedBuild() {
        tb.set_key("sArrowfieldMetadataVG", "");
        tb.set_key("sArrowfieldMetadataPV", "");
        script_group(tb, {"/dev/sdb", "/dev/sdc"}, "/dev/sdb\nnew-b\n/dev/sdc\nnew-c\n", "100000\n");
        for (const auto& c : {"lvcreate -y --extents 25000 --name index metadatavg",
                              "lvcreate -y --extents 29936 -T metadatavg/ddb_pool",
                              "lvcreate -y -V 107768M -T metadatavg/ddb_pool -n ddb",
                              "lvcreate -y --extents 30000 --name dav_vm metadatavg",
                              "lvcreate -y --extents 10000 --name dav_he metadatavg"})
            tb.on(c, 0);
        for (const auto& lv : {"ddb", "dav_he", "dav_vm", "index"})
            tb.on(std::string("echo y | mkfs -t xfs -i size=512 -f /dev/metadatavg/") + lv, 0);
        tb.on(kVgScan, 0, "metadatavg\n");
        tb.on("vgremove -ff metadatavg", 0);
        tb.on("pvremove -ff -y /dev/sdb", 0);
        tb.on("pvremove -ff -y /dev/sdc", 0);
        tb.commands.clear();
    }
    test_backend tb;
    fake_node node{tb, "Control", "Appliance", kDell};
    std::string doc = layout_of("Control", {"/dev/sdb", "/dev/sdc"});
};

TEST_F(FailedBuild, UnmountsOnlyWhatItMounted) {
    // Somebody's file system at IndexCache before the call.
    node.mount("/dev/sdf", kIndexPath);

    tw_resource_mgr mgr;
    std::string type, vg, pvs;
    EXPECT_EQ(1, mgr.configure_meta_data_storage(doc, type, vg, pvs));
    strings cmds = storage_commands(tb);
    ASSERT_GE(cmds.size(), 10u);
    EXPECT_EQ((strings{"mount -t xfs -o noatime,inode64,nofail /dev/metadatavg/ddb /tw/ddb",
                       "mount -t xfs -o noatime,inode64,nofail /dev/metadatavg/dav_he /tw/dav_he",
                       "mount -t xfs -o noatime,inode64,nofail /dev/metadatavg/dav_vm /tw/dav_vm", "umount /tw/dav_vm",
                       "umount /tw/dav_he", "umount /tw/ddb", kVgScan, "vgremove -ff metadatavg",
                       "pvremove -ff -y /dev/sdb", "pvremove -ff -y /dev/sdc"}),
              strings(cmds.end() - 10, cmds.end()));
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"/dev/sdf", kIndexPath}}), node.mounts());
    const auto& f = mgr.get_failures();
    EXPECT_NE(f.end(), std::find(f.begin(), f.end(), "mntpath [" + kIndexPath + "] is in use"));
    EXPECT_EQ("configure meta data storage  failed", f.back());
}

TEST_F(FailedBuild, PutsFstabBackAsItWas) {
    // The system's lines and an entry an earlier build left for /tw/ddb, in
    // the node's own layout, so that putting them back gives the same bytes.
    const std::string sep = "      ";
    const std::string before = tidewall::testing::fixture("golden/fstab_header") + "/dev/sda1" + sep + "/" + sep +
                               "xfs" + sep + "defaults" + sep +
                               "0   1\n"
                               "/dev/sda2" +
                               sep + "/var" + sep + "xfs" + sep + "defaults" + sep +
                               "0   2\n"
                               "/dev/oldvg/ddb" +
                               sep + "/tw/ddb" + sep + "xfs" + sep + "noatime,inode64,nofail" + sep + "0   0\n";
    tb.write_file("/etc/fstab", before);
    // Everything is built and recorded in fstab; then the registry refuses.
    tb.registry_read_only = true;

    tw_resource_mgr mgr;
    std::string type, vg, pvs;
    EXPECT_NE(0, mgr.configure_meta_data_storage(doc, type, vg, pvs));
    EXPECT_EQ(before, tb.read_file("/etc/fstab"));
    EXPECT_TRUE(node.mounts().empty());
    strings cmds = storage_commands(tb);
    ASSERT_GE(cmds.size(), 4u);
    EXPECT_EQ((strings{kVgScan, "vgremove -ff metadatavg", "pvremove -ff -y /dev/sdb", "pvremove -ff -y /dev/sdc"}),
              strings(cmds.end() - 4, cmds.end()));
    const char* tag = "tw_resource_mgr::unconfigure_meta_data_storage_internal";
    EXPECT_TRUE(tb.logged(0, tag, "fstab entry for [/tw/ddb] undone, 1 earlier entry put back"));
    EXPECT_TRUE(tb.logged(0, tag, "fstab entry for [" + kIndexPath + "] undone, 0 earlier entries put back"));
}

TEST(ConfigureSafety, TeardownUnmountsOnlyTheGroupsAndStampedFileSystems) {
    test_backend tb;
    fake_node node(tb, "Control", "Appliance", kDell);
    tb.set_key("sArrowfieldMetadataVG", "metadatavg");
    node.mount("/dev/mapper/metadatavg-ddb", "/tw/ddb");  // a volume of the group
    node.mount("/dev/sdd", "/tw/dav_he");  // stamped by this node for this path
    tb.xattrs["/tw/dav_he"] = {{"trusted.mntstamp", "/tw/dav_he"}, {"trusted.tslnstamp", "arrowfield@tsln"}};
    node.mount("/dev/sdf", "/tw/dav_vm");  // a data disk's stamp, not this path's
    tb.xattrs["/tw/dav_vm"] = {{"trusted.mntstamp", "/tw/disk1"}, {"trusted.tslnstamp", "arrowfield@tsln"}};
    node.mount("/dev/sde", kIndexPath);  // unstamped: somebody else's
    tb.on(kVgScan, 0, "metadatavg\n");
    tb.on("vgremove -ff metadatavg", 0);
    tb.on("pvremove -ff -y /dev/sdb", 0);
    tb.commands.clear();

    tw_resource_mgr mgr;
    std::string type, vg, pvs = "/dev/sdb";
    ASSERT_EQ(0, mgr.unconfigure_meta_data_storage(type, vg, pvs)) << ::testing::PrintToString(mgr.get_failures());
    EXPECT_EQ((strings{"umount /tw/ddb", "umount /tw/dav_he", kVgScan, "vgremove -ff metadatavg",
                       "pvremove -ff -y /dev/sdb"}),
              storage_commands(tb));
    EXPECT_EQ((strings{"/tw/dav_vm", kIndexPath}), node.mount_points());
    EXPECT_TRUE(tb.logged(0, "tw_resource_mgr::unconfigure_meta_data_storage_internal",
                          "leaving [" + kIndexPath +
                              "] mounted: [/dev/sde] is neither a volume of [metadatavg] nor "
                              "stamped by this node"));
}

// A reconfigure over the layout the node built: a file system at one of the
// outgoing layout's paths that the node stamped for that path is its own (the
// teardown unmounts it first); anything else mounted there still refuses.
TEST(ConfigureSafety, OnlyTheNodesOwnStampedFileSystemAtALayoutPathIsNotInTheWay) {
    struct row {
        const char* name;
        const char* stamp;  // trusted.mntstamp of the mounted file system, nullptr: none
        bool refused;
    };
    for (const row& r : {row{"stamped for the path", kIndexPath.c_str(), false},
                         row{"stamped for another path", "/tw/disk1", true}, row{"unstamped", nullptr, true}}) {
        SCOPED_TRACE(r.name);
        test_backend tb;
        fake_node node(tb, "Data", "ReferenceArchitecture", kDell);
        std::string doc = layout_of("Data", {"/dev/sdb"});
        move_first_file_system(doc, "/dev/sdc");
        tb.set_key("sArrowfieldMetadataVG", "metadatavg");
        tb.set_key("sArrowfieldMetadataPV", "old-b");
        tb.on(kPvScan, 0, "/dev/sdb\nold-b\n");
        node.mount("/dev/sdc", kIndexPath);
        if (r.stamp) tb.xattrs[kIndexPath] = {{"trusted.mntstamp", r.stamp}, {"trusted.tslnstamp", "arrowfield@tsln"}};
        tb.commands.clear();
        tw_resource_mgr mgr;
        std::string type, vg, pvs;
        mgr.configure_meta_data_storage(doc, type, vg, pvs);
        const auto& f = mgr.get_failures();
        const std::string problem = "file system device [/dev/sdc] is mounted at " + kIndexPath;
        EXPECT_EQ(r.refused, std::find(f.begin(), f.end(), problem) != f.end()) << ::testing::PrintToString(f);
        strings cmds = storage_commands(tb);
        EXPECT_EQ(!r.refused, std::find(cmds.begin(), cmds.end(), "umount " + kIndexPath) != cmds.end())
            << ::testing::PrintToString(cmds);
    }
}

TEST(ConfigureSafety, AnotherConfigureHoldingTheNodesLockIsRefused) {
    test_backend tb;
    fake_node node(tb, "Data", "ReferenceArchitecture", kDell);
    std::string doc = layout_of("Data", {"/dev/sdb"});
    tidewall::locks::operation_lock held(tidewall::locks::operation::metadata_configure, 0);
    ASSERT_TRUE(held.held()) << held.message();
    const std::string busy = "another metadata configure is running (pid " + std::to_string(::getpid()) + ")";
    tb.commands.clear();
    tw_resource_mgr mgr;
    std::string type = "Data", vg = "metadatavg", pvs = "/dev/sdb";
    EXPECT_EQ(1, mgr.configure_meta_data_storage(doc, type, vg, pvs));
    EXPECT_EQ(busy, mgr.get_failures().back());
    EXPECT_EQ(1, mgr.configure_m5_meta_data_storage(doc));
    EXPECT_EQ(busy, mgr.get_failures().back());
    EXPECT_EQ(1, mgr.unconfigure_meta_data_storage(type, vg, pvs));
    EXPECT_EQ(busy, mgr.get_failures().back());
    EXPECT_TRUE(tb.commands.empty());
}

}  // namespace
