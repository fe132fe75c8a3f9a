#include "foundation/error/status.h"

#include <tidewall/tw_log.h>

namespace tidewall {

namespace {
struct thread_error {
    unsigned depth = 0;  // call_scopes open on this thread
    std::string reason;  // set(): the reason a call gave
    std::string logged;  // note_logged(): the failure the log shows
};
thread_local thread_error t_error;
const std::string kNone;
}  // namespace

void last_error::set(const std::string& reason) {
    if (!reason.empty()) t_error.reason = reason;
}

void last_error::note_logged(const std::string& message) {
    const size_t end = message.find_last_not_of(" \t\r\n");
    if (end == std::string::npos) return;
    if (t_error.depth > 0) {
        if (t_error.logged.empty()) t_error.logged = message.substr(0, end + 1);
        return;
    }
    // Outside any call there is no cause to keep: the latest failure is the news.
    t_error.reason.clear();
    t_error.logged = message.substr(0, end + 1);
}

const std::string& last_error::get() {
    if (!t_error.reason.empty()) return t_error.reason;
    return t_error.logged.empty() ? kNone : t_error.logged;
}

void last_error::clear() {
    t_error.reason.clear();
    t_error.logged.clear();
}

void enter_call() {
    if (t_error.depth++ == 0) last_error::clear();
}

void leave_call() { --t_error.depth; }

int to_rc(const status& s) {
    if (s.is_ok()) return 0;
    last_error::set(s.message());
    return s.code();
}

}  // namespace tidewall

std::string tw_last_error() { return tidewall::last_error::get(); }
