// twctl prune [--json] [--dry-run]: one crash-dump pruning run, as the node's
// services run it, or the files and directories it would remove.

#include "cli.h"
#include "json_out.h"

#include <tidewall/tw_preview.h>
#include <tidewall/tw_prune.h>

#include <cstdio>

namespace {

int print_prune_steps() {
    const tw_prune_preview p = tw_preview_prune();
    std::printf("Dry run: nothing is changed. Pruning would:\n");
    unsigned step = 0;
    for (const auto& [path, dirs] : p.locations)
        std::printf("  %u. walk %s%s\n", ++step, path.c_str(),
                    dirs ? " (then remove the directories it empties)" : " (directories kept)");
    for (const auto& f : p.files) std::printf("  %u. remove %s\n", ++step, f.c_str());
    for (const auto& d : p.dirs) std::printf("  %u. remove the directory %s once empty\n", ++step, d.c_str());
    std::printf("  %u. remove the hosted engine's dumps on its node, when it has one\n", ++step);
    std::printf("%zu dump files would go.\n", p.files.size());
    return twctl::exit_ok;
}

int prune(bool json, bool dry_run) {
    if (dry_run) return print_prune_steps();
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
        twjson::Array locations;
        for (const auto& [path, dirs] : pruner.locations()) {
            twjson::Object l;
            l << "path" << path << "remove_emptied_dirs" << dirs;
            locations << std::move(l);
        }
        twjson::Object doc;
        doc << "locations" << std::move(locations) << "removed_files" << pruner.removed_files() << "failed_files"
            << pruner.failed_files() << "removed_dirs" << pruner.removed_dirs() << "failed_dirs"
            << pruner.failed_dirs();
        twctl::print_document(doc);
        return status;
    }
    for (const auto& [path, dirs] : pruner.locations())
        std::printf("walked %s%s\n", path.c_str(), dirs ? " (emptied directories removed)" : " (directories kept)");
    std::printf("removed %u dump files (%u could not be removed), %u directories (%u kept)\n", pruner.removed_files(),
                pruner.failed_files(), pruner.removed_dirs(), pruner.failed_dirs());
    std::printf("the product log (%s) names every path\n", twctl::log_file().c_str());
    return status;
}

}  // namespace

void twctl::add_prune_commands(CLI::App& root) {
    static bool json = false, dry_run = false;
    CLI::App* cmd = add_command(
        root, "prune", "remove crash dumps that are old or on a full file system", [] { return prune(json, dry_run); },
        privilege::root);
    CLI::Option* j = cmd->add_flag("--json", json, "print a JSON document");
    add_dry_run(*cmd, dry_run)->excludes(j);
}
