#include <tidewall/tw_debug.h>

#include "foundation/error/status.h"

#include <cstdarg>
#include <cstdio>

const std::string tw_debug::sLogFileName = "TSTidewall";

namespace {
constexpr unsigned kModuleId = 0x413FF766;
}

tw_debug::tw_debug() : backend_(nullptr), file_instance_() { init(); }

// A copy shares nothing with its source: it is a freshly initialised logger.
tw_debug::tw_debug(const tw_debug&) : backend_(nullptr), file_instance_() { init(); }

tw_debug& tw_debug::operator=(const tw_debug&) {
    init();
    return *this;
}

tw_debug::~tw_debug() = default;

void tw_debug::init() {
    backend_.initialize(&file_instance_, kModuleId, 0, false, "");
    backend_.setLogFileSize(10);
    backend_.setMaxVersion(10);
}

int tw_debug::getDebugLevel() const { return backend_.getDebugLevel(); }

void tw_debug::forward(int level, const char* tag, unsigned extra32, long long extra64, const char* fmt, va_list args) {
    if (level == -1 && fmt) {
        // A failure is a reason a caller may want: formatted whatever the log level.
        char text[512];
        va_list copy;
        va_copy(copy, args);
        std::vsnprintf(text, sizeof text, fmt, copy);
        va_end(copy);
        tidewall::last_error::note_logged(text);
    }
    backend_.handleMsgEventDebug_NEW(level, tag, extra32, -1, extra64, nullptr, fmt, args);
}

#define TW_FORWARD(level, tag, a, v)                                                                                   \
    va_list args;                                                                                                      \
    va_start(args, fmt);                                                                                               \
    forward(level, tag, a, v, fmt, args);                                                                              \
    va_end(args)

void tw_debug::logMessage(int level, const char* fmt, ...) { TW_FORWARD(level, nullptr, 0, 0); }
void tw_debug::logMessage(int level, unsigned long v, const char* fmt, ...) {
    TW_FORWARD(level, nullptr, 0, static_cast<long long>(v));
}
void tw_debug::logMessage(int a, int level, unsigned long v, const char* fmt, ...) {
    TW_FORWARD(level, nullptr, static_cast<unsigned>(a), static_cast<long long>(v));
}
void tw_debug::logMessage(const char* tag, int level, const char* fmt, ...) { TW_FORWARD(level, tag, 0, 0); }
void tw_debug::logMessage(const char* tag, int level, unsigned long v, const char* fmt, ...) {
    TW_FORWARD(level, tag, 0, static_cast<long long>(v));
}
void tw_debug::logMessage(const char* tag, int a, int level, unsigned long v, const char* fmt, ...) {
    TW_FORWARD(level, tag, static_cast<unsigned>(a), static_cast<long long>(v));
}
void tw_debug::logError(const char* tag, const char* fmt, ...) { TW_FORWARD(-1, tag, 0, 0); }
void tw_debug::logError(const char* tag, unsigned long v, const char* fmt, ...) {
    TW_FORWARD(-1, tag, 0, static_cast<long long>(v));
}
void tw_debug::logError(const char* tag, int a, unsigned long v, const char* fmt, ...) {
    TW_FORWARD(-1, tag, static_cast<unsigned>(a), static_cast<long long>(v));
}
