// File I/O verification: test files of pseudo-random words written, read back
// and compared, and the file-system check of a mount path.

#include <tidewall/tw_prune.h>
#include <tidewall/tw_storage.h>

#include "storage/bounded_read.h"
#include "storage/chunk_pipeline.h"

#include "foundation/compat/czu_file.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/compat/tsaf_utils.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Flags and mode of the test files: read-write and create (66), rw-r--r-- (420).
const int kWriteFlags = O_RDWR | O_CREAT;
// A test file is made afresh (generate_random_file removes the old one first):
// on a data disk another account may plant a link or file at its name in
// between, which must make the open fail, never be written through.
const int kCreateFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
const int kReadFlags = O_RDONLY;
const unsigned kFileMode = 0644;

// Words a chunk: 1 MiB of memory, whatever the size of the file.
const unsigned kChunkWords = 1u << 18;

// A failed validation logs its first differing words, not all of them: a wrong
// key on a large file would otherwise push the whole log history out.
const unsigned kMaxLoggedDifferences = 1024;

const unsigned kCheckEntries = 4096;

// check_file_system's scratch directory: "test_dir" in earlier versions, now
// "test_dir.<pid>.<run>", its own for every run.
const char* const kScratchPrefix = "test_dir";

std::string scratch_name() {
    static std::atomic<unsigned> runs{0};
    return std::string(kScratchPrefix) + "." + std::to_string(::getpid()) + "." + std::to_string(++runs);
}

bool all_digits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The process id of a scratch directory name, 0 for the old fixed name, -1
// for a name the check does not make.
long scratch_owner(const std::string& name) {
    if (name == kScratchPrefix) return 0;
    const std::string head = std::string(kScratchPrefix) + ".";
    if (name.compare(0, head.size(), head) != 0) return -1;
    const std::string rest = name.substr(head.size());
    const size_t dot = rest.find('.');
    if (dot == std::string::npos || !all_digits(rest.substr(0, dot)) || !all_digits(rest.substr(dot + 1))) return -1;
    return std::strtol(rest.substr(0, dot).c_str(), nullptr, 10);
}

std::vector<std::string> entries_of(const std::string& real_dir) {
    std::vector<std::string> names;
    tidewall::file_io::list_dir(real_dir, names);
    return names;
}

bool is_real_dir(const std::string& real) {
    struct stat st {};
    return ::lstat(real.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether a directory holds nothing but what the check makes: an inner
// test_dir, and in it test_file.txt no larger than the check writes.
bool holds_only_check_files(const std::string& real_dir) {
    if (!is_real_dir(real_dir)) return false;
    auto outer = entries_of(real_dir);
    if (outer.empty()) return true;
    if (outer.size() != 1 || outer[0] != kScratchPrefix || !is_real_dir(real_dir + "/" + kScratchPrefix)) return false;
    auto inner = entries_of(real_dir + "/" + kScratchPrefix);
    if (inner.empty()) return true;
    if (inner.size() != 1 || inner[0] != "test_file.txt") return false;
    struct stat st {};
    const std::string file = real_dir + "/" + kScratchPrefix + "/test_file.txt";
    return ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           static_cast<unsigned long long>(st.st_size) <= kCheckEntries * sizeof(unsigned);
}

// A check cut short (power loss, kill) leaves its scratch directory behind.
// Such a leftover is removed when nothing but the check's own files are in it
// and the process that made it is gone; anything else there is left alone.
void remove_check_leftovers(tw_debug& log, const std::string& mnt_path) {
    const char* tag = "tw_storage::check_file_system";
    const std::string real = tidewall::host::path(mnt_path);
    for (const auto& name : entries_of(real)) {
        const long owner = scratch_owner(name);
        if (owner < 0) continue;
        if (owner > 0 && (owner == ::getpid() || tsaf_utils::is_dir("/proc/" + std::to_string(owner)))) continue;
        const std::string leftover = mnt_path + "/" + name;
        if (!holds_only_check_files(real + "/" + name)) continue;
        if (CZuDirectory::Remove(leftover, true).IsFailure())
            log.logMessage(tag, 0, "Failed to remove [%s] left by an earlier check", leftover.c_str());
        else
            log.logMessage(tag, 0, "Removed [%s] left by an earlier check", leftover.c_str());
    }
}

// Chunks in flight between the generating worker and the writer (4 MiB), and
// how many written chunks are handed to the device at a time.
const unsigned kSlots = 4;
const unsigned kWritebackChunks = 8;

void open_or_throw(tw_debug& log, const char* tag, CZuFile& f, const std::string& path, int flags) {
    if (f.Open(path, flags, kFileMode).IsSuccess()) return;
    log.logMessage(tag, 0, "Failed to open file [%s]", path.c_str());
    throw TsException(tag, "Failed to open file " + path, "tw_storage", __LINE__, -1);
}

void close_or_throw(tw_debug& log, const char* tag, CZuFile& f, const std::string& path) {
    if (f.Close().IsSuccess()) return;
    log.logMessage(tag, 0, "Failed to close file [%s]", path.c_str());
    throw TsException(tag, "Failed to close file " + path, "tw_storage", __LINE__, -1);
}

// Chunks of a file: count words, kChunkWords a chunk, the last one shorter.
struct chunking {
    unsigned count;
    std::uint64_t chunks() const { return (static_cast<std::uint64_t>(count) + kChunkWords - 1) / kChunkWords; }
    std::size_t chunk_words() const { return std::min(count, kChunkWords); }
    std::uint64_t first(std::uint64_t chunk) const { return chunk * kChunkWords; }
    unsigned words(std::uint64_t chunk) const {
        return static_cast<unsigned>(std::min<std::uint64_t>(kChunkWords, count - first(chunk)));
    }
};

// Writes count words of key's stream to path, a chunk at a time, and flushes
// them to the device. A worker generates the next chunks while the current one
// is written. Bytes written, or -1 when a write fails; throws when the file
// cannot be opened or closed.
long long write_stream(tw_debug& log, const std::string& path, unsigned key, unsigned count,
                       const tw_storage::io_progress& progress) {
    const char* tag = "tw_storage::write_data_to_file";
    CZuFile f;
    open_or_throw(log, tag, f, path, kCreateFlags);
    const chunking c{count};
    bool ok = true;
    {
        tidewall::storage::chunk_pipeline generated(c.chunks(), c.chunk_words(), kSlots,
                                                    [&](std::uint64_t i, unsigned* words) {
                                                        tsaf_utils::generate_prg_data_at(key, c.first(i), words,
                                                                                         c.words(i));
                                                    });
        for (std::uint64_t i = 0; ok && i < c.chunks(); ++i) {
            const unsigned* words = generated.next();
            unsigned n = c.words(i), done = 0;
            ok = words && f.Write(words, n * 4, &done).IsSuccess() && done == n * 4;
            generated.release();
            if (ok && progress) progress(c.first(i) + n, count);
            // The device starts on what is written while the rest is generated;
            // the flush below still reports its errors.
            if (ok && (i + 1) % kWritebackChunks == 0) {
                std::uint64_t from = c.first(i + 1 - kWritebackChunks) * 4;
                f.StartWriteback(from, static_cast<std::uint64_t>(kWritebackChunks) * kChunkWords * 4);
            }
        }
    }
    // Written is not stored until the device has it: a write error of the device
    // shows at the flush.
    if (ok) ok = f.Sync().IsSuccess();
    if (!ok) log.logMessage(tag, 0, "Failed to write to file [%s]", path.c_str());
    close_or_throw(log, tag, f, path);
    return ok ? static_cast<long long>(count) * 4 : -1;
}

// What the comparison of a file found so far.
struct comparison {
    std::uint64_t differing = 0;
    unsigned logged = 0;
};

void compare_chunk(tw_debug& log, const char* tag, const unsigned* expected, const unsigned* actual, unsigned n,
                   std::uint64_t first, comparison& c) {
    if (std::memcmp(expected, actual, static_cast<size_t>(n) * 4) == 0) return;
    for (unsigned i = 0; i < n; ++i) {
        if (expected[i] == actual[i]) continue;
        ++c.differing;
        if (c.logged < kMaxLoggedDifferences) {
            ++c.logged;
            log.logMessage(tag, 0, "@ index [%u] expected value [%u] actual value [%u]",
                           static_cast<unsigned>(first + i), expected[i], actual[i]);
        }
    }
}

// Reads count words from path a chunk at a time and compares them with key's
// stream, stopping at the first chunk that cannot be read whole. The reads stay
// on this thread: the kernel's read-ahead already fetches the next chunks from
// the device while one is compared, and the comparison (made without storing
// the expected words) is several times faster than the device, so a reading
// thread only adds hand-overs and copies between processor caches (it measured
// slower). -1 when the file cannot be read whole, 1 when words differ, 0 when
// all match; throws when the file cannot be opened or closed.
int check_stream(tw_debug& log, const std::string& path, unsigned key, unsigned count,
                 const tw_storage::io_progress& progress, std::string& failure) {
    const char* read_tag = "tw_storage::read_data_from_file";
    CZuFile f;
    open_or_throw(log, read_tag, f, path, kReadFlags);
    // The file was flushed when written: dropping its cached pages makes the
    // comparison read what the device holds.
    f.DropCache();
    const chunking ch{count};
    comparison c;
    int rc = 0;
    // A disk that stops answering fails the check at the read limit instead
    // of holding the caller.
    tidewall::storage::bounded_reader reader(f.Descriptor(), ch.chunk_words() * 4);
    const int limit_s = tidewall::storage::read_time_limit_s();
    unsigned* actual = static_cast<unsigned*>(reader.buffer());
    std::vector<unsigned> expected;  // only once a chunk differs
    for (std::uint64_t i = 0; i < ch.chunks(); ++i) {
        const std::uint64_t at = ch.first(i);
        const unsigned n = ch.words(i);
        unsigned done = 0;
        bool read_failed = !reader.ready();
        while (!read_failed && done < n * 4) {
            std::size_t got = 0;
            int err = 0;
            auto outcome = reader.read(-1, done, n * 4 - done, limit_s, got, err);
            if (outcome == tidewall::storage::bounded_reader::timed_out) {
                failure = tidewall::storage::read_timeout_text(limit_s);
                read_failed = true;
            } else if (outcome == tidewall::storage::bounded_reader::failed) {
                failure = std::string("read failed: ") + std::strerror(err);
                read_failed = true;
            } else if (got == 0) {
                break;
            } else {
                done += static_cast<unsigned>(got);
            }
        }
        if (read_failed) {
            log.logMessage(read_tag, 0, "Failed to read from file [%s]", path.c_str());
            if (!failure.empty()) log.logMessage(read_tag, 0, "[%s]: %s", path.c_str(), failure.c_str());
            rc = -1;
            break;
        }
        if (done < n * 4) {
            log.logMessage(read_tag, 0, "File [%s] short read  expected bytes [%llu] actual bytes [%llu]",
                           path.c_str(), static_cast<unsigned long long>(count) * 4,
                           static_cast<unsigned long long>(at) * 4 + done);
            rc = -1;
            break;
        }
        if (!tsaf_utils::prg_data_matches_at(key, at, actual, n)) {
            expected.resize(ch.chunk_words());
            tsaf_utils::generate_prg_data_at(key, at, expected.data(), n);
            compare_chunk(log, "tw_storage::compare_data", expected.data(), actual, n, at, c);
        }
        if (progress) progress(at + n, count);
    }
    close_or_throw(log, read_tag, f, path);
    if (rc == 0 && c.differing > c.logged)
        log.logMessage("tw_storage::compare_data", 0, "[%llu] differing words in all, the first [%u] logged",
                       static_cast<unsigned long long>(c.differing), c.logged);
    return rc != 0 ? rc : (c.differing ? 1 : 0);
}

} // namespace

int tw_storage::write_data_to_file(std::string path, void* buf, unsigned len) {
    const char* tag = "tw_storage::write_data_to_file";
    CZuFile f;
    open_or_throw(log_, tag, f, path, kWriteFlags);
    unsigned done = 0;
    bool ok = f.Write(buf, len, &done).IsSuccess() && done == len && f.Sync().IsSuccess();
    if (!ok) log_.logMessage(tag, 0, "Failed to write to file [%s]", path.c_str());
    close_or_throw(log_, tag, f, path);
    if (!ok) return -1;
    return len > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(len);
}

int tw_storage::read_data_from_file(std::string path, void* buf, unsigned len) {
    const char* tag = "tw_storage::read_data_from_file";
    CZuFile f;
    open_or_throw(log_, tag, f, path, kReadFlags);
    unsigned done = 0;
    int rc = 0;
    if (f.Read(buf, len, &done).IsFailure()) {
        log_.logMessage(tag, 0, "Failed to read from file [%s]", path.c_str());
        rc = -1;
    } else if (done < len) {
        log_.logMessage(tag, 0, "File [%s] short read  expected bytes [%u] actual bytes [%u]", path.c_str(), len,
                        done);
        rc = -1;
    }
    close_or_throw(log_, tag, f, path);
    if (rc != 0) return -1;
    return len > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(len);
}

bool tw_storage::compare_data(unsigned* expected, unsigned* actual, unsigned count) {
    const char* tag = "tw_storage::compare_data";
    bool equal = true;
    for (unsigned i = 0; i < count; ++i) {
        if (expected[i] == actual[i]) continue;
        log_.logMessage(tag, 0, "@ index [%u] expected value [%u] actual value [%u]", i, expected[i], actual[i]);
        equal = false;
    }
    return equal;
}

int tw_storage::generate_random_file(unsigned count, std::string path, unsigned& key) {
    return generate_random_file(count, std::move(path), key, io_progress());
}

int tw_storage::generate_random_file(unsigned count, std::string path, unsigned& key, const io_progress& progress) {
    const char* tag = "tw_storage::generate_random_file";
    log_.logMessage(tag, 0, "File [%s] will be filled with [%u] entries generated from pseudo random number generator",
                    path.c_str(), count);
    bool exists = false;
    if (CZuPath::Exists(path, exists).IsFailure()) {
        log_.logMessage(tag, 0, "Failed to check whether the file file [%s] exists", path.c_str());
        return -1;
    }
    if (exists && CZuFile::Delete(path, true).IsFailure()) {
        log_.logMessage(tag, 0, "Failed to delete the file [%s]", path.c_str());
        return -1;
    }
    std::string key_text;
    key = tsaf_utils::generate_prg_key(key_text);
    log_.logMessage(tag, 0, "PRNG string [%s] key [%#x]", key_text.c_str(), key);
    try {
        long long written = write_stream(log_, path, key, count, progress);
        if (written < 0) return -1;
        // The result is an int: a file of 2 GiB or more reports INT_MAX, not a
        // negative number that callers would take for a failure.
        return written > INT_MAX ? INT_MAX : static_cast<int>(written);
    } catch (const TsException&) {
        log_.logMessage(tag, 0, "Failed to write data to file [%s]", path.c_str());
        return -1;
    }
}

int tw_storage::validate_random_file(unsigned count, std::string path, unsigned& key) {
    return validate_random_file(count, std::move(path), key, io_progress());
}

int tw_storage::validate_random_file(unsigned count, std::string path, unsigned& key, const io_progress& progress) {
    const char* tag = "tw_storage::validate_random_file";
    log_.logMessage(tag, 0, "File [%s] entries [%u] PRNG key [%u] will be checked for validity of data", path.c_str(),
                    count, key);
    bool exists = false;
    if (CZuPath::Exists(path, exists).IsFailure()) {
        log_.logMessage(tag, 0, "Failed to check whether the file file [%s] exists", path.c_str());
        return -1;
    }
    if (!exists) {
        log_.logMessage(tag, 0, "File [%s] does not exist", path.c_str());
        return -1;
    }
    try {
        io_failure_.clear();
        int rc = check_stream(log_, path, key, count, progress, io_failure_);
        if (rc < 0) {
            log_.logMessage(tag, 0, "Failed to read data from file [%s]", path.c_str());
            return -1;
        }
        if (rc > 0) {
            log_.logMessage(tag, 0, "Data validation from file [%s] failed", path.c_str());
            return -1;
        }
        return 0;
    } catch (const TsException&) {
        log_.logMessage(tag, 0, "Failed to write data to file [%s]", path.c_str());
        return -1;
    }
}

int tw_storage::check_file_system(std::string mnt_path, bool check_mounted) {
    const char* tag = "tw_storage::check_file_system";
    if (check_mounted) {
        std::string dev, fstype;
        std::list<std::string> options;
        if (is_mounted(mnt_path, dev, fstype, options) != 1) {
            log_.logMessage(tag, 0, "Failed to find mount path [%s]", mnt_path.c_str());
            return -1;
        }
    }
    remove_check_leftovers(log_, mnt_path);
    // Made before anything is created: whatever was registered goes when this
    // check ends, however it ends.
    std::unique_ptr<tw_fs_cleaner> remover(new tw_fs_cleaner);
    tw_fs_cleaner& cleaner = *remover;
    std::string outer = mnt_path + "/" + scratch_name();
    std::string inner = outer + "/" + kScratchPrefix;
    std::string file = inner + "/test_file.txt";
    int order = 0;
    for (const std::string& dir : {outer, inner}) {
        if (CZuDirectory::Create(dir).IsFailure()) {
            log_.logMessage(tag, 0, "Failed to create directory [%s]", dir.c_str());
            return -1;
        }
        tw_fs_cleaning_info entry(dir, "dir", ++order);
        cleaner.add_cleanup_entry(entry);
    }
    unsigned key = 0;
    try {
        if (generate_random_file(kCheckEntries, file, key) < 0) {
            log_.logMessage(tag, 0, "Failed to generate file [%s] with random data", file.c_str());
            return -1;
        }
        tw_fs_cleaning_info entry(file, "file", ++order);
        cleaner.add_cleanup_entry(entry);
        if (validate_random_file(kCheckEntries, file, key) < 0) {
            log_.logMessage(tag, 0, "Failed to validate file [%s] RPNG [%#x]", file.c_str(), key);
            if (!io_failure_.empty() && io_failure_.rfind("read did not complete", 0) == 0) {
                // The stuck read holds the file's lock: removing it here would
                // wait for the disk. A process of its own removes the tree once
                // the disk answers, and the remover is let go without its turn.
                tidewall::storage::remove_in_background(
                    {tidewall::host::path(file), tidewall::host::path(inner), tidewall::host::path(outer)});
                (void)remover.release();
            }
            return -1;
        }
        log_.logMessage(tag, 0, "Validated file [%s] PRNG [%#x]", file.c_str(), key);
        return 0;
    } catch (const TsException&) {
        log_.logMessage(tag, 0, "Failed to perform I/O test on mount path [%s]", mnt_path.c_str());
        return -1;
    }
}

int tw_storage::perform_io_test(std::string volume, unsigned count, std::list<io_test_info>& results) {
    const char* tag = "tw_storage::perform_io_test";
    log_.logMessage(tag, 0, "Will perform I/O test on mountpaths which are part of gluster volume [%s]",
                    volume.c_str());
    results.clear();
    std::list<std::string> paths;
    get_mount_path_list(volume, paths);
    for (const auto& path : paths) {
        io_test_info info;
        info.path = path;
        // Beside the brick directory, on the same disk: never inside the brick.
        std::string file = path + "/" + ".." + "/" + "io_test.txt";
        try {
            unsigned key = 0;
            if (generate_random_file(count, file, key) < 0) {
                log_.logMessage(tag, 0, "Failed to generate file [%s] with random data", file.c_str());
                info.result = 0;
            } else {
                info.write_requests = count;
                info.writes_completed = count;
                log_.logMessage(tag, 0, "Generated data file [%s] with PRNG [%#x]", file.c_str(), key);
                if (validate_random_file(count, file, key) < 0) {
                    log_.logMessage(tag, 0, "Failed to validate file [%s] RPNG [%#x]", file.c_str(), key);
                    info.result = 0;
                } else {
                    info.read_requests = count;
                    info.reads_completed = count;
                    log_.logMessage(tag, 0, "Validated file [%s] PRNG [%#x]", file.c_str(), key);
                    info.result = 1;
                }
            }
        } catch (const TsException&) {
            log_.logMessage(tag, 0, "Failed to perform I/O test on mount paths [%s] inside volume [%s]", path.c_str(),
                            volume.c_str());
            info.result = 0;
        }
        results.push_back(info);
    }
    return 0;
}
