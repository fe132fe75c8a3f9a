#ifndef TIDEWALL_EV_DEBUG_H
#define TIDEWALL_EV_DEBUG_H

#include <tidewall/export.h>

#include <cstdarg>
#include <string>

// The log back end behind tw_debug. Messages at a level above the configured
// debug level are dropped; the rest go to the product log of the host layer.
// Writing the log never fails towards the caller.

// Per-log-file record handed to the back end.
class TW_API EvDebugFileInstance {
public:
    EvDebugFileInstance();
    const std::string& name() const { return name_; }

private:
    std::string name_;
};

class TW_API EvDebug {
public:
    explicit EvDebug(EvDebugFileInstance* file_instance);

    void initialize(EvDebugFileInstance* file_instance, unsigned module_id, long long arg64, bool flag,
                    const char* text);
    void setLogFileSize(int size);
    void setMaxVersion(int versions);
    int getDebugLevel() const;

    void handleMsgEventDebug_NEW(int level, const char* tag, unsigned extra32, int always_minus_one, long long extra64,
                                 void* always_null, const char* format, va_list args);

    unsigned moduleId() const { return module_id_; }
    int logFileSize() const { return log_file_size_; }
    int maxVersion() const { return max_version_; }
    EvDebugFileInstance* fileInstance() const { return file_instance_; }

private:
    EvDebugFileInstance* file_instance_;
    unsigned module_id_ = 0;
    int debug_level_ = 1;
    int log_file_size_ = 0;
    int max_version_ = 0;
};

#endif
