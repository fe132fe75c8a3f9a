#include <tidewall/tw_metrics.h>

#include <cerrno>

#include "foundation/fs/file_io.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/host_backend.h"
#include "metrics/collector.h"

namespace tidewall::metrics {

std::vector<collector> node_collectors() {
    return {
        {"node", collect_node_identity},
        {"power_supplies", collect_power_supplies},
        {"fans", collect_fans},
        {"processors", collect_processors},
        {"memory", collect_memory},
        {"smart", collect_smart},
        {"drives", collect_drives},
        {"mounts", collect_mounts},
        {"metadata_vg", collect_metadata_vg},
        {"gluster", collect_gluster},
        {"crash_dumps", collect_crash_dumps},
        {"tuning", collect_tuning},
    };
}

}  // namespace tidewall::metrics

std::string tw_metrics::collect(unsigned collector_time_limit_s) {
    using namespace tidewall::metrics;
    auto limit = std::chrono::seconds(collector_time_limit_s == 0 ? kCollectorTimeLimitS : collector_time_limit_s);
    return render(run_collectors(node_collectors(), limit).families());
}

int tw_metrics::write_textfile(const std::string& dir, const std::string& text) {
    return tidewall::file_io::write_atomic(tidewall::host::path(dir + "/" + kTextfileName), text, 0644);
}

bool tw_metrics::collect_alone(std::string& text, std::string& message, unsigned collector_time_limit_s) {
    // Two collections at once would double the load on every disk and on
    // glusterd, and each would report the other's slowness.
    tidewall::locks::held_lock lock("metrics", 0);
    if (!lock.held()) {
        message = lock.error() == EWOULDBLOCK
                      ? "another metrics collection is running" +
                            (lock.holder() > 0 ? " (pid " + std::to_string(lock.holder()) + ")" : std::string())
                      : "cannot take the metrics lock: " + lock.why();
        return false;
    }
    text = collect(collector_time_limit_s);
    return true;
}
