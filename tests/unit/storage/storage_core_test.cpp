#include <tidewall/tw_storage.h>

#include "test_backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sys/stat.h>

using tidewall::testing::test_backend;

namespace {

const char* kVolumeList = "gluster --mode=script volume list --xml";

std::string thrown_message(const std::function<void()>& f) {
    try {
        f();
    } catch (const TsException& e) {
        return e.formatError();
    }
    return "(no exception)";
}

TEST(StorageCore, ConstructionLogsDefaultsAndSurvivesMissingGluster) {
    test_backend tb;
    {
        tw_storage s;
        EXPECT_FALSE(s.gluster_admin_available());
        auto failure = std::find_if(tb.logs.begin(), tb.logs.end(),
                                    [](const auto& l) { return l.level == -1 && l.tag == "tw_storage::tw_storage"; });
        ASSERT_NE(tb.logs.end(), failure);
        EXPECT_EQ(0u, failure->text.find("Failed to scan gluster volumes error [gluster command line not available"));
        EXPECT_TRUE(tb.logged(2, "tw_storage::tw_storage", "Creating tw_storage instance"));
        EXPECT_TRUE(
            tb.logged(2, "tw_storage::tw_storage",
                      "Defaults: ddb mount path [/tw/ddb] datapath mount path prefix [/tw/disk] glusterfs mount "
                      "path [/tw/glus] maldor mount path [/tw/maldor]"));
    }
    EXPECT_TRUE(tb.logged(2, "tw_storage::~tw_storage", "Cleaning tw_storage instance"));
}

TEST(StorageCore, GlusterHandleIsBuiltWhenGlusterAnswers) {
    test_backend tb;
    tb.on(kVolumeList, 0, "<cliOutput><opRet>0</opRet><volList><count>0</count></volList></cliOutput>");
    tw_storage s;
    EXPECT_TRUE(s.gluster_admin_available());
    EXPECT_EQ(std::vector<std::string>{kVolumeList}, tb.commands);
}

TEST(StorageCore, SubscriptionsRefreshOnlyOnDataMoversAndFailuresAreLogged) {
    test_backend tb;
    tb.set_key("sSubscriptionRefreshCommand", "refresh-subscriptions");
    { tw_storage s; }
    EXPECT_EQ(1u, tb.commands.size());  // only the gluster scan: not a data mover

    tb.set_key("nArrowfieldDataMover", "1");
    tb.on("refresh-subscriptions", 1, "", "no network\n");
    tb.commands.clear();
    { tw_storage s; }
    EXPECT_EQ("refresh-subscriptions", tb.commands.back());
    EXPECT_TRUE(tb.logged(-1, "tw_storage::manage_subscriptions",
                          "Failed to manage subscriptions; error [Subscription refresh [refresh-subscriptions] failed "
                          "with error [no network]]"));
}

TEST(MountPathSettings, DefaultsOfEveryKind) {
    test_backend tb;
    tw_storage s;
    std::string p;
    s.get_mnt_path(tw_storage::MNT_PATH_DDB, p);
    EXPECT_EQ("/tw/ddb", p);
    s.get_mnt_path(tw_storage::MNT_PATH_GLUSTERFS, p);
    EXPECT_EQ("/tw/glus", p);
    s.get_mnt_path(tw_storage::MNT_PATH_MALDOR_FS, p);
    EXPECT_EQ("/tw/maldor", p);
    using K = tw_storage;
    EXPECT_EQ("noatime,inode64,nofail", s.get_mount_options(K::MNT_PATH_DDB));
    EXPECT_EQ("noatime,inode64,nofail", s.get_mount_options(K::MNT_PATH_DATAPATH));
    EXPECT_EQ("nofail", s.get_mount_options(K::MNT_PATH_EFI_BOOT));
    EXPECT_EQ("noatime,inode64,nofail", s.get_mount_options(K::MNT_PATH_MALDOR_DATAPATH));
    EXPECT_EQ("vers=4.0,tcp,nolock,nordirplus,port=50012", s.get_mount_options(K::MNT_PATH_MALDOR_FS));
    EXPECT_EQ("xfs", s.get_file_system(K::MNT_PATH_DDB));
    EXPECT_EQ("xfs", s.get_file_system(K::MNT_PATH_DATAPATH));
    EXPECT_EQ("glusterfs", s.get_file_system(K::MNT_PATH_GLUSTERFS));
    EXPECT_EQ("vfat", s.get_file_system(K::MNT_PATH_EFI_BOOT));
    EXPECT_EQ("xfs", s.get_file_system(K::MNT_PATH_MALDOR_DATAPATH));
    EXPECT_EQ("nfs", s.get_file_system(K::MNT_PATH_MALDOR_FS));
    EXPECT_EQ("tw_brick", s.get_brick_dir());
    EXPECT_EQ("/tw/glus", s.get_default_gluster_mount());
    EXPECT_EQ("/tw/maldor", s.get_maldor_vdisk_mntpath_prefix());
}

TEST(MountPathSettings, RegistryKeysOverrideAndAnEmptyValueIsUsedAsItStands) {
    test_backend tb;
    tb.set_key("sTidewallDDBMountPath", "/data/ddb");
    tb.set_key("sTidewallDDBMountOptions", "");
    tb.set_key("sTidewallMaldorFileSystem", "nfs4");
    tb.set_key("sTidewallGlusterBrickDir", "brick");
    tb.set_key("sTidewallGlusterFSMountPath", "/gl");
    tb.set_key("sTidewallMaldorFSMountPath", "/vd");
    tw_storage s;
    std::string p = "stale";
    s.get_mnt_path(tw_storage::MNT_PATH_DDB, p);
    EXPECT_EQ("/data/ddb", p);
    EXPECT_EQ("", s.get_mount_options(tw_storage::MNT_PATH_DDB));
    EXPECT_EQ("nfs4", s.get_file_system(tw_storage::MNT_PATH_MALDOR_FS));
    EXPECT_EQ("brick", s.get_brick_dir());
    EXPECT_EQ("/tw/glus", s.get_default_gluster_mount());  // the default, never the registry
    EXPECT_EQ("/vd", s.get_maldor_vdisk_mntpath_prefix());
    // Read when asked, not cached at construction.
    tb.set_key("sTidewallDDBMountPath", "/later");
    s.get_mnt_path(tw_storage::MNT_PATH_DDB, p);
    EXPECT_EQ("/later", p);
}

TEST(MountPathSettings, UnsupportedKindsThrowWithTheirMessages) {
    test_backend tb;
    tw_storage s;
    std::string p;
    std::list<free_space_info> l;
    using K = tw_storage;
    const std::string other = "Other mount paths not supported";
    EXPECT_EQ(other, thrown_message([&] { s.get_mnt_path(K::MNT_PATH_DATAPATH, p); }));
    EXPECT_EQ(other, thrown_message([&] { s.get_mnt_path(K::MNT_PATH_EFI_BOOT, p); }));
    EXPECT_EQ(other, thrown_message([&] { s.get_mnt_path(K::MNT_PATH_DDB, l, false); }));
    EXPECT_EQ(other, thrown_message([&] { s.get_mount_options(K::MNT_PATH_OTHER); }));
    EXPECT_EQ(other, thrown_message([&] { s.get_file_system(K::MNT_PATH_OTHER); }));
    EXPECT_EQ("Gluster mount options not supported",
              thrown_message([&] { s.get_mount_options(K::MNT_PATH_GLUSTERFS); }));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_mount_options", "Gluster mount options not supported"));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_mnt_path", other));
    EXPECT_EQ("Search by [vendor:product] currently not supported",
              thrown_message([&] { s.get_mnt_path(K::MNT_PATH_DDB, "SEAGATE", "ST4000", p); }));
    EXPECT_TRUE(tb.logged(0, "tw_storage::get_mnt_path", "Mount path search criteria [SEAGATE:ST4000]"));

    size_t before = tb.logs.size();
    EXPECT_EQ("", s.get_mount_options(static_cast<K::mnt_path_type>(0)));
    EXPECT_EQ("", s.get_file_system(static_cast<K::mnt_path_type>(7)));
    EXPECT_EQ(before, tb.logs.size());  // out of range: empty, without a message
}

TEST(MountPathSettings, DataPathPrefixFollowsTheFlavour) {
    test_backend tb;
    tw_storage s;
    // No appliance type: flavour 255 behaves like Maldor here.
    EXPECT_EQ(tw_storage::SDS_UNKNOWN, s.get_sds_type());
    EXPECT_EQ("/maldor/d", s.get_datapath_prefix());
    tb.set_key("sTidewallMaldorDataPathMountOptions", "noatime");
    EXPECT_EQ("noatime", s.get_datapath_mount_options());
    tb.set_key("sArrowfieldApplianceType", "RM-310");
    EXPECT_EQ("/tw/disk", s.get_datapath_prefix());
    EXPECT_EQ("noatime,inode64,nofail", s.get_datapath_mount_options());
    tb.set_key("sTidewallDataPathFileSystem", "ext4");
    EXPECT_EQ("ext4", s.get_datapath_file_system());
}

TEST(StorageCore, SystemMountPathsAreExactWholeStrings) {
    test_backend tb;
    tw_storage s;
    for (const char* p : {"/", "/boot", "/opt", "/root", "/home"}) EXPECT_TRUE(s.is_sys_mnt_path(p)) << p;
    for (const char* p : {"/boot/", "/boot/efi", "/tw/ddb", "", "/Home"}) EXPECT_FALSE(s.is_sys_mnt_path(p)) << p;
}

TEST(StorageCore, MkdirCreatesOnceAndNeverTouchesWhatExists) {
    test_backend tb;
    tw_storage s;
    tb.make_dir("/tw");
    EXPECT_EQ(0, s.mkdir("/tw/disk1", 0755));
    struct stat st {};
    ASSERT_EQ(0, ::stat((tb.root + "/tw/disk1").c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    ::chmod((tb.root + "/tw/disk1").c_str(), 0700);
    EXPECT_EQ(0, s.mkdir("/tw/disk1", 0755));
    ::stat((tb.root + "/tw/disk1").c_str(), &st);
    EXPECT_EQ(0700u, st.st_mode & 07777);
    tb.write_file("/tw/file", "x");
    EXPECT_EQ(-20, s.mkdir("/tw/file", 0755));
    EXPECT_EQ("Failed to create directory /no/parent/here", thrown_message([&] { s.mkdir("/no/parent/here", 0755); }));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::mkdir", "Failed to create directory [/no/parent/here]"));
}

TEST(DataMountPaths, MountedListIsOrderedByFreeSpaceAndSkipsMaldorD2) {
    test_backend tb;
    tb.write_file("/etc/mtab",
                  "/dev/sdb /tw/disk1 xfs rw 0 0\n"
                  "/dev/sdc /tw/disk2 xfs rw 0 0\n"
                  "/dev/sdd /tw/disk3 ext4 rw 0 0\n"
                  "/dev/sde /tw/disk4 xfs rw 0 0\n"
                  "/dev/sdf /maldor/d2 xfs rw 0 0\n"
                  "/dev/sdg /maldor/d3 xfs rw 0 0\n");
    tb.usage["/tw/disk1"] = {1ull << 40, 200ull << 30};
    tb.usage["/tw/disk2"] = {1ull << 40, (10ull << 30) + 5};
    tb.usage["/maldor/d3"] = {1ull << 40, 1ull << 30};
    // /tw/disk4 has no usage: it is left out.
    tw_storage s;
    std::list<free_space_info> l;
    s.get_datapath_mnt_list(l, "/tw/disk", "xfs", false);
    ASSERT_EQ(2u, l.size());
    EXPECT_EQ("/tw/disk2", l.front().mnt_path);
    EXPECT_EQ(10u, l.front().free_space);
    EXPECT_EQ("/tw/disk1", l.back().mnt_path);
    EXPECT_EQ(200u, l.back().free_space);

    s.get_datapath_mnt_list(l, "/maldor/d", "xfs", false);
    ASSERT_EQ(1u, l.size());
    EXPECT_EQ("/maldor/d3", l.front().mnt_path);
}

TEST(DataMountPaths, FstabListKeepsTableOrderWithZeroFreeSpace) {
    test_backend tb;
    tb.write_file("/etc/fstab",
                  "/dev/sdc /maldor/d3 xfs noatime 0 0\n"
                  "/dev/sdb /maldor/d1 xfs noatime 0 0\n"
                  "/dev/sdf /maldor/d2 xfs noatime 0 0\n");
    tb.write_file("/etc/mtab", "/dev/sdb /maldor/d1 xfs rw 0 0\n");
    tb.usage["/maldor/d1"] = {1ull << 40, 7ull << 30};
    tw_storage s;
    std::list<free_space_info> l;
    s.get_mnt_path(tw_storage::MNT_PATH_MALDOR_DATAPATH, l, true);
    ASSERT_EQ(2u, l.size());
    EXPECT_EQ("/maldor/d3", l.front().mnt_path);
    EXPECT_EQ(0u, l.front().free_space);
    // The gluster data kind always lists what is mounted now.
    tb.write_file("/etc/fstab", "/dev/sdb /tw/disk1 xfs noatime 0 0\n");
    s.get_mnt_path(tw_storage::MNT_PATH_DATAPATH, l, true);
    EXPECT_TRUE(l.empty());
}

}  // namespace
