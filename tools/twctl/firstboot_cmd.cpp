// twctl firstboot: the node's first-boot operations (platform type on every
// boot; on the first boot the DDB fstab entry, kdump, log rotation and the
// bare-metal-recovery logs, then the mark, the iSCSI initiator name and the
// LVM filters).
// twctl firstboot --update-logrotate: brings the gluster log rotation up to
// the newest version.
// --dry-run: the steps a run would take now.

#include "cli.h"

#include <tidewall/tw_preview.h>
#include <tidewall/tw_storage.h>

#include <cstdio>

namespace {

int print_first_boot_steps(bool logrotate_only) {
    std::printf("Dry run: nothing is changed. %s would now:\n",
                logrotate_only ? "twctl firstboot --update-logrotate" : "twctl firstboot");
    unsigned n = 0;
    for (const auto& step : tw_first_boot_preview(logrotate_only)) std::printf("  %u. %s\n", ++n, step.c_str());
    return twctl::exit_ok;
}

struct firstboot_options {
    bool logrotate_only = false;
    bool dry_run = false;
};

int firstboot(const firstboot_options& o) {
    const bool logrotate_only = o.logrotate_only;
    if (o.dry_run) return print_first_boot_steps(logrotate_only);
    tw_storage storage;
    if (logrotate_only) {
        storage.update_logrotate();
        std::printf("Gluster log rotation is up to date (see %s for each version installed)\n",
                    twctl::log_file().c_str());
        return 0;
    }
    std::string failure;
    if (storage.do_first_boot_operations(failure) != 0) {
        if (!failure.empty())
            std::fprintf(stderr, "twctl firstboot: %s\n", failure.c_str());
        else
            std::fprintf(stderr,
                         "twctl firstboot: a first-boot step failed; first boot is not marked done and "
                         "runs again next time%s (see %s)\n",
                         twctl::failure_reason().c_str(), twctl::log_file().c_str());
        return 1;
    }
    std::printf("First-boot operations done\n");
    return 0;
}

}  // namespace

void twctl::add_firstboot_commands(CLI::App& root) {
    static firstboot_options o;
    CLI::App* cmd = add_command(
        root, "firstboot", "first-boot operations (safe to repeat); or only the gluster log rotation",
        [] { return firstboot(o); }, privilege::root);
    cmd->add_flag("--update-logrotate", o.logrotate_only, "only bring the gluster log rotation to its newest version");
    add_dry_run(*cmd, o.dry_run);
}
