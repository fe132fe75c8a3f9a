// Mount points: the fixed list and /tw/disk*, mount state from the mount table
// and percent used from df.

#include "platform/mount_points.h"

#include "platform_test_util.h"

#include <gtest/gtest.h>

using namespace platform_test;
using tidewall::testing::test_backend;

namespace {

const char* const kMtab =
    "/dev/vda / ext4 rw,relatime 0 0\n"
    "proc /proc proc rw,nosuid,nodev,noexec,relatime 0 0\n"
    "/dev/sdb1 /tw/disk1 xfs rw,noatime,inode64 0 0\n"
    "/dev/sdc1 /tw/disk10 xfs rw,noatime,inode64 0 0\n"
    "/dev/sdd1 /tw/disk\\0409 xfs rw 0 0\n";

std::string df_out(const std::string& dev, const std::string& use, const std::string& mnt) {
    return "Filesystem      Size  Used Avail Use% Mounted on\n" + dev + "        252G   17G   80G  " + use + " " + mnt +
           "\n";
}

std::string awk(const std::string& df) { return df + "  | awk 'NR==2' | awk -F \" \" '{print $5}'"; }

}  // namespace

TEST(MountPoints, FixedPathsThenDiskDirectoriesInOrder) {
    test_backend tb;
    tb.write_file("/etc/mtab", kMtab);
    for (const char* d : {"/tw/disk10", "/tw/disk1", "/tw/disk 9", "/tw/.disk2", "/tw/ddb", "/tw/data3"})
        tb.make_dir(d);
    tb.write_file("/tw/diskette", "a file counts as well\n");
    tb.on("df -Ph /", 0, df_out("/dev/vda", "17%", "/"));
    tb.on(awk("df -Ph /"), 0, "17%\n");
    tb.on("df -Ph /tw/disk1", 0, df_out("/dev/sdb1", "3%", "/tw/disk1"));
    tb.on(awk("df -Ph /tw/disk1"), 0, "3%\n");
    tb.on("df -Ph /tw/disk10", 0, df_out("/dev/sdc1", "88%", "/tw/disk10"));
    tb.on(awk("df -Ph /tw/disk10"), 0, "88%\n");
    tb.on("df -Ph '/tw/disk 9'", 0, df_out("/dev/sdd1", "50%", "/tw/disk 9"));
    tb.on(awk("df -Ph '/tw/disk 9'"), 0, "50%\n");

    tw_debug log;
    std::list<tw_mntpointinfo> out;
    mntpoints_examine(log, out);

    std::vector<std::string> paths;
    std::vector<bool> mounted;
    std::vector<unsigned> used;
    for (const auto& m : out) {
        paths.push_back(m.get_mntpath());
        mounted.push_back(m.get_mounted());
        used.push_back(m.get_percentused());
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"/", "/opt", "/var", "/var/log", "/boot", "/tw/ddb",
                                               "/opt/tessaline/Dockwright64/IndexCache", "/tw/dav_vm", "/tw/dav_he",
                                               "/tw/disk 9", "/tw/disk1", "/tw/disk10", "/tw/diskette"}));
    EXPECT_EQ(mounted, (std::vector<bool>{true, false, false, false, false, false, false, false, false, true, true,
                                          true, false}));
    EXPECT_EQ(used, (std::vector<unsigned>{17, 0, 0, 0, 0, 0, 0, 0, 0, 50, 3, 88, 0}));
    // df ran only for mounted paths, two commands each.
    EXPECT_EQ(tb.commands.size(), 8u);
    EXPECT_TRUE(tb.logged(2, "mntpath_get_percentused", "Exec command: df -Ph /tw/disk1"));
    EXPECT_TRUE(
        tb.logged(2, "mntpath_get_percentused", "Get Mntpath percent used with cmd: " + awk("df -Ph /tw/disk1")));
}

TEST(MountPoints, NoTwDirectoryLeavesTheFixedList) {
    test_backend tb;
    tb.write_file("/etc/mtab", "");
    tw_debug log;
    std::list<tw_mntpointinfo> out;
    mntpoints_examine(log, out);
    EXPECT_EQ(out.size(), 9u);
    EXPECT_TRUE(tb.logged(2, "mntpoints_examine", "No disk* directories found in /tw\n"));
    EXPECT_TRUE(tb.commands.empty());
}

TEST(MountPoints, UnreadableMountTableCountsAsNotMounted) {
    test_backend tb;  // no /etc/mtab under the root
    EXPECT_EQ(mntpath_get_mounted_status("/"), -1);
    tw_debug log;
    std::list<tw_mntpointinfo> out;
    mntpoints_examine(log, out);
    for (const auto& m : out) EXPECT_FALSE(m.get_mounted()) << m.get_mntpath();
}

TEST(PercentUsed, WrappedOrFailedDfGivesZero) {
    test_backend tb;
    tw_debug log;
    // A long device name wraps onto its own line: three lines, no figure taken.
    tb.on("df -Ph /tw/disk4", 0,
          "Filesystem                                           Size  Used Avail Use% Mounted on\n"
          "/dev/mapper/very--long--volume--group-data--volume\n"
          "                                                     100G   40G   60G  40% /tw/disk4\n");
    EXPECT_EQ(mntpath_get_percentused(log, "/tw/disk4"), 0u);
    EXPECT_EQ(tb.commands.size(), 1u);

    tb.on("df -Ph /tw/disk5", 1, "");
    EXPECT_EQ(mntpath_get_percentused(log, "/tw/disk5"), 0u);
    EXPECT_TRUE(tb.logged(-1, "mntpath_get_percentused", "Failed to get output for cmd [df -Ph /tw/disk5]"));

    tb.on("df -Ph /tw/disk6", 0, df_out("/dev/sdf1", "9%", "/tw/disk6"));
    tb.on(awk("df -Ph /tw/disk6"), 2, "");
    EXPECT_EQ(mntpath_get_percentused(log, "/tw/disk6"), 0u);
    EXPECT_TRUE(tb.logged(-1, "mntpath_get_percentused",
                          "Failed to get mntpath percentage used with cmd [" + awk("df -Ph /tw/disk6") + "]"));

    tb.on("df -Ph /tw/disk7", 0, df_out("/dev/sdg1", "100%", "/tw/disk7"));
    tb.on(awk("df -Ph /tw/disk7"), 0, "100%\n");
    EXPECT_EQ(mntpath_get_percentused(log, "/tw/disk7"), 100u);
}
