#ifndef TIDEWALL_STORAGE_BOUNDED_READ_H
#define TIDEWALL_STORAGE_BOUNDED_READ_H

// Reads that stop being waited for at a time limit. A disk that stops
// answering blocks a read in the kernel, often where no signal reaches it (a
// direct read of a block device waits uninterruptibly), and a thread stuck
// there also keeps its whole process from ending. The reads therefore run in a
// small process of their own, forked once per check, that shares the buffer
// with the caller and answers over a socket: the caller stops waiting at the
// limit, and neither it nor a SIGTERM to it waits for the stuck read. The
// reading process ends once that read returns, or at once when it sees the
// caller gone; it is nobody's child, so it leaves no zombie.

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tidewall::storage {

// Seconds a single read may take before the check gives up on the disk: 60,
// or less under the TW_TIME_LIMIT_CAP_S test aid (docs/time-limits.md).
int read_time_limit_s();

class bounded_reader {
public:
    // fd stays the caller's; the reading process reads through its own copy
    // (the same open file, so flags changed with fcntl apply to both).
    // bytes: the largest read asked for.
    bounded_reader(int fd, std::size_t bytes);
    ~bounded_reader();
    bounded_reader(const bounded_reader&) = delete;
    bounded_reader& operator=(const bounded_reader&) = delete;

    // Whether the reading process and its buffer exist; else errno() says why.
    bool ready() const { return sock_ >= 0; }
    int error() const { return error_; }
    // Where reads land, page-aligned (fit for O_DIRECT), bytes long.
    void* buffer() const { return buf_; }

    enum outcome { done, failed, timed_out };
    // One read(2) (offset < 0) or pread(2) of up to len bytes into buffer()
    // + at. done: got bytes (0 at the end of the file); failed: err is the
    // errno; timed_out: no answer within limit_s, and this reader reads no more.
    outcome read(long long offset, std::size_t at, std::size_t len, int limit_s, std::size_t& got, int& err);

private:
    void* buf_ = nullptr;
    std::size_t bytes_ = 0;
    int sock_ = -1;
    int error_ = 0;
};

// "read did not complete within N s"
std::string read_timeout_text(int limit_s);

// Removes paths (files, then empty directories, in the order given) from a
// process of its own, as bounded_reader reads: on a disk that stopped
// answering, a removal waits for the stuck read (which holds the file's
// lock), and the caller must not. Done as soon as the disk answers again.
// Async-signal-safe once the paths are prepared, so a signal handler may call
// remove_in_background_prepared().
void remove_in_background(const std::vector<std::string>& paths);

}  // namespace tidewall::storage

#endif
