#include "foundation/command_runner.h"

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

} // namespace
