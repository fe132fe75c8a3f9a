#ifndef TIDEWALL_FOUNDATION_WORKER_POOL_H
#define TIDEWALL_FOUNDATION_WORKER_POOL_H

// A few threads working through a list of independent jobs (one per disk, one
// per volume), so that slow tools answer side by side without flooding a
// controller or glusterd. The workers inherit the caller's command deadline:
// once it has passed no job starts, and a job's commands are cut to it.

#include "foundation/host/command_deadline.h"
#include "foundation/host/host_backend.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tidewall::host {

// Runs job(i) for i in [0, count) on at most `workers` threads and returns the
// number of jobs started: those from that number on never ran because the
// deadline passed first. setup, when given, runs first on each worker (to
// adopt per-thread state of the caller). A job that throws stops no other job;
// once all have ended, the first exception thrown is rethrown to the caller.
inline size_t run_bounded(size_t count, size_t workers, const std::function<void(size_t)>& job,
                          const std::function<void()>& setup = nullptr) {
    const auto deadline = thread_deadline();
    std::atomic<size_t> next{0};
    std::mutex fault_mutex;
    std::exception_ptr fault;
    auto work = [&] {
        std::optional<command_deadline> limit;
        if (deadline) limit.emplace(*deadline);
        if (setup) setup();
        for (;;) {
            if (deadline && steady_now() >= *deadline) return;
            size_t i = next.fetch_add(1);
            if (i >= count) return;
            try {
                job(i);
            } catch (...) {
                // Carried to the caller's thread: escaping a worker would end the process.
                std::lock_guard<std::mutex> hold(fault_mutex);
                if (!fault) fault = std::current_exception();
            }
        }
    };
    std::vector<std::thread> threads;
    const size_t n = std::min(workers, count);
    for (size_t t = 1; t < n; ++t) threads.emplace_back(work);
    if (n > 0) work();  // the caller is one of the workers
    for (auto& t : threads) t.join();
    if (fault) std::rethrow_exception(fault);
    return std::min(next.load(), count);
}

}  // namespace tidewall::host

#endif
