// The storage monitor: its records for each storage flavour, and the DAV and
// Maldor checks of the storage manager behind them.

#include "fixture.h"
#include "storage_fixture.h"

#include <tidewall/tw_storagemonitor.h>

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

using tidewall::testing::fixture;
using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;
using tidewall::testing::use_gluster_flavour;
using tidewall::testing::use_maldor_flavour;

namespace {

const char* const kList = "gluster --mode=script volume list --xml";
const char* const kOvirt = "/usr/sbin/hosted-engine --vm-status";
const char* const kSizeFile = "/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/.AFVolSize";

std::string list_xml(const std::vector<std::string>& names) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<cliOutput>\n  <opRet>0</opRet>\n"
        "  <opErrno>0</opErrno>\n  <opErrstr/>\n  <volList>\n    <count>" +
        std::to_string(names.size()) + "</count>\n";
    for (const auto& n : names) xml += "    <volume>" + n + "</volume>\n";
    return xml + "  </volList>\n</cliOutput>\n";
}

std::string info_xml(const std::string& name, const std::vector<std::string>& bricks,
                     const std::string& type = "Distribute") {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<cliOutput>\n  <opRet>0</opRet>\n"
        "  <opErrno>0</opErrno>\n  <opErrstr/>\n  <volInfo>\n    <volumes>\n      <volume>\n"
        "        <name>" +
        name + "</name>\n        <typeStr>" + type + "</typeStr>\n        <bricks>\n";
    for (const auto& b : bricks)
        xml += "          <brick uuid=\"8d0f3947-b3e6-46ae-ac4a-735899ae4bd1\">" + b + "<name>" + b +
               "</name><isArbiter>0</isArbiter></brick>\n";
    return xml +
           "        </bricks>\n      </volume>\n      <count>1</count>\n    </volumes>\n  </volInfo>\n</cliOutput>\n";
}

// "volume status NAME detail --xml": one node per brick, host:path -> online.
std::string status_xml(const std::string& name, const std::vector<std::pair<std::string, bool>>& bricks) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<cliOutput>\n  <opRet>0</opRet>\n"
        "  <opErrno>0</opErrno>\n  <opErrstr/>\n  <volStatus>\n    <volumes>\n      <volume>\n"
        "        <volName>" +
        name + "</volName>\n";
    for (const auto& [brick, online] : bricks) {
        size_t colon = brick.find(':');
        xml += "        <node>\n          <hostname>" + brick.substr(0, colon) + "</hostname>\n          <path>" +
               brick.substr(colon + 1) + "</path>\n          <status>" + (online ? "1" : "0") +
               "</status>\n        </node>\n";
    }
    return xml + "      </volume>\n    </volumes>\n  </volStatus>\n</cliOutput>\n";
}

// gluster's answer while another transaction holds the cluster lock: an error
// inside the XML, with exit status 0 (captured from a three-node pool, where
// the volume was rvol).
std::string busy_xml(const std::string& name) {
    std::string xml = fixture("thisvm/gluster_volume_status_busy.xml");
    for (size_t at; (at = xml.find("rvol")) != std::string::npos;) xml.replace(at, 4, name);
    return xml;
}

// "volume heal NAME info --xml": brick -> (status, entries listed).
std::string heal_xml(const std::vector<std::tuple<std::string, std::string, std::vector<std::string>>>& bricks) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<cliOutput>\n  <healInfo>\n"
        "    <bricks>\n";
    for (const auto& [brick, status, files] : bricks) {
        xml += "      <brick hostUuid=\"8d0f3947-b3e6-46ae-ac4a-735899ae4bd1\">\n        <name>" + brick + "</name>\n";
        for (const auto& f : files)
            xml += "        <file gfid=\"00000000-0000-0000-0000-000000000001\">" + f + "</file>\n";
        xml += "        <status>" + status + "</status>\n        <numberOfEntries>" +
               (status == "Connected" ? std::to_string(files.size()) : "-") + "</numberOfEntries>\n      </brick>\n";
    }
    return xml +
           "    </bricks>\n  </healInfo>\n  <opRet>0</opRet>\n  <opErrno>0</opErrno>\n  <opErrstr/>\n</cliOutput>\n";
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
        script_volume(tb, "dav_he_vol",
                      {{"node1:/tw/disk1/tw_brick", true}, {"node2sds.example.net:/tw/disk1/tw_brick", false}});
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
    EXPECT_TRUE(
        tb.logged(0, "tw_storagemonitor::get_volumeinfo_gluster", "Local gluster volume [vol1] mount and size check."));
    EXPECT_TRUE(tb.logged(-1, "tw_storagemonitor::get_volumeinfo_gluster",
                          "Volume [vol2] not mounted at mount path [/tw/glus/vol2]"));
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

TEST_F(MonitorTest, NoStorageNameMeansNoRecordsAndAGlusterCheckThatCouldNotRun) {
    tb.hosts.erase("node1sds.example.net");
    mtab();
    tw_storagemonitor m;
    EXPECT_TRUE(m.get_volumeinfo().empty());
    EXPECT_TRUE(tb.logged(0, "tw_storagemonitor::get_volumeinfo_gluster", "No local gluster volume found."));
    EXPECT_TRUE(tb.logged(-1, "tw_storagemonitor::get_volumeinfo_gluster", "Failed to get remote volume list"));
    const std::string why =
        "gluster volumes: storage host name [node1sds.example.net] does not resolve; 2 gluster "
        "mount(s) of /etc/fstab unchecked";
    EXPECT_EQ((std::list<std::string>{why}), m.get_checks_not_run());
    EXPECT_TRUE(tb.logged(-1, "tw_storagemonitor::not_run", "Check could not run: " + why));

    // Resolving again: a full pass starts a fresh list.
    tb.hosts["node1sds.example.net"] = "10.1.0.1";
    EXPECT_EQ(2u, m.get_volumeinfo().size());
    EXPECT_TRUE(m.get_checks_not_run().empty());
}

TEST_F(MonitorTest, DegradedVolumesOfThePoolAreNamedWhileRecordsKeepTheirMeaning) {
    mtab();
    tb.on(kList, 0, list_xml({"vol1"}));  // vol2 is another pool's: not asked about
    const std::string b1 = "node1sds.example.net:/tw/disk1/b", b2 = "node2sds.example.net:/tw/disk1/b",
                      b3 = "node3sds.example.net:/tw/disk1/b";
    tb.on("gluster --mode=script volume info vol1 --xml", 0, info_xml("vol1", {b1, b2, b3}, "Replicate"));
    // Each pass below asks once for the status and once for the heal state,
    // and takes the next answer scripted here.
    const std::string status = "gluster --mode=script volume status vol1 detail --xml";
    tb.on(status, 0, status_xml("vol1", {{b1, true}, {b2, false}, {b3, true}}));
    tb.on(status, 0, status_xml("vol1", {{b1, true}, {b2, true}, {b3, true}}));
    const std::string heal = "gluster --mode=script volume heal vol1 info --xml";
    tb.on(heal, 0,
          heal_xml({{b1, "Connected", {"/during-one", "/during-two"}},
                    {b2, "Transport endpoint is not connected", {}},
                    {b3, "Connected", {"/during-one", "/during-two"}}}));
    tb.on(heal, 0, heal_xml({{b1, "Connected", {}}, {b2, "Connected", {}}, {b3, "Connected", {}}}));
    tb.on(heal, 0, busy_xml("vol1"));
    tw_storagemonitor m;
    EXPECT_EQ((std::vector<record>{{"vol1", 1, 0, 0, 0, 1, 0}, {"vol2", 1, 1, 0, 0, 0, 0}}),
              records(m.get_volumeinfo()));
    EXPECT_EQ((std::list<std::string>{"vol1: brick offline: " + b2, "vol1: heal pending: 5 entries"}),
              m.check_gluster_degraded());
    EXPECT_TRUE(m.get_checks_not_run().empty());
    EXPECT_TRUE(tb.logged(1, "tw_storagemonitor::check_gluster_degraded",
                          "Volume [vol2] is not in this node's pool: no redundancy check"));

    // All bricks back and healed: nothing degraded.
    m.get_volumeinfo();
    EXPECT_TRUE(m.check_gluster_degraded().empty());

    // A heal state gluster keeps answering busy about is a check that could not run.
    m.get_volumeinfo();
    EXPECT_TRUE(m.check_gluster_degraded().empty());
    EXPECT_EQ((std::list<std::string>{"vol1 heal state: Another transaction is in progress for vol1. Please try "
                                      "again after some time."}),
              m.get_checks_not_run());
}

TEST_F(MonitorTest, AHostedEngineProbeKilledAtItsLimitLeavesTheDavCheckNotRun) {
    mtab();
    tb.fallback = [](const std::string& cmd) -> std::optional<tidewall::host::command_result> {
        if (cmd != kOvirt) return std::nullopt;
        tidewall::host::command_result r;
        r.status = -1;
        r.timed_out = true;
        r.err = "command killed after 100 s time limit";
        return r;
    };
    tw_storagemonitor m;
    EXPECT_EQ(2u, m.get_volumeinfo().size());
    EXPECT_EQ((std::list<std::string>{"DAV volumes: the hosted-engine status command did not answer within its "
                                      "time limit"}),
              m.get_checks_not_run());
    storage_under_test s{tb};
    std::list<std::string> names = {"stale"};
    EXPECT_EQ(-2, s.storage.get_davvollist(names));
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(0, s.storage.is_ovirt_enabled());

    // A probe that answers "no" is no hosted engine: nothing left unchecked.
    tb.fallback = nullptr;
    tb.on(kOvirt, 1, "", "You must run deploy first\n");
    m.get_volumeinfo();
    EXPECT_TRUE(m.get_checks_not_run().empty());
    EXPECT_EQ(0, s.storage.get_davvollist(names));
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
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_maldor_vdisk_mount_status",
                          "Vdisk [vd1] not mounted at mount path [/tw/maldor/vd1]"));

    tb.write_file("/etc/mtab", "node1:/vd1 /tw/maldor/vd1 nfs4 rw 0 0\n");
    EXPECT_EQ((std::vector<record>{{"vd1", 1, 0, 0, 0, 0, 0}}), records(m.get_volumeinfo()));
    EXPECT_TRUE(
        tb.logged(1, "tw_storage::get_maldor_vdisk_mount_status", "Vdisk [vd1] mount check at path [/tw/maldor/vd1]."));
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
    // A volume gluster cannot tell about: the check did not run, online stays true.
    EXPECT_EQ(-2, st.davvol_brickd_check("no_vol", online));
    EXPECT_TRUE(online);
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::davvol_brickd_check", "Brick daemon check for volume [no_vol] could not run"));
}

TEST_F(DavChecks, ABusyAnswerIsAskedAgainAndIsNeverABrickState) {
    const std::string brick = "node1sds.example.net:/tw/disk1/dav";
    const std::string status = "gluster --mode=script volume status dav_vm_vol detail --xml";
    tb.on("gluster --mode=script volume info dav_vm_vol --xml", 0, info_xml("dav_vm_vol", {brick}));
    // Busy twice (with exit status 0, then 1), then the answer: the brick is
    // online, found after two pauses.
    tb.on(status, 0, busy_xml("dav_vm_vol"));
    tb.on(status, 1, busy_xml("dav_vm_vol"));
    tb.on(status, 0, status_xml("dav_vm_vol", {{brick, true}}));
    bool online = false;
    EXPECT_EQ(0, st.davvol_brickd_check("dav_vm_vol", online));
    EXPECT_TRUE(online);
    EXPECT_EQ((std::vector<unsigned>{500, 1000}), tb.sleeps);

    // Busy past the retry time: neither online nor offline, the check did not run.
    const std::string busy_status = "gluster --mode=script volume status dav_vm_vol_2 detail --xml";
    tb.on("gluster --mode=script volume info dav_vm_vol_2 --xml", 0, info_xml("dav_vm_vol_2", {brick}));
    tb.on(busy_status, 0, busy_xml("dav_vm_vol_2"));
    tb.sleeps.clear();
    const std::time_t start = tb.clock;
    online = false;
    EXPECT_EQ(-2, st.davvol_brickd_check("dav_vm_vol_2", online));
    EXPECT_TRUE(online);
    EXPECT_GE(tb.clock - start, 30);
    EXPECT_LE(tb.clock - start, 35);
    EXPECT_TRUE(tb.logged(-1, "glfs_admin::extract_volume_info",
                          "Brick state of volume [dav_vm_vol_2] unknown error [Another transaction is in progress for "
                          "dav_vm_vol_2. Please try again after some time.]"));

    // The monitor's record keeps its meaning (online); the pass says the check did not run.
    tb.on(kOvirt, 0, "--== Host 1 status ==--\n");
    tb.on(kList, 0, list_xml({"dav_vm_vol_2"}));
    mtab("node1sds.example.net:/dav_vm_vol_2 /rhev/dav fuse.glusterfs rw 0 0\n");
    tw_storagemonitor m;
    auto list = records(m.get_volumeinfo());
    ASSERT_EQ(3u, list.size());
    EXPECT_EQ((record{"dav_vm_vol_2", 1, 0, 1, 0, 0, 0}), list.back());
    EXPECT_EQ((std::list<std::string>{"dav_vm_vol_2 brick daemons: gluster cannot tell the brick state now"}),
              m.get_checks_not_run());

    // A stopped volume is a real answer: every brick offline, no retry.
    tb.on("gluster --mode=script volume info dav_he_vol --xml", 0, info_xml("dav_he_vol", {brick}));
    tb.on("gluster --mode=script volume status dav_he_vol detail --xml", 1,
          "<?xml version=\"1.0\"?>\n<cliOutput><opRet>-1</opRet><opErrno>0</opErrno><opErrstr>Volume dav_he_vol is not "
          "started</opErrstr></cliOutput>\n");
    tb.sleeps.clear();
    EXPECT_EQ(0, st.davvol_brickd_check("dav_he_vol", online));
    EXPECT_FALSE(online);
    EXPECT_TRUE(tb.sleeps.empty());
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
    // The first listing fails, the next answers.
    tb.on(kList, 1, "", "Connection failed. Please check if gluster daemon is operational.\n");
    dav_volumes();
    std::list<std::string> names = {"stale"};
    // No listing is no answer, not "no DAV volume".
    EXPECT_EQ(-1, st.get_davvollist(names));
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(0, st.get_davvollist(names));
    EXPECT_EQ((std::list<std::string>{"dav_he_vol", "dav_vm_vol_2"}), names);
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

}  // namespace
