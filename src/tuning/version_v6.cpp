// Tuning version 6: on a Maldor node, the Maldor cluster's node list stamped
// onto every data drive.

#include "foundation/log/log_level.h"
#include "tuning/perf_params_versions.h"

#include <tidewall/tw_storage.h>

int tw_perf_params_version_v6::configure() {
    const char* tag = "tw_perf_params_version_v6::configure";
    if (tw_storage().get_sds_type() != tw_storage::SDS_MALDOR) return 0;
    int rc = stamp_maldor_xattrs();
    if (rc != 0)
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to stamp Maldor nodes as extended attributes");
    return rc;
}

int tw_perf_params_version_v6::stamp_maldor_xattrs() {
    tw_storage storage;
    return storage.stamp_maldor_xattrs() != 0 ? 1 : 0;
}
