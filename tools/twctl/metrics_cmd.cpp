// twctl metrics [--textfile DIR] [--collector-timeout SECONDS]: the node's
// state in the Prometheus text format, on standard output or written
// atomically to DIR/tidewall.prom for node_exporter's textfile collector.
// Collecting changes nothing on the node.

#include "cli.h"

#include <tidewall/tw_metrics.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int metrics(const std::string& dir, unsigned limit) {
    std::string text, busy;
    if (!tw_metrics::collect_alone(text, busy, limit)) {
        std::fprintf(stderr, "twctl metrics: %s\n", busy.c_str());
        return 1;
    }
    if (dir.empty()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    int rc = tw_metrics::write_textfile(dir, text);
    if (rc != 0) {
        std::fprintf(stderr, "twctl metrics: cannot write %s/%s: %s\n", dir.c_str(), tw_metrics::kTextfileName,
                     std::strerror(rc));
        return 1;
    }
    return 0;
}

}  // namespace

void twctl::add_metrics_commands(CLI::App& root) {
    static std::string dir;
    static unsigned limit = tw_metrics::kCollectorTimeLimitS;
    CLI::App* cmd = add_command(root, "metrics", "node state for Prometheus (stdout, or DIR/tidewall.prom)",
                                [] { return metrics(dir, limit); });
    cmd->add_option("--textfile", dir, "write DIR/tidewall.prom atomically for node_exporter")
        ->type_name("DIR")
        ->check([](const std::string& v) { return !v.empty() && v[0] == '/' ? "" : "wants an absolute directory"; });
    cmd->add_option("--collector-timeout", limit, "seconds the whole collection gets (default 30)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1u, 3600u));
}
