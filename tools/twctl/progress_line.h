#ifndef TWCTL_PROGRESS_LINE_H
#define TWCTL_PROGRESS_LINE_H

// One line of progress for long work, redrawn in place on a terminal: what is
// done out of the total, the rate in MiB/s and the time left. Nothing at all is
// drawn when standard output is not a terminal (or the caller turns it off, as
// for --json), so scripts and logs see only the result lines.

#include <chrono>
#include <string>

namespace twctl {

class progress_line {
public:
    // Draws only when enabled and standard output is a terminal.
    explicit progress_line(bool enabled = true);
    ~progress_line();

    // done and total in units (entries, reads, disks); mib is how much data
    // the done units stand for, for the rate and the time left. Work shorter
    // than a redraw interval draws nothing, unless now asks for the line at
    // once (before a step that gives no progress of its own).
    void update(const std::string& label, unsigned long long done, unsigned long long total, double mib_done,
                const char* unit, bool now = false);
    // Starts the clock again, for a second pass over the same data.
    void restart();
    // Removes the line, so that the next output starts on a clean one.
    void clear();

private:
    bool on_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_draw_{};
};

// The text of the line (without the return and erase codes), from the amounts
// and the seconds since the work started.
std::string progress_text(const std::string& label, unsigned long long done, unsigned long long total, double mib_done,
                          const char* unit, double seconds);

}  // namespace twctl

#endif
