// /etc/fstab as the node writes it: exact bytes, in-place replacement, removal,
// and what a failed write leaves behind.

#include "fixture.h"
#include "storage_fixture.h"

#include "foundation/fs/file_io.h"
#include "foundation/fs/node_lock.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

const std::string kHeader = tidewall::testing::fixture("golden/fstab_header");

TsMntInfo entry(const std::string& dev, const std::string& mp, const std::string& type, const std::string& opts) {
    TsMntInfo e;
    e.SetBackingDevice(dev);
    e.SetMountPoint(mp);
    e.SetFileSystemType(type);
    e.SetMountOptions(opts);
    return e;
}

// A file as another tool left it: its own header, a comment, tabs.
const std::string kForeignFstab =
    "# /etc/fstab: static file system information.\n"
    "UUID=1111\t/\txfs\tdefaults\t0\t1\n"
    "# data drives\n"
    "/dev/sdb /tw/disk1 xfs noatime,inode64,nofail 0 0\n"
    "/dev/sdc /tw/disk2 xfs noatime,inode64,nofail 0 0\n";

std::vector<std::string> files_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class FstabTest : public ::testing::Test {
protected:
    test_backend tb;
    storage_under_test s{tb};
    tw_storage& st = s.storage;
};

TEST_F(FstabTest, WritesHeaderSixBlankFieldsAndDumpPassBySystemPath) {
    std::list<TsMntInfo> entries = {
        entry("UUID=abc", "/", "xfs", "defaults"),
        entry("/dev/sda1", "/boot", "xfs", "defaults"),
        entry("UUID=\"02DC-E00F\"", "/boot/efi", "vfat", "nofail"),
        entry("/dev/mapper/systemvg-opt", "/opt", "xfs", "defaults"),
        entry("/dev/mapper/systemvg-root", "/root", "xfs", "defaults"),
        entry("/dev/mapper/systemvg-home", "/home", "xfs", "defaults"),
        entry("/dev/sdb", "/tw/disk1", "xfs", "noatime,inode64,nofail"),
        entry("/dev/sdc", "/tw/disk2", "xfs", ""),
    };
    ASSERT_EQ(st.create_sysconfig_files(entries, "/etc/fstab"), 0);
    EXPECT_EQ(tb.read_file("/etc/fstab"),
              kHeader +
                  "UUID=abc      /      xfs      defaults      1   1\n"
                  "/dev/sda1      /boot      xfs      defaults      1   1\n"
                  "UUID=\"02DC-E00F\"      /boot/efi      vfat      nofail      0   0\n"
                  "/dev/mapper/systemvg-opt      /opt      xfs      defaults      1   1\n"
                  "/dev/mapper/systemvg-root      /root      xfs      defaults      1   1\n"
                  "/dev/mapper/systemvg-home      /home      xfs      defaults      1   1\n"
                  "/dev/sdb      /tw/disk1      xfs      noatime,inode64,nofail      0   0\n"
                  "/dev/sdc      /tw/disk2      xfs      \n");
    EXPECT_TRUE(tb.logged(0, "tw_storage::create_sysconfig_files",
                          "fstab entry [/dev/sdb      /tw/disk1      xfs      noatime,inode64,nofail      0   0]"));
}

TEST_F(FstabTest, NoEntriesGiveTheHeaderAlone) {
    std::list<TsMntInfo> none;
    ASSERT_EQ(st.create_sysconfig_files(none, "/etc/fstab"), 0);
    EXPECT_EQ(tb.read_file("/etc/fstab"), kHeader);
}

TEST_F(FstabTest, BlanksInsideFieldsAreEscapedAndReadBack) {
    std::list<TsMntInfo> entries = {entry("/dev/sdb", "/mnt/my disk", "xfs", "noatime")};
    ASSERT_EQ(st.create_sysconfig_files(entries, "/etc/fstab"), 0);
    EXPECT_EQ(tb.read_file("/etc/fstab"),
              kHeader + "/dev/sdb      /mnt/my\\040disk      xfs      noatime      0   0\n");
    std::list<TsMntInfo> back;
    ASSERT_EQ(st.read_sysconfig_file("/etc/fstab", back), 0);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back.front().GetMountPoint(), "/mnt/my disk");
}

TEST_F(FstabTest, UpdateReplacesTheEntryOfAMountPathInPlace) {
    tb.write_file("/etc/fstab", kForeignFstab);
    ASSERT_EQ(st.update_sysconfig_files("/tw/disk1", "/dev/sdd", "xfs", "noatime,inode64,nofail", "/etc/fstab"), 0);
    EXPECT_EQ(tb.read_file("/etc/fstab"),
              kHeader +
                  "UUID=1111      /      xfs      defaults      0   1\n"
                  "# data drives\n"
                  "/dev/sdd      /tw/disk1      xfs      noatime,inode64,nofail      0   0\n"
                  "/dev/sdc      /tw/disk2      xfs      noatime,inode64,nofail      0   0\n");
}

TEST_F(FstabTest, UpdateMovesADeviceListedUnderAnotherPath) {
    tb.write_file("/etc/fstab", kForeignFstab);
    ASSERT_EQ(st.update_sysconfig_files("/tw/disk7", "/dev/sdb", "xfs", "noatime", "/etc/fstab"), 0);
    EXPECT_EQ(tb.read_file("/etc/fstab"),
              kHeader +
                  "UUID=1111      /      xfs      defaults      0   1\n"
                  "# data drives\n"
                  "/dev/sdb      /tw/disk7      xfs      noatime      0   0\n"
                  "/dev/sdc      /tw/disk2      xfs      noatime,inode64,nofail      0   0\n");
}

TEST_F(FstabTest, UpdateAppendsANewEntryAndWritesEmptyOptionsShort) {
    tb.write_file("/etc/fstab", kForeignFstab);
    ASSERT_EQ(st.update_sysconfig_files("/tw/disk3", "UUID=5e1f", "xfs", "", "/etc/fstab"), 0);
    std::string text = tb.read_file("/etc/fstab");
    EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1), "UUID=5e1f      /tw/disk3      xfs      \n");
    std::list<TsMntInfo> back;
    st.read_sysconfig_file("/etc/fstab", back);
    EXPECT_EQ(back.size(), 4u);
}

TEST_F(FstabTest, UpdateWithAnIdenticalEntryLeavesTheFileUntouched) {
    tb.write_file("/etc/fstab", kForeignFstab);
    struct stat before {};
    ASSERT_EQ(::stat((tb.root + "/etc/fstab").c_str(), &before), 0);
    ASSERT_EQ(st.update_sysconfig_files("/tw/disk2", "/dev/sdc", "xfs", "noatime,inode64,nofail", "/etc/fstab"), 0);
    struct stat after {};
    ASSERT_EQ(::stat((tb.root + "/etc/fstab").c_str(), &after), 0);
    EXPECT_EQ(tb.read_file("/etc/fstab"), kForeignFstab);  // foreign header and comments included
    EXPECT_EQ(before.st_ino, after.st_ino);  // not even replaced by the same bytes
    EXPECT_TRUE(
        tb.logged(0, "tw_storage::update_sysconfig_files",
                  "BlkDev [/dev/sdc] mountpath [/tw/disk2] already exists in /etc/fstab file. Will skip updation."));
}

TEST_F(FstabTest, UpdateMatchingByPathAndByDeviceWritesOneLine) {
    tb.write_file("/etc/fstab", kForeignFstab);
    // /tw/disk1 is on sdb, sdc is on /tw/disk2: both lines match.
    ASSERT_EQ(st.update_sysconfig_files("/tw/disk1", "/dev/sdc", "xfs", "noatime", "/etc/fstab"), 0);
    EXPECT_EQ(tb.read_file("/etc/fstab"), kHeader +
                                              "UUID=1111      /      xfs      defaults      0   1\n"
                                              "# data drives\n"
                                              "/dev/sdc      /tw/disk1      xfs      noatime      0   0\n");
}

TEST_F(FstabTest, UpdateReadsEtcFstabWhateverFileItWrites) {
    tb.write_file("/etc/fstab", kForeignFstab);
    ASSERT_EQ(st.update_sysconfig_files("/tw/disk3", "/dev/sde", "xfs", "noatime", "/etc/fstab.next"), 0);
    EXPECT_EQ(tb.read_file("/etc/fstab"), kForeignFstab);
    std::string next = tb.read_file("/etc/fstab.next");
    EXPECT_EQ(next.compare(0, kHeader.size(), kHeader), 0);
    EXPECT_NE(next.find("/dev/sdc      /tw/disk2"), std::string::npos);
    EXPECT_NE(next.find("/dev/sde      /tw/disk3      xfs      noatime      0   0\n"), std::string::npos);
}

TEST_F(FstabTest, RewriteKeepsModeAndOwner) {
    tb.write_file("/etc/fstab", kForeignFstab);
    std::string real = tb.root + "/etc/fstab";
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    bool can_chown = ::geteuid() == 0;
    if (can_chown) {
        ASSERT_EQ(::chown(real.c_str(), 1234, 4321), 0);
    }
    ASSERT_EQ(st.update_sysconfig_files("/tw/disk1", "/dev/sdz", "xfs", "noatime", "/etc/fstab"), 0);
    struct stat sb {};
    ASSERT_EQ(::stat(real.c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 07777, 0640u);
    if (can_chown) {
        EXPECT_EQ(sb.st_uid, 1234u);
        EXPECT_EQ(sb.st_gid, 4321u);
    }
    EXPECT_NE(tb.read_file("/etc/fstab").find("/dev/sdz"), std::string::npos);
}

TEST_F(FstabTest, UnreadableFstabIsNeverReplacedByAShorterOne) {
    tb.make_dir("/etc/fstab");  // reading it fails (EISDIR)
    try {
        st.update_sysconfig_files("/tw/disk1", "/dev/sdb", "xfs", "noatime", "/etc/fstab.out");
        FAIL() << "no exception";
    } catch (const TsException& e) {
        EXPECT_EQ(e.message(), "Failed to read /etc/fstab");
    }
    EXPECT_FALSE(tb.exists("/etc/fstab.out"));
}

// Writes beyond a small file-size limit fail with EFBIG: the rewrite of the
// temporary file fails half way, as on a full disk.
class file_size_limit {
public:
    explicit file_size_limit(rlim_t bytes) {
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        struct rlimit lim = old_;
        lim.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~file_size_limit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, old_handler_);
    }

private:
    struct rlimit old_ {};
    void (*old_handler_)(int);
};

TEST_F(FstabTest, AFailedRewriteLeavesTheOldFileWholeAndThrows) {
    tb.write_file("/etc/fstab", kForeignFstab);
    std::string message;
    {
        file_size_limit limit(100);  // the header alone is longer
        try {
            st.update_sysconfig_files("/tw/disk1", "/dev/sdd", "xfs", "noatime,inode64,nofail", "/etc/fstab");
        } catch (const TsException& e) {
            message = e.message();
        }
    }
    EXPECT_EQ(message, "Failed to add entry to /etc/fstab");
    EXPECT_EQ(tb.read_file("/etc/fstab"), kForeignFstab);
    EXPECT_EQ(files_in(tb.root + "/etc"), std::vector<std::string>{"fstab"});  // no temporary file left
    EXPECT_TRUE(tb.logged(-1, "tw_storage::create_sysconfig_files", "Failed to add entry to [/etc/fstab]"));

    std::list<std::string> removed;
    {
        file_size_limit limit(100);
        EXPECT_THROW(st.trim_sysconfig_files("/tw/disk1", "/etc/fstab", removed), TsException);
    }
    EXPECT_EQ(tb.read_file("/etc/fstab"), kForeignFstab);
}

TEST_F(FstabTest, TrimRemovesEveryEntryOfAMountPathAndReportsTheirDevices) {
    tb.write_file("/etc/fstab",
                  "UUID=1111 / xfs defaults 0 1\n"
                  "/dev/sdb /tw/disk1 xfs noatime 0 0\n"
                  "/dev/sdf /tw/disk1 xfs noatime 0 0\n"
                  "/dev/sdc /tw/disk2 xfs noatime 0 0\n");
    std::list<std::string> removed = {"stale"};
    ASSERT_EQ(st.trim_sysconfig_files("/tw/disk1", "/etc/fstab", removed), 0);
    EXPECT_EQ(removed, (std::list<std::string>{"/dev/sdb", "/dev/sdf"}));
    EXPECT_EQ(tb.read_file("/etc/fstab"), kHeader +
                                              "UUID=1111      /      xfs      defaults      0   1\n"
                                              "/dev/sdc      /tw/disk2      xfs      noatime      0   0\n");
    EXPECT_TRUE(tb.logged(0, "tw_storage::trim_sysconfig_files",
                          "BlkDev [/dev/sdf] mountpath [/tw/disk1] removing entry from /etc/fstab file."));
}

TEST_F(FstabTest, TrimWithoutAMatchRewritesTheFileWithTheNodesHeader) {
    tb.write_file("/etc/fstab", kForeignFstab);
    std::list<std::string> removed;
    ASSERT_EQ(st.trim_sysconfig_files("/tw/disk9", "/etc/fstab", removed), 0);
    EXPECT_TRUE(removed.empty());
    EXPECT_EQ(tb.read_file("/etc/fstab"),
              kHeader +
                  "UUID=1111      /      xfs      defaults      0   1\n"
                  "# data drives\n"
                  "/dev/sdb      /tw/disk1      xfs      noatime,inode64,nofail      0   0\n"
                  "/dev/sdc      /tw/disk2      xfs      noatime,inode64,nofail      0   0\n");
}

// The system's own lines keep their dump and pass fields through every
// rewrite; the fixed pair is only for the entries a call adds or replaces.
TEST_F(FstabTest, LinesReadFromTheFileKeepTheirDumpAndPass) {
    const std::string os =
        "/dev/mapper/vg-root / xfs defaults 0 1\n"
        "/dev/sda3 /var xfs defaults 0 2\n"
        "/dev/sda5 /home xfs defaults 0 2\n"
        "/dev/sda6 /srv ext4 defaults 1 2\n"
        "/dev/sdb /tw/disk1 xfs noatime 0 0\n";
    const std::string root = "/dev/mapper/vg-root      /      xfs      defaults      0   1\n";
    const std::string var = "/dev/sda3      /var      xfs      defaults      0   2\n";
    const std::string home = "/dev/sda5      /home      xfs      defaults      0   2\n";
    const std::string srv = "/dev/sda6      /srv      ext4      defaults      1   2\n";
    const std::string disk1 = "/dev/sdb      /tw/disk1      xfs      noatime      0   0\n";
    std::list<std::string> removed;
    struct {
        const char* name;
        std::function<void()> call;
        std::string lines;
    } cases[] = {
        {"update adds", [&] { st.update_sysconfig_files("/tw/disk2", "/dev/sdc", "xfs", "noatime", "/etc/fstab"); },
         root + var + home + srv + disk1 + "/dev/sdc      /tw/disk2      xfs      noatime      0   0\n"},
        // The replaced line is the node's own now: a system path gets "1   1".
        {"update replaces", [&] { st.update_sysconfig_files("/home", "/dev/sdd", "xfs", "defaults", "/etc/fstab"); },
         root + var + "/dev/sdd      /home      xfs      defaults      1   1\n" + srv + disk1},
        {"trim", [&] { st.trim_sysconfig_files("/tw/disk1", "/etc/fstab", removed); }, root + var + home + srv},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tb.write_file("/etc/fstab", os);
        c.call();
        EXPECT_EQ(tb.read_file("/etc/fstab"), kHeader + c.lines);
    }
}

// The file's own header gives way to the node's; comments among the entries
// stay where they were, also when the entry they stood before is removed.
TEST_F(FstabTest, CommentsAfterTheFirstEntryAreKeptInPlace) {
    tb.write_file("/etc/fstab",
                  "# Created by anaconda\n"
                  "#\n"
                  "/dev/sda2 / xfs defaults 0 1\n"
                  "# /var on its own disk\n"
                  "\n"
                  "/dev/sda3 /var xfs defaults 0 2\n"
                  "  # data drives\n"
                  "/dev/sdb /tw/disk1 xfs noatime 0 0\n"
                  "/dev/sdc /tw/disk2 xfs noatime 0 0\n"
                  "# end of file\n");
    std::list<std::string> removed;
    ASSERT_EQ(st.trim_sysconfig_files("/tw/disk1", "/etc/fstab", removed), 0);
    ASSERT_EQ(st.update_sysconfig_files("/tw/disk3", "/dev/sdd", "xfs", "noatime", "/etc/fstab"), 0);
    EXPECT_EQ(tb.read_file("/etc/fstab"), kHeader +
                                              "/dev/sda2      /      xfs      defaults      0   1\n"
                                              "# /var on its own disk\n"
                                              "/dev/sda3      /var      xfs      defaults      0   2\n"
                                              "  # data drives\n"
                                              "/dev/sdc      /tw/disk2      xfs      noatime      0   0\n"
                                              "/dev/sdd      /tw/disk3      xfs      noatime      0   0\n"
                                              "# end of file\n");
}

// A linked /etc/fstab stays a link: its target is replaced, in the target's
// own directory, keeping its mode.
TEST_F(FstabTest, ALinkedFstabStaysALinkAndItsTargetIsRewritten) {
    tb.write_file("/data/conf/fstab.real", "/dev/sdb /tw/disk1 xfs noatime 0 0\n");
    ::chmod((tb.root + "/data/conf/fstab.real").c_str(), 0640);
    std::filesystem::create_symlink("conf/fstab.real", tb.root + "/data/fstab.hop");
    std::filesystem::create_symlink("../data/fstab.hop", tb.root + "/etc/fstab");
    ASSERT_EQ(st.update_sysconfig_files("/tw/disk2", "/dev/sdc", "xfs", "noatime", "/etc/fstab"), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(tb.root + "/etc/fstab"));
    EXPECT_EQ(std::filesystem::read_symlink(tb.root + "/etc/fstab"), "../data/fstab.hop");
    EXPECT_TRUE(std::filesystem::is_symlink(tb.root + "/data/fstab.hop"));
    EXPECT_EQ(tb.read_file("/data/conf/fstab.real"), kHeader +
                                                         "/dev/sdb      /tw/disk1      xfs      noatime      0   0\n"
                                                         "/dev/sdc      /tw/disk2      xfs      noatime      0   0\n");
    struct stat st_real {};
    ASSERT_EQ(::stat((tb.root + "/data/conf/fstab.real").c_str(), &st_real), 0);
    EXPECT_EQ(st_real.st_mode & 07777, 0640u);
    EXPECT_EQ(files_in(tb.root + "/etc"), std::vector<std::string>{"fstab"});
    EXPECT_EQ(files_in(tb.root + "/data/conf"), std::vector<std::string>{"fstab.real"});
    std::list<std::string> removed;
    ASSERT_EQ(st.trim_sysconfig_files("/tw/disk1", "/etc/fstab", removed), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(tb.root + "/etc/fstab"));
    EXPECT_EQ(tb.read_file("/data/conf/fstab.real"),
              kHeader + "/dev/sdc      /tw/disk2      xfs      noatime      0   0\n");
}

TEST_F(FstabTest, ValidEntryCheckNeedsDevicePathAndType) {
    tb.write_file("/etc/fstab", kForeignFstab);
    std::list<std::string> options;
    EXPECT_EQ(st.is_valid_sysconfig_file_entry("/tw/disk2", "/dev/sdc", "xfs", options), 0);
    EXPECT_EQ(options, (std::list<std::string>{"noatime", "inode64", "nofail"}));
    EXPECT_EQ(st.is_valid_sysconfig_file_entry("/tw/disk2", "/dev/sdc", "ext4", options), -1);
    EXPECT_EQ(st.is_valid_sysconfig_file_entry("/tw/disk2", "/dev/sdb", "xfs", options), -1);
    EXPECT_TRUE(tb.logged(0, "tw_storage::is_valid_sysconfig_file_entry", "BlkDev                [/dev/sdb]"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::is_valid_sysconfig_file_entry",
                          "BlkDev [/dev/sdb] mountpath [/tw/disk2] does not exist in /etc/fstab file."));
}

TEST_F(FstabTest, AUuidDeviceTextResolvesWithoutReadingTheFstab) {
    tb.make_dir("/dev/disk/by-uuid");
    std::filesystem::create_symlink("../../sdc1", tb.root + "/dev/disk/by-uuid/abc");
    struct row {
        const char* text;
        int rc;
        const char* dev;
    };
    for (const row& r : std::vector<row>{{"UUID=abc", 0, "/dev/sdc1"},
                                         {"UUID=\"abc\"", 0, "/dev/sdc1"},
                                         {"UUID=gone", -1, "untouched"},
                                         {"UUID=../../etc/x", -1, "untouched"},
                                         {"UUID=..", -1, "untouched"},
                                         {"PARTUUID=abc", -1, "untouched"},
                                         {"/dev/sdd", -1, "untouched"}}) {
        std::string dev = "untouched";
        EXPECT_EQ(r.rc, st.resolve_fstab_uuid(r.text, dev)) << r.text;
        EXPECT_EQ(r.dev, dev) << r.text;
    }
    EXPECT_TRUE(tb.commands.empty());
}

TEST_F(FstabTest, BackingDeviceOfAUuidEntryResolvesThroughDevDiskByUuid) {
    tb.write_file("/etc/fstab",
                  "UUID=abc /tw/disk1 xfs noatime 0 0\n"
                  "/dev/sdd /tw/disk2 xfs noatime 0 0\n"
                  "UUID=\"02DC-E00F\" /boot/efi vfat nofail 0 0\n"
                  "UUID=gone /tw/disk3 xfs noatime 0 0\n"
                  "UUID=../../etc/x /tw/disk4 xfs noatime 0 0\n"
                  "PARTUUID=abc /tw/disk5 xfs noatime 0 0\n");
    tb.make_dir("/dev/disk/by-uuid");
    std::filesystem::create_symlink("../../sdc1", tb.root + "/dev/disk/by-uuid/abc");
    std::filesystem::create_symlink("../../sda1", tb.root + "/dev/disk/by-uuid/02DC-E00F");

    std::string dev;
    EXPECT_EQ(st.get_fstab_backing_device("/tw/disk1", dev), 0);
    EXPECT_EQ(dev, "/dev/sdc1");
    EXPECT_EQ(st.get_fstab_backing_device("/boot/efi", dev), 0);
    EXPECT_EQ(dev, "/dev/sda1");

    EXPECT_EQ(st.get_fstab_backing_device("/tw/disk2", dev), 0);
    EXPECT_EQ(dev, "/dev/sdd");
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_fstab_backing_device",
                          "BlkDev [/dev/sdd] mountpath [/tw/disk2] not a UUID config"));
    EXPECT_EQ(st.get_fstab_backing_device("/tw/disk5", dev), 0);
    EXPECT_EQ(dev, "PARTUUID=abc");

    EXPECT_EQ(st.get_fstab_backing_device("/tw/disk3", dev), -1);
    EXPECT_EQ(dev, "UUID=gone");
    EXPECT_EQ(st.get_fstab_backing_device("/tw/disk4", dev), -1);
    dev = "untouched";
    EXPECT_EQ(st.get_fstab_backing_device("/tw/nowhere", dev), -1);
    EXPECT_EQ(dev, "untouched");
}

TEST_F(FstabTest, UuidFromFstab) {
    tb.write_file("/etc/fstab",
                  "UUID=0baa76a6-e0c5-4d9b-b9e9-3a93d9bcc94b /tw/disk1 xfs noatime 0 0\n"
                  "/dev/sdd /tw/disk2 xfs noatime 0 0\n"
                  "UUID=\"02DC-E00F\" /boot/efi vfat nofail 0 0\n");
    std::string uuid;
    EXPECT_EQ(st.get_uuid_from_fstab("/tw/disk1", uuid), 0);
    EXPECT_EQ(uuid, "0baa76a6-e0c5-4d9b-b9e9-3a93d9bcc94b");
    EXPECT_EQ(st.get_uuid_from_fstab("/boot/efi", uuid), 0);
    EXPECT_EQ(uuid, "02DC-E00F");
    EXPECT_EQ(st.get_uuid_from_fstab("/tw/disk2", uuid), -1);
    EXPECT_EQ(st.get_uuid_from_fstab("/tw/disk9", uuid), -1);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_uuid_from_fstab", "mountpath [/tw/disk9] not found in /etc/fstab "));
}

TEST_F(FstabTest, MountOptionsValidPerKind) {
    std::list<std::string> full = {"noatime", "inode64", "nofail"}, partial = {"noatime", "nofail"},
                           glued = {"noatime,inode64,nofail"}, nofail = {"nofail"}, none;
    EXPECT_TRUE(st.fsargs_valid(tw_storage::MNT_PATH_DDB, full));
    EXPECT_TRUE(st.fsargs_valid(tw_storage::MNT_PATH_MALDOR_DATAPATH, full));
    EXPECT_FALSE(st.fsargs_valid(tw_storage::MNT_PATH_DDB, partial));
    EXPECT_FALSE(st.fsargs_valid(tw_storage::MNT_PATH_DATAPATH, glued));
    EXPECT_TRUE(st.fsargs_valid(tw_storage::MNT_PATH_EFI_BOOT, nofail));
    EXPECT_FALSE(st.fsargs_valid(tw_storage::MNT_PATH_EFI_BOOT, none));
    EXPECT_TRUE(st.fsargs_valid(tw_storage::MNT_PATH_GLUSTERFS, none));
    EXPECT_TRUE(st.fsargs_valid(tw_storage::MNT_PATH_OTHER, none));
    EXPECT_FALSE(st.fsargs_valid(static_cast<tw_storage::mnt_path_type>(0), full));
}

// While another process holds the fstab lock, a rewrite fails rather than lose
// that process's entry, and the file stays as it was; the old lock name in the
// shared /run/lock means nothing any more.
TEST_F(FstabTest, ARewriteThatCannotHaveTheLockFailsAndChangesNothing) {
    tb.write_file("/etc/fstab", kForeignFstab);
    tb.make_dir("/run/lock");
    tidewall::file_io::exclusive_lock old_name(tb.root + "/run/lock/tidewall-fstab.lock", 0);
    ASSERT_TRUE(old_name.held());
    EXPECT_EQ(0, st.update_sysconfig_files("/tw/disk2", "/dev/sdc", "xfs", "noatime", "/etc/fstab"));
    std::string with_disk2 = tb.read_file("/etc/fstab");
    tidewall::locks::held_lock other("fstab.lock", 0);
    ASSERT_TRUE(other.held());
    std::list<std::string> removed;
    EXPECT_THROW(st.update_sysconfig_files("/tw/disk3", "/dev/sdd", "xfs", "noatime", "/etc/fstab"), TsException);
    EXPECT_THROW(st.trim_sysconfig_files("/tw/disk2", "/etc/fstab", removed), TsException);
    EXPECT_EQ(with_disk2, tb.read_file("/etc/fstab"));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::trim_sysconfig_files",
                          "Cannot lock /etc/fstab rewrites: held by pid " + std::to_string(::getpid())));
}

}  // namespace
