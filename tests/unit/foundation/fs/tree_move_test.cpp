// Moving a directory tree by copy and removal (the path taken across file
// systems): contents, modes and links arrive; a repeat after an interruption
// completes; a tree that cannot be copied whole loses nothing.

#include "foundation/fs/file_io.h"
#include "foundation/fs/tree_move.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace tidewall;

namespace {

class TreeMove : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/twtree.XXXXXX";
        dir = ::mkdtemp(tmpl);
        from = dir + "/var/log/bmrlogs";
        to = dir + "/logs/bmrlogs";
        std::filesystem::create_directories(from + "/sub");
        std::filesystem::create_directories(dir + "/logs");
        put(from + "/restore.log", "restored\n", 0640);
        put(from + "/sub/disk.log", "disk\n", 0600);
        ASSERT_EQ(0, ::symlink("restore.log", (from + "/latest").c_str()));
        put(dir + "/logs/TSTidewall.log", "product log\n", 0644);  // beside the target: never touched
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    static void put(const std::string& p, const std::string& text, mode_t mode) {
        ASSERT_EQ(0, file_io::write_atomic(p, text, mode));
        ::chmod(p.c_str(), mode);
    }
    static std::string read(const std::string& p) {
        std::string s;
        return file_io::read_all(p, s) == 0 ? s : "(unreadable)";
    }
    static mode_t mode_of(const std::string& p) {
        struct stat st {};
        return ::lstat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }
    void expect_moved() {
        EXPECT_EQ("restored\n", read(to + "/restore.log"));
        EXPECT_EQ("disk\n", read(to + "/sub/disk.log"));
        EXPECT_EQ(0640u, mode_of(to + "/restore.log"));
        EXPECT_EQ(0600u, mode_of(to + "/sub/disk.log"));
        EXPECT_EQ("restore.log", std::filesystem::read_symlink(to + "/latest").string());
        EXPECT_FALSE(std::filesystem::exists(from));
        EXPECT_EQ("product log\n", read(dir + "/logs/TSTidewall.log"));
    }
    std::string dir, from, to;
};

TEST_F(TreeMove, CopyThenRemoveCarriesContentModesAndLinks) {
    ASSERT_EQ(0, file_io::copy_tree_then_remove(from, to));
    expect_moved();
}

TEST_F(TreeMove, ARepeatAfterAnInterruptedCopyCompletes) {
    // An earlier run died after copying part of the tree, one file half written.
    std::filesystem::create_directories(to + "/sub");
    put(to + "/restore.log", "rest", 0644);
    ASSERT_EQ(0, file_io::copy_tree_then_remove(from, to));
    expect_moved();
    // And one more run finds nothing left to move: the caller's "already moved" case.
    EXPECT_EQ(ENOENT, file_io::move_tree(from, to));
    expect_moved();
}

TEST_F(TreeMove, ATreeThatCannotBeCopiedWholeLosesNothing) {
    ASSERT_EQ(0, ::mkfifo((from + "/sub/pipe").c_str(), 0600));
    EXPECT_EQ(EINVAL, file_io::copy_tree_then_remove(from, to));
    EXPECT_EQ("restored\n", read(from + "/restore.log"));
    EXPECT_EQ("disk\n", read(from + "/sub/disk.log"));
    EXPECT_FALSE(std::filesystem::exists(to));
    EXPECT_EQ("product log\n", read(dir + "/logs/TSTidewall.log"));
}

TEST_F(TreeMove, OnOneFileSystemItIsARename) {
    struct stat st {};
    ASSERT_EQ(0, ::stat((from + "/restore.log").c_str(), &st));
    const ino_t before = st.st_ino;
    ASSERT_EQ(0, file_io::move_tree(from, to));
    expect_moved();
    ASSERT_EQ(0, ::stat((to + "/restore.log").c_str(), &st));
    EXPECT_EQ(before, st.st_ino);  // the same file, not a copy
}

}  // namespace
