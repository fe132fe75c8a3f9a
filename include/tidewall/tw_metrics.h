#ifndef TIDEWALL_TW_METRICS_H
#define TIDEWALL_TW_METRICS_H

// The node's state for Prometheus, in the text exposition format 0.0.4:
// identity, hardware health, SMART, mounts and stamps, the metadata volume
// group, gluster volumes, crash dumps and the tuning version. The sections are
// gathered side by side by collectors under one deadline for the whole
// collection; one that fails or hangs reports tidewall_collector_success 0
// and never stops the others.
// Collecting changes nothing on the node: no registry key, no monitor time, no
// saved volume size is written.

#include <tidewall/export.h>

#include <string>

class TW_API tw_metrics {
public:
    // Deadline of a whole collection by default: well below the one-minute
    // refresh of the metrics timer, so that one refresh ends before the next.
    static constexpr unsigned kCollectorTimeLimitS = 30;
    // The file name node_exporter's textfile collector reads in its directory.
    static constexpr const char* kTextfileName = "tidewall.prom";

    // Every section, all within collector_time_limit_s seconds.
    static std::string collect(unsigned collector_time_limit_s = kCollectorTimeLimitS);
    // The same, but never two at a time on the node (the lock "metrics" in
    // /run/tidewall, not waited for): false, and in message why, such as
    // "another metrics collection is running (pid 123)", when it cannot run.
    static bool collect_alone(std::string& text, std::string& message,
                              unsigned collector_time_limit_s = kCollectorTimeLimitS);
    // Writes text to dir/tidewall.prom atomically (a temporary file in dir,
    // renamed over it), mode 0644; 0 or an errno value.
    static int write_textfile(const std::string& dir, const std::string& text);
};

#endif
