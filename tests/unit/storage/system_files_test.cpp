// The system files first boot writes, byte for byte: /etc/kdump.conf,
// /etc/logrotate.conf, both versions of /etc/logrotate.d/glusterfs and the iSCSI
// initiator name; and the versioning of the gluster log rotation.

#include "fixture.h"
#include "storage_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <vector>

using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

const std::string kKdumpEnable = "systemctl enable kdump.service";
const std::string kKdumpRestart = "systemctl restart kdump.service";

const std::string kLogrotateConf = tidewall::testing::fixture("golden/logrotate.conf");

const std::string kGlusterV1 = tidewall::testing::fixture("golden/logrotate.d-glusterfs.v1");

const std::string kGlusterV2 = tidewall::testing::fixture("golden/logrotate.d-glusterfs.v2");

class SystemFiles : public ::testing::Test {
protected:
    SystemFiles() {
        tb.make_dir("/etc/logrotate.d");
        tb.make_dir("/etc/iscsi");
        tb.make_dir("/var/tmp");
        tb.make_dir("/tw");
        tb.set_key("dHOME", "/opt/tessaline/Dockwright");
    }
    test_backend tb;
    storage_under_test s{tb};
};

TEST_F(SystemFiles, KdumpWithTheDefaultLocationRecordsIt) {
    tb.on(kKdumpEnable, 0);
    tb.on(kKdumpRestart, 0);
    ASSERT_EQ(0, s.storage.configure_kdump());
    EXPECT_EQ(
        "#\n#/etc/kdump.conf\n#Created by Tessaline Arrowfield\n#\n"
        "path /tw/ddb/crash\n"
        "core_collector makedumpfile -l --message-level 1 -d 31\n",
        tb.read_file("/etc/kdump.conf"));
    EXPECT_EQ("/tw/ddb/crash", tb.key("sArrowfieldKdumpLoc"));
    EXPECT_TRUE(tb.exists("/tw/ddb/crash"));
    EXPECT_EQ((std::vector<std::string>{kKdumpEnable, kKdumpRestart}), tb.commands);
}

TEST_F(SystemFiles, KdumpAtTheRecordedLocationReplacesTheOldFileKeepingItsMode) {
    tb.set_key("sArrowfieldKdumpLoc", "/var/crash/tw");
    tb.write_file("/etc/kdump.conf", "path /var/crash\nold line that must go\n");
    ::chmod((tb.root + "/etc/kdump.conf").c_str(), 0600);
    tb.on(kKdumpEnable, 0);
    tb.on(kKdumpRestart, 0);
    ASSERT_EQ(0, s.storage.configure_kdump());
    EXPECT_EQ(
        "#\n#/etc/kdump.conf\n#Created by Tessaline Arrowfield\n#\n"
        "path /var/crash/tw\n"
        "core_collector makedumpfile -l --message-level 1 -d 31\n",
        tb.read_file("/etc/kdump.conf"));
    struct stat st {};
    ASSERT_EQ(0, ::stat((tb.root + "/etc/kdump.conf").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    EXPECT_TRUE(tb.exists("/var/crash/tw"));
}

TEST_F(SystemFiles, KdumpStopsAtTheFirstFailure) {
    tb.on(kKdumpEnable, 3, "", "Failed to enable unit: Unit file kdump.service does not exist.\n");
    EXPECT_EQ(3, s.storage.configure_kdump());
    EXPECT_EQ((std::vector<std::string>{kKdumpEnable}), tb.commands);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::configure_kdump",
                          "command [systemctl enable kdump.service] failed with error [Failed to enable unit: Unit "
                          "file kdump.service does not exist.\n]"));

    tb.commands.clear();
    tb.write_file("/blocked", "a file where a directory should go");
    tb.set_key("sArrowfieldKdumpLoc", "/blocked/crash");
    EXPECT_EQ(-1, s.storage.configure_kdump());
    EXPECT_TRUE(tb.logged(-1, "tw_storage::configure_kdump", "Failed to create directory [/blocked/crash]"));
    EXPECT_TRUE(tb.commands.empty());
}

TEST(Kdump, UnrecordableLocationStopsBeforeAnything) {
    test_backend tb;
    tb.registry_read_only = true;
    storage_under_test s(tb);
    EXPECT_EQ(-1, s.storage.configure_kdump());
    EXPECT_TRUE(tb.logged(-1, "tw_storage::configure_kdump", "Failed to set registry key to indicate KDUMP location"));
    EXPECT_FALSE(tb.exists("/etc/kdump.conf"));
    EXPECT_TRUE(tb.commands.empty());
}

TEST_F(SystemFiles, KdumpIsNotEnabledOnAConfigurationThatWasNotWritten) {
    tb.make_dir("/etc/kdump.conf/in-the-way");  // a directory cannot be replaced by the file
    EXPECT_EQ(-1, s.storage.configure_kdump());
    EXPECT_TRUE(tb.commands.empty());
}

TEST_F(SystemFiles, GlobalLogrotateBytes) {
    tb.write_file("/etc/logrotate.conf", "weekly\n");
    ASSERT_EQ(0, s.storage.create_global_logrotate_config());
    EXPECT_EQ(kLogrotateConf, tb.read_file("/etc/logrotate.conf"));
    std::remove((tb.root + "/etc/logrotate.conf").c_str());
    tb.make_dir("/etc/logrotate.conf");
    EXPECT_EQ(-1, s.storage.create_global_logrotate_config());
}

TEST_F(SystemFiles, GlusterLogrotateVersionsAndTheirRecord) {
    ASSERT_EQ(0, s.storage.create_glusterfs_logrotate_conf());
    EXPECT_EQ(kGlusterV1, tb.read_file("/etc/logrotate.d/glusterfs"));
    EXPECT_EQ("1", tb.key("nLogrotateUpdateVersion"));
    ASSERT_EQ(0, s.storage.create_glusterfs_logrotate_maxsize_conf());
    EXPECT_EQ(kGlusterV2, tb.read_file("/etc/logrotate.d/glusterfs"));
    EXPECT_EQ("2", tb.key("nLogrotateUpdateVersion"));
}

TEST_F(SystemFiles, GlusterLogrotateScriptPathsAreQuotedWhenTheyNeedIt) {
    tb.set_key("dHOME", "/opt/tessaline home");
    ASSERT_EQ(0, s.storage.create_glusterfs_logrotate_conf());
    std::string text = tb.read_file("/etc/logrotate.d/glusterfs");
    EXPECT_NE(std::string::npos, text.find("\n    '/opt/tessaline home/ts_firstaction.sh' > /dev/null 2>&1\n"));
    EXPECT_NE(std::string::npos,
              text.find("\n    '/opt/tessaline home/ts_postscript.sh' /var/log/glusterfs > /dev/null 2>&1\n"));
}

TEST_F(SystemFiles, GlusterLogrotateNeedsTheHomeKeyAndAWritableDirectory) {
    tb.registry["Dockwright"].erase("dHOME");
    EXPECT_EQ(-1, s.storage.create_glusterfs_logrotate_conf());
    EXPECT_EQ(-1, s.storage.create_glusterfs_logrotate_maxsize_conf());
    EXPECT_FALSE(tb.exists("/etc/logrotate.d/glusterfs"));
    EXPECT_FALSE(tb.key("nLogrotateUpdateVersion"));

    tb.set_key("dHOME", "/opt/tessaline/Dockwright");
    tb.make_dir("/etc/logrotate.d/glusterfs");  // cannot be replaced by a file
    EXPECT_EQ(-1, s.storage.create_glusterfs_logrotate_conf());
    EXPECT_FALSE(tb.key("nLogrotateUpdateVersion"));
}

TEST_F(SystemFiles, SwitcherRetriesThreeTimesAndRefusesUnknownVersions) {
    EXPECT_EQ(-1, s.storage.switcher(3));
    EXPECT_EQ(-1, s.storage.switcher(0));
    EXPECT_FALSE(tb.exists("/etc/logrotate.d/glusterfs"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::switcher", "switcher invoked with func_num : 3"));

    tb.registry["Dockwright"].erase("dHOME");
    EXPECT_EQ(-1, s.storage.switcher(2));
    for (int attempt = 1; attempt <= 3; ++attempt)
        EXPECT_TRUE(tb.logged(-1, "tw_storage::switcher",
                              "Failed to update glusterfs logrotate with maxsize. Retrying, attempt: " +
                                  std::to_string(attempt)));
    EXPECT_FALSE(tb.logged(-1, "tw_storage::switcher",
                           "Failed to update glusterfs logrotate with maxsize. Retrying, attempt: 4"));
    EXPECT_EQ(-1, s.storage.switcher(1));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::switcher", "Failed to update glusterfs logrotate. Retrying, attempt: 3"));

    tb.set_key("dHOME", "/opt/tessaline/Dockwright");
    EXPECT_EQ(0, s.storage.switcher(1));
    EXPECT_TRUE(tb.logged(0, "tw_storage::switcher", "Successfully updated glusterfs logrotate."));
    EXPECT_EQ(kGlusterV1, tb.read_file("/etc/logrotate.d/glusterfs"));
}

TEST_F(SystemFiles, UpdateInstallsEveryVersionAboveTheRecordedOne) {
    // No record: version 1, then version 2.
    s.storage.update_logrotate();
    EXPECT_EQ(kGlusterV2, tb.read_file("/etc/logrotate.d/glusterfs"));
    EXPECT_EQ("2", tb.key("nLogrotateUpdateVersion"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::update_logrotate", "log_version is 0"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::switcher", "switcher invoked with func_num : 1"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::switcher", "switcher invoked with func_num : 2"));

    // At 1: only version 2.
    tb.logs.clear();
    tb.set_key("nLogrotateUpdateVersion", "1");
    tb.write_file("/etc/logrotate.d/glusterfs", kGlusterV1);
    s.storage.update_logrotate();
    EXPECT_EQ(kGlusterV2, tb.read_file("/etc/logrotate.d/glusterfs"));
    EXPECT_FALSE(tb.logged(0, "tw_storage::switcher", "switcher invoked with func_num : 1"));

    // At 2 or above (or a number past any int): nothing.
    for (const char* v : {"2", "7", "4294967295"}) {
        tb.logs.clear();
        tb.set_key("nLogrotateUpdateVersion", v);
        tb.write_file("/etc/logrotate.d/glusterfs", "local edits\n");
        s.storage.update_logrotate();
        EXPECT_EQ("local edits\n", tb.read_file("/etc/logrotate.d/glusterfs")) << v;
        EXPECT_EQ(v, tb.key("nLogrotateUpdateVersion"));
    }
}

TEST_F(SystemFiles, FreshInitiatorNameWithTheOldOneKept) {
    tb.write_file("/etc/iscsi/initiatorname.iscsi", "InitiatorName=iqn.1994-05.com.redhat:imaged\n");
    tb.on("/sbin/iscsi-iname", 0, "iqn.1994-05.com.redhat:5f3c9a0b1d2e\n");
    ASSERT_EQ(0, s.storage.reset_iqn());
    EXPECT_EQ("InitiatorName=iqn.1994-05.com.redhat:5f3c9a0b1d2e\n", tb.read_file("/etc/iscsi/initiatorname.iscsi"));
    EXPECT_EQ("InitiatorName=iqn.1994-05.com.redhat:imaged\n", tb.read_file("/var/tmp/initiatorname.iscsi.backup"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::rest_iqn",
                          "Copying file [/etc/iscsi/initiatorname.iscsi] as [/var/tmp/initiatorname.iscsi.backup]."));
}

TEST_F(SystemFiles, InitiatorNameKeptWhenNoNewOneComes) {
    tb.write_file("/etc/iscsi/initiatorname.iscsi", "InitiatorName=iqn.old\n");
    tb.on("/sbin/iscsi-iname", 127, "", "sh: 1: /sbin/iscsi-iname: not found\n");
    EXPECT_EQ(127, s.storage.reset_iqn());
    EXPECT_TRUE(tb.logged(-1, "tw_storage::rest_iqn",
                          "Failed to get IQN from the system. Error [sh: 1: /sbin/iscsi-iname: not found\n]"));
    EXPECT_EQ("InitiatorName=iqn.old\n", tb.read_file("/etc/iscsi/initiatorname.iscsi"));
}

TEST_F(SystemFiles, EmptyInitiatorNameIsRefused) {
    tb.write_file("/etc/iscsi/initiatorname.iscsi", "InitiatorName=iqn.old\n");
    tb.on("/sbin/iscsi-iname", 0, "\n");
    EXPECT_NE(0, s.storage.reset_iqn());
    EXPECT_EQ("InitiatorName=iqn.old\n", tb.read_file("/etc/iscsi/initiatorname.iscsi"));
}

// The backup at the fixed name in /var/tmp holds the name from before the
// first reset: kept once recorded, made afresh otherwise, and whatever another
// account planted there is removed, never written through.
TEST_F(SystemFiles, InitiatorNameBackupIsMadeOnceAndNeverThroughWhatIsPlanted) {
    const std::string backup = "/var/tmp/initiatorname.iscsi.backup";
    struct row {
        const char* what;
        const char* state;  // sTidewallIqnReset before the reset
        std::function<void(test_backend&)> plant;
        const char* backup_after;
    };
    const std::vector<row> rows = {
        {"stale file, nothing recorded", "",
         [&](test_backend& tb) { tb.write_file(backup, "InitiatorName=iqn.from-the-image-build\n"); },
         "InitiatorName=iqn.current\n"},
        {"recorded backup kept", "backed-up",
         [&](test_backend& tb) { tb.write_file(backup, "InitiatorName=iqn.original\n"); },
         "InitiatorName=iqn.original\n"},
        {"recorded, a link planted instead", "done",
         [&](test_backend& tb) {
             tb.write_file("/etc/victim", "root-only\n");
             std::filesystem::create_symlink(tb.root + "/etc/victim", tb.root + backup);
         },
         "InitiatorName=iqn.current\n"},
        {"a FIFO planted", "", [&](test_backend& tb) { ASSERT_EQ(0, ::mkfifo((tb.root + backup).c_str(), 0666)); },
         "InitiatorName=iqn.current\n"},
    };
    for (const row& r : rows) {
        std::filesystem::remove_all(tb.root + backup);
        tb.registry["Dockwright"].erase(tw_storage::kIqnResetKey);
        if (*r.state) tb.set_key(tw_storage::kIqnResetKey, r.state);
        tb.write_file("/etc/iscsi/initiatorname.iscsi", "InitiatorName=iqn.current\n");
        tb.on("/sbin/iscsi-iname", 0, "iqn.1994-05.com.redhat:new\n");
        r.plant(tb);
        ASSERT_EQ(0, s.storage.reset_iqn()) << r.what;
        struct stat st {};
        ASSERT_EQ(0, ::lstat((tb.root + backup).c_str(), &st)) << r.what;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << r.what;
        EXPECT_EQ(r.backup_after, tb.read_file(backup)) << r.what;
        EXPECT_EQ("backed-up", tb.key(tw_storage::kIqnResetKey)) << r.what;
        EXPECT_EQ("InitiatorName=iqn.1994-05.com.redhat:new\n", tb.read_file("/etc/iscsi/initiatorname.iscsi"));
        if (tb.exists("/etc/victim")) {
            EXPECT_EQ("root-only\n", tb.read_file("/etc/victim")) << r.what;
        }
    }
}

TEST_F(SystemFiles, InitiatorNameUnchangedWhenNoBackupCanBeMade) {
    tb.write_file("/etc/iscsi/initiatorname.iscsi", "InitiatorName=iqn.current\n");
    tb.write_file("/var/tmp/initiatorname.iscsi.backup/kept", "a directory that is not empty\n");
    tb.on("/sbin/iscsi-iname", 0, "iqn.1994-05.com.redhat:new\n");
    EXPECT_EQ(-1, s.storage.reset_iqn());
    EXPECT_EQ("InitiatorName=iqn.current\n", tb.read_file("/etc/iscsi/initiatorname.iscsi"));
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_EQ("a directory that is not empty\n", tb.read_file("/var/tmp/initiatorname.iscsi.backup/kept"));
}

}  // namespace
