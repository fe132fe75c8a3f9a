// The file-system check that leaves nothing behind and never touches what it
// did not make, and the I/O test of a volume's local bricks.

#include "io_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace {

// Each run's scratch directory is its own: test_dir.<pid>.<run>.
std::string scratch_of(const std::vector<tidewall::testing::log_entry>& logs) {
    const std::string head = "Validated file [", tail = "/test_dir/test_file.txt]";
    for (const auto& l : logs) {
        const size_t end = l.text.find(tail);
        if (l.text.rfind(head, 0) == 0 && end != std::string::npos)
            return l.text.substr(head.size(), end - head.size());
    }
    return "";
}

TEST_F(IoVerificationTest, FileSystemCheckPassesAndLeavesNothingBehind) {
    tb.random_values = {0xabc};
    EXPECT_EQ(0, st.check_file_system("/tw/disk1", false));
    const std::string scratch = scratch_of(tb.logs);
    const std::string prefix = "/tw/disk1/test_dir." + std::to_string(::getpid()) + ".";
    ASSERT_EQ(prefix, scratch.substr(0, prefix.size())) << scratch;
    EXPECT_FALSE(tb.exists(scratch));
    EXPECT_TRUE(tb.logged(0, "tw_storage::check_file_system",
                          "Validated file [" + scratch + "/test_dir/test_file.txt] PRNG [0xabc]"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::validate_random_file",
                          "File [" + scratch +
                              "/test_dir/test_file.txt] entries [4096] PRNG key [2748] will be "
                              "checked for validity of data"));
    // The file first, then the inner directory, then the outer one.
    std::vector<std::string> removals;
    for (const auto& l : tb.logs)
        if (l.text.rfind("Will remove path", 0) == 0) removals.push_back(l.text);
    EXPECT_EQ((std::vector<std::string>{"Will remove path [" + scratch + "/test_dir/test_file.txt] type [file]",
                                        "Will remove path [" + scratch + "/test_dir] type [dir]",
                                        "Will remove path [" + scratch + "] type [dir]"}),
              removals);
    // The next run takes another name.
    tb.logs.clear();
    EXPECT_EQ(0, st.check_file_system("/tw/disk1", false));
    EXPECT_NE(scratch, scratch_of(tb.logs));
}

TEST_F(IoVerificationTest, FileSystemCheckWantsAMountPointWhenAsked) {
    EXPECT_EQ(-1, st.check_file_system("/tw/disk1", true));
    EXPECT_TRUE(tb.logged(0, "tw_storage::check_file_system", "Failed to find mount path [/tw/disk1]"));
    EXPECT_FALSE(tb.exists("/tw/disk1/test_dir"));
    tb.write_file("/etc/mtab", "/dev/sdb /tw/disk1 xfs rw,noatime 0 0\n");
    EXPECT_EQ(0, st.check_file_system("/tw/disk1", true));
}

TEST_F(IoVerificationTest, FileSystemCheckNeverTouchesATestDirItDidNotMake) {
    tb.write_file("/tw/disk1/test_dir/precious", "user data");
    tb.write_file("/tw/disk1/test_dir.1.1/test_dir/test_file.txt", "x");  // and more than the check makes:
    tb.write_file("/tw/disk1/test_dir.1.1/notes", "user notes");
    EXPECT_EQ(0, st.check_file_system("/tw/disk1", false));
    EXPECT_EQ("user data", tb.read_file("/tw/disk1/test_dir/precious"));
    EXPECT_EQ("user notes", tb.read_file("/tw/disk1/test_dir.1.1/notes"));
    EXPECT_FALSE(tb.logged("Removed [/tw/disk1/test_dir] left by an earlier check"));

    EXPECT_EQ(-1, st.check_file_system("/tw/nodisk", false));
    EXPECT_FALSE(tb.exists("/tw/nodisk"));
}

// A check cut short (power loss, kill) left its scratch directory: later checks
// still pass, and a leftover holding only the check's files, whose process is
// gone, is removed. A live process's directory is its own business.
TEST_F(IoVerificationTest, LeftoversOfInterruptedChecksDoNotFailLaterOnes) {
    const std::string half(1000, 'x');
    tb.write_file("/tw/disk1/test_dir/test_dir/test_file.txt", half);  // an older version's fixed name
    tb.write_file("/tw/disk1/test_dir.4242.3/test_dir/test_file.txt", half);
    tb.make_dir("/tw/disk1/test_dir.4343.1/test_dir");  // cut before the file
    tb.write_file("/tw/disk1/test_dir.777.2/test_dir/test_file.txt", half);
    tb.make_dir("/proc/777");  // that one still runs
    tb.write_file("/tw/disk1/data.bin", "user data");
    EXPECT_EQ(0, st.check_file_system("/tw/disk1", false));
    EXPECT_EQ(0, st.check_file_system("/tw/disk1", false));
    for (const char* gone : {"/tw/disk1/test_dir", "/tw/disk1/test_dir.4242.3", "/tw/disk1/test_dir.4343.1"}) {
        EXPECT_FALSE(tb.exists(gone)) << gone;
        EXPECT_TRUE(tb.logged(0, "tw_storage::check_file_system",
                              std::string("Removed [") + gone + "] left by an earlier check"))
            << gone;
    }
    EXPECT_EQ(half, tb.read_file("/tw/disk1/test_dir.777.2/test_dir/test_file.txt"));
    EXPECT_EQ("user data", tb.read_file("/tw/disk1/data.bin"));
}

std::string one_volume_info(const std::string& name, const std::vector<std::string>& bricks) {
    std::string xml = "<cliOutput><opRet>0</opRet><opErrno>0</opErrno><opErrstr/><volInfo><volumes><volume><name>" +
                      name + "</name><typeStr>Distribute</typeStr><bricks>";
    for (const auto& b : bricks)
        xml += "<brick uuid=\"u\">" + b + "<name>" + b + "</name><isArbiter>0</isArbiter></brick>";
    return xml + "</bricks></volume><count>1</count></volumes></volInfo></cliOutput>";
}

TEST_F(IoVerificationTest, VolumeTestWritesBesideEachLocalBrickAndRecordsEach) {
    tb.hostname = "node1.example.net";
    tb.make_dir("/tw/disk1/tw_brick");
    tb.make_dir("/tw/disk2");  // its brick directory is gone: the file cannot be made
    tb.on(
        "gluster --mode=script volume info vol1 --xml", 0,
        one_volume_info("vol1", {"node1:/tw/disk1/tw_brick", "node2:/tw/disk1/tw_brick", "node1:/tw/disk2/tw_brick"}));
    tb.random_values = {0x77};
    std::list<io_test_info> results = {io_test_info{}};
    EXPECT_EQ(0, st.perform_io_test("vol1", 5000, results));
    ASSERT_EQ(2u, results.size());
    const io_test_info& good = results.front();
    EXPECT_EQ("/tw/disk1/tw_brick", good.path);
    EXPECT_EQ(1, good.result);
    EXPECT_EQ(5000u, good.write_requests);
    EXPECT_EQ(5000u, good.writes_completed);
    EXPECT_EQ(5000u, good.read_requests);
    EXPECT_EQ(5000u, good.reads_completed);
    EXPECT_EQ(20000u, std::filesystem::file_size(tb.root + "/tw/disk1/io_test.txt"));  // left in place
    EXPECT_TRUE(tb.logged(0, "tw_storage::perform_io_test",
                          "Generated data file [/tw/disk1/tw_brick/../io_test.txt] with PRNG [0x77]"));
    EXPECT_TRUE(
        tb.logged(0, "tw_storage::perform_io_test", "Validated file [/tw/disk1/tw_brick/../io_test.txt] PRNG [0x77]"));

    const io_test_info& bad = results.back();
    EXPECT_EQ("/tw/disk2/tw_brick", bad.path);
    EXPECT_EQ(0, bad.result);
    EXPECT_EQ(0u, bad.write_requests + bad.read_requests);
    EXPECT_TRUE(tb.logged(0, "tw_storage::perform_io_test",
                          "Failed to generate file [/tw/disk2/tw_brick/../io_test.txt] with random data"));

    // A volume gluster does not know: no records.
    EXPECT_EQ(0, st.perform_io_test("novol", 10, results));
    EXPECT_TRUE(results.empty());
}

}  // namespace
