#include "foundation/file_io.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace tidewall;

namespace {

class FileIo : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/twfio.XXXXXX";
        dir = ::mkdtemp(tmpl);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::vector<std::string> names() {
        std::vector<std::string> n;
        for (auto& e : std::filesystem::directory_iterator(dir)) n.push_back(e.path().filename());
        std::sort(n.begin(), n.end());
        return n;
    }
    std::string dir;
};

TEST_F(FileIo, AtomicWriteReplacesContentAndKeepsMode) {
    std::string f = dir + "/fstab";
    ASSERT_EQ(0, file_io::write_atomic(f, "old\n"));
    ::chmod(f.c_str(), 0640);
    ASSERT_EQ(0, file_io::write_atomic(f, "new\n"));
    std::string s;
    ASSERT_EQ(0, file_io::read_all(f, s));
    EXPECT_EQ("new\n", s);
    struct stat st {};
    ::stat(f.c_str(), &st);
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ(std::vector<std::string>{"fstab"}, names());
}

TEST_F(FileIo, FailedAtomicWriteLeavesTheOldFileWholeAndNoTemporary) {
    // The target is a non-empty directory: the final rename fails.
    std::filesystem::create_directories(dir + "/target/inner");
    EXPECT_NE(0, file_io::write_atomic(dir + "/target", "data"));
    EXPECT_TRUE(std::filesystem::is_directory(dir + "/target/inner"));
    EXPECT_EQ(std::vector<std::string>{"target"}, names());
    EXPECT_EQ(ENOENT, file_io::write_atomic(dir + "/missing/dir/file", "data"));
}

TEST_F(FileIo, NoFollowRefusesALinkPlantedAtAFixedName) {
    std::string victim = dir + "/victim";
    ASSERT_EQ(0, file_io::write_atomic(victim, "precious"));
    ASSERT_EQ(0, ::symlink(victim.c_str(), (dir + "/link").c_str()));
    EXPECT_NE(0, file_io::write_no_follow(dir + "/link", "attack"));
    std::string s;
    file_io::read_all(victim, s);
    EXPECT_EQ("precious", s);
    ASSERT_EQ(0, file_io::write_no_follow(dir + "/plain", "long text first"));
    ASSERT_EQ(0, file_io::write_no_follow(dir + "/plain", "short"));
    file_io::read_all(dir + "/plain", s);
    EXPECT_EQ("short", s);
}

TEST_F(FileIo, AppendAddsWithoutTruncating) {
    ASSERT_EQ(0, file_io::append(dir + "/hosts", "a\n"));
    ASSERT_EQ(0, file_io::append(dir + "/hosts", "b\n"));
    std::string s;
    file_io::read_all(dir + "/hosts", s);
    EXPECT_EQ("a\nb\n", s);
    EXPECT_EQ(ENOENT, file_io::read_all(dir + "/none", s));
}

} // namespace
