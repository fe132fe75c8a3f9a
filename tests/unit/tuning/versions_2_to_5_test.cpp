// Versions 2 to 5 on GlusterFS and Maldor nodes.

#include "tuning_fixture.h"

#include "tuning/perf_params_versions.h"

using namespace tidewall::testing;

namespace {

const std::vector<std::string> kSmallFileOptions = {
    "features.cache-invalidation on",    "features.cache-invalidation-timeout 600", "performance.stat-prefetch on",
    "performance.cache-invalidation on", "performance.md-cache-timeout 600",        "network.inode-lru-limit 200000",
    "performance.readdir-ahead on",      "performance.parallel-readdir on"};

std::vector<std::string> volume_sets(const test_backend& tb) {
    return commands_starting(tb, "gluster --mode=script volume set ");
}

TEST(VersionTwo, GlusterNodeOptimisesEveryVolumeButTheDavOnesThenSetsTheThresholds) {
    test_backend tb;
    use_gluster_flavour(tb);
    tb.on(kVolumeList, 0, volume_list_xml({"dav_he_vol", "backup_vol", "dav_vm_vol", "cat_vol"}));
    for (const auto& vol : {"backup_vol", "cat_vol"})
        for (const auto& o : kSmallFileOptions)
            tb.on("gluster --mode=script volume set " + std::string(vol) + " " + o + " --xml", 0, kGlusterOk);
    EXPECT_EQ(0, tw_perf_params_version_v2().configure());
    auto sets = volume_sets(tb);
    ASSERT_EQ(16u, sets.size());
    EXPECT_EQ("gluster --mode=script volume set backup_vol features.cache-invalidation on --xml", sets.front());
    EXPECT_EQ("gluster --mode=script volume set cat_vol performance.parallel-readdir on --xml", sets.back());
    EXPECT_EQ("32768", tb.key("SIDBCommitThreshold").value_or(""));
    EXPECT_EQ("1024", tb.key("MaxSFileContainerItems").value_or(""));
}

TEST(VersionTwo, GlusterFailuresStopBeforeTheRegistry) {
    {
        test_backend tb;
        use_gluster_flavour(tb);
        tb.on(kVolumeList, 1, "", "Connection failed. Please check if gluster daemon is operational.\n");
        EXPECT_EQ(1, tw_perf_params_version_v2().configure());
        EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v2::configure", "Failed to enumerate gluster volumes"));
        EXPECT_FALSE(tb.key("MaxSFileContainerItems").has_value());
    }
    {
        test_backend tb;
        use_gluster_flavour(tb);
        tb.on(kVolumeList, 0, volume_list_xml({"backup_vol"}));
        // Unscripted "volume set" commands fail.
        EXPECT_EQ(1, tw_perf_params_version_v2().configure());
        EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v2::configure",
                              "Failed to optimize volume [backup_vol] for small file access"));
        EXPECT_FALSE(tb.key("SIDBCommitThreshold").has_value());
    }
}

TEST(VersionTwo, MaldorNodeOnlySetsTheRegistryValues) {
    test_backend tb;
    use_maldor_flavour(tb);
    EXPECT_EQ(0, tw_perf_params_version_v2().configure());
    EXPECT_TRUE(volume_sets(tb).empty());
    EXPECT_EQ("32768", tb.key("SIDBCommitThreshold").value_or(""));
    EXPECT_EQ("1024", tb.key("MaxSFileContainerItems").value_or(""));
    tb.registry_read_only = true;
    EXPECT_EQ(1, tw_perf_params_version_v2().configure());
    EXPECT_TRUE(
        tb.logged(-1, "tw_perf_params_version_v2::configure", "setting reg key failed for [SIDBCommitThreshold]"));
    EXPECT_FALSE(
        tb.logged(-1, "tw_perf_params_version_v2::configure", "setting reg key failed for [MaxSFileContainerItems]"));
}

TEST(VersionThree, NodeWithoutEfiIsLeftAlone) {
    test_backend tb;
    tb.write_file("/etc/fstab", "/dev/sda1 /boot xfs defaults 0 0\n");
    EXPECT_EQ(0, tw_perf_params_version_v3().configure());
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_EQ("/dev/sda1 /boot xfs defaults 0 0\n", tb.read_file("/etc/fstab"));
}

// An EFI node whose disk's first partition holds a FAT file system with volume
// id 02DC-E00F, mounted at /boot/efi.
void efi_node(test_backend& tb) {
    tb.make_dir("/sys/firmware/efi");
    add_disk(tb, fake_disk("sda").with_partitions({"sda1"}));
    tb.write_file("/dev/sda1", "");
    std::filesystem::resize_file(tb.root + "/dev/sda1", 2 << 20);
    write_fat_boot_sector(tb, "/dev/sda1");
    tb.write_file("/etc/mtab", "/dev/sda1 /boot/efi vfat rw,relatime 0 0\n");
}

TEST(VersionThree, EfiNodeGetsTheBootEfiEntryByUuidAndRemounts) {
    test_backend tb;
    efi_node(tb);
    tb.write_file("/etc/fstab", "/dev/sda2 / xfs defaults 1 1\n/dev/sda1 /boot/efi vfat umask=0077 0 0\n");
    tb.on("umount  /boot/efi", 0);
    tb.on("mount /boot/efi", 0);
    EXPECT_EQ(0, tw_perf_params_version_v3().configure());
    EXPECT_EQ(tidewall::testing::fixture("golden/fstab_header") +
                  "/dev/sda2      /      xfs      defaults      1   1\n"
                  "UUID=\"02DC-E00F\"      /boot/efi      vfat      nofail      0   0\n",
              tb.read_file("/etc/fstab"));
    EXPECT_EQ((std::vector<std::string>{"umount  /boot/efi", "mount /boot/efi"}),
              std::vector<std::string>(tb.commands.end() - 2, tb.commands.end()));
    const char* tag = "tw_perf_params_version_v3::update_boot_efi_fstab";
    EXPECT_TRUE(tb.logged(0, tag, "Successfully updated fstab with /boot/efi mount path"));
    EXPECT_TRUE(tb.logged(0, tag, "Successfully unmounted /boot/efi mount path"));
    EXPECT_TRUE(tb.logged(0, tag, "Successfully mounted /boot/efi mount path"));
}

TEST(VersionThree, EfiFailuresAreReportedWithTheirStep) {
    {
        test_backend tb;
        efi_node(tb);
        tb.on("umount  /boot/efi", 32, "", "umount: /boot/efi: target is busy.\n");
        EXPECT_EQ(1, tw_perf_params_version_v3().configure());
        EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v3::update_boot_efi_fstab",
                              "Failed to unmount /boot/efi mount point"));
        EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v3::configure", "failed to update boot efi entry in fstab"));
        EXPECT_FALSE(ran(tb, "mount /boot/efi"));
    }
    {
        test_backend tb;
        efi_node(tb);
        tb.write_file("/etc/mtab", "");
        tb.on("mount /boot/efi", 32, "", "mount: /boot/efi: wrong fs type\n");
        EXPECT_EQ(1, tw_perf_params_version_v3().configure());
        EXPECT_FALSE(ran(tb, "umount  /boot/efi"));
        EXPECT_TRUE(tb.logged(0, "tw_perf_params_version_v3::update_boot_efi_fstab",
                              "Successfully unmounted /boot/efi mount path"));
        EXPECT_TRUE(
            tb.logged(-1, "tw_perf_params_version_v3::update_boot_efi_fstab", "Failed to mount /boot/efi mount point"));
    }
}

const std::string kDavFstab =
    "/dev/sda2 / xfs defaults 1 1\n"
    "UUID=6f1c1d2e-0b55-4d2c-9a53-0e7d2a2c4a11 /tw/dav_he xfs noatime,inode64 0 0\n"
    "/dev/sdd /tw/disk1 xfs noatime,inode64,nofail 0 0\n";

void v4_node(test_backend& tb) {
    tb.write_file("/proc/sys/fs/inotify/max_user_watches", "8192\n");
    tb.write_file("/etc/fstab", kDavFstab);
}

TEST(VersionFour, GlusterNodeRaisesWatchesAddsNofailDisablesTendrlAndBacksUpNetworkFiles) {
    test_backend tb;
    use_gluster_flavour(tb);
    v4_node(tb);
    tb.write_file("/etc/hosts", "127.0.0.1 localhost\n");
    tb.on("systemctl disable --now tendrl-node-agent.service", 1, "",
          "Failed to disable unit: Unit file tendrl-node-agent.service does not exist.\n");
    EXPECT_EQ(0, tw_perf_params_version_v4().configure());
    EXPECT_EQ("524288", tb.read_file("/proc/sys/fs/inotify/max_user_watches"));
    // The UUID reference stays (a kernel name could point at another disk after
    // a reboot); only the options change. /tw/dav_vm has no entry: none is added.
    EXPECT_EQ(tidewall::testing::fixture("golden/fstab_header") +
                  "/dev/sda2      /      xfs      defaults      1   1\n"
                  "UUID=6f1c1d2e-0b55-4d2c-9a53-0e7d2a2c4a11      /tw/dav_he      xfs      noatime,inode64,nofail      "
                  "0   0\n"
                  "/dev/sdd      /tw/disk1      xfs      noatime,inode64,nofail      0   0\n",
              tb.read_file("/etc/fstab"));
    EXPECT_TRUE(tb.logged(0, "tw_perf_params_version_v4::update_replica_volume_fstab",
                          "Successfully updated fstab with nofail argument for mount path['/tw/dav_he','/tw/dav_vm']"));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v4::disable_tendrl_node_service",
                          "Failed to disable service[tendrl-node-agent.service]."));
    EXPECT_EQ("127.0.0.1 localhost\n", tb.read_file("/var/lib/tidewall/network-backup/etc_hosts"));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v4::backup_config_files",
                          "Network configuration files backed up successfully"));
}

TEST(VersionFour, GlusterNodeWithoutDavEntriesLeavesTheFstabAlone) {
    test_backend tb;
    use_gluster_flavour(tb);
    v4_node(tb);
    const std::string fstab = "/dev/sda2 / xfs defaults 1 1\n";
    tb.write_file("/etc/fstab", fstab);
    EXPECT_EQ(0, tw_perf_params_version_v4().configure());
    EXPECT_EQ(fstab, tb.read_file("/etc/fstab"));
    EXPECT_TRUE(tb.logged(0, "tw_perf_params_version_v4::update_replica_volume_fstab",
                          "Successfully updated fstab with nofail argument for mount path['/tw/dav_he','/tw/dav_vm']"));
}

TEST(VersionFour, MaldorNodeOnlyRaisesWatchesAndDisablesTendrl) {
    test_backend tb;
    use_maldor_flavour(tb);
    v4_node(tb);
    tb.on("systemctl disable --now tendrl-node-agent.service", 0);
    EXPECT_EQ(0, tw_perf_params_version_v4().configure());
    EXPECT_EQ("524288", tb.read_file("/proc/sys/fs/inotify/max_user_watches"));
    EXPECT_EQ(kDavFstab, tb.read_file("/etc/fstab"));
    EXPECT_FALSE(tb.exists("/var/lib/tidewall/network-backup"));
    EXPECT_TRUE(tb.logged(0, "tw_perf_params_version_v4::disable_tendrl_node_service",
                          "Successfully disabled [tendrl-node-agent.service] service."));
}

// /proc forgets the limit at the next boot: sysctl.conf keeps it, once, beside
// what the file already holds.
TEST(VersionFour, TheWatchLimitIsKeptInSysctlConfForTheNextBoot) {
    for (const std::string& before :
         {std::string("kernel.sem=6000 768000 6000 128\n"),
          std::string("kernel.sem=6000 768000 6000 128\nfs.inotify.max_user_watches=8192\n"),
          std::string("kernel.sem=6000 768000 6000 128\nfs.inotify.max_user_watches=524288\n")}) {
        test_backend tb;
        use_maldor_flavour(tb);
        v4_node(tb);
        tb.make_dir("/var/lib");
        tb.write_file("/etc/sysctl.conf", before);
        tb.on("systemctl disable --now tendrl-node-agent.service", 0);
        EXPECT_EQ(0, tw_perf_params_version_v4().configure()) << before;
        EXPECT_EQ("kernel.sem=6000 768000 6000 128\nfs.inotify.max_user_watches=524288\n",
                  tb.read_file("/etc/sysctl.conf"))
            << before;
        // Run again (a repeated tuning run): the file stays as it is.
        EXPECT_EQ(0, tw_perf_params_version_v4().configure());
        EXPECT_EQ("kernel.sem=6000 768000 6000 128\nfs.inotify.max_user_watches=524288\n",
                  tb.read_file("/etc/sysctl.conf"));
    }
    // sysctl.conf that cannot be written fails the version: it would be lost at the next boot.
    test_backend tb;
    use_maldor_flavour(tb);
    v4_node(tb);
    tb.make_dir("/var/lib");
    tb.make_dir("/etc/sysctl.conf");  // a directory where the file belongs
    EXPECT_EQ(1, tw_perf_params_version_v4().configure());
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v4::update_inotify_watches",
                          "Failed to persist [fs.inotify.max_user_watches=524288] in /etc/sysctl.conf"));
}

TEST(VersionFour, FailuresOfTheWatchLimitAndTheBackupFailTheVersion) {
    {
        test_backend tb;
        use_maldor_flavour(tb);
        tb.write_file("/etc/fstab", kDavFstab);  // no /proc/sys file to write
        EXPECT_EQ(1, tw_perf_params_version_v4().configure());
        EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v4::update_inotify_watches",
                              "Failed to update /proc/sys/fs/inotify/max_user_watches to value [524288]"));
        EXPECT_TRUE(commands_starting(tb, "systemctl").empty());
    }
    {
        test_backend tb;
        use_gluster_flavour(tb);
        v4_node(tb);
        tb.write_file("/var/lib/tidewall", "a file where the backup directory belongs");
        tb.write_file("/etc/hosts", "127.0.0.1 localhost\n");
        EXPECT_EQ(1, tw_perf_params_version_v4().configure());
        EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v4::backup_config_files",
                              "Failed to backup network configuration files"));
    }
}

const std::string kAbrt = "/etc/abrt/abrt-action-save-package-data.conf";

TEST(VersionFive, GlusterNodeWidensTheHealWindowEnablesCoresAndDisablesLldpad) {
    test_backend tb;
    use_gluster_flavour(tb);
    tb.make_dir("/var/lib");
    tb.on(kVolumeList, 0, volume_list_xml({"dav_he_vol", "backup_vol", "dav_vm_vol", "cat_vol"}));
    tb.on("gluster --mode=script volume set backup_vol disperse.self-heal-window-size 8 --xml", 0, kGlusterOk);
    tb.on("gluster --mode=script volume set cat_vol disperse.self-heal-window-size 8 --xml", 0, kGlusterOk);
    tb.write_file(kAbrt, "# Will process unpackaged\nProcessUnpackaged = no\nBlackList = nspluginwrapper\n");
    tb.on("systemctl stop lldpad", 5, "", "Failed to stop lldpad.service: Unit lldpad.service not loaded.\n");
    tb.on("systemctl disable lldpad", 1, "", "Failed to disable unit: Unit file lldpad.service does not exist.\n");
    EXPECT_EQ(0, tw_perf_params_version_v5().configure());
    EXPECT_EQ(
        (std::vector<std::string>{"gluster --mode=script volume set backup_vol disperse.self-heal-window-size 8 --xml",
                                  "gluster --mode=script volume set cat_vol disperse.self-heal-window-size 8 --xml"}),
        volume_sets(tb));
    EXPECT_EQ("# Will process unpackaged\nProcessUnpackaged = yes\nBlackList = nspluginwrapper\n", tb.read_file(kAbrt));
    EXPECT_EQ("true", tb.key("nEnableCoreDump").value_or(""));
    EXPECT_TRUE(tb.logged(0, "tw_perf_params_version_v5::enable_save_core_dump",
                          "Successfully updated conf file [/etc/abrt/abrt-action-save-package-data.conf]."));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v5::disable_lldpad",
                          "Failed to disable service[systemctl disable lldpad]."));
}

TEST(VersionFive, MaldorNodeSkipsTheHealWindow) {
    test_backend tb;
    use_maldor_flavour(tb);
    tb.on("systemctl stop lldpad", 0);
    tb.on("systemctl disable lldpad", 0);
    EXPECT_EQ(0, tw_perf_params_version_v5().configure());
    EXPECT_TRUE(volume_sets(tb).empty());
    EXPECT_FALSE(tb.exists(kAbrt));  // abrt not installed: nothing written
    EXPECT_EQ("true", tb.key("nEnableCoreDump").value_or(""));
    EXPECT_TRUE(tb.logged(0, "tw_perf_params_version_v5::disable_lldpad",
                          "Successfully disabled [systemctl disable lldpad] service."));
}

TEST(VersionFive, HealWindowAndRegistryFailuresFailTheVersion) {
    {
        test_backend tb;
        use_gluster_flavour(tb);
        tb.on(kVolumeList, 0, volume_list_xml({"backup_vol"}));
        tb.on(
            "gluster --mode=script volume set backup_vol disperse.self-heal-window-size 8 --xml", 0,
            "<cliOutput><opRet>-1</opRet><opErrno>30800</opErrno><opErrstr>volume set: failed</opErrstr></cliOutput>");
        EXPECT_EQ(1, tw_perf_params_version_v5().configure());
        EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v5::set_gluster_volume_heal_windows_size",
                              "Failed to set disperse.self-heal-window-size for [backup_vol]"));
        EXPECT_TRUE(
            tb.logged(-1, "tw_perf_params_version_v5::configure", "set gluster_volume_heal_window_size failed"));
        EXPECT_FALSE(tb.key("nEnableCoreDump").has_value());
    }
    {
        test_backend tb;
        use_maldor_flavour(tb);
        tb.registry_read_only = true;
        EXPECT_EQ(1, tw_perf_params_version_v5().configure());
        EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v5::enable_save_core_dump",
                              "setting reg key failed for [nEnableCoreDump]"));
        EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v5::configure", "enable save core dump failed"));
        EXPECT_FALSE(ran(tb, "systemctl stop lldpad"));
    }
}

}  // namespace
