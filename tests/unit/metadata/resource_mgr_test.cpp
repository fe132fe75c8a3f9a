// The resource manager: teardown of the earlier layout, then the build of a
// document's layout for a Control and a Data node, the registry record, the
// clean-up of a failed build, and what an unconfigure finds through the
// registry.

#include <tidewall/tw_resource_mgr.h>

#include "lvm_setup.h"
#include "resource_node.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tidewall::testing;

namespace {

TEST(ResourceMgr, ControlNodeTearsDownTheEarlierLayoutThenBuildsAndRecords) {
    test_backend tb;
    fake_node node(tb, "Control", "Appliance", kDell);
    std::string doc = layout_of("Control", {"/dev/sdb", "/dev/sdc"});
    // The earlier layout: the same disks, two of its volumes mounted.
    tb.set_key("sArrowfieldMetadataVG", "metadatavg");
    tb.set_key("sArrowfieldMetadataPV", "old-b,old-c");
    node.mount("/dev/mapper/metadatavg-ddb", "/tw/ddb");
    node.mount("/dev/mapper/metadatavg-index", kIndexPath);
    // Its volumes hold the disks and its labels are on them; the teardown
    // frees them.
    hold_disk(tb, "sdb", "dm-0", "metadatavg-ddb_pool_tdata");
    hold_disk(tb, "sdc", "dm-1", "metadatavg-index");
    write_lvm_label(tb, "sdb");
    write_lvm_label(tb, "sdc");
    tb.on(kPvScan, 0, "/dev/sda2\nsys-uuid\n/dev/sdb\nold-b\n/dev/sdc\nold-c\n");
    tb.on(kVgScan, 0, "systemvg\nmetadatavg\n");
    tb.on("vgremove -ff metadatavg", 0);
    tb.on("pvremove -ff -y /dev/sdb", 0);
    tb.on("pvremove -ff -y /dev/sdc", 0);
    script_group(tb, {"/dev/sdb", "/dev/sdc"}, "/dev/sda2\nsys-uuid\n/dev/sdb\nnew-b\n/dev/sdc\nnew-c\n", "100000\n");
    const strings lvcreates = {
        "lvcreate -y --extents 25000 --name index metadatavg",  "lvcreate -y --extents 29936 -T metadatavg/ddb_pool",
        "lvcreate -y -V 107768M -T metadatavg/ddb_pool -n ddb", "lvcreate -y --extents 30000 --name dav_vm metadatavg",
        "lvcreate -y --extents 10000 --name dav_he metadatavg",
    };
    for (const auto& c : lvcreates) tb.on(c, 0);
    const strings mkfs = {"echo y | mkfs -t xfs -i size=512 -f /dev/metadatavg/ddb",
                          "echo y | mkfs -t xfs -i size=512 -f /dev/metadatavg/dav_he",
                          "echo y | mkfs -t xfs -i size=512 -f /dev/metadatavg/dav_vm",
                          "echo y | mkfs -t xfs -i size=512 -f /dev/metadatavg/index"};
    for (const auto& c : mkfs) tb.on(c, 0);
    tb.commands.clear();

    tw_resource_mgr mgr;
    std::string type = "Control", vg = "metadatavg", pvs;
    ASSERT_EQ(0, mgr.configure_meta_data_storage(doc, type, vg, pvs)) << ::testing::PrintToString(mgr.get_failures());

    strings expected = {kPvScan,
                        "umount /tw/ddb",
                        "umount " + kIndexPath,
                        kVgScan,
                        "vgremove -ff metadatavg",
                        "pvremove -ff -y /dev/sdb",
                        "pvremove -ff -y /dev/sdc",
                        "pvcreate -ff -y /dev/sdb",
                        "pvcreate -ff -y /dev/sdc",
                        kPvScan,
                        "vgcreate  metadatavg --physicalextentsize 4M /dev/sdb /dev/sdc ",
                        alloc_query("metadatavg"),
                        free_query("metadatavg")};
    expected.insert(expected.end(), lvcreates.begin(), lvcreates.end());
    expected.insert(expected.end(), mkfs.begin(), mkfs.end());
    expected.insert(expected.end(),
                    {"systemctl daemon-reload", "mount -t xfs -o noatime,inode64,nofail /dev/metadatavg/ddb /tw/ddb",
                     "mount -t xfs -o noatime,inode64,nofail /dev/metadatavg/dav_he /tw/dav_he",
                     "mount -t xfs -o noatime,inode64,nofail /dev/metadatavg/dav_vm /tw/dav_vm",
                     "mount -t xfs -o noatime,inode64,nofail /dev/metadatavg/index " + kIndexPath});
    EXPECT_EQ(expected, storage_commands(tb));
    // One wait of 10 s, after the volumes and before the first mkfs.
    EXPECT_EQ((std::vector<unsigned>{10000}), tb.sleeps);

    EXPECT_EQ("new-b,new-c", tb.key("sArrowfieldMetadataPV"));
    EXPECT_EQ("metadatavg", tb.key("sArrowfieldMetadataVG"));
    EXPECT_EQ("Control", tb.key("sArrowfieldNodeType"));
    EXPECT_TRUE(tb.logged(0, "tw_resource_mgr::update_meta_data_pv_registry_entry",
                          "reg key [sArrowfieldMetadataPV] = [new-b,new-c]"));
    EXPECT_TRUE(tb.logged(0, "tw_resource_mgr::configure_meta_data_storage", "configure meta data storage completed."));
    EXPECT_EQ((strings{"/tw/ddb", "/tw/dav_he", "/tw/dav_vm", kIndexPath}), node.mount_points());
    EXPECT_EQ("arrowfield@tsln", tb.xattrs["/tw/dav_vm"]["trusted.tslnstamp"]);
    std::string fstab = tb.read_file("/etc/fstab");
    EXPECT_NE(std::string::npos,
              fstab.find("/dev/metadatavg/dav_he      /tw/dav_he      xfs      noatime,inode64,nofail      0   0\n"));
    EXPECT_TRUE(mgr.get_failures().empty());
}

TEST(ResourceMgr, DataNodeFirstBuildWithTheEarlierDisksNamed) {
    test_backend tb;
    fake_node node(tb, "Data", "ReferenceArchitecture", kDell);
    std::string doc = layout_of("", {"/dev/sdb"});
    tb.on(kVgScan, 0, "systemvg\n");
    tb.on("pvremove -ff -y /dev/sdb", 0);  // LVM answers this for a disk without a label too
    script_group(tb, {"/dev/sdb"}, "/dev/sdb\nuuid-b\n", "1000\n");
    tb.on("lvcreate -y --extents 900 --name index metadatavg", 0);
    tb.on("echo y | mkfs -t xfs -i size=512 -f /dev/metadatavg/index", 0);
    tb.commands.clear();

    tw_resource_mgr mgr;
    std::string type, vg = "metadatavg", pvs = "/dev/sdb";
    ASSERT_EQ(0, mgr.configure_meta_data_storage(doc, type, vg, pvs)) << ::testing::PrintToString(mgr.get_failures());
    EXPECT_EQ((strings{kVgScan, "pvremove -ff -y /dev/sdb", "pvcreate -ff -y /dev/sdb", kPvScan,
                       "vgcreate  metadatavg --physicalextentsize 4M /dev/sdb ", alloc_query("metadatavg"),
                       free_query("metadatavg"), "lvcreate -y --extents 900 --name index metadatavg",
                       "echo y | mkfs -t xfs -i size=512 -f /dev/metadatavg/index", "systemctl daemon-reload",
                       "mount -t xfs -o noatime,inode64,nofail /dev/metadatavg/index " + kIndexPath}),
              storage_commands(tb));
    EXPECT_EQ("uuid-b", tb.key("sArrowfieldMetadataPV"));
    EXPECT_EQ("metadatavg", tb.key("sArrowfieldMetadataVG"));
    EXPECT_EQ("Data", tb.key("sArrowfieldNodeType"));  // from the registry, not written again
    EXPECT_FALSE(tb.logged("reg key [sArrowfieldNodeType] = [Data]"));
}

TEST(ResourceMgr, FailedVolumeCreationRemovesTheGroupAndItsVolumes) {
    test_backend tb;
    fake_node node(tb, "Control", "ReferenceArchitecture", kDell);
    std::string doc = layout_of("Control", {"/dev/sdb", "/dev/sdc"});
    tb.set_key("sArrowfieldMetadataPV", "");  // nothing earlier
    script_group(tb, {"/dev/sdb", "/dev/sdc"}, "/dev/sdb\nuuid-b\n/dev/sdc\nuuid-c\n", "1000\n");
    tb.on("lvcreate -y --extents 450 --name index metadatavg", 0);
    tb.on("lvcreate -y --extents 436 -T metadatavg/ddb_pool", 5, "",
          "  Can't create thin-pool without using device-mapper kernel driver.\n");
    tb.on(kVgScan, 0, "metadatavg\n");
    tb.on("vgremove -ff metadatavg", 0);
    tb.on("pvremove -ff -y /dev/sdb", 0);
    tb.on("pvremove -ff -y /dev/sdc", 0);
    tb.commands.clear();

    tw_resource_mgr mgr;
    std::string type = "Control", vg, pvs;
    tb.set_key("sArrowfieldMetadataVG", "");
    EXPECT_EQ(1, mgr.configure_meta_data_storage(doc, type, vg, pvs));
    strings cmds = storage_commands(tb);
    ASSERT_GE(cmds.size(), 4u);
    EXPECT_EQ((strings{kVgScan, "vgremove -ff metadatavg", "pvremove -ff -y /dev/sdb", "pvremove -ff -y /dev/sdc"}),
              strings(cmds.end() - 4, cmds.end()));
    EXPECT_EQ("lvcreate -y --extents 436 -T metadatavg/ddb_pool", cmds[cmds.size() - 5]);
    EXPECT_TRUE(tb.sleeps.empty());
    EXPECT_EQ("", tb.key("sArrowfieldMetadataPV"));
    EXPECT_EQ("Control", tb.key("sArrowfieldNodeType"));
    EXPECT_TRUE(tb.logged(-1, "tw_resource_mgr::configure_meta_data_storage_internal", " VG configure failed"));
    EXPECT_TRUE(tb.logged(-1, "tw_resource_mgr::configure_meta_data_storage", "configure meta data storage  failed"));
    EXPECT_FALSE(tb.logged("unconfigure meta data storage failed"));
    // The reasons reach the caller, innermost first.
    const auto& f = mgr.get_failures();
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(
        "command [lvcreate -y --extents 436 -T metadatavg/ddb_pool] failed with error [  Can't create thin-pool "
        "without using device-mapper kernel driver.\n]",
        f.front());
    EXPECT_EQ("configure meta data storage  failed", f.back());
}

TEST(ResourceMgr, FailedCleanUpStillReportsTheConfigureFailure) {
    test_backend tb;
    fake_node node(tb, "Data", "ReferenceArchitecture", kDell);
    std::string doc = layout_of("Data", {"/dev/sdb"});
    tb.set_key("sArrowfieldMetadataVG", "");
    tb.set_key("sArrowfieldMetadataPV", "");
    script_group(tb, {"/dev/sdb"}, "/dev/sdb\nuuid-b\n", "1000\n");
    tb.on("lvcreate -y --extents 900 --name index metadatavg", 0);
    tb.on("echo y | mkfs -t xfs -i size=512 -f /dev/metadatavg/index", 1);
    tb.on(kVgScan, 0, "metadatavg\n");
    tb.on("vgremove -ff metadatavg", 5, "", "  Logical volume metadatavg/index in use.\n");

    tw_resource_mgr mgr;
    std::string type, vg, pvs;
    EXPECT_EQ(1, mgr.configure_meta_data_storage(doc, type, vg, pvs));
    EXPECT_TRUE(tb.logged(-1, "tw_resource_mgr::configure_meta_data_storage_internal", "fs configure failed"));
    EXPECT_TRUE(tb.logged(-1, "tw_resource_mgr::unconfigure_meta_data_storage_internal", "VG unconfig failed"));
    EXPECT_TRUE(tb.logged(-1, "tw_resource_mgr::configure_meta_data_storage", "unconfigure meta data storage failed"));
    EXPECT_EQ("configure meta data storage  failed", mgr.get_failures().back());
    EXPECT_EQ("vgremove -ff metadatavg", tb.commands.back());  // no pvremove under a group still there
}

TEST(ResourceMgr, GroupThatWasThereBeforeSurvivesAFailedConfigure) {
    test_backend tb;
    fake_node node(tb, "Data", "ReferenceArchitecture", kDell);
    std::string doc = layout_of("Data", {"/dev/sdd", "/dev/sde"});
    tb.set_key("sArrowfieldMetadataVG", "");
    tb.set_key("sArrowfieldMetadataPV", "");
    tb.on("pvcreate -ff -y /dev/sdd", 0);
    tb.on("pvcreate -ff -y /dev/sde", 0);
    tb.on(kPvScan, 0, "/dev/sdb\nold-b\n/dev/sdd\nuuid-d\n/dev/sde\nuuid-e\n");
    tb.on("vgcreate  metadatavg --physicalextentsize 4M /dev/sdd /dev/sde ", 5, "",
          "  A volume group called metadatavg already exists.\n");
    tb.on("pvremove -ff -y /dev/sdd", 0);
    tb.on("pvremove -ff -y /dev/sde", 0);
    tb.commands.clear();

    tw_resource_mgr mgr;
    std::string type, vg, pvs;
    EXPECT_EQ(1, mgr.configure_meta_data_storage(doc, type, vg, pvs));
    EXPECT_EQ((strings{kPvScan, "pvcreate -ff -y /dev/sdd", "pvcreate -ff -y /dev/sde", kPvScan,
                       "vgcreate  metadatavg --physicalextentsize 4M /dev/sdd /dev/sde ", "pvremove -ff -y /dev/sdd",
                       "pvremove -ff -y /dev/sde"}),
              storage_commands(tb));
    EXPECT_TRUE(tb.logged(0, "tw_resource_mgr::unconfigure_meta_data_storage_internal",
                          "vg [metadatavg] was not created by this configure, leaving it alone"));
}

TEST(ResourceMgr, UnconfigureFindsNothingToDo) {
    test_backend tb;
    fake_node node(tb, "Control", "Appliance", kDell);
    tw_resource_mgr mgr;
    std::string type, vg, pvs;
    EXPECT_EQ(1, mgr.unconfigure_meta_data_storage(type, vg, pvs));
    EXPECT_TRUE(tb.logged(-1, "tw_resource_mgr::unconfigure_meta_data_storage",
                          "reading reg key failed for [sArrowfieldMetadataVG]"));

    tb.set_key("sArrowfieldMetadataVG", "metadatavg");
    EXPECT_EQ(1, mgr.unconfigure_meta_data_storage(type, vg, pvs));
    EXPECT_EQ("reading reg key failed for [sArrowfieldMetadataPV]", mgr.get_failures().back());

    // UUIDs that no physical volume carries any more: no disks, no teardown.
    tb.set_key("sArrowfieldMetadataPV", "gone-1,gone-2");
    tb.on(kPvScan, 0, "/dev/sdb\nother\n");
    tb.commands.clear();
    EXPECT_EQ(0, mgr.unconfigure_meta_data_storage(type, vg, pvs));
    EXPECT_EQ((strings{kPvScan}), tb.commands);
    EXPECT_TRUE(
        tb.logged(0, "tw_resource_mgr::unconfigure_meta_data_storage", "skipping cleanup no old VG or PV found"));
    EXPECT_TRUE(mgr.get_failures().empty());

    // A configure fails at once when the teardown before it does.
    tb.registry["Dockwright"].erase("sArrowfieldMetadataVG");
    std::string doc = layout_of("Control", {"/dev/sdb"});
    EXPECT_EQ(1, mgr.configure_meta_data_storage(doc, type, vg, pvs));
    EXPECT_TRUE(tb.logged(-1, "tw_resource_mgr::configure_meta_data_storage", "unconfigure meta data storage failed"));
}

TEST(ResourceMgr, UnconfigureWithArgumentsUsesTheDefaultMountsOfTheNodeType) {
    test_backend tb;
    fake_node node(tb, "Data", "Appliance", kDell);
    node.mount("/dev/mapper/oldvg-dav_he", "/tw/dav_he");
    node.mount("/dev/mapper/oldvg-ddb", "/tw/ddb");  // not a Data node's: left alone
    tb.on(kVgScan, 0, "oldvg\n");
    tb.on("vgremove -ff oldvg", 0);
    tb.on("pvremove -ff -y /dev/sdx", 0);
    tb.on("pvremove -ff -y ''", 5, "", "  No device found for .\n");
    tb.commands.clear();
    tw_resource_mgr mgr;
    std::string type, vg = "oldvg", pvs = "/dev/sdx,";
    EXPECT_EQ(1, mgr.unconfigure_meta_data_storage(type, vg, pvs));
    EXPECT_EQ(
        (strings{"umount /tw/dav_he", kVgScan, "vgremove -ff oldvg", "pvremove -ff -y /dev/sdx", "pvremove -ff -y ''"}),
        storage_commands(tb));
    EXPECT_EQ((strings{"/tw/ddb"}), node.mount_points());
    EXPECT_EQ("unconfigure meta data  storage failed", mgr.get_failures().back());
}

TEST(ResourceMgr, DiskListFollowsTheRecordedOrder) {
    test_backend tb;
    tb.on(kPvScan, 0, "/dev/sdb\nu1\n/dev/sdc\nu2\n/dev/sdd\nu3\n");
    tw_resource_mgr mgr;
    std::string uuids = "u3,missing,u1";
    std::list<std::string> disks;
    ASSERT_EQ(0, mgr.create_disk_list(uuids, disks));
    EXPECT_EQ((std::list<std::string>{"/dev/sdd", "/dev/sdb"}), disks);

    test_backend failing;
    failing.on(kPvScan, 1, "", "awk: not found\n");
    tw_resource_mgr other;
    disks.clear();
    EXPECT_EQ(1, other.create_disk_list(uuids, disks));
    EXPECT_TRUE(disks.empty());
    EXPECT_TRUE(failing.logged(-1, "tw_resource_mgr::create_disk_list", "PV scan failed"));
}

TEST(ResourceMgr, M5BuildNeitherTearsDownNorRecordsTheGroup) {
    test_backend tb;
    fake_node node(tb, "Data", "ReferenceArchitecture", kDell);
    std::string doc = layout_of("Data", {"/dev/sdb"});
    tb.registry["Dockwright"].erase("sArrowfieldNodeType");
    script_group(tb, {"/dev/sdb"}, "/dev/sdb\nuuid-b\n", "1000\n");
    tb.on("lvcreate -y --extents 900 --name index metadatavg", 0);
    tb.on("echo y | mkfs -t xfs -i size=512 -f /dev/metadatavg/index", 0);
    tb.commands.clear();
    tw_resource_mgr mgr;
    ASSERT_EQ(0, mgr.configure_m5_meta_data_storage(doc));
    EXPECT_EQ("pvcreate -ff -y /dev/sdb", storage_commands(tb).front());
    EXPECT_EQ("uuid-b", tb.key("sArrowfieldMetadataPV"));
    EXPECT_FALSE(tb.key("sArrowfieldMetadataVG"));
    EXPECT_FALSE(tb.key("sArrowfieldNodeType"));
    EXPECT_TRUE(
        tb.logged(0, "tw_resource_mgr::configure_m5_meta_data_storage", "configure meta data storage completed."));

    std::string bad = "{\"disk\": []}";
    EXPECT_EQ(1, mgr.configure_m5_meta_data_storage(bad));
    EXPECT_EQ("reading storage config data failed", mgr.get_failures().back());
}

TEST(ResourceMgr, RecordsTheGroupTheDocumentBuilt) {
    test_backend tb;
    fake_node node(tb, "Data", "ReferenceArchitecture", kDell);
    std::string doc = layout_of("Data", {"/dev/sdb"});
    // The group and its volumes' devices renamed together.
    ASSERT_NE(std::string::npos, doc.find("\"name\": \"metadatavg\"")) << doc;
    for (size_t at; (at = doc.find("metadatavg")) != std::string::npos;) doc.replace(at, 10, "metavg2");
    tb.set_key("sArrowfieldMetadataPV", "");
    tb.on("pvcreate -ff -y /dev/sdb", 0);
    tb.on(kPvScan, 0, "/dev/sdb\nuuid-b\n");
    tb.on("vgcreate  metavg2 --physicalextentsize 4M /dev/sdb ", 0);
    tb.on(alloc_query("metavg2"), 0, "0\n");
    tb.on(free_query("metavg2"), 0, "1000\n");
    tb.on("lvcreate -y --extents 900 --name index metavg2", 0);
    tb.on("echo y | mkfs -t xfs -i size=512 -f /dev/metavg2/index", 0);
    tw_resource_mgr mgr;
    std::string type, vg = "metadatavg", pvs;
    ASSERT_EQ(0, mgr.configure_meta_data_storage(doc, type, vg, pvs)) << ::testing::PrintToString(mgr.get_failures());
    EXPECT_EQ("metavg2", tb.key("sArrowfieldMetadataVG"));
}

TEST(ResourceMgr, RegistryWriteFailureFailsTheConfigure) {
    test_backend tb;
    fake_node node(tb, "Data", "ReferenceArchitecture", kDell);
    std::string doc = layout_of("Data", {"/dev/sdb"});
    tb.set_key("sArrowfieldMetadataVG", "");
    tb.set_key("sArrowfieldMetadataPV", "");
    script_group(tb, {"/dev/sdb"}, "/dev/sdb\nuuid-b\n", "1000\n");
    tb.on("lvcreate -y --extents 900 --name index metadatavg", 0);
    tb.on("echo y | mkfs -t xfs -i size=512 -f /dev/metadatavg/index", 0);
    tb.on(kVgScan, 0, "metadatavg\n");
    tb.on("vgremove -ff metadatavg", 0);
    tb.on("pvremove -ff -y /dev/sdb", 0);
    tb.registry_read_only = true;
    tw_resource_mgr mgr;
    std::string type, vg, pvs;
    EXPECT_NE(0, mgr.configure_meta_data_storage(doc, type, vg, pvs));
    EXPECT_TRUE(tb.logged(-1, "tw_resource_mgr::update_meta_data_pv_registry_entry",
                          "writing reg key failed for [sArrowfieldMetadataPV]"));
    EXPECT_TRUE(tb.logged(-1, "tw_resource_mgr::configure_meta_data_storage_internal",
                          "update meta data pv registry entry failed"));
    // The build it could not record is taken down again.
    EXPECT_EQ("pvremove -ff -y /dev/sdb", tb.commands.back());
}

TEST(ResourceMgr, DefaultDocumentAndBadNodeType) {
    test_backend tb;
    fake_node node(tb, "", "ReferenceArchitecture", kDell);
    tw_resource_mgr mgr;
    std::list<std::string> disks = {"/dev/sdb"};
    std::string doc, type;
    EXPECT_EQ(1, mgr.create_meta_data_storage_config(disks, doc, type));
    EXPECT_EQ(
        (std::list<std::string>{"reading reg key failed for [sArrowfieldNodeType]", "storage config init failed"}),
        mgr.get_failures());
    type = "Data";
    ASSERT_EQ(0, mgr.create_meta_data_storage_config(disks, doc, type));
    EXPECT_NE(std::string::npos, doc.find("\"mntPath\": \"\\/opt\\/tessaline\\/Dockwright64\\/IndexCache\"")) << doc;
    EXPECT_TRUE(tb.logged(0, "tw_resource_mgr::create_meta_data_storage_config", "config data:\n" + doc + "\n"));

    type = "Edge";
    std::string vg = "metadatavg", pvs = "/dev/sdb";
    tb.commands.clear();
    EXPECT_EQ(1, mgr.configure_meta_data_storage(doc, type, vg, pvs));
    EXPECT_EQ("not a valid node type [Edge]", mgr.get_failures().front());
    EXPECT_TRUE(storage_commands(tb).empty());  // nothing torn down for a node type it cannot know
}

}  // namespace
