// Storage-manager operations on real loop devices, real xfsprogs and mount,
// inside the sandbox: re-creating a drive with a given UUID, an /etc that runs
// out of space during an fstab rewrite, values that look like shell syntax, and
// a wipe that must refuse a disk in use.

#include "foundation/compat/tsaf_utils.h"

#include <tidewall/tw_storage.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "shell.h"

namespace {

using tidewall::testing::loop_device;
using tidewall::testing::mounted_at;
using tidewall::testing::sh;
using tidewall::testing::slurp;
using tidewall::testing::xattr;

const std::string kUuid = "0baa76a6-e0c5-4d9b-b9e9-3a93d9bcc94b";

class Disks : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("TW_IN_SANDBOX")) << "run through sandbox.sh: this test formats loop devices";
        work_ = sh("mktemp -d /tmp/twdisks.XXXXXX");
        ASSERT_FALSE(work_.empty());
        ASSERT_EQ(0, tsaf_utils::set_reg_key("sArrowfieldApplianceType", "RM-110"));
    }
    void TearDown() override {
        loops_.clear();
        std::filesystem::remove_all(work_);
    }
    const loop_device& loop(const std::string& name) {
        loops_.push_back(std::make_unique<loop_device>(work_, name));
        EXPECT_EQ(loops_.back()->path().rfind("/dev/loop", 0), 0u) << "no loop device";
        return *loops_.back();
    }
    std::string work_;
    std::vector<std::unique_ptr<loop_device>> loops_;
};

TEST_F(Disks, RecreateADataDriveWithItsUuid) {
    const auto& old_drive = loop("old");
    const auto& new_drive = loop("new");
    sh("mkfs.xfs -q -f " + old_drive.path());
    std::filesystem::create_directories("/tw/disk2");
    ASSERT_EQ(sh("mount " + old_drive.path() + " /tw/disk2; echo $?"), "0");
    // No systemd in the sandbox: a systemctl that answers like one that reloaded.
    std::string bin = work_ + "/bin";
    std::filesystem::create_directories(bin);
    std::ofstream(bin + "/systemctl") << "#!/bin/sh\n[ \"$*\" = daemon-reload ] && echo \"$*\" >> " << work_
                                      << "/systemctl.calls\n";
    std::filesystem::permissions(bin + "/systemctl", std::filesystem::perms(0755));
    std::string saved_path = std::getenv("PATH");
    struct restore_path {
        std::string value;
        ~restore_path() { ::setenv("PATH", value.c_str(), 1); }
    } restore{saved_path};
    ::setenv("PATH", (bin + ":" + saved_path).c_str(), 1);

    tw_storage st;
    tsaf_blkdev_basic_info disk(new_drive.path());
    ASSERT_EQ(st.mount_new_blkdev_with_uuid(disk, kUuid, "/tw/disk2"), 0);
    EXPECT_EQ(slurp(work_ + "/systemctl.calls"), "daemon-reload\n");
    EXPECT_EQ(sh("blkid -p -c /dev/null -o value -s UUID " + new_drive.path()), kUuid);
    EXPECT_TRUE(mounted_at(new_drive.path(), "/tw/disk2"));
    EXPECT_FALSE(mounted_at(old_drive.path(), "/tw/disk2"));
    EXPECT_EQ(xattr("/tw/disk2", "trusted.tslnstamp"), "arrowfield@tsln");
    EXPECT_EQ(xattr("/tw/disk2", "trusted.mntstamp"), "/tw/disk2");
    EXPECT_EQ(xattr("/tw/disk2", "trusted.blkdevstamp"), "");
    std::string uuid;
    EXPECT_EQ(st.extract_filesys_uuid(new_drive.path(), "xfs", uuid), 0);
    EXPECT_EQ(uuid, kUuid);
    EXPECT_EQ(st.unmount("/tw/disk2"), 0);
}

TEST_F(Disks, BulkProvisioningTakesTheBlankDisksOnly) {
    const auto& a = loop("bulk-a");
    const auto& b = loop("bulk-b");
    const auto& used = loop("bulk-used");
    sh("mkfs.xfs -q -f " + used.path());
    std::string used_sum = sh("sha256sum < " + used.path());
    ASSERT_EQ(0, tsaf_utils::set_reg_key("sTidewallTestDisks", a.path() + "," + b.path() + "," + used.path()));
    std::filesystem::create_directories("/tw/disk1");

    tw_storage st;
    // Anything else new would be a disk of this machine: never go on then.
    std::list<tsaf_blkdev_verdict> verdicts;
    ASSERT_EQ(st.survey_new_disks(verdicts), 0);
    std::vector<std::string> fresh;
    for (const auto& v : verdicts)
        if (v.get_is_new()) fresh.push_back(v.get_info().get_devpath());
    ASSERT_EQ(fresh, (std::vector<std::string>{a.path(), b.path()}));

    // Other tests of this run may have left data mount paths behind.
    unsigned last = st.get_data_mntpath_lastslot();
    ASSERT_GE(last, 1u);
    const std::string path_a = "/tw/disk" + std::to_string(last + 1), path_b = "/tw/disk" + std::to_string(last + 2);
    ASSERT_EQ(st.mount_new_blkdev(), 0);
    EXPECT_TRUE(mounted_at(a.path(), path_a));
    EXPECT_TRUE(mounted_at(b.path(), path_b));
    EXPECT_EQ(xattr(path_b, "trusted.tslnstamp"), "arrowfield@tsln");
    EXPECT_EQ(xattr(path_b, "trusted.mntstamp"), path_b);
    EXPECT_EQ(sh("blkid -p -c /dev/null -o value -s TYPE " + b.path()), "xfs");
    EXPECT_EQ(sh("sha256sum < " + used.path()), used_sum);
    EXPECT_EQ(tw_storage::last_datapath_prefix(), "/tw/disk");
    // Mounted and stamped, they are no longer new.
    ASSERT_EQ(st.survey_new_disks(verdicts), 0);
    for (const auto& v : verdicts) EXPECT_FALSE(v.get_is_new()) << v.get_info().get_devpath();
}

TEST_F(Disks, WipeRefusesADiskInUse) {
    const auto& drive = loop("busy");
    sh("mkfs.xfs -q -f " + drive.path());
    std::filesystem::create_directories("/srv/busy");
    ASSERT_EQ(sh("mount " + drive.path() + " /srv/busy; echo $?"), "0");
    tw_storage st;
    EXPECT_EQ(st.wipe_partition_table(drive.path()), -1);
    EXPECT_EQ(st.process_blkdev(drive.path(), "/tw/disk7", "xfs", ""), -1);
    EXPECT_FALSE(std::filesystem::exists("/tw/disk7"));
    EXPECT_EQ(sh("blkid -p -c /dev/null -o value -s TYPE " + drive.path()), "xfs");
    ASSERT_EQ(st.unmount("/srv/busy"), 0);
    EXPECT_EQ(st.wipe_partition_table(drive.path()), 0);  // free now
}

TEST_F(Disks, ShellSyntaxInValuesNeverRuns) {
    const auto& drive = loop("odd");
    sh("mkfs.xfs -q -f " + drive.path());
    const std::string odd = "/tw/odd dir; touch " + work_ + "/pwned $(touch " + work_ + "/pwned2)";
    std::filesystem::create_directories(odd);
    tw_storage st;
    ASSERT_EQ(st.mount(odd, drive.path(), "xfs", "noatime"), 0);
    EXPECT_TRUE(mounted_at(drive.path(), sh("awk '{print $2}' /proc/self/mounts | grep '^/tw/odd'")));
    EXPECT_EQ(st.unmount(odd), 0);
    EXPECT_EQ(st.mount("/tw/x", drive.path() + "`touch " + work_ + "/pwned3`", "xfs", ""), -1);
    EXPECT_FALSE(std::filesystem::exists(work_ + "/pwned"));
    EXPECT_FALSE(std::filesystem::exists(work_ + "/pwned2"));
    EXPECT_FALSE(std::filesystem::exists(work_ + "/pwned3"));
    // And the plain texts are still the plain commands.
    std::filesystem::create_directories("/tw/disk9");
    EXPECT_EQ(st.mount("/tw/disk9", drive.path(), "xfs", "noatime,inode64,nofail"), 0);
    EXPECT_TRUE(mounted_at(drive.path(), "/tw/disk9"));
    EXPECT_EQ(st.unmount("/tw/disk9"), 0);
}

TEST_F(Disks, FstabKeepsItsBytesWhenEtcRunsOutOfSpace) {
    // A tiny /etc of this namespace only; it hides the real one until unmounted.
    ASSERT_EQ(sh("mount -t tmpfs -o size=64k,mode=0755 tw-tiny-etc /etc; echo $?"), "0");
    struct unmount_etc {
        ~unmount_etc() { sh("umount -l /etc"); }
    } restore;
    std::string fstab;
    for (int i = 1; i <= 40; ++i)
        fstab += "UUID=0baa76a6-e0c5-4d9b-b9e9-3a93d9bc" + std::to_string(1000 + i) + " /tw/disk" + std::to_string(i) +
                 " xfs noatime,inode64,nofail 0 0\n";
    std::ofstream("/etc/fstab") << fstab;
    ::chmod("/etc/fstab", 0644);
    sh("dd if=/dev/zero of=/etc/filler bs=1k 2>/dev/null");  // until the file system is full

    tw_storage st;
    std::string message;
    try {
        st.update_sysconfig_files("/tw/disk41", "/dev/sdz", "xfs", "noatime,inode64,nofail", "/etc/fstab");
    } catch (const TsException& e) {
        message = e.message();
    }
    EXPECT_EQ(message, "Failed to add entry to /etc/fstab");
    EXPECT_EQ(slurp("/etc/fstab"), fstab);
    std::list<std::string> removed;
    EXPECT_THROW(st.trim_sysconfig_files("/tw/disk3", "/etc/fstab", removed), TsException);
    EXPECT_EQ(slurp("/etc/fstab"), fstab);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator("/etc")) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"filler", "fstab"}));  // no temporary file left behind

    // With room again the same rewrite goes through.
    std::filesystem::remove("/etc/filler");
    ASSERT_EQ(st.update_sysconfig_files("/tw/disk41", "/dev/sdz", "xfs", "noatime,inode64,nofail", "/etc/fstab"), 0);
    EXPECT_NE(slurp("/etc/fstab").find("/dev/sdz      /tw/disk41      xfs      noatime,inode64,nofail      0   0\n"),
              std::string::npos);
}

}  // namespace
