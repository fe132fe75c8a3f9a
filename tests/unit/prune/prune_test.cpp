// The crash-dump pruner on a fake tree with a fake clock: which dumps are due by
// age and by free space, which directories go, and what a failed removal keeps.

#include <tidewall/tw_prune.h>

#include "foundation/fs/node_lock.h"
#include "test_backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using tidewall::testing::test_backend;

namespace {

const long kHour = 3600;

class PruneTest : public ::testing::Test {
protected:
    PruneTest() { tb.make_dir("/run"); }  // where the node-wide lock lives
    static void dump_in(test_backend& t, const std::string& path, long age) {
        t.write_file(path, "core");
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = t.clock - age;
        times[0].tv_nsec = times[1].tv_nsec = 0;
        ASSERT_EQ(0, ::utimensat(AT_FDCWD, (t.root + path).c_str(), times, AT_SYMLINK_NOFOLLOW)) << path;
    }
    // A dump file dated `age` seconds before the fake clock.
    void dump(const std::string& path, long age) {
        tb.write_file(path, "core");
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = tb.clock - age;
        times[0].tv_nsec = times[1].tv_nsec = 0;
        ASSERT_EQ(0, ::utimensat(AT_FDCWD, (tb.root + path).c_str(), times, AT_SYMLINK_NOFOLLOW)) << path;
    }
    int count_logs(const std::string& prefix) const {
        return static_cast<int>(
            std::count_if(tb.logs.begin(), tb.logs.end(), [&](const auto& l) { return l.text.rfind(prefix, 0) == 0; }));
    }

    test_backend tb;
};

TEST_F(PruneTest, DumpsAreDueFromExactly120HoursOn) {
    dump("/var/crash/127.0.0.1-old/vmcore", 121 * kHour);
    dump("/var/crash/127.0.0.1-edge/vmcore", 120 * kHour);
    dump("/var/crash/127.0.0.1-young/vmcore", 120 * kHour - 1);
    dump("/var/crash/127.0.0.1-young/vmcore-dmesg.txt", 119 * kHour);
    tb.usage["/var/crash"] = {1000, 500};

    tw_prune p;
    EXPECT_EQ(0, p.prune_crash_dumps());

    EXPECT_FALSE(tb.exists("/var/crash/127.0.0.1-old"));
    EXPECT_FALSE(tb.exists("/var/crash/127.0.0.1-edge"));
    EXPECT_TRUE(tb.exists("/var/crash/127.0.0.1-young/vmcore"));
    EXPECT_TRUE(tb.exists("/var/crash/127.0.0.1-young/vmcore-dmesg.txt"));
    EXPECT_TRUE(tb.exists("/var/crash"));  // the location itself stays
    EXPECT_TRUE(
        tb.logged(-1, "tw_prune::get_kernel_crashdump_validity", "Will prune the crash dumps older than [120] hours"));
    EXPECT_TRUE(tb.logged(-1, "tw_prune::get_min_freespace_percentage",
                          "Will prune the crash dumps if the file system free space is less than [10] percentage"));
    EXPECT_TRUE(tb.logged(0, "tw_prune::prune_files", "Successfully removed file [/var/crash/127.0.0.1-old/vmcore]"));
    EXPECT_TRUE(tb.logged(0, "tw_prune::prune_dirs", "Successfully removed directory [/var/crash/127.0.0.1-edge]"));
    EXPECT_EQ(2u, p.removed_files());
    EXPECT_EQ(2u, p.removed_dirs());
    EXPECT_EQ(0u, p.failed_files() + p.failed_dirs());
    EXPECT_EQ(0, count_logs("Failed to remove"));
}

TEST_F(PruneTest, ValidityAndFreeSpaceComeFromTheRegistry) {
    tb.set_key("nArrowfieldDumpValidityHours", "2");
    tb.set_key("nArrowfieldMinFreeSpacePercent", "25");
    dump("/var/crash/a/vmcore", 2 * kHour);
    dump("/var/crash/b/vmcore", 2 * kHour - 1);
    tb.usage["/var/crash"] = {100, 25};  // 25% free: not below 25
    tw_prune p;
    p.prune_crash_dumps();
    EXPECT_FALSE(tb.exists("/var/crash/a"));
    EXPECT_TRUE(tb.exists("/var/crash/b/vmcore"));
    EXPECT_TRUE(tb.logged("Will prune the crash dumps older than [2] hours"));
    EXPECT_TRUE(tb.logged("Will prune the crash dumps if the file system free space is less than [25] percentage"));

    tb.usage["/var/crash"] = {100, 24};
    p.prune_crash_dumps();
    EXPECT_FALSE(tb.exists("/var/crash/b"));
}

TEST_F(PruneTest, GarbledNumbersKeepTheDefaults) {
    // A validity that does not read as a number must not become 0 hours.
    tb.set_key("nArrowfieldDumpValidityHours", "five days");
    tb.set_key("nArrowfieldMinFreeSpacePercent", "");
    dump("/var/crash/a/vmcore", 1);
    tb.usage["/var/crash"] = {100, 50};
    tw_prune p;
    p.prune_crash_dumps();
    EXPECT_TRUE(tb.exists("/var/crash/a/vmcore"));
    EXPECT_TRUE(tb.logged("Will prune the crash dumps older than [120] hours"));
    EXPECT_TRUE(tb.logged("Will prune the crash dumps if the file system free space is less than [10] percentage"));
    EXPECT_TRUE(
        tb.logged(-1, "tw_prune::get_kernel_crashdump_validity",
                  "Registry key [nArrowfieldDumpValidityHours] value [five days] is not a number, using [120]"));

    tb.set_key("nArrowfieldDumpValidityHours", "0");  // a deliberate 0: every dump is due
    p.prune_crash_dumps();
    EXPECT_FALSE(tb.exists("/var/crash/a"));
}

TEST_F(PruneTest, AFullFileSystemLosesEveryDumpWhateverItsAge) {
    dump("/var/crash/new/vmcore", 10);
    dump("/var/crash/vmcore.flat", 0);
    dump("/var/log/core/app/core.1234", 60);
    tb.usage["/var"] = {10000, 999};  // 9.99% free: integer percentage 9
    tw_prune p;
    p.prune_crash_dumps();
    EXPECT_FALSE(tb.exists("/var/crash/new"));
    EXPECT_FALSE(tb.exists("/var/crash/vmcore.flat"));
    EXPECT_FALSE(tb.exists("/var/log/core/app/core.1234"));
    // Directories under /var/log/core are kept, and none is even tried.
    EXPECT_TRUE(tb.exists("/var/log/core/app"));
    EXPECT_EQ(0, count_logs("Successfully removed directory [/var/log/core"));
    EXPECT_EQ(0, count_logs("Failed to remove"));
    // One file system: its usage was asked once in the run, not once per file.
    EXPECT_EQ(1u, tb.usage_queries.size());
}

TEST_F(PruneTest, UsageIsAskedOncePerRunAndAFailedQueryOnlyDropsTheFreeSpaceTest) {
    for (int i = 0; i < 50; ++i) dump("/var/crash/d" + std::to_string(i) + "/vmcore", kHour);
    tw_prune p;
    p.prune_crash_dumps();  // no usage known: only age counts
    EXPECT_EQ(1u, tb.usage_queries.size());
    EXPECT_TRUE(tb.exists("/var/crash/d49/vmcore"));

    tb.usage["/var/crash"] = {0, 0};  // a zero-sized file system is no reason to divide by zero
    p.prune_crash_dumps();
    EXPECT_EQ(2u, tb.usage_queries.size());
    EXPECT_TRUE(tb.exists("/var/crash/d49/vmcore"));
}

TEST_F(PruneTest, AFileFromTheFutureIsNotOld) {
    dump("/var/crash/a/vmcore", -10 * kHour);
    tb.usage["/var/crash"] = {100, 50};
    tw_prune p;
    p.prune_crash_dumps();
    EXPECT_TRUE(tb.exists("/var/crash/a/vmcore"));
}

TEST_F(PruneTest, LocationsAreWalkedOnceInOrderWithTheirFlags) {
    tw_prune p;
    p.prune_crash_dumps();
    EXPECT_TRUE(tb.logged(-1, "tw_prune::form_prune_set", "Failed to determine the KDUMP location"));
    EXPECT_TRUE(tb.logged(-1, "tw_prune::form_prune_set", "Will prune the contents of [/var/crash]"));
    EXPECT_EQ(1, count_logs("Received new prune request [/var/crash:true] "));
    EXPECT_EQ(1, count_logs("Received new prune request [/var/log/core:false] "));

    tb.logs.clear();
    tb.set_key("sArrowfieldKdumpLoc", "/var/crash/");
    p.prune_crash_dumps();
    EXPECT_EQ(1, count_logs("Received new prune request [/var/crash:true] "));
    EXPECT_EQ(0, count_logs("Failed to determine"));

    tb.logs.clear();
    tb.set_key("sArrowfieldKdumpLoc", "/data/kdump");
    p.prune_crash_dumps();
    std::vector<std::string> walks;
    for (const auto& l : tb.logs)
        if (l.text.rfind("Received new prune request", 0) == 0) walks.push_back(l.text);
    EXPECT_EQ((std::vector<std::string>{"Received new prune request [/data/kdump:true] ",
                                        "Received new prune request [/var/crash:true] ",
                                        "Received new prune request [/var/log/core:false] "}),
              walks);
    EXPECT_EQ(3u, p.locations().size());

    // A relative location would be walked from the caller's working directory.
    tb.logs.clear();
    tb.set_key("sArrowfieldKdumpLoc", "crash");
    p.prune_crash_dumps();
    EXPECT_TRUE(tb.logged(-1, "tw_prune::form_prune_set", "KDUMP location [crash] is not an absolute path"));
    EXPECT_EQ(2u, p.locations().size());
}

TEST_F(PruneTest, NestedLocationsNoteEachDumpOnceAndKeepTheLocations) {
    tb.set_key("sArrowfieldKdumpLoc", "/var/crash/kdump");
    dump("/var/crash/kdump/vmcore", 200 * kHour);
    dump("/var/crash/kdump/127.0.0.1-x/vmcore", 200 * kHour);
    tb.usage["/var/crash"] = {100, 50};
    tw_prune p;
    p.prune_crash_dumps();
    EXPECT_FALSE(tb.exists("/var/crash/kdump/vmcore"));
    EXPECT_FALSE(tb.exists("/var/crash/kdump/127.0.0.1-x"));
    EXPECT_TRUE(tb.exists("/var/crash/kdump"));  // a location, even when emptied by a walk above it
    EXPECT_EQ(0, count_logs("Failed to remove"));
}

TEST_F(PruneTest, ADirectoryWhoseFileCouldNotBeRemovedIsNotTried) {
    tw_prune p;
    p.prune_crash_dumps();  // sets the run's start time and settings
    dump("/var/crash/a/vmcore", 200 * kHour);
    dump("/var/crash/b/vmcore", 200 * kHour);
    dump("/var/crash/c/d/vmcore", 200 * kHour);
    dump("/var/crash/c/vmcore", 200 * kHour);
    tb.logs.clear();
    EXPECT_EQ(0, p.scan_and_prune("/var/crash", true));
    // Between walk and removal a dump turns into a directory: it cannot be unlinked.
    std::filesystem::remove(tb.root + "/var/crash/b/vmcore");
    tb.make_dir("/var/crash/b/vmcore/inner");
    p.prune_files();
    p.prune_dirs();

    EXPECT_TRUE(tb.logged(-1, "tw_prune::prune_files", "Failed to remove the file [/var/crash/b/vmcore]"));
    EXPECT_EQ(1u, p.failed_files());
    EXPECT_TRUE(tb.exists("/var/crash/b"));
    EXPECT_EQ(0, count_logs("Failed to remove directory [/var/crash/b]"));
    EXPECT_FALSE(tb.exists("/var/crash/a"));
    // Deepest first, so the emptied parent goes as well.
    EXPECT_FALSE(tb.exists("/var/crash/c"));
    EXPECT_EQ(0, count_logs("Failed to remove directory"));
}

TEST_F(PruneTest, EveryRunStartsWithEmptyLists) {
    dump("/var/crash/a/vmcore", 200 * kHour);
    tb.usage["/var/crash"] = {100, 50};
    tw_prune p;
    p.prune_crash_dumps();
    EXPECT_FALSE(tb.exists("/var/crash/a"));
    tb.logs.clear();
    // Another object, a later run: nothing of the first run is removed again.
    tw_prune q;
    q.prune_crash_dumps();
    EXPECT_EQ(0, count_logs("Successfully removed"));
    EXPECT_EQ(0, count_logs("Failed to remove"));
}

TEST_F(PruneTest, AMissingLocationIsNoError) {
    tw_prune p;
    EXPECT_NE(0, p.scan_and_prune("/var/log/core", false));
    EXPECT_TRUE(tb.logged(1, "tw_prune::scan_and_prune", "Prune location [/var/log/core] does not exist"));
    EXPECT_TRUE(tb.logged(0, "tw_prune::tw_prune", "Creating tw_prune instance"));
}

TEST_F(PruneTest, LinksAreNeitherFollowedNorRemoved) {
    dump("/outside/precious", 500 * kHour);
    tb.make_dir("/var/crash/a");
    ASSERT_EQ(0, ::symlink((tb.root + "/outside").c_str(), (tb.root + "/var/crash/a/link").c_str()));
    ASSERT_EQ(0, ::symlink((tb.root + "/outside/precious").c_str(), (tb.root + "/var/crash/a/file").c_str()));
    tb.usage["/"] = {100, 1};
    tw_prune p;
    p.prune_crash_dumps();
    EXPECT_TRUE(tb.exists("/outside/precious"));
    EXPECT_TRUE(tb.exists("/var/crash/a/link"));
    EXPECT_TRUE(tb.exists("/var/crash/a/file"));
}

// Whoever can write in a dump directory may swap what the walk noted between
// the walk and the removal: nothing outside what the walk saw is removed.
TEST_F(PruneTest, EntriesSwappedAfterTheWalkAreLeftAlone) {
    struct swap {
        const char* what;
        std::function<void(test_backend&)> stage;
        const char* kept;  // the attacker's target, which must survive
        const char* log_text;  // the line saying why
    };
    const swap cases[] = {
        {"directory for a link",
         [](test_backend& t) {
             std::filesystem::rename(t.root + "/var/crash/x", t.root + "/var/crash/x.old");
             ::symlink((t.root + "/etc").c_str(), (t.root + "/var/crash/x").c_str());
         },
         "/etc/vmcore", "Left [/var/crash/x/vmcore] alone: [/var/crash/x] is no longer what the walk saw"},
        {"directory for another directory",
         [](test_backend& t) {
             std::filesystem::rename(t.root + "/var/crash/x", t.root + "/var/crash/x.old");
             t.write_file("/var/crash/x/vmcore", "theirs");
         },
         "/var/crash/x/vmcore", "Left [/var/crash/x/vmcore] alone: [/var/crash/x] is no longer what the walk saw"},
        {"file for a link",
         [](test_backend& t) {
             std::filesystem::remove(t.root + "/var/crash/x/vmcore");
             ::symlink((t.root + "/etc/vmcore").c_str(), (t.root + "/var/crash/x/vmcore").c_str());
         },
         "/etc/vmcore", "Left [/var/crash/x/vmcore] alone: [/var/crash/x/vmcore] is no longer what the walk saw"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test_backend t;
        t.make_dir("/run");
        t.usage["/"] = {100, 50};
        t.write_file("/etc/vmcore", "precious");
        tw_prune p;
        p.prune_crash_dumps();  // the run's start time and settings
        dump_in(t, "/var/crash/x/vmcore", 200 * kHour);
        ASSERT_EQ(0, p.scan_and_prune("/var/crash", true));
        c.stage(t);
        p.prune_files();
        p.prune_dirs();
        EXPECT_TRUE(t.exists(c.kept));
        EXPECT_TRUE(t.exists("/etc/vmcore"));
        EXPECT_TRUE(t.exists("/var/crash/x"));
        EXPECT_EQ(1u, p.failed_files());
        EXPECT_EQ(0u, p.removed_files() + p.removed_dirs());
        EXPECT_TRUE(t.logged(-1, "tw_prune::prune_files", std::string(c.log_text) + " (a link or another file now)"));
    }
}

TEST_F(PruneTest, AFileAlreadyGoneIsNoFailureAndItsDirectoryStillGoes) {
    tw_prune p;
    p.prune_crash_dumps();
    dump("/var/crash/a/vmcore", 200 * kHour);
    dump("/var/crash/a/vmcore-dmesg.txt", 200 * kHour);
    ASSERT_EQ(0, p.scan_and_prune("/var/crash", true));
    std::filesystem::remove(tb.root + "/var/crash/a/vmcore");  // another pruner was faster
    p.prune_files();
    p.prune_dirs();
    EXPECT_EQ(0u, p.failed_files());
    EXPECT_EQ(1u, p.removed_files());
    EXPECT_EQ(1u, p.removed_dirs());
    EXPECT_FALSE(tb.exists("/var/crash/a"));
    EXPECT_TRUE(
        tb.logged(0, "tw_prune::prune_files", "Dump file [/var/crash/a/vmcore] was already removed by someone else"));
}

TEST_F(PruneTest, ASecondPrunerWaitsItsBoundThenDoesNothing) {
    dump("/var/crash/a/vmcore", 200 * kHour);
    tidewall::locks::operation_lock other(tidewall::locks::operation::pruning);
    ASSERT_TRUE(other.held());
    tw_prune p;
    EXPECT_EQ(1, p.prune_crash_dumps());
    const std::string why = "another pruning is running (pid " + std::to_string(::getpid()) + ")";
    EXPECT_EQ(why, p.error_message());
    EXPECT_TRUE(tb.logged(-1, "tw_prune::prune_crash_dumps", why));
    EXPECT_TRUE(tb.exists("/var/crash/a/vmcore"));
    unsigned waited = 0;
    for (unsigned ms : tb.sleeps) waited += ms;
    EXPECT_EQ(tidewall::locks::kOperationWaitMs, waited);
}

}  // namespace

namespace {

const char* kSsh = "ssh -o BatchMode=yes -o ConnectTimeout=10 -o StrictHostKeyChecking=accept-new root@engine1 ";

TEST_F(PruneTest, TheHostedEnginesDumpsGoOnItsNode) {
    tb.set_key("sOvirtHname", "engine1");
    tb.on(std::string(kSsh) + "'ls -A -- /var/log/ovirt-engine/dump'", 0, "a.dump\nb dump\n");
    tb.on(std::string(kSsh) + "'rm -f -- /var/log/ovirt-engine/dump/a.dump'", 0);
    tb.on(std::string(kSsh) + "'rm -f -- '\\''/var/log/ovirt-engine/dump/b dump'\\'''", 1);
    tw_prune p;
    EXPECT_EQ(0, p.prune_ovirt_crash_dumps());
    const char* tag = "tw_prune::prune_ovirt_crash_dumps";
    EXPECT_TRUE(tb.logged(0, tag, "Will determine the list of files to be cleaned up from hosted engine [engine1]"));
    EXPECT_TRUE(tb.logged(
        -1, tag, "Successfully removed dump file [/var/log/ovirt-engine/dump/a.dump] from remote node [engine1]"));
    EXPECT_TRUE(tb.logged(-1, tag,
                          "Failed to remove dump file [/var/log/ovirt-engine/dump/b dump] from remote node [engine1]"));
    std::vector<std::string> ssh;
    for (const auto& c : tb.commands)
        if (c.rfind("ssh ", 0) == 0) ssh.push_back(c);
    EXPECT_EQ(3u, ssh.size());
    // The engine's name is a registry read: nothing else runs on this node.
    EXPECT_EQ(ssh, tb.commands);

    // A listing that fails removes nothing.
    tb.commands.clear();
    tb.set_key("sOvirtHname", "engine2");
    tb.on(
        "ssh -o BatchMode=yes -o ConnectTimeout=10 -o StrictHostKeyChecking=accept-new root@engine2 "
        "'ls -A -- /var/log/ovirt-engine/dump'",
        255, "partial\n", "Connection refused");
    EXPECT_EQ(0, p.prune_ovirt_crash_dumps());
    EXPECT_EQ(1, std::count_if(tb.commands.begin(), tb.commands.end(),
                               [](const std::string& c) { return c.rfind("ssh", 0) == 0; }));
    for (const auto& c : tb.commands) EXPECT_EQ(std::string::npos, c.find("rm -f")) << c;
}

TEST_F(PruneTest, WithoutAHostedEngineNothingIsAskedRemotely) {
    tw_prune p;
    EXPECT_NE(0, p.prune_ovirt_crash_dumps());
    EXPECT_TRUE(tb.logged(-1, "tw_prune::prune_ovirt_crash_dumps", "Failed to detemine the ovirt engine hostname"));
    for (const auto& c : tb.commands) EXPECT_EQ(std::string::npos, c.find("ssh")) << c;
    // A whole run still ends well.
    EXPECT_EQ(0, p.prune_crash_dumps());
}

}  // namespace
