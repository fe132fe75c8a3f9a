// Several processes recording mounts in /etc/fstab at once lose no entry and
// leave the root entry and the file's layout whole (inside the sandbox).

#include <tidewall/tw_storage.h>

#include "foundation/mount/ts_mnt_parser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(FstabConcurrency, ParallelUpdatesAreAllKept) {
    ASSERT_TRUE(std::getenv("TW_IN_SANDBOX")) << "run through sandbox.sh: this test writes /etc/fstab";
    { std::ofstream("/etc/fstab") << "/dev/vda / ext4 defaults 1 1\n"; }
    const int procs = 6, each = 15;
    std::vector<pid_t> pids;
    for (int p = 0; p < procs; ++p) {
        pid_t pid = ::fork();
        if (pid == 0) {
            tw_storage storage;
            for (int i = 0; i < each; ++i) {
                std::string n = std::to_string(p * 100 + i);
                try {
                    storage.update_sysconfig_files("/tw/disk" + n, "/dev/fake" + n, "xfs", "noatime,inode64,nofail",
                                                   "/etc/fstab");
                } catch (...) {
                    _exit(1);
                }
            }
            _exit(0);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::list<TsMntInfo> entries;
    ASSERT_EQ(0, TsMntParser("/etc/fstab").ParseMountPointInfo(entries));
    std::set<std::string> points;
    for (const auto& e : entries) points.insert(e.GetMountPoint());
    EXPECT_EQ(static_cast<size_t>(procs * each + 1), entries.size());
    EXPECT_EQ(entries.size(), points.size());
    EXPECT_EQ("/", entries.front().GetMountPoint());
    EXPECT_EQ(1, entries.front().GetPassNumber());
}

}  // namespace
