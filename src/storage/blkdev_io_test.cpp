// Block-device I/O verification: the capacity of a device, and whole blocks read
// at pseudo-random positions.

#include <tidewall/tw_storage.h>

#include "storage/block_draw.h"
#include "storage/bounded_read.h"

#include "foundation/blkdev/blkdevmgr.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <new>
#include <unistd.h>

namespace {

// When the capacity cannot be read: 1 TB in 512-byte blocks.
const unsigned long long kFallbackBlocks = 0x80000000ULL;
const unsigned kFallbackBlockSize = 512;

// Reads between two progress reports.
const unsigned kReadsPerProgress = 64;

// A device as both steps name it: a kernel name lies under /dev, a path is
// taken as it stands.
std::string device_path(const std::string& name) { return !name.empty() && name[0] == '/' ? name : "/dev/" + name; }

struct fd_closer {
    int fd = -1;
    ~fd_closer() {
        if (fd >= 0) ::close(fd);
    }
};

// Reads one whole block at offset with positioned reads (one system call a
// block, as fio's psync engine does), each given at most limit_s to answer; a
// read that O_DIRECT refuses (a block size below the device's) is retried
// through the page cache. The block lands in the reader's buffer.
enum class block_read { ok, failed, timed_out };

block_read read_block(tidewall::storage::bounded_reader& reader, int fd, unsigned blksize, off_t offset, int limit_s) {
    unsigned got = 0;
    bool retried = false;
    while (got < blksize) {
        std::size_t n = 0;
        int err = 0;
        auto outcome = reader.read(offset + got, got, blksize - got, limit_s, n, err);
        if (outcome == tidewall::storage::bounded_reader::timed_out) return block_read::timed_out;
        if (outcome == tidewall::storage::bounded_reader::done && n > 0) {
            got += static_cast<unsigned>(n);
            continue;
        }
        if (outcome == tidewall::storage::bounded_reader::failed && err == EINVAL && !retried && got == 0) {
            // The flags belong to the open file, which the reading process shares.
            int flags = ::fcntl(fd, F_GETFL);
            if (flags < 0 || !(flags & O_DIRECT) || ::fcntl(fd, F_SETFL, flags & ~O_DIRECT) != 0)
                return block_read::failed;
            retried = true;
            continue;
        }
        return block_read::failed;
    }
    return block_read::ok;
}

}  // namespace

unsigned long long tidewall::storage::draw_block(boost::random::mt19937& mt, unsigned long long blocks) {
    // Uniform over the device: a product of two draws would almost always
    // exceed the device and clamp to the same block.
    std::uint64_t a = mt();
    std::uint64_t b = mt();
    if (blocks < 2) return 0;
    return ((a << 32) | b) % (blocks - 1);
}

int tw_storage::get_blkdev_capacity(std::string name, unsigned long long& blocks, unsigned& blksize) {
    const char* tag = "tw_storage::get_blkdev_capacity";
    log_.logMessage(tag, tidewall::log_level::step, "Will extract capacity of block device [%s]", name.c_str());
    try {
        tsaf_blkdev dev(device_path(name));
        tsaf_blkdevmgr mgr;
        mgr.get_capacity(dev);
        blocks = dev.get_blocks();
        blksize = dev.get_blksize();
        return 0;
    } catch (const TsException& e) {
        blocks = 0;
        blksize = 0;
        log_.logMessage(tag, tidewall::log_level::step, "Failed to extract capacity of block device [%s]",
                        name.c_str());
        throw TsException(e);
    }
}

int tw_storage::perform_blkdev_io_test(std::string blkdev, unsigned count, io_test_info& info) {
    return perform_blkdev_io_test(std::move(blkdev), count, info, io_progress());
}

int tw_storage::perform_blkdev_io_test(std::string blkdev, unsigned count, io_test_info& info,
                                       const io_progress& progress) {
    const char* tag = "tw_storage::perform_blkdev_io_test";
    log_.logMessage(tag, tidewall::log_level::step, "Will perform I/O test on block device [%s]", blkdev.c_str());
    info.result = 0;
    info.read_requests = 0;
    info.reads_completed = 0;
    io_failure_.clear();
    unsigned long long blocks = 0;
    unsigned blksize = 0;
    try {
        get_blkdev_capacity(blkdev, blocks, blksize);
    } catch (const TsException&) {
        log_.logMessage(tag, tidewall::log_level::step,
                        "Failed to extract the capacity of block device [%s]. Will use a size of 1 TB for performing "
                        "block device I/O test",
                        blkdev.c_str());
        blocks = kFallbackBlocks;
        blksize = kFallbackBlockSize;
    }

    fd_closer dev;
    try {
        std::string path = tidewall::host::path(device_path(blkdev));
        dev.fd = ::open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
        if (dev.fd < 0 && errno == EINVAL) dev.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (dev.fd < 0) {
            log_.logMessage(tag, tidewall::log_level::step, "Failed to open block device [%s]", blkdev.c_str());
            io_failure_ = "cannot open " + blkdev + ": " + std::strerror(errno);
            return -1;
        }
        // Page-aligned for O_DIRECT: the test reads the device, not the page
        // cache. A read that does not answer in time fails the test at once.
        tidewall::storage::bounded_reader reader(dev.fd, blksize ? blksize : kFallbackBlockSize);
        if (!reader.ready()) throw std::bad_alloc();
        const int limit_s = tidewall::storage::read_time_limit_s();

        std::string key_text;
        unsigned key = tsaf_utils::generate_prg_key(key_text);
        log_.logMessage(tag, tidewall::log_level::step, "PRNG string [%s] key [%#x]", key_text.c_str(), key);
        boost::random::mt19937 mt(key);

        for (unsigned i = 0; i < count; ++i) {
            unsigned long long index = tidewall::storage::draw_block(mt, blocks);
            if (blocks >= 2 && index > blocks - 2) index = blocks - 2;
            unsigned long long offset = index * blksize;
            if (offset > static_cast<unsigned long long>(std::numeric_limits<off_t>::max())) {
                log_.logMessage(tag, tidewall::log_level::step, "Failed to seek to offset [%llu] on block device [%s]",
                                offset, blkdev.c_str());
                return -1;
            }
            ++info.read_requests;
            block_read r =
                blksize ? read_block(reader, dev.fd, blksize, static_cast<off_t>(offset), limit_s) : block_read::failed;
            if (r != block_read::ok) {
                io_failure_ = r == block_read::timed_out ? tidewall::storage::read_timeout_text(limit_s)
                                                         : "read of block " + std::to_string(index) + " failed";
                log_.logMessage(tag, tidewall::log_level::step,
                                "Failed to read block [%llu] of [%u] bytes from block device [%s]: %s", index, blksize,
                                blkdev.c_str(), io_failure_.c_str());
                info.result = 0;
                return -1;
            }
            ++info.reads_completed;
            if (progress && (info.reads_completed % kReadsPerProgress == 0 || info.reads_completed == count))
                progress(info.reads_completed, count);
        }
        info.result = 1;
        return 0;
    } catch (const TsException&) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to perform I/O test on block device [%s]",
                        blkdev.c_str());
        return -1;
    } catch (const std::bad_alloc&) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to perform I/O test on block device [%s]",
                        blkdev.c_str());
        io_failure_ = "no memory or process for the reads";
        return -1;
    }
}
