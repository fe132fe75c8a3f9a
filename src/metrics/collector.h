#ifndef TIDEWALL_METRICS_COLLECTOR_H
#define TIDEWALL_METRICS_COLLECTOR_H

// Collectors: each gathers one section of the node's metrics from the library.
// The runner gives every collector a deadline of its own, so that a failing or
// hanging tool costs its collector (tidewall_collector_success 0), never the
// others or the scrape.

#include "metrics/exposition.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tidewall::metrics {

struct collector {
    std::string name;
    // Adds the section's samples; false (or an exception) when it could not.
    std::function<bool(family_set&)> collect;
};

// Runs the collectors one after the other, each on a thread of its own under
// a deadline of time_limit: the commands it starts are cut to the time left
// (and killed at it), and a collector still busy a grace period after it is
// abandoned. A collector that failed or missed its deadline contributes no
// samples, only its success 0 and duration. Adds tidewall_collector_success,
// tidewall_collector_duration_seconds and
// tidewall_last_collection_timestamp_seconds.
family_set run_collectors(const std::vector<collector>& collectors, std::chrono::milliseconds time_limit);

// The node's collectors, in the order they are run.
std::vector<collector> node_collectors();

// --- the collectors (one file each) ---
bool collect_node_identity(family_set& out);
bool collect_power_supplies(family_set& out);
bool collect_fans(family_set& out);
bool collect_processors(family_set& out);
bool collect_memory(family_set& out);
bool collect_smart(family_set& out);
bool collect_drives(family_set& out);
bool collect_mounts(family_set& out);
bool collect_metadata_vg(family_set& out);
bool collect_gluster(family_set& out);
bool collect_crash_dumps(family_set& out);
bool collect_tuning(family_set& out);

} // namespace tidewall::metrics

#endif
