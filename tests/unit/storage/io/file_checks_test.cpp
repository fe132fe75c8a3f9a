// File checks: the exact bytes of a test file, what validation finds in a
// damaged one, reads that never answer, and links planted at a test file's name.

#include "io_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using tidewall::testing::poke;

namespace {

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
    EXPECT_TRUE(
        tb.logged(0, "tw_storage::validate_random_file", "Data validation from file [/tw/disk1/io.txt] failed"));
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

}  // namespace
