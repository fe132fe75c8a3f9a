// twctl iotest MOUNT_PATH [--count N]: writes N pseudo-random words to a test
// file on a mount point, reads them back from the device and compares them.
// twctl iotest --blkdev DEV [--count N]: reads N whole blocks of a block device
// at random positions.

#include "cli.h"
#include "progress_line.h"

#include <tidewall/tw_storage.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const unsigned kDefaultFileEntries = 4096;
const unsigned kDefaultBlockReads = 1000;

// The scratch file of a file test. It is removed on every way out of the
// test, also when SIGTERM, SIGINT or SIGHUP ends twctl: the docs promise it
// is gone when the test ends. The removal runs in a child process: on a disk
// that stopped answering it waits for the stuck read (which holds the file's
// lock), and twctl must still end; the child finishes it once the disk answers.
char g_scratch[PATH_MAX];

pid_t remove_in_child(const char* path) {
    pid_t pid = ::fork();
    if (pid == 0) {
        // It may outlive twctl: nothing of twctl's stays open in it (a pipe
        // of twctl's output would keep its reader waiting).
        int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; null >= 0 && fd < 3; ++fd) ::dup2(null, fd);
        if (::syscall(SYS_close_range, 3, ~0U, 0) != 0)
            for (int fd = 3; fd < 1024; ++fd) ::close(fd);
        ::unlink(path);
        ::_exit(0);
    }
    return pid;
}

extern "C" void remove_scratch_and_end(int sig) {
    if (g_scratch[0]) remove_in_child(g_scratch);
    std::signal(sig, SIG_DFL);
    ::raise(sig);
}

class scratch_guard {
public:
    explicit scratch_guard(const std::string& path) {
        if (path.size() >= sizeof g_scratch) return;
        std::memcpy(g_scratch, path.c_str(), path.size() + 1);
        set_handlers(remove_scratch_and_end);
    }
    ~scratch_guard() {
        set_handlers(SIG_DFL);
        if (!g_scratch[0]) return;
        // Waited for a while: on a healthy disk the file is gone when twctl ends.
        pid_t pid = remove_in_child(g_scratch);
        g_scratch[0] = '\0';
        if (pid < 0) return;
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid, nullptr, WNOHANG) != 0) return;
            ::usleep(10000);
        }
    }
    scratch_guard(const scratch_guard&) = delete;
    scratch_guard& operator=(const scratch_guard&) = delete;

private:
    static void set_handlers(void (*handler)(int)) {
        struct sigaction sa {};
        sa.sa_handler = handler;
        sigemptyset(&sa.sa_mask);
        for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
    }
};

// ": why" when the library said why, else nothing.
std::string reason(const tw_storage& storage) {
    return storage.io_failure().empty() ? std::string() : ": " + storage.io_failure();
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

int file_test(const std::string& mnt_path, unsigned count) {
    tw_storage storage;
    std::string dev, fstype;
    std::list<std::string> options;
    if (storage.is_mounted(mnt_path, dev, fstype, options) != 1) {
        std::fprintf(stderr, "twctl iotest: %s is not a mount point\n", mnt_path.c_str());
        return 1;
    }
    // A name of this run's own: another test on the same disk keeps its file.
    std::string file = mnt_path + "/twctl_io_test." + std::to_string(::getpid());
    // Removed on every way out: a write that fails part-way (ENOSPC, EIO)
    // leaves a partial file, and a signal may end twctl at any point.
    scratch_guard scratch(file);
    unsigned key = 0;
    // A large count takes a while: a terminal sees how far each pass is.
    twctl::progress_line line;
    auto pass = [&line](const char* label) {
        return [&line, label](unsigned long long done, unsigned long long total) {
            line.update(label, done, total, done * 4.0 / (1 << 20), "entries");
        };
    };
    auto t0 = std::chrono::steady_clock::now();
    int written = storage.generate_random_file(count, file, key, pass("write"));
    double write_s = seconds_since(t0);
    line.clear();
    if (written < 0) {
        std::printf("FAILED: could not write %u entries to %s (see %s)\n", count, file.c_str(),
                    twctl::log_file().c_str());
        return 1;
    }
    line.restart();
    t0 = std::chrono::steady_clock::now();
    int valid = storage.validate_random_file(count, file, key, pass("validate"));
    double read_s = seconds_since(t0);
    line.clear();
    double mib = count * 4.0 / (1 << 20);
    if (valid != 0) {
        if (!storage.io_failure().empty())
            std::printf("FAILED: %s on %s (%s) could not be read back%s\n", file.c_str(), dev.c_str(), fstype.c_str(),
                        reason(storage).c_str());
        else
            std::printf(
                "FAILED: %s on %s (%s) did not read back as written, key %#x; %s names the "
                "first differing words\n",
                file.c_str(), dev.c_str(), fstype.c_str(), key, twctl::log_file().c_str());
        return 1;
    }
    std::printf("PASSED: %u entries (%.1f MiB) written to %s on %s (%s) and validated, key %#x\n", count, mib,
                file.c_str(), dev.c_str(), fstype.c_str(), key);
    std::printf("write and flush %.3f s (%.1f MiB/s), read and compare %.3f s (%.1f MiB/s)\n", write_s,
                write_s > 0 ? mib / write_s : 0.0, read_s, read_s > 0 ? mib / read_s : 0.0);
    return 0;
}

// Whether DEV (a kernel name such as sdb, or a path) names a block device; says why not.
bool is_block_device(const std::string& blkdev) {
    const std::string path = blkdev[0] == '/' ? blkdev : "/dev/" + blkdev;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "twctl iotest: no block device %s: %s %s\n", blkdev.c_str(), path.c_str(),
                     errno == ENOENT ? "does not exist" : std::strerror(errno));
        return false;
    }
    if (!S_ISBLK(st.st_mode)) {
        std::fprintf(stderr, "twctl iotest: %s is not a block device\n", path.c_str());
        return false;
    }
    return true;
}

int blkdev_test(const std::string& blkdev, unsigned count) {
    if (!is_block_device(blkdev)) return twctl::exit_usage;
    tw_storage storage;
    unsigned long long blocks = 0;
    unsigned blksize = 0;
    std::string range;
    try {
        storage.get_blkdev_capacity(blkdev, blocks, blksize);
        range = std::to_string(blocks) + " blocks of " + std::to_string(blksize) + " bytes";
    } catch (const TsException& e) {
        range = "capacity unknown (" + e.formatError() + "), 1 TB assumed";
    }
    io_test_info info;
    twctl::progress_line line;
    const double block_mib = (blksize ? blksize : 512) / double(1 << 20);
    auto t0 = std::chrono::steady_clock::now();
    int rc =
        storage.perform_blkdev_io_test(blkdev, count, info, [&](unsigned long long done, unsigned long long total) {
            line.update("read", done, total, done * block_mib, "reads");
        });
    double s = seconds_since(t0);
    line.clear();
    if (rc != 0) {
        std::printf("FAILED: %s, %s: %u of %u reads done, %u seeks%s (see %s)\n", blkdev.c_str(), range.c_str(),
                    info.reads_completed, count, info.read_requests, reason(storage).c_str(),
                    twctl::log_file().c_str());
        return 1;
    }
    std::printf("PASSED: %u random reads from %s, %s\n", info.reads_completed, blkdev.c_str(), range.c_str());
    std::printf("%.3f s, %.0f reads/s\n", s, s > 0 ? info.reads_completed / s : 0.0);
    return 0;
}

struct iotest_options {
    std::string mnt_path;
    std::string blkdev;
    unsigned count = 0;  // 0: the mode's default
};

int iotest(iotest_options o) {
    if (o.blkdev.empty() && o.mnt_path.empty()) {
        // --count alone is not a test.
        std::fprintf(stderr,
                     "twctl iotest: name a MOUNT_PATH or --blkdev DEV\nRun 'twctl iotest --help' for its "
                     "usage.\n");
        return twctl::exit_usage;
    }
    if (!o.blkdev.empty()) return blkdev_test(o.blkdev, o.count ? o.count : kDefaultBlockReads);
    while (o.mnt_path.size() > 1 && o.mnt_path.back() == '/') o.mnt_path.pop_back();
    struct stat st {};
    if (::stat(o.mnt_path.c_str(), &st) != 0) {
        std::fprintf(stderr, "twctl iotest: %s: %s\n", o.mnt_path.c_str(),
                     errno == ENOENT ? "the path does not exist" : std::strerror(errno));
        return twctl::exit_usage;
    }
    return file_test(o.mnt_path, o.count ? o.count : kDefaultFileEntries);
}

}  // namespace

void twctl::add_iotest_commands(CLI::App& root) {
    static iotest_options o;
    CLI::App* cmd = add_command(
        root, "iotest",
        "write, read back and compare N words on a mount point; or read N random blocks of "
        "a block device",
        [] { return iotest(o); }, privilege::root);
    CLI::Option* mnt = cmd->add_option("MOUNT_PATH", o.mnt_path, "the mount point to write the test file on")
                           ->check([](const std::string& v) {
                               return !v.empty() && v[0] == '/' ? std::string() : "wants an absolute path";
                           });
    CLI::Option* dev = cmd->add_option("--blkdev", o.blkdev, "read blocks of this block device (sdb or /dev/sdb)")
                           ->type_name("DEV")
                           ->check([](const std::string& v) { return v.empty() ? "empty device name" : ""; });
    cmd->add_option("--count", o.count, "words to write (default 4096) or blocks to read (default 1000)")
        ->type_name("N")
        ->check(CLI::Range(1ULL, 4294967295ULL));
    mnt->excludes(dev);
}
