#include "storage/chunk_pipeline.h"

#include <algorithm>
#include <system_error>

namespace tidewall::storage {

chunk_pipeline::chunk_pipeline(std::uint64_t chunks, std::size_t chunk_words, unsigned slots, fill_fn fill)
    : chunks_(chunks), chunk_words_(chunk_words),
      slots_(static_cast<unsigned>(std::max<std::uint64_t>(1, std::min<std::uint64_t>(slots, chunks)))),
      fill_(std::move(fill)), buffers_(new unsigned[slots_ * chunk_words_]) {
    if (chunks_ == 0) {
        worker_done_ = true;
        return;
    }
    try {
        worker_ = std::thread(&chunk_pipeline::run, this);
    } catch (const std::system_error&) {
        // Out of threads: the same work, one step after the other.
        inline_ = true;
    }
}

chunk_pipeline::~chunk_pipeline() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void chunk_pipeline::run() {
    for (std::uint64_t i = 0; i < chunks_; ++i) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || i - released_ < slots_; });
            if (stop_) break;
        }
        fill_(i, slot(i));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            filled_ = i + 1;
        }
        changed_.notify_all();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        worker_done_ = true;
    }
    changed_.notify_all();
}

unsigned* chunk_pipeline::next() {
    if (inline_) {
        if (taken_ >= chunks_) return nullptr;
        fill_(taken_, slot(taken_));
        return slot(taken_++);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return filled_ > taken_ || worker_done_; });
    if (filled_ <= taken_) return nullptr;
    return slot(taken_++);
}

void chunk_pipeline::release() {
    if (inline_) {
        released_ = taken_;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = taken_;
    }
    changed_.notify_all();
}

}  // namespace tidewall::storage
