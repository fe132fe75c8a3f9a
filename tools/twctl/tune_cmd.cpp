// twctl tune: apply the node's tuning versions that are due.
// twctl tune --status [--json]: the version recorded and the versions that would run.

#include "cli.h"
#include "json_out.h"

#include <tidewall/tw_perf_params_config.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// What each version changes, for people deciding whether to run it now.
const char* const kSummaries[] = {
    "",
    ("data-mover registry values, 10 Gb/s ring buffers, kernel.sem and vm.min_free_kbytes, tuned profile, "
     "fstrim timer, LVM thin-pool threshold, module blacklists, web folders"),
    "gluster small-file options, SIDBCommitThreshold and MaxSFileContainerItems",
    "/boot/efi entry of /etc/fstab by UUID (EFI nodes)",
    "inotify watch limit, nofail on the DAV bricks' fstab entries, tendrl agent off, network-file backup",
    "gluster self-heal window, abrt keeps cores of unpackaged programs, lldpad off",
    "Maldor node list stamped on the data drives (Maldor nodes)",
    "multipath no_path_retry 4, network files copied to the data drives",
};

struct state {
    bool recorded = false;
    unsigned long long version = 0;
};

state read_state(tw_perf_params_config& tuning) {
    state s;
    s.recorded = tuning.get_configured_version(s.version) == 0;
    if (!s.recorded) s.version = 0;
    return s;
}

std::vector<unsigned long long> pending(const state& s) {
    std::vector<unsigned long long> out;
    for (unsigned long long v = s.version + 1; v <= tw_perf_params_config::kMaxVersion; ++v) out.push_back(v);
    return out;
}

int status(bool json) {
    tw_perf_params_config tuning;
    state s = read_state(tuning);
    auto due = pending(s);
    const unsigned long long max = tw_perf_params_config::kMaxVersion;
    if (json) {
        twjson::Array versions;
        for (unsigned long long v : due) versions << v;
        twjson::Object doc;
        doc << "recorded" << s.recorded << "version" << s.version << "supported" << max << "pending"
            << std::move(versions);
        twctl::print_document(doc);
        return 0;
    }
    if (s.recorded)
        std::printf("Recorded tuning version: %llu (this library knows 1 to %llu)\n", s.version, max);
    else
        std::printf("Recorded tuning version: none (this library knows 1 to %llu)\n", max);
    if (s.version > max) {
        std::printf("The node was tuned by a newer release: nothing would run.\n");
    } else if (due.empty()) {
        std::printf("Up to date: nothing would run.\n");
    } else {
        std::printf("Would run, in this order:\n");
        for (auto v : due) std::printf("  %llu  %s\n", v, kSummaries[v]);
    }
    return 0;
}

int apply() {
    tw_perf_params_config tuning;
    std::string failure;
    unsigned long long first = 0, last = 0;
    int rc = tuning.configure(failure, first, last);
    state after = read_state(tuning);
    if (rc != 0) {
        // The library's words when it has them: a version applied but not
        // recorded, or another run holding the tuning lock.
        if (!failure.empty())
            std::fprintf(stderr, "twctl tune: %s\n", failure.c_str());
        else
            std::fprintf(stderr,
                         "twctl tune: version %llu failed with status %d; the node stays at version %llu and the "
                         "next run starts again there%s (details in %s)\n",
                         after.version + 1, rc, after.version, twctl::failure_reason().c_str(),
                         twctl::log_file().c_str());
        return 1;
    }
    // What this run applied, not the difference of two reads: a run that
    // waited while another applied everything did nothing itself.
    if (last == 0)
        std::printf("Nothing to do: tuning version %llu is recorded.\n", after.version);
    else
        std::printf("Applied tuning versions %llu to %llu.\n", first, last);
    return 0;
}

struct tune_options {
    bool status = false, json = false, dry_run = false;
};

int tune(const tune_options& o) {
    if (o.json && !o.status) {
        std::fprintf(stderr, "twctl tune: --json goes with --status\n");
        return twctl::exit_usage;
    }
    if (o.dry_run) {
        // The versions a run would apply are what --status lists; nothing is written.
        std::printf("Dry run: nothing is changed.\n");
        return status(false);
    }
    return o.status ? status(o.json) : apply();
}

}  // namespace

void twctl::add_tune_commands(CLI::App& root) {
    static tune_options o;
    // Needs root for a run; --status reads the registry, which root owns too.
    CLI::App* cmd = add_command(
        root, "tune", "apply the tuning versions the node has not had yet", [] { return tune(o); }, privilege::root);
    CLI::Option* st =
        cmd->add_flag("--status", o.status, "the tuning version recorded and the versions that would run");
    cmd->add_flag("--json", o.json, "with --status: print a JSON document");
    add_dry_run(*cmd, o.dry_run)->excludes(st);
}
