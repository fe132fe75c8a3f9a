// The kernel's mount table: fields found past the optional ones, paths decoded.

#include "foundation/mount/mountinfo.h"

#include <gtest/gtest.h>

using tidewall::mount_table::parse_mountinfo;

TEST(Mountinfo, DecodesPathsAndFindsTheFieldsAfterTheSeparator) {
    auto e = parse_mountinfo(
        "36 35 98:0 /mnt1 /mnt/a\\040b\\011c rw,noatime master:1 shared:2 - ext3 /dev/my\\134disk rw\n"
        "\n"
        "37 1 0:5 / /short\n"
        "garbage line\n"
        "38 1 0:6 / /x rw - tmpfs\n");
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].devnum, "98:0");
    EXPECT_EQ(e[0].root, "/mnt1");
    EXPECT_EQ(e[0].mount_point, "/mnt/a b\tc");
    EXPECT_EQ(e[0].fs_type, "ext3");
    EXPECT_EQ(e[0].source, "/dev/my\\disk");
    EXPECT_EQ(e[1].mount_point, "/short");
    EXPECT_EQ(e[1].fs_type, "");
    EXPECT_EQ(e[2].fs_type, "tmpfs");
    EXPECT_EQ(e[2].source, "");
}
