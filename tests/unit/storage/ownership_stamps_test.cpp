// Ownership stamps: attribute names and values, the check, and the repair of
// missing stamps on mounted appliance drives.

#include "storage_fixture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "fixture.h"

using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

using tidewall::testing::fixture;

// The lines of a fixture transcript between "$ <command>" and the next "$" or "[rc=".
std::string transcript_output(const std::string& text, const std::string& command) {
    size_t at = text.find("$ " + command + "\n");
    if (at == std::string::npos) return "";
    at += command.size() + 3;
    std::string out;
    std::istringstream in(text.substr(at));
    std::string line;
    while (std::getline(in, line) && line.rfind("$ ", 0) != 0 && line.rfind("[rc=", 0) != 0) out += line + "\n";
    return out;
}

using attrs = std::map<std::string, std::string>;

class StampsTest : public ::testing::Test {
protected:
    void SetUp() override {
        tidewall::testing::use_gluster_flavour(tb);
        tb.make_dir("/run");  // the stamp-repair lock
    }
    test_backend tb;
    storage_under_test s{tb};
    tw_storage& st = s.storage;
};

TEST_F(StampsTest, StampNamesAndValues) {
    tb.make_dir("/tw/disk1");
    tb.make_dir("/tw/ddb");
    ASSERT_EQ(st.stamp_tsln_xattrs("/dev/sdb", "/tw/disk1", ""), 0);
    ASSERT_EQ(st.stamp_tsln_xattrs("/dev/mapper/systemvg-ddb", "/tw/ddb", "/dev/sda2:/dev/sdb2"), 0);
    EXPECT_EQ(tb.xattrs["/tw/disk1"], (attrs{{"trusted.mntstamp", "/tw/disk1"},
                                             {"trusted.tslnstamp", "arrowfield@tsln"},
                                             {"trusted.blkdevstamp", ""}}));
    EXPECT_EQ(tb.xattrs["/tw/ddb"]["trusted.blkdevstamp"], "/dev/sda2:/dev/sdb2");
    EXPECT_EQ(st.check_for_tsln_xattrs("/tw/disk1"), 0);
    EXPECT_TRUE(
        tb.logged(0, "tw_storage::setextendedattribute",
                  "Succesfully created trusted.tslnstamp attribute on file /tw/disk1 with value arrowfield@tsln"));
}

TEST_F(StampsTest, StampingStopsAtTheFirstAttributeThatFails) {
    // No such directory: the first attribute already fails.
    EXPECT_EQ(st.stamp_tsln_xattrs("/dev/sdb", "/tw/disk9", ""), -1);
    EXPECT_TRUE(tb.xattrs.empty());
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::stamp_tsln_xattrs", "Failed to stamp trusted.mntstamp with a id of /tw/disk9\n"));
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::setextendedattribute",
                  "Failed to create trusted.mntstamp attribute on file /tw/disk9 error: No such file or directory"));
    EXPECT_FALSE(tb.logged("Successfully stamped trusted.tslnstamp attr on /tw/disk9\n"));
}

TEST_F(StampsTest, CheckWantsTheExactTslnValueButAnyMountStamp) {
    tb.make_dir("/tw/disk1");
    tb.xattrs["/tw/disk1"] = {
        {"trusted.mntstamp", "/tw/disk7"}, {"trusted.tslnstamp", "arrowfield@tsln"}, {"trusted.blkdevstamp", ""}};
    EXPECT_EQ(st.check_for_tsln_xattrs("/tw/disk1"), 0);  // a moved drive keeps its first mount stamp

    tb.xattrs["/tw/disk1"]["trusted.tslnstamp"] = "arrowfield@tsln ";
    EXPECT_EQ(st.check_for_tsln_xattrs("/tw/disk1"), -1);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::check_for_tsln_xattrs",
                          "Extracted stamp @ /tw/disk1 does not match with arrowfield@tsln"));

    tb.xattrs["/tw/disk1"]["trusted.tslnstamp"] = "arrowfield@tsln";
    tb.xattrs["/tw/disk1"].erase("trusted.blkdevstamp");
    EXPECT_LT(st.check_for_tsln_xattrs("/tw/disk1"), 0);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::check_for_tsln_xattrs", "Failed to find valid blkdev stamp @ /tw/disk1"));

    std::string value;
    EXPECT_EQ(st.getextendedattribute("/tw/disk1", "trusted.mntstamp", value), 9);  // the value's length
    EXPECT_EQ(value, "/tw/disk7");
}

TEST_F(StampsTest, RemoveTakesAllThreeInOrder) {
    tb.make_dir("/tw/disk1");
    ASSERT_EQ(st.stamp_tsln_xattrs("/dev/sdb", "/tw/disk1", ""), 0);
    tb.xattrs["/tw/disk1"]["user.other"] = "kept";
    EXPECT_EQ(st.remove_tsln_xattrs("/tw/disk1"), 0);
    EXPECT_EQ(tb.xattrs["/tw/disk1"], (attrs{{"user.other", "kept"}}));
    EXPECT_EQ(st.remove_tsln_xattrs("/tw/disk1"), -1);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::remove_tsln_xattrs",
                          "Failed to remove stamp trusted.mntstamp on mount path /tw/disk1"));
}

TEST_F(StampsTest, DataDrivesByFlavour) {
    EXPECT_TRUE(st.is_tsln_data_drive("/tw/disk12/sub"));
    EXPECT_TRUE(st.is_tsln_data_drive("/srv/tw/disk3"));
    EXPECT_FALSE(st.is_tsln_data_drive("/tw/diskA"));
    EXPECT_FALSE(st.is_tsln_data_drive("/maldor/d3"));
    tidewall::testing::use_maldor_flavour(tb);
    tb.set_key("sTidewallMaldorDataPathMountPathPrefix", "/other/d");  // the default counts, not the key
    EXPECT_TRUE(st.is_tsln_data_drive("/maldor/d3"));
    EXPECT_FALSE(st.is_tsln_data_drive("/other/d3"));
    EXPECT_FALSE(st.is_tsln_data_drive("/tw/disk1"));
    EXPECT_TRUE(st.is_tsln_system_volume_group("nvmevg"));
    EXPECT_FALSE(st.is_tsln_system_volume_group("maldormetavg"));
    EXPECT_FALSE(st.is_tsln_system_volume_group(" systemvg"));
}

TEST_F(StampsTest, LogicalVolumeFromRealLvsAndPvsOutput) {
    std::string lvm = fixture("thisvm/lvm_queries_default_conf.txt");
    std::string lvs_out = transcript_output(lvm, "lvs --noheadings -o vg_name /dev/metadatavg/index");
    std::string pvs_cmd = "pvs -o vg_name,pv_name --separator \"|\" --noheadings";
    std::string pvs_out = transcript_output(lvm, pvs_cmd);
    ASSERT_EQ(lvs_out, "  metadatavg\n");
    tb.on("lvs --noheadings -o vg_name /dev/metadatavg/index", 0, lvs_out);
    tb.on(pvs_cmd, 0, "  othervg|/dev/sdx\n" + pvs_out);
    std::string vg, pvs;
    ASSERT_TRUE(st.is_logicalvol("/dev/metadatavg/index", vg, pvs));
    EXPECT_EQ(vg, "metadatavg");
    EXPECT_EQ(pvs, "/dev/loop1:/dev/loop2");
    EXPECT_EQ(tb.time_limits, (std::vector<int>{100, 100}));

    tb.on("lvs --noheadings -o vg_name /dev/sdb", 5, "", "  Volume group \"sdb\" not found\n");
    EXPECT_FALSE(st.is_logicalvol("/dev/sdb", vg, pvs));
}

TEST_F(StampsTest, FixStampsRepairsOnlyAppliancesXfsDrives) {
    tb.write_file("/etc/mtab",
                  "/dev/sda1 / ext4 rw 0 0\n"
                  "/dev/sdb /tw/disk1 xfs rw 0 0\n"
                  "/dev/sdc /tw/disk2 xfs rw 0 0\n"
                  "/dev/sdd /tw/disk3 ext4 rw 0 0\n"
                  "/dev/mapper/systemvg-ddb /tw/ddb xfs rw 0 0\n"
                  "/dev/mapper/othervg-x /srv/x xfs rw 0 0\n"
                  "/dev/sde /srv/plain xfs rw 0 0\n");
    for (const char* d : {"/tw/disk1", "/tw/disk2", "/tw/disk3", "/tw/ddb", "/srv/x", "/srv/plain"}) tb.make_dir(d);
    tb.xattrs["/tw/disk2"] = {
        {"trusted.mntstamp", "/tw/disk2"}, {"trusted.tslnstamp", "arrowfield@tsln"}, {"trusted.blkdevstamp", ""}};
    tb.on("lvs --noheadings -o vg_name /dev/mapper/systemvg-ddb", 0, "  systemvg\n");
    tb.on("lvs --noheadings -o vg_name /dev/mapper/othervg-x", 0, "  othervg\n");
    tb.on("pvs -o vg_name,pv_name --separator \"|\" --noheadings", 0,
          "  systemvg|/dev/sda2\n  othervg|/dev/sdf\n  systemvg|/dev/sdb2\n");

    ::testing::internal::CaptureStdout();
    int rc = st.fix_tsln_stamps();
    std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(tb.xattrs["/tw/disk1"], (attrs{{"trusted.mntstamp", "/tw/disk1"},
                                             {"trusted.tslnstamp", "arrowfield@tsln"},
                                             {"trusted.blkdevstamp", ""}}));
    EXPECT_EQ(tb.xattrs["/tw/ddb"]["trusted.blkdevstamp"], "/dev/sda2:/dev/sdb2");
    EXPECT_EQ(tb.xattrs.count("/tw/disk3"), 0u);
    EXPECT_EQ(tb.xattrs.count("/srv/x"), 0u);
    EXPECT_EQ(tb.xattrs.count("/srv/plain"), 0u);
    EXPECT_EQ(printed,
              "Tessaline extended attributes are missing for drive [/dev/sdb] mounted at [/tw/disk1], fixing the "
              "stamps now...\n"
              "Successfully stamped tessaline extended attributes for drive [/dev/sdb] mounted at [/tw/disk1]\n"
              "Tessaline extended attributes are missing for drive [/dev/mapper/systemvg-ddb] mounted at [/tw/ddb], "
              "fixing the stamps now...\n"
              "Successfully stamped tessaline extended attributes for drive [/dev/mapper/systemvg-ddb] mounted at "
              "[/tw/ddb]\n");
    EXPECT_TRUE(
        tb.logged(0, "tw_storage::fix_tsln_stamps", "Found valid tessaline drive [/dev/sdc] mounted at [/tw/disk2]\n"));
}

TEST_F(StampsTest, FixStampsStopsAtTheFirstDriveItCannotRepair) {
    tb.write_file("/etc/mtab",
                  "/dev/sdb /tw/disk1 xfs rw 0 0\n"
                  "/dev/sdc /tw/disk2 xfs rw 0 0\n");
    tb.make_dir("/tw/disk2");  // /tw/disk1 has no directory: stamping it fails
    ::testing::internal::CaptureStdout();
    int rc = st.fix_tsln_stamps();
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(tb.xattrs.count("/tw/disk2"), 0u);
    EXPECT_NE(printed.find("Failed to stamp tessaline extended attributes on volume /dev/sdb , retcode = -1, please "
                           "refer TSTidewall.log for more details.\n"),
              std::string::npos);
}

class MaldorStampsTest : public ::testing::Test {
protected:
    void SetUp() override {
        tidewall::testing::use_maldor_flavour(tb);
        tb.write_file("/etc/mtab",
                      "/dev/sdb /maldor/d1 xfs rw 0 0\n"
                      "/dev/sdc /maldor/d2 xfs rw 0 0\n"
                      "/dev/sdd /maldor/d3 xfs rw 0 0\n");
        for (const char* d : {"/maldor/d1", "/maldor/d2", "/maldor/d3"}) {
            tb.make_dir(d);
            tb.usage[d] = {100ULL << 30, 50ULL << 30};
        }
        tb.usage["/maldor/d3"].free_bytes = 10ULL << 30;  // listed first: least free
    }
    test_backend tb;
    storage_under_test s{tb};
    tw_storage& st = s.storage;
};

TEST_F(MaldorStampsTest, ClusterStampOnEveryDataDriveButD2) {
    ASSERT_EQ(st.stamp_maldor_data_drives("cluster-7"), 0);
    EXPECT_EQ(tb.xattrs["/maldor/d1"]["trusted.tsaf2cluster"], "cluster-7");
    EXPECT_EQ(tb.xattrs["/maldor/d3"]["trusted.tsaf2cluster"], "cluster-7");
    EXPECT_EQ(tb.xattrs.count("/maldor/d2"), 0u);
    std::string cluster;
    EXPECT_TRUE(st.is_maldor_data_drive("/maldor/d1", cluster));
    EXPECT_EQ(cluster, "cluster-7");
    EXPECT_FALSE(st.is_maldor_data_drive("/maldor/d2", cluster));
    EXPECT_EQ(st.remove_maldor_xattrs("/maldor/d1"), 0);
    EXPECT_FALSE(st.is_maldor_data_drive("/maldor/d1", cluster));
}

TEST_F(MaldorStampsTest, NodeListIsNeverReplacedByAShorterOne) {
    tb.xattrs["/maldor/d3"]["trusted.maldorclusternodes"] = "n1,n2,n3";
    tb.set_key("sMaldorClusterNodes", "n1,n2");
    ASSERT_EQ(st.stamp_maldor_xattrs(), 0);
    EXPECT_EQ(tb.xattrs["/maldor/d3"]["trusted.maldorclusternodes"], "n1,n2,n3");
    EXPECT_EQ(tb.xattrs["/maldor/d1"].count("trusted.maldorclusternodes"), 0u);

    tb.set_key("sMaldorClusterNodes", "n1,n2,n4");
    ASSERT_EQ(st.stamp_maldor_xattrs(), 0);
    EXPECT_EQ(tb.xattrs["/maldor/d3"]["trusted.maldorclusternodes"], "n1,n2,n4");
    EXPECT_EQ(tb.xattrs["/maldor/d1"]["trusted.maldorclusternodes"], "n1,n2,n4");

    tb.registry["Dockwright"].erase("sMaldorClusterNodes");
    EXPECT_EQ(st.stamp_maldor_xattrs(), -1);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::stamp_maldor_xattrs", "Failed to get Maldor nodes."));
}

TEST_F(MaldorStampsTest, MetadataDrivesFromFstab) {
    tb.write_file("/etc/fstab",
                  "/dev/maldormetavg/md1 /maldor/meta1 xfs noatime 0 0\n"
                  "/dev/sdb /maldor/d1 xfs noatime 0 0\n"
                  "/dev/maldormetavg/md2 /maldor/meta2 xfs noatime 0 0\n");
    std::vector<std::string> paths = {"stale"};
    ASSERT_EQ(st.enumerate_maldor_metadata_drives(paths), 0);
    EXPECT_EQ(paths, (std::vector<std::string>{"/maldor/meta1", "/maldor/meta2"}));
    tb.set_key("sArrowfieldMaldorMetaVG", "metavg2");
    ASSERT_EQ(st.enumerate_maldor_metadata_drives(paths), 0);
    EXPECT_TRUE(paths.empty());
}

}  // namespace
