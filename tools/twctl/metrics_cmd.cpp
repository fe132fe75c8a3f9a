// twctl metrics [--textfile DIR] [--collector-timeout SECONDS]: the node's
// state in the Prometheus text format, on standard output or written
// atomically to DIR/tidewall.prom for node_exporter's textfile collector.
// Collecting changes nothing on the node.

#include "command.h"

#include <tidewall/tw_metrics.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int usage_error(const char* why) {
    std::fprintf(stderr, "twctl metrics: %s\nusage: twctl metrics [--textfile DIR] [--collector-timeout SECONDS]\n",
                 why);
    return 2;
}

int run(const twctl::args& words) {
    std::string dir;
    unsigned limit = tw_metrics::kCollectorTimeLimitS;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "--help") {
            std::printf("usage: twctl metrics [--textfile DIR] [--collector-timeout SECONDS]\n");
            return 0;
        }
        if (w != "--textfile" && w != "--collector-timeout")
            return usage_error(("unexpected argument '" + w + "'").c_str());
        if (i + 1 == words.size()) return usage_error((w + " needs a value").c_str());
        const std::string& v = words[++i];
        if (w == "--textfile") {
            if (v.empty() || v[0] != '/') return usage_error("--textfile wants an absolute directory");
            dir = v;
        } else {
            char* end = nullptr;
            errno = 0;
            unsigned long n = std::strtoul(v.c_str(), &end, 10);
            if (v.empty() || v[0] < '0' || v[0] > '9' || *end != '\0' || errno == ERANGE || n == 0 || n > 3600)
                return usage_error("--collector-timeout wants a whole number of seconds from 1 to 3600");
            limit = static_cast<unsigned>(n);
        }
    }
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

const twctl::registrar reg({"metrics",
                            "  metrics [--textfile DIR]   node state for Prometheus (stdout, or DIR/tidewall.prom)\n",
                            run});

} // namespace
