// Services, the gluster daemon with its peer-file repair, the hosted engine,
// SSH keys and housekeeping.

#include "storage_fixture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sys/time.h>

using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

const char* const kPeer = "/var/lib/glusterd/peers/3b1c0f6e-2f6a-4c57-9d0a-1c2e6b7f8a90";
const char* const kPeerBackup = "/var/lib/tidewall/glusterd-peers-backup/3b1c0f6e-2f6a-4c57-9d0a-1c2e6b7f8a90";
const char* const kPeerText = "uuid=3b1c0f6e-2f6a-4c57-9d0a-1c2e6b7f8a90\nstate=3\nhostname1=node2sds\n";

TEST(Services, RunningOnlyWhenTheStatusSucceedsAndSaysRunning) {
    test_backend tb;
    tb.on("service glusterd status", 0, "  glusterd.service - GlusterFS\n   Active: active (running) since Mon\n");
    tb.on("service kdump status", 0, "   Active: inactive (dead)\n");
    tb.on("service nfs status", 3, "nfs is stopped\n");
    storage_under_test s(tb);
    EXPECT_EQ(1, s.storage.is_glusterd_up());
    EXPECT_TRUE(tb.logged(0, "tw_storage::is_service_up", "service [glusterd] is up and running"));
    EXPECT_EQ(0, s.storage.is_service_up("kdump"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::is_service_up", "service [kdump] is not running"));
    EXPECT_EQ(0, s.storage.is_service_up("nfs"));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::is_service_up", "Failed to probe service [nfs] status [nfs is stopped]"));
    EXPECT_TRUE(tb.logged(2, "tw_storage::is_service_up",
                          "Service [kdump] status will be probed using command [service kdump status]"));
}

TEST(Services, StartsOnlyAServiceThatIsDown) {
    test_backend tb;
    tb.on("service sshd status", 0, "Active: active (running)\n");
    tb.on("service kdump status", 0, "Active: inactive (dead)\n");
    tb.on("systemctl start kdump", 0);
    tb.on("service 'odd name' status", 3);
    tb.on("systemctl start 'odd name'", 5, "", "Unit odd name not found.\n");
    storage_under_test s(tb);
    EXPECT_EQ(0, s.storage.bring_service_up("sshd"));
    EXPECT_EQ(0, s.storage.bring_service_up("kdump"));
    EXPECT_EQ(5, s.storage.bring_service_up("odd name"));
    EXPECT_EQ((std::vector<std::string>{"service sshd status", "service kdump status", "systemctl start kdump",
                                        "service 'odd name' status", "systemctl start 'odd name'"}),
              tb.commands);
    EXPECT_TRUE(tb.logged(0, "tw_storage::bring_service_up",
                          "Successfully started service [kdump] with command [systemctl start kdump]"));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::bring_service_up",
                          "Failed to start service [odd name] with command [systemctl start 'odd name']"));
}

class Glusterd : public ::testing::Test {
protected:
    test_backend tb;
    storage_under_test s{tb};
};

TEST_F(Glusterd, StartedAtOnceNeedsNoRepair) {
    tb.on("service glusterd start", 0);
    tb.write_file(kPeer, kPeerText);
    tb.write_file(kPeerBackup, "uuid=older\n");
    EXPECT_EQ(0, s.storage.make_glusterd_active());
    EXPECT_EQ((std::vector<std::string>{"service glusterd start"}), tb.commands);
    EXPECT_EQ(kPeerText, tb.read_file(kPeer));
    EXPECT_TRUE(tb.logged(0, "tw_storage::make_glusterd_active", "Succesfully started gluster daemon"));
}

TEST_F(Glusterd, DamagedPeerFilesAreRestoredBeforeGlusterdStarts) {
    // glusterd would start on them and turn the peer away: repaired first.
    tb.on("service glusterd start", 0);
    tb.write_file(kPeer, "");
    tb.write_file(kPeerBackup, kPeerText);
    EXPECT_EQ(0, s.storage.make_glusterd_active());
    EXPECT_EQ(kPeerText, tb.read_file(kPeer));
    EXPECT_EQ((std::vector<std::string>{"service glusterd start"}), tb.commands);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::make_glusterd_active",
                          "Gluster peer files are not healthy, restoring them before the daemon starts"));
}

TEST_F(Glusterd, DamagedPeerFilesWithoutBackupStillLetGlusterdTryToStart) {
    tb.on("service glusterd start", 1, "", "Job for glusterd.service failed.\n");
    tb.write_file(kPeer, "");
    EXPECT_THROW(s.storage.make_glusterd_active(), TsException);
    EXPECT_EQ((std::vector<std::string>{"service glusterd start"}), tb.commands);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::make_glusterd_active",
                          "Failed to restore the gluster peer files from their backup"));
    EXPECT_EQ("", tb.read_file(kPeer));
}

TEST_F(Glusterd, FailedStartWithSoundPeerFilesIsAFailure) {
    // Nothing to repair means nothing restarted: glusterd is still down.
    tb.on("service glusterd start", 1, "", "Job for glusterd.service failed.\n");
    tb.write_file(kPeer, kPeerText);
    try {
        s.storage.make_glusterd_active();
        FAIL() << "no exception";
    } catch (const TsException& e) {
        EXPECT_NE(std::string::npos, e.formatError().find("Job for glusterd.service failed."));
    }
    EXPECT_TRUE(tb.logged(-1, "tw_storage::make_glusterd_active",
                          "Failed to start gluster daemon [Job for glusterd.service failed.\n]"));
    EXPECT_EQ((std::vector<std::string>{"service glusterd start"}), tb.commands);
}

TEST_F(Glusterd, FailedRepairOrRestartIsAFailure) {
    tb.on("service glusterd start", 1, "", "failed\n");
    tb.write_file(kPeer, "");  // damaged and no backup
    EXPECT_THROW(s.storage.make_glusterd_active(), TsException);
    EXPECT_NE(0, s.storage.check_heal_glusterd_peer_files());

    tb.write_file(kPeerBackup, kPeerText);
    tb.on("glusterd", 1, "", "still failing\n");
    EXPECT_THROW(s.storage.make_glusterd_active(), TsException);
    tb.write_file(kPeer, "");
    EXPECT_EQ(1, s.storage.check_heal_glusterd_peer_files());
}

TEST_F(Glusterd, SoundPeerFilesNeedNoHealing) {
    tb.write_file(kPeer, kPeerText);
    EXPECT_EQ(0, s.storage.check_heal_glusterd_peer_files());
    EXPECT_TRUE(tb.commands.empty());
}

TEST_F(Glusterd, PeerFileBackupIsRetriedUnlessTheLastOneSucceeded) {
    tb.write_file(kPeer, kPeerText);
    tb.set_key("nGlusterdPeerFilesBackupStatus", "0");
    s.storage.check_glusterd_peer_files_backup();
    EXPECT_FALSE(tb.exists(kPeerBackup));
    EXPECT_TRUE(
        tb.logged(1, "tw_storage::check_glusterd_peer_files_backup", "Last glusterd peer file backup was successful"));

    tb.set_key("nGlusterdPeerFilesBackupStatus", "1");
    s.storage.check_glusterd_peer_files_backup();
    EXPECT_EQ(kPeerText, tb.read_file(kPeerBackup));
    EXPECT_EQ("0", tb.key("nGlusterdPeerFilesBackupStatus"));
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::check_glusterd_peer_files_backup", "Last glusterd peer files backup failed"));

    tb.registry["Dockwright"].erase("nGlusterdPeerFilesBackupStatus");
    std::filesystem::remove(tb.root + kPeerBackup);
    s.storage.check_glusterd_peer_files_backup();
    EXPECT_TRUE(tb.exists(kPeerBackup));
    EXPECT_TRUE(tb.logged(0, "tw_storage::check_glusterd_peer_files_backup",
                          "Did not get registry key nGlusterdPeerFilesBackupStatus"));
}

TEST(Services, ProductServicesRestart) {
    test_backend tb;
    tb.on("tessaline restart", 0);
    tb.on("tessaline restart", 4);
    storage_under_test s(tb);
    EXPECT_EQ(0, s.storage.restart_ts_services());
    EXPECT_EQ(100, tb.time_limits.back());
    EXPECT_EQ(4, s.storage.restart_ts_services());
    EXPECT_TRUE(tb.logged(-1, "tw_storage::restart_ts_services", "Failed to restart TS services. Errorcode [4]"));
}

TEST(HostedEngine, StatusCommandAndRegistryName) {
    test_backend tb;
    storage_under_test s(tb);
    EXPECT_EQ(0, s.storage.is_ovirt_enabled());  // not installed: the command fails
    tb.on("/usr/sbin/hosted-engine --vm-status", 0, "--== Host 1 status ==--\n");
    EXPECT_EQ(1, s.storage.is_ovirt_enabled());

    // The success message ends in a blank and names no value.
    std::string name;
    s.storage.set_hosted_engine("engine.example.net");
    EXPECT_EQ(0, s.storage.get_hosted_engine(name));
    EXPECT_EQ("engine.example.net", name);
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::get_hosted_engine", "Successfully obtained hosted engine from registry as "));
}

TEST(SshKeys, MadeOnlyWhenThePublicKeyIsMissingAndAnExistingKeyIsKept) {
    test_backend tb;
    storage_under_test s(tb);
    tb.on("ssh-keygen -q -t rsa -b 4096 -N '' -f /root/.ssh/id_rsa", 0);
    EXPECT_EQ(0, s.storage.create_ssh_keypair());
    EXPECT_TRUE(tb.exists("/root/.ssh"));
    EXPECT_EQ(std::filesystem::perms::owner_all,
              std::filesystem::status(tb.root + "/root/.ssh").permissions() & std::filesystem::perms::all);

    // A private key without its public half: the public half is derived, the key kept.
    tb.commands.clear();
    tb.write_file("/root/.ssh/id_rsa", "PRIVATE");
    tb.on("ssh-keygen -y -f /root/.ssh/id_rsa", 0, "ssh-rsa AAAAB3Nza root@node1\n");
    EXPECT_EQ(0, s.storage.create_ssh_keypair());
    EXPECT_EQ("ssh-rsa AAAAB3Nza root@node1\n", tb.read_file("/root/.ssh/id_rsa.pub"));
    EXPECT_EQ("PRIVATE", tb.read_file("/root/.ssh/id_rsa"));
    EXPECT_EQ((std::vector<std::string>{"ssh-keygen -y -f /root/.ssh/id_rsa"}), tb.commands);

    tb.commands.clear();
    EXPECT_EQ(0, s.storage.create_ssh_keypair());
    EXPECT_TRUE(tb.commands.empty());
}

TEST(SshKeys, FailedGenerationIsReported) {
    test_backend tb;
    storage_under_test s(tb);
    tb.on("ssh-keygen -q -t rsa -b 4096 -N '' -f /root/.ssh/id_rsa", 1);
    EXPECT_NE(0, s.storage.create_ssh_keypair());
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::create_ssh_keypair", "Failed to generate ssh key pair @ [/root/.ssh/id_rsa]"));
}

TEST(SshKeys, CopyWithKeyLoginOrAPasswordThatNeverReachesACommandLine) {
    test_backend tb;
    storage_under_test s(tb);
    tb.write_file("/root/.ssh/id_rsa.pub", "ssh-rsa AAAA root@node1\n");
    tb.make_dir("/var/lib");
    tb.on(
        "ssh-copy-id -i /root/.ssh/id_rsa.pub -o ConnectTimeout=10 -o StrictHostKeyChecking=accept-new "
        "-o BatchMode=yes root@node2sds",
        0);
    EXPECT_EQ(0, s.storage.copy_ssh_key("node2sds", ""));

    std::string password_file, seen;
    tb.fallback = [&](const std::string& cmd) -> std::optional<tidewall::host::command_result> {
        const std::string head = "sshpass -f ";
        if (cmd.compare(0, head.size(), head) != 0) return std::nullopt;
        password_file = cmd.substr(head.size(), cmd.find(' ', head.size()) - head.size());
        seen = tb.read_file(password_file);
        EXPECT_EQ(cmd.substr(head.size() + password_file.size()),
                  " ssh-copy-id -i /root/.ssh/id_rsa.pub -o ConnectTimeout=10 -o StrictHostKeyChecking=accept-new "
                  "root@node3sds");
        return tidewall::host::command_result{};
    };
    EXPECT_EQ(0, s.storage.copy_ssh_key("node3sds", "s3cret pass"));
    EXPECT_EQ("s3cret pass\n", seen);
    EXPECT_EQ(0u, password_file.rfind("/var/lib/tidewall/tw-sshpass.", 0));
    EXPECT_FALSE(tb.exists(password_file));
    for (const auto& c : tb.commands) EXPECT_EQ(std::string::npos, c.find("s3cret"));

    // A host that ssh would read as an option is refused without running anything.
    tb.commands.clear();
    EXPECT_NE(0, s.storage.copy_ssh_key("-oProxyCommand=touch /tmp/x", ""));
    EXPECT_NE(0, s.storage.copy_ssh_key("node2 node3", ""));
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_TRUE(tb.logged(-1, "tw_storage::copy_ssh_key", "Failed to copy ssh public key to host [node2 node3]"));
}

// A file's modification time set relative to the fake clock.
void age_file(test_backend& tb, const std::string& path, long seconds) {
    tb.write_file(path, "x");
    struct timeval tv[2] = {{static_cast<time_t>(tb.clock - seconds), 0}, {static_cast<time_t>(tb.clock - seconds), 0}};
    ASSERT_EQ(0, ::utimes((tb.root + path).c_str(), tv));
}

TEST(Housekeeping, BackupLogsGoAtSevenDaysAndOnlyCompressedOnes) {
    test_backend tb;
    storage_under_test s(tb);
    const std::string dir = "/tw/ddb/logs/gluster_backup/";
    const long day = 24 * 3600;
    age_file(tb, dir + "six-days.gz", 6 * day);
    age_file(tb, dir + "just-under.gz", 7 * day - 1);
    age_file(tb, dir + "seven-days.gz", 7 * day);
    age_file(tb, dir + "eight-days.gz", 8 * day);
    age_file(tb, dir + "eight-days.log", 8 * day);
    age_file(tb, dir + "eight-days.gz.tmp", 8 * day);
    age_file(tb, dir + "future.gz", -day);
    s.storage.cleanup_backup_logs();
    EXPECT_TRUE(tb.exists(dir + "six-days.gz"));
    EXPECT_TRUE(tb.exists(dir + "just-under.gz"));
    EXPECT_FALSE(tb.exists(dir + "seven-days.gz"));
    EXPECT_FALSE(tb.exists(dir + "eight-days.gz"));
    EXPECT_TRUE(tb.exists(dir + "eight-days.log"));
    EXPECT_TRUE(tb.exists(dir + "eight-days.gz.tmp"));
    EXPECT_TRUE(tb.exists(dir + "future.gz"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::cleanup_backup_logs",
                          "Will clean up logs files from [/tw/ddb/logs/gluster_backup/] that are older than 7 days."));
}

TEST(Housekeeping, AnOldLogThatCannotBeRemovedIsReportedAndKept) {
    test_backend tb;
    storage_under_test s(tb);
    const std::string dir = "/tw/ddb/logs/gluster_backup/";
    age_file(tb, dir + "eight-days.gz", 8 * 24 * 3600);
    tb.fail_file("unlink", dir + "eight-days.gz", EBUSY);
    s.storage.cleanup_backup_logs();
    EXPECT_TRUE(tb.exists(dir + "eight-days.gz"));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::cleanup_backup_logs",
                          "Failed to unlink file [eight-days.gz] from directory [/tw/ddb/logs/gluster_backup/]."));
}

TEST(Housekeeping, MissingBackupDirectoryIsReported) {
    test_backend tb;
    storage_under_test s(tb);
    s.storage.cleanup_backup_logs();
    EXPECT_TRUE(tb.logged(-1, "tw_storage::cleanup_backup_logs",
                          "Could not open backup directory [/tw/ddb/logs/gluster_backup/]."));
}

TEST(Housekeeping, NetworkFileBackupCommandAndItsFailureIsNoFailure) {
    test_backend tb;
    storage_under_test s(tb);
    const std::string cmd =
        "PYTHONPATH=/opt/tessaline/Dockwright python /opt/tessaline/Dockwright/tsavahi.py "
        "backup_network_to_alldata";
    tb.on(cmd, 1);
    EXPECT_EQ(0, s.storage.backup_nwfiles_localnode());
    EXPECT_EQ((std::vector<std::string>{cmd}), tb.commands);
    EXPECT_EQ((std::vector<int>{100}), tb.time_limits);
    EXPECT_TRUE(tb.logged(2, "tw_storage::backup_nwfiles_localnode",
                          "Failed to get Home directory regkey value from registry. Using default."));
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::backup_nwfiles_localnode", "Error [1] executing cmd [" + cmd + "]. Continuing.."));

    tb.set_key("dHOME", "/opt/tw home");
    tb.commands.clear();
    EXPECT_EQ(0, s.storage.backup_nwfiles_localnode());
    EXPECT_EQ("PYTHONPATH='/opt/tw home' python '/opt/tw home/tsavahi.py' backup_network_to_alldata",
              tb.commands.at(0));
}

TEST(Housekeeping, SyncregScriptOnlyOnARemoteCacheNode) {
    const std::string script = "/opt/tessaline/Dockwright/tsupgrade_syncreg.py";
    test_backend tb;
    storage_under_test s(tb);
    tb.write_file(script, "#!/bin/sh\n");
    for (const char* v : {"", "YES", "No"}) {
        tb.set_key("sRemoteCache", v);
        s.storage.invoke_syncreg_script();
    }
    EXPECT_TRUE(tb.commands.empty());

    tb.set_key("sRemoteCache", "yes");
    tb.on(script, 0);
    tb.on(script, 2, "sync failed\n");
    s.storage.invoke_syncreg_script();
    EXPECT_EQ((std::vector<std::string>{script}), tb.commands);
    EXPECT_TRUE(tb.logged(0, "tw_storage::invoke_syncreg_script", "Successfully ran syncreg script [" + script + "]"));

    tb.set_key("sRemoteCache", "Yes");
    s.storage.invoke_syncreg_script();
    EXPECT_TRUE(tb.logged(-1, "tw_storage::invoke_syncreg_script",
                          "Failed to run syncreg script [" + script + "], error [sync failed\n]"));

    std::filesystem::remove(tb.root + script);
    tb.commands.clear();
    s.storage.invoke_syncreg_script();
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_TRUE(tb.logged(-1, "tw_storage::invoke_syncreg_script", "Unable to locate syncreg script [" + script + "]"));
}

}  // namespace
