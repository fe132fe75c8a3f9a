#ifndef TIDEWALL_TW_METRICS_H
#define TIDEWALL_TW_METRICS_H

// The node's state for Prometheus, in the text exposition format 0.0.4:
// identity, hardware health, SMART, mounts and stamps, the metadata volume
// group, gluster volumes, crash dumps and the tuning version. Each section is
// gathered by a collector under a time limit of its own; one that fails or
// hangs reports tidewall_collector_success 0 and never stops the others.
// Collecting changes nothing on the node: no registry key, no monitor time, no
// saved volume size is written.

#include <tidewall/export.h>

#include <string>

class TW_API tw_metrics {
public:
    // Time each collector gets by default.
    static constexpr unsigned kCollectorTimeLimitS = 30;
    // The file name node_exporter's textfile collector reads in its directory.
    static constexpr const char* kTextfileName = "tidewall.prom";

    // Every section, each under collector_time_limit_s seconds.
    static std::string collect(unsigned collector_time_limit_s = kCollectorTimeLimitS);
    // Writes text to dir/tidewall.prom atomically (a temporary file in dir,
    // renamed over it), mode 0644; 0 or an errno value.
    static int write_textfile(const std::string& dir, const std::string& text);
};

#endif
