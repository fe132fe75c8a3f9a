// File I/O verification: the exact bytes of a test file, what validation finds
// in a damaged one, and the file-system check that leaves nothing behind.

#include "storage_fixture.h"

#include "foundation/compat/tsaf_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using tidewall::testing::peek;
using tidewall::testing::poke;
using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

class IoVerificationTest : public ::testing::Test {
protected:
    void SetUp() override { tb.make_dir("/tw/disk1"); }
    int count_logs(const std::string& prefix) const {
        return static_cast<int>(std::count_if(tb.logs.begin(), tb.logs.end(),
                                              [&](const auto& l) { return l.text.rfind(prefix, 0) == 0; }));
    }
    std::vector<unsigned> stream(unsigned key, unsigned count) {
        std::vector<unsigned> words(count);
        tsaf_utils::generate_prg_data(key, words.data(), count);
        return words;
    }

    test_backend tb;
    storage_under_test s{tb};
    tw_storage& st = s.storage;
};

TEST_F(IoVerificationTest, AFileHoldsExactlyTheKeysWordsInMemoryOrder) {
    // More than one chunk of the writer, and not a whole number of them.
    const unsigned count = 300001;
    tb.random_values = {0x5eed1234};
    unsigned key = 0;
    EXPECT_EQ(static_cast<int>(count * 4), st.generate_random_file(count, "/tw/disk1/io.txt", key));
    EXPECT_EQ(0x5eed1234u, key);
    EXPECT_TRUE(tb.logged(0, "tw_storage::generate_random_file", "PRNG string [5eed1234] key [0x5eed1234]"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::generate_random_file",
                          "File [/tw/disk1/io.txt] will be filled with [300001] entries generated from pseudo random "
                          "number generator"));
    auto words = stream(key, count);
    std::string expected(reinterpret_cast<const char*>(words.data()), count * 4);
    EXPECT_TRUE(tb.read_file("/tw/disk1/io.txt") == expected);

    EXPECT_EQ(0, st.validate_random_file(count, "/tw/disk1/io.txt", key));
    EXPECT_TRUE(tb.logged(0, "tw_storage::validate_random_file",
                          "File [/tw/disk1/io.txt] entries [300001] PRNG key [1592594996] will be checked for validity "
                          "of data"));
    EXPECT_EQ(0, count_logs("@ index"));
}

TEST_F(IoVerificationTest, AnExistingFileIsReplaced) {
    tb.write_file("/tw/disk1/io.txt", std::string(100000, 'x'));
    unsigned key = 0;
    EXPECT_EQ(400, st.generate_random_file(100, "/tw/disk1/io.txt", key));
    EXPECT_EQ(400u, std::filesystem::file_size(tb.root + "/tw/disk1/io.txt"));
    EXPECT_EQ(0, st.validate_random_file(100, "/tw/disk1/io.txt", key));
}

TEST_F(IoVerificationTest, ValidationNamesEveryBadWordWithItsIndex) {
    const unsigned count = 270000;
    unsigned key = 0;
    ASSERT_GT(st.generate_random_file(count, "/tw/disk1/io.txt", key), 0);
    auto words = stream(key, count);
    // One word in the first chunk, one in the second.
    const unsigned bad[] = {7, 262150};
    for (unsigned i : bad) {
        unsigned v = ~words[i];
        poke(tb, "/tw/disk1/io.txt", static_cast<long>(i) * 4, std::string(reinterpret_cast<char*>(&v), 4));
    }
    tb.logs.clear();
    EXPECT_EQ(-1, st.validate_random_file(count, "/tw/disk1/io.txt", key));
    std::vector<std::string> diffs;
    for (const auto& l : tb.logs)
        if (l.text.rfind("@ index", 0) == 0) diffs.push_back(l.text);
    ASSERT_EQ(2u, diffs.size());
    EXPECT_EQ("@ index [7] expected value [" + std::to_string(words[7]) + "] actual value [" +
                  std::to_string(~words[7]) + "]",
              diffs[0]);
    EXPECT_EQ(0u, diffs[1].find("@ index [262150] "));
    EXPECT_TRUE(tb.logged(0, "tw_storage::validate_random_file", "Data validation from file [/tw/disk1/io.txt] failed"));
}

TEST_F(IoVerificationTest, AnotherKeyFailsAndTheDifferencesLoggedAreBounded) {
    unsigned key = 0;
    ASSERT_GT(st.generate_random_file(3000, "/tw/disk1/io.txt", key), 0);
    unsigned other = key + 1;
    tb.logs.clear();
    EXPECT_EQ(-1, st.validate_random_file(3000, "/tw/disk1/io.txt", other));
    EXPECT_EQ(1024, count_logs("@ index"));
    EXPECT_TRUE(tb.logged("@ index [0] expected value [" + std::to_string(stream(other, 1)[0]) + "] actual value [" +
                          std::to_string(stream(key, 1)[0]) + "]"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::compare_data", "[3000] differing words in all, the first [1024] logged"));
}

TEST_F(IoVerificationTest, AShortFileFailsAtItsFirstShortChunkAfterNamingEarlierBadWords) {
    // Three chunks written; a bad word in the first, the file cut inside the second.
    const unsigned count = 3 * 262144;
    unsigned key = 0;
    ASSERT_GT(st.generate_random_file(count, "/tw/disk1/io.txt", key), 0);
    unsigned v = ~stream(key, 6)[5];
    poke(tb, "/tw/disk1/io.txt", 5 * 4, std::string(reinterpret_cast<char*>(&v), 4));
    std::filesystem::resize_file(tb.root + "/tw/disk1/io.txt", 262144 * 4 + 1000);
    tb.logs.clear();
    EXPECT_EQ(-1, st.validate_random_file(count, "/tw/disk1/io.txt", key));
    EXPECT_EQ(1, count_logs("@ index [5] "));
    EXPECT_EQ(1, count_logs("@ index"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::read_data_from_file",
                          "File [/tw/disk1/io.txt] short read  expected bytes [3145728] actual bytes [1049576]"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::validate_random_file", "Failed to read data from file [/tw/disk1/io.txt]"));
}

TEST_F(IoVerificationTest, ProgressCountsTheWordsOfEachPassUpToTheTotal) {
    // More chunks than the writer keeps in flight: its buffers are reused, and
    // the validation shows they were not overwritten too early.
    const unsigned count = 5 * 262144 + 10;
    unsigned key = 0;
    for (bool validate : {false, true}) {
        std::vector<unsigned long long> seen;
        auto progress = [&](unsigned long long done, unsigned long long total) {
            EXPECT_EQ(count, total);
            seen.push_back(done);
        };
        int rc = validate ? st.validate_random_file(count, "/tw/disk1/io.txt", key, progress)
                          : st.generate_random_file(count, "/tw/disk1/io.txt", key, progress);
        EXPECT_EQ(validate ? 0 : static_cast<int>(count * 4), rc) << validate;
        EXPECT_EQ((std::vector<unsigned long long>{262144, 2 * 262144, 3 * 262144, 4 * 262144, 5 * 262144, count}),
                  seen)
            << validate;
    }
}

TEST_F(IoVerificationTest, ShortAndMissingFilesFail) {
    unsigned key = 0;
    ASSERT_GT(st.generate_random_file(1000, "/tw/disk1/io.txt", key), 0);
    std::filesystem::resize_file(tb.root + "/tw/disk1/io.txt", 3998);
    EXPECT_EQ(-1, st.validate_random_file(1000, "/tw/disk1/io.txt", key));
    EXPECT_TRUE(tb.logged(0, "tw_storage::read_data_from_file",
                          "File [/tw/disk1/io.txt] short read  expected bytes [4000] actual bytes [3998]"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::validate_random_file", "Failed to read data from file [/tw/disk1/io.txt]"));

    EXPECT_EQ(-1, st.validate_random_file(1000, "/tw/disk1/none.txt", key));
    EXPECT_TRUE(tb.logged(0, "tw_storage::validate_random_file", "File [/tw/disk1/none.txt] does not exist"));
}

TEST_F(IoVerificationTest, AFileThatCannotBeOpenedFails) {
    unsigned key = 0;
    EXPECT_EQ(-1, st.generate_random_file(10, "/tw/nodisk/io.txt", key));
    EXPECT_TRUE(tb.logged(0, "tw_storage::write_data_to_file", "Failed to open file [/tw/nodisk/io.txt]"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::generate_random_file", "Failed to write data to file [/tw/nodisk/io.txt]"));

    unsigned words[4] = {1, 2, 3, 4};
    try {
        st.write_data_to_file("/tw/nodisk/x", words, sizeof words);
        FAIL() << "no exception";
    } catch (const TsException& e) {
        EXPECT_EQ("Failed to open file /tw/nodisk/x", e.message());
    }
    EXPECT_THROW(st.read_data_from_file("/tw/nodisk/x", words, sizeof words), TsException);
}

TEST_F(IoVerificationTest, PlainReadsWritesAndComparisons) {
    unsigned out[3] = {10, 20, 30}, in[4] = {};
    EXPECT_EQ(12, st.write_data_to_file("/tw/disk1/w", out, sizeof out));
    EXPECT_EQ(12, st.read_data_from_file("/tw/disk1/w", in, 12));
    EXPECT_TRUE(st.compare_data(out, in, 3));
    EXPECT_EQ(-1, st.read_data_from_file("/tw/disk1/w", in, 16));
    EXPECT_TRUE(tb.logged("File [/tw/disk1/w] short read  expected bytes [16] actual bytes [12]"));
    in[0] = 11;
    in[2] = 31;
    EXPECT_FALSE(st.compare_data(out, in, 3));
    EXPECT_TRUE(tb.logged(0, "tw_storage::compare_data", "@ index [0] expected value [10] actual value [11]"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::compare_data", "@ index [2] expected value [30] actual value [31]"));
}

// Each run's scratch directory is its own: test_dir.<pid>.<run>.
std::string scratch_of(const std::vector<tidewall::testing::log_entry>& logs) {
    const std::string head = "Validated file [", tail = "/test_dir/test_file.txt]";
    for (const auto& l : logs) {
        const size_t end = l.text.find(tail);
        if (l.text.rfind(head, 0) == 0 && end != std::string::npos) return l.text.substr(head.size(), end - head.size());
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
                          "File [" + scratch + "/test_dir/test_file.txt] entries [4096] PRNG key [2748] will be "
                          "checked for validity of data"));
    // The file first, then the inner directory, then the outer one.
    std::vector<std::string> removals;
    for (const auto& l : tb.logs)
        if (l.text.rfind("Will remove path", 0) == 0) removals.push_back(l.text);
    EXPECT_EQ((std::vector<std::string>{
                  "Will remove path [" + scratch + "/test_dir/test_file.txt] type [file]",
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
    tb.write_file("/tw/disk1/test_dir/test_dir/test_file.txt", half);    // an older version's fixed name
    tb.write_file("/tw/disk1/test_dir.4242.3/test_dir/test_file.txt", half);
    tb.make_dir("/tw/disk1/test_dir.4343.1/test_dir");                     // cut before the file
    tb.write_file("/tw/disk1/test_dir.777.2/test_dir/test_file.txt", half);
    tb.make_dir("/proc/777");                                              // that one still runs
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

} // namespace

namespace {

std::string one_volume_info(const std::string& name, const std::vector<std::string>& bricks) {
    std::string xml = "<cliOutput><opRet>0</opRet><opErrno>0</opErrno><opErrstr/><volInfo><volumes><volume><name>" +
                      name + "</name><typeStr>Distribute</typeStr><bricks>";
    for (const auto& b : bricks) xml += "<brick uuid=\"u\">" + b + "<name>" + b + "</name><isArbiter>0</isArbiter></brick>";
    return xml + "</bricks></volume><count>1</count></volumes></volInfo></cliOutput>";
}

TEST_F(IoVerificationTest, VolumeTestWritesBesideEachLocalBrickAndRecordsEach) {
    tb.hostname = "node1.example.net";
    tb.make_dir("/tw/disk1/tw_brick");
    tb.make_dir("/tw/disk2");  // its brick directory is gone: the file cannot be made
    tb.on("gluster --mode=script volume info vol1 --xml", 0,
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
    EXPECT_TRUE(tb.logged(0, "tw_storage::perform_io_test", "Validated file [/tw/disk1/tw_brick/../io_test.txt] PRNG [0x77]"));

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

// A disk that stops answering: the validation gives up at the read limit (1 s
// under the cap of the test aid) with the reason, instead of holding the caller.
TEST_F(IoVerificationTest, AReadThatNeverAnswersFailsAtItsLimit) {
    const std::string fifo = tb.root + "/tw/disk1/stuck";
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    int writer = ::open(fifo.c_str(), O_RDWR);  // holds the pipe open, writes nothing
    ASSERT_GE(writer, 0);
    ::setenv("TW_TIME_LIMIT_CAP_S", "1", 1);
    unsigned key = 7;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, st.validate_random_file(1024, "/tw/disk1/stuck", key));
    double s_taken = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ::unsetenv("TW_TIME_LIMIT_CAP_S");
    ::close(writer);  // the reading process sees the end of the pipe and ends
    EXPECT_LT(s_taken, 5.0);
    EXPECT_GE(s_taken, 0.9);
    EXPECT_EQ("read did not complete within 1 s", st.io_failure());
    EXPECT_TRUE(tb.logged(0, "tw_storage::read_data_from_file", "Failed to read from file [/tw/disk1/stuck]"));
}

// The test file is made afresh: a link planted at its name is replaced, and
// what it pointed at is never written.
TEST_F(IoVerificationTest, ATestFileIsNeverWrittenThroughALink) {
    tb.write_file("/etc/victim", "keep\n");
    std::filesystem::create_symlink(tb.root + "/etc/victim", tb.root + "/tw/disk1/io_test.txt");
    unsigned key = 0;
    EXPECT_EQ(64, st.generate_random_file(16, "/tw/disk1/io_test.txt", key));
    EXPECT_EQ("keep\n", tb.read_file("/etc/victim"));
    EXPECT_FALSE(std::filesystem::is_symlink(tb.root + "/tw/disk1/io_test.txt"));
    EXPECT_EQ(0, st.validate_random_file(16, "/tw/disk1/io_test.txt", key));
}

} // namespace
