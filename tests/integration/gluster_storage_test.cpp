// The storage manager's gluster work against a real glusterd (inside the
// sandbox): a replica volume with bricks on loop-device XFS at
// /tw/disk1/tw_brick and /tw/disk2/tw_brick, mounted over FUSE at /tw/glus
// through its /etc/fstab entry; a stopped volume on /tw/disk3 whose brick is
// cleaned up. One glusterd for the whole binary.

#include "foundation/compat/tsaf_utils.h"

#include <tidewall/tw_storage.h>
#include <tidewall/twjson.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/xattr.h>
#include <thread>

#include "shell.h"

namespace {

using tidewall::testing::slurp;

std::string lib() {
    return std::string(std::getenv("TW_SOURCE_DIR") ? std::getenv("TW_SOURCE_DIR") : ".") +
           "/tests/integration/lib/gluster.sh";
}

// Runs a script with the gluster helpers; its output, and its status in *status.
std::string sh(const std::string& script, int* status = nullptr) {
    return tidewall::testing::sh("bash -c 'source " + lib() + " && " + script + "'", status);
}

int run(const std::string& script) {
    int status = -1;
    sh(script, &status);
    return status;
}

std::string host_name() { return sh("hostname"); }

class GlusterStorage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(std::getenv("TW_IN_SANDBOX")) << "run through sandbox.sh";
        // Three data disks, glusterd, a replica volume on disks 1 and 2 and a
        // distribute volume on disk 3.
        disk1 = sh("tw_loop_xfs 1");
        disk2 = sh("tw_loop_xfs 2");
        disk3 = sh("tw_loop_xfs 3");
        ASSERT_FALSE(disk1.empty() || disk2.empty() || disk3.empty());
        ASSERT_EQ(0, run("tw_start_glusterd && tw_gluster_volume testvol replica 1 2 && "
                         "tw_gluster_volume plainvol distribute 3"));

        // A GlusterFS node: its data mount paths are /tw/diskN.
        ASSERT_EQ(0, tsaf_utils::set_reg_key("sArrowfieldApplianceType", "RM-110"));
        tw_storage storage;
        ASSERT_TRUE(storage.gluster_admin_available());
        // The node's storage name, as the product's name service would give it.
        std::string storage_name = host_name() + "sds";
        std::map<std::string, std::string> hosts = {{storage_name, "127.0.0.1"}};
        ASSERT_EQ(0, storage.update_hosts(hosts));
        // /etc/fstab as a node has it: its data disks, its own volume at /tw/glus
        // and a remote volume.
        for (auto [path, dev] :
             {std::pair<std::string, std::string>{"/tw/disk1", disk1}, {"/tw/disk2", disk2}, {"/tw/disk3", disk3}})
            ASSERT_EQ(0, storage.update_sysconfig_files(path, dev, "xfs", "noatime,inode64,nofail", "/etc/fstab"));
        ASSERT_EQ(0, storage.update_sysconfig_files("/tw/glus", storage_name + ":/testvol", "glusterfs",
                                                    "defaults,_netdev", "/etc/fstab"));
        ASSERT_EQ(0, storage.update_sysconfig_files("/tw/glus_remote", "node9sds:/remotevol", "glusterfs",
                                                    "defaults,_netdev,backup-volfile-servers=node8sds", "/etc/fstab"));
        ASSERT_EQ(0, storage.stamp_tsln_xattrs(disk3, "/tw/disk3", ""));
    }
    static void TearDownTestSuite() { run("tw_teardown_gluster"); }

    static std::string disk1, disk2, disk3;
};

std::string GlusterStorage::disk1, GlusterStorage::disk2, GlusterStorage::disk3;

TEST_F(GlusterStorage, MountsTheGlusterMountPathThroughFstabAndReadsItBack) {
    tw_storage storage;
    storage.mount_gluster_mnt_path(host_name() + "sds", "testvol");
    std::string device, type;
    std::list<std::string> options;
    ASSERT_EQ(1, storage.is_mounted("/tw/glus", device, type, options));
    EXPECT_EQ("fuse.glusterfs", type);
    EXPECT_EQ(host_name() + "sds:/testvol", device);
    storage.mount_gluster_mnt_path(host_name() + "sds", "testvol");  // already mounted: nothing happens

    std::string host, volume, rest;
    unsigned port = 0;
    EXPECT_EQ(1, storage.is_on_gluster_volume("/tw/glus/dir/file"));
    ASSERT_EQ(0, storage.extract_gluster_volume_info("/tw/glus/dir/file", host, volume, port, rest));
    EXPECT_EQ(host_name() + "sds", host);
    EXPECT_EQ("testvol", volume);
    EXPECT_EQ(24007u, port);
    EXPECT_EQ("/dir/file", rest);

    // Data written through the mount lands on both bricks.
    ASSERT_EQ(0, run("echo replicated > /tw/glus/probe"));
    EXPECT_EQ("replicated\n", slurp("/tw/disk1/tw_brick/probe"));
    EXPECT_EQ("replicated\n", slurp("/tw/disk2/tw_brick/probe"));
}

TEST_F(GlusterStorage, ThisNodesBricksAreTheVolumesBrickDirectories) {
    tw_storage storage;
    std::list<std::string> paths;
    ASSERT_EQ(0, storage.get_mount_path_list("testvol", paths));
    EXPECT_EQ((std::list<std::string>{"/tw/disk1/tw_brick", "/tw/disk2/tw_brick"}), paths);
    for (const auto& p : paths) EXPECT_EQ(1, storage.is_gluster_brick_path(p)) << p;
    EXPECT_EQ(0, storage.is_gluster_brick_path("/tw/disk1"));
    EXPECT_EQ(-1, storage.get_mount_path_list("novol", paths));

    std::string bdev;
    ASSERT_EQ(0, storage.get_brick_bdev(host_name() + ":/tw/disk2/tw_brick", bdev));
    EXPECT_EQ(disk2, bdev);

    // A brick named by one of this machine's interface addresses is this node's too.
    std::string address = sh("hostname -I | awk \"{ print \\$1 }\"");
    if (!address.empty()) {
        EXPECT_EQ(1, storage.is_loop_back_hname(address)) << address;
    }
    EXPECT_EQ(0, storage.is_loop_back_hname("192.0.2.1"));
}

TEST_F(GlusterStorage, TwctlListsBricksAndMounts) {
    const char* twctl = std::getenv("TWCTL");
    ASSERT_TRUE(twctl);
    int status = -1;
    std::string bricks = sh(std::string(twctl) + " gluster bricks testvol --json", &status);
    ASSERT_EQ(0, status) << bricks;
    // Each listed record as its own object, compared whole.
    auto records = [](const std::string& text, const char* list) {
        std::vector<std::string> out;
        twjson::Object doc;
        if (doc.parse(text) && doc.has<twjson::Array>(list))
            for (const auto& v : doc.get<twjson::Array>(list).values())
                if (v.is<twjson::Object>()) out.push_back(v.get<twjson::Object>().json());
        return out;
    };
    auto record = [](std::initializer_list<std::pair<const char*, twjson::Value>> fields) {
        twjson::Object o;
        for (const auto& [k, v] : fields) o << k << v;
        return o.json();
    };
    auto has = [](const std::vector<std::string>& all, const std::string& one) {
        return std::find(all.begin(), all.end(), one) != all.end();
    };
    const auto brick_records = records(bricks, "bricks");
    for (auto [dir, dev] :
         {std::pair<std::string, std::string>{"/tw/disk1/tw_brick", disk1}, {"/tw/disk2/tw_brick", disk2}})
        EXPECT_TRUE(has(brick_records, record({{"host", host_name()},
                                               {"path", dir},
                                               {"local", true},
                                               {"online", true},
                                               {"brick_attributes", true},
                                               {"device", dev}})))
            << bricks;
    // As its schema describes it.
    const char* source = std::getenv("TW_SOURCE_DIR");
    ASSERT_TRUE(source);
    { std::ofstream(::testing::TempDir() + "bricks.json") << bricks; }
    sh("python3 -c \"import json, sys, jsonschema; jsonschema.Draft202012Validator(json.load(open(sys.argv[1])))"
       ".validate(json.load(open(sys.argv[2])))\" " +
           std::string(source) + "/docs/schemas/gluster-bricks.schema.json " + ::testing::TempDir() + "bricks.json",
       &status);
    EXPECT_EQ(0, status) << bricks;
    twjson::Object brick_doc;
    ASSERT_TRUE(brick_doc.parse(bricks)) << bricks;
    EXPECT_TRUE(brick_doc.has<twjson::Boolean>("heal_in_progress") &&
                !brick_doc.get<twjson::Boolean>("heal_in_progress"))
        << bricks;

    std::string mounts = sh(std::string(twctl) + " gluster mounts --json", &status);
    ASSERT_EQ(0, status) << mounts;
    const auto mount_records = records(mounts, "mounts");
    EXPECT_TRUE(has(mount_records, record({{"host", "node9sds"},
                                           {"volume", "remotevol"},
                                           {"mount_path", "/tw/glus_remote"},
                                           {"options", "defaults,_netdev,backup-volfile-servers=node8sds"},
                                           {"served", "remote"},
                                           {"mounted", false},
                                           {"mounted_device", twjson::Null()}})))
        << mounts;
    bool local_testvol = false;
    twjson::Object mount_doc;
    ASSERT_TRUE(mount_doc.parse(mounts)) << mounts;
    for (const auto& v : mount_doc.get<twjson::Array>("mounts").values()) {
        const auto& m = v.get<twjson::Object>();
        local_testvol |=
            m.get<twjson::String>("volume") == "testvol" && m.get<twjson::String>("mount_path") == "/tw/glus" &&
            m.get<twjson::String>("options") == "defaults,_netdev" && m.get<twjson::String>("served") == "local";
    }
    EXPECT_TRUE(local_testvol) << mounts;

    sh(std::string(twctl) + " gluster bricks novol 2>/dev/null", &status);
    EXPECT_EQ(1, status);
}

TEST_F(GlusterStorage, OfflineBrickAndHealState) {
    tw_storage storage;
    storage.mount_gluster_mnt_path(host_name() + "sds", "testvol");
    std::list<gluster_brick_info> bricks;
    ASSERT_EQ(0, storage.get_gluster_brick_list("testvol", bricks));
    ASSERT_EQ(2u, bricks.size());
    for (const auto& b : bricks) {
        EXPECT_TRUE(b.local) << b.mnt_path;
        EXPECT_TRUE(b.online) << b.mnt_path;
    }
    EXPECT_EQ(0, storage.heal_in_progress("testvol"));

    // Stop the second brick's process and write through the mount.
    ASSERT_EQ(0, run("pkill -f \"glusterfs[d].*brick-name /tw/disk2/tw_brick\""));
    ASSERT_EQ(0, run("for i in 1 2 3; do echo data$i > /tw/glus/heal$i; done"));
    ASSERT_EQ(0, storage.get_gluster_brick_list("testvol", bricks));
    EXPECT_TRUE(bricks.front().online);
    EXPECT_FALSE(bricks.back().online);
    EXPECT_EQ(1, storage.heal_in_progress("testvol"));

    // Back online, self-heal empties the list.
    ASSERT_EQ(0, run("gluster --mode=script volume start testvol force >/dev/null"));
    bool healed = false;
    for (int i = 0; i < 120 && !healed; ++i) {
        healed = storage.heal_in_progress("testvol") == 0;
        if (!healed) {
            run("gluster --mode=script volume heal testvol >/dev/null 2>&1");
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }
    EXPECT_TRUE(healed);
    ASSERT_EQ(0, storage.get_gluster_brick_list("testvol", bricks));
    EXPECT_TRUE(bricks.back().online);
    EXPECT_EQ("data2\n", slurp("/tw/disk2/tw_brick/heal2"));
}

TEST_F(GlusterStorage, FstabGlusterMountsLocalAndRemote) {
    tw_storage storage;
    std::list<gluster_vol_mount_info> all;
    ASSERT_EQ(0, storage.get_gluster_vols_mount_info(all));
    ASSERT_EQ(2u, all.size());
    gluster_vol_mount_info local;
    ASSERT_EQ(0, storage.get_gluster_local_vol_mount_info(local));
    EXPECT_EQ(host_name() + "sds", local.host_name);
    EXPECT_EQ("testvol", local.vol_name);
    EXPECT_EQ("/tw/glus", local.mnt_path);
    EXPECT_EQ("defaults,_netdev", local.mnt_opts);
    std::list<gluster_vol_mount_info> remote;
    ASSERT_EQ(0, storage.get_gluster_remote_vols_mount_info(remote));
    ASSERT_EQ(1u, remote.size());
    EXPECT_EQ("node9sds", remote.front().host_name);
    EXPECT_EQ("remotevol", remote.front().vol_name);
    gluster_vol_mount_info found;
    EXPECT_EQ(0, storage.get_glus_vol_mount_info("remotevol", found));
    EXPECT_EQ("/tw/glus_remote", found.mnt_path);
    std::string host, volume;
    storage.get_info_by_fstab("", host, volume);
    EXPECT_EQ(host_name() + "sds", host);
    EXPECT_EQ("testvol", volume);
}

TEST_F(GlusterStorage, FstabBackupOnEachBrickDiskAndReadBack) {
    tw_storage storage;
    std::list<gluster_vol_mount_info> remote;
    ASSERT_EQ(0, storage.get_gluster_remote_vols_mount_info(remote));
    ASSERT_EQ(1u, remote.size());
    std::string volume = "testvol";
    ASSERT_EQ(0, storage.backup_gluster_remote_vol_mount_info(volume, remote.front()));
    const std::string line =
        "node9sds:remotevol /tw/glus_remote glusterfs defaults,_netdev,backup-volfile-servers=node8sds 0 0\n";
    EXPECT_EQ(line, slurp("/tw/disk1/fstab-bkp"));
    EXPECT_EQ(line, slurp("/tw/disk2/fstab-bkp"));

    std::list<gluster_vol_mount_info> back;
    ASSERT_EQ(0, storage.get_gluster_remote_vols_mount_info_from_bkp(volume, back));
    ASSERT_EQ(1u, back.size());
    EXPECT_EQ("node9sds", back.front().host_name);
    EXPECT_EQ("remotevol", back.front().vol_name);
    EXPECT_EQ("/tw/glus_remote", back.front().mnt_path);
    EXPECT_EQ("defaults,_netdev,backup-volfile-servers=node8sds", back.front().mnt_opts);
    // The brick directories themselves are untouched.
    EXPECT_NE(0, run("test -e /tw/disk1/tw_brick/fstab-bkp"));
}

TEST_F(GlusterStorage, CleanupOfAStoppedVolumesBrickTakesItsDiskOut) {
    ASSERT_EQ(0, run("gluster --mode=script volume stop plainvol >/dev/null"));
    tw_storage storage;
    ASSERT_EQ(0, storage.check_for_tsln_xattrs("/tw/disk3"));
    ASSERT_EQ(0, storage.cleanup_brick(host_name() + ":/tw/disk3/tw_brick"));
    std::string device, type;
    std::list<std::string> options;
    EXPECT_EQ(0, storage.is_mounted("/tw/disk3", device, type, options));
    std::string fstab = slurp("/etc/fstab");
    EXPECT_EQ(std::string::npos, fstab.find("/tw/disk3"));
    EXPECT_NE(std::string::npos, fstab.find("/tw/disk1"));
    EXPECT_NE(std::string::npos, fstab.find("/tw/glus"));
    // The stamps went with it: the disk itself carries none when mounted again.
    ASSERT_EQ(0, run("mount " + disk3 + " /tw/disk3"));
    EXPECT_NE(0, storage.check_for_tsln_xattrs("/tw/disk3"));
    EXPECT_EQ(-1, ::getxattr("/tw/disk3", "trusted.tslnstamp", nullptr, 0));
    ASSERT_EQ(0, run("umount /tw/disk3"));
}

}  // namespace
