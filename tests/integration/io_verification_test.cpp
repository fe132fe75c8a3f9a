// I/O verification on real devices inside the sandbox: test files on a
// loop-device XFS, one of them corrupted on the disk itself between writing and
// validation, a file-system check on a full file system, and random block reads
// of a loop block device.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

#include "shell.h"

namespace fs = std::filesystem;

namespace {

using tidewall::testing::sh;

std::string gluster_lib() {
    const char* src = std::getenv("TW_SOURCE_DIR");
    return std::string(src ? src : ".") + "/tests/integration/lib/gluster.sh";
}

// The product log of this sandbox from a mark on.
std::string log_since(size_t mark) {
    std::string all = tidewall::testing::slurp("/var/log/tessaline/TSTidewall.log");
    return mark < all.size() ? all.substr(mark) : "";
}

size_t log_mark() { return log_since(0).size(); }

class IoVerification : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(std::getenv("TW_IN_SANDBOX")) << "run through sandbox.sh: this test makes loop devices";
        disk_ = sh("bash -c 'source " + gluster_lib() + " && tw_loop_xfs 1'");
        ASSERT_EQ(0u, disk_.rfind("/dev/loop", 0)) << disk_;
    }
    static void TearDownTestSuite() {
        sh("umount /tw/disk1 2>/dev/null; losetup -d " + disk_ + "; rm -f /tmp/twdisk1.img");
    }
    static std::string disk_;
    tw_storage st;
};
std::string IoVerification::disk_;

TEST_F(IoVerification, FileSystemCheckOnAMountedXfs) {
    EXPECT_EQ(0, st.check_file_system("/tw/disk1", true));
    EXPECT_FALSE(fs::exists("/tw/disk1/test_dir"));
    fs::create_directories("/tw/plain");
    EXPECT_EQ(-1, st.check_file_system("/tw/plain", true));  // a directory, not a mount point
    EXPECT_FALSE(fs::exists("/tw/plain/test_dir"));
}

TEST_F(IoVerification, AFileCorruptedOnTheDiskFailsAtItsFirstBadWord) {
    const unsigned count = 1 << 20;  // 4 MiB
    const std::string file = "/tw/disk1/io_test.txt";
    unsigned key = 0;
    ASSERT_EQ(static_cast<int>(count * 4), st.generate_random_file(count, file, key));
    ASSERT_EQ(0, st.validate_random_file(count, file, key));

    // Where word 1000 lies on the device: xfs_bmap gives the extents in 512-byte units.
    std::string extent = sh("xfs_bmap " + file + " | awk 'NR == 2 { print $3 }'");
    ASSERT_NE(std::string::npos, extent.find("..")) << extent;
    unsigned long long first_sector = std::stoull(extent.substr(0, extent.find("..")));
    unsigned long long offset = first_sector * 512 + 1000 * 4;
    // Overwrite that word on the device itself, behind the file system's back.
    int rc = 0;
    sh("printf '\\336\\255\\276\\357' | dd of=" + disk_ + " bs=1 seek=" + std::to_string(offset) +
           " conv=notrunc,fsync status=none",
       &rc);
    ASSERT_EQ(0, rc);
    // Make sure the bytes went out of the device's own cache.
    sh("blockdev --flushbufs " + disk_);

    std::vector<unsigned> expected(1001);
    tsaf_utils::generate_prg_data(key, expected.data(), 1001);
    size_t mark = log_mark();
    EXPECT_EQ(-1, st.validate_random_file(count, file, key));
    std::string log = log_since(mark);
    size_t first = log.find("@ index [");
    ASSERT_NE(std::string::npos, first) << log;
    EXPECT_NE(std::string::npos, log.find("@ index [1000] expected value [" + std::to_string(expected[1000]) +
                                          "] actual value [" + std::to_string(0xefbeaddeu) + "]"))
        << log;
    EXPECT_EQ(log.find("@ index [1000]"), first) << "the first bad word is not the first named";
    EXPECT_NE(std::string::npos, log.find("Data validation from file [" + file + "] failed"));
    fs::remove(file);
}

TEST_F(IoVerification, FileSystemCheckOnAFullFileSystemLeavesNothingBehind) {
    // Three pages of room: the directories fit, the 16 KiB test file does not.
    fs::create_directories("/tw/full");
    ASSERT_EQ("0", sh("mount -t tmpfs -o size=12k tw-full /tw/full; echo $?"));
    EXPECT_EQ(-1, st.check_file_system("/tw/full", true));
    EXPECT_TRUE(fs::is_empty("/tw/full"));
    sh("umount /tw/full");
}

TEST_F(IoVerification, RandomBlockReadsOfALoopDevice) {
    io_test_info info;
    EXPECT_EQ(0, st.perform_blkdev_io_test(disk_, 3000, info));
    EXPECT_EQ(1, info.result);
    EXPECT_EQ(3000u, info.read_requests);
    EXPECT_EQ(3000u, info.reads_completed);
    unsigned long long blocks = 0;
    unsigned blksize = 0;
    ASSERT_EQ(0, st.get_blkdev_capacity(disk_.substr(5), blocks, blksize));
    EXPECT_EQ(512ULL << 20, blocks * blksize);

    // A device that is not there: the fallback range, then the open fails.
    io_test_info none;
    EXPECT_EQ(-1, st.perform_blkdev_io_test("/dev/tw-no-such-disk", 10, none));
    EXPECT_EQ(0u, none.read_requests);
}

}  // namespace
