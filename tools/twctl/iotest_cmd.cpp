// twctl iotest MOUNT_PATH [--count N]: writes N pseudo-random words to a test
// file on a mount point, reads them back from the device and compares them.
// twctl iotest --blkdev DEV [--count N]: reads N whole blocks of a block device
// at random positions.

#include "command.h"
#include "progress_line.h"

#include <tidewall/tw_storage.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const unsigned kDefaultFileEntries = 4096;
const unsigned kDefaultBlockReads = 1000;

const char* kUsage =
    "usage: twctl iotest MOUNT_PATH [--count N]\n"
    "       twctl iotest --blkdev DEV [--count N]\n";

// A count: a whole number from 1 to 4294967295.
bool parse_count(const std::string& text, unsigned& count) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (v == 0 || v > 0xffffffffULL) return false;
    count = static_cast<unsigned>(v);
    return true;
}

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
        std::printf("FAILED: could not write %u entries to %s (see the product log)\n", count, file.c_str());
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
            std::printf("FAILED: %s on %s (%s) could not be read back%s\n", file.c_str(), dev.c_str(),
                        fstype.c_str(), reason(storage).c_str());
        else
            std::printf("FAILED: %s on %s (%s) did not read back as written, key %#x; the product log names the "
                        "first differing words\n",
                        file.c_str(), dev.c_str(), fstype.c_str(), key);
        return 1;
    }
    std::printf("PASSED: %u entries (%.1f MiB) written to %s on %s (%s) and validated, key %#x\n", count, mib,
                file.c_str(), dev.c_str(), fstype.c_str(), key);
    std::printf("write and flush %.3f s (%.1f MiB/s), read and compare %.3f s (%.1f MiB/s)\n", write_s,
                write_s > 0 ? mib / write_s : 0.0, read_s, read_s > 0 ? mib / read_s : 0.0);
    return 0;
}

int blkdev_test(const std::string& blkdev, unsigned count) {
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
    int rc = storage.perform_blkdev_io_test(blkdev, count, info,
                                            [&](unsigned long long done, unsigned long long total) {
                                                line.update("read", done, total, done * block_mib, "reads");
                                            });
    double s = seconds_since(t0);
    line.clear();
    if (rc != 0) {
        std::printf("FAILED: %s, %s: %u of %u reads done, %u seeks%s (see the product log)\n", blkdev.c_str(),
                    range.c_str(), info.reads_completed, count, info.read_requests, reason(storage).c_str());
        return 1;
    }
    std::printf("PASSED: %u random reads from %s, %s\n", info.reads_completed, blkdev.c_str(), range.c_str());
    std::printf("%.3f s, %.0f reads/s\n", s, s > 0 ? info.reads_completed / s : 0.0);
    return 0;
}

int run(const twctl::args& in) {
    if (!in.empty() && in[0] == "--help") {
        std::printf("%s", kUsage);
        return 0;
    }
    std::string blkdev, mnt_path;
    bool have_count = false;
    unsigned count = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        const std::string& w = in[i];
        if ((w == "--count" || w == "--blkdev") && i + 1 >= in.size()) {
            std::fprintf(stderr, "twctl iotest: %s needs a value\n%s", w.c_str(), kUsage);
            return 2;
        }
        if (w == "--count") {
            if (have_count || !parse_count(in[++i], count)) {
                std::fprintf(stderr, "twctl iotest: --count takes one whole number from 1 to 4294967295\n");
                return 2;
            }
            have_count = true;
        } else if (w == "--blkdev" && blkdev.empty() && mnt_path.empty()) {
            blkdev = in[++i];
            if (blkdev.empty()) {
                std::fprintf(stderr, "twctl iotest: empty device name\n");
                return 2;
            }
        } else if (!w.empty() && w[0] == '/' && mnt_path.empty() && blkdev.empty()) {
            mnt_path = w;
        } else {
            std::fprintf(stderr, "twctl iotest: unexpected argument '%s'\n%s", w.c_str(), kUsage);
            return 2;
        }
    }
    if (!blkdev.empty()) return blkdev_test(blkdev, have_count ? count : kDefaultBlockReads);
    if (!mnt_path.empty()) {
        while (mnt_path.size() > 1 && mnt_path.back() == '/') mnt_path.pop_back();
        return file_test(mnt_path, have_count ? count : kDefaultFileEntries);
    }
    std::fprintf(stderr, "%s", kUsage);
    return 2;
}

const twctl::registrar reg({"iotest",
                            "  iotest MOUNT_PATH [--count N]  write, read back and compare N words on a mount point\n"
                            "  iotest --blkdev DEV [--count N]  read N random blocks of a block device\n",
                            run});

} // namespace
