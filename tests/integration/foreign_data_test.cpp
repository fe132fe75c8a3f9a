// Every destructive storage call on a node that already holds things it does
// not own: a mounted XFS on a loop device with a file on it, the operating
// system's fstab lines (pass 2, a comment) behind a symlinked /etc/fstab, and a
// symlinked sysctl.conf and multipath.conf. After each call, successful or
// refused, each of them is still there, still mounted and unchanged.

#include "foundation/compat/tsaf_utils.h"

#include <tidewall/tw_perf_params_config.h>
#include <tidewall/tw_storage.h>

#include "tuning/perf_params_versions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "shell.h"

namespace {

namespace fs = std::filesystem;
using tidewall::testing::loop_device;
using tidewall::testing::mounted_at;
using tidewall::testing::sh;
using tidewall::testing::slurp;

const char* const kForeignMount = "/srv/foreign";
const char* const kFstabTarget = "/etc/os-conf/fstab";
const std::string kKeep = "the foreign file system's own data\n";

// The fields of every entry line of a mount table, comments left out.
std::vector<std::vector<std::string>> entries_of(const std::string& text) {
    std::vector<std::vector<std::string>> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::vector<std::string> fields;
        for (std::string w; f >> w;) fields.push_back(w);
        if (!fields.empty() && fields[0][0] != '#') out.push_back(fields);
    }
    return out;
}

class ForeignData : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("TW_IN_SANDBOX")) << "run through sandbox.sh: this test formats loop devices";
        work_ = sh("mktemp -d /tmp/twforeign.XXXXXX");
        ASSERT_FALSE(work_.empty());
        ASSERT_EQ(0, tsaf_utils::set_reg_key("sArrowfieldApplianceType", "RM-110"));

        foreign_ = loop("foreign");
        ASSERT_EQ(sh("mkfs.xfs -q -f " + foreign_ + "; echo $?"), "0");
        fs::create_directories(kForeignMount);
        ASSERT_EQ(sh("mount " + foreign_ + " " + kForeignMount + "; echo $?"), "0");
        std::ofstream(std::string(kForeignMount) + "/keep.txt") << kKeep;
        foreign_uuid_ = sh("blkid -p -c /dev/null -o value -s UUID " + foreign_);
        ASSERT_FALSE(foreign_uuid_.empty());

        // The system's own fstab, kept elsewhere and linked from /etc/fstab.
        os_lines_ =
            "# /etc/fstab of the operating system\n"
            "UUID=6b0a0c1e-1111-4c3b-9a0e-000000000001 / xfs defaults 0 1\n"
            "/dev/sda3 /var xfs defaults 0 2\n"
            "/dev/sda5 /home xfs defaults,nodev 0 2\n"
            "# the foreign volume\n" +
            foreign_ + " " + kForeignMount + " xfs defaults 0 2\n";
        fs::create_directories(fs::path(kFstabTarget).parent_path());
        std::ofstream(kFstabTarget) << os_lines_;
        fs::remove("/etc/fstab");
        fs::create_symlink("os-conf/fstab", "/etc/fstab");
    }
    void TearDown() override {
        sh(std::string("umount ") + kForeignMount + " 2>/dev/null");
        fs::remove(kForeignMount);
        for (const auto& m : mounts_) {
            sh("umount " + m + " 2>/dev/null");
            std::error_code ec;
            fs::remove(m, ec);  // the mount path this test made: only when empty, never what a mount holds
        }
        loops_.clear();
        fs::remove("/etc/fstab");
        fs::remove_all(fs::path(kFstabTarget).parent_path());
        fs::remove_all(work_);
    }
    std::string loop(const std::string& name) {
        loops_.push_back(std::make_unique<loop_device>(work_, name));
        EXPECT_EQ(loops_.back()->path().rfind("/dev/loop", 0), 0u) << "no loop device";
        return loops_.back()->path();
    }
    // The foreign volume is mounted, its file and UUID unchanged, and /etc/fstab
    // still the same link.
    void expect_foreign_untouched(const std::string& after) {
        SCOPED_TRACE("after " + after);
        EXPECT_TRUE(mounted_at(foreign_, kForeignMount));
        EXPECT_EQ(slurp(std::string(kForeignMount) + "/keep.txt"), kKeep);
        EXPECT_EQ(sh("blkid -p -c /dev/null -o value -s UUID " + foreign_), foreign_uuid_);
        EXPECT_TRUE(fs::is_symlink("/etc/fstab"));
        EXPECT_EQ(fs::read_symlink("/etc/fstab"), "os-conf/fstab");
    }
    // Every entry of the system's fstab is still in the file, field for field,
    // and so is the comment among them.
    void expect_os_entries_kept() {
        EXPECT_NE(slurp(kFstabTarget).find("# the foreign volume\n" + foreign_ + "      "), std::string::npos);
        auto now = entries_of(slurp(kFstabTarget));
        for (const auto& e : entries_of(os_lines_))
            EXPECT_NE(std::find(now.begin(), now.end(), e), now.end()) << e[1] << " lost or changed";
    }
    std::string work_, foreign_, foreign_uuid_, os_lines_;
    std::vector<std::string> mounts_;
    std::vector<std::unique_ptr<loop_device>> loops_;
};

TEST_F(ForeignData, FstabUpdateAndTrimKeepTheSystemsLinesAndTheLink) {
    tw_storage st;
    ASSERT_EQ(st.update_sysconfig_files("/tw/disk1", "/dev/sdx", "xfs", "noatime,inode64,nofail", "/etc/fstab"), 0);
    expect_foreign_untouched("update");
    expect_os_entries_kept();
    EXPECT_NE(slurp(kFstabTarget).find("/dev/sdx      /tw/disk1      xfs      noatime,inode64,nofail      0   0\n"),
              std::string::npos);
    EXPECT_EQ(sh("awk '$2 == \"/var\" { print $5, $6 }' /etc/fstab"), "0 2");  // still checked at boot

    std::list<std::string> removed;
    ASSERT_EQ(st.trim_sysconfig_files("/tw/disk1", "/etc/fstab", removed), 0);
    EXPECT_EQ(removed, std::list<std::string>{"/dev/sdx"});
    expect_foreign_untouched("trim");
    expect_os_entries_kept();
    EXPECT_EQ(sh("ls -A /etc/os-conf"), "fstab");  // no temporary file left beside it
}

TEST_F(ForeignData, CleanupBrickTakesOnlyThisNodesDataBrick) {
    const std::string data = loop("data");
    ASSERT_EQ(sh("mkfs.xfs -q -f " + data + "; echo $?"), "0");
    fs::create_directories("/tw/disk1");
    mounts_.push_back("/tw/disk1");
    ASSERT_EQ(sh("mount " + data + " /tw/disk1; echo $?"), "0");
    fs::create_directories("/tw/disk1/tw_brick");
    fs::create_directories(std::string(kForeignMount) + "/tw_brick");
    fs::create_directories("/var/tw_brick");
    { std::ofstream(kFstabTarget, std::ios::app) << data << " /tw/disk1 xfs noatime,inode64,nofail 0 0\n"; }
    const std::string before = slurp(kFstabTarget);
    const std::string self = sh("hostname");

    tw_storage st;
    const std::vector<std::string> refused = {"nodeBsds.invalid:/tw/disk1/tw_brick",
                                              self + ":" + kForeignMount + "/tw_brick", self + ":/var/tw_brick"};
    for (const auto& brick : refused) {
        EXPECT_EQ(st.cleanup_brick(brick), -1) << brick;
        expect_foreign_untouched(brick);
        EXPECT_EQ(slurp(kFstabTarget), before) << brick;
        EXPECT_TRUE(mounted_at(data, "/tw/disk1")) << brick;
    }
    fs::remove("/var/tw_brick");
    fs::remove(std::string(kForeignMount) + "/tw_brick");

    ASSERT_EQ(st.cleanup_brick(self + ":/tw/disk1/tw_brick"), 0);
    EXPECT_FALSE(mounted_at(data, "/tw/disk1"));
    expect_foreign_untouched("own brick");
    expect_os_entries_kept();
    EXPECT_EQ(slurp(kFstabTarget).find("/tw/disk1"), std::string::npos);
}

TEST_F(ForeignData, ProvisioningWipeAndFormatTouchOnlyTheNewDisk) {
    const std::string blank = loop("blank");
    ASSERT_EQ(0, tsaf_utils::set_reg_key("sTidewallTestDisks", blank + "," + foreign_));
    const std::string fstab = slurp(kFstabTarget);
    tw_storage st;

    // A mounted volume is neither wiped nor formatted.
    EXPECT_EQ(st.wipe_partition_table(foreign_), -1);
    EXPECT_NE(st.format_blkdev(foreign_, "xfs"), 0);
    expect_foreign_untouched("wipe and format of the foreign volume");

    // Appliance type not recorded: nothing is wiped, the call fails.
    sh("printf 'keep' | dd of=" + blank + " conv=notrunc status=none");
    const std::string reg = "/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/registry.conf";
    ASSERT_EQ(sh("sed -i '/^sArrowfieldApplianceType /d' " + reg + "; echo $?"), "0");
    std::string type;
    ASSERT_NE(tsaf_utils::get_reg_key("sArrowfieldApplianceType", type), 0);
    EXPECT_EQ(st.mount_new_blkdev(), -1);
    EXPECT_EQ(sh("head -c 4 " + blank), "keep");
    expect_foreign_untouched("provisioning refused");
    EXPECT_EQ(slurp(kFstabTarget), fstab);

    // A recorded type: the new disk, and only it, becomes the next data mount path.
    ASSERT_EQ(0, tsaf_utils::set_reg_key("sArrowfieldApplianceType", "RM-110"));
    const std::string next = "/tw/disk" + std::to_string(st.get_data_mntpath_lastslot() + 1);
    mounts_.push_back(next);
    EXPECT_EQ(st.mount_new_blkdev(), 0);
    EXPECT_TRUE(mounted_at(blank, next));
    expect_foreign_untouched("provisioning");
    EXPECT_EQ(slurp(kFstabTarget), fstab);
}

TEST_F(ForeignData, MountsThatDidNotHappenAndUuidsThatDoNotExistAreFailures) {
    tw_storage st;
    mounts_.push_back("/tw/disk7");
    fs::create_directories("/tw/disk7");
    // nofail: mount(8) exits 0 for a missing device.
    EXPECT_EQ(st.mount("/tw/disk7", "/dev/tw-no-such-disk", "xfs", "noatime,nofail"), -1);
    EXPECT_EQ(sh("grep -c ' /tw/disk7 ' /proc/self/mounts"), "0");

    const std::string blank = loop("blank");
    std::string uuid = "kept";
    EXPECT_THROW(st.extract_filesys_uuid(blank, "xfs", uuid), TsException);
    EXPECT_THROW(st.extract_filesys_uuid(blank, "ext4", uuid), TsException);
    EXPECT_EQ(uuid, "kept");

    // ext4 with a given UUID.
    const std::string want = "c64f022b-0622-40d7-b1c4-ac23d494c30a";
    ASSERT_EQ(st.format_blkdev_with_uuid(blank, "ext4", want), 0);
    EXPECT_EQ(sh("blkid -p -c /dev/null -o value -s UUID " + blank), want);
    ASSERT_EQ(st.extract_filesys_uuid(blank, "ext4", uuid), 0);
    EXPECT_EQ(uuid, want);
    expect_foreign_untouched("mount and format");
}

TEST_F(ForeignData, TuningRewritesWriteThroughLinkedFiles) {
    const std::string dir = work_ + "/conf";
    fs::create_directories(dir);
    std::string bin = work_ + "/bin";
    fs::create_directories(bin);
    std::ofstream(bin + "/multipath") << "#!/bin/sh\nexit 0\n";
    fs::permissions(bin + "/multipath", fs::perms(0755));
    std::string saved_path = std::getenv("PATH");
    struct restore {
        std::string path;
        std::vector<std::pair<std::string, std::string>> files;  // link, what it replaced
        ~restore() {
            ::setenv("PATH", path.c_str(), 1);
            for (const auto& [link, saved] : files) {
                fs::remove(link);
                if (!saved.empty()) fs::rename(saved, link);
            }
        }
    } undo{saved_path, {}};
    ::setenv("PATH", (bin + ":" + saved_path).c_str(), 1);
    for (const char* file : {"/etc/sysctl.conf", "/etc/multipath.conf"}) {
        std::string saved;
        if (fs::exists(fs::symlink_status(file))) {
            saved = std::string(file) + ".twtest-saved";  // beside it: /tmp is another file system
            fs::rename(file, saved);
        }
        undo.files.emplace_back(file, saved);
        std::string target = dir + "/" + fs::path(file).filename().string();
        std::ofstream(target) << "kernel.pid_max = 65536\n";
        fs::create_symlink(target, file);
    }

    EXPECT_EQ(tw_perf_params_config().update_conf_file("/etc/sysctl.conf", "vm.swappiness", "vm.swappiness = 1", true),
              0);
    EXPECT_EQ(tw_perf_params_version_v7().update_multipath_config(), 0);
    for (const char* file : {"/etc/sysctl.conf", "/etc/multipath.conf"}) {
        EXPECT_TRUE(fs::is_symlink(file)) << file;
        EXPECT_NE(slurp(file).find("kernel.pid_max = 65536\n"), std::string::npos) << file;
    }
    EXPECT_NE(slurp(dir + "/sysctl.conf").find("vm.swappiness = 1\n"), std::string::npos);
    EXPECT_NE(slurp(dir + "/multipath.conf").find("no_path_retry 4"), std::string::npos);
    expect_foreign_untouched("tuning rewrites");
    EXPECT_EQ(slurp(kFstabTarget), os_lines_);
}

}  // namespace
