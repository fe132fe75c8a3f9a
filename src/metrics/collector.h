#ifndef TIDEWALL_METRICS_COLLECTOR_H
#define TIDEWALL_METRICS_COLLECTOR_H

// Collectors: each gathers one section of the node's metrics from the library.
// The runner starts them all at once under one deadline for the scrape, so that
// a failing or hanging tool costs its collector (tidewall_collector_success 0),
// never the others or the scrape.

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

// Runs the collectors side by side, each on a thread of its own, under one
// deadline time_limit from the start: the commands they start are cut to the
// time left (and killed at it), and a collector still busy a grace period after
// it is abandoned. A collector that failed or missed the deadline contributes
// no samples, only its success 0 and duration; one that reported itself cut
// short (report_cut_short) within the grace keeps the samples it has, with
// success 0 and tidewall_collector_cut_short 1. Adds
// tidewall_collector_success, tidewall_collector_cut_short,
// tidewall_collector_duration_seconds and
// tidewall_last_collection_timestamp_seconds; samples keep the collectors' order.
family_set run_collectors(const std::vector<collector>& collectors, std::chrono::milliseconds time_limit);

// Called by a collector on its own thread when the deadline stopped it before
// it had all of its section: what it added is kept and marked as partial.
void report_cut_short();

// Disks whose SMART state is read at once: enough to read 60 disks well within
// a scrape, few enough not to flood a controller.
constexpr size_t kSmartReaders = 8;

// The node's collectors, in the order their samples appear.
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

}  // namespace tidewall::metrics

#endif
