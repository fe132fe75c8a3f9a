// The deferred remover: highest order first, a directory with what is left in
// it, links inside removed and never followed.

#include <tidewall/tw_fs_cleaner.h>

#include "test_backend.h"

#include <gtest/gtest.h>

#include <unistd.h>

using tidewall::testing::test_backend;

namespace {

TEST(FsCleaner, RemovesHighestOrderFirst) {
    test_backend tb;
    tb.write_file("/tw/disk1/test_dir/test_dir/test_file.txt", "data");
    tb.write_file("/tw/disk1/keep", "x");
    {
        tw_fs_cleaner c;
        tw_fs_cleaning_info outer("/tw/disk1/test_dir", "dir", 1);
        tw_fs_cleaning_info inner("/tw/disk1/test_dir/test_dir", "dir", 2);
        tw_fs_cleaning_info file("/tw/disk1/test_dir/test_dir/test_file.txt", "file", 3);
        tw_fs_cleaning_info again("/tw/disk1/keep", "file", 3);  // order 3 is taken: ignored
        tw_fs_cleaning_info negative("/tw/disk1/keep", "file", -1);
        tw_fs_cleaning_info odd("/tw/disk1/keep", "link", 0);
        for (auto* e : {&outer, &file, &inner, &again, &negative, &odd}) c.add_cleanup_entry(*e);
    }
    std::vector<std::string> steps;
    for (const auto& l : tb.logs)
        if (l.tag == "tw_fs_cleaner::~tw_fs_cleaner") steps.push_back(l.text);
    EXPECT_EQ((std::vector<std::string>{
                  "Will remove path [/tw/disk1/test_dir/test_dir/test_file.txt] type [file]",
                  "Deleted the file [/tw/disk1/test_dir/test_dir/test_file.txt]",
                  "Will remove path [/tw/disk1/test_dir/test_dir] type [dir]",
                  "Deleted the directory [/tw/disk1/test_dir/test_dir]",
                  "Will remove path [/tw/disk1/test_dir] type [dir]",
                  "Deleted the directory [/tw/disk1/test_dir]",
                  "Will remove path [/tw/disk1/keep] type [link]",
              }),
              steps);
    EXPECT_FALSE(tb.exists("/tw/disk1/test_dir"));
    EXPECT_TRUE(tb.exists("/tw/disk1/keep"));
}

TEST(FsCleaner, ADirectoryGoesWithWhatIsLeftInItAndFailuresAreLogged) {
    test_backend tb;
    tb.write_file("/m/test_dir/test_dir/half-written", "x");
    tb.make_dir("/elsewhere");
    tb.write_file("/elsewhere/kept", "x");
    ASSERT_EQ(0, ::symlink((tb.root + "/elsewhere").c_str(), (tb.root + "/m/test_dir/link").c_str()));
    {
        tw_fs_cleaner c;
        tw_fs_cleaning_info dir("/m/test_dir", "dir", 1);
        tw_fs_cleaning_info gone("/m/no_such_file", "file", 2);
        c.add_cleanup_entry(dir);
        c.add_cleanup_entry(gone);
    }
    EXPECT_FALSE(tb.exists("/m/test_dir"));
    EXPECT_TRUE(tb.exists("/elsewhere/kept"));  // links inside are removed, not followed
    EXPECT_TRUE(tb.logged(-1, "tw_fs_cleaner::~tw_fs_cleaner", "Failed to delete the file [/m/no_such_file]"));
}

}  // namespace
