// twctl iotest MOUNT_PATH [--count N]: writes N pseudo-random words to a test
// file on a mount point, reads them back from the device and compares them.
// twctl iotest --blkdev DEV [--count N]: reads N whole blocks of a block device
// at random positions.

#include "cli.h"
#include "progress_line.h"

#include <tidewall/tw_prune.h>
#include <tidewall/tw_storage.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const unsigned kDefaultFileEntries = 4096;
const unsigned kDefaultBlockReads = 1000;

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
    tw_fs_cleaner cleaner;
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
    tw_fs_cleaning_info entry(file, "file", 1);
    cleaner.add_cleanup_entry(entry);
    line.restart();
    t0 = std::chrono::steady_clock::now();
    int valid = storage.validate_random_file(count, file, key, pass("validate"));
    double read_s = seconds_since(t0);
    line.clear();
    double mib = count * 4.0 / (1 << 20);
    if (valid != 0) {
        std::printf("FAILED: %s on %s (%s) did not read back as written, key %#x; the product log names the first "
                    "differing words\n",
                    file.c_str(), dev.c_str(), fstype.c_str(), key);
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
    int rc = storage.perform_blkdev_io_test(blkdev, count, info,
                                            [&](unsigned long long done, unsigned long long total) {
                                                line.update("read", done, total, done * block_mib, "reads");
                                            });
    double s = seconds_since(t0);
    line.clear();
    if (rc != 0) {
        std::printf("FAILED: %s, %s: %u of %u reads done, %u seeks (see %s)\n", blkdev.c_str(),
                    range.c_str(), info.reads_completed, count, info.read_requests, twctl::log_file().c_str());
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
        std::fprintf(stderr, "twctl iotest: name a MOUNT_PATH or --blkdev DEV\nRun 'twctl iotest --help' for its "
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

} // namespace

void twctl::add_iotest_commands(CLI::App& root) {
    static iotest_options o;
    CLI::App* cmd = add_command(root, "iotest",
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
