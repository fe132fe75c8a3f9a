// The tuning version driver: which version the node has, and applying the later
// ones in order, recording each success at once.

#include <tidewall/tw_perf_params_config.h>

#include "foundation/compat/ts_platform_info.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/status.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"
#include "tuning/perf_params_versions.h"

#include <cerrno>
#include <cstring>

namespace {

const char* const kSection = "Dockwright";

}  // namespace

tw_perf_params_config::tw_perf_params_config() {
    log_.logMessage("tw_perf_params_config::tw_perf_params_config", tidewall::log_level::trace,
                    "Creating tw_perf_params_config instance");
}

tw_perf_params_config::~tw_perf_params_config() {
    log_.logMessage("tw_perf_params_config::~tw_perf_params_config", tidewall::log_level::trace,
                    "Cleaning tw_perf_params_config instance");
}

int tw_perf_params_config::configure() {
    std::string failure;
    return configure(failure);
}

int tw_perf_params_config::configure(std::string& failure) {
    unsigned long long first = 0, last = 0;
    return configure(failure, first, last);
}

int tw_perf_params_config::configure(std::string& failure, unsigned long long& first_applied,
                                     unsigned long long& last_applied) {
    first_applied = last_applied = 0;
    tidewall::call_scope scope;  // the reason of a failure is this call's
    const char* tag = "tw_perf_params_config::configure";
    failure.clear();
    // Two overlapping runs (the node service and an operator's twctl) would
    // apply the same version twice at once and lose each other's file edits.
    tidewall::locks::operation_lock lock(tidewall::locks::operation::tuning);
    if (!lock.held()) {
        failure = lock.message();
        log_.logMessage(tag, tidewall::log_level::failure, "%s", failure.c_str());
        return 1;
    }

    unsigned long long version = 0;
    get_configured_version(version);  // a key that cannot be read leaves 0: every version runs
    if (version > kMaxVersion) {
        log_.logMessage(tag, tidewall::log_level::step, "configured version [%llu], supported max version [%llu]",
                        version, kMaxVersion);
        return 0;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Configured version [%llu] Supported version [%llu]", version,
                    kMaxVersion);
    while (version < kMaxVersion) {
        int rc = run_version(version + 1);
        if (rc != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "configuring perf params version V%llu failed",
                            version + 1);
            return rc;
        }
        unsigned long long applied = version + 1;
        // A version applied but not recorded is applied again by every later
        // run: the run stops here and says so, rather than going on as if
        // the node had moved up.
        errno = 0;
        if (set_configured_version(applied) != 0) {
            int e = errno;
            failure = "version " + std::to_string(applied) + " applied but not recorded: " +
                      (e != 0 ? std::string(std::strerror(e)) : std::string("the registry refused the write")) +
                      "; the node stays at version " + std::to_string(version);
            log_.logMessage(tag, tidewall::log_level::failure, "%s", failure.c_str());
            return 1;
        }
        version = applied;
        if (first_applied == 0) first_applied = applied;
        last_applied = applied;
    }
    return 0;
}

int tw_perf_params_config::run_version(unsigned long long version) {
    switch (version) {
    case 1: return tw_perf_params_version_v1().configure();
    case 2: return tw_perf_params_version_v2().configure();
    case 3: return tw_perf_params_version_v3().configure();
    case 4: return tw_perf_params_version_v4().configure();
    case 5: return tw_perf_params_version_v5().configure();
    case 6: return tw_perf_params_version_v6().configure();
    case 7: return tw_perf_params_version_v7().configure();
    default: return 1;
    }
}

int tw_perf_params_config::get_configured_version(unsigned long long& version) {
    const char* tag = "tw_perf_params_config::get_configured_version";
    if (TSPlatformInfo::getLongLong(kSection, kVersionKey, &version) == 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "reading reg key failed for [%s]", kVersionKey);
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "reg key [%s] = [%llu]", kVersionKey, version);
    return 0;
}

int tw_perf_params_config::set_configured_version(unsigned long long& version) {
    const char* tag = "tw_perf_params_config::set_configured_version";
    if (TSPlatformInfo::setLongLong(kSection, kVersionKey, version) == 0) {
        int why = errno;  // for the caller's message: logging may change it
        log_.logMessage(tag, tidewall::log_level::failure, "writing reg key failed for [%s]", kVersionKey);
        errno = why;
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "reg key [%s] = [%llu]", kVersionKey, version);
    return 0;
}
