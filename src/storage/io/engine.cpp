// The streaming engine of file I/O verification: a test file of pseudo-random
// words written a chunk at a time while the next chunks are generated, and
// read back and compared without storing the expected words.

#include "storage/io/io_internal.h"

#include "storage/bounded_read.h"
#include "storage/chunk_pipeline.h"

#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/throw_error.h"
#include "foundation/log/log_level.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tidewall::storage::io {

namespace {

// Words a chunk: 1 MiB of memory, whatever the size of the file.
const unsigned kChunkWords = 1u << 18;

// A failed validation logs its first differing words, not all of them: a wrong
// key on a large file would otherwise push the whole log history out.
const unsigned kMaxLoggedDifferences = 1024;

// Chunks in flight between the generating worker and the writer (4 MiB), and
// how many written chunks are handed to the device at a time.
const unsigned kSlots = 4;
const unsigned kWritebackChunks = 8;

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
            log.logMessage(tag, tidewall::log_level::step, "@ index [%u] expected value [%u] actual value [%u]",
                           static_cast<unsigned>(first + i), expected[i], actual[i]);
        }
    }
}

}  // namespace

void open_or_throw(tw_debug& log, const char* tag, CZuFile& f, const std::string& path, int flags) {
    if (f.Open(path, flags, kFileMode).IsSuccess()) return;
    log.logMessage(tag, tidewall::log_level::step, "Failed to open file [%s]", path.c_str());
    tidewall::throw_storage_error(tag, "Failed to open file " + path);
}

void close_or_throw(tw_debug& log, const char* tag, CZuFile& f, const std::string& path) {
    if (f.Close().IsSuccess()) return;
    log.logMessage(tag, tidewall::log_level::step, "Failed to close file [%s]", path.c_str());
    tidewall::throw_storage_error(tag, "Failed to close file " + path);
}

// A worker generates the next chunks while the current one is written.
long long write_stream(tw_debug& log, const std::string& path, unsigned key, unsigned count,
                       const tw_storage::io_progress& progress) {
    const char* tag = "tw_storage::write_data_to_file";
    CZuFile f;
    open_or_throw(log, tag, f, path, kCreateFlags);
    const chunking c{count};
    bool ok = true;
    {
        tidewall::storage::chunk_pipeline generated(
            c.chunks(), c.chunk_words(), kSlots, [&](std::uint64_t i, unsigned* words) {
                tsaf_utils::generate_prg_data_at(key, c.first(i), words, c.words(i));
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
    if (!ok) log.logMessage(tag, tidewall::log_level::step, "Failed to write to file [%s]", path.c_str());
    close_or_throw(log, tag, f, path);
    return ok ? static_cast<long long>(count) * 4 : -1;
}

// Stops at the first chunk that cannot be read whole. The reads stay on this
// thread: the kernel's read-ahead already fetches the next chunks from the
// device while one is compared, and the comparison (made without storing the
// expected words) is several times faster than the device, so a reading
// thread only adds hand-overs and copies between processor caches (it measured
// slower).
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
            log.logMessage(read_tag, tidewall::log_level::step, "Failed to read from file [%s]", path.c_str());
            if (!failure.empty())
                log.logMessage(read_tag, tidewall::log_level::step, "[%s]: %s", path.c_str(), failure.c_str());
            rc = -1;
            break;
        }
        if (done < n * 4) {
            log.logMessage(read_tag, tidewall::log_level::step,
                           "File [%s] short read  expected bytes [%llu] actual bytes [%llu]", path.c_str(),
                           static_cast<unsigned long long>(count) * 4, static_cast<unsigned long long>(at) * 4 + done);
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
        log.logMessage("tw_storage::compare_data", tidewall::log_level::step,
                       "[%llu] differing words in all, the first [%u] logged",
                       static_cast<unsigned long long>(c.differing), c.logged);
    return rc != 0 ? rc : (c.differing ? 1 : 0);
}

}  // namespace tidewall::storage::io
