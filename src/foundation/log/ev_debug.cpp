#include <tidewall/ev_debug.h>

#include "foundation/host/host_backend.h"

#include <cstdio>
#include <vector>

EvDebugFileInstance::EvDebugFileInstance() : name_("TSTidewall") {}

EvDebug::EvDebug(EvDebugFileInstance* file_instance) : file_instance_(file_instance) {}

void EvDebug::initialize(EvDebugFileInstance* file_instance, unsigned module_id, long long, bool, const char*) {
    file_instance_ = file_instance;
    module_id_ = module_id;
    debug_level_ = tidewall::host::current().debug_level();
}

void EvDebug::setLogFileSize(int size) { log_file_size_ = size; }

void EvDebug::setMaxVersion(int versions) { max_version_ = versions; }

int EvDebug::getDebugLevel() const { return debug_level_; }

void EvDebug::handleMsgEventDebug_NEW(int level, const char* tag, unsigned, int, long long, void*, const char* format,
                                      va_list args) {
    if (level > debug_level_ || !format) return;
    char small[1024];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return;
    std::string text;
    if (static_cast<size_t>(n) < sizeof small) {
        text.assign(small, static_cast<size_t>(n));
    } else {
        std::vector<char> big(static_cast<size_t>(n) + 1);
        std::vsnprintf(big.data(), big.size(), format, args);
        text.assign(big.data(), static_cast<size_t>(n));
    }
    tidewall::host::current().log(level, tag, text, log_file_size_, max_version_);
}
