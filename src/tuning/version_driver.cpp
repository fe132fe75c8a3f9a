// The tuning version driver: which version the node has, and applying the later
// ones in order, recording each success at once.

#include <tidewall/tw_perf_params_config.h>

#include "foundation/ts_platform_info.h"

namespace {

const char* const kSection = "Dockwright";

} // namespace

tw_perf_params_config::tw_perf_params_config() {
    log_.logMessage("tw_perf_params_config::tw_perf_params_config", 2, "Creating tw_perf_params_config instance");
}

tw_perf_params_config::~tw_perf_params_config() {
    log_.logMessage("tw_perf_params_config::~tw_perf_params_config", 2, "Cleaning tw_perf_params_config instance");
}

int tw_perf_params_config::get_configured_version(unsigned long long& version) {
    const char* tag = "tw_perf_params_config::get_configured_version";
    if (TSPlatformInfo::getLongLong(kSection, kVersionKey, &version) == 0) {
        log_.logMessage(tag, -1, "reading reg key failed for [%s]", kVersionKey);
        return 1;
    }
    log_.logMessage(tag, 0, "reg key [%s] = [%llu]", kVersionKey, version);
    return 0;
}

int tw_perf_params_config::set_configured_version(unsigned long long& version) {
    const char* tag = "tw_perf_params_config::set_configured_version";
    if (TSPlatformInfo::setLongLong(kSection, kVersionKey, version) == 0) {
        log_.logMessage(tag, -1, "writing reg key failed for [%s]", kVersionKey);
        return 1;
    }
    log_.logMessage(tag, 0, "reg key [%s] = [%llu]", kVersionKey, version);
    return 0;
}
