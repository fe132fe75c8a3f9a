// The crash-dump pruner on real trees inside the sandbox: thousands of dumps of
// mixed ages on the sandbox's tmpfs, and a small file system filled to the brim.

#include <tidewall/tw_prune.h>

#include "foundation/compat/tsaf_utils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace fs = std::filesystem;

namespace {

const long kHour = 3600;

int sh(const std::string& cmd) { return std::system(cmd.c_str()); }

void make_dump(const std::string& path, long age_s) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "dump";
    struct timespec t[2];
    t[0].tv_sec = t[1].tv_sec = std::time(nullptr) - age_s;
    t[0].tv_nsec = t[1].tv_nsec = 0;
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), t, 0));
}

size_t count_files(const std::string& dir) {
    size_t n = 0;
    if (!fs::exists(dir)) return 0;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) ++n;
    return n;
}

class Prune : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("TW_IN_SANDBOX")) << "run through sandbox.sh: this test removes files under /var";
        // /var/crash is the sandbox's own tmpfs; /var/log/core lies on its overlay root.
        sh("rm -rf /var/crash/* /var/log/core");
    }
    void TearDown() override { sh("umount /var/crash 2>/dev/null; rm -rf /var/crash/* /var/log/core"); }
};

TEST_F(Prune, ThousandsOfDumpsOfMixedAges) {
    // 1500 dump directories: a third wholly old, a third wholly young, a third
    // with an old dump beside a young one.
    for (int i = 0; i < 1500; ++i) {
        std::string dir = "/var/crash/127.0.0.1-" + std::to_string(i);
        make_dump(dir + "/vmcore", i % 3 == 1 ? 20 * kHour : 121 * kHour);
        make_dump(dir + "/vmcore-dmesg.txt", i % 3 == 0 ? 200 * kHour : 119 * kHour);
    }
    for (int i = 0; i < 300; ++i)
        make_dump("/var/log/core/svc" + std::to_string(i % 10) + "/core." + std::to_string(i), 130 * kHour);
    // A link to a file outside must not take that file with it.
    make_dump("/srv/keep/precious", 500 * kHour);
    fs::create_symlink("/srv/keep/precious", "/var/crash/127.0.0.1-1/link");

    // The sandbox's tmpfs is far from full: only age counts.
    tw_prune p;
    ASSERT_EQ(0, p.prune_crash_dumps());

    size_t dirs = 0;
    for (const auto& e : fs::directory_iterator("/var/crash")) {
        ASSERT_TRUE(e.is_directory()) << e.path();
        ++dirs;
        int i = std::stoi(e.path().filename().string().substr(10));
        ASSERT_NE(0, i % 3) << "a wholly old dump is left: " << e.path();
        EXPECT_EQ(i % 3 == 1, fs::exists(e.path() / "vmcore")) << e.path();
        EXPECT_TRUE(fs::exists(e.path() / "vmcore-dmesg.txt")) << e.path();
    }
    EXPECT_EQ(1000u, dirs);
    EXPECT_EQ(500u * 2 + 500 + 300, p.removed_files());
    EXPECT_EQ(500u, p.removed_dirs());
    EXPECT_EQ(500u, p.failed_dirs());  // still holding their young dump
    EXPECT_EQ(0u, p.failed_files());
    EXPECT_EQ(0u, count_files("/var/log/core"));
    EXPECT_EQ(10, std::distance(fs::directory_iterator("/var/log/core"), fs::directory_iterator()));
    EXPECT_TRUE(fs::exists("/srv/keep/precious"));
    EXPECT_TRUE(fs::is_symlink("/var/crash/127.0.0.1-1/link"));
}

TEST_F(Prune, AFullFileSystemLosesEveryDumpWhateverItsAge) {
    ASSERT_EQ(0, sh("mount -t tmpfs -o size=4m tw-full /var/crash"));
    for (int i = 0; i < 200; ++i) make_dump("/var/crash/new-" + std::to_string(i) + "/vmcore", 60);
    // Fill what is left: a fresh dump that takes the rest of the space.
    sh("dd if=/dev/zero of=/var/crash/new-0/vmcore.big bs=64k 2>/dev/null");
    struct statvfs st {};
    ASSERT_EQ(0, ::statvfs("/var/crash", &st));
    ASSERT_LT(st.f_bavail * 100 / st.f_blocks, 10u) << "the file system is not full";

    // The registry names /var/crash too: it is walked once.
    ASSERT_EQ(0, tsaf_utils::set_reg_key("sArrowfieldKdumpLoc", "/var/crash"));
    tw_prune p;
    ASSERT_EQ(0, p.prune_crash_dumps());
    EXPECT_EQ(201u, p.removed_files());
    EXPECT_EQ(0u, count_files("/var/crash"));
    EXPECT_TRUE(fs::is_empty("/var/crash"));
    ASSERT_EQ(0, ::statvfs("/var/crash", &st));
    EXPECT_GT(st.f_bavail * 100 / st.f_blocks, 90u);

    // With room again, young dumps stay.
    make_dump("/var/crash/again/vmcore", 60);
    p.prune_crash_dumps();
    EXPECT_TRUE(fs::exists("/var/crash/again/vmcore"));
    EXPECT_EQ(0u, p.removed_files());
}

}  // namespace
