// The mount-path location file on real XFS data disks (loop devices mounted at
// /tw/diskN): each entry carries the UUID xfs_admin reads, and processes that
// update the file at the same moment, each with a drive of its own, leave one
// well-formed file holding every entry.

#include <tidewall/tw_platform.h>

#include "foundation/fs/node_lock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "shell.h"

namespace {

using tidewall::testing::run_result;
using tidewall::testing::run_shell;
using tidewall::testing::slurp;

constexpr int kDisks = 6;
const std::string kDir = "/etc/TessalineRegistry/Tolvan/Instance001/Dockwright";
const std::string kFile = kDir + "/.AF_mpath_info";

std::string trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

class LocationFile : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(std::getenv("TW_IN_SANDBOX")) << "run through sandbox.sh: this test mounts disks";
        for (int i = 1; i <= kDisks; ++i) {
            std::string n = std::to_string(i), img = "/tmp/twloc" + n + ".img";
            run_result r = run_shell("truncate -s 512M " + img + " && losetup -f --show " + img);
            ASSERT_EQ(r.status, 0) << r.out;
            devices_.push_back(trim(r.out));
            r = run_shell("mkfs.xfs -q -f " + devices_.back() + " && mkdir -p /tw/disk" + n + " && mount " +
                          devices_.back() + " /tw/disk" + n + " 2>&1");
            ASSERT_EQ(r.status, 0) << r.out;
            r = run_shell("blkid -c /dev/null -s UUID -o value " + devices_.back());
            uuids_.push_back(trim(r.out));
            ASSERT_EQ(uuids_.back().size(), 36u) << r.out;
        }
    }

    static void TearDownTestSuite() {
        for (size_t i = 0; i < devices_.size(); ++i) {
            run_shell("umount /tw/disk" + std::to_string(i + 1) + " 2>/dev/null");
            run_shell("losetup -d " + devices_[i]);
        }
    }

    void SetUp() override {
        std::filesystem::remove_all(kDir);
        std::filesystem::create_directories(kDir);
    }

    // The file as it must read with drive number `prefix` + disk index.
    static std::string expected(const std::string& prefix) {
        std::string text;
        for (int i = 0; i < kDisks; ++i)
            text += "\nmnt:/tw/disk" + std::to_string(i + 1) + " devuuid:" + uuids_[i] + " drivenum:" + prefix +
                    std::to_string(i) + "\n";
        return text;
    }

    static std::vector<std::string> devices_, uuids_;
};

std::vector<std::string> LocationFile::devices_, LocationFile::uuids_;

// Updates the file from `count` processes at once, process i knowing only the
// drive of disk i; true when every process succeeded.
bool update_together(int count, const std::string& prefix, const std::vector<std::string>& devices) {
    int gate[2];
    if (::pipe(gate) != 0) return false;
    std::vector<pid_t> pids;
    for (int i = 0; i < count; ++i) {
        pid_t pid = ::fork();
        if (pid == 0) {
            ::close(gate[1]);
            std::list<tw_driveinfo> drives(1);
            drives.front().set_devname(devices[i]);
            drives.front().set_drivenum(prefix + std::to_string(i));
            tw_mpathfileinfo info;
            info.mpath_assign_drivelistp(&drives);
            char c;
            while (::read(gate[0], &c, 1) > 0) {}  // all start when the parent closes the gate
            _exit(info.mpath_fileinfo_update() == 0 ? 0 : 1);
        }
        pids.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    bool ok = true;
    for (pid_t p : pids) {
        int status = 0;
        ::waitpid(p, &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return ok;
}

TEST_F(LocationFile, ConcurrentProcessesLoseNoEntry) {
    // Each round gives every drive a new number, so every process rewrites.
    for (const std::string prefix : {"", "1/", "2/", "3/"}) {
        ASSERT_TRUE(update_together(kDisks, prefix, devices_)) << "round " << prefix;
        EXPECT_EQ(slurp(kFile), expected(prefix)) << "round " << prefix;
    }
    // Nothing but the file is left in the directory: its lock lies in the root-only lock directory.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(kDir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".AF_mpath_info"}));
    EXPECT_TRUE(std::filesystem::is_regular_file("/run/tidewall/" +
                                                 tidewall::locks::lock_name_for("location", std::string(kFile))));
}

TEST_F(LocationFile, SearchFindsEachMountPathAndAnUnchangedUpdateKeepsTheFile) {
    ASSERT_TRUE(update_together(kDisks, "0/", devices_));
    tw_mpathfileinfo info;
    for (int i = 0; i < kDisks; ++i) {
        std::string number;
        EXPECT_TRUE(info.mpath_fileinfo_search(kFile, "/tw/disk" + std::to_string(i + 1), number));
        EXPECT_EQ(number, "0/" + std::to_string(i));
    }
    const auto inode = std::filesystem::status(kFile).permissions();
    struct stat before {
    }, after{};
    ASSERT_EQ(::stat(kFile.c_str(), &before), 0);
    std::list<tw_driveinfo> drives(1);
    drives.front().set_devname(devices_[2]);
    drives.front().set_drivenum("0/2");
    info.mpath_assign_drivelistp(&drives);
    ASSERT_EQ(info.mpath_fileinfo_update(), 0);
    ASSERT_EQ(::stat(kFile.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(std::filesystem::status(kFile).permissions(), inode);
    EXPECT_FALSE(info.get_map_updated_flag());

    // The disk unmounted: its entry stays, so its drive can still be found.
    ASSERT_EQ(run_shell("umount /tw/disk3").status, 0);
    ASSERT_EQ(info.mpath_fileinfo_update(), 0);
    std::string number;
    EXPECT_TRUE(info.mpath_fileinfo_search(kFile, "/tw/disk3", number));
    EXPECT_EQ(number, "0/2");
    ASSERT_EQ(run_shell("mount " + devices_[2] + " /tw/disk3").status, 0);
}

}  // namespace
