// Provisioning that survives a crash, a failed step and a second caller: the
// intent record, the runs that finish recorded disks, and the node-wide lock.

#include "storage_fixture.h"

#include "foundation/fs/node_lock.h"
#include "storage/provisioning_intent.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <csignal>
#include <filesystem>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

using tidewall::storage::provisioning_intent_record;
using tidewall::testing::add_disk;
using tidewall::testing::fake_disk;
using tidewall::testing::peek;
using tidewall::testing::poke;
using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

// What the test backend's random source gives when nothing is queued.
const std::string kUuid = "78563412-7856-4412-b856-341278563412";
const std::string kMkfsSdb = "echo y | mkfs -t xfs -f -m uuid=" + kUuid + " /dev/sdb";
const std::string kMountSdb = "mount -t xfs  -o noatime,inode64,nofail /dev/sdb /tw/disk1";
const std::string kUuidOfSdb = "xfs_admin -u /dev/sdb | awk '{print $3}'";

// Writes beyond a file-size limit fail with EFBIG, as on a full disk.
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

class ProvisioningIntentTest : public ::testing::Test {
protected:
    void SetUp() override {
        tidewall::testing::use_gluster_flavour(tb);
        tb.make_dir("/run");
        tb.make_dir("/var/lib");
        tb.make_dir("/tw");
        tb.write_file("/etc/mtab", "/dev/vda / ext4 rw 0 0\n");
        tidewall::testing::mounts_take_effect(tb);
        add_disk(tb, fake_disk("sdb"));
        poke(tb, "/dev/sdb", 0, std::string(512, '\xab'));
    }
    std::vector<provisioning_intent_record> records() {
        std::vector<provisioning_intent_record> r;
        EXPECT_EQ(tidewall::storage::load_provisioning_intents(r), 0);
        return r;
    }
    void record(const std::string& dev, const std::string& step, bool fstab = true) {
        provisioning_intent_record r;
        r.device = dev;
        r.mount_path = "/tw/disk1";
        r.uuid = kUuid;
        r.step = step;
        r.record_fstab = fstab;
        ASSERT_EQ(tidewall::storage::save_provisioning_intents({r}), 0);
    }
    int provision(bool fstab, std::list<tw_storage::provisioning_outcome>& out) {
        return st.provision_disks({tsaf_blkdev_basic_info("/dev/sdb")}, fstab, out);
    }
    test_backend tb;
    storage_under_test s{tb};
    tw_storage& st = s.storage;
    std::optional<file_size_limit> full;
};

TEST_F(ProvisioningIntentTest, RecordsSurviveTheirFileAndCutLinesAreNoRecords) {
    provisioning_intent_record a;
    a.device = "/dev/sdb";
    a.serial = "ZA1\tX";  // a separator inside a value must not split the record
    a.wwn = "naa.5000c500a1b2c3d4";
    a.mount_path = "/tw/disk7";
    a.uuid = kUuid;
    a.record_fstab = false;
    a.step = "formatted";
    a.last_failure = "fstab: Failed to read /etc/fstab";
    std::string text = tidewall::storage::format_provisioning_intents({a});
    auto back = tidewall::storage::parse_provisioning_intents(text + "device=/dev/sdc\tmount_path=/tw/disk8\n");
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].serial, "ZA1 X");
    EXPECT_EQ(back[0].wwn, a.wwn);
    EXPECT_EQ(back[0].mount_path, "/tw/disk7");
    EXPECT_EQ(back[0].uuid, kUuid);
    EXPECT_FALSE(back[0].record_fstab);
    EXPECT_EQ(back[0].step, "formatted");
    EXPECT_EQ(back[0].last_failure, a.last_failure);

    // Root-only, and gone with the last record.
    ASSERT_EQ(tidewall::storage::save_provisioning_intents({a}), 0);
    std::string file;
    ASSERT_EQ(tidewall::storage::provisioning_intent_file(file), 0);
    EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // A record that cannot be removed is an error, and stays.
    tb.fail_file("unlink", file.substr(tb.root.size()), EROFS);
    EXPECT_EQ(tidewall::storage::save_provisioning_intents({}), EROFS);
    EXPECT_TRUE(std::filesystem::exists(file));
    tb.fail_file("unlink", file.substr(tb.root.size()), 0);
    ASSERT_EQ(tidewall::storage::save_provisioning_intents({}), 0);
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(ProvisioningIntentTest, TheRecordNamesTheDiskBeforeTheWipeAndGoesWithItsFstabEntry) {
    tb.write_file("/sys/block/sdb/device/serial", "ZA1B2C3D\n");
    tb.write_file("/sys/block/sdb/device/wwid", "naa.5000c500a1b2c3d4\n");
    tb.on(kUuidOfSdb, 0, kUuid + "\n");
    std::vector<provisioning_intent_record> at_mkfs;
    tb.on(kMkfsSdb, 0);
    auto follow = tb.fallback;
    tb.fallback = [&](const std::string& cmd) -> std::optional<tidewall::host::command_result> {
        if (cmd.rfind("mount -t", 0) == 0) at_mkfs = records();
        return follow(cmd);
    };
    std::list<tw_storage::provisioning_outcome> out;
    ASSERT_EQ(provision(true, out), 0);
    EXPECT_EQ(tb.commands, (std::vector<std::string>{kMkfsSdb, kMountSdb, kUuidOfSdb}));
    ASSERT_EQ(at_mkfs.size(), 1u);
    EXPECT_EQ(at_mkfs[0].device, "/dev/sdb");
    EXPECT_EQ(at_mkfs[0].serial, "ZA1B2C3D");
    EXPECT_EQ(at_mkfs[0].wwn, "naa.5000c500a1b2c3d4");
    EXPECT_EQ(at_mkfs[0].mount_path, "/tw/disk1");
    EXPECT_EQ(at_mkfs[0].step, "formatted");
    EXPECT_NE(tb.read_file("/etc/fstab").find("UUID=" + kUuid + "      /tw/disk1      xfs"), std::string::npos);
    EXPECT_TRUE(records().empty());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out.front().mounted && out.front().in_fstab);
}

// A step that fails keeps the record; the next run retries that disk at the
// same slot with the same UUID before it takes a new disk.
TEST_F(ProvisioningIntentTest, AFailedStepIsRetriedAtItsSlotByTheNextRun) {
    struct {
        const char* name;
        std::function<void(test_backend&)> break_it, heal;
        std::string failure;
        std::vector<std::string> rerun;  // commands of the rerun for sdb
    } cases[] = {
        {"mkfs fails on write errors",
         [](test_backend& t) {
             t.on(kMkfsSdb, 1, "", "mkfs.xfs: pwrite failed: Input/output error");
             t.on(kMkfsSdb, 0);  // healed from the next call on
         },
         [](test_backend&) {},
         "format: mkfs exited with 1",
         {kMkfsSdb, kMountSdb, kUuidOfSdb}},
        {"fstab cannot be written (a full file system)",
         [this](test_backend& t) {
             t.on(kMkfsSdb, 0);
             std::string os;
             for (int i = 0; i < 60; ++i)
                 os += "/dev/vg0/lv" + std::to_string(i) + " /srv/" + std::to_string(i) + " xfs defaults 0 0\n";
             t.write_file("/etc/fstab", os);
             full.emplace(2048);  // the record fits, the fstab rewrite does not
         },
         [this](test_backend&) { full.reset(); },
         "fstab: ",
         {kUuidOfSdb}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        tb.on(kUuidOfSdb, 0, kUuid + "\n");
        c.break_it(tb);
        std::list<tw_storage::provisioning_outcome> out;
        EXPECT_EQ(provision(true, out), 1);
        auto r = records();
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].mount_path, "/tw/disk1");
        EXPECT_EQ(r[0].last_failure.rfind(c.failure, 0), 0u) << r[0].last_failure;
        ASSERT_EQ(out.size(), 1u);
        EXPECT_NE(out.front().message.find("the next provisioning retries it at /tw/disk1"), std::string::npos);

        c.heal(tb);
        add_disk(tb, fake_disk("sdc"));
        tb.on("echo y | mkfs -t xfs -f -m uuid=" + kUuid + " /dev/sdc", 0);
        tb.commands.clear();
        out.clear();
        ASSERT_EQ(st.provision_disks({tsaf_blkdev_basic_info("/dev/sdc")}, false, out), 0)
            << out.front().message << " / " << out.back().message;
        ASSERT_GE(tb.commands.size(), c.rerun.size());
        EXPECT_EQ(std::vector<std::string>(tb.commands.begin(), tb.commands.begin() + c.rerun.size()), c.rerun);
        EXPECT_EQ(tb.commands.back(), "mount -t xfs  -o noatime,inode64,nofail /dev/sdc /tw/disk2");
        EXPECT_TRUE(out.front().resumed);
        EXPECT_NE(tb.read_file("/etc/fstab").find("UUID=" + kUuid + "      /tw/disk1"), std::string::npos);
        EXPECT_TRUE(records().empty());
        std::filesystem::remove_all(tb.root + "/sys/block/sdc");
        std::filesystem::remove_all(tb.root + "/tw");
    }
}

// A recorded disk is finished from where its run stopped, or left alone when it
// is gone or holds something else.
TEST_F(ProvisioningIntentTest, RecordedDisksAreFinishedOrLeftAlone) {
    struct {
        const char* name;
        std::string step;
        std::function<void(test_backend&)> state;
        std::vector<std::string> commands;
        bool record_kept, stamped;
        std::string said;
    } cases[] = {
        {"killed before mkfs ended", "format", [](test_backend&) {}, {kMkfsSdb, kMountSdb}, false, true, ""},
        {"killed after the mount",
         "formatted",
         [](test_backend& t) {
             t.make_dir("/tw/disk1");
             t.write_file("/etc/mtab", "/dev/vda / ext4 rw 0 0\n/dev/sdb /tw/disk1 xfs rw 0 0\n");
         },
         {},
         false,
         true,
         ""},
        {"gone",
         "formatted",
         [](test_backend& t) { std::filesystem::remove_all(t.root + "/sys/block/sdb"); },
         {},
         true,
         false,
         "recorded for /tw/disk1 but gone: left alone"},
        {"another disk at its name",
         "formatted",
         [](test_backend& t) { t.write_file("/sys/block/sdb/device/serial", "OTHER\n"); },
         {},
         true,
         false,
         "now a different disk (serial [OTHER], recorded [ZA1])"},
        {"holds something else",
         "formatted",
         [](test_backend& t) {
             t.make_dir("/tw/disk1");
             tidewall::testing::write_ext_superblock(t, "/dev/sdb");
         },
         {},
         false,
         false,
         "but now carries a ext2 file system signature"},
        {"mounted elsewhere",
         "formatted",
         [](test_backend& t) { t.write_file("/etc/mtab", "/dev/sdb /srv/x xfs rw 0 0\n"); },
         {},
         false,
         false,
         "but now mounted at /srv/x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        std::filesystem::remove_all(tb.root + "/tw");
        tb.make_dir("/tw");
        tb.xattrs.clear();
        tb.write_file("/sys/block/sdb/device/serial", "ZA1\n");
        provisioning_intent_record r;
        r.device = "/dev/sdb";
        r.serial = "ZA1";
        r.mount_path = "/tw/disk1";
        r.uuid = kUuid;
        r.step = c.step;
        r.record_fstab = false;
        ASSERT_EQ(tidewall::storage::save_provisioning_intents({r}), 0);
        c.state(tb);
        std::string before = peek(tb, "/dev/sdb", 0, 2048);
        tb.on(kMkfsSdb, 0);
        tb.commands.clear();
        EXPECT_EQ(st.mount_new_blkdev(), c.said.empty() ? 0 : 1);
        EXPECT_EQ(tb.commands, c.commands);
        EXPECT_EQ(records().size(), c.record_kept ? 1u : 0u);
        EXPECT_EQ(tb.xattrs.count("/tw/disk1"), c.stamped ? 1u : 0u);
        if (!c.said.empty()) {
            EXPECT_EQ(peek(tb, "/dev/sdb", 0, 2048), before);  // left alone: not a byte changed
            bool said = false;
            for (const auto& l : tb.logs) said = said || l.text.find(c.said) != std::string::npos;
            EXPECT_TRUE(said) << c.said;
        }
        if (c.name == std::string("holds something else")) {
            EXPECT_FALSE(tb.exists("/tw/disk1"));  // slot free again
        }
    }
}

TEST_F(ProvisioningIntentTest, ASecondCallerIsRefusedAndTouchesNothing) {
    // Held through an open file of its own, as another process would hold it.
    tidewall::locks::operation_lock other(tidewall::locks::operation::provisioning, 0);
    ASSERT_TRUE(other.held());
    std::string msg = "another provisioning is running (pid " + std::to_string(::getpid()) + ")";
    std::list<tw_storage::provisioning_outcome> out;
    tsaf_blkdev_basic_info disk("/dev/sdb");
    std::string path;
    struct {
        const char* name;
        std::function<int()> call;
    } calls[] = {
        {"provision_disks", [&] { return provision(true, out); }},
        {"mount_new_blkdev()", [&] { return st.mount_new_blkdev(); }},
        {"mount_new_blkdev(disk)", [&] { return st.mount_new_blkdev(disk, path); }},
        {"mount_new_blkdev_with_uuid", [&] { return st.mount_new_blkdev_with_uuid(disk, kUuid, "/tw/disk1"); }},
    };
    for (const auto& c : calls) {
        SCOPED_TRACE(c.name);
        tb.logs.clear();
        EXPECT_EQ(c.call(), -1);
        bool said = false;
        for (const auto& l : tb.logs) said = said || l.text.find(msg) != std::string::npos;
        EXPECT_TRUE(said);
    }
    EXPECT_EQ(out.front().message, msg);
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_EQ(peek(tb, "/dev/sdb", 0, 512), std::string(512, '\xab'));
    tidewall::locks::operation_lock repair(tidewall::locks::operation::stamp_repair, 0);
    ASSERT_TRUE(repair.held());
    EXPECT_EQ(st.fix_tsln_stamps(), -1);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::fix_tsln_stamps",
                          "another stamp repair is running (pid " + std::to_string(::getpid()) + ")"));
}

}  // namespace
