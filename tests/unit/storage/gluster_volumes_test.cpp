// Gluster volumes: paths on the gluster mount, what the mount serves, this
// node's bricks, mounting the gluster mount path, heal state and brick clean-up.

#include "storage_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "fixture.h"

using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

const char* const kList = "gluster --mode=script volume list --xml";

using tidewall::testing::fixture;

// "volume info --xml" as gluster 10 answers it, with the bricks given.
std::string volume_info_xml(const std::string& name, const std::vector<std::string>& bricks) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<cliOutput>\n  <opRet>0</opRet>\n"
        "  <opErrno>0</opErrno>\n  <opErrstr/>\n  <volInfo>\n    <volumes>\n      <volume>\n"
        "        <name>" +
        name + "</name>\n        <typeStr>Replicate</typeStr>\n        <bricks>\n";
    for (const auto& b : bricks)
        xml += "          <brick uuid=\"8d0f3947-b3e6-46ae-ac4a-735899ae4bd1\">" + b + "<name>" + b +
               "</name><isArbiter>0</isArbiter></brick>\n";
    xml += "        </bricks>\n      </volume>\n      <count>1</count>\n    </volumes>\n  </volInfo>\n</cliOutput>\n";
    return xml;
}

// This node is node1.example.net; its storage name node1sds.example.net has
// the address of one of its interfaces.
void name_the_nodes(test_backend& tb) {
    tb.hostname = "node1.example.net";
    tb.hosts["node1sds.example.net"] = "10.1.0.1";
    tb.hosts["node2sds.example.net"] = "10.1.0.2";
    tb.interface_addresses = {"127.0.0.1", "10.1.0.1", "192.168.122.5"};
}

TEST(GlusterPaths, OnTheGlusterMountOnlyBelowIt) {
    test_backend tb;
    storage_under_test s(tb);
    EXPECT_EQ(1, s.storage.is_on_gluster_volume("/tw/glus/x"));
    EXPECT_EQ(1, s.storage.is_on_gluster_volume("/tw/glus\\x"));
    EXPECT_EQ(1, s.storage.is_on_gluster_volume("/tw/glus/"));
    EXPECT_EQ(0, s.storage.is_on_gluster_volume("/tw/glusvol/x"));
    EXPECT_EQ(0, s.storage.is_on_gluster_volume("/tw/glus"));
    EXPECT_EQ(0, s.storage.is_on_gluster_volume("/tw/gl"));
    EXPECT_EQ(0, s.storage.is_on_gluster_volume(""));
    EXPECT_TRUE(
        tb.logged(2, "tw_storage::is_on_gluster_volume", "Path [/tw/glus/x] is on gluster mount path [/tw/glus]"));
    EXPECT_TRUE(tb.logged(2, "tw_storage::is_on_gluster_volume",
                          "Path [/tw/glusvol/x] is not on gluster mount path [/tw/glus]"));
    tb.set_key("sTidewallGlusterFSMountPath", "/mnt/g");
    EXPECT_EQ(1, s.storage.is_on_gluster_volume("/mnt/g/x"));
    EXPECT_EQ(0, s.storage.is_on_gluster_volume("/tw/glus/x"));
}

TEST(GlusterPaths, VolumeOfTheGlusterMountFromTheMountTable) {
    test_backend tb;
    storage_under_test s(tb);
    std::string host = "h", volume = "v", rest;
    unsigned port = 0;
    // Not mounted: -2, the path on the volume is still given.
    EXPECT_EQ(-2, s.storage.extract_gluster_volume_info("/tw/glus/a/b", host, volume, port, rest));
    EXPECT_EQ("/a/b", rest);

    // The real mount line of a FUSE gluster mount, at /tw/glus here.
    std::string line = fixture("thisvm/gluster_fuse_mounts_line.txt");
    line.replace(line.find("/data/probe/glus"), 16, "/tw/glus");
    tb.write_file("/etc/mtab", "/dev/sda1 / xfs rw 0 0\n" + line);
    EXPECT_EQ(0, s.storage.extract_gluster_volume_info("/tw/glus/a/b", host, volume, port, rest));
    EXPECT_EQ("vm", host);
    EXPECT_EQ("testvol", volume);
    EXPECT_EQ(24007u, port);
    EXPECT_EQ("/a/b", rest);
    EXPECT_TRUE(tb.logged(2, "tw_storage::extract_gluster_volume_info",
                          "Host name [vm] gluster volume [testvol] port number [24007] path on volume [/a/b]"));
    // A path shorter than the mount path has nothing on the volume.
    EXPECT_EQ(0, s.storage.extract_gluster_volume_info("/tw", host, volume, port, rest));
    EXPECT_EQ("", rest);
}

TEST(GlusterPaths, OnlyAFuseGlusterMountWithHostAndVolumeCounts) {
    test_backend tb;
    storage_under_test s(tb);
    std::string host = "h", volume = "v", rest;
    unsigned port = 0;
    for (const char* mtab : {"node1:vol1 /tw/glus fuse.glusterfs rw 0 0\n",  // no "/"
                             "/tw/vol1 /tw/glus fuse.glusterfs rw 0 0\n",  // no ":"
                             "node1:/vol1 /tw/glus glusterfs rw 0 0\n",  // not the FUSE type
                             "/dev/sdb /tw/glus xfs rw 0 0\n"}) {
        tb.write_file("/etc/mtab", mtab);
        EXPECT_EQ(-2, s.storage.extract_gluster_volume_info("/tw/glus/x", host, volume, port, rest)) << mtab;
        EXPECT_EQ("h", host);
        EXPECT_EQ(0u, port);
    }
}

TEST(GlusterPaths, BrickPathCarriesBothGlusterAttributes) {
    test_backend tb;
    storage_under_test s(tb);
    const std::string dir = "/tw/disk1/tw_brick";
    tb.make_dir(dir);
    EXPECT_EQ(0, s.storage.is_gluster_brick_path(dir));
    EXPECT_TRUE(tb.logged(0, "tw_storage::is_gluster_brick_path",
                          "Directory [/tw/disk1/tw_brick] does not have the trusted.gfid attribute set on it"));
    tb.xattrs[dir]["trusted.gfid"] = std::string("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x01", 16);
    EXPECT_EQ(0, s.storage.is_gluster_brick_path(dir));
    EXPECT_TRUE(
        tb.logged(0, "tw_storage::is_gluster_brick_path",
                  "Directory [/tw/disk1/tw_brick] does not have the trusted.glusterfs.volume-id attribute set on it"));
    tb.xattrs[dir]["trusted.glusterfs.volume-id"] = "\xff\x70\x59\xfd";
    EXPECT_EQ(1, s.storage.is_gluster_brick_path(dir));
    EXPECT_TRUE(tb.logged(
        0, "tw_storage::is_gluster_brick_path",
        "Directory [/tw/disk1/tw_brick] has trusted.glusterfs.volume-id and trusted.gfid attributes set on it"));
}

class GlusterBricks : public ::testing::Test {
protected:
    // The scan at construction finds glusterd up: the storage manager has its handle.
    static bool glusterd_up(test_backend& tb) {
        name_the_nodes(tb);
        tb.on(kList, 0, fixture("gluster/volume-list-xml-exporter.txt"));
        return true;
    }
    test_backend tb;
    bool up = glusterd_up(tb);
    storage_under_test s{tb};
    const std::string info_cmd = "gluster --mode=script volume info vol1 --xml";
};

TEST_F(GlusterBricks, ThisNodesBricksByNameOrAddressInVolumeOrder) {
    ASSERT_TRUE(s.storage.gluster_admin_available());
    tb.on(info_cmd, 0,
          volume_info_xml("vol1", {"node2sds.example.net:/tw/disk1/tw_brick", "node1sds.example.net:/tw/disk1/tw_brick",
                                   "node1:/tw/disk3/tw_brick", "10.1.0.1:/tw/disk2/tw_brick",
                                   "NODE1.example.net:/tw/disk4/tw_brick", "node3:/tw/disk1/tw_brick"}));
    std::list<std::string> paths = {"stale"};
    EXPECT_EQ(0, s.storage.get_mount_path_list("vol1", paths));
    EXPECT_EQ((std::list<std::string>{"/tw/disk1/tw_brick", "/tw/disk3/tw_brick", "/tw/disk2/tw_brick",
                                      "/tw/disk4/tw_brick"}),
              paths);
    EXPECT_EQ((std::vector<std::string>{info_cmd}), tb.commands);
    const char* tag = "tw_storage::get_mount_path_list";
    EXPECT_TRUE(tb.logged(0, tag, "Will extract local mountpaths which are part of gluster volume [vol1]"));
    EXPECT_TRUE(tb.logged(1, tag, "Hostname [node2sds.example.net] Mount path [/tw/disk1/tw_brick]"));
    EXPECT_TRUE(tb.logged(0, tag, "Found a mount path [/tw/disk3/tw_brick]"));
}

TEST_F(GlusterBricks, UnknownVolumeIsAFailureAndClearsTheList) {
    tb.on(info_cmd, 1, "", "Volume vol1 does not exist\n");
    std::list<std::string> paths = {"stale"};
    EXPECT_EQ(-1, s.storage.get_mount_path_list("vol1", paths));
    EXPECT_TRUE(paths.empty());
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::get_mount_path_list", "Failed to extract information about gluster volume [vol1]"));
}

TEST_F(GlusterBricks, BrickListWithOnlineStateFromTheVolumeStatus) {
    tb.on(info_cmd, 0,
          volume_info_xml("vol1", {"node1:/tw/disk1/tw_brick", "node2sds.example.net:/tw/disk1/tw_brick",
                                   "node1:/tw/disk2/tw_brick"}));
    std::string status = fixture("thisvm/gluster_volume_status_detail_testvol.xml");
    status.replace(status.find("<hostname>vm</hostname>"), 23, "<hostname>node1</hostname>");
    status.replace(status.find("/data/probe/b1/tw_brick"), 23, "/tw/disk1/tw_brick");
    tb.on("gluster --mode=script volume status vol1 detail --xml", 0, status);
    std::list<gluster_brick_info> bricks;
    ASSERT_EQ(0, s.storage.get_gluster_brick_list("vol1", bricks));
    ASSERT_EQ(3u, bricks.size());
    auto it = bricks.begin();
    EXPECT_EQ("node1", it->host_name);
    EXPECT_EQ("/tw/disk1/tw_brick", it->mnt_path);
    EXPECT_TRUE(it->local);
    EXPECT_TRUE(it->online);
    ++it;
    EXPECT_FALSE(it->local);
    EXPECT_FALSE(it->online);  // gluster lists no status for it
    ++it;
    EXPECT_TRUE(it->local);
    EXPECT_FALSE(it->online);
}

TEST(GlusterBricksWithoutHandle, AFreshHandleAsksGlusterWhenTheScanFailed) {
    test_backend tb;
    name_the_nodes(tb);
    storage_under_test s(tb);  // glusterd was down: no handle
    ASSERT_FALSE(s.storage.gluster_admin_available());
    tb.on("gluster --mode=script volume info vol1 --xml", 0, volume_info_xml("vol1", {"node1:/tw/disk1/tw_brick"}));
    std::list<std::string> paths;
    EXPECT_EQ(0, s.storage.get_mount_path_list("vol1", paths));
    EXPECT_EQ((std::list<std::string>{"/tw/disk1/tw_brick"}), paths);
}

TEST(GlusterHeal, InProgressOnlyWithEntriesWaiting) {
    test_backend tb;
    storage_under_test s(tb);
    const std::string cmd = "gluster --mode=script volume heal vol1 info --xml";
    std::string pending = fixture("thisvm/gluster_heal_info_replica.xml");
    pending.replace(
        pending.find("<numberOfEntries>0</numberOfEntries>"), 36,
        "<file gfid=\"bccd39d5-84aa-46a7-9e8b-556c31e0fb36\">/f1</file><numberOfEntries>1</numberOfEntries>");
    tb.on(cmd, 0, fixture("thisvm/gluster_heal_info_replica.xml"));
    tb.on(cmd, 0, pending);
    EXPECT_EQ(0, s.storage.heal_in_progress("vol1"));
    EXPECT_EQ(1, s.storage.heal_in_progress("vol1"));
    EXPECT_EQ(cmd, tb.commands.back());
}

TEST(GlusterBrickDevice, DeviceOfTheFileSystemHoldingTheBrick) {
    test_backend tb;
    tb.write_file("/etc/mtab",
                  "/dev/sda1 / xfs rw 0 0\n/dev/sdc /tw/disk2 xfs rw 0 0\n/dev/sdb /tw/disk1 xfs rw 0 0\n");
    storage_under_test s(tb);
    std::string bdev;
    EXPECT_EQ(0, s.storage.get_brick_bdev("node1:/tw/disk1/tw_brick", bdev));
    EXPECT_EQ("/dev/sdb", bdev);
    EXPECT_EQ(0, s.storage.get_brick_bdev("/tw/disk2/tw_brick", bdev));
    EXPECT_EQ("/dev/sdc", bdev);
}

class MountGluster : public ::testing::Test {
protected:
    test_backend tb;
    storage_under_test s{tb};
};

TEST_F(MountGluster, AlreadyMountedDoesNothing) {
    tb.write_file("/etc/mtab", "node1sds:/vol1 /tw/glus fuse.glusterfs rw 0 0\n");
    s.storage.mount_gluster_mnt_path("node1sds", "vol1");
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_TRUE(
        tb.logged(0, "tw_storage::mount_gluster_mnt_path", "Gluster volume [node1sds:/vol1] is already mounted."));
}

TEST_F(MountGluster, CreatesTheDirectoryAndMountsThroughFstab) {
    tb.write_file("/etc/mtab", "/dev/sda1 / xfs rw 0 0\n");
    tb.make_dir("/tw");
    tb.fallback = [this](const std::string& cmd) -> std::optional<tidewall::host::command_result> {
        if (cmd != "mount /tw/glus") return std::nullopt;
        tb.write_file("/etc/mtab", "/dev/sda1 / xfs rw 0 0\nnode1sds:/vol1 /tw/glus fuse.glusterfs rw 0 0\n");
        return tidewall::host::command_result{};
    };
    s.storage.mount_gluster_mnt_path("node1sds", "vol1");
    EXPECT_TRUE(tb.exists("/tw/glus"));
    EXPECT_EQ((std::vector<std::string>{"mount /tw/glus"}), tb.commands);
    EXPECT_TRUE(tb.logged(0, "tw_storage::mount_gluster_mnt_path",
                          "Successfully mounted gluster volume [node1sds:/vol1] at [/tw/glus]"));
}

TEST_F(MountGluster, FailedMountThrows) {
    tb.make_dir("/tw/glus");
    tb.on("mount /tw/glus", 32, "", "mount: /tw/glus: can't find in /etc/fstab.\n");
    EXPECT_THROW(s.storage.mount_gluster_mnt_path("node1sds", "vol1"), TsException);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::mount_gluster_mnt_path", "Failed to mount gluster volume [node1sds:/vol1]"));
    EXPECT_FALSE(tb.logged("Successfully mounted gluster volume [node1sds:/vol1] at [/tw/glus]"));
}

TEST_F(MountGluster, DirectoryThatCannotBeMadeThrowsBeforeAnyMount) {
    // No /tw: the mount path cannot be created.
    EXPECT_THROW(s.storage.mount_gluster_mnt_path("node1sds", "vol1"), TsException);
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::mount_gluster_mnt_path",
                  "Failed to create gluster mount path [/tw/glus], Error [Failed to create directory /tw/glus]"));
}

class CleanupBrick : public ::testing::Test {
protected:
    CleanupBrick() {
        tidewall::testing::use_gluster_flavour(tb);
        tb.hosts = {{"node1sds", "10.1.0.1"}, {"node2sds", "10.1.0.2"}};
        tb.interface_addresses = {"192.168.0.1", "10.1.0.1"};
        tb.write_file("/etc/fstab",
                      "UUID=aaa / xfs defaults 1 1\n"
                      "UUID=bbb /tw/disk1 xfs noatime,inode64,nofail 0 0\n"
                      "UUID=ccc /tw/disk2 xfs noatime,inode64,nofail 0 0\n");
        for (const char* d : {"/tw/disk1/tw_brick", "/tw/disk2/tw_brick", "/tw/disk3/tw_brick"}) tb.make_dir(d);
        tb.xattrs["/tw/disk1"] = {
            {"trusted.mntstamp", "/tw/disk1"}, {"trusted.tslnstamp", "arrowfield@tsln"}, {"trusted.blkdevstamp", ""}};
    }
    test_backend tb;
    storage_under_test s{tb};
};

TEST_F(CleanupBrick, RemovesTheDisksEntryStampsAndMount) {
    tb.on("umount  /tw/disk1", 0);
    EXPECT_EQ(0, s.storage.cleanup_brick("node1sds:/tw/disk1/tw_brick"));
    EXPECT_EQ(tidewall::testing::fixture("golden/fstab_header") +
                  "UUID=aaa      /      xfs      defaults      1   1\n"
                  "UUID=ccc      /tw/disk2      xfs      noatime,inode64,nofail      0   0\n",
              tb.read_file("/etc/fstab"));
    EXPECT_TRUE(tb.xattrs["/tw/disk1"].empty());
    EXPECT_EQ((std::vector<std::string>{"umount  /tw/disk1"}), tb.commands);
    const char* tag = "tw_storage::cleanup_brick";
    EXPECT_TRUE(tb.logged(0, tag, "Will cleanup directory [/tw/disk1]"));
    EXPECT_TRUE(tb.logged(0, tag, "Attempt [0] successfully unmounted mount path [/tw/disk1]"));
}

TEST_F(CleanupBrick, WithoutAnEntryNothingIsUnmounted) {
    EXPECT_EQ(0, s.storage.cleanup_brick("node1sds:/tw/disk3/tw_brick"));
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_NE(std::string::npos, tb.read_file("/etc/fstab").find("/tw/disk1"));
}

TEST_F(CleanupBrick, FailedUnmountAndMissingStampsAreOnlyLogged) {
    tb.on("umount  /tw/disk2", 32, "", "umount: /tw/disk2: target is busy.\n");
    EXPECT_EQ(0, s.storage.cleanup_brick("node1sds:/tw/disk2/tw_brick/"));
    EXPECT_EQ(std::string::npos, tb.read_file("/etc/fstab").find("/tw/disk2"));
    const char* tag = "tw_storage::cleanup_brick";
    EXPECT_TRUE(tb.logged(-1, tag, "Failed to remove Tessaline extended attributes from mount path [/tw/disk2]"));
    EXPECT_TRUE(tb.logged(-1, tag, "Attempt [0] failed to unmount mount path [/tw/disk2]"));
}

TEST_F(CleanupBrick, BadBricksAreRefusedBeforeTouchingAnything) {
    const std::string before = tb.read_file("/etc/fstab");
    EXPECT_EQ(-1, s.storage.cleanup_brick("/tw/disk1/tw_brick"));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::cleanup_brick", "Failed to parse brick path [/tw/disk1/tw_brick]"));
    EXPECT_EQ(-1, s.storage.cleanup_brick("node1sds:/tw/disk9/tw_brick"));
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::cleanup_brick", "Failed to determine the absolute path for [/tw/disk9/tw_brick]"));
    // A brick straight on the root file system must never take / out of service.
    tb.make_dir("/tw_brick");
    EXPECT_EQ(-1, s.storage.cleanup_brick("node1sds:/tw_brick"));
    tb.make_dir("/boot/tw_brick");
    EXPECT_EQ(-1, s.storage.cleanup_brick("node1sds:/boot/tw_brick"));
    EXPECT_EQ(before, tb.read_file("/etc/fstab"));
    EXPECT_TRUE(tb.commands.empty());
}

// Only this node's data bricks: a peer's brick at the same path, and every
// other kind of mount path, are refused with nothing touched.
TEST_F(CleanupBrick, RefusesPeersBricksAndEveryOtherKindOfMountPath) {
    const char* others[] = {"/tw/ddb",
                            "/opt/tessaline/Dockwright64/IndexCache",
                            "/tw/glus",
                            "/tw/maldor",
                            "/var",
                            "/usr",
                            "/tw/disk",
                            "/tw/disk01",
                            "/tw/disk1x",
                            "/maldor/d1",
                            "/tw/disk1/tw_brick"};
    std::string fstab = tb.read_file("/etc/fstab");
    for (const char* p : others) {
        tb.make_dir(std::string(p) + "/tw_brick");
        fstab += std::string("/dev/sdx ") + p + " xfs defaults 0 2\n";
    }
    tb.write_file("/etc/fstab", fstab);
    const auto stamps = tb.xattrs;
    const char* tag = "tw_storage::cleanup_brick";

    EXPECT_EQ(-1, s.storage.cleanup_brick("node2sds:/tw/disk1/tw_brick"));
    EXPECT_TRUE(tb.logged(-1, tag,
                          "Refusing to cleanup brick [node2sds:/tw/disk1/tw_brick]: host [node2sds] is not this node"));
    EXPECT_EQ(-1, s.storage.cleanup_brick("unknownhost:/tw/disk1/tw_brick"));
    for (const char* p : others) {
        std::string brick = std::string("node1sds:") + p + "/tw_brick";
        EXPECT_EQ(-1, s.storage.cleanup_brick(brick)) << brick;
        EXPECT_TRUE(tb.logged(-1, tag,
                              std::string("Refusing to cleanup [") + p + "] of brick [" + brick +
                                  "]: not a data mount path of this node (/tw/diskN)"))
            << brick;
    }
    EXPECT_EQ(fstab, tb.read_file("/etc/fstab"));
    EXPECT_EQ(stamps, tb.xattrs);
    EXPECT_TRUE(tb.commands.empty());

    // The node's own names all count: its host name, short name, storage name, localhost.
    for (const char* host : {"node1.example.net", "node1", "localhost", "10.1.0.1"}) {
        tb.write_file("/etc/fstab", "UUID=bbb /tw/disk1 xfs noatime 0 0\n");
        tb.on("umount  /tw/disk1", 0);
        EXPECT_EQ(0, s.storage.cleanup_brick(std::string(host) + ":/tw/disk1/tw_brick")) << host;
        EXPECT_EQ(std::string::npos, tb.read_file("/etc/fstab").find("/tw/disk1")) << host;
    }
}

}  // namespace
