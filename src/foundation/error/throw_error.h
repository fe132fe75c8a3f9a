#ifndef TIDEWALL_FOUNDATION_ERROR_THROW_ERROR_H
#define TIDEWALL_FOUNDATION_ERROR_THROW_ERROR_H

// The one way the library throws: TsException with code -1, the message also
// kept as the thread's last error. The line is the caller's.

#include <string>

namespace tidewall {

[[noreturn]] void throw_error(const std::string& tag, const std::string& message, const std::string& source,
                              int line = __builtin_LINE());

// tw_storage's throws (source "tw_storage").
[[noreturn]] inline void throw_storage_error(const std::string& tag, const std::string& message,
                                             int line = __builtin_LINE()) {
    throw_error(tag, message, "tw_storage", line);
}

}  // namespace tidewall

#endif
