// Versions 6 and 7: Maldor node stamps, and the multipath defaults rewrite.

#include "tuning_fixture.h"

#include "tuning/perf_params_versions.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace tidewall::testing;

namespace {

void maldor_drives(test_backend& tb) {
    use_maldor_flavour(tb);
    tb.write_file("/etc/mtab", "/dev/sdb /maldor/d1 xfs rw 0 0\n/dev/sdd /maldor/d3 xfs rw 0 0\n");
    for (const char* d : {"/maldor/d1", "/maldor/d3"}) {
        tb.make_dir(d);
        tb.usage[d] = {100ULL << 30, 50ULL << 30};
    }
}

TEST(VersionSix, MaldorNodeStampsTheNodeListOnEveryDataDrive) {
    test_backend tb;
    maldor_drives(tb);
    tb.set_key("sMaldorClusterNodes", "n1,n2,n3");
    EXPECT_EQ(0, tw_perf_params_version_v6().configure());
    EXPECT_EQ("n1,n2,n3", tb.xattrs["/maldor/d1"]["trusted.maldorclusternodes"]);
    EXPECT_EQ("n1,n2,n3", tb.xattrs["/maldor/d3"]["trusted.maldorclusternodes"]);
}

TEST(VersionSix, MaldorStampFailureFailsTheVersion) {
    test_backend tb;
    maldor_drives(tb);  // no node list recorded
    EXPECT_EQ(1, tw_perf_params_version_v6().configure());
    EXPECT_TRUE(
        tb.logged(-1, "tw_perf_params_version_v6::configure", "Failed to stamp Maldor nodes as extended attributes"));
}

TEST(VersionSix, OtherFlavoursChangeNothing) {
    for (bool gluster : {true, false}) {
        test_backend tb;
        maldor_drives(tb);
        tb.set_key("sMaldorClusterNodes", "n1,n2,n3");
        if (gluster)
            use_gluster_flavour(tb);
        else
            tb.registry["Dockwright"].erase("sArrowfieldApplianceType");  // flavour undetermined
        EXPECT_EQ(0, tw_perf_params_version_v6().configure());
        EXPECT_TRUE(tb.xattrs.empty());
    }
}

struct multipath_node {
    multipath_node() {
        tb.make_dir("/var/lib");
        tb.make_dir("/etc");
        tb.on("multipath", 0);
    }
    std::string rewrite(const std::string& before) {
        tb.write_file("/etc/multipath.conf", before);
        EXPECT_EQ(0, tw_perf_params_version_v7().update_multipath_config());
        return tb.read_file("/etc/multipath.conf");
    }
    test_backend tb;
};

TEST(MultipathDefaults, TheSettingBecomesTheFirstLineOfTheDefaultsSection) {
    multipath_node n;
    // An old value anywhere in the section is replaced; other sections keep theirs.
    EXPECT_EQ(
        "defaults {\n"
        "    no_path_retry 4\n"
        "    user_friendly_names yes\n"
        "    find_multipaths yes\n"
        "}\n"
        "devices {\n"
        "  device {\n"
        "    vendor \"NETAPP\"\n"
        "    no_path_retry queue\n"
        "  }\n"
        "}\n",
        n.rewrite("defaults {\n"
                  "    user_friendly_names yes\n"
                  "    no_path_retry fail\n"
                  "    find_multipaths yes\n"
                  "\tno_path_retry 12\n"
                  "}\n"
                  "devices {\n"
                  "  device {\n"
                  "    vendor \"NETAPP\"\n"
                  "    no_path_retry queue\n"
                  "  }\n"
                  "}\n"));
    EXPECT_EQ("multipath", n.tb.commands.back());
    EXPECT_EQ(100, n.tb.time_limits.back());  // a hung multipath must not hang the run
    EXPECT_TRUE(n.tb.logged(1, "tw_perf_params_version_v7::update_multipath_config",
                            "Adding name [no_path_retry] value = [4] to [/etc/multipath.conf] succeeded"));
    EXPECT_EQ(n.tb.read_file("/etc/multipath.conf"), n.tb.read_file("/var/lib/tidewall/multipath.conf"));
}

TEST(MultipathDefaults, ASectionIsAppendedWhenThereIsNone) {
    multipath_node n;
    EXPECT_EQ("blacklist {\n    devnode \"^sd[a]$\"\n}\ndefaults {\n\tno_path_retry 4\n}\n",
              n.rewrite("blacklist {\n    devnode \"^sd[a]$\"\n}\n"));
    // No file at all: the file holds only the section.
    std::filesystem::remove(n.tb.root + "/etc/multipath.conf");
    EXPECT_EQ(0, tw_perf_params_version_v7().update_multipath_config());
    EXPECT_EQ("defaults {\n\tno_path_retry 4\n}\n", n.tb.read_file("/etc/multipath.conf"));
}

TEST(MultipathDefaults, EmptyLinesGoAndBlankLinesPrefixTheNextLine) {
    multipath_node n;
    EXPECT_EQ(
        "# device-mapper-multipath configuration\n"
        "defaults {\n"
        "    no_path_retry 4\n"
        "  \t    polling_interval 10\n"
        "}\n"
        "# end\n",
        n.rewrite("# device-mapper-multipath configuration\n"
                  "\n"
                  "defaults {\n"
                  "  \t\n"
                  "    polling_interval 10\n"
                  "}\n"
                  "\n"
                  "\n"
                  "# end\n"));
}

TEST(MultipathDefaults, EverySectionBeginningWithDefaultsGetsTheSetting) {
    multipath_node n;
    const std::string once =
        n.rewrite("defaults {\n}\noverrides {\n  no_path_retry 8\n}\ndefaults {\n  no_path_retry 2\n}\n");
    EXPECT_EQ(
        "defaults {\n    no_path_retry 4\n}\noverrides {\n  no_path_retry 8\n}\ndefaults {\n    no_path_retry 4\n}\n",
        once);
    // A second run finds its own setting and writes the same bytes.
    EXPECT_EQ(once, n.rewrite(once));
}

TEST(MultipathDefaults, KeepsTheFilesModeAndRefusesPlantedLinks) {
    multipath_node n;
    n.tb.write_file("/etc/multipath.conf", "defaults {\n}\n");
    ASSERT_EQ(0, ::chmod((n.tb.root + "/etc/multipath.conf").c_str(), 0600));
    EXPECT_EQ(0, tw_perf_params_version_v7().update_multipath_config());
    struct stat st {};
    ASSERT_EQ(0, ::stat((n.tb.root + "/etc/multipath.conf").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);

    // A link or FIFO at the old /tmp name gets nothing; a link in the state
    // directory is replaced by the copy, not written through.
    n.tb.write_file("/etc/precious", "keep\n");
    n.tb.make_dir("/tmp");
    ASSERT_EQ(0, ::symlink((n.tb.root + "/etc/precious").c_str(), (n.tb.root + "/tmp/multipath.conf").c_str()));
    std::filesystem::remove(n.tb.root + "/var/lib/tidewall/multipath.conf");
    ASSERT_EQ(
        0, ::symlink((n.tb.root + "/etc/precious").c_str(), (n.tb.root + "/var/lib/tidewall/multipath.conf").c_str()));
    n.tb.write_file("/etc/multipath.conf", "defaults {\n}\nblacklist {\n}\n");
    EXPECT_EQ(0, tw_perf_params_version_v7().update_multipath_config());
    EXPECT_EQ("keep\n", n.tb.read_file("/etc/precious"));
    EXPECT_FALSE(std::filesystem::is_symlink(n.tb.root + "/var/lib/tidewall/multipath.conf"));
    EXPECT_EQ(n.tb.read_file("/etc/multipath.conf"), n.tb.read_file("/var/lib/tidewall/multipath.conf"));

    // No safe state directory: the version fails and the configuration stays.
    ASSERT_EQ(0, ::chmod((n.tb.root + "/var/lib/tidewall").c_str(), 0777));
    n.tb.write_file("/etc/multipath.conf", "defaults {\n}\nblacklist {\n}\n");
    EXPECT_EQ(1, tw_perf_params_version_v7().update_multipath_config());
    EXPECT_EQ("defaults {\n}\nblacklist {\n}\n", n.tb.read_file("/etc/multipath.conf"));
    EXPECT_TRUE(n.tb.logged(-1, "tw_perf_params_version_v7::update_multipath_config",
                            "Adding name [no_path_retry] value = [4] to [/etc/multipath.conf] failed"));
}

TEST(VersionSeven, MultipathFailureFailsTheVersion) {
    test_backend tb;
    tb.make_dir("/var/lib");
    tb.make_dir("/etc");
    tb.on("multipath", 1, "", "sh: 1: multipath: not found\n");
    EXPECT_EQ(1, tw_perf_params_version_v7().configure());
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v7::update_multipath_config",
                          "Failed to reload multipath. Error: [sh: 1: multipath: not found]"));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v7::configure", "Failed to update multipath config file"));
    EXPECT_TRUE(commands_starting(tb, "PYTHONPATH=").empty());
}

// No multipath tool (the shell's 127): nothing to reload, the version completes
// with the file written for when the tool comes.
TEST(VersionSeven, NoMultipathToolCompletesTheVersion) {
    test_backend tb;
    tb.make_dir("/var/lib");
    tb.make_dir("/etc");
    tb.on("multipath", 127, "", "sh: 1: multipath: not found\n");
    EXPECT_EQ(0, tw_perf_params_version_v7().configure());
    EXPECT_EQ("defaults {\n\tno_path_retry 4\n}\n", tb.read_file("/etc/multipath.conf"));
    EXPECT_TRUE(tb.logged(1, "tw_perf_params_version_v7::update_multipath_config",
                          "multipath is not installed; [/etc/multipath.conf] written, nothing to reload"));
    EXPECT_FALSE(tb.logged("Failed to update multipath config file"));
}

TEST(VersionSeven, BacksUpTheNetworkFilesToTheDataDrives) {
    test_backend tb;
    tb.make_dir("/var/lib");
    tb.make_dir("/etc");
    tb.on("multipath", 0);
    tb.set_key("dHOME", "/opt/tw");
    // The backup script's own failure is logged by the storage manager; the
    // version goes on.
    tb.on("PYTHONPATH=/opt/tw python /opt/tw/tsavahi.py backup_network_to_alldata", 1);
    EXPECT_EQ(0, tw_perf_params_version_v7().configure());
    EXPECT_TRUE(ran(tb, "PYTHONPATH=/opt/tw python /opt/tw/tsavahi.py backup_network_to_alldata"));
    EXPECT_TRUE(tb.logged(0, "tw_perf_params_version_v7::backup_config_files",
                          "Network configuration files backed up successfully"));
}

}  // namespace
