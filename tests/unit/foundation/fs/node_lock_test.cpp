#include "foundation/fs/node_lock.h"

#include "test_backend.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tidewall;

namespace {

class NodeLock : public ::testing::Test {
protected:
    void SetUp() override { host.make_dir("/run"); }
    std::string lock_dir() { return host.root + "/run/tidewall"; }
    tidewall::testing::test_backend host;
};

TEST_F(NodeLock, MakesAPrivateDirectoryAndAPrivateFileHoldingThePid) {
    locks::held_lock lock("registry.lock", 0);
    ASSERT_TRUE(lock.held()) << lock.why();
    struct stat st {};
    ASSERT_EQ(0, ::lstat(lock_dir().c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 07777);
    ASSERT_EQ(0, ::lstat((lock_dir() + "/registry.lock").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    EXPECT_EQ(std::to_string(::getpid()) + "\n", host.read_file("/run/tidewall/registry.lock"));
    host.make_dir("/var/lib");
    std::string state;
    ASSERT_EQ(0, locks::state_directory(state));
    EXPECT_EQ(host.root + "/var/lib/tidewall", state);
    ASSERT_EQ(0, ::lstat(state.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 07777);
}

TEST_F(NodeLock, RefusesADirectoryOrFileOthersCouldHaveMade) {
    // A group-writable directory, a link in place of the directory, a link at
    // the lock's name and a lock file others may write are all refused, and
    // nothing is created through them.
    ASSERT_EQ(0, ::mkdir(lock_dir().c_str(), 0770));
    ::chmod(lock_dir().c_str(), 0770);
    {
        locks::held_lock lock("a.lock", 0);
        EXPECT_FALSE(lock.held());
        EXPECT_EQ(EPERM, lock.error());
    }
    ::chmod(lock_dir().c_str(), 0700);
    host.write_file("/victim", "keep");
    ASSERT_EQ(0, ::symlink((host.root + "/victim").c_str(), (lock_dir() + "/b.lock").c_str()));
    {
        locks::held_lock lock("b.lock", 0);
        EXPECT_FALSE(lock.held());
        EXPECT_EQ(ELOOP, lock.error());
    }
    EXPECT_EQ("keep", host.read_file("/victim"));
    // A FIFO at the lock's name neither blocks the open nor serves as a lock.
    ASSERT_EQ(0, ::mkfifo((lock_dir() + "/fifo.lock").c_str(), 0600));
    {
        locks::held_lock lock("fifo.lock", 0);
        EXPECT_FALSE(lock.held());
        EXPECT_NE(0, lock.error());
    }
    int fd = ::open((lock_dir() + "/c.lock").c_str(), O_CREAT | O_WRONLY, 0666);
    ::fchmod(fd, 0666);
    ::close(fd);
    {
        locks::held_lock lock("c.lock", 0);
        EXPECT_EQ(EPERM, lock.error());
    }
    ::rmdir((host.root + "/elsewhere").c_str());
    ASSERT_EQ(0, ::mkdir((host.root + "/elsewhere").c_str(), 0700));
    std::filesystem::remove_all(lock_dir());
    ASSERT_EQ(0, ::symlink((host.root + "/elsewhere").c_str(), lock_dir().c_str()));
    {
        locks::held_lock lock("d.lock", 0);
        EXPECT_EQ(EPERM, lock.error());
    }
    EXPECT_FALSE(host.exists("/elsewhere/d.lock"));
    EXPECT_EQ(EINVAL, locks::held_lock("../x", 0).error());
}

TEST_F(NodeLock, ASecondHolderWaitsOnlyItsBoundAndNamesTheHolder) {
    // A child process holds the lock; this process gives up after its bound
    // (fake sleeps: no real wait) and says which pid holds it.
    int ready[2];
    ASSERT_EQ(0, ::pipe(ready));
    pid_t child = ::fork();
    if (child == 0) {
        locks::held_lock lock("provisioning.lock", 0);
        char c = lock.held() ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        ::pause();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(1, ::read(ready[0], &c, 1));
    ASSERT_EQ('y', c);
    host.sleeps.clear();
    locks::operation_lock op(locks::operation::provisioning, 1000);
    EXPECT_FALSE(op.held());
    EXPECT_EQ("another provisioning is running (pid " + std::to_string(child) + ")", op.message());
    unsigned slept = 0;
    for (unsigned s : host.sleeps) slept += s;
    EXPECT_EQ(1000u, slept);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    locks::operation_lock again(locks::operation::provisioning, 0);
    EXPECT_TRUE(again.held()) << again.message();
    ::close(ready[0]);
    ::close(ready[1]);
}

// Lock names keep objects apart: each path gives one component of its own.
TEST_F(NodeLock, LockNamesAreOneComponentPerObject) {
    struct row {
        const char* what;
        const char* name;
    } rows[] = {
        {"/var/log/tessaline/TSTidewall.log", "log.%2Fvar%2Flog%2Ftessaline%2FTSTidewall.log.lock"},
        {"/a/b", "log.%2Fa%2Fb.lock"},
        {"/a_b", "log.%2Fa_b.lock"},
        {"/a%2Fb", "log.%2Fa%252Fb.lock"},
        {"/x y\n", "log.%2Fx%20y%0A.lock"},
    };
    for (const auto& r : rows) EXPECT_EQ(r.name, locks::lock_name_for("log", r.what)) << r.what;
    std::string a = locks::lock_name_for("log", "/" + std::string(300, 'a'));
    std::string b = locks::lock_name_for("log", "/" + std::string(299, 'a') + "b");
    EXPECT_NE(a, b);
    EXPECT_LE(a.size(), 255u);
    EXPECT_EQ(std::string::npos, a.find('/'));
    locks::held_lock lock(a, 0);
    EXPECT_TRUE(lock.held()) << lock.why();
}

}  // namespace
