#include "foundation/fs/file_kind.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using tidewall::file_io::is_directory;
using tidewall::file_io::is_regular_file;
using tidewall::file_io::links;

TEST(FileKind, LinksAreFollowedOnlyWhenAsked) {
    char tmpl[] = "/tmp/twkind.XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    ASSERT_EQ(0, ::mkdir((dir + "/d").c_str(), 0700));
    std::ofstream(dir + "/f") << "x";
    ASSERT_EQ(0, ::symlink("d", (dir + "/to_d").c_str()));
    ASSERT_EQ(0, ::symlink("f", (dir + "/to_f").c_str()));
    ASSERT_EQ(0, ::symlink("gone", (dir + "/dangling").c_str()));
    ASSERT_EQ(0, ::mkfifo((dir + "/fifo").c_str(), 0600));
    const struct {
        const char* name;
        bool dir_followed, dir_not_followed, file_followed, file_not_followed;
    } cases[] = {
        {"d", true, true, false, false},          {"f", false, false, true, true},
        {"to_d", true, false, false, false},      {"to_f", false, false, true, false},
        {"dangling", false, false, false, false}, {"fifo", false, false, false, false},
        {"missing", false, false, false, false},
    };
    for (const auto& c : cases) {
        const std::string p = dir + "/" + c.name;
        EXPECT_EQ(c.dir_followed, is_directory(p)) << c.name;
        EXPECT_EQ(c.dir_not_followed, is_directory(p, links::no_follow)) << c.name;
        EXPECT_EQ(c.file_followed, is_regular_file(p)) << c.name;
        EXPECT_EQ(c.file_not_followed, is_regular_file(p, links::no_follow)) << c.name;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
