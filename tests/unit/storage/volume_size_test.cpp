// Volume size tracking: the .AFVolSize file only grows, and a smaller size than
// recorded is reported as a shrunk volume.

#include "storage_fixture.h"

#include "foundation/fs/node_lock.h"

#include <gtest/gtest.h>

#include <cstdlib>

using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

const char* kFile = "/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/.AFVolSize";

class VolumeSizeTest : public ::testing::Test {
protected:
    void SetUp() override { tb.make_dir("/etc/TessalineRegistry/Tolvan/Instance001/Dockwright"); }
    test_backend tb;
    storage_under_test s{tb};
    tw_storage& st = s.storage;
};

TEST_F(VolumeSizeTest, TheFileLiesBesideTheRegistryOfTheInstance) {
    EXPECT_EQ(kFile, st.get_afvolsize_filename());
    EXPECT_TRUE(tb.logged(2, "tw_storage::get_afvolsize_filename", std::string("Filename: ") + kFile));
    ::setenv("TW_REGISTRY_INSTANCE", "Instance007", 1);
    EXPECT_EQ("/etc/TessalineRegistry/Tolvan/Instance007/Dockwright/.AFVolSize", st.get_afvolsize_filename());
    ::unsetenv("TW_REGISTRY_INSTANCE");
}

TEST_F(VolumeSizeTest, AFirstVolumeIsRecordedAndOnlyEverGrows) {
    EXPECT_EQ(0, st.volsize_isless("dav_he_vol", 1099511627776UL));
    EXPECT_EQ("dav_he_vol:1099511627776\n", tb.read_file(kFile));
    EXPECT_TRUE(tb.logged(1, "tw_storage::volsize_isless", std::string("File [") + kFile + "] not present."));

    EXPECT_EQ(0, st.volsize_isless("data_vol", 1000));
    EXPECT_EQ("data_vol:1000\ndav_he_vol:1099511627776\n", tb.read_file(kFile));  // ascending by name

    EXPECT_EQ(1, st.volsize_isless("data_vol", 900));
    EXPECT_TRUE(tb.logged(1, "tw_storage::volsize_isless",
                          std::string("Size of volume [data_vol] saved in file [") + kFile + "] is [1000]"));
    EXPECT_EQ("data_vol:1000\ndav_he_vol:1099511627776\n", tb.read_file(kFile));  // ascending by name

    EXPECT_EQ(0, st.volsize_isless("data_vol", 1200));
    EXPECT_EQ("data_vol:1200\ndav_he_vol:1099511627776\n", tb.read_file(kFile));
    EXPECT_EQ(0, st.volsize_isless("data_vol", 1200));
}

TEST_F(VolumeSizeTest, BadLinesAreSkippedAndTheFirstLineOfAVolumeCounts) {
    tb.write_file(kFile, "vol1:500\ngarbage\nvol2:700\nvol1:9000\n");
    std::map<std::string, unsigned long> sizes;
    EXPECT_EQ(0, st.read_volsize_file(kFile, sizes));
    EXPECT_EQ((std::map<std::string, unsigned long>{{"vol1", 500}, {"vol2", 700}}), sizes);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::read_volsize_file", "Invalid file content [garbage]"));

    EXPECT_EQ(1, st.volsize_isless("vol1", 499));
    EXPECT_EQ("vol1:500\ngarbage\nvol2:700\nvol1:9000\n", tb.read_file(kFile));  // nothing changed: not rewritten
    EXPECT_EQ(0, st.volsize_isless("vol3", 1));
    EXPECT_EQ("vol1:500\nvol2:700\nvol3:1\n", tb.read_file(kFile));

    std::map<std::string, unsigned long> none;
    EXPECT_EQ(-1, st.read_volsize_file("/etc/no-such-file", none));
    EXPECT_TRUE(none.empty());
}

TEST_F(VolumeSizeTest, UpdatesNeverDropOrLowerWhatTheFileHolds) {
    tb.write_file(kFile, "a:100\nb:200\n");
    // A caller's saved map that lacks b and holds an old size of a.
    EXPECT_EQ(0, st.update_volsize_file({{"a", 150}}, {{"a", 50}}));
    EXPECT_EQ("a:150\nb:200\n", tb.read_file(kFile));
    EXPECT_EQ(0, st.update_volsize_file({{"b", 10}, {"c", 5}}, {}));
    EXPECT_EQ("a:150\nb:200\nc:5\n", tb.read_file(kFile));
    EXPECT_EQ(0, st.update_volsize_file({{"a", 150}, {"b", 200}, {"c", 5}}, {}));
    EXPECT_TRUE(tb.logged(1, "tw_storage::volume_size_update",
                          std::string("Current volume sizes are equal to saved volume sizes. Not updating file [") +
                              kFile + "]."));
}

TEST_F(VolumeSizeTest, AFailedWriteIsLoggedAndDoesNotChangeTheAnswer) {
    std::filesystem::remove_all(tb.root + "/etc/TessalineRegistry");
    EXPECT_EQ(0, st.volsize_isless("vol1", 100));
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::volume_size_update", std::string("Failed to write to file [") + kFile + "]."));
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::volsize_isless", std::string("Failure in updating volsize file [") + kFile + "]"));
    std::map<std::string, unsigned long> sizes{{"x", 1}};
    EXPECT_EQ(-1, st.write_volsize_file(kFile, sizes));
}

TEST_F(VolumeSizeTest, SizeInfoComesFromTheMountedFileSystem) {
    tb.write_file(kFile, "vol1:1000\n");
    tb.usage["/tw/glus"] = {900, 100};
    bool isless = false;
    EXPECT_EQ(0, st.gluster_volume_get_sizeinfo("vol1", "/tw/glus", isless));
    EXPECT_TRUE(isless);
    EXPECT_TRUE(tb.logged(1, "tw_storage::gluster_volume_get_sizeinfo",
                          "Current Size reported for Volume [vol1] less than created size: true"));
    tb.usage["/tw/glus"].total_bytes = 2000;
    EXPECT_EQ(0, st.gluster_volume_get_sizeinfo("vol1", "/tw/glus", isless));
    EXPECT_FALSE(isless);
    EXPECT_EQ("vol1:2000\n", tb.read_file(kFile));

    isless = true;
    EXPECT_EQ(-1, st.gluster_volume_get_sizeinfo("vol1", "/tw/other", isless));
    EXPECT_FALSE(isless);
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::gluster_volume_get_sizeinfo", "Failed to retrieve current size of volume [vol1]."));
}

}  // namespace

namespace {

TEST_F(VolumeSizeTest, SizeInfoOfAVolumeFromItsFstabMount) {
    tb.write_file("/etc/fstab", "node1sds:/vol1 /tw/glus glusterfs defaults,_netdev 0 0\n");
    tb.write_file(kFile, "vol1:1000\n");
    tb.usage["/tw/glus"] = {900, 100};
    bool mounted = false, isless = true;
    EXPECT_EQ(0, st.gluster_volume_get_sizeinfo("vol1", mounted, isless));
    EXPECT_FALSE(mounted);
    EXPECT_FALSE(isless);
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::gluster_volume_get_sizeinfo", "Volume [vol1] not mounted at mount path [/tw/glus]"));

    tb.write_file("/etc/mtab", "node1sds:/vol1 /tw/glus fuse.glusterfs rw 0 0\n");
    EXPECT_EQ(0, st.gluster_volume_get_sizeinfo("vol1", mounted, isless));
    EXPECT_TRUE(mounted);
    EXPECT_TRUE(isless);

    EXPECT_EQ(-1, st.gluster_volume_get_sizeinfo("vol9", mounted, isless));
    EXPECT_TRUE(
        tb.logged(-1, "tw_storage::gluster_volume_get_sizeinfo", "Failed to get mount path info for volume [vol9]."));
}

// An update that cannot have the file's lock leaves it to the holder; an
// instance that is a path names no file at all.
TEST_F(VolumeSizeTest, NoUpdateWithoutTheLockAndNoFileOfAnInvalidInstance) {
    EXPECT_EQ(0, st.volsize_isless("data_vol", 1000));
    tidewall::locks::held_lock other(tidewall::locks::lock_name_for("volsize", tb.root + kFile), 0);
    ASSERT_TRUE(other.held());
    std::map<std::string, unsigned long> saved;
    EXPECT_EQ(-1, st.update_volsize_file({{"data_vol", 2000}}, saved));
    EXPECT_EQ("data_vol:1000\n", tb.read_file(kFile));
    other.release();
    EXPECT_EQ(0, st.update_volsize_file({{"data_vol", 2000}}, saved));
    EXPECT_EQ("data_vol:2000\n", tb.read_file(kFile));
    ::setenv("TW_REGISTRY_INSTANCE", "../../../../tmp/evil", 1);
    EXPECT_EQ("", st.get_afvolsize_filename());
    EXPECT_EQ(-1, st.update_volsize_file({{"data_vol", 3000}}, saved));
    ::unsetenv("TW_REGISTRY_INSTANCE");
    EXPECT_EQ("data_vol:2000\n", tb.read_file(kFile));
}

}  // namespace
