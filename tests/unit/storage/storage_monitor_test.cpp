// The storage monitor: its records for each storage flavour, and the DAV and
// Maldor checks of the storage manager behind them.

#include "storage_fixture.h"

#include <tidewall/tw_storagemonitor.h>

#include <gtest/gtest.h>

#include <vector>

using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;
using tidewall::testing::use_gluster_flavour;
using tidewall::testing::use_maldor_flavour;

namespace {

const char* const kList = "gluster --mode=script volume list --xml";
const char* const kOvirt = "/usr/sbin/hosted-engine --vm-status";
const char* const kSizeFile = "/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/.AFVolSize";

std::string list_xml(const std::vector<std::string>& names) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<cliOutput>\n  <opRet>0</opRet>\n"
                      "  <opErrno>0</opErrno>\n  <opErrstr/>\n  <volList>\n    <count>" +
                      std::to_string(names.size()) + "</count>\n";
    for (const auto& n : names) xml += "    <volume>" + n + "</volume>\n";
    return xml + "  </volList>\n</cliOutput>\n";
}

std::string info_xml(const std::string& name, const std::vector<std::string>& bricks) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<cliOutput>\n  <opRet>0</opRet>\n"
                      "  <opErrno>0</opErrno>\n  <opErrstr/>\n  <volInfo>\n    <volumes>\n      <volume>\n"
                      "        <name>" + name + "</name>\n        <typeStr>Distribute</typeStr>\n        <bricks>\n";
    for (const auto& b : bricks)
        xml += "          <brick uuid=\"8d0f3947-b3e6-46ae-ac4a-735899ae4bd1\">" + b + "<name>" + b +
               "</name><isArbiter>0</isArbiter></brick>\n";
    return xml + "        </bricks>\n      </volume>\n      <count>1</count>\n    </volumes>\n  </volInfo>\n</cliOutput>\n";
}

// "volume status NAME detail --xml": one node per brick, host:path -> online.
std::string status_xml(const std::string& name, const std::vector<std::pair<std::string, bool>>& bricks) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<cliOutput>\n  <opRet>0</opRet>\n"
                      "  <opErrno>0</opErrno>\n  <opErrstr/>\n  <volStatus>\n    <volumes>\n      <volume>\n"
                      "        <volName>" + name + "</volName>\n";
    for (const auto& [brick, online] : bricks) {
        size_t colon = brick.find(':');
        xml += "        <node>\n          <hostname>" + brick.substr(0, colon) + "</hostname>\n          <path>" +
               brick.substr(colon + 1) + "</path>\n          <status>" + (online ? "1" : "0") + "</status>\n        </node>\n";
    }
    return xml + "      </volume>\n    </volumes>\n  </volStatus>\n</cliOutput>\n";
}

void script_volume(test_backend& tb, const std::string& name, const std::vector<std::pair<std::string, bool>>& bricks) {
    std::vector<std::string> specs;
    for (const auto& b : bricks) specs.push_back(b.first);
    tb.on("gluster --mode=script volume info " + name + " --xml", 0, info_xml(name, specs));
    tb.on("gluster --mode=script volume status " + name + " detail --xml", 0, status_xml(name, bricks));
}

struct record {
    std::string name;
    int mount_supp, not_mounted, brick_supp, brick_offline, size_supp, size_incorrect;
    bool operator==(const record& o) const {
        return name == o.name && mount_supp == o.mount_supp && not_mounted == o.not_mounted &&
               brick_supp == o.brick_supp && brick_offline == o.brick_offline && size_supp == o.size_supp &&
               size_incorrect == o.size_incorrect;
    }
};

std::ostream& operator<<(std::ostream& os, const record& r) {
    return os << r.name << " m" << r.mount_supp << r.not_mounted << " b" << r.brick_supp << r.brick_offline << " s"
              << r.size_supp << r.size_incorrect;
}

std::vector<record> records(const std::list<tw_volumeinfo>& list) {
    std::vector<record> out;
    for (const auto& v : list)
        out.push_back({v.get_volumename(), v.is_mountcheck_supp(), v.get_notmounted_status(), v.is_brickcheck_supp(),
                       v.get_brickoffline_status(), v.is_sizecheck_supp(), v.get_sizeincorrect_status()});
    return out;
}

// A GlusterFS node node1 (storage name node1sds) serving vol1 at /tw/glus and
// mounting vol2 of node2.
class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        use_gluster_flavour(tb);
        tb.hostname = "node1.example.net";
        tb.hosts["node1.example.net"] = "192.168.122.5";
        tb.hosts["node1sds.example.net"] = "10.1.0.1";
        tb.hosts["node2sds.example.net"] = "10.1.0.2";
        tb.interface_addresses = {"127.0.0.1", "10.1.0.1", "192.168.122.5"};
        tb.write_file("/etc/fstab",
                      "node1sds.example.net:/vol1 /tw/glus glusterfs defaults,_netdev 0 0\n"
                      "node2sds.example.net:/vol2 /tw/glus/vol2 glusterfs defaults,_netdev 0 0\n");
        tb.make_dir("/etc/TessalineRegistry/Tolvan/Instance001/Dockwright");
        tb.usage["/tw/glus"] = {1000, 500};
    }
    void mtab(const std::string& extra = "") {
        tb.write_file("/etc/mtab", "node1sds.example.net:/vol1 /tw/glus fuse.glusterfs rw 0 0\n" + extra);
    }
    void dav_volumes() {
        tb.on(kOvirt, 0, "--== Host 1 status ==--\n");
        tb.on(kList, 0, list_xml({"dav_he_vol", "data_vol", "dav_vm_vol_2"}));
        script_volume(tb, "dav_he_vol", {{"node1:/tw/disk1/tw_brick", true}, {"node2sds.example.net:/tw/disk1/tw_brick", false}});
        script_volume(tb, "dav_vm_vol_2", {{"node1:/tw/disk2/tw_brick", false}});
    }
    test_backend tb;
};

TEST_F(MonitorTest, GlusterFlavourChecksLocalRemoteAndDavVolumes) {
    mtab("node1sds.example.net:/dav_he_vol /rhev/mnt/dav_he_vol fuse.glusterfs rw 0 0\n");
    tb.write_file(kSizeFile, "vol1:2000\n");  // vol1 was larger once
    dav_volumes();
    tw_storagemonitor m;
    const auto& list = m.get_volumeinfo();
    EXPECT_EQ((std::vector<record>{{"vol1", 1, 0, 0, 0, 1, 1},
                                   {"vol2", 1, 1, 0, 0, 0, 0},
                                   {"dav_he_vol", 1, 0, 1, 0, 0, 0},
                                   {"dav_vm_vol_2", 1, 1, 1, 1, 0, 0}}),
              records(list));
    EXPECT_EQ("vol1:2000\n", tb.read_file(kSizeFile));
    const char* tag = "tw_storagemonitor::loginfo";
    EXPECT_TRUE(tb.logged(2, tag, "Volume Info:"));
    EXPECT_TRUE(tb.logged(2, tag,
                          "Volume Name:[vol1] MountCheck Support:[1] NotMounted Status:[0] BrickCheck Support:[0] "
                          "BrickdOffline Status:[0] SizeCheck Support:[1] SizeInCorrect Status:[1]"));
    EXPECT_TRUE(tb.logged(2, tag,
                          "Volume Name:[dav_vm_vol_2] MountCheck Support:[1] NotMounted Status:[1] BrickCheck "
                          "Support:[1] BrickdOffline Status:[1] SizeCheck Support:[0] SizeInCorrect Status:[0]"));
    EXPECT_TRUE(tb.logged(0, "tw_storagemonitor::get_volumeinfo_gluster", "Local gluster volume [vol1] mount and size check."));
    EXPECT_TRUE(tb.logged(-1, "tw_storagemonitor::get_volumeinfo_gluster", "Volume [vol2] not mounted at mount path [/tw/glus/vol2]"));
    EXPECT_TRUE(tb.logged(-1, "tw_storagemonitor::get_davinfo", "DAV volume [dav_vm_vol_2] is not mounted."));
    EXPECT_TRUE(tb.logged(-1, "tw_storagemonitor::get_davinfo", "Brick daemon offline for volume [dav_vm_vol_2]"));
    EXPECT_TRUE(tb.logged(0, "tw_storagemonitor::get_davinfo", "Brick daemon online for volume [dav_he_vol]"));
    EXPECT_TRUE(tb.logged(3, "tw_storage::get_davvollist", "Non DAV gluster volume: data_vol"));

    // A second pass starts from an empty list.
    EXPECT_EQ(4u, m.get_volumeinfo().size());
}

TEST_F(MonitorTest, AGrownVolumeIsRecordedAndAnUnmountedOneSkipsTheSizeCheck) {
    mtab();
    tw_storagemonitor m;
    EXPECT_EQ((std::vector<record>{{"vol1", 1, 0, 0, 0, 1, 0}, {"vol2", 1, 1, 0, 0, 0, 0}}),
              records(m.get_volumeinfo()));
    EXPECT_EQ("vol1:1000\n", tb.read_file(kSizeFile));
    EXPECT_TRUE(tb.logged(0, "tw_storage::get_davvollist",
                          "Ovirt is not enabled on this setup. Skipping data collection for DAV volumes."));

    tb.write_file("/etc/mtab", "");
    tb.usage.clear();  // an unmounted volume's size is not even asked
    EXPECT_EQ((std::vector<record>{{"vol1", 1, 1, 0, 0, 1, 0}, {"vol2", 1, 1, 0, 0, 0, 0}}),
              records(m.get_volumeinfo()));
    EXPECT_TRUE(tb.logged(-1, "tw_storagemonitor::get_volumeinfo_gluster",
                          "Volume [vol1] not mounted at mount path [/tw/glus]. Skipping size check for this volume."));
}

TEST_F(MonitorTest, ASizeThatCannotBeReadCountsAsCorrect) {
    mtab();
    tb.usage.clear();
    tw_storagemonitor m;
    EXPECT_EQ((std::vector<record>{{"vol1", 1, 0, 0, 0, 1, 0}, {"vol2", 1, 1, 0, 0, 0, 0}}),
              records(m.get_volumeinfo()));
    EXPECT_TRUE(tb.logged(0, "tw_storagemonitor::get_volumeinfo_gluster",
                          "Failed to get sizeinfo for volume [vol1]. Considering size is correct."));
}

TEST_F(MonitorTest, NoStorageNameMeansNoLocalOrRemoteRecords) {
    tb.hosts.erase("node1sds.example.net");
    mtab();
    tw_storagemonitor m;
    EXPECT_TRUE(m.get_volumeinfo().empty());
    EXPECT_TRUE(tb.logged(0, "tw_storagemonitor::get_volumeinfo_gluster", "No local gluster volume found."));
    EXPECT_TRUE(tb.logged(-1, "tw_storagemonitor::get_volumeinfo_gluster", "Failed to get remote volume list"));
}

TEST_F(MonitorTest, BelowLevelTwoNoVolumeInfoIsLogged) {
    mtab();
    tb.level = 1;
    tw_storagemonitor m;
    EXPECT_EQ(2u, m.get_volumeinfo().size());
    EXPECT_FALSE(tb.logged("Volume Info:"));
}

TEST(MonitorMaldor, TheFirstVdiskOfTheListIsChecked) {
    test_backend tb;
    use_maldor_flavour(tb);
    tw_storagemonitor m;
    EXPECT_TRUE(m.get_volumeinfo().empty());  // no sVDiskList: nothing to check

    tb.set_key("sVDiskList", "vd1,vd2");
    EXPECT_EQ((std::vector<record>{{"vd1", 1, 1, 0, 0, 0, 0}}), records(m.get_volumeinfo()));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_maldor_vdisk_mount_status", "Vdisk [vd1] not mounted at mount path [/tw/maldor/vd1]"));

    tb.write_file("/etc/mtab", "node1:/vd1 /tw/maldor/vd1 nfs4 rw 0 0\n");
    EXPECT_EQ((std::vector<record>{{"vd1", 1, 0, 0, 0, 0, 0}}), records(m.get_volumeinfo()));
    EXPECT_TRUE(tb.logged(1, "tw_storage::get_maldor_vdisk_mount_status", "Vdisk [vd1] mount check at path [/tw/maldor/vd1]."));
}

TEST(MonitorMaldor, AnUndeterminedFlavourRunsTheMaldorChecks) {
    test_backend tb;  // no appliance type: flavour 255
    tb.set_key("sVDiskList", "vdx");
    tb.set_key("sTidewallMaldorFSMountPath", "/maldor/fs");
    tw_storagemonitor m;
    EXPECT_EQ((std::vector<record>{{"vdx", 1, 1, 0, 0, 0, 0}}), records(m.get_volumeinfo()));
    EXPECT_TRUE(tb.logged("Vdisk [vdx] mount check at path [/maldor/fs/vdx]."));
}

class DavChecks : public MonitorTest {
protected:
    storage_under_test s{tb};
    tw_storage& st = s.storage;
};

TEST_F(DavChecks, MountedMeansThatVolumeNotOneWhoseNameHoldsIt) {
    tb.write_file("/etc/mtab",
                  "node1sds.example.net:/dav_vm_vol_2 /rhev/a fuse.glusterfs rw 0 0\n"
                  "node1sds.example.net:/dav_he_vol/sub /rhev/b fuse.glusterfs rw 0 0\n");
    bool mounted = true;
    EXPECT_EQ(0, st.davvol_ismounted("dav_vm_vol", mounted));
    EXPECT_FALSE(mounted);
    EXPECT_TRUE(tb.logged(1, "davvol_ismounted", "DAV volume [dav_vm_vol] mount status - false"));
    EXPECT_EQ(0, st.davvol_ismounted("dav_vm_vol_2", mounted));
    EXPECT_TRUE(mounted);
    EXPECT_EQ(0, st.davvol_ismounted("dav_he_vol", mounted));
    EXPECT_TRUE(mounted);
    EXPECT_TRUE(tb.logged(1, "davvol_ismounted",
                          "DAV volume [dav_he_vol] with backing device [node1sds.example.net:/dav_he_vol/sub] found "
                          "mounted at [/rhev/b]."));
}

TEST_F(DavChecks, AnyLocalBrickDownMeansOfflineWhateverItsName) {
    // Two bricks here, the second by the storage network's name: its daemon is down.
    script_volume(tb, "dav_he_vol",
                  {{"node1.example.net:/tw/disk1/tw_brick", true},
                   {"node1sds.example.net:/tw/disk2/tw_brick", false},
                   {"node2sds.example.net:/tw/disk1/tw_brick", true}});
    bool online = true;
    EXPECT_EQ(0, st.davvol_brickd_check("dav_he_vol", online));
    EXPECT_FALSE(online);
    EXPECT_TRUE(tb.logged(1, "tw_storage::davvol_brickd_check",
                          "Brick daemon status for brick [node1sds.example.net:/tw/disk2/tw_brick] is : false"));
    EXPECT_FALSE(tb.logged("Brick daemon status for brick [node2sds.example.net:/tw/disk1/tw_brick] is : true"));

    // No brick here: online stays true.
    script_volume(tb, "remote_vol", {{"node2sds.example.net:/tw/disk1/tw_brick", false}});
    EXPECT_EQ(0, st.davvol_brickd_check("remote_vol", online));
    EXPECT_TRUE(online);
    // A volume gluster does not know: online true as well.
    EXPECT_EQ(0, st.davvol_brickd_check("no_vol", online));
    EXPECT_TRUE(online);
}

TEST_F(DavChecks, ThisNodeMustHaveAnAddress) {
    tb.hosts.erase("node1.example.net");
    bool online = false;
    EXPECT_EQ(-1, st.davvol_brickd_check("dav_he_vol", online));
    EXPECT_TRUE(online);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::davvol_brickd_check", "Failed to resolve hostname [node1.example.net]"));
    tb.hostname_error = 1;
    EXPECT_EQ(-1, st.davvol_brickd_check("dav_he_vol", online));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::davvol_brickd_check", "Failed to get hostname."));
}

TEST_F(DavChecks, DavVolumesByName) {
    dav_volumes();
    std::list<std::string> names = {"stale"};
    EXPECT_EQ(0, st.get_davvollist(names));
    EXPECT_EQ((std::list<std::string>{"dav_he_vol", "dav_vm_vol_2"}), names);
    tb.on(kList, 1, "", "Connection failed. Please check if gluster daemon is operational.\n");
    EXPECT_EQ(0, st.get_davvollist(names));
    EXPECT_TRUE(names.empty());
}

TEST_F(DavChecks, VdiskNamesAndMounts) {
    EXPECT_EQ("", st.get_spvdisk_name());
    tb.set_key("sVDiskList", "");
    EXPECT_EQ("", st.get_spvdisk_name());
    tb.set_key("sVDiskList", "vd7,vd8");
    EXPECT_EQ("vd7", st.get_spvdisk_name());

    tb.write_file("/etc/fstab",
                  "node3:/vd7 /tw/maldor/vd7 nfs vers=4.0,tcp 0 0\n"
                  "/dev/sdb /tw/disk1 xfs noatime 0 0\n"
                  "node3:/vd8 /tw/maldor/vd8 nfs defaults 0 0\n");
    std::list<maldor_vdisk_mount_info> mounts;
    EXPECT_EQ(0, st.enumerate_maldor_vdisk_mpaths(mounts));
    ASSERT_EQ(2u, mounts.size());
    EXPECT_EQ("node3", mounts.front().host_name);
    EXPECT_EQ("vd7", mounts.front().vdisk_name);
    EXPECT_EQ("/tw/maldor/vd7", mounts.front().mnt_path);
    EXPECT_EQ("vers=4.0,tcp", mounts.front().mnt_opts);
    EXPECT_EQ("vd8", mounts.back().vdisk_name);
    std::filesystem::remove(tb.root + "/etc/fstab");
    EXPECT_EQ(1, st.enumerate_maldor_vdisk_mpaths(mounts));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::enumerate_maldor_vdisk_mpaths", "failed to open mount config file"));
}

} // namespace
