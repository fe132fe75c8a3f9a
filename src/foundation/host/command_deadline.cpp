#include "foundation/host/command_deadline.h"

#include "foundation/host/host_backend.h"

#include <optional>

namespace tidewall::host {

namespace {
using clock = std::chrono::steady_clock;
thread_local std::optional<clock::time_point> deadline;
}  // namespace

command_deadline::command_deadline(clock::time_point at) : had_outer_(deadline.has_value()) {
    if (had_outer_) outer_ = *deadline;
    // An inner deadline never extends an outer one.
    deadline = had_outer_ && outer_ < at ? outer_ : at;
}

command_deadline::~command_deadline() {
    if (had_outer_)
        deadline = outer_;
    else
        deadline.reset();
}

std::optional<clock::time_point> thread_deadline() { return deadline; }

int time_limit_within_deadline(int time_limit_s) {
    if (!deadline) return time_limit_s;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - steady_now()).count();
    if (left <= 0) return -1;
    long long seconds = (left + 999) / 1000;
    if (time_limit_s > 0 && time_limit_s < seconds) return time_limit_s;
    return static_cast<int>(seconds);
}

}  // namespace tidewall::host
