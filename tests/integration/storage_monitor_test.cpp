// The storage monitor against a real glusterd inside the sandbox: this node's
// volume, a remote-mounted one and a DAV volume, each on a loop-device XFS
// brick; then a shrunk size, a stopped brick daemon and unmounted volumes. The
// I/O test of a volume's bricks runs on the same volumes.

#include <tidewall/tw_storage.h>
#include <tidewall/tw_storagemonitor.h>
#include <tidewall/twjson.h>

#include "foundation/compat/tsaf_utils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/statvfs.h>
#include <unistd.h>

#include "shell.h"

namespace fs = std::filesystem;

namespace {

int sh(const std::string& script) {
    std::string lib = std::string(std::getenv("TW_SOURCE_DIR") ? std::getenv("TW_SOURCE_DIR") : ".") +
                      "/tests/integration/lib/gluster.sh";
    std::string cmd = "bash -c 'source " + lib + " && " + script + "'";
    return std::system(cmd.c_str());
}

std::string host() {
    char buf[256] = {};
    ::gethostname(buf, sizeof buf - 1);
    return buf;
}

// This node's storage host name: "sds" after the first label.
std::string storage_host() {
    std::string h = host();
    size_t dot = h.find('.');
    return dot == std::string::npos ? h + "sds" : h.substr(0, dot) + "sds" + h.substr(dot);
}

const char* const kSizeFile = "/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/.AFVolSize";

struct verdict {
    bool mounted;
    bool online;
    bool shrunk;
};

std::map<std::string, verdict> pass() {
    tw_storagemonitor m;
    std::map<std::string, verdict> out;
    for (const auto& v : m.get_volumeinfo()) {
        EXPECT_TRUE(v.is_mountcheck_supp()) << v.get_volumename();
        out[v.get_volumename()] = {!v.get_notmounted_status(), !v.get_brickoffline_status(),
                                   v.get_sizeincorrect_status()};
    }
    return out;
}

unsigned long long total_bytes(const std::string& path) {
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0) return 0;
    return static_cast<unsigned long long>(st.f_blocks) * st.f_frsize;
}

class StorageMonitor : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(std::getenv("TW_IN_SANDBOX")) << "run through sandbox.sh: this test runs glusterd";
        const std::string h = host(), sds = storage_host();
        std::ofstream("/etc/hosts", std::ios::app) << "127.0.0.1 " << sds << "\n";
        // Virtualisation "enabled": the status command answers.
        std::ofstream("/usr/sbin/hosted-engine") << "#!/bin/sh\necho '--== Host 1 status ==--'\n";
        fs::permissions("/usr/sbin/hosted-engine", fs::perms(0755));
        ASSERT_EQ(0, tsaf_utils::set_reg_key("sArrowfieldApplianceType", "RM-110"));
        ASSERT_EQ(0, sh("tw_loop_xfs 1 >/dev/null && tw_loop_xfs 2 >/dev/null && tw_loop_xfs 3 >/dev/null && "
                        "tw_start_glusterd && tw_gluster_volume localvol distribute 1 && "
                        "tw_gluster_volume remotevol distribute 2 && tw_gluster_volume dav_vm_vol_1 distribute 3"));
        std::ofstream("/etc/fstab", std::ios::app) << sds << ":/localvol /tw/glus glusterfs defaults,_netdev 0 0\n"
                                                   << "localhost:/remotevol /tw/glus2 glusterfs defaults,_netdev 0 0\n";
        ASSERT_EQ(0, sh("mkdir -p /tw/glus /tw/glus2 /rhev/dav && mount -t glusterfs " + sds +
                        ":/localvol /tw/glus && "
                        "mount -t glusterfs localhost:/remotevol /tw/glus2 && "
                        "mount -t glusterfs " +
                        h + ":/dav_vm_vol_1 /rhev/dav"));
    }
    static void TearDownTestSuite() { sh("umount /rhev/dav 2>/dev/null; tw_teardown_gluster"); }
};

TEST_F(StorageMonitor, AHealthyNodeAndItsRecordedSize) {
    auto v = pass();
    ASSERT_EQ(3u, v.size());
    EXPECT_TRUE(v["localvol"].mounted);
    EXPECT_FALSE(v["localvol"].shrunk);
    EXPECT_TRUE(v["remotevol"].mounted);
    EXPECT_TRUE(v["dav_vm_vol_1"].mounted);
    EXPECT_TRUE(v["dav_vm_vol_1"].online);
    EXPECT_EQ("localvol:" + std::to_string(total_bytes("/tw/glus")) + "\n", tidewall::testing::slurp(kSizeFile));
}

TEST_F(StorageMonitor, AVolumeSmallerThanRecordedIsShrunk) {
    unsigned long long now = total_bytes("/tw/glus");
    ASSERT_GT(now, 0u);
    std::ofstream(kSizeFile) << "localvol:" << now * 2 << "\n";
    auto v = pass();
    EXPECT_TRUE(v["localvol"].shrunk);
    tw_storage st;
    bool mounted = false, isless = false;
    EXPECT_EQ(0, st.gluster_volume_get_sizeinfo("localvol", mounted, isless));
    EXPECT_TRUE(mounted);
    EXPECT_TRUE(isless);
    std::ofstream(kSizeFile) << "localvol:" << now << "\n";
}

TEST_F(StorageMonitor, IoTestOfTheLocalBricks) {
    tw_storage st;
    std::list<io_test_info> results;
    ASSERT_EQ(0, st.perform_io_test("localvol", 100000, results));
    ASSERT_EQ(1u, results.size());
    EXPECT_EQ("/tw/disk1/tw_brick", results.front().path);
    EXPECT_EQ(1, results.front().result);
    EXPECT_EQ(100000u, results.front().reads_completed);
    EXPECT_EQ(400000u, fs::file_size("/tw/disk1/io_test.txt"));
    fs::remove("/tw/disk1/io_test.txt");
}

TEST_F(StorageMonitor, AStoppedBrickDaemonIsOffline) {
    ASSERT_EQ(0, sh("pkill -f \"glusterfs[d].*brick-name /tw/disk3/tw_brick\""));
    auto v = pass();
    EXPECT_FALSE(v["dav_vm_vol_1"].online);
    EXPECT_TRUE(v["localvol"].online);  // no brick check on it: reads as not offline
    // The operator's view: an unhealthy node, and the offline daemon named.
    if (const char* twctl = std::getenv("TWCTL")) {
        std::string cmd = std::string(twctl) + " monitor --json > /tmp/monitor.json";
        EXPECT_NE(0, std::system(cmd.c_str()));
        std::string doc = tidewall::testing::slurp("/tmp/monitor.json");
        twjson::Object parsed, want;
        ASSERT_TRUE(parsed.parse(doc)) << doc;
        want << "name"
             << "dav_vm_vol_1"
             << "mounted" << true << "brick_daemons_online" << false << "size_shrunk" << twjson::Null();
        bool found = false;
        for (const auto& v : parsed.get<twjson::Array>("volumes").values())
            found |= v.is<twjson::Object>() && v.get<twjson::Object>().json() == want.json();
        EXPECT_TRUE(found) << doc;
        // As its schema describes it, with real volumes in it.
        if (const char* source = std::getenv("TW_SOURCE_DIR")) {
            EXPECT_EQ(0, std::system(("python3 -c \"import json, sys, jsonschema; "
                                      "jsonschema.Draft202012Validator(json.load(open(sys.argv[1])))"
                                      ".validate(json.load(open(sys.argv[2])))\" " +
                                      std::string(source) + "/docs/schemas/monitor.schema.json /tmp/monitor.json")
                                         .c_str()));
        }
    }
    ASSERT_EQ(0, sh("gluster --mode=script volume start dav_vm_vol_1 force >/dev/null"));
    EXPECT_TRUE(pass()["dav_vm_vol_1"].online);
}

TEST_F(StorageMonitor, UnmountedVolumesAreReported) {
    ASSERT_EQ(0, sh("umount /tw/glus && umount /rhev/dav"));
    auto v = pass();
    EXPECT_FALSE(v["localvol"].mounted);
    EXPECT_FALSE(v["localvol"].shrunk);  // no size check without the mount
    EXPECT_TRUE(v["remotevol"].mounted);
    EXPECT_FALSE(v["dav_vm_vol_1"].mounted);
    tw_storage st;
    bool mounted = true, isless = true;
    EXPECT_EQ(0, st.gluster_volume_get_sizeinfo("localvol", mounted, isless));
    EXPECT_FALSE(mounted);
    EXPECT_FALSE(isless);
}

}  // namespace
