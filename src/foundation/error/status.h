#ifndef TIDEWALL_FOUNDATION_ERROR_STATUS_H
#define TIDEWALL_FOUNDATION_ERROR_STATUS_H

// The result the library's own helpers return: ok, or a code with the reason
// in words. Callers of the public classes never see it: a tw_* method turns it
// into its documented int, bool or exception with to_rc() or raise(), and
// both leave the reason as the thread's last error (tw_last_error()).

#include <string>
#include <utility>

namespace tidewall {

class status {
public:
    status() = default;
    static status ok() { return status(); }
    // code is what the boundary returns: -1, an errno value, ... never 0.
    static status failure(int code, std::string message) { return status(code == 0 ? -1 : code, std::move(message)); }

    bool is_ok() const { return code_ == 0; }
    explicit operator bool() const { return is_ok(); }
    int code() const { return code_; }
    const std::string& message() const { return message_; }

private:
    status(int code, std::string message) : code_(code), message_(std::move(message)) {}
    int code_ = 0;
    std::string message_;
};

// The calling thread's last error: the reason the latest failing tw_* call gave.
namespace last_error {
// Records the reason a call fails with; the latest recorded wins.
void set(const std::string& reason);
// A failure written to the log: kept as the reason when nothing is set with
// set(); within one call the first such failure is kept, as the later ones
// are mostly its consequences; outside any call the latest replaces all.
void note_logged(const std::string& message);
// The reason: set() first, else the failure logged.
const std::string& get();
void clear();
}  // namespace last_error

// Held by a public entry point for the length of its call: the outermost one
// clears the last error when it begins, so a reason always belongs to the
// call that failed, not to an earlier one or to a nested call's success.
// enter_call() and leave_call() are its two halves, for a scope object of a public header.
void enter_call();
void leave_call();

class call_scope {
public:
    call_scope() { enter_call(); }
    ~call_scope() { leave_call(); }
    call_scope(const call_scope&) = delete;
    call_scope& operator=(const call_scope&) = delete;
};

// The boundary: the status's code (0 when ok), its reason kept as last error.
int to_rc(const status& s);

}  // namespace tidewall

#endif
