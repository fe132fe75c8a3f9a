// The file-system manager: mkfs and mount command texts, mount points and the
// refusal to mount over a path in use, the three mount attempts, the stamps,
// the /etc/fstab entries, and unmounting.

#include <tidewall/tw_fsm.h>

#include "fixture.h"
#include "lvm_setup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

using namespace tidewall::testing;

namespace {

using strings = std::vector<std::string>;

tw_fs_mount make_mount(const std::string& dev, const std::string& path) {
    tw_fs_mount m;
    m.set_blk_device(dev);
    m.set_fs_type("xfs");
    m.set_mnt_path(path);
    m.set_fs_args("noatime,inode64,nofail");
    m.set_fs_freq(1);
    m.set_fs_passno(1);
    return m;
}

tw_fs make_fs(const std::string& dev, const std::string& type) {
    tw_fs fs;
    fs.set_blk_device(dev);
    fs.set_fs_type(type);
    return fs;
}

const std::string kHeader = tidewall::testing::fixture("golden/fstab_header");

class Fsm : public ::testing::Test {
protected:
    void SetUp() override {
        tb.make_dir("/etc");
        tb.make_dir("/opt");
        tb.write_file("/etc/mtab", "/dev/sda1 / xfs rw 0 0\n");
    }
    mode_t mode_of(const std::string& path) {
        struct stat st {};
        ::stat((tb.root + path).c_str(), &st);
        return st.st_mode & 07777;
    }
    test_backend tb;
};

TEST_F(Fsm, MkfsTextsPerTypeStopAtTheFirstFailure) {
    std::list<tw_fs> list = {make_fs("/dev/metadatavg/ddb", "xfs"), make_fs("/dev/metadatavg/index", "ext4"),
                             make_fs("/dev/metadatavg/dav_he", "xfs")};
    tb.on("echo y | mkfs -t xfs -i size=512 -f /dev/metadatavg/ddb", 0);
    tb.on("echo y | mkfs -t ext4 /dev/metadatavg/index", 1, "", "mke2fs: No such file or directory\n");
    tw_fsm fsm;
    EXPECT_EQ(1, fsm.configure_fs(list));
    EXPECT_EQ((strings{"echo y | mkfs -t xfs -i size=512 -f /dev/metadatavg/ddb",
                       "echo y | mkfs -t ext4 /dev/metadatavg/index"}),
              tb.commands);
    EXPECT_TRUE(tb.logged(0, "tw_fsm::mkfs_cmd", "command [echo y | mkfs -t xfs -i size=512 -f /dev/metadatavg/ddb]"));
    EXPECT_TRUE(tb.logged(0, "tw_fsm::mkfs_cmd", "fs created name [/dev/metadatavg/ddb] type [xfs]"));
    EXPECT_EQ((strings{"tw_fsm::mkfs_cmd: command [echo y | mkfs -t ext4 /dev/metadatavg/index] failed with error "
                       "[mke2fs: No such file or directory\n]",
                       "tw_fsm::configure_fs: mkfs failed blk dev [/dev/metadatavg/index] fs [ext4]"}),
              failures_logged(tb));
}

TEST_F(Fsm, MountsCreateTraversableMountPointsStampAndRecord) {
    tb.set_key("sTidewallDDBMountOptions", "noatime,inode64,nofail,logbsize=256k");
    tb.write_file("/etc/fstab", "/dev/sda1 / xfs defaults 1 1\n");
    tb.on("systemctl daemon-reload", 0);
    tb.fallback = [this](const std::string& cmd) -> std::optional<tidewall::host::command_result> {
        if (cmd.rfind("mount -t xfs -o ", 0) != 0) return std::nullopt;
        size_t last = cmd.rfind(' '), before = cmd.rfind(' ', last - 1);
        tb.write_file("/etc/mtab", tb.read_file("/etc/mtab") + cmd.substr(before + 1, last - before - 1) + " " +
                                       cmd.substr(last + 1) + " xfs rw 0 0\n");
        return tidewall::host::command_result{};
    };
    std::list<tw_fs_mount> mounts = {make_mount("/dev/metadatavg/ddb", "/tw/ddb"),
                                     make_mount("/dev/metadatavg/index", "/opt/tessaline/Dockwright64/IndexCache")};
    tw_fsm fsm;
    ASSERT_EQ(0, fsm.configure_fs_mount(mounts));
    EXPECT_EQ((strings{"systemctl daemon-reload", "mount -t xfs -o noatime,inode64,nofail /dev/metadatavg/ddb /tw/ddb",
                       "mount -t xfs -o noatime,inode64,nofail /dev/metadatavg/index "
                       "/opt/tessaline/Dockwright64/IndexCache"}),
              storage_commands(tb));
    for (const char* dir :
         {"/tw", "/tw/ddb", "/opt/tessaline", "/opt/tessaline/Dockwright64", "/opt/tessaline/Dockwright64/IndexCache"})
        EXPECT_EQ(0755u, mode_of(dir)) << dir;
    EXPECT_TRUE(tb.logged(0, "tw_fsm::create_dir", "creating dir [/opt/tessaline]"));
    EXPECT_TRUE(tb.logged(0, "tw_fsm::create_dir", "path [/opt/tessaline/Dockwright64/IndexCache] [/opt] exist"));
    EXPECT_TRUE(
        tb.logged(0, "tw_fsm::fs_mount", "Successfully mounted blkdev [/dev/metadatavg/ddb] on mntpath [/tw/ddb]"));

    auto& ddb = tb.xattrs["/tw/ddb"];
    EXPECT_EQ("/tw/ddb", ddb["trusted.mntstamp"]);
    EXPECT_EQ("arrowfield@tsln", ddb["trusted.tslnstamp"]);
    ASSERT_EQ(1u, ddb.count("trusted.blkdevstamp"));
    EXPECT_EQ("", ddb["trusted.blkdevstamp"]);
    EXPECT_EQ("/opt/tessaline/Dockwright64/IndexCache",
              tb.xattrs["/opt/tessaline/Dockwright64/IndexCache"]["trusted.mntstamp"]);

    // The entries carry the DDB options and type of the storage manager, not
    // the mount's own options, freq and passno.
    EXPECT_EQ(std::string(kHeader) +
                  "/dev/sda1      /      xfs      defaults      1   1\n"
                  "/dev/metadatavg/ddb      /tw/ddb      xfs      noatime,inode64,nofail,logbsize=256k      0   0\n"
                  "/dev/metadatavg/index      /opt/tessaline/Dockwright64/IndexCache      xfs      "
                  "noatime,inode64,nofail,logbsize=256k      0   0\n",
              tb.read_file("/etc/fstab"));
}

TEST_F(Fsm, PathInUseIsNeverMountedOver) {
    tb.write_file("/etc/mtab", "/dev/sda1 / xfs rw 0 0\n/dev/sdz /tw/ddb xfs rw 0 0\n");
    tb.on("systemctl daemon-reload", 0);
    std::list<tw_fs_mount> mounts = {make_mount("/dev/metadatavg/ddb", "/tw/ddb")};
    tw_fsm fsm;
    EXPECT_EQ(1, fsm.configure_fs_mount(mounts));
    EXPECT_EQ((strings{"systemctl daemon-reload"}), tb.commands);
    EXPECT_EQ((strings{"tw_fsm::fs_mount: mntpath [/tw/ddb] is in use", "tw_fsm::configure_fs_mount: mount failed"}),
              failures_logged(tb));
    EXPECT_TRUE(tb.xattrs.empty());
    EXPECT_FALSE(tb.exists("/etc/fstab"));
}

TEST_F(Fsm, ThreeFailedMountAttemptsThenFailure) {
    const std::string cmd = "mount -t xfs -o noatime,inode64,nofail /dev/metadatavg/ddb /tw/ddb";
    tb.on(cmd, 32, "", "mount: /tw/ddb: special device /dev/metadatavg/ddb does not exist.\n");
    // No systemd here: the reload fails, and mounting goes on.
    std::list<tw_fs_mount> mounts = {make_mount("/dev/metadatavg/ddb", "/tw/ddb")};
    tw_fsm fsm;
    EXPECT_EQ(1, fsm.fs_mount(mounts));
    EXPECT_EQ((strings{"systemctl daemon-reload", cmd, cmd, cmd}), tb.commands);
    int attempts = 0;
    for (const auto& l : tb.logs)
        if (l.text == "mount failed for blkdev [/dev/metadatavg/ddb] mntpath [/tw/ddb]") ++attempts;
    EXPECT_EQ(3, attempts);
    EXPECT_TRUE(tb.logged(-1, "tw_fsm::fs_mount", "systemctl reload failed"));
    EXPECT_EQ("tw_fsm::fs_mount: mount failed", failures_logged(tb).back());
}

// With nofail, mount(8) exits 0 for a missing device: nothing is stamped or
// recorded, and the mount fails after its attempts.
TEST_F(Fsm, AnExitZeroWithNothingMountedIsAFailedAttempt) {
    const std::string cmd = "mount -t xfs -o noatime,inode64,nofail /dev/metadatavg/ddb /tw/ddb";
    tb.on("systemctl daemon-reload", 0);
    tb.on(cmd, 0);
    std::list<tw_fs_mount> mounts = {make_mount("/dev/metadatavg/ddb", "/tw/ddb")};
    tw_fsm fsm;
    EXPECT_EQ(1, fsm.configure_fs_mount(mounts));
    EXPECT_EQ((strings{"systemctl daemon-reload", cmd, cmd, cmd}), tb.commands);
    EXPECT_TRUE(tb.logged(-1, "tw_fsm::mount_cmd",
                          "command [" + cmd + "] exited 0 but [/dev/metadatavg/ddb] is not mounted at [/tw/ddb]"));
    EXPECT_TRUE(tb.xattrs.empty());
    EXPECT_FALSE(tb.exists("/etc/fstab"));
}

TEST_F(Fsm, AnAttemptThatFindsThePathMountedCountsAsSuccess) {
    // mount(8) can fail after the kernel mounted (a helper failing late).
    const std::string cmd = "mount -t xfs -o noatime,inode64,nofail /dev/metadatavg/ddb /tw/ddb";
    tb.fallback = [this, cmd](const std::string& c) -> std::optional<tidewall::host::command_result> {
        if (c != cmd) return std::nullopt;
        tb.write_file("/etc/mtab", "/dev/sda1 / xfs rw 0 0\n/dev/mapper/metadatavg-ddb /tw/ddb xfs rw 0 0\n");
        tidewall::host::command_result r;
        r.status = 1;
        return r;
    };
    std::list<tw_fs_mount> mounts = {make_mount("/dev/metadatavg/ddb", "/tw/ddb")};
    tw_fsm fsm;
    EXPECT_EQ(0, fsm.fs_mount(mounts));
    EXPECT_EQ((strings{"systemctl daemon-reload", cmd}), tb.commands);
}

TEST_F(Fsm, UnreadableMountTableMakesEveryPathLookMounted) {
    std::remove((tb.root + "/etc/mtab").c_str());
    tw_fsm fsm;
    EXPECT_TRUE(fsm.is_mounted("/tw/ddb"));
    EXPECT_TRUE(tb.logged(-1, "tw_fsm::scan_mounted_fs", "failed to open mount config file"));
    std::list<tw_fs_mount> mounts = {make_mount("/dev/metadatavg/ddb", "/tw/ddb")};
    EXPECT_EQ(1, fsm.fs_mount(mounts));
    EXPECT_EQ((strings{"systemctl daemon-reload"}), tb.commands);
    EXPECT_EQ(1, fsm.unconfigure_fs_mount(mounts));
}

TEST_F(Fsm, StampAndFstabFailuresStopTheSteps) {
    std::list<tw_fs_mount> mounts = {make_mount("/dev/metadatavg/ddb", "/tw/ddb")};
    tw_fsm fsm;
    tb.xattr_error = EOPNOTSUPP;
    EXPECT_EQ(1, fsm.set_fs_meta_data(mounts));
    EXPECT_EQ((strings{"tw_fsm::set_xattr_cmd: failed to set extended attribute path [/tw/ddb] name "
                       "[trusted.mntstamp] value [/tw/ddb]",
                       "tw_fsm::set_fs_meta_data: set xattr failed"}),
              failures_logged(tb));

    // An /etc/fstab that cannot be read cannot be rewritten without losing
    // its entries: the storage manager refuses, and so does this step.
    tb.make_dir("/etc/fstab");
    EXPECT_EQ(1, fsm.update_fstab(mounts));
    EXPECT_TRUE(tb.logged(-1, "tw_fsm::update_fstab",
                          "Failed to update fstab for blkdev [/dev/metadatavg/ddb] argument with nofail."));
}

TEST_F(Fsm, UnmountsOnlyWhatIsMounted) {
    std::list<tw_fs_mount> mounts = {make_mount("/dev/metadatavg/ddb", "/tw/ddb"),
                                     make_mount("/dev/metadatavg/index", "/opt/tessaline/Dockwright64/IndexCache"),
                                     make_mount("/dev/metadatavg/dav_he", "/tw/dav_he")};
    tw_fsm fsm;
    ASSERT_EQ(0, fsm.unconfigure_fs_mount(mounts));
    EXPECT_TRUE(tb.commands.empty());

    tb.write_file("/etc/mtab",
                  "/dev/sda1 / xfs rw 0 0\n/dev/mapper/metadatavg-ddb /tw/ddb xfs rw 0 0\n"
                  "/dev/mapper/metadatavg-dav_he /tw/dav_he xfs rw 0 0\n"
                  "/dev/sdq /tw/ddb/sub xfs rw 0 0\n");
    tb.on("umount /tw/ddb", 0);
    tb.on("umount /tw/dav_he", 32, "", "umount: /tw/dav_he: target is busy.\n");
    EXPECT_EQ(1, fsm.unconfigure_fs_mount(mounts));
    EXPECT_EQ((strings{"umount /tw/ddb", "umount /tw/dav_he"}), tb.commands);
    EXPECT_TRUE(tb.logged(0, "tw_fsm::umount_cmd", "fs umounted name mnt path [/tw/ddb]"));
    EXPECT_TRUE(tb.logged(-1, "tw_fsm::unconfigure_fs_mount", "unmount failed"));
    EXPECT_TRUE(tb.exists("/etc/mtab"));  // nothing else is touched
}

TEST_F(Fsm, CreateDirTakesEveryPathAsAbsolute) {
    tw_fsm fsm;
    ASSERT_EQ(0, fsm.create_dir("tw//ddb", 0755));
    EXPECT_TRUE(tb.exists("/tw/ddb"));
    EXPECT_TRUE(tb.logged(0, "tw_fsm::create_dir", "creating dir [/tw]"));
    EXPECT_TRUE(tb.logged(0, "tw_fsm::create_dir", "creating dir [/tw/ddb]"));

    tb.write_file("/tw/file", "x");
    EXPECT_EQ(1, fsm.create_dir("/tw/file/ddb", 0755));
    EXPECT_TRUE(tb.logged(-1, "tw_fsm::create_dir", "path [/tw/file/ddb] [/tw/file] is not a directory"));
    EXPECT_FALSE(tb.exists("/tw/file/ddb"));
}

TEST_F(Fsm, ValuesWithShellSyntaxAreQuoted) {
    tw_fsm fsm;
    fsm.mkfs_cmd("/dev/x;reboot", "xfs");
    EXPECT_EQ("echo y | mkfs -t xfs -i size=512 -f '/dev/x;reboot'", tb.commands.back());
    fsm.mount_cmd("/dev/sdb", "/tw/my ddb", "xfs", "noatime,$(id)");
    EXPECT_EQ("mount -t xfs -o 'noatime,$(id)' /dev/sdb '/tw/my ddb'", tb.commands.back());
    fsm.umount_cmd("/tw/it's");
    EXPECT_EQ("umount '/tw/it'\\''s'", tb.commands.back());
}

TEST_F(Fsm, AddFstabEntryWritesOneMountTableLine) {
    tw_fsm fsm;
    std::string path = tb.root + "/table";
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(0, fsm.add_fstab_entry(f, "/dev/metadatavg/ddb", "/tw/my ddb", "xfs", "noatime", 1, 2));
    std::fclose(f);
    EXPECT_EQ("/dev/metadatavg/ddb /tw/my\\040ddb xfs noatime 1 2\n", tb.read_file("/table"));
    EXPECT_EQ(1, fsm.add_fstab_entry(nullptr, "a", "b", "c", "d", 0, 0));
    EXPECT_TRUE(tb.logged(-1, "tw_fsm::add_fstab_entry", "failed to add mount entry"));
}

}  // namespace
