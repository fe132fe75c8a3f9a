// The pruning preview lists exactly what a run then removes, under the same
// settings, ages and free space, and removes nothing itself.

#include <tidewall/tw_preview.h>
#include <tidewall/tw_prune.h>

#include "test_backend.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

using tidewall::testing::test_backend;

namespace {

const long kHour = 3600;

struct dump_file {
    const char* path;
    long age;
};

struct preview_case {
    const char* name;
    std::map<std::string, std::string> keys;
    unsigned long total, free;  // of /var/crash
    std::vector<dump_file> dumps;
    std::vector<std::string> files;  // sorted: the walk's order within a directory is the file system's
    std::vector<std::string> dirs;
};

class PrunePreview : public ::testing::TestWithParam<preview_case> {
protected:
    void dump(const std::string& path, long age) {
        tb.write_file(path, "core");
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = tb.clock - age;
        times[0].tv_nsec = times[1].tv_nsec = 0;
        ASSERT_EQ(0, ::utimensat(AT_FDCWD, (tb.root + path).c_str(), times, AT_SYMLINK_NOFOLLOW)) << path;
    }
    std::vector<std::string> files_left() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::recursive_directory_iterator(tb.root + "/var"))
            if (e.is_regular_file()) out.push_back(e.path().string().substr(tb.root.size()));
        std::sort(out.begin(), out.end());
        return out;
    }
    test_backend tb;
};

TEST_P(PrunePreview, ListsWhatTheRunRemoves) {
    const preview_case& c = GetParam();
    for (const auto& [k, v] : c.keys) tb.set_key(k, v);
    tb.usage["/var/crash"] = {c.total, c.free};
    tb.usage["/var/log/core"] = {1000, 500};
    for (const auto& d : c.dumps) dump(d.path, d.age);
    const auto before = files_left();

    const tw_prune_preview p = tw_preview_prune();
    std::vector<std::string> listed = p.files;
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(c.files, listed);
    EXPECT_EQ(c.dirs, p.dirs);
    EXPECT_EQ(before, files_left()) << "the preview removed something";
    EXPECT_TRUE(tb.commands.empty()) << tb.commands.front();

    tw_prune run;
    run.prune_crash_dumps();
    std::vector<std::string> removed;
    const auto after = files_left();
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(removed));
    EXPECT_EQ(listed, removed);
    // One walk: the preview lists the files in the order the run removes them.
    std::vector<std::string> removal_order;
    for (const auto& l : tb.logs)
        if (l.tag == "tw_prune::prune_files" && l.text.rfind("Successfully removed file [", 0) == 0)
            removal_order.push_back(l.text.substr(27, l.text.size() - 28));
    EXPECT_EQ(p.files, removal_order);
    for (const auto& d : p.dirs) EXPECT_FALSE(tb.exists(d)) << d;
}

INSTANTIATE_TEST_SUITE_P(Cases, PrunePreview,
                         ::testing::Values(preview_case{"ByAge",
                                                        {},
                                                        1000,
                                                        500,
                                                        {{"/var/crash/old/vmcore", 121 * kHour},
                                                         {"/var/crash/young/vmcore", 119 * kHour},
                                                         {"/var/log/core/core.1", 200 * kHour}},
                                                        {"/var/crash/old/vmcore", "/var/log/core/core.1"},
                                                        {"/var/crash/old"}},
                                           preview_case{"ShortOfSpace",
                                                        {{"nArrowfieldMinFreeSpacePercent", "25"}},
                                                        100,
                                                        24,
                                                        {{"/var/crash/a/b/vmcore", 1}, {"/var/crash/a/vmcore", 1}},
                                                        {"/var/crash/a/b/vmcore", "/var/crash/a/vmcore"},
                                                        {"/var/crash/a/b", "/var/crash/a"}},
                                           preview_case{"GarbledValidityKeepsTheDefault",
                                                        {{"nArrowfieldDumpValidityHours", "x"}},
                                                        1000,
                                                        500,
                                                        {{"/var/crash/a/vmcore", 2 * kHour}},
                                                        {},
                                                        {}},
                                           preview_case{"KdumpLocationInsideVarCrashWalkedOnce",
                                                        {{"sArrowfieldKdumpLoc", "/var/crash/kd/"}},
                                                        1000,
                                                        500,
                                                        {{"/var/crash/kd/x/vmcore", 130 * kHour}},
                                                        {"/var/crash/kd/x/vmcore"},
                                                        {"/var/crash/kd/x"}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
