// Gluster administration against a real glusterd with a replica volume on two
// loop-device XFS bricks (inside the sandbox).

#include "gluster/glfs_admin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace {

int sh(const std::string& script) {
    std::string lib = std::string(std::getenv("TW_SOURCE_DIR") ? std::getenv("TW_SOURCE_DIR") : ".") +
                      "/tests/integration/lib/gluster.sh";
    std::string cmd = "bash -c 'source " + lib + " && " + script + "'";
    return std::system(cmd.c_str());
}

class GlusterAdmin : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(std::getenv("TW_IN_SANDBOX")) << "run through sandbox.sh";
        ASSERT_EQ(0, sh("tw_loop_xfs 1 >/dev/null && tw_loop_xfs 2 >/dev/null && tw_loop_xfs 3 >/dev/null && "
                        "tw_start_glusterd && "
                        "tw_gluster_volume testvol replica 1 2 && tw_gluster_volume plainvol distribute 3"));
    }
    static void TearDownTestSuite() { sh("tw_teardown_gluster"); }
};

TEST_F(GlusterAdmin, ListsVolumesAndReadsBricksWithTheirState) {
    std::list<std::string> unused;
    glfs_admin admin(unused);
    EXPECT_EQ((std::list<std::string>{"plainvol", "testvol"}), admin.scanned_volumes());
    glfs_volume vol;
    ASSERT_EQ(0, admin.extract_volume_info("testvol", vol, true));
    EXPECT_EQ(GLFS_VOL_REPLICATE, vol.get_type());
    std::list<glfs_brick> bricks;
    vol.get_brick_list(bricks);
    ASSERT_EQ(2u, bricks.size());
    EXPECT_EQ("/tw/disk1/tw_brick", bricks.front().get_mnt_path());
    for (auto& b : bricks) {
        vol.extract_brick_details(b);
        EXPECT_TRUE(b.get_is_online()) << b.get_brick_path();
    }
    EXPECT_EQ(-1, admin.extract_volume_info("novol", vol, false));
}

TEST_F(GlusterAdmin, VolumeOptionsAreAcceptedByGluster) {
    glfs_admin admin;
    EXPECT_EQ(0, admin.optimize_small_file_access("testvol"));
    EXPECT_EQ(0, admin.set_volume_property("testvol", "performance.readdir-ahead", "off"));
    EXPECT_NE(0, admin.set_volume_property("testvol", "no.such-option", "1"));
    EXPECT_EQ(0, sh("gluster volume get testvol performance.readdir-ahead | grep -q off"));
    EXPECT_EQ(0, sh("gluster volume get testvol network.inode-lru-limit | grep -q 200000"));
}

TEST_F(GlusterAdmin, StoppedBrickIsOfflineAndLeavesEntriesToHeal) {
    glfs_volume plain("plainvol", "", GLFS_VOL_ANY);
    EXPECT_TRUE(plain.get_heal_info().empty());  // distribute volumes do not heal

    ASSERT_EQ(0, sh("mkdir -p /tw/glus && mount -t glusterfs $(hostname):/testvol /tw/glus"));
    // Stop the second brick's process, then write through the mount.
    ASSERT_EQ(0, sh("pkill -f \"glusterfs[d].*brick-name /tw/disk2/tw_brick\""));
    ASSERT_EQ(0, sh("for i in 1 2 3; do echo data$i > /tw/glus/file$i; done"));
    glfs_admin admin;
    glfs_volume vol;
    ASSERT_EQ(0, admin.extract_volume_info("testvol", vol, true));
    std::list<glfs_brick> bricks;
    vol.get_brick_list(bricks);
    vol.extract_brick_details(bricks.front());
    vol.extract_brick_details(bricks.back());
    EXPECT_TRUE(bricks.front().get_is_online());
    EXPECT_FALSE(bricks.back().get_is_online());
    EXPECT_FALSE(vol.get_heal_info().empty());

    // Bring the brick back and let self-heal finish.
    ASSERT_EQ(0, sh("gluster --mode=script volume start testvol force >/dev/null"));
    bool healed = false;
    for (int i = 0; i < 120 && !healed; ++i) {
        healed = vol.get_heal_info().empty();
        if (!healed) {
            // The self-heal daemon may need a moment before it takes a request.
            sh("gluster --mode=script volume heal testvol >/dev/null 2>&1");
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }
    EXPECT_TRUE(healed);
    EXPECT_EQ(0, sh("umount /tw/glus"));
}

}  // namespace
