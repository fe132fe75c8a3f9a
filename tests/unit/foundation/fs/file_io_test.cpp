#include "foundation/fs/file_io.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
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

// A link is written through only when nobody but root can have made it or
// redirected it; any other link is replaced, and what it points at is untouched.
TEST_F(FileIo, LinksAreFollowedOnlyWhereOnlyRootCanHaveMadeThem) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another account";
    const uid_t nobody = 65534;
    auto put = [](const std::string& f, const std::string& text) { ASSERT_EQ(0, file_io::write_atomic(f, text)); };
    auto text_of = [](const std::string& f) {
        std::string s;
        return file_io::read_all(f, s) == 0 ? s : std::string("<none>");
    };
    std::filesystem::create_directories(dir + "/etc");
    std::filesystem::create_directories(dir + "/textfile");
    ASSERT_EQ(0, ::chown((dir + "/textfile").c_str(), nobody, nobody));
    put(dir + "/secret", "shadow\n");
    put(dir + "/etc/real", "root's\n");
    put(dir + "/textfile/inner", "inner\n");
    struct row {
        const char* what;
        std::string link, points_at;
        bool lchown_nobody, followed;
        std::string untouched;  // a file the write must leave as it is ("" none)
    };
    const row rows[] = {
        {"root's link in root's directory", dir + "/etc/fstab", "real", false, true, ""},
        {"link in another account's directory", dir + "/textfile/tw.prom", dir + "/secret", false, false,
         dir + "/secret"},
        {"another account's link in root's directory", dir + "/etc/other", dir + "/secret", true, false,
         dir + "/secret"},
        {"root's link through another account's directory", dir + "/etc/via", dir + "/textfile/inner", false, false,
         dir + "/textfile/inner"},
        {"dangling link in another account's directory", dir + "/textfile/dangling", dir + "/etc/created", false, false,
         ""},
    };
    for (const auto& r : rows) {
        ASSERT_EQ(0, ::symlink(r.points_at.c_str(), r.link.c_str())) << r.what;
        if (r.lchown_nobody) {
            ASSERT_EQ(0, ::lchown(r.link.c_str(), nobody, nobody));
        }
        std::string before = r.untouched.empty() ? "" : text_of(r.untouched);
        ASSERT_EQ(0, file_io::write_atomic(r.link, "new\n")) << r.what;
        EXPECT_EQ(r.followed, std::filesystem::is_symlink(r.link)) << r.what;
        EXPECT_EQ("new\n", text_of(r.link)) << r.what;
        if (!r.untouched.empty()) {
            EXPECT_EQ(before, text_of(r.untouched)) << r.what;
        }
    }
    EXPECT_EQ("new\n", text_of(dir + "/etc/real"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/etc/created"));
    // Appends keep the same rule: through root's link, never through another's.
    ASSERT_EQ(0, ::symlink((dir + "/secret").c_str(), (dir + "/textfile/fstab-bkp").c_str()));
    ASSERT_EQ(0, file_io::append(dir + "/textfile/fstab-bkp", "line\n"));
    EXPECT_FALSE(std::filesystem::is_symlink(dir + "/textfile/fstab-bkp"));
    EXPECT_EQ("line\n", text_of(dir + "/textfile/fstab-bkp"));
    EXPECT_EQ("shadow\n", text_of(dir + "/secret"));
    ASSERT_EQ(0, file_io::append(dir + "/etc/fstab", "more\n"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir + "/etc/fstab"));
    EXPECT_EQ("new\nmore\n", text_of(dir + "/etc/real"));
    EXPECT_EQ(std::vector<std::string>({"dangling", "fstab-bkp", "inner", "tw.prom"}), [&] {
        std::vector<std::string> n;
        for (auto& e : std::filesystem::directory_iterator(dir + "/textfile")) n.push_back(e.path().filename());
        std::sort(n.begin(), n.end());
        return n;
    }());
}

// What a rewrite killed before its rename leaves is removed by the next rewrite
// of the same file; a running maker's temporary, other names, links and
// directories stay.
TEST_F(FileIo, ARewriteRemovesTheTemporariesOfMakersThatAreGone) {
    pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ASSERT_GT(gone, 0);
    ::waitpid(gone, nullptr, 0);
    pid_t live = ::fork();
    if (live == 0) {
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(live, 0);
    const std::string d = std::to_string(gone), l = std::to_string(live);
    const std::string f = dir + "/fstab";
    auto put = [&](const std::string& name) { ASSERT_EQ(0, file_io::write_no_follow(dir + "/" + name, "leftover")); };
    put("fstab");
    put("fstab.twtmp." + d + ".Ab3dE9");  // removed
    put("fstab.twtmp." + l + ".Zz0000");  // its maker still runs
    put("fstab.twtmp." + d + ".Ab3dE");  // not the pattern
    put("fstab.twtmp." + d + ".Ab3dE9.bak");  // not the pattern
    put("other.twtmp." + d + ".Ab3dE9");  // another file's
    std::filesystem::create_directory(dir + "/fstab.twtmp." + d + ".dirXYZ");
    ASSERT_EQ(
        0, ::symlink((dir + "/other.twtmp." + d + ".Ab3dE9").c_str(), (dir + "/fstab.twtmp." + d + ".link00").c_str()));
    ASSERT_EQ(0, file_io::write_atomic(f, "new\n"));
    ::kill(live, SIGKILL);
    ::waitpid(live, nullptr, 0);
    std::vector<std::string> expected = {"fstab",
                                         "fstab.twtmp." + d + ".Ab3dE",
                                         "fstab.twtmp." + d + ".Ab3dE9.bak",
                                         "fstab.twtmp." + d + ".dirXYZ",
                                         "fstab.twtmp." + d + ".link00",
                                         "fstab.twtmp." + l + ".Zz0000",
                                         "other.twtmp." + d + ".Ab3dE9"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, names());
    std::string s;
    ASSERT_EQ(0, file_io::read_all(dir + "/other.twtmp." + d + ".Ab3dE9", s));
    EXPECT_EQ("leftover", s);
}

// A lock file is never made through a link, never used when another account
// made it, and a holder is waited for only as long as asked.
TEST_F(FileIo, ExclusiveLockRefusesFilesOthersControlAndWaitsBounded) {
    std::string victim = dir + "/nologin";
    ASSERT_EQ(0, ::symlink(victim.c_str(), (dir + "/link.lock").c_str()));
    EXPECT_FALSE(file_io::exclusive_lock(dir + "/link.lock", 0).held());
    EXPECT_FALSE(std::filesystem::exists(victim));
    if (::geteuid() == 0) {
        ASSERT_EQ(0, file_io::write_no_follow(dir + "/theirs.lock", "", 0600));
        ASSERT_EQ(0, ::chown((dir + "/theirs.lock").c_str(), 65534, 65534));
        EXPECT_FALSE(file_io::exclusive_lock(dir + "/theirs.lock", 0).held());
    }
    file_io::exclusive_lock first(dir + "/ours.lock", 0);
    ASSERT_TRUE(first.held());
    struct stat st {};
    ASSERT_EQ(0, ::stat((dir + "/ours.lock").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(file_io::exclusive_lock(dir + "/ours.lock", 300).held());
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::seconds(3));
}

}  // namespace
