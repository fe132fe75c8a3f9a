// twctl: the operator's front to the Tidewall node library.

#include "cli.h"
#include "json_out.h"

#include <tidewall/tw_log.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

namespace twctl {

namespace {
// The status of the command that ran: CLI11's callbacks return nothing.
int g_status = exit_ok;
}  // namespace

std::string command_path(const CLI::App* command) {
    std::string path;
    for (const CLI::App* a = command; a; a = a->get_parent()) path = a->get_name() + (path.empty() ? "" : " " + path);
    return path;
}

std::string log_file() { return tw_log_file_path(); }

std::string failure_reason() {
    const std::string reason = tw_last_error();
    return reason.empty() ? "" : ": " + reason;
}

CLI::App* add_group(CLI::App& parent, const std::string& name, const std::string& about) {
    CLI::App* group = parent.add_subcommand(name, about);
    group->require_subcommand(1);
    return group;
}

CLI::App* add_command(CLI::App& parent, const std::string& name, const std::string& about, std::function<int()> run,
                      privilege needs) {
    CLI::App* command = parent.add_subcommand(name, about);
    command->callback([command, run = std::move(run), needs] {
        auto guarded = [&]() -> int {
            if (needs == privilege::root && ::geteuid() != 0) {
                std::fprintf(stderr,
                             "%s: needs root (LVM, block devices, system files and trusted.* attributes "
                             "are root's); run it as root\n",
                             command_path(command).c_str());
                return exit_needs_root;
            }
            return run();
        };
        const CLI::Option* json = command->get_option_no_throw("--json");
        g_status = json && json->count() > 0 ? run_json_document(command_path(command), guarded) : guarded();
    });
    return command;
}

CLI::Option* add_dry_run(CLI::App& command, bool& flag) {
    return command.add_flag("--dry-run", flag, "print what would be done, step by step, and change nothing");
}

}  // namespace twctl

namespace {

void add_all(CLI::App& root) {
    twctl::add_storage_commands(root);
    twctl::add_platform_commands(root);
    twctl::add_platform_type_commands(root);
    twctl::add_metrics_commands(root);
    twctl::add_drive_commands(root);
    twctl::add_disks_commands(root);
    twctl::add_stamps_commands(root);
    twctl::add_fstab_commands(root);
    twctl::add_prune_commands(root);
    twctl::add_iotest_commands(root);
    twctl::add_monitor_commands(root);
    twctl::add_gluster_commands(root);
    twctl::add_firstboot_commands(root);
    twctl::add_tune_commands(root);
    twctl::add_metadata_commands(root);
}

// The command table, one command a line: its words, a tab, its options and
// arguments. The man page, the completion file and the contract test are
// checked against it.
void print_table(const CLI::App& app) {
    if (app.get_subcommands([](const CLI::App*) { return true; }).empty()) {
        std::string line = twctl::command_path(&app) + "\t";
        std::string words;
        for (const CLI::Option* o : app.get_options()) {
            if (o->get_name() == "--help") continue;
            // Options by their long name, arguments by theirs (MOUNT_PATH, FILE, ...).
            words += (words.empty() ? "" : " ") + o->get_name();
        }
        std::printf("%s%s\n", line.c_str(), words.c_str());
        return;
    }
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) print_table(*sub);
}

// The command, or group, the words given so far reached.
const CLI::App* reached(const CLI::App& app) {
    const auto chosen = app.get_subcommands();
    return chosen.empty() ? &app : reached(*chosen.front());
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App root("The operator's front to the Tidewall node library on this node.", "twctl");
    root.require_subcommand(1);
    root.set_version_flag("--version", std::string("twctl ") + TWCTL_VERSION);
    root.footer("Every command logs to the product log (" + twctl::log_file() +
                "); TW_DEBUG_LEVEL sets its level.\nExit status: 0 ok, 1 failed, 2 usage error, 3 a check could not "
                "run, 4 needs root.");
    add_all(root);

    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.size() == 1 && words[0] == "--commands") {
        print_table(root);
        return twctl::exit_ok;
    }
    // "twctl help" as before the parser came.
    if (!words.empty() && words[0] == "help") words[0] = "--help";
    const std::vector<std::string> given = words;
    std::reverse(words.begin(), words.end());  // CLI11 takes the words last first, and uses them up
    try {
        root.parse(words);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return root.exit(e) == 0 ? twctl::exit_ok : twctl::exit_usage;
        const CLI::App* at = reached(root);
        size_t depth = 0;  // the words of the command path after "twctl"
        for (const CLI::App* a = at; a->get_parent(); a = a->get_parent()) ++depth;
        if (at->get_require_subcommand_min() > 0 && given.size() > depth && !given[depth].empty() &&
            given[depth][0] != '-')
            std::fprintf(stderr, "%s: unknown command '%s'\n", twctl::command_path(at).c_str(), given[depth].c_str());
        else
            std::fprintf(stderr, "%s: %s\n", twctl::command_path(at).c_str(), e.what());
        // A script that asked for JSON gets its object even for a usage error.
        if (at->get_option_no_throw("--json") && std::find(given.begin(), given.end(), "--json") != given.end())
            twctl::print_json_error(twctl::command_path(at) + ": " + e.what(), twctl::exit_usage);
        // A group named alone, or a wrong word after it: its commands are the help
        // needed. twctl's own list is long: shown for twctl alone only.
        if (at->get_require_subcommand_min() > 0 && (at != &root || given.empty()))
            std::cerr << at->help(at->get_parent() ? twctl::command_path(at->get_parent()) : "");
        else
            std::fprintf(stderr, "Run '%s --help' for its usage.\n", twctl::command_path(at).c_str());
        return twctl::exit_usage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", twctl::command_path(reached(root)).c_str(), e.what());
        return twctl::exit_failed;
    }
    return twctl::g_status;
}
