// Block-device I/O verification: which blocks are read, what the capacity is
// when sysfs cannot tell, and how a device that reads short fails.

#include "storage_fixture.h"

#include "storage/block_draw.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <vector>

using tidewall::testing::add_disk;
using tidewall::testing::fake_disk;
using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

class BlkdevIoTest : public ::testing::Test {
protected:
    test_backend tb;
    storage_under_test s{tb};
    tw_storage& st = s.storage;
};

TEST_F(BlkdevIoTest, CapacityOfAKernelNameOrAPath) {
    add_disk(tb, fake_disk("sdb").size(100 * 512));
    unsigned long long blocks = 0;
    unsigned blksize = 0;
    EXPECT_EQ(0, st.get_blkdev_capacity("sdb", blocks, blksize));
    EXPECT_EQ(100u, blocks);
    EXPECT_EQ(512u, blksize);
    EXPECT_TRUE(tb.logged(0, "tw_storage::get_blkdev_capacity", "Will extract capacity of block device [sdb]"));
    blocks = 0;
    EXPECT_EQ(0, st.get_blkdev_capacity("/dev/sdb", blocks, blksize));
    EXPECT_EQ(100u, blocks);

    blocks = 7;
    blksize = 7;
    EXPECT_THROW(st.get_blkdev_capacity("sdz", blocks, blksize), TsException);
    EXPECT_EQ(0u, blocks);
    EXPECT_EQ(0u, blksize);
    EXPECT_TRUE(tb.logged(0, "tw_storage::get_blkdev_capacity", "Failed to extract capacity of block device [sdz]"));
}

TEST_F(BlkdevIoTest, NeverReadsBeyondTheSecondToLastBlock) {
    // sysfs says 100 blocks, but the device ends after block 98: a read of
    // block 99 would come back short and fail the test.
    add_disk(tb, fake_disk("sdb").size(100 * 512));
    std::filesystem::resize_file(tb.root + "/dev/sdb", 99 * 512);
    tb.random_values = {0xfeed};
    io_test_info info;
    EXPECT_EQ(0, st.perform_blkdev_io_test("sdb", 5000, info));
    EXPECT_EQ(1, info.result);
    EXPECT_EQ(5000u, info.read_requests);
    EXPECT_EQ(5000u, info.reads_completed);
    EXPECT_TRUE(tb.logged(0, "tw_storage::perform_blkdev_io_test", "PRNG string [0000feed] key [0xfeed]"));

    // Block 98 itself is read: with the device ending before it the test fails.
    std::filesystem::resize_file(tb.root + "/dev/sdb", 98 * 512);
    io_test_info short_dev;
    EXPECT_EQ(-1, st.perform_blkdev_io_test("/dev/sdb", 5000, short_dev));
    EXPECT_EQ(0, short_dev.result);
    EXPECT_EQ(short_dev.read_requests, short_dev.reads_completed + 1);
}

TEST_F(BlkdevIoTest, DrawsCoverTheWholeDeviceUniformly) {
    boost::random::mt19937 mt(42);
    std::set<unsigned long long> seen;
    for (int i = 0; i < 20000; ++i) {
        auto b = tidewall::storage::draw_block(mt, 100);
        ASSERT_LE(b, 98u);
        seen.insert(b);
    }
    EXPECT_EQ(99u, seen.size());  // every block 0 to 98

    // On a 4 TB device the draws spread over it: a quarter of them land in each quarter.
    const unsigned long long blocks = 8000000000ULL;
    unsigned quarters[4] = {};
    for (int i = 0; i < 40000; ++i) ++quarters[tidewall::storage::draw_block(mt, blocks) / (blocks / 4)];
    for (unsigned q : quarters) {
        EXPECT_GT(q, 9500u);
        EXPECT_LT(q, 10500u);
    }
    EXPECT_EQ(0u, tidewall::storage::draw_block(mt, 1));
    EXPECT_EQ(0u, tidewall::storage::draw_block(mt, 0));
}

TEST_F(BlkdevIoTest, WithoutCapacityTheTestSpansOneTerabyte) {
    // No sysfs entry: 2^31 blocks of 512 bytes. A sparse 1 TiB image holds them all.
    tb.write_file("/dev/sdq", "");
    std::filesystem::resize_file(tb.root + "/dev/sdq", 1ULL << 40);
    io_test_info info;
    EXPECT_EQ(0, st.perform_blkdev_io_test("sdq", 200, info));
    EXPECT_EQ(200u, info.reads_completed);
    EXPECT_TRUE(tb.logged(0, "tw_storage::perform_blkdev_io_test",
                          "Failed to extract the capacity of block device [sdq]. Will use a size of 1 TB for "
                          "performing block device I/O test"));

    // Half of that: some read lands beyond the end.
    std::filesystem::resize_file(tb.root + "/dev/sdq", 1ULL << 39);
    EXPECT_EQ(-1, st.perform_blkdev_io_test("sdq", 200, info));
    EXPECT_EQ(0, info.result);
}

TEST_F(BlkdevIoTest, ProgressCountsReadsInStepsAndStopsAtAFailure) {
    add_disk(tb, fake_disk("sdb").size(100 * 512));
    std::vector<unsigned long long> seen;
    auto progress = [&](unsigned long long done, unsigned long long total) {
        EXPECT_EQ(150u, total);
        seen.push_back(done);
    };
    io_test_info info;
    EXPECT_EQ(0, st.perform_blkdev_io_test("sdb", 150, info, progress));
    EXPECT_EQ((std::vector<unsigned long long>{64, 128, 150}), seen);

    // A device too short for most draws: no report claims a read that failed.
    std::filesystem::resize_file(tb.root + "/dev/sdb", 512);
    seen.clear();
    EXPECT_EQ(-1, st.perform_blkdev_io_test("sdb", 150, info, progress));
    for (unsigned long long done : seen) EXPECT_LE(done, info.reads_completed);
}

TEST_F(BlkdevIoTest, ADeviceThatCannotBeOpenedFails) {
    add_disk(tb, fake_disk("sdc").without_node());
    io_test_info info;
    EXPECT_EQ(-1, st.perform_blkdev_io_test("sdc", 10, info));
    EXPECT_TRUE(tb.logged(0, "tw_storage::perform_blkdev_io_test", "Failed to open block device [sdc]"));
    EXPECT_EQ(0u, info.read_requests);
}

}  // namespace
