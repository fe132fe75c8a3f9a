#include "metrics/collector.h"

#include "foundation/host/command_deadline.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"
#include "gluster/glfs_xml.h"

#include <tidewall/tw_debug.h>

#include <future>
#include <memory>
#include <thread>

namespace tidewall::metrics {

namespace {

using clock = std::chrono::steady_clock;

// Past the deadline a collector still gets this long to return what it has
// (its killed commands report back); after that it is abandoned.
constexpr std::chrono::milliseconds kGrace{2000};

// How often a wait for a collector looks at the clock again.
constexpr std::chrono::milliseconds kWaitSlice{20};

thread_local bool cut_short_here = false;

struct run_state {
    family_set samples;
    bool ok = false;
    bool cut_short = false;
    std::string error;  // what the collector threw
    clock::time_point ended;
    std::promise<void> done;
};

// Waits for finished until the backend's steady clock reaches until; true when
// it came. The wait itself is real (the collectors are real threads); the clock
// it is measured on is the backend's, so that a fake one decides what is late.
bool returned_by(std::future<void>& finished, clock::time_point until) {
    for (;;) {
        const auto left = until - tidewall::host::steady_now();
        if (left <= clock::duration::zero())
            return finished.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
        const auto slice = left < kWaitSlice ? std::chrono::ceil<std::chrono::milliseconds>(left) : kWaitSlice;
        if (finished.wait_for(slice) == std::future_status::ready) return true;
    }
}

}  // namespace

void report_cut_short() { cut_short_here = true; }

family_set run_collectors(const std::vector<collector>& collectors, std::chrono::milliseconds time_limit) {
    tw_debug log;
    family_set out;
    family_set status;
    status.declare("tidewall_collector_success",
                   "Whether the collector gathered its section in time (1) or failed (0).", "gauge");
    status.declare("tidewall_collector_duration_seconds", "How long the collector ran.", "gauge");
    const auto started = tidewall::host::steady_now();
    const auto deadline = started + time_limit;
    // One scrape asks gluster each question once, whichever collectors ask it.
    const auto gluster_answers = std::make_shared<tidewall::glfs_xml::answers>();

    struct running {
        std::shared_ptr<run_state> state;
        std::future<void> finished;
        std::thread worker;
    };
    std::vector<running> all;
    all.reserve(collectors.size());
    for (const auto& c : collectors) {
        auto state = std::make_shared<run_state>();
        std::future<void> finished = state->done.get_future();
        std::thread worker([state, c, deadline, gluster_answers] {
            tidewall::host::command_deadline limit(deadline);
            tidewall::glfs_xml::query_pass pass(gluster_answers);
            cut_short_here = false;
            try {
                state->ok = c.collect(state->samples);
            } catch (const std::exception& e) {
                state->ok = false;
                state->error = e.what();
            } catch (...) {
                // Escaping this thread would end the whole scrape.
                state->ok = false;
                state->error = "an exception of unknown type";
            }
            state->cut_short = cut_short_here;
            state->ended = tidewall::host::steady_now();
            state->done.set_value();
        });
        all.push_back({state, std::move(finished), std::move(worker)});
    }

    for (size_t i = 0; i < all.size(); ++i) {
        auto& r = all[i];
        bool returned = returned_by(r.finished, deadline + kGrace);
        if (returned) {
            r.worker.join();
        } else {
            // Still blocked (not in a command: those end at the deadline). It
            // owns its state; what it adds later is never read.
            r.worker.detach();
        }
        const auto ended = returned ? r.state->ended : tidewall::host::steady_now();
        const bool in_time = returned && ended <= deadline;
        const bool partial = returned && r.state->ok && r.state->cut_short;
        const bool ok = in_time && r.state->ok && !r.state->cut_short;
        if (ok || partial) out.append(r.state->samples);
        double seconds = std::chrono::duration<double>(ended - started).count();
        const std::string& name = collectors[i].name;
        if (returned && !r.state->error.empty())
            log.logMessage("tidewall::metrics::run_collectors", tidewall::log_level::failure,
                           "Collector [%s] failed: %s", name.c_str(), r.state->error.c_str());
        status.gauge("tidewall_collector_success", "", {{"collector", name}}, ok ? 1 : 0);
        status.gauge("tidewall_collector_cut_short",
                     "Whether the collector reached the scrape's deadline and reports only part of its section (1).",
                     {{"collector", name}}, partial ? 1 : 0);
        status.gauge("tidewall_collector_duration_seconds", "", {{"collector", name}}, seconds);
    }
    out.append(status);
    out.gauge("tidewall_last_collection_timestamp_seconds", "When this collection ended, in seconds since the epoch.",
              {}, static_cast<double>(tidewall::host::current().now()));
    return out;
}

}  // namespace tidewall::metrics
