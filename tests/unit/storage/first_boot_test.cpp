// First boot: the order of its steps, all or nothing up to the registry mark,
// what runs only once after it, and the steps of its own (DDB fstab entry,
// bare-metal-recovery logs, LVM filters).

#include "fixture.h"
#include "storage_fixture.h"

#include <tidewall/tw_log.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <unistd.h>

#include "foundation/fs/node_lock.h"

using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

const std::string kModelCommand = tidewall::testing::fixture("golden/server_model.cmd");
const std::string kLvmFilter = "/opt/tessaline/Dockwright/tsgeneratelvmfilter.py";
const char* const kMark = "sArrowfieldFirstBootComplete";
const char* const kTag = "tw_storage::do_first_boot_operations";

const std::string kFstabHeader = tidewall::testing::fixture("golden/fstab_header");

// The test backend with one registry key that cannot be written.
class refusing_backend : public test_backend {
public:
    std::string refused_key;
    bool reg_set(const std::string& section, const std::string& key, const std::string& value) override {
        return key != refused_key && test_backend::reg_set(section, key, value);
    }
};

// A freshly imaged node: the DDB disk mounted, the recovery logs present, every
// tool answering. The two once-only commands answer through the fallback,
// which notes the mark as it stood when each ran.
class FirstBoot : public ::testing::Test {
protected:
    FirstBoot() {
        tb.on(kModelCommand, 0, "FUJITSU_PRIMERGYRX2540M5\n");
        tb.write_file("/etc/mtab", "/dev/sda2 / xfs rw 0 0\n/dev/sdb /tw/ddb xfs rw,noatime 0 0\n");
        tb.write_file("/etc/fstab", "UUID=aaa / xfs defaults 1 1\n");
        for (const char* d : {"/etc/logrotate.d", "/etc/iscsi", "/var/tmp", "/tw/ddb", "/var/log/tessaline"})
            tb.make_dir(d);
        tb.write_file("/var/log/bmrlogs/restore.log", "restored\n");
        tb.write_file("/etc/iscsi/initiatorname.iscsi", "InitiatorName=iqn.imaged\n");
        tb.set_key("dHOME", "/opt/tessaline/Dockwright");
        tb.on("systemctl enable kdump.service", 0);
        tb.on("systemctl restart kdump.service", 0);
        tb.fallback = [this](const std::string& cmd) -> std::optional<tidewall::host::command_result> {
            mark_at[cmd] = tb.key(kMark).value_or("(unset)");
            tidewall::host::command_result r;
            if (cmd == "/sbin/iscsi-iname") {
                r.status = once_only_fail ? 1 : 0;
                r.out = once_only_fail ? "" : "iqn.1994-05.com.redhat:fresh\n";
                return r;
            }
            if (cmd == kLvmFilter) {
                r.status = once_only_fail ? 1 : 0;
                r.out = once_only_fail ? "lvm.conf is read-only\n" : "";
                return r;
            }
            return std::nullopt;
        };
    }
    refusing_backend tb;
    storage_under_test s{tb};
    std::map<std::string, std::string> mark_at;
    bool once_only_fail = false;
};

TEST_F(FirstBoot, RunsEveryStepInOrderThenMarksThenRunsTheOnceOnlySteps) {
    ASSERT_EQ(0, s.storage.do_first_boot_operations());
    EXPECT_EQ((std::vector<std::string>{kModelCommand, "systemctl enable kdump.service",
                                        "systemctl restart kdump.service", "/sbin/iscsi-iname", kLvmFilter}),
              tb.commands);
    EXPECT_EQ("Yes", tb.key(kMark));
    EXPECT_EQ("Yes", mark_at["/sbin/iscsi-iname"]);
    EXPECT_EQ("Yes", mark_at[kLvmFilter]);
    EXPECT_EQ("Arrowfield", tb.key("sScaleoutPlatformType"));
    EXPECT_EQ(kFstabHeader +
                  "UUID=aaa      /      xfs      defaults      1   1\n"
                  "/dev/sdb      /tw/ddb      xfs      noatime,inode64,nofail      0   0\n",
              tb.read_file("/etc/fstab"));
    EXPECT_NE(std::string::npos, tb.read_file("/etc/kdump.conf").find("path /tw/ddb/crash\n"));
    EXPECT_NE(std::string::npos, tb.read_file("/etc/logrotate.conf").find("include /etc/logrotate.d\n"));
    EXPECT_NE(std::string::npos, tb.read_file("/etc/logrotate.d/glusterfs").find("maxsize 25M"));
    EXPECT_EQ("2", tb.key("nLogrotateUpdateVersion"));
    EXPECT_EQ("restored\n", tb.read_file("/var/log/tessaline/bmrlogs/restore.log"));
    EXPECT_FALSE(tb.exists("/var/log/bmrlogs"));
    EXPECT_EQ("InitiatorName=iqn.1994-05.com.redhat:fresh\n", tb.read_file("/etc/iscsi/initiatorname.iscsi"));
    for (const char* text :
         {"Successfully configured kdump on the server",
          "Successfully configured logrotate configuration on the server",
          "Successfully configured glusterfs logrotate configuration with maxsize parameter on the server",
          "Successfully moved bmrlogs to tessaline log dir", "Setting the correct IQN succeeded.",
          "Adding lvm filters in file /etc/lvm/lvm.conf succeeded."})
        EXPECT_TRUE(tb.logged(-1, kTag, text)) << text;
}

// The product log directory named by EventManager, and without it the same
// /var/log/tessaline the log itself falls back to.
TEST_F(FirstBoot, RecoveryLogsGoToTheConfiguredLogDirectory) {
    tb.registry["EventManager"]["dEVLOGDIR"] = "/srv/twlogs";
    tb.make_dir("/srv/twlogs");
    tb.write_file("/srv/twlogs/TSTidewall.log", "older lines\n");
    ASSERT_EQ(0, s.storage.do_first_boot_operations());
    EXPECT_EQ("restored\n", tb.read_file("/srv/twlogs/bmrlogs/restore.log"));
    EXPECT_EQ("older lines\n", tb.read_file("/srv/twlogs/TSTidewall.log"));
    EXPECT_FALSE(tb.exists("/var/log/bmrlogs"));
    EXPECT_FALSE(tb.exists("/var/log/tessaline/bmrlogs"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::move_bmrlogs", "Moved [/var/log/bmrlogs] to [/srv/twlogs/bmrlogs]"));
}

TEST_F(FirstBoot, FailuresOfTheOnceOnlyStepsAreOnlyLogged) {
    once_only_fail = true;
    ASSERT_EQ(0, s.storage.do_first_boot_operations());
    EXPECT_EQ("Yes", tb.key(kMark));
    EXPECT_TRUE(tb.logged(-1, kTag, "Setting the correct IQN failed."));
    EXPECT_TRUE(tb.logged(-1, kTag, "Adding lvm filters in file /etc/lvm/lvm.conf failed."));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::generate_lvm_filter",
                          "Error generating lvm filters. Output[lvm.conf is read-only\n]"));
    EXPECT_EQ("InitiatorName=iqn.imaged\n", tb.read_file("/etc/iscsi/initiatorname.iscsi"));
}

TEST_F(FirstBoot, UnwritableMarkFailsAndTheNextBootCompletesWhatWasDone) {
    tb.refused_key = kMark;
    EXPECT_EQ(-1, s.storage.do_first_boot_operations());
    EXPECT_FALSE(tb.key(kMark));
    EXPECT_TRUE(tb.logged(-1, kTag, "Failed to set registry key to indicate completion of first boot operation"));
    EXPECT_TRUE(mark_at.empty());  // neither once-only step ran
    EXPECT_EQ("restored\n", tb.read_file("/var/log/tessaline/bmrlogs/restore.log"));

    // Next boot: every step again, the logs already moved, the DDB entry corrected in place.
    tb.refused_key.clear();
    tb.commands.clear();
    ASSERT_EQ(0, s.storage.do_first_boot_operations());
    EXPECT_EQ("Yes", tb.key(kMark));
    EXPECT_EQ(5u, tb.commands.size());
    EXPECT_EQ("restored\n", tb.read_file("/var/log/tessaline/bmrlogs/restore.log"));
    std::string fstab = tb.read_file("/etc/fstab");
    EXPECT_EQ(fstab.find("/tw/ddb"), fstab.rfind("/tw/ddb"));
}

// Each failing step: -1, its message, the mark unset, and no later step run.
struct failing_step {
    const char* name;
    std::function<void(test_backend&)> break_it;
    const char* message;
    const char* last_command;  // the last command that ran
};

class FirstBootFailure : public FirstBoot, public ::testing::WithParamInterface<int> {};

const std::vector<failing_step>& failing_steps() {
    static const std::vector<failing_step> steps = {
        {"ddb", [](test_backend& tb) { tb.write_file("/etc/mtab", "/dev/sda2 / xfs rw 0 0\n"); },
         "Failed to process fstab for DDB mount path", nullptr},
        {"kdump",
         [](test_backend& tb) {
             tb.write_file("/blocked", "a file where the crash directory should go");
             tb.set_key("sArrowfieldKdumpLoc", "/blocked/crash");
         },
         "Failed to configure kdump on the server", nullptr},
        {"logrotate", [](test_backend& tb) { tb.make_dir("/etc/logrotate.conf"); },
         "Failed to configure logrotate configuration on the server", "systemctl restart kdump.service"},
        {"gluster logrotate", [](test_backend& tb) { tb.registry["Dockwright"].erase("dHOME"); },
         "Failed to configure glusterfs logrotate configuration on the server", "systemctl restart kdump.service"},
        {"bmrlogs", [](test_backend& tb) { std::filesystem::remove_all(tb.root + "/var/log/bmrlogs"); },
         "Failed to move bmrlogs to tessaline log dir", "systemctl restart kdump.service"},
    };
    return steps;
}

TEST_P(FirstBootFailure, StopsWithTheMarkUnsetAndRunsNothingLater) {
    const auto& step = failing_steps()[GetParam()];
    step.break_it(tb);
    EXPECT_EQ(-1, s.storage.do_first_boot_operations()) << step.name;
    EXPECT_FALSE(tb.key(kMark)) << step.name;
    EXPECT_TRUE(tb.logged(-1, kTag, step.message)) << step.name;
    EXPECT_EQ(step.message, tw_last_error()) << step.name;  // not a success logged at the same level
    ASSERT_FALSE(tb.commands.empty());
    EXPECT_EQ(step.last_command ? step.last_command : kModelCommand, tb.commands.back()) << step.name;
    EXPECT_EQ(tb.commands.end(), std::find(tb.commands.begin(), tb.commands.end(), "/sbin/iscsi-iname"));
    EXPECT_EQ("InitiatorName=iqn.imaged\n", tb.read_file("/etc/iscsi/initiatorname.iscsi"));
    // The platform type is set whatever happens later.
    EXPECT_EQ("Arrowfield", tb.key("sScaleoutPlatformType"));
}

INSTANTIATE_TEST_SUITE_P(Steps, FirstBootFailure, ::testing::Range(0, 5));

TEST_F(FirstBoot, MarkedNodeOnlySetsThePlatformType) {
    tb.set_key(kMark, "Yes");
    ASSERT_EQ(0, s.storage.do_first_boot_operations());
    EXPECT_EQ((std::vector<std::string>{kModelCommand}), tb.commands);
    EXPECT_EQ("Arrowfield", tb.key("sScaleoutPlatformType"));
    EXPECT_TRUE(tb.logged(-1, kTag, "Skipping logrotate configuration on the server"));
    EXPECT_FALSE(tb.exists("/etc/kdump.conf"));
    EXPECT_TRUE(tb.exists("/var/log/bmrlogs/restore.log"));
}

TEST_F(FirstBoot, OnlyAnExactYesMarksFirstBootDone) {
    for (const char* v : {"yes", "YES", "Yes ", "1", ""}) {
        tb.set_key(kMark, v);
        tb.commands.clear();
        tb.write_file("/var/log/bmrlogs/restore.log", "restored\n");
        std::filesystem::remove_all(tb.root + "/var/log/tessaline/bmrlogs");
        EXPECT_EQ(0, s.storage.do_first_boot_operations()) << v;
        EXPECT_EQ("Yes", tb.key(kMark));
        EXPECT_EQ(5u, tb.commands.size()) << v;
    }
}

TEST_F(FirstBoot, FailedPlatformTypeDoesNotStopFirstBoot) {
    tb.registry_read_only = true;
    EXPECT_EQ(-1, s.storage.do_first_boot_operations());  // the kdump location cannot be recorded either
    EXPECT_TRUE(tb.logged(-1, kTag, "Failed to set arrowfield platform type"));
    EXPECT_TRUE(tb.logged(-1, kTag, "Failed to configure kdump on the server"));
}

TEST(BmrLogs, MovedIntoTheProductLogDirectory) {
    test_backend tb;
    tb.write_file("/var/log/bmrlogs/a.log", "a\n");
    tb.make_dir("/data/logs");
    tb.registry["EventManager"]["dEVLOGDIR"] = "/data/logs";
    storage_under_test s(tb);
    EXPECT_EQ(0, s.storage.move_bmrlogs());
    EXPECT_EQ("a\n", tb.read_file("/data/logs/bmrlogs/a.log"));
    EXPECT_FALSE(tb.exists("/var/log/bmrlogs"));
}

TEST(BmrLogs, MissingLogsOrDirectoryFail) {
    test_backend tb;
    tb.make_dir("/var/log/tessaline");
    storage_under_test s(tb);
    EXPECT_EQ(-1, s.storage.move_bmrlogs());  // nothing to move, nothing moved before
    tb.write_file("/var/log/bmrlogs/a.log", "a\n");
    tb.registry["EventManager"]["dEVLOGDIR"] = "";
    EXPECT_EQ(-1, s.storage.move_bmrlogs());
    tb.registry["EventManager"]["dEVLOGDIR"] = "/no/such/dir";
    EXPECT_EQ(-1, s.storage.move_bmrlogs());
    EXPECT_TRUE(tb.exists("/var/log/bmrlogs/a.log"));
}

TEST(DdbFstab, EntryOfTheMountedDdbWithItsKindsTypeAndOptions) {
    test_backend tb;
    tb.write_file("/etc/mtab", "/dev/mapper/metadatavg-ddb /tw/ddb xfs rw 0 0\n");
    tb.write_file("/etc/fstab", "/dev/sdq /tw/ddb xfs defaults 0 0\n");
    tb.set_key("sTidewallDDBMountOptions", "noatime,nofail");
    storage_under_test s(tb);
    ASSERT_EQ(0, s.storage.process_ddb_fstab_entry());
    EXPECT_EQ(kFstabHeader + "/dev/mapper/metadatavg-ddb      /tw/ddb      xfs      noatime,nofail      0   0\n",
              tb.read_file("/etc/fstab"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::process_ddb_fstab_entry",
                          "Found [/dev/mapper/metadatavg-ddb] as the backing device for DDB"));
}

TEST(DdbFstab, UnmountedDdbOrUnwritableFstabFail) {
    test_backend tb;
    tb.write_file("/etc/mtab", "/dev/sda2 / xfs rw 0 0\n");
    storage_under_test s(tb);
    EXPECT_EQ(-1, s.storage.process_ddb_fstab_entry());
    EXPECT_TRUE(tb.logged(-1, "tw_storage::process_ddb_fstab_entry", "Failed to extract the backing device for DDB"));

    tb.write_file("/etc/mtab", "/dev/sdb /tw/ddb xfs rw 0 0\n");
    tb.make_dir("/etc/fstab");  // cannot be read or replaced
    EXPECT_EQ(-1, s.storage.process_ddb_fstab_entry());
    EXPECT_TRUE(tb.logged(-1, "tw_storage::process_ddb_fstab_entry",
                          "Failed to update system config file for [/etc/fstab] [/tw/ddb] [/dev/sdb] [xfs] "
                          "[noatime,inode64,nofail]"));
}

}  // namespace

namespace {

TEST_F(FirstBoot, AnotherFirstBootHoldingTheLockIsWaitedForThenRefused) {
    tidewall::locks::operation_lock held(tidewall::locks::operation::first_boot, 0);
    ASSERT_TRUE(held.held()) << held.message();
    std::string failure;
    EXPECT_EQ(-1, s.storage.do_first_boot_operations(failure));
    EXPECT_EQ("another first boot is running (pid " + std::to_string(::getpid()) + ")", failure);
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_FALSE(tb.key(kMark));
    EXPECT_EQ("InitiatorName=iqn.imaged\n", tb.read_file("/etc/iscsi/initiatorname.iscsi"));
}

// A boot cut short after the mark: the next one finishes the once-only steps,
// keeping a backup already made, and a boot after that runs them no more.
TEST_F(FirstBoot, StepsAfterTheMarkCutShortAreFinishedOnce) {
    struct row {
        const char* state;  // sTidewallIqnReset as the crash left it
        const char* name;  // the initiator name then
        bool backup_made;  // the crash came after the backup
    };
    for (const row& r :
         {row{"due", "InitiatorName=iqn.imaged\n", false}, row{"backed-up", "InitiatorName=iqn.imaged\n", true},
          row{"backed-up", "InitiatorName=iqn.1994-05.com.redhat:first-try\n", true}}) {
        tb.commands.clear();
        tb.set_key(kMark, "Yes");
        tb.set_key(tw_storage::kIqnResetKey, r.state);
        tb.write_file("/etc/iscsi/initiatorname.iscsi", r.name);
        std::filesystem::remove(tb.root + "/var/tmp/initiatorname.iscsi.backup");
        if (r.backup_made) tb.write_file("/var/tmp/initiatorname.iscsi.backup", "InitiatorName=iqn.imaged\n");
        ASSERT_EQ(0, s.storage.do_first_boot_operations()) << r.state;
        EXPECT_EQ((std::vector<std::string>{kModelCommand, "/sbin/iscsi-iname", kLvmFilter}), tb.commands) << r.state;
        EXPECT_EQ("InitiatorName=iqn.1994-05.com.redhat:fresh\n", tb.read_file("/etc/iscsi/initiatorname.iscsi"));
        EXPECT_EQ("InitiatorName=iqn.imaged\n", tb.read_file("/var/tmp/initiatorname.iscsi.backup")) << r.name;
        EXPECT_EQ("done", tb.key(tw_storage::kIqnResetKey));
        tb.commands.clear();
        ASSERT_EQ(0, s.storage.do_first_boot_operations());
        EXPECT_EQ((std::vector<std::string>{kModelCommand}), tb.commands);
    }
}

}  // namespace
