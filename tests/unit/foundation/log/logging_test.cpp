#include <tidewall/tw_debug.h>

#include "foundation/fs/node_lock.h"
#include "foundation/log/log_file.h"
#include "test_backend.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using tidewall::testing::test_backend;

namespace {

TEST(TwDebug, InitFixesTheBackEndSettings) {
    test_backend tb;
    tw_debug log;
    EXPECT_EQ(0x413FF766u, log.backend().moduleId());
    EXPECT_EQ(10, log.backend().logFileSize());
    EXPECT_EQ(10, log.backend().maxVersion());
    EXPECT_EQ("TSTidewall", tw_debug::sLogFileName);
    EXPECT_EQ(3, log.getDebugLevel());
}

TEST(TwDebug, CopyAndAssignmentInitialiseTheTargetAfresh) {
    test_backend tb;
    tb.level = 1;
    tw_debug a;
    tb.level = 2;
    tw_debug b(a);  // copies nothing: reads the level in force now
    EXPECT_EQ(1, a.getDebugLevel());
    EXPECT_EQ(2, b.getDebugLevel());
    tb.level = 0;
    a = b;
    EXPECT_EQ(0, a.getDebugLevel());
    EXPECT_EQ(2, b.getDebugLevel());
    EXPECT_EQ(0x413FF766u, a.backend().moduleId());
}

TEST(TwDebug, MessagesCarryLevelTagAndFormattedTextAndAreFilteredByLevel) {
    test_backend tb;
    tb.level = 1;
    tw_debug log;
    log.logMessage("tw_storage::mount", 0, "Mount command [%s] failed with error [%s]", "mount -t xfs", "busy");
    log.logMessage("tw_storage::mount", 2, "dropped at level 1");
    log.logError("tw_x::y", "error %d", 5);
    log.logMessage(1, "untagged %s", "text");
    log.logMessage("tw_x::z", 7, 1, 99UL, "two ints: level is the second");
    log.logMessage("tw_x::z", 1, 3, 99UL, "level 3 dropped");
    ASSERT_EQ(4u, tb.logs.size());
    EXPECT_TRUE(tb.logged(0, "tw_storage::mount", "Mount command [mount -t xfs] failed with error [busy]"));
    EXPECT_TRUE(tb.logged(-1, "tw_x::y", "error 5"));
    EXPECT_TRUE(tb.logged(1, "", "untagged text"));
    EXPECT_TRUE(tb.logged(1, "tw_x::z", "two ints: level is the second"));
    EXPECT_EQ(10, tb.log_size_mib);
    EXPECT_EQ(10, tb.log_versions);
}

TEST(TwDebug, LongMessagesAreNotTruncated) {
    test_backend tb;
    tw_debug log;
    std::string big(5000, 'x');
    log.logMessage("t", 0, "[%s]", big.c_str());
    ASSERT_EQ(1u, tb.logs.size());
    EXPECT_EQ("[" + big + "]", tb.logs[0].text);
}

TEST(LogFile, LineLayoutKeepsOneMessageOnOneLine) {
    std::string line = tidewall::logfile::format_line(0, 42, -1, "tw_a::b", "first\nsecond\n");
    EXPECT_NE(std::string::npos, line.find(" [42] [-1] tw_a::b: first\\nsecond\n"));
    EXPECT_EQ(1, std::count(line.begin(), line.end(), '\n'));
    line = tidewall::logfile::format_line(0, 1, 0, nullptr, "x");
    EXPECT_NE(std::string::npos, line.find(" [0] -: x\n"));
}

TEST(LogFile, RotationKeepsTheConfiguredVersionsAndLosesNothingRecent) {
    test_backend tb;  // the log's lock is made under its root
    char tmpl[] = "/tmp/twlog.XXXXXX";
    std::string dir = ::mkdtemp(tmpl);
    tidewall::logfile::writer w(dir + "/TSTidewall.log");
    tidewall::logfile::limits lim;
    lim.max_bytes = 100;
    lim.versions = 3;
    for (int i = 0; i < 40; ++i) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "line %02d of twenty bytes\n", i);  // 25 bytes
        ASSERT_TRUE(w.write(buf, lim));
    }
    // 4 lines per file: the live file and .1 to .3 hold the last 16 lines, in order.
    std::string all;
    for (const char* suffix : {".3", ".2", ".1", ""}) {
        std::ifstream f(dir + "/TSTidewall.log" + suffix);
        ASSERT_TRUE(f.good()) << suffix;
        std::stringstream ss;
        ss << f.rdbuf();
        EXPECT_LE(ss.str().size(), 100u);
        all += ss.str();
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/TSTidewall.log.4"));
    std::string expected;
    for (int i = 24; i < 40; ++i) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "line %02d of twenty bytes\n", i);
        expected += buf;
    }
    EXPECT_EQ(expected, all);
    std::filesystem::remove_all(dir);
}

TEST(LogFile, UnwritableDirectoryDropsTheLineWithoutFailing) {
    test_backend tb;  // the log's lock is made under its root
    tidewall::logfile::writer w("/nonexistent-dir/for/sure/TSTidewall.log");
    EXPECT_FALSE(w.write("x\n", {}));
}

// A log whose lock someone else holds still takes the line, at once: logging
// never waits on another process.
TEST(LogFile, AHeldLockNeitherBlocksNorLosesTheLine) {
    test_backend tb;
    std::string path = tb.root + "/TSTidewall.log";
    tidewall::locks::held_lock other(tidewall::locks::lock_name_for("log", path), 0);
    ASSERT_TRUE(other.held());
    tidewall::logfile::writer w(path);
    tidewall::logfile::limits lim;
    lim.max_bytes = 10;  // would rotate, but rotation waits for the lock
    auto start = tb.now();
    ASSERT_TRUE(w.write("first\n", lim));
    ASSERT_TRUE(w.write("second\n", lim));
    EXPECT_LE(tb.now() - start, 1);
    EXPECT_EQ("first\nsecond\n", tb.read_file("/TSTidewall.log"));
    EXPECT_FALSE(tb.exists("/TSTidewall.log.1"));
}

}  // namespace
