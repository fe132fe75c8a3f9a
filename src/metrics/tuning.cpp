// The tuning version applied to the node and the newest this library knows.

#include "metrics/collector.h"

#include <tidewall/tw_perf_params_config.h>

namespace tidewall::metrics {

bool collect_tuning(family_set& out) {
    tw_perf_params_config config;
    unsigned long long version = 0;
    if (config.get_configured_version(version) != 0) version = 0;  // none applied yet
    out.gauge("tidewall_tuning_version", "The tuning version applied to this node (0: none).", {},
              static_cast<double>(version));
    out.gauge("tidewall_tuning_version_latest", "The newest tuning version this release knows.", {},
              static_cast<double>(tw_perf_params_config::kMaxVersion));
    return true;
}

}  // namespace tidewall::metrics
