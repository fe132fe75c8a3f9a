// Crash dumps waiting in the locations the crash-dump pruner walks: how many
// files and how many bytes, per location.

#include "metrics/collector.h"

#include <tidewall/tw_prune.h>

#include "foundation/host/host_backend.h"

#include <filesystem>
#include <set>

namespace tidewall::metrics {

bool collect_crash_dumps(family_set& out) {
    namespace fs = std::filesystem;
    // The pruner's locations, without its run's log lines.
    std::set<std::string> locations = {"/var/crash", "/var/log/core"};
    tw_prune pruner;
    std::string kdump;
    if (pruner.get_kernel_crashdump_loc(kdump) == 0 && !kdump.empty() && kdump[0] == '/') {
        while (kdump.size() > 1 && kdump.back() == '/') kdump.pop_back();
        locations.insert(kdump);
    }
    for (const auto& location : locations) {
        std::error_code ec;
        const fs::path root = tidewall::host::path(location);
        if (!fs::is_directory(root, ec)) continue;  // nothing dumped there yet
        double files = 0, bytes = 0;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            // Links are not followed: they are no dumps of this node.
            if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
            files += 1;
            bytes += static_cast<double>(it->file_size(ec));
        }
        out.gauge("tidewall_crash_dumps", "Files in the crash-dump location.", {{"path", location}}, files);
        out.gauge("tidewall_crash_dump_bytes", "Bytes of the files in the crash-dump location.", {{"path", location}},
                  bytes);
    }
    return true;
}

}  // namespace tidewall::metrics
