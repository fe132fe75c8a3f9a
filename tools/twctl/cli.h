#ifndef TWCTL_CLI_H
#define TWCTL_CLI_H

// The command table of twctl: every command group adds its commands, options
// and help to one CLI11 tree, so --help, usage errors, the man page's synopsis
// and the shell completion all come from the same place.

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace twctl {

// twctl's exit statuses (the EXIT STATUS table of twctl.1).
enum exit_status : int {
    exit_ok = 0,
    exit_failed = 1,  // the operation failed, or found a fault it reports
    exit_usage = 2,  // bad command line, or an argument that names nothing that exists
    exit_not_checked = 3,  // all seen is well, but a check could not be carried out
    exit_needs_root = 4,  // the command needs root and was run by another account
};

enum class privilege { any, root };

// A command group such as "disks": it only holds subcommands, and naming it
// alone is a usage error.
CLI::App* add_group(CLI::App& parent, const std::string& name, const std::string& about);

// A command whose run gives twctl's exit status. A command that needs root is
// refused with exit_needs_root before run is called when another account runs it.
CLI::App* add_command(CLI::App& parent, const std::string& name, const std::string& about, std::function<int()> run,
                      privilege needs = privilege::any);

// --dry-run: print what would be done, step by step, and change nothing.
CLI::Option* add_dry_run(CLI::App& command, bool& flag);

// "twctl disks provision" for the command's tree node.
std::string command_path(const CLI::App* command);

// The product log file, for messages that send people to it.
std::string log_file();

// ": <reason>" of the library call that just failed, or "" when it gave none:
// for a failure message, between what failed and its "(see <log file>)".
std::string failure_reason();

// Each command group file adds its commands here; main.cpp calls them in the
// order twctl --help lists them.
void add_storage_commands(CLI::App& root);
void add_platform_commands(CLI::App& root);
void add_platform_type_commands(CLI::App& root);
void add_metrics_commands(CLI::App& root);
void add_drive_commands(CLI::App& root);
void add_disks_commands(CLI::App& root);
void add_stamps_commands(CLI::App& root);
void add_fstab_commands(CLI::App& root);
void add_prune_commands(CLI::App& root);
void add_iotest_commands(CLI::App& root);
void add_monitor_commands(CLI::App& root);
void add_gluster_commands(CLI::App& root);
void add_firstboot_commands(CLI::App& root);
void add_tune_commands(CLI::App& root);
void add_metadata_commands(CLI::App& root);

}  // namespace twctl

#endif
