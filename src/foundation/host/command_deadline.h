#ifndef TIDEWALL_FOUNDATION_COMMAND_DEADLINE_H
#define TIDEWALL_FOUNDATION_COMMAND_DEADLINE_H

// A deadline for the commands one thread runs. While a command_deadline lives,
// every command the thread starts gets at most the time left before it (a
// hanging tool is killed at the deadline, not at its own, longer limit), and
// none starts once it has passed. Used where a caller must answer in time
// whatever the tools do (the metrics collectors).

#include <chrono>
#include <optional>

namespace tidewall::host {

class command_deadline {
public:
    explicit command_deadline(std::chrono::steady_clock::time_point at);
    ~command_deadline();
    command_deadline(const command_deadline&) = delete;
    command_deadline& operator=(const command_deadline&) = delete;

private:
    bool had_outer_;
    std::chrono::steady_clock::time_point outer_;
};

// The time limit, in whole seconds (at least 1), a command started now may
// have: time_limit_s (0 = none) cut to the calling thread's deadline. -1 when
// the deadline has passed and the command must not start.
int time_limit_within_deadline(int time_limit_s);

// The calling thread's deadline, if any: for handing it on to helper threads.
std::optional<std::chrono::steady_clock::time_point> thread_deadline();

}  // namespace tidewall::host

#endif
