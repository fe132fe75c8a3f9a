// Writing a kernel setting in place.

#include "foundation/fs/file_io.h"
#include "test_backend.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using tidewall::testing::test_backend;

namespace {

TEST(WriteInPlace, OverwritesTheSameFileAndCreatesNone) {
    test_backend tb;
    tb.write_file("/proc/sys/fs/inotify/max_user_watches", "8192\n");
    std::string real = tb.root + "/proc/sys/fs/inotify/max_user_watches";
    struct stat before {};
    ASSERT_EQ(0, ::stat(real.c_str(), &before));
    EXPECT_EQ(0, tidewall::file_io::write_in_place(real, "524288"));
    struct stat after {};
    ASSERT_EQ(0, ::stat(real.c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ("524288", tb.read_file("/proc/sys/fs/inotify/max_user_watches"));

    EXPECT_EQ(ENOENT, tidewall::file_io::write_in_place(tb.root + "/proc/sys/fs/nosuch", "1"));
    EXPECT_FALSE(tb.exists("/proc/sys/fs/nosuch"));
    tb.write_file("/etc/precious", "keep\n");
    ASSERT_EQ(0, ::symlink((tb.root + "/etc/precious").c_str(), (tb.root + "/proc/sys/fs/link").c_str()));
    EXPECT_NE(0, tidewall::file_io::write_in_place(tb.root + "/proc/sys/fs/link", "1"));
    EXPECT_EQ("keep\n", tb.read_file("/etc/precious"));
}

}  // namespace
