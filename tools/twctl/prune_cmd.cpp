// twctl prune [--json]: one crash-dump pruning run, as the node's services run it.

#include "command.h"
#include "json_out.h"

#include <tidewall/tw_prune.h>

#include <cstdio>

namespace {

int run(const twctl::args& in) {
    twctl::args words = in;
    if (!words.empty() && words[0] == "--help") {
        std::printf("usage: twctl prune [--json]\n");
        return 0;
    }
    bool json = twctl::take_flag(words, "--json");
    if (!words.empty()) {
        std::fprintf(stderr, "twctl prune: unexpected argument '%s'\n", words[0].c_str());
        return 2;
    }
    tw_prune pruner;
    if (pruner.prune_crash_dumps() != 0) {
        // Another pruning held the node: nothing was done, and saying "removed 0"
        // would read as a clean run.
        std::fprintf(stderr, "twctl prune: %s\n", pruner.error_message().c_str());
        return 1;
    }
    // A directory that still holds a younger dump is kept and counted as failed:
    // only files that could not be removed fail the command.
    int status = pruner.failed_files() ? 1 : 0;
    if (json) {
        std::printf("{\n  \"locations\": [");
        bool first = true;
        for (const auto& [path, dirs] : pruner.locations()) {
            std::printf("%s{\"path\": %s, \"remove_emptied_dirs\": %s}", first ? "" : ", ",
                        twctl::json_string(path).c_str(), dirs ? "true" : "false");
            first = false;
        }
        std::printf("],\n  \"removed_files\": %u,\n  \"failed_files\": %u,\n  \"removed_dirs\": %u,\n"
                    "  \"failed_dirs\": %u\n}\n",
                    pruner.removed_files(), pruner.failed_files(), pruner.removed_dirs(), pruner.failed_dirs());
        return status;
    }
    for (const auto& [path, dirs] : pruner.locations())
        std::printf("walked %s%s\n", path.c_str(), dirs ? " (emptied directories removed)" : " (directories kept)");
    std::printf("removed %u dump files (%u could not be removed), %u directories (%u kept)\n", pruner.removed_files(),
                pruner.failed_files(), pruner.removed_dirs(), pruner.failed_dirs());
    std::printf("the product log (TSTidewall.log) names every path\n");
    return status;
}

const twctl::registrar reg({"prune", "  prune [--json]             remove crash dumps that are old or on a full file system\n", run});

} // namespace
