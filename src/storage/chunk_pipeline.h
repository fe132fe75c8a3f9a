#ifndef TIDEWALL_STORAGE_CHUNK_PIPELINE_H
#define TIDEWALL_STORAGE_CHUNK_PIPELINE_H

// A ring of chunk buffers between a worker thread and the caller: the worker
// fills the next chunks (generates them) while the caller writes the current
// one, so the device never waits for the processor. Memory is the ring,
// whatever the size of the file.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tidewall::storage {

class chunk_pipeline {
public:
    // fill(index, words) runs on the worker for chunks 0, 1, ... in order.
    // Without a thread the caller fills each chunk itself.
    using fill_fn = std::function<void(std::uint64_t index, unsigned* words)>;

    chunk_pipeline(std::uint64_t chunks, std::size_t chunk_words, unsigned slots, fill_fn fill);
    ~chunk_pipeline();
    chunk_pipeline(const chunk_pipeline&) = delete;
    chunk_pipeline& operator=(const chunk_pipeline&) = delete;

    // The next chunk, filled, in index order; null past the last one. Give it
    // back with release() before asking for another.
    unsigned* next();
    void release();

private:
    void run();
    unsigned* slot(std::uint64_t index) { return buffers_.get() + (index % slots_) * chunk_words_; }

    const std::uint64_t chunks_;
    const std::size_t chunk_words_;
    const unsigned slots_;
    const fill_fn fill_;
    std::unique_ptr<unsigned[]> buffers_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t filled_ = 0;  // chunks the worker has finished
    std::uint64_t taken_ = 0;  // chunks handed to the caller
    std::uint64_t released_ = 0;  // chunks the caller gave back
    bool worker_done_ = false;
    bool stop_ = false;
    bool inline_ = false;  // no thread could be started
    std::thread worker_;
};

}  // namespace tidewall::storage

#endif
