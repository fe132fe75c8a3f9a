#include "metrics/collector.h"

#include "foundation/command_deadline.h"
#include "foundation/host_backend.h"

#include <future>
#include <memory>
#include <thread>

namespace tidewall::metrics {

namespace {

using clock = std::chrono::steady_clock;

// Past its deadline a collector still gets this long to return what it has
// (its killed commands report back); after that it is abandoned.
constexpr std::chrono::milliseconds kGrace{2000};

struct run_state {
    family_set samples;
    bool ok = false;
    std::promise<void> done;
};

} // namespace

family_set run_collectors(const std::vector<collector>& collectors, std::chrono::milliseconds time_limit) {
    family_set out;
    family_set status;
    status.declare("tidewall_collector_success",
                   "Whether the collector gathered its section in time (1) or failed (0).", "gauge");
    status.declare("tidewall_collector_duration_seconds", "How long the collector ran.", "gauge");
    for (const auto& c : collectors) {
        auto state = std::make_shared<run_state>();
        std::future<void> finished = state->done.get_future();
        const auto started = clock::now();
        const auto deadline = started + time_limit;
        std::thread worker([state, c, deadline] {
            tidewall::host::command_deadline limit(deadline);
            try {
                state->ok = c.collect(state->samples);
            } catch (...) {
                state->ok = false;
            }
            state->done.set_value();
        });
        bool returned = finished.wait_until(deadline + kGrace) == std::future_status::ready;
        const auto ended = clock::now();
        bool in_time = returned && ended <= deadline;
        if (returned) {
            worker.join();
        } else {
            // Still blocked (not in a command: those end at the deadline). It
            // owns its state; what it adds later is never read.
            worker.detach();
        }
        bool ok = in_time && state->ok;
        if (ok) out.append(state->samples);
        double seconds = std::chrono::duration<double>(ended - started).count();
        status.gauge("tidewall_collector_success", "", {{"collector", c.name}}, ok ? 1 : 0);
        status.gauge("tidewall_collector_duration_seconds", "", {{"collector", c.name}}, seconds);
    }
    out.append(status);
    out.gauge("tidewall_last_collection_timestamp_seconds", "When this collection ended, in seconds since the epoch.",
              {}, static_cast<double>(tidewall::host::current().now()));
    return out;
}

} // namespace tidewall::metrics
