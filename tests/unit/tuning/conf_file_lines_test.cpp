// update_conf_file: the exact bytes it leaves in the file, the .bak copy, and
// what it refuses to do; run_cmd and user_exist.

#include "tuning_fixture.h"

#include "tuning/perf_params_versions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

using namespace tidewall::testing;

namespace {

const char* const kTag = "tw_perf_params_config::update_conf_file";

struct conf_node {
    conf_node() { tb.make_dir("/var/lib"); }
    test_backend tb;
    tw_perf_params_config tuning;
};

TEST(UpdateConfFile, ReplacesEveryLineStartingWithTheNameKeepingItsIndentation) {
    conf_node n;
    const std::string before =
        "# thin_pool_autoextend_threshold = 70 is a comment\n"
        "activation {\n"
        "\tthin_pool_autoextend_threshold = 100\n"
        "  \t  thin_pool_autoextend_threshold=80\n"
        "\n"
        "\t\n"
        "\tthin_pool_autoextend_percent = 20\n"
        "}";  // no final newline
    n.tb.write_file("/etc/lvm/lvm.conf", before);
    EXPECT_EQ(0, n.tuning.update_conf_file("/etc/lvm/lvm.conf", "thin_pool_autoextend_threshold",
                                           "thin_pool_autoextend_threshold = 50", false));
    EXPECT_EQ(
        "# thin_pool_autoextend_threshold = 70 is a comment\n"
        "activation {\n"
        "\tthin_pool_autoextend_threshold = 50\n"
        "  \t  thin_pool_autoextend_threshold = 50\n"
        "\n"
        "\t\n"
        "\tthin_pool_autoextend_percent = 20\n"
        "}\n",
        n.tb.read_file("/etc/lvm/lvm.conf"));
    EXPECT_EQ(before, n.tb.read_file("/var/lib/tidewall/lvm.conf.bak"));
    EXPECT_EQ(n.tb.read_file("/etc/lvm/lvm.conf"), n.tb.read_file("/var/lib/tidewall/perf.conf"));
    EXPECT_TRUE(n.tb.logged(-1, kTag,
                            "name [thin_pool_autoextend_threshold]  value = [thin_pool_autoextend_threshold = 50] "
                            "succeeded"));
}

// A configuration file that is a link stays a link: the rewrite replaces its
// target, in the target's own directory, with the target's mode.
TEST(UpdateConfFile, LinkedFilesStayLinksAndTheirTargetsAreRewritten) {
    struct {
        const char* file;
        std::function<int(test_backend&)> rewrite;
        const char* expected;
    } cases[] = {
        {"/etc/sysctl.conf",
         [](test_backend&) {
             return tw_perf_params_config().update_conf_file("/etc/sysctl.conf", "vm.swappiness", "vm.swappiness = 1",
                                                             true);
         },
         "kernel.pid_max = 65536\nvm.swappiness = 1\n"},
        {"/etc/multipath.conf",
         [](test_backend& tb) {
             tb.on("multipath", 0);
             return tw_perf_params_version_v7().update_multipath_config();
         },
         "kernel.pid_max = 65536\ndefaults {\n\tno_path_retry 4\n}\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        conf_node n;
        n.tb.write_file("/srv/conf/real.conf", "kernel.pid_max = 65536\n");
        ::chmod((n.tb.root + "/srv/conf/real.conf").c_str(), 0600);
        n.tb.make_dir("/etc");
        std::filesystem::create_symlink("../srv/conf/real.conf", n.tb.root + c.file);
        ASSERT_EQ(0, c.rewrite(n.tb));
        EXPECT_TRUE(std::filesystem::is_symlink(n.tb.root + c.file));
        EXPECT_EQ(c.expected, n.tb.read_file("/srv/conf/real.conf"));
        struct stat st {};
        ASSERT_EQ(0, ::stat((n.tb.root + "/srv/conf/real.conf").c_str(), &st));
        EXPECT_EQ(0600u, st.st_mode & 07777);
        std::vector<std::string> left;
        for (const auto& e : std::filesystem::directory_iterator(n.tb.root + "/srv/conf"))
            left.push_back(e.path().filename().string());
        EXPECT_EQ(std::vector<std::string>{"real.conf"}, left);  // no temporary file left beside it
    }
}

TEST(UpdateConfFile, MissingNameIsAppendedOnlyWhenAsked) {
    conf_node n;
    n.tb.write_file("/etc/sysctl.conf", "# sysctl settings\n\nkernel.shmmax=1\nvm.swappiness=10");
    EXPECT_EQ(0, n.tuning.update_conf_file("/etc/sysctl.conf", "kernel.sem", "kernel.sem=6000 768000 6000 128", false));
    // Unchanged but for the newline after the last line; the copy is still kept.
    EXPECT_EQ("# sysctl settings\n\nkernel.shmmax=1\nvm.swappiness=10\n", n.tb.read_file("/etc/sysctl.conf"));
    EXPECT_EQ("# sysctl settings\n\nkernel.shmmax=1\nvm.swappiness=10",
              n.tb.read_file("/var/lib/tidewall/sysctl.conf.bak"));

    EXPECT_EQ(0, n.tuning.update_conf_file("/etc/sysctl.conf", "kernel.sem", "kernel.sem=6000 768000 6000 128", true));
    EXPECT_EQ("# sysctl settings\n\nkernel.shmmax=1\nvm.swappiness=10\nkernel.sem=6000 768000 6000 128\n",
              n.tb.read_file("/etc/sysctl.conf"));
    // Setting it again replaces the line instead of adding another.
    EXPECT_EQ(0, n.tuning.update_conf_file("/etc/sysctl.conf", "kernel.sem", "kernel.sem=1 2 3 4", true));
    EXPECT_EQ("# sysctl settings\n\nkernel.shmmax=1\nvm.swappiness=10\nkernel.sem=1 2 3 4\n",
              n.tb.read_file("/etc/sysctl.conf"));
}

TEST(UpdateConfFile, MissingFileIsCreatedWhenALineIsAddedAndLeftMissingOtherwise) {
    conf_node n;
    n.tb.make_dir("/etc/modprobe.d");
    EXPECT_EQ(0, n.tuning.update_conf_file("/etc/modprobe.d/tsbf.conf", "install tsbf /bin/true",
                                           "install tsbf /bin/true", true));
    EXPECT_EQ("install tsbf /bin/true\n", n.tb.read_file("/etc/modprobe.d/tsbf.conf"));
    EXPECT_FALSE(n.tb.exists("/var/lib/tidewall/tsbf.conf.bak"));

    // abrt not installed: nothing to replace, and no empty file left behind.
    EXPECT_EQ(0, n.tuning.update_conf_file("/etc/abrt/abrt-action-save-package-data.conf", "ProcessUnpackaged",
                                           "ProcessUnpackaged = yes", false));
    EXPECT_FALSE(n.tb.exists("/etc/abrt/abrt-action-save-package-data.conf"));

    // A line to add to a file in a directory that does not exist is a failure.
    EXPECT_EQ(1, n.tuning.update_conf_file("/etc/nowhere/x.conf", "a", "a=1", true));
    EXPECT_FALSE(n.tb.exists("/etc/nowhere"));
}

TEST(UpdateConfFile, KeepsModeAndReplacesTheFileRatherThanWritingIntoIt) {
    conf_node n;
    n.tb.write_file("/etc/sysconfig/network-scripts/ifcfg-em1", "DEVICE=em1\nHWADDR=00:1b:21:aa:bb:cc\n");
    std::string real = n.tb.root + "/etc/sysconfig/network-scripts/ifcfg-em1";
    ASSERT_EQ(0, ::chmod(real.c_str(), 0600));
    struct stat before {};
    ASSERT_EQ(0, ::stat(real.c_str(), &before));
    std::string name = "ETHTOOL_OPTS=\"-G em1";
    EXPECT_EQ(0, n.tuning.update_conf_file("/etc/sysconfig/network-scripts/ifcfg-em1", name,
                                           name + " tx 4096 rx 4096\"", true));
    struct stat after {};
    ASSERT_EQ(0, ::stat(real.c_str(), &after));
    EXPECT_EQ(0600u, after.st_mode & 07777);
    EXPECT_NE(before.st_ino, after.st_ino);  // a new file renamed into place
    EXPECT_EQ("DEVICE=em1\nHWADDR=00:1b:21:aa:bb:cc\nETHTOOL_OPTS=\"-G em1 tx 4096 rx 4096\"\n",
              n.tb.read_file("/etc/sysconfig/network-scripts/ifcfg-em1"));
    // No temporary file is left in the directory.
    std::list<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(n.tb.root + "/etc/sysconfig/network-scripts"))
        names.push_back(e.path().filename());
    EXPECT_EQ(std::list<std::string>{"ifcfg-em1"}, names);
}

// The copies live in the root-only state directory, 0600 whatever the file's
// mode: names planted in /tmp get nothing, and a link at a copy's name in the
// state directory is replaced, not written through.
TEST(UpdateConfFile, CopiesArePrivateAndNothingPlantedIsWrittenThrough) {
    conf_node n;
    n.tb.write_file("/etc/shadow-like", "precious\n");
    n.tb.write_file("/etc/sysctl.conf", "kernel.sem=1\n");
    n.tb.make_dir("/tmp");
    n.tb.make_dir("/var/lib/tidewall");
    for (const char* planted : {"/tmp/perf.conf", "/tmp/sysctl.conf.bak", "/var/lib/tidewall/sysctl.conf.bak"})
        ASSERT_EQ(0, ::symlink((n.tb.root + "/etc/shadow-like").c_str(), (n.tb.root + planted).c_str())) << planted;
    EXPECT_EQ(0, n.tuning.update_conf_file("/etc/sysctl.conf", "kernel.sem", "kernel.sem=2", true));
    EXPECT_EQ("precious\n", n.tb.read_file("/etc/shadow-like"));
    EXPECT_EQ("kernel.sem=2\n", n.tb.read_file("/etc/sysctl.conf"));
    EXPECT_TRUE(std::filesystem::is_symlink(n.tb.root + "/tmp/perf.conf"));
    for (const auto& [copy, text] :
         {std::pair<const char*, const char*>{"/var/lib/tidewall/sysctl.conf.bak", "kernel.sem=1\n"},
          {"/var/lib/tidewall/perf.conf", "kernel.sem=2\n"}}) {
        struct stat st {};
        ASSERT_EQ(0, ::lstat((n.tb.root + copy).c_str(), &st)) << copy;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << copy;
        EXPECT_EQ(0600u, st.st_mode & 07777) << copy;
        EXPECT_EQ(text, n.tb.read_file(copy));
    }
    // A state directory others can write is not used: the copy is dropped, the file still set.
    ASSERT_EQ(0, ::chmod((n.tb.root + "/var/lib/tidewall").c_str(), 0777));
    EXPECT_EQ(0, n.tuning.update_conf_file("/etc/sysctl.conf", "kernel.sem", "kernel.sem=3", true));
    EXPECT_EQ("kernel.sem=3\n", n.tb.read_file("/etc/sysctl.conf"));
    EXPECT_EQ("kernel.sem=2\n", n.tb.read_file("/var/lib/tidewall/perf.conf"));
    EXPECT_TRUE(n.tb.logged(-1, kTag, "Failed to write [/var/lib/tidewall/perf.conf] error [Operation not permitted]"));
}

TEST(UpdateConfFile, AnEmptyNameIsRefused) {
    conf_node n;
    n.tb.write_file("/etc/sysctl.conf", "a=1\nb=2\n");
    EXPECT_EQ(1, n.tuning.update_conf_file("/etc/sysctl.conf", "", "c=3", true));
    EXPECT_EQ("a=1\nb=2\n", n.tb.read_file("/etc/sysctl.conf"));
}

TEST(RunCmd, LogsTheCommandAndItsFailure) {
    test_backend tb;
    tb.on("systemctl start fstrim", 0);
    tb.on("systemctl enable nosuch", 1, "", "Failed to enable unit: Unit file nosuch.service does not exist.\n");
    tw_perf_params_config tuning;
    EXPECT_EQ(0, tuning.run_cmd("systemctl start fstrim"));
    EXPECT_EQ(1, tuning.run_cmd("systemctl enable nosuch"));
    const char* tag = "tw_perf_params_config::run_cmd";
    EXPECT_TRUE(tb.logged(0, tag, "command [systemctl start fstrim]"));
    EXPECT_TRUE(tb.logged(0, tag, "command [systemctl start fstrim] succeeded"));
    EXPECT_TRUE(tb.logged(-1, tag,
                          "command [systemctl enable nosuch] failed with error [Failed to enable unit: Unit file "
                          "nosuch.service does not exist.]"));
    EXPECT_EQ(std::vector<int>({100, 100}), tb.time_limits);
}

TEST(UserExist, MatchesTheAccountNameOnly) {
    test_backend tb;
    tb.write_file("/etc/passwd",
                  "root:x:0:0:root:/root:/bin/bash\n"
                  "tomcat:x:91:91:Apache Tomcat:/usr/share/apache-tomcat:/sbin/nologin\n"
                  "apache2:x:48:48::/var/www:/sbin/nologin\n");
    tw_perf_params_config tuning;
    bool found = true;
    tuning.user_exist("apache", found);
    EXPECT_FALSE(found);
    tb.write_file("/etc/passwd",
                  "root:x:0:0:root:/root:/bin/bash\napache:x:48:48:Apache:/usr/share/httpd:/sbin/nologin\n");
    tuning.user_exist("apache", found);
    EXPECT_TRUE(found);
    tuning.user_exist("roo", found);
    EXPECT_FALSE(found);
}

}  // namespace
