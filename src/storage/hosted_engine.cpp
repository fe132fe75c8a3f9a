// The virtualisation hosted engine: whether it runs here, and its host name in
// the registry (sOvirtHname).

#include <tidewall/tw_storage.h>

#include "foundation/compat/ts_process.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"

int tw_storage::is_ovirt_enabled() { return probe_hosted_engine() == 1 ? 1 : 0; }

int tw_storage::probe_hosted_engine() {
    const char* tag = "tw_storage::is_ovirt_enabled";
    const std::string cmd = "/usr/sbin/hosted-engine --vm-status";
    log_.logMessage(tag, tidewall::log_level::trace, "Hosted engine status will be checked using command [%s]",
                    cmd.c_str());
    // Run through the host layer itself: a probe killed at its limit must not
    // read as "no hosted engine here".
    auto r = tidewall::host::current().run(cmd, TsProcess::kDefaultTimeLimitS);
    if (r.status != 0) {
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Failed to check hosted engine status error [%s] output [%s]", r.err.c_str(), r.out.c_str());
        return r.timed_out ? -1 : 0;
    }
    log_.logMessage(tag, tidewall::log_level::trace, "Succesfully checked hosted engine status");
    return 1;
}

int tw_storage::set_hosted_engine(std::string name) {
    const char* tag = "tw_storage::set_hosted_engine";
    int rc = tsaf_utils::set_reg_key("sOvirtHname", name);
    if (rc == 0)
        log_.logMessage(tag, tidewall::log_level::step, "Successfully set Ovirt engine in registry");
    else
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to set Ovirt engine in registry");
    return rc;
}

int tw_storage::get_hosted_engine(std::string& name) {
    const char* tag = "tw_storage::get_hosted_engine";
    int rc = tsaf_utils::get_reg_key("sOvirtHname", name);
    if (rc == 0)
        log_.logMessage(tag, tidewall::log_level::failure, "Successfully obtained hosted engine from registry as ");
    else
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to get Ovirt engine from registry");
    return rc;
}
