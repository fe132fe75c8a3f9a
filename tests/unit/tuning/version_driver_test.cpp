// The version walk: which versions run from which recorded version, and what
// the record says afterwards.

#include "tuning_fixture.h"

#include "foundation/fs/node_lock.h"

#include <unistd.h>

#include <chrono>
#include <thread>

using namespace tidewall::testing;

namespace {

const char* const kTag = "tw_perf_params_config::configure";

// Marks of each version's work in a run on a quiet node.
bool v1_ran(const test_backend& tb) { return ran(tb, "sysctl -p"); }
bool v2_ran(const test_backend& tb) { return tb.key("MaxSFileContainerItems").has_value(); }
bool v4_ran(const test_backend& tb) { return tb.read_file("/proc/sys/fs/inotify/max_user_watches") == "524288"; }
bool v5_ran(const test_backend& tb) { return ran(tb, "systemctl stop lldpad"); }
bool v7_ran(const test_backend& tb) { return ran(tb, "multipath"); }

TEST(VersionDriver, FreshNodeRunsEveryVersionInOrderAndRecordsSeven) {
    test_backend tb;
    quiet_node(tb);
    tw_perf_params_config tuning;
    EXPECT_EQ(0, tuning.configure());
    EXPECT_EQ("7", tb.key("nPerfParamsVersion").value_or("absent"));
    EXPECT_TRUE(tb.logged(0, kTag, "Configured version [0] Supported version [7]"));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_config::get_configured_version",
                          "reading reg key failed for [nPerfParamsVersion]"));
    EXPECT_TRUE(v1_ran(tb) && v2_ran(tb) && v4_ran(tb) && v5_ran(tb) && v7_ran(tb));
    // Version 1's commands come before version 5's, and those before version 7's.
    auto at = [&](const std::string& c) { return std::find(tb.commands.begin(), tb.commands.end(), c); };
    EXPECT_LT(at("sysctl -p"), at("systemctl stop lldpad"));
    EXPECT_LT(at("systemctl stop lldpad"), at("multipath"));
    // The record moves up one version at a time, right after each success.
    std::vector<std::string> written;
    for (const auto& e : tb.logs)
        if (e.tag == "tw_perf_params_config::set_configured_version") written.push_back(e.text);
    ASSERT_EQ(7u, written.size());
    EXPECT_EQ("reg key [nPerfParamsVersion] = [1]", written.front());
    EXPECT_EQ("reg key [nPerfParamsVersion] = [7]", written.back());
}

// The versions a call reports are the ones it applied and recorded itself.
TEST(VersionDriver, ReportsTheVersionsThisCallApplied) {
    struct row {
        const char* recorded;  // nullptr: no record
        unsigned long long first, last;
    } rows[] = {{nullptr, 1, 7}, {"4", 5, 7}, {"7", 0, 0}, {"9", 0, 0}};
    for (const auto& r : rows) {
        test_backend tb;
        quiet_node(tb);
        if (r.recorded) tb.set_key("nPerfParamsVersion", r.recorded);
        std::string failure;
        unsigned long long first = 99, last = 99;
        EXPECT_EQ(0, tw_perf_params_config().configure(failure, first, last));
        EXPECT_EQ(r.first, first) << (r.recorded ? r.recorded : "none");
        EXPECT_EQ(r.last, last) << (r.recorded ? r.recorded : "none");
    }
}

TEST(VersionDriver, PartWayRunsOnlyTheLaterVersions) {
    test_backend tb;
    quiet_node(tb);
    tb.set_key("nPerfParamsVersion", "4");
    tw_perf_params_config tuning;
    EXPECT_EQ(0, tuning.configure());
    EXPECT_EQ("7", tb.key("nPerfParamsVersion").value_or("absent"));
    EXPECT_TRUE(tb.logged(0, kTag, "Configured version [4] Supported version [7]"));
    EXPECT_FALSE(v1_ran(tb));
    EXPECT_FALSE(v2_ran(tb));
    EXPECT_FALSE(v4_ran(tb));
    EXPECT_TRUE(v5_ran(tb));
    EXPECT_TRUE(v7_ran(tb));
    EXPECT_TRUE(commands_starting(tb, "ifconfig").empty());
}

TEST(VersionDriver, AtSevenNothingRuns) {
    test_backend tb;
    quiet_node(tb);
    tb.set_key("nPerfParamsVersion", "7");
    tw_perf_params_config tuning;
    EXPECT_EQ(0, tuning.configure());
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_EQ("7", tb.key("nPerfParamsVersion").value_or("absent"));
    EXPECT_TRUE(tb.logged(0, kTag, "Configured version [7] Supported version [7]"));
}

TEST(VersionDriver, ARecordFromANewerReleaseIsLeftAlone) {
    test_backend tb;
    quiet_node(tb);
    tb.set_key("nPerfParamsVersion", "9");
    tw_perf_params_config tuning;
    EXPECT_EQ(0, tuning.configure());
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_EQ("9", tb.key("nPerfParamsVersion").value_or("absent"));
    EXPECT_TRUE(tb.logged(0, kTag, "configured version [9], supported max version [7]"));
    EXPECT_FALSE(tb.logged("Configured version [9] Supported version [7]"));
}

TEST(VersionDriver, AFailingVersionStopsTheRunAndTheNextRunStartsThere) {
    test_backend tb;
    quiet_node(tb);
    // An EFI node without any vfat partition: version 3 cannot write /boot/efi.
    tb.make_dir("/sys/firmware/efi");
    tb.make_dir("/sys/block");
    tw_perf_params_config tuning;
    EXPECT_EQ(1, tuning.configure());
    EXPECT_EQ("2", tb.key("nPerfParamsVersion").value_or("absent"));
    EXPECT_TRUE(tb.logged(-1, kTag, "configuring perf params version V3 failed"));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v3::configure", "failed to update boot efi entry in fstab"));
    EXPECT_FALSE(v4_ran(tb));
    EXPECT_FALSE(v7_ran(tb));

    // Once the node boots without EFI, the next run resumes at version 3.
    std::filesystem::remove_all(tb.root + "/sys/firmware/efi");
    tb.commands.clear();
    EXPECT_EQ(0, tuning.configure());
    EXPECT_EQ("7", tb.key("nPerfParamsVersion").value_or("absent"));
    EXPECT_TRUE(tb.logged(0, kTag, "Configured version [2] Supported version [7]"));
    EXPECT_FALSE(v1_ran(tb));
    EXPECT_TRUE(v4_ran(tb) && v7_ran(tb));
}

TEST(VersionDriver, AFailedVersionReturnsItsOwnStatus) {
    test_backend tb;
    quiet_node(tb);
    tb.on("sysctl -p", 3, "", "sysctl: cannot stat /proc/sys/kernel/sem: No such file or directory\n");
    tw_perf_params_config tuning;
    EXPECT_EQ(3, tuning.configure());
    EXPECT_FALSE(tb.key("nPerfParamsVersion").has_value());
    EXPECT_TRUE(tb.logged(-1, kTag, "configuring perf params version V1 failed"));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_config::run_cmd",
                          "command [sysctl -p] failed with error [sysctl: cannot stat /proc/sys/kernel/sem: No such "
                          "file or directory]"));
}

TEST(VersionDriver, AnUnreadableRecordCountsAsNone) {
    test_backend tb;
    quiet_node(tb);
    tb.set_key("nPerfParamsVersion", "seven");
    tw_perf_params_config tuning;
    unsigned long long v = 5;
    EXPECT_EQ(1, tuning.get_configured_version(v));
    EXPECT_EQ(5u, v);
    EXPECT_EQ(0, tuning.configure());
    EXPECT_TRUE(tb.logged(0, kTag, "Configured version [0] Supported version [7]"));
    EXPECT_EQ("7", tb.key("nPerfParamsVersion").value_or("absent"));
}

TEST(VersionDriver, ARunWaitsItsBoundForOneAlreadyGoingThenRefuses) {
    test_backend tb;
    quiet_node(tb);
    tb.set_key("nPerfParamsVersion", "6");
    tidewall::locks::operation_lock held(tidewall::locks::operation::tuning, 0);
    ASSERT_TRUE(held.held()) << held.message();
    std::string failure;
    EXPECT_EQ(1, tw_perf_params_config().configure(failure));
    EXPECT_EQ("another tuning is running (pid " + std::to_string(::getpid()) + ")", failure);
    EXPECT_TRUE(tb.commands.empty());  // version 7 never started
    unsigned waited = 0;
    for (unsigned ms : tb.sleeps) waited += ms;
    EXPECT_EQ(tidewall::locks::kOperationWaitMs, waited);
    EXPECT_EQ("6", tb.key("nPerfParamsVersion").value_or("absent"));
}

// The test backend whose registry refuses the tuning record only (read-only
// or full section).
class unrecordable_backend : public test_backend {
public:
    bool reg_set(const std::string& section, const std::string& key, const std::string& value) override {
        return key != "nPerfParamsVersion" && test_backend::reg_set(section, key, value);
    }
};

// A version applied but not recorded would be applied again by every later
// run while each said "nothing to do": the run fails and names both versions.
TEST(VersionDriver, AVersionAppliedButNotRecordedFailsTheRun) {
    struct row {
        const char* recorded;
        const char* message;
    };
    for (const row& r : {row{"6",
                             "version 7 applied but not recorded: the registry refused the write; the node "
                             "stays at version 6"},
                         row{"",
                             "version 1 applied but not recorded: the registry refused the write; the node "
                             "stays at version 0"}}) {
        unrecordable_backend tb;
        quiet_node(tb);
        if (*r.recorded) tb.set_key("nPerfParamsVersion", r.recorded);
        std::string failure;
        EXPECT_EQ(1, tw_perf_params_config().configure(failure)) << r.recorded;
        EXPECT_EQ(r.message, failure);
        EXPECT_TRUE(tb.logged(-1, kTag, r.message));
        // It stopped at the first unrecorded version: nothing later ran.
        if (!*r.recorded) {
            EXPECT_FALSE(v5_ran(tb));
        }
        EXPECT_EQ(*r.recorded ? r.recorded : "absent", tb.key("nPerfParamsVersion").value_or("absent"));
    }
}

TEST(VersionDriver, RecordIsReadAndWrittenInSectionDockwright) {
    test_backend tb;
    tw_perf_params_config tuning;
    unsigned long long v = 3;
    EXPECT_EQ(0, tuning.set_configured_version(v));
    EXPECT_EQ("3", tb.registry["Dockwright"]["nPerfParamsVersion"]);
    v = 0;
    EXPECT_EQ(0, tuning.get_configured_version(v));
    EXPECT_EQ(3u, v);
    EXPECT_TRUE(tb.logged(0, "tw_perf_params_config::get_configured_version", "reg key [nPerfParamsVersion] = [3]"));
    tb.registry_read_only = true;
    EXPECT_EQ(1, tuning.set_configured_version(v));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_config::set_configured_version",
                          "writing reg key failed for [nPerfParamsVersion]"));
}

}  // namespace
