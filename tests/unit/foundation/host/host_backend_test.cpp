// The backend as the only door: the environment, the steady clock and every
// file helper's failure come from it, so the unit tier can script them.

#include "foundation/fs/file_io.h"
#include "foundation/host/command_deadline.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/worker_pool.h"
#include "test_backend.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <sys/stat.h>

namespace tidewall {
namespace {

using testing::test_backend;
using namespace std::chrono_literals;

TEST(HostBackend, EnvironmentAndSteadyClockAreTheBackends) {
    test_backend tb;
    tb.env["TW_REGISTRY_INSTANCE"] = "Instance042";
    EXPECT_EQ(host::env("TW_REGISTRY_INSTANCE"), "Instance042");
    EXPECT_EQ(host::env("TW_SURELY_UNSET_IN_TESTS"), "");

    // A deadline is measured on the fake clock, which moves with fake sleeps only.
    host::command_deadline d(host::steady_now() + 5s);
    EXPECT_EQ(host::time_limit_within_deadline(100), 5);
    tb.sleep_ms(3500);
    EXPECT_EQ(host::time_limit_within_deadline(100), 2);
    tb.sleep_ms(1500);
    EXPECT_EQ(host::time_limit_within_deadline(100), -1);
    // Past the deadline no job of a pool starts.
    int ran = 0;
    EXPECT_EQ(host::run_bounded(3, 2, [&](size_t) { ++ran; }), 0u);
    EXPECT_EQ(ran, 0);
}

// Each helper fails with the scripted errno before it touches the file.
TEST(HostBackend, AScriptedFileFaultReachesTheCaller) {
    test_backend tb;
    tb.write_file("/etc/fstab", "keep\n");
    tb.make_dir("/var/lib/tidewall/old");
    const std::string file = tb.map_path("/etc/fstab"), dir = tb.map_path("/var/lib/tidewall/old");
    struct row {
        const char* op;
        std::string path;  // system path the fault is scripted on
        std::function<int()> call;
    };
    const std::vector<row> rows = {
        {"read", "/etc/fstab",
         [&] {
             std::string s;
             return file_io::read_all(file, s);
         }},
        {"write", "/etc/fstab", [&] { return file_io::write_atomic(file, "lost\n"); }},
        {"write", "/etc/fstab", [&] { return file_io::write_no_follow(file, "lost\n"); }},
        {"write", "/etc/fstab", [&] { return file_io::write_in_place(file, "lost\n"); }},
        {"append", "/etc/fstab", [&] { return file_io::append(file, "lost\n"); }},
        {"list", "/var/lib/tidewall/old",
         [&] {
             std::vector<std::string> n;
             return file_io::list_dir(dir, n);
         }},
        {"mkdir", "/var/lib/tidewall/new", [&] { return file_io::make_dir(tb.map_path("/var/lib/tidewall/new")); }},
        {"rename", "/etc/fstab", [&] { return file_io::rename_path(file, file + ".moved"); }},
        {"unlink", "/etc/fstab", [&] { return file_io::remove_file(file); }},
        {"rmdir", "/var/lib/tidewall/old", [&] { return file_io::remove_dir(dir); }},
        {"stat", "/etc/fstab",
         [&] {
             struct stat st {};
             return file_io::status_of(file, st);
         }},
    };
    int err = EIO;
    for (const auto& r : rows) {
        tb.fail_file(r.op, r.path, ++err);
        EXPECT_EQ(r.call(), err) << r.op;
        EXPECT_EQ(tb.read_file("/etc/fstab"), "keep\n") << r.op;
    }
    EXPECT_TRUE(tb.exists("/var/lib/tidewall/old"));
    EXPECT_FALSE(tb.exists("/var/lib/tidewall/new"));
    EXPECT_TRUE(file_io::is_dir(dir));
    tb.fail_file("stat", "/var/lib/tidewall/old", EACCES);
    EXPECT_FALSE(file_io::is_dir(dir));
    tb.fail_file("lock", "/run/x.lock", EACCES);
    EXPECT_FALSE(file_io::exclusive_lock(tb.map_path("/run/x.lock"), 0).held());
    EXPECT_FALSE(tb.exists("/run/x.lock"));
}

}  // namespace
}  // namespace tidewall
