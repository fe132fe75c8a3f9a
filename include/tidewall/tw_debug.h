#ifndef TIDEWALL_TW_DEBUG_H
#define TIDEWALL_TW_DEBUG_H

#include <tidewall/ev_debug.h>
#include <tidewall/export.h>

#include <string>

#define TW_PRINTF(fmt_index) __attribute__((format(printf, fmt_index, fmt_index + 1)))

// The logger every manager object holds by value. It fixes the back end's
// settings once and forwards printf-style messages with a level and a tag.
// Levels: -1 failures, 0 main steps, 1 details, 2 tracing, 3 tool output dumps.
class TW_API tw_debug {
public:
    static const std::string sLogFileName;

    tw_debug();
    tw_debug(const tw_debug& other);
    tw_debug& operator=(const tw_debug& other);
    ~tw_debug();

    void init();
    int getDebugLevel() const;

    void logMessage(int level, const char* fmt, ...) TW_PRINTF(3);
    void logMessage(int level, unsigned long v, const char* fmt, ...) TW_PRINTF(4);
    void logMessage(int a, int level, unsigned long v, const char* fmt, ...) TW_PRINTF(5);
    void logMessage(const char* tag, int level, const char* fmt, ...) TW_PRINTF(4);
    void logMessage(const char* tag, int level, unsigned long v, const char* fmt, ...) TW_PRINTF(5);
    void logMessage(const char* tag, int a, int level, unsigned long v, const char* fmt, ...) TW_PRINTF(6);
    void logError(const char* tag, const char* fmt, ...) TW_PRINTF(3);
    void logError(const char* tag, unsigned long v, const char* fmt, ...) TW_PRINTF(4);
    void logError(const char* tag, int a, unsigned long v, const char* fmt, ...) TW_PRINTF(5);

    // The back end, for callers that check its settings.
    const EvDebug& backend() const { return backend_; }

private:
    void forward(int level, const char* tag, unsigned extra32, long long extra64, const char* fmt, va_list args);

    // Declaration order matters: the back end is built first and destroyed last.
    EvDebug backend_;
    EvDebugFileInstance file_instance_;
};

#endif
