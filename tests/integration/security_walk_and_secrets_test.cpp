// Attacks by an account without root (nobody) on the real kernel, inside the
// sandbox, that need the library's steps one by one: a dump directory swapped
// for a link to /etc between the pruner's walk and its removals, a file system
// mounted inside a dump location, and the BMC password of a remote ipmitool run
// looked for in /proc/*/cmdline and in the log at level 3.

#include <tidewall/tw_prune.h>

#include "platform/tool_runners.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// Level 3 dumps every tool output: the password must not be in any of it.
const bool kLevel3 = [] { return ::setenv("TW_DEBUG_LEVEL", "3", 1) == 0; }();

int sh(const std::string& cmd) { return std::system(cmd.c_str()); }
int as_nobody(const std::string& cmd) {
    return sh("setpriv --reuid=nobody --regid=nogroup --clear-groups sh -c '" + cmd + "'");
}
std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Security : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("TW_IN_SANDBOX")) << "run through sandbox.sh: this test plants files under /etc";
        ASSERT_TRUE(kLevel3);
        sh("rm -rf /var/crash/*");
    }
    void TearDown() override { sh("umount /var/crash/other 2>/dev/null; rm -rf /var/crash/* /etc/tw-victim"); }
};

TEST_F(Security, ADirectorySwappedForALinkBetweenWalkAndRemovalTakesNothingFromEtc) {
    // A dump directory nobody may write in, holding a dump of theirs with the
    // name of the file they want gone, dated long ago.
    ASSERT_EQ(0, sh("echo precious > /etc/tw-victim && mkdir /var/crash/users && chown nobody /var/crash/users"));
    tw_prune p;
    p.prune_crash_dumps();  // the run's settings
    ASSERT_EQ(0, as_nobody("mkdir /var/crash/users/x && echo core > /var/crash/users/x/tw-victim && "
                           "touch -d \"30 days ago\" /var/crash/users/x/tw-victim"));
    ASSERT_EQ(0, p.scan_and_prune("/var/crash", true));
    ASSERT_EQ(0, as_nobody("mv /var/crash/users/x /var/crash/users/x.old && ln -s /etc /var/crash/users/x"));
    p.prune_files();
    p.prune_dirs();
    EXPECT_EQ("precious\n", slurp("/etc/tw-victim"));
    EXPECT_TRUE(fs::is_symlink("/var/crash/users/x"));
    EXPECT_TRUE(fs::exists("/var/crash/users/x.old/tw-victim"));
    EXPECT_EQ(1u, p.failed_files());
    EXPECT_EQ(0u, p.removed_files() + p.removed_dirs());
}

TEST_F(Security, NoOtherFileSystemIsEnteredAndALinkAtWalkTimeIsNotFollowed) {
    ASSERT_EQ(0, sh("mkdir -p /var/crash/other /var/crash/users && mount -t tmpfs tw-other /var/crash/other && "
                    "mkdir /var/crash/other/d && echo core > /var/crash/other/d/vmcore && "
                    "touch -d '30 days ago' /var/crash/other/d/vmcore && echo precious > /etc/tw-victim && "
                    "touch -d '30 days ago' /etc/tw-victim && chown nobody /var/crash/users"));
    ASSERT_EQ(0, as_nobody("ln -s /etc /var/crash/users/x"));
    tw_prune p;
    ASSERT_EQ(0, p.prune_crash_dumps());
    EXPECT_TRUE(fs::exists("/var/crash/other/d/vmcore"));
    EXPECT_EQ("precious\n", slurp("/etc/tw-victim"));
    EXPECT_EQ(0u, p.removed_files() + p.failed_files());
}

TEST_F(Security, TheBmcPasswordIsOnNoCommandLineAndInNoLog) {
    // A fake ipmitool that records its own argv, environment, its shell's and
    // its parent's command lines, and the password file it was given.
    const std::string bin = "/tmp/tw-fake-ipmi", out = "/tmp/tw-ipmi-seen";
    const std::string secret = "Zz9-bmc-S3cret";
    ASSERT_EQ(0, sh("mkdir -p " + bin + " " + out));
    std::ofstream(bin + "/ipmitool") << "#!/bin/bash\n"
                                        "printf '%s\\n' \"$@\" > "
                                     << out
                                     << "/argv\n"
                                        "env > "
                                     << out
                                     << "/env\n"
                                        "tr '\\0' ' ' < /proc/$$/cmdline > "
                                     << out
                                     << "/cmdline\n"
                                        "tr '\\0' ' ' < /proc/$PPID/cmdline > "
                                     << out
                                     << "/parent\n"
                                        "while [ $# -gt 0 ]; do [ \"$1\" = -f ] && cat \"$2\" > "
                                     << out
                                     << "/secret; shift; done\n"
                                        "for c in /proc/[0-9]*/cmdline; do tr '\\0' ' ' < $c; echo; done > "
                                     << out
                                     << "/all\n"
                                        "echo 'Fan1 | 5880 RPM | ok'\n";
    ASSERT_EQ(0, sh("chmod 755 " + bin + "/ipmitool"));
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (bin + ":" + path).c_str(), 1);
    tw_debug log;
    std::list<std::string> lines;
    int rc = run_ipmitool(log, "sdr type fan", lines, true, "bmc1.example.net", "admin", secret, 0);
    ::setenv("PATH", path.c_str(), 1);
    ASSERT_EQ(0, rc);
    EXPECT_EQ(std::list<std::string>{"Fan1 | 5880 RPM | ok"}, lines);
    EXPECT_EQ(secret, slurp(out + "/secret"));  // ipmitool got it, through -f
    for (const char* seen : {"argv", "env", "cmdline", "parent", "all"}) {
        std::string text = slurp(out + "/" + seen);
        EXPECT_FALSE(text.empty()) << seen;
        EXPECT_EQ(std::string::npos, text.find(secret)) << seen << ":\n" << text;
    }
    const std::string log_text = slurp("/var/log/tessaline/TSTidewall.log");
    EXPECT_NE(std::string::npos, log_text.find("Output of ipmitool cmd")) << "no level-3 dump in the log";
    EXPECT_EQ(std::string::npos, log_text.find(secret));
    // The password file is gone, and nothing else is left in the state directory.
    for (const auto& e : fs::directory_iterator("/var/lib/tidewall"))
        EXPECT_EQ(std::string::npos, e.path().filename().string().find("ipmi-password")) << e.path();
    sh("rm -rf " + bin + " " + out);
}

}  // namespace
