#include "foundation/error/status.h"
#include "foundation/error/throw_error.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/shell_quote.h"

#include "test_backend.h"

#include <tidewall/ts_exception.h>
#include <tidewall/tw_log.h>
#include <tidewall/tw_perf_params_config.h>
#include <tidewall/tw_platform.h>
#include <tidewall/tw_prune.h>
#include <tidewall/tw_resource_mgr.h>
#include <tidewall/tw_storage.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <unistd.h>

using tidewall::testing::test_backend;
namespace locks = tidewall::locks;

namespace {

std::string busy(const char* what) {
    return std::string("another ") + what + " is running (pid " + std::to_string(::getpid()) + ")";
}

// A failing call leaves its own reason, never an earlier call's.
TEST(LastError, AFailingCallLeavesItsReasonForTheCaller) {
    struct row {
        const char* name;
        std::optional<locks::operation> held;  // another run of the same kind holds the node
        std::function<int()> call;  // non-zero: failed
        std::string reason;
    };
    const std::vector<row> rows = {
        {"stamp repair", locks::operation::stamp_repair, [] { return tw_storage().fix_tsln_stamps(); },
         busy("stamp repair")},
        {"first boot", locks::operation::first_boot, [] { return tw_storage().do_first_boot_operations(); },
         busy("first boot")},
        {"tuning", locks::operation::tuning, [] { return tw_perf_params_config().configure(); }, busy("tuning")},
        {"pruning", locks::operation::pruning, [] { return tw_prune().prune_crash_dumps(); }, busy("pruning")},
        {"metadata unconfigure", locks::operation::metadata_configure,
         [] {
             std::string type = "Data", vg = "metadatavg", pvs = "/dev/sdb";
             return tw_resource_mgr().unconfigure_meta_data_storage(type, vg, pvs);
         },
         busy("metadata configure")},
        {"provisioning", locks::operation::provisioning, [] { return tw_storage::provisioning_lock().held() ? 0 : 1; },
         busy("provisioning")},
        {"drive locate", std::nullopt, [] { return tw_platform().drive_locate("/tw/disk1"); },
         "drive operations are not supported on this system"},
        {"drive number", std::nullopt, [] { return tw_platform().drive_locate("HPE", "", 60); },
         "Drive number is empty. Cannot locate drive."},
        {"unmount", std::nullopt,
         [] {
             try {
                 return tw_storage().unmount("/tw/disk1");
             } catch (const TsException&) {
                 return -1;
             }
         },
         "umount  " + tidewall::shell_quote("/tw/disk1") + " failed"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        test_backend tb;
        tb.make_dir("/run");
        std::optional<locks::operation_lock> other;
        if (r.held) {
            other.emplace(*r.held, 0);
            ASSERT_TRUE(other->held()) << other->message();
        }
        tidewall::last_error::set("a reason of an earlier call");
        EXPECT_NE(0, r.call());
        EXPECT_EQ(r.reason, tw_last_error());
    }
}

TEST(LastError, ACallThatSucceedsLeavesNoReasonAndANestedCallDoesNotClearTheOuter) {
    test_backend tb;
    tidewall::last_error::set("stale");
    tb.on("umount  " + tidewall::shell_quote("/tw/disk1"), 0);
    EXPECT_EQ(0, tw_storage().unmount("/tw/disk1"));
    EXPECT_EQ("", tw_last_error());
    // Outside any call a failure logged is the news, over an older reason.
    tidewall::last_error::set("stale");
    tw_debug().logError("t", "newer");
    EXPECT_EQ("newer", tw_last_error());

    tidewall::call_scope outer;
    tw_debug().logError("t", "the first failure [%d]\n", 1);
    EXPECT_EQ(0, tw_storage().unmount("/tw/disk1"));
    tw_debug().logError("t", "a consequence");
    EXPECT_EQ("the first failure [1]", tw_last_error());
}

TEST(LastError, TheThrowHelperKeepsTagMessageSourceLineAndCode) {
    const int line = __LINE__ + 2;
    try {
        tidewall::throw_storage_error("tw_storage::mount", "mount  /dev/sdb /tw/disk1 failed");
    } catch (const TsException& e) {
        EXPECT_EQ("tw_storage::mount", e.tag());
        EXPECT_EQ("mount  /dev/sdb /tw/disk1 failed", e.message());
        EXPECT_STREQ("mount  /dev/sdb /tw/disk1 failed", e.what());
        EXPECT_EQ("tw_storage", e.source_file());
        EXPECT_EQ(line, e.line());
        EXPECT_EQ(-1, e.code());
        EXPECT_EQ("mount  /dev/sdb /tw/disk1 failed", tw_last_error());
        return;
    }
    ADD_FAILURE() << "nothing thrown";
}

TEST(LastError, AStatusTurnsIntoItsCodeAtTheBoundary) {
    EXPECT_EQ(0, tidewall::to_rc(tidewall::status::ok()));
    EXPECT_EQ(5, tidewall::to_rc(tidewall::status::failure(5, "no space")));
    EXPECT_EQ("no space", tw_last_error());
    EXPECT_EQ(-1, tidewall::status::failure(0, "a failure is never 0").code());
}

}  // namespace
