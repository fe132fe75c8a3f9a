#include "gluster/glfs_admin.h"
#include "gluster/glfs_xml.h"

#include "test_backend.h"

#include <tidewall/ts_exception.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "fixture.h"

using tidewall::testing::test_backend;

namespace {

const char* kList = "gluster --mode=script volume list --xml";

using tidewall::testing::fixture;

TEST(GlfsAdmin, ListsVolumesFromRealXmlOutput) {
    test_backend tb;
    tb.on(kList, 0, fixture("gluster/volume-list-xml-exporter.txt"));
    std::list<std::string> unused;
    glfs_admin admin(unused);
    EXPECT_EQ((std::list<std::string>{"gv_cluster", "gv_test"}), admin.scanned_volumes());
    std::list<std::string> names;
    EXPECT_EQ(0, admin.list_volumes(names));
    EXPECT_EQ((std::list<std::string>{"gv_cluster", "gv_test"}), names);
    EXPECT_EQ(100, tb.time_limits.at(0));
}

TEST(GlfsAdmin, ConstructorThrowsWhenGlusterCannotBeAsked) {
    test_backend tb;  // the command is not scripted: "not found", 127
    std::list<std::string> unused;
    try {
        glfs_admin admin(unused);
        FAIL() << "no exception";
    } catch (const TsException& e) {
        EXPECT_NE(std::string::npos, e.formatError().find("gluster command line not available"));
        EXPECT_EQ(-1, e.code());
    }
    tb.on(kList, 1, "", "Connection failed. Please check if gluster daemon is operational.\n");
    EXPECT_THROW(glfs_admin{unused}, TsException);
}

TEST(GlfsAdmin, FailedOperationAndGarbageAreFailuresNotEmptyLists) {
    std::list<std::string> names;
    std::string error;
    EXPECT_NE(0,
              glfs_admin::parse_volume_list(
                  "<cliOutput><opRet>-1</opRet><opErrno>2</opErrno><opErrstr>No volumes present</opErrstr></cliOutput>",
                  names, error));
    EXPECT_EQ("No volumes present", error);
    EXPECT_NE(0, glfs_admin::parse_volume_list("Connection failed", names, error));
    EXPECT_NE(0, glfs_admin::parse_volume_list("<other/>", names, error));
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(0, glfs_admin::parse_volume_list(
                     "<cliOutput><opRet>0</opRet><volList><count>0</count></volList></cliOutput>", names, error));
    EXPECT_TRUE(names.empty());
}

TEST(GlfsBrick, GlusterNameSplitsHostAndPath) {
    glfs_brick b("node1sds.example.net:/tw/disk1/tw_brick");
    EXPECT_EQ("node1sds.example.net", b.get_host_name());
    EXPECT_EQ("/tw/disk1/tw_brick", b.get_mnt_path());
    EXPECT_FALSE(b.get_is_online());
    EXPECT_EQ("node1sds.example.net:/tw/disk1/tw_brick", b.get_brick_path());
}

TEST(GlfsVolume, BricksAndTypeFromRealVolumeInfo) {
    glfs_volume vol;
    std::string error;
    ASSERT_EQ(0, glfs_volume::parse_info(fixture("gluster/volume-info-xml-exporter.txt"), vol, error)) << error;
    EXPECT_EQ("gv_cluster", vol.get_name());
    EXPECT_EQ(GLFS_VOL_REPLICATE, vol.get_type());
    std::list<glfs_brick> bricks;
    vol.get_brick_list(bricks);
    ASSERT_EQ(4u, bricks.size());
    EXPECT_EQ("host1.example.local", bricks.front().get_host_name());
    EXPECT_EQ("/mnt/gluster/gv_cluster", bricks.front().get_mnt_path());
    ASSERT_EQ(0, glfs_volume::parse_info(fixture("thisvm/gluster_volume_info_testvol.xml"), vol, error));
    EXPECT_EQ(GLFS_VOL_DISTRIBUTE, vol.get_type());
}

TEST(GlfsVolume, OnlineStateOfEachBrickFromVolumeStatus) {
    test_backend tb;
    tb.on("gluster --mode=script volume info testvol --xml", 0, fixture("thisvm/gluster_volume_info_testvol.xml"));
    tb.on("gluster --mode=script volume status testvol detail --xml", 0,
          fixture("thisvm/gluster_volume_status_detail_testvol.xml"));
    glfs_admin admin;
    glfs_volume vol;
    ASSERT_EQ(0, admin.extract_volume_info("testvol", vol, true));
    std::list<glfs_brick> bricks;
    vol.get_brick_list(bricks);
    ASSERT_EQ(1u, bricks.size());
    EXPECT_EQ(0, vol.extract_brick_details(bricks.front()));
    EXPECT_TRUE(bricks.front().get_is_online());
    glfs_brick stranger("vm:/data/other/tw_brick");
    stranger.set_is_online(true);
    vol.extract_brick_details(stranger);
    EXPECT_FALSE(stranger.get_is_online());
    // Status was read once, with the volume.
    EXPECT_EQ(2u, tb.commands.size());
}

TEST(GlfsVolume, StoppedBrickAndUnknownVolume) {
    std::map<std::string, bool> online;
    std::string error;
    std::string xml = fixture("gluster/volume-status-all-detail-xml-exporter.txt");
    ASSERT_EQ(0, glfs_volume::parse_status(xml, online, error));
    EXPECT_TRUE(online.at("node1.example.local:/mnt/gluster/gv_test"));
    std::string stopped = fixture("thisvm/gluster_volume_status_detail_testvol.xml");
    stopped.replace(stopped.find("<status>1</status>"), 18, "<status>0</status>");
    online.clear();
    ASSERT_EQ(0, glfs_volume::parse_status(stopped, online, error));
    EXPECT_FALSE(online.at("vm:/data/probe/b1/tw_brick"));

    test_backend tb;
    tb.on("gluster --mode=script volume info nosuch --xml", 1, "", "Volume nosuch does not exist\n");
    glfs_admin admin;
    glfs_volume vol;
    EXPECT_EQ(-1, admin.extract_volume_info("nosuch", vol, false));
}

TEST(GlfsVolume, HealInfoCountsPendingEntriesAndUnreachableBricks) {
    std::set<std::string> entries;
    std::string error;
    ASSERT_EQ(0, glfs_volume::parse_heal_info(fixture("gluster/volume-heal-info-xml-ok-exporter.txt"), entries, error));
    EXPECT_TRUE(entries.empty());
    std::string pending = fixture("thisvm/gluster_heal_info_replica.xml");
    pending.replace(pending.find("<numberOfEntries>0</numberOfEntries>"), 36,
                    "<file gfid=\"ab\">/dir/a</file><numberOfEntries>1</numberOfEntries>");
    pending.replace(pending.find("<status>Connected</status>", pending.find("b3/tw_brick")), 26,
                    "<status>Transport endpoint is not connected</status>");
    ASSERT_EQ(0, glfs_volume::parse_heal_info(pending, entries, error));
    EXPECT_EQ((std::set<std::string>{"vm:/data/probe/b2/tw_brick:/dir/a",
                                     "vm:/data/probe/b3/tw_brick:Transport endpoint is not connected"}),
              entries);

    test_backend tb;
    tb.on("gluster --mode=script volume heal vol1 info --xml", 0, pending);
    glfs_volume vol("vol1", "", GLFS_VOL_ANY);
    EXPECT_EQ(2u, vol.get_heal_info().size());

    // A distribute volume does not heal; glusterd down leaves the state unknown.
    tb.on("gluster --mode=script volume heal plain info --xml", 1,
          "Volume plain is not of type replicate/disperse\nVolume heal failed.\n");
    EXPECT_TRUE(glfs_volume("plain", "", GLFS_VOL_ANY).get_heal_info().empty());
    tb.on("gluster --mode=script volume heal vol2 info --xml", 1, "",
          "Connection failed. Please check if gluster daemon is operational.\n");
    auto unknown = glfs_volume("vol2", "", GLFS_VOL_ANY).get_heal_info();
    ASSERT_EQ(1u, unknown.size());
    EXPECT_EQ(0u, unknown.begin()->find("vol2:heal state unknown: Connection failed."));
}

TEST(GlfsAdmin, VolumePropertiesAreSetWithQuotedValues) {
    test_backend tb;
    const std::string ok = "<cliOutput><opRet>0</opRet><opErrno>0</opErrno><opErrstr/></cliOutput>";
    tb.on("gluster --mode=script volume set vol1 disperse.self-heal-window-size 8 --xml", 0, ok);
    glfs_admin admin;
    EXPECT_EQ(0, admin.set_volume_property("vol1", "disperse.self-heal-window-size", "8"));
    tb.on("gluster --mode=script volume set 'vol 1;x' key 'a b' --xml", 0,
          "<cliOutput><opRet>-1</opRet><opErrstr>volume set: failed</opErrstr></cliOutput>");
    EXPECT_NE(0, admin.set_volume_property("vol 1;x", "key", "a b"));
    tb.fallback = [&](const std::string&) {
        tidewall::host::command_result r;
        r.out = ok;
        return std::optional<tidewall::host::command_result>(r);
    };
    tb.commands.clear();
    EXPECT_EQ(0, admin.optimize_small_file_access("vol2"));
    EXPECT_EQ(8u, tb.commands.size());
    EXPECT_EQ("gluster --mode=script volume set vol2 performance.parallel-readdir on --xml", tb.commands.back());
}

TEST(GlfsAdmin, AddressToNameFromThePoolThenDns) {
    test_backend tb;
    tb.on("gluster --mode=script pool list --xml", 0,
          "<cliOutput><opRet>0</opRet><peerStatus>"
          "<peer><uuid>1</uuid><hostname>node2sds</hostname><hostnames><hostname>node2sds</hostname>"
          "<hostname>10.0.0.2</hostname></hostnames><connected>1</connected></peer>"
          "<peer><uuid>2</uuid><hostname>localhost</hostname><connected>1</connected></peer>"
          "</peerStatus></cliOutput>");
    tb.hosts["node3.example.net"] = "10.0.0.3";
    glfs_admin admin;
    EXPECT_EQ("node2sds", admin.ip_to_hname("10.0.0.2"));
    EXPECT_EQ("node3.example.net", admin.ip_to_hname("10.0.0.3"));
    EXPECT_EQ("", admin.ip_to_hname("10.0.0.9"));
}

TEST(GlfsAdmin, PeerFilesHealthBackupAndRestore) {
    test_backend tb;
    glfs_admin admin;
    EXPECT_EQ(0, admin.glusterd_peer_files_healthy());  // no peers at all: nothing to repair
    const std::string good = "uuid=f6fa44e7-5139-4f6e-8404-6d2ce7d66231\nstate=3\nhostname1=node2sds\n";
    tb.write_file("/var/lib/glusterd/peers/f6fa", good);
    tb.write_file("/var/lib/glusterd/glusterd.info", "UUID=abc\noperating-version=100000\n");
    EXPECT_EQ(0, admin.glusterd_peer_files_healthy());
    EXPECT_EQ(0, admin.backup_glusterd_peer_files_local());
    EXPECT_EQ("0", tb.key("nGlusterdPeerFilesBackupStatus").value());
    EXPECT_EQ(good, tb.read_file("/var/lib/tidewall/glusterd-peers-backup/f6fa"));

    tb.write_file("/var/lib/glusterd/peers/f6fa", "");  // the classic full-disk damage
    EXPECT_EQ(1, admin.glusterd_peer_files_healthy());
    // A damaged file is never backed up over a good copy.
    admin.backup_glusterd_peer_files_local();
    EXPECT_EQ(good, tb.read_file("/var/lib/tidewall/glusterd-peers-backup/f6fa"));
    EXPECT_EQ(0, admin.restore_glusterd_peer_files());
    EXPECT_EQ(good, tb.read_file("/var/lib/glusterd/peers/f6fa"));
    EXPECT_EQ(0, admin.glusterd_peer_files_healthy());

    tb.write_file("/var/lib/glusterd/peers/0bad", "state=3\n");  // damaged, and never backed up
    EXPECT_EQ(1, admin.glusterd_peer_files_healthy());
    EXPECT_NE(0, admin.restore_glusterd_peer_files());
}

TEST(GlfsAdmin, GlusterdStartsThroughSystemdOnlyWhereItRuns) {
    test_backend tb;
    tb.on("glusterd", 0);
    glfs_admin admin;
    EXPECT_EQ(0, admin.start_glusterd());
    tb.make_dir("/run/systemd/system");
    tb.on("systemctl start glusterd", 1, "", "Job failed\n");
    EXPECT_EQ(1, admin.start_glusterd());
    EXPECT_EQ((std::vector<std::string>{"glusterd", "systemctl start glusterd"}), tb.commands);
}

TEST(GlfsAdmin, NetworkFilesAreCopiedToTheLocalBackup) {
    test_backend tb;
    tb.write_file("/etc/hosts", "127.0.0.1 localhost\n");
    tb.write_file("/etc/sysconfig/network-scripts/ifcfg-eth0", "DEVICE=eth0\n");
    tb.write_file("/etc/sysconfig/network-scripts/readme", "not a network file\n");
    glfs_admin admin;
    EXPECT_EQ(0, admin.backup_network_files_local());
    EXPECT_EQ("127.0.0.1 localhost\n", tb.read_file("/var/lib/tidewall/network-backup/etc_hosts"));
    EXPECT_EQ("DEVICE=eth0\n",
              tb.read_file("/var/lib/tidewall/network-backup/etc_sysconfig_network-scripts_ifcfg-eth0"));
    EXPECT_FALSE(tb.exists("/var/lib/tidewall/network-backup/etc_sysconfig_network-scripts_readme"));
}

}  // namespace

// One pass asks each question once, on any thread that joined it, and answers
// every volume from the all-volume answers (real --xml shapes).
TEST(GlfsPass, EachQueryOnceAndVolumesFromTheAllVolumeAnswers) {
    test_backend tb;
    std::string info = fixture("gluster/volume-info-xml-exporter.txt");
    info.replace(info.find("<status>1</status>"), 18, "<status>0</status>");  // gv_cluster stopped
    // The status fixture comes from a pool whose hosts are named node1..4.
    std::string status = fixture("gluster/volume-status-all-detail-xml-exporter.txt");
    for (size_t at; (at = status.find("<hostname>node")) != std::string::npos;) status.replace(at + 10, 4, "host");
    const std::string heal = fixture("gluster/volume-heal-info-xml-ok-exporter.txt");
    tb.on(kList, 0, fixture("gluster/volume-list-xml-exporter.txt"));
    tb.on("gluster --mode=script volume info all --xml", 0, info);
    tb.on("gluster --mode=script volume status all detail --xml", 0, status);
    tb.on("gluster --mode=script volume heal gv_cluster info --xml", 0, heal);
    tb.on("gluster --mode=script volume heal gv_test info --xml", 0, heal);
    {
        tidewall::glfs_xml::query_pass pass;
        glfs_admin::prefetch_heal_info({"gv_cluster", "gv_test"}, 4);
        for (int round = 0; round < 2; ++round) {
            std::thread helper([&] {
                tidewall::glfs_xml::query_pass joined(pass.shared());
                std::list<std::string> names;
                EXPECT_EQ(0, glfs_admin().list_volumes(names));
                EXPECT_EQ(2u, names.size());
            });
            helper.join();
            for (const auto& [name, online] : std::map<std::string, size_t>{{"gv_cluster", 0}, {"gv_test", 4}}) {
                glfs_volume vol;
                ASSERT_EQ(0, glfs_admin().extract_volume_info(name, vol, true)) << name;
                EXPECT_EQ(GLFS_VOL_REPLICATE, vol.get_type());
                std::list<glfs_brick> bricks;
                vol.get_brick_list(bricks);
                ASSERT_EQ(4u, bricks.size());
                size_t up = 0;
                for (auto& b : bricks) {
                    EXPECT_EQ(0, vol.extract_brick_details(b));
                    up += b.get_is_online() ? 1 : 0;
                }
                EXPECT_EQ(online, up) << name;
                glfs_volume healing(name, "", GLFS_VOL_ANY);
                EXPECT_TRUE(healing.get_heal_info().empty()) << name;
            }
        }
        EXPECT_EQ(5u, pass.shared()->asked().size());
    }
    EXPECT_EQ(5u, tb.commands.size());
    EXPECT_EQ(tb.commands.size(), std::set<std::string>(tb.commands.begin(), tb.commands.end()).size());
    // Outside a pass a question is asked anew.
    std::list<std::string> names;
    EXPECT_EQ(0, glfs_admin().list_volumes(names));
    EXPECT_EQ(6u, tb.commands.size());
}
