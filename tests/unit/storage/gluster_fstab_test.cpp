// The gluster mounts of /etc/fstab, this node's and the remote ones, and their
// "fstab-bkp" backup on the data disks: exact lines and reading them back.

#include "storage_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

const char* const kFstab =
    "# /etc/fstab\n"
    "UUID=aaa / xfs defaults 1 1\n"
    "# node1sds.example.net:/vol9 /tw/glus glusterfs defaults 0 0\n"
    "/dev/sdb /tw/disk1 xfs noatime,inode64,nofail 0 0\n"
    "node1sds.example.net:/vol1 /tw/glus glusterfs defaults,_netdev 0 0\n"
    "node2sds.example.net:/vol10\t/tw/glus_vol10\tglusterfs\tdefaults,_netdev,backup-volfile-servers=node3sds\t0 0\n"
    "node3sds.example.net:vol3 /tw/glus_vol3 glusterfs _netdev 0 0\n"
    "node4sds.example.net:/vol4 /mnt/vol4 glusterfs _netdev 0 0\n"
    "nohost /tw/glusnohost glusterfs _netdev 0 0\n";

struct mount_row {
    std::string host, volume, path, options;
};

std::vector<mount_row> rows(const std::list<gluster_vol_mount_info>& list) {
    std::vector<mount_row> out;
    for (const auto& m : list) out.push_back({m.host_name, m.vol_name, m.mnt_path, m.mnt_opts});
    return out;
}

bool operator==(const mount_row& a, const mount_row& b) {
    return a.host == b.host && a.volume == b.volume && a.path == b.path && a.options == b.options;
}

std::ostream& operator<<(std::ostream& o, const mount_row& r) {
    return o << r.host << ":" << r.volume << " " << r.path << " " << r.options;
}

class GlusterFstab : public ::testing::Test {
protected:
    GlusterFstab() {
        tb.hostname = "node1.example.net";
        tb.hosts["node1sds.example.net"] = "10.1.0.1";
        tb.write_file("/etc/fstab", kFstab);
    }
    test_backend tb;
    storage_under_test s{tb};
};

TEST_F(GlusterFstab, EntriesUnderTheGlusterMountPathWithHostAndVolume) {
    std::list<gluster_vol_mount_info> list;
    ASSERT_EQ(0, s.storage.get_gluster_vols_mount_info(list));
    EXPECT_EQ(
        (std::vector<mount_row>{
            {"node1sds.example.net", "vol1", "/tw/glus", "defaults,_netdev"},
            {"node2sds.example.net", "vol10", "/tw/glus_vol10", "defaults,_netdev,backup-volfile-servers=node3sds"},
            {"node3sds.example.net", "vol3", "/tw/glus_vol3", "_netdev"},
        }),
        rows(list));
    EXPECT_TRUE(
        tb.logged(1, "tw_storage::get_gluster_vols_mount_info",
                  "host_name [node1sds.example.net] vol_name [vol1] mnt_path[/tw/glus] mnt_opts[defaults,_netdev]"));
    EXPECT_TRUE(tb.commands.empty());
}

TEST_F(GlusterFstab, Vol1StopsAtVol1AndVol10FindsVol10) {
    tb.write_file("/etc/fstab",
                  "node1:/vol1 /tw/glus glusterfs defaults 0 0\n"
                  "node1:/vol10 /tw/glus10 glusterfs _netdev 0 0\n");
    gluster_vol_mount_info m;
    ASSERT_EQ(0, s.storage.get_glus_vol_mount_info("vol10", m));
    EXPECT_EQ("vol10", m.vol_name);
    EXPECT_EQ("/tw/glus10", m.mnt_path);
    ASSERT_EQ(0, s.storage.get_glus_vol_mount_info("vol1", m));
    EXPECT_EQ("vol1", m.vol_name);
    EXPECT_EQ("/tw/glus", m.mnt_path);

    // vol10 listed first: asking for vol1 passes it and goes on to vol1.
    tb.write_file("/etc/fstab",
                  "node1:/vol10 /tw/glus10 glusterfs _netdev 0 0\n"
                  "node1:/vol1 /tw/glus glusterfs defaults 0 0\n");
    ASSERT_EQ(0, s.storage.get_glus_vol_mount_info("vol1", m));
    EXPECT_EQ("/tw/glus", m.mnt_path);

    // Only a partial match: 1, the record holds it.
    EXPECT_EQ(1, s.storage.get_glus_vol_mount_info("vol", m));
    EXPECT_EQ("vol1", m.vol_name);
    EXPECT_TRUE(tb.logged(1, "tw_storage::get_glus_vol_mount_info", "Get mount info for gluster volume [vol]"));
}

TEST_F(GlusterFstab, LocalMountIsTheOneServedByTheStorageHostName) {
    gluster_vol_mount_info local;
    ASSERT_EQ(0, s.storage.get_gluster_local_vol_mount_info(local));
    EXPECT_EQ("vol1", local.vol_name);
    std::list<gluster_vol_mount_info> remote;
    ASSERT_EQ(0, s.storage.get_gluster_remote_vols_mount_info(remote));
    EXPECT_EQ(
        (std::vector<mount_row>{
            {"node2sds.example.net", "vol10", "/tw/glus_vol10", "defaults,_netdev,backup-volfile-servers=node3sds"},
            {"node3sds.example.net", "vol3", "/tw/glus_vol3", "_netdev"},
        }),
        rows(remote));

    tb.hostname = "node5.example.net";
    tb.hosts["node5sds.example.net"] = "10.1.0.5";
    EXPECT_EQ(1, s.storage.get_gluster_local_vol_mount_info(local));
}

TEST_F(GlusterFstab, UnresolvableStorageNameFailsBoth) {
    tb.hosts.clear();
    gluster_vol_mount_info local;
    std::list<gluster_vol_mount_info> remote;
    EXPECT_EQ(1, s.storage.get_gluster_local_vol_mount_info(local));
    EXPECT_EQ(1, s.storage.get_gluster_remote_vols_mount_info(remote));
    EXPECT_TRUE(remote.empty());
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_gluster_remote_vols_mount_info", "get sds hostname failed"));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_gluster_local_vol_mount_info", "get sds hostname failed"));
}

TEST_F(GlusterFstab, UnreadableFstabIsReported) {
    std::remove((tb.root + "/etc/fstab").c_str());
    std::list<gluster_vol_mount_info> list;
    gluster_vol_mount_info m;
    EXPECT_EQ(1, s.storage.get_gluster_vols_mount_info(list));
    EXPECT_EQ(1, s.storage.get_glus_vol_mount_info("vol1", m));
    EXPECT_EQ(1, s.storage.get_gluster_local_vol_mount_info(m));
    EXPECT_EQ(1, s.storage.get_gluster_remote_vols_mount_info(list));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_gluster_vols_mount_info", "failed to open mount config file"));
}

TEST_F(GlusterFstab, InfoByFstabTakesTheFirstEntryLineNamingTheGlusterPath) {
    std::string host = "h", volume = "v";
    s.storage.get_info_by_fstab("ignored", host, volume);
    EXPECT_EQ("node1sds.example.net", host);  // the comment line before it does not count
    EXPECT_EQ("vol1", volume);
    EXPECT_TRUE(tb.logged(0, "tw_storage::get_info_by_fstab", "hostname    [node1sds.example.net]"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::get_info_by_fstab", "volname     [vol1]"));

    tb.write_file("/etc/fstab", "  node2:/vol2\t/tw/glus\tglusterfs defaults 0 0\nnode3:/vol3 /tw/glus glusterfs\n");
    s.storage.get_info_by_fstab("", host, volume);
    EXPECT_EQ("node2", host);
    EXPECT_EQ("vol2", volume);

    // A first line without a host keeps the outputs, and later lines are not read.
    tb.write_file("/etc/fstab", "/dev/sdb /tw/glus xfs defaults 0 0\nnode3:/vol3 /tw/glus glusterfs\n");
    s.storage.get_info_by_fstab("", host, volume);
    EXPECT_EQ("node2", host);
    tb.write_file("/etc/fstab", "node4: /tw/glus glusterfs defaults 0 0\n");
    s.storage.get_info_by_fstab("", host, volume);
    EXPECT_EQ("node4", host);
    EXPECT_EQ("", volume);
}

// --- fstab-bkp ---

const char* const kInfoCmd = "gluster --mode=script volume info vol1 --xml";

std::string volume_info_xml(const std::vector<std::string>& bricks) {
    std::string xml =
        "<cliOutput><opRet>0</opRet><opErrno>0</opErrno><opErrstr/><volInfo><volumes><volume>"
        "<name>vol1</name><typeStr>Replicate</typeStr><bricks>";
    for (const auto& b : bricks) xml += "<brick>" + b + "<name>" + b + "</name></brick>";
    return xml + "</bricks></volume><count>1</count></volumes></volInfo></cliOutput>";
}

class FstabBackup : public ::testing::Test {
protected:
    FstabBackup() {
        tb.hostname = "node1";
        tb.make_dir("/tw/disk1/tw_brick");
        tb.make_dir("/tw/disk2/tw_brick");
        tb.on(kInfoCmd, 0,
              volume_info_xml({"node1:/tw/disk1/tw_brick", "node2:/tw/disk1/tw_brick", "node1:/tw/disk2/tw_brick"}));
        remote.host_name = "node2";
        remote.vol_name = "vol1";
        remote.mnt_path = "/tw/glus";
        remote.mnt_opts = "defaults,_netdev";
    }
    test_backend tb;
    storage_under_test s{tb};
    std::string volume = "vol1";
    gluster_vol_mount_info remote;
};

TEST_F(FstabBackup, OneLineOnEachLocalDiskPerCall) {
    ASSERT_EQ(0, s.storage.backup_gluster_remote_vol_mount_info(volume, remote));
    const std::string line = "node2:vol1 /tw/glus glusterfs defaults,_netdev 0 0\n";
    EXPECT_EQ(line, tb.read_file("/tw/disk1/fstab-bkp"));
    EXPECT_EQ(line, tb.read_file("/tw/disk2/fstab-bkp"));
    remote.host_name = "node3";
    remote.mnt_path = "/tw/glus_vol1";
    ASSERT_EQ(0, s.storage.backup_gluster_remote_vol_mount_info(volume, remote));
    EXPECT_EQ(line + "node3:vol1 /tw/glus_vol1 glusterfs defaults,_netdev 0 0\n", tb.read_file("/tw/disk1/fstab-bkp"));
    EXPECT_EQ(tb.read_file("/tw/disk1/fstab-bkp"), tb.read_file("/tw/disk2/fstab-bkp"));
}

TEST_F(FstabBackup, ReadsBackHostVolumePathAndOptions) {
    tb.write_file("/tw/disk1/fstab-bkp",
                  "node2:vol1 /tw/glus glusterfs defaults,_netdev 0 0\n"
                  "node3:vol1 /tw/glus_vol1 glusterfs _netdev 0 0\n"
                  "garbage\n"
                  "node4:vol1 /tw/glus");  // cut short
    std::list<gluster_vol_mount_info> list;
    ASSERT_EQ(0, s.storage.get_gluster_remote_vols_mount_info_from_bkp(volume, list));
    EXPECT_EQ((std::vector<mount_row>{{"node2", "vol1", "/tw/glus", "defaults,_netdev"},
                                      {"node3", "vol1", "/tw/glus_vol1", "_netdev"}}),
              rows(list));
}

TEST_F(FstabBackup, OddValuesSurviveTheRoundTrip) {
    remote.mnt_path = "/tw/glus vol";
    remote.mnt_opts = "";
    ASSERT_EQ(0, s.storage.backup_gluster_remote_vol_mount_info(volume, remote));
    EXPECT_EQ("node2:vol1 /tw/glus\\040vol glusterfs defaults 0 0\n", tb.read_file("/tw/disk1/fstab-bkp"));
    std::list<gluster_vol_mount_info> list;
    ASSERT_EQ(0, s.storage.get_gluster_remote_vols_mount_info_from_bkp(volume, list));
    EXPECT_EQ((std::vector<mount_row>{{"node2", "vol1", "/tw/glus vol", "defaults"}}), rows(list));
}

TEST_F(FstabBackup, FirstReadableBackupIsUsed) {
    tb.write_file("/tw/disk2/fstab-bkp", "node2:vol1 /tw/glus glusterfs defaults,_netdev 0 0\n");
    std::list<gluster_vol_mount_info> list;
    ASSERT_EQ(0, s.storage.get_gluster_remote_vols_mount_info_from_bkp(volume, list));
    EXPECT_EQ(1u, list.size());
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_gluster_remote_vols_mount_info_from_bkp",
                          "file [/tw/disk1/fstab-bkp] not found error [2]"));

    std::remove((tb.root + "/tw/disk2/fstab-bkp").c_str());
    list.clear();
    EXPECT_EQ(0, s.storage.get_gluster_remote_vols_mount_info_from_bkp(volume, list));
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::get_gluster_remote_vols_mount_info_from_bkp", "bkp file not found on data disk"));
}

TEST_F(FstabBackup, UnknownVolumeFails) {
    std::string unknown = "vol2";
    std::list<gluster_vol_mount_info> list;
    EXPECT_EQ(1, s.storage.backup_gluster_remote_vol_mount_info(unknown, remote));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::backup_gluster_remote_vol_mount_info", "failed to get data disk list"));
    EXPECT_EQ(1, s.storage.get_gluster_remote_vols_mount_info_from_bkp(unknown, list));
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::get_gluster_remote_vols_mount_info_from_bkp", "failed to get data disk list"));
    EXPECT_FALSE(tb.exists("/tw/disk1/fstab-bkp"));
}

TEST(FstabBackupDisks, BrickOutsideADataDiskIsRefused) {
    test_backend tb;
    tb.hostname = "node1";
    tb.make_dir("/tw/disk1/old_tw_brick");
    tb.on(kInfoCmd, 0, volume_info_xml({"node1:/tw/disk1/old_tw_brick", "node1:/tw/disk2/tw_brick"}));
    storage_under_test s(tb);
    std::string volume = "vol1";
    gluster_vol_mount_info m{"node2", "vol1", "/tw/glus", "defaults"};
    EXPECT_EQ(1, s.storage.backup_gluster_remote_vol_mount_info(volume, m));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::backup_gluster_remote_vol_mount_info", "not a data disk"));
    std::list<gluster_vol_mount_info> list;
    EXPECT_EQ(1, s.storage.get_gluster_remote_vols_mount_info_from_bkp(volume, list));
    EXPECT_FALSE(tb.exists("/tw/disk1/old_fstab-bkp"));
    EXPECT_FALSE(tb.exists("/tw/disk1/fstab-bkp"));
}

TEST_F(FstabBackup, UnwritableBackupIsReportedAndStopsAtThatDisk) {
    tb.make_dir("/tw/disk1/fstab-bkp");  // a directory in the way
    EXPECT_EQ(1, s.storage.backup_gluster_remote_vol_mount_info(volume, remote));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::backup_gluster_remote_vol_mount_info",
                          "cannot create file [/tw/disk1/fstab-bkp] error [21]"));
    EXPECT_FALSE(tb.exists("/tw/disk2/fstab-bkp"));
}

}  // namespace
