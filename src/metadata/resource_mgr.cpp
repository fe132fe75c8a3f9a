// The metadata storage resource manager: strings the storage configuration,
// the LVM manager and the file-system manager together to build a node's
// metadata storage from a layout document or tear an earlier one down, and
// keeps the registry values that let a later run find what an earlier one
// built. Here: its life and how its operations record failures; configure,
// the clean-up of a failed build, teardown and the registry record each have
// a file of their own.

#include <tidewall/tw_resource_mgr.h>

#include "foundation/error/status.h"
#include "foundation/log/log_level.h"
#include "metadata/failure_record.h"
#include "metadata/resource_mgr_internal.h"

#include <cstdarg>

namespace tidewall::metadata {

namespace {

void record(tw_debug& log, std::list<std::string>& failures, const char* tag, const char* fmt, ...) TW_PRINTF(4);

void record(tw_debug& log, std::list<std::string>& failures, const char* tag, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    record_failure(log, failures, tag, fmt, args);
    va_end(args);
}

}  // namespace

int inner_step_failed(tw_debug& log, std::list<std::string>& failures, const std::list<std::string>& inner,
                      const char* tag, const char* message, int rc) {
    failures.insert(failures.end(), inner.begin(), inner.end());
    record(log, failures, tag, "%s", message);
    return rc;
}

}  // namespace tidewall::metadata

tw_resource_mgr::operation::operation(tw_resource_mgr& m) : mgr(m) {
    tidewall::enter_call();
    if (mgr.depth_++ == 0) mgr.failures_.clear();
}

tw_resource_mgr::operation::~operation() {
    --mgr.depth_;
    tidewall::leave_call();
}

tw_resource_mgr::tw_resource_mgr() {
    log_.logMessage("tw_resource_mgr::tw_resource_mgr", tidewall::log_level::trace,
                    "Creating tw_resource_mgr instance");
}

tw_resource_mgr::~tw_resource_mgr() {
    log_.logMessage("tw_resource_mgr::~tw_resource_mgr", tidewall::log_level::trace,
                    "Cleaning tw_resource_mgr instance");
}

void tw_resource_mgr::fail(const char* tag, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    tidewall::metadata::record_failure(log_, failures_, tag, fmt, args);
    va_end(args);
}

// No longer called here (inner_step_failed takes the inner failures), but the
// library exports it: it stays.
void tw_resource_mgr::take_failures(const std::list<std::string>& inner) {
    failures_.insert(failures_.end(), inner.begin(), inner.end());
}
