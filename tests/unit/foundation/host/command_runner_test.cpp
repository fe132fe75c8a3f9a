#include "foundation/host/command_runner.h"

#include "test_backend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

using tidewall::host::run_shell_command;

namespace {

TEST(CommandRunner, CapturesOutputAndErrorSeparatelyWithExitStatus) {
    auto r = run_shell_command("echo out1; echo err1 >&2; echo out2; exit 3", 10);
    EXPECT_EQ(3, r.status);
    EXPECT_EQ("out1\nout2\n", r.out);
    EXPECT_EQ("err1\n", r.err);
    EXPECT_FALSE(r.timed_out);
}

TEST(CommandRunner, LargeOutputOnBothStreamsDoesNotDeadlock) {
    auto r = run_shell_command("head -c 300000 /dev/zero | tr '\\0' a; head -c 300000 /dev/zero | tr '\\0' b >&2", 20);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(300000u, r.out.size());
    EXPECT_EQ(300000u, r.err.size());
}

TEST(CommandRunner, MissingCommandFailsWith127) {
    auto r = run_shell_command("no-such-command-twtest", 10);
    EXPECT_EQ(127, r.status);
    EXPECT_NE(std::string::npos, r.err.find("not found"));
}

TEST(CommandRunner, TimeLimitKillsTheWholeGroupAndReportsFailure) {
    auto start = std::chrono::steady_clock::now();
    auto r = run_shell_command("echo started; sleep 30 & sleep 30; echo never", 1);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(r.timed_out);
    EXPECT_NE(0, r.status);
    EXPECT_EQ("started\n", r.out);
    EXPECT_LT(took, std::chrono::seconds(5));
}

TEST(CommandRunner, NoDescriptorOfTheCallerLeaksIntoTheChild) {
    // Deliberately without O_CLOEXEC, and high enough not to be mistaken for
    // a descriptor ls opens itself.
    int tmp = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(tmp, 0);
    int fd = ::dup2(tmp, 57);
    ::close(tmp);
    ASSERT_EQ(57, fd);
    auto r = run_shell_command("ls /proc/self/fd", 10);
    ::close(fd);
    EXPECT_EQ(0, r.status);
    // ls itself sees 0, 1, 2 and its own directory descriptor only.
    EXPECT_EQ(std::string::npos, r.out.find("\n" + std::to_string(fd) + "\n")) << r.out;
}

TEST(CommandRunner, StandardInputIsEmpty) {
    auto r = run_shell_command("cat", 5);
    EXPECT_EQ(0, r.status);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ("", r.out);
}

// Output past the cap ends the command: killed with its group, failed, and only
// the cap's worth kept, on either stream; output of exactly the cap is whole.
TEST(CommandRunner, OutputPastTheCapKillsTheCommandAndFails) {
    tidewall::testing::test_backend tb;  // the log line lands here
    const size_t cap = 1 << 20;
    struct row {
        const char* cmd;
        int status;
        size_t out, err;
    } rows[] = {
        {"yes", -1, cap, 0},
        {"yes >&2", -1, 0, cap},
        {"head -c 1048576 /dev/zero", 0, cap, 0},
    };
    for (const auto& r : rows) {
        auto start = std::chrono::steady_clock::now();
        auto res = run_shell_command(r.cmd, 20, cap);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << r.cmd;
        EXPECT_EQ(r.status, res.status) << r.cmd;
        EXPECT_FALSE(res.timed_out) << r.cmd;
        EXPECT_EQ(r.out, res.out.size()) << r.cmd;
        if (r.status == 0) {
            EXPECT_EQ(r.err, res.err.size()) << r.cmd;
        } else {
            EXPECT_NE(std::string::npos, res.err.find("output passed the 1048576 byte cap")) << r.cmd;
            EXPECT_TRUE(
                tb.logged(-1, "tidewall::host::run_shell_command",
                          std::string("Command [") + r.cmd + "] killed: its output passed the 1048576 byte cap"))
                << r.cmd;
        }
    }
}

}  // namespace
