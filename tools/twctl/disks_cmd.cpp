// twctl disks new [--json]: which disks provisioning would take, at which mount
// paths, and why every other disk is left alone.
// twctl disks provision [--yes] [--no-fstab] [--dry-run]: wipe, format, mount and
// stamp the new disks, and record them in /etc/fstab by file-system UUID.

#include "cli.h"
#include "json_out.h"
#include "progress_line.h"

#include <tidewall/tw_storage.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

struct plan {
    int survey_rc = 0;
    std::list<tsaf_blkdev_verdict> verdicts;
    std::string prefix, fstype, options;
    unsigned last_slot = 0;
    // Mount path of each new disk, in the order provisioning takes them.
    std::vector<std::pair<tsaf_blkdev_basic_info, std::string>> targets;
    // Disks an interrupted run left: the next provisioning finishes them first.
    std::list<tw_storage::provisioning_intent> interrupted;
    int interrupted_rc = 0;
};

// The slot number of a recorded mount path, 0 when it is not prefix + digits.
unsigned slot_number(const std::string& mnt_path, const std::string& prefix) {
    if (mnt_path.compare(0, prefix.size(), prefix) != 0) return 0;
    std::string digits = mnt_path.substr(prefix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    return static_cast<unsigned>(std::stoul(digits));
}

plan make_plan(tw_storage& storage) {
    plan p;
    p.survey_rc = storage.survey_new_disks(p.verdicts);
    p.interrupted_rc = storage.interrupted_provisioning(p.interrupted);
    p.prefix = storage.get_datapath_prefix();
    p.fstype = storage.get_datapath_file_system();
    p.options = storage.get_datapath_mount_options();
    p.last_slot = storage.get_data_mntpath_lastslot();
    unsigned slot = p.last_slot;
    for (const auto& i : p.interrupted) slot = std::max(slot, slot_number(i.mnt_path, p.prefix));
    if (p.survey_rc == 0)
        for (const auto& v : p.verdicts)
            if (v.get_is_new() && !std::any_of(p.interrupted.begin(), p.interrupted.end(),
                                               [&](const auto& i) { return i.device == v.get_info().get_devpath(); }))
                p.targets.emplace_back(v.get_info(), p.prefix + std::to_string(++slot));
    return p;
}

std::string size_text(unsigned long long bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    double v = static_cast<double>(bytes);
    int u = 0;
    while (v >= 1024 && u < 5) {
        v /= 1024;
        ++u;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", v, units[u]);
    return buf;
}

const tw_storage::provisioning_intent* interrupted_of(const plan& p, const std::string& devpath) {
    for (const auto& i : p.interrupted)
        if (i.device == devpath) return &i;
    return nullptr;
}

std::string interrupted_text(const tw_storage::provisioning_intent& i) {
    std::string t = "provisioning interrupted at " + i.mnt_path + ": the next provisioning finishes it";
    if (!i.last_failure.empty()) t += " (last attempt stopped at " + i.last_failure + ")";
    return t;
}

std::string target_of(const plan& p, const std::string& devpath) {
    for (const auto& [info, path] : p.targets)
        if (info.get_devpath() == devpath) return path;
    if (const auto* i = interrupted_of(p, devpath)) return i->mnt_path;
    return "";
}

int disks_new(bool json) {
    tw_storage storage;
    plan p = make_plan(storage);
    if (json) {
        twjson::Array disks;
        for (const auto& v : p.verdicts) {
            const auto& d = v.get_info();
            twjson::Object o;
            o << "device" << d.get_devpath() << "name" << d.get_name() << "size_bytes" << d.get_size() << "model"
              << d.get_model() << "new" << v.get_is_new();
            if (v.get_is_new())
                o << "mount_path" << target_of(p, d.get_devpath());
            else
                o << "reason" << v.get_reason();
            disks << std::move(o);
        }
        twjson::Array interrupted;
        for (const auto& r : p.interrupted) {
            twjson::Object o;
            o << "device" << r.device << "mount_path" << r.mnt_path << "uuid" << r.uuid << "last_failure"
              << r.last_failure;
            interrupted << std::move(o);
        }
        twjson::Object doc;
        doc << "complete" << (p.survey_rc == 0) << "datapath_prefix" << p.prefix << "file_system" << p.fstype
            << "mount_options" << p.options << "last_slot" << p.last_slot << "disks" << std::move(disks)
            << "interrupted" << std::move(interrupted);
        twctl::print_document(doc);
        return p.survey_rc == 0 && p.interrupted_rc == 0 ? 0 : 1;
    }
    if (p.survey_rc != 0)
        std::printf("Cannot tell which disks are in use: no disk counts as new (see the reasons below).\n\n");
    std::printf("%-16s %-10s %-18s %s\n", "DEVICE", "SIZE", "MODEL", "VERDICT");
    for (const auto& v : p.verdicts) {
        const auto& d = v.get_info();
        std::string verdict =
            v.get_is_new() ? "new: would become " + target_of(p, d.get_devpath()) : "not new: " + v.get_reason();
        if (const auto* i = interrupted_of(p, d.get_devpath())) verdict = interrupted_text(*i);
        std::printf("%-16s %-10s %-18s %s\n", d.get_devpath().c_str(), size_text(d.get_size()).c_str(),
                    d.get_model().empty() ? "-" : d.get_model().c_str(), verdict.c_str());
    }
    // A recorded disk the survey no longer sees is listed all the same.
    for (const auto& i : p.interrupted) {
        bool seen = false;
        for (const auto& v : p.verdicts) seen = seen || v.get_info().get_devpath() == i.device;
        if (!seen) std::printf("%-16s %-10s %-18s %s\n", i.device.c_str(), "-", "-", interrupted_text(i).c_str());
    }
    if (p.interrupted_rc != 0)
        std::printf("The record of interrupted provisioning cannot be read: see %s\n", twctl::log_file().c_str());
    std::printf("\n%zu new disk(s); data mount paths %sN, file system %s, options %s\n", p.targets.size(),
                p.prefix.c_str(), p.fstype.c_str(), p.options.empty() ? "(none)" : p.options.c_str());
    return p.survey_rc == 0 && p.interrupted_rc == 0 ? 0 : 1;
}

bool confirmed(const plan& p) {
    std::printf("The partition table of these disks will be wiped and a new %s file system made on them:\n",
                p.fstype.c_str());
    for (const auto& [info, path] : p.targets)
        std::printf("  %s (%s) -> %s\n", info.get_devpath().c_str(), size_text(info.get_size()).c_str(), path.c_str());
    for (const auto& i : p.interrupted)
        std::printf("  %s -> %s (interrupted earlier: finished first)\n", i.device.c_str(), i.mnt_path.c_str());
    std::printf("Everything on them is lost. Go on? [y/N] ");
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) answer.clear();
    return answer == "y" || answer == "Y" || answer == "yes";
}

struct provision_options {
    bool yes = false;
    bool no_fstab = false;
    bool dry_run = false;
};

// The steps provisioning would take, from the same plan and checks, touching nothing.
int print_provision_steps(const plan& p, bool no_fstab) {
    std::printf("Dry run: nothing is changed. Provisioning would, disk by disk:\n");
    unsigned step = 0;
    for (const auto& [info, path] : p.targets) {
        const char* dev = info.get_devpath().c_str();
        std::printf("  %u. %s (%s): check it is still new, wipe its partition table and signatures\n", ++step, dev,
                    size_text(info.get_size()).c_str());
        std::printf("  %u. %s: make a %s file system\n", ++step, dev, p.fstype.c_str());
        std::printf("  %u. %s: mount it at %s (options %s)\n", ++step, dev, path.c_str(),
                    p.options.empty() ? "(none)" : p.options.c_str());
        std::printf("  %u. %s: stamp %s (trusted.mntstamp, trusted.tslnstamp, trusted.blkdevstamp)\n", ++step, dev,
                    path.c_str());
        if (!no_fstab)
            std::printf("  %u. %s: record %s in /etc/fstab as UUID=<the new file system's UUID>\n", ++step, dev,
                        path.c_str());
    }
    return twctl::exit_ok;
}

int disks_provision(const provision_options& o) {
    const bool yes = o.yes, no_fstab = o.no_fstab;
    tw_storage storage;
    // Held from the survey to the last /etc/fstab entry: a second run would
    // take the same disks and slots.
    tw_storage::provisioning_lock lock;
    if (!lock.held()) {
        std::fprintf(stderr, "twctl disks provision: %s\n", lock.message().c_str());
        return 1;
    }
    plan p = make_plan(storage);
    if (p.interrupted_rc != 0) {
        std::fprintf(stderr,
                     "twctl disks provision: the record of interrupted provisioning cannot be read; nothing "
                     "was changed (see %s)\n",
                     twctl::log_file().c_str());
        return 1;
    }
    if (p.survey_rc != 0 && p.interrupted.empty()) {
        std::fprintf(stderr,
                     "twctl disks provision: cannot tell which disks are in use; nothing was changed "
                     "(twctl disks new says why)\n");
        return 1;
    }
    if (p.targets.empty() && p.interrupted.empty()) {
        std::printf("No new disks.\n");
        return 0;
    }
    // Asked before anything is wiped: on a node whose appliance type is not
    // recorded every disk would be wiped and formatted, and none mounted.
    std::string why;
    if (storage.check_datapath_target(why) != 0) {
        std::fprintf(stderr,
                     "twctl disks provision: new disks cannot become data mount paths: %s; nothing was "
                     "changed\n",
                     why.c_str());
        return 1;
    }
    if (o.dry_run) return print_provision_steps(p, no_fstab);
    if (!yes && !confirmed(p)) {
        std::printf("Nothing was changed.\n");
        return 1;
    }
    std::list<tsaf_blkdev_basic_info> disks;
    for (const auto& t : p.targets) disks.push_back(t.first);
    twctl::progress_line line;
    unsigned long long disks_done = 0;
    double mib_done = 0;
    auto starting = [&](const tw_storage::provisioning_outcome& o, size_t, size_t total) {
        // Each disk's line shows while its disk is worked on, then gives way to
        // the disk's result.
        line.update(o.device + ": provisioning, disks", disks_done, total, mib_done, "done", true);
    };
    auto finished = [&](const tw_storage::provisioning_outcome& o) {
        line.clear();
        const char* dev = o.device.c_str();
        if (o.resumed) std::printf("%s: finishing the provisioning interrupted at %s\n", dev, o.mnt_path.c_str());
        if (!o.resumed) {
            ++disks_done;
            for (const auto& t : p.targets)
                if (t.first.get_devpath() == o.device) mib_done += t.first.get_size() / double(1 << 20);
        }
        if (o.skipped && !o.resumed) {
            std::printf("%s: skipped, %s\n", dev, o.message.c_str());
        } else if (o.skipped) {
            std::printf("%s: %s\n", dev, o.message.c_str());
        } else if (!o.mounted) {
            std::printf("%s: failed (code %d) at %s; see %s\n", dev, o.rc, o.mnt_path.c_str(),
                        twctl::log_file().c_str());
            std::printf("%s: %s\n", dev, o.message.c_str());
        } else {
            std::printf("%s: mounted at %s and stamped\n", dev, o.mnt_path.c_str());
            if (o.in_fstab)
                std::printf("%s: recorded in /etc/fstab as UUID=%s\n", dev, o.uuid.c_str());
            else if (o.rc != 0)
                std::printf("%s: NOT recorded in /etc/fstab: %s\n", dev, o.message.c_str());
        }
    };
    std::list<tw_storage::provisioning_outcome> outcomes;
    int rc = storage.provision_disks(disks, !no_fstab, outcomes, starting, finished);
    if (rc < 0) {
        std::fprintf(stderr, "twctl disks provision: %s; nothing was changed\n",
                     outcomes.empty() ? ("see " + twctl::log_file()).c_str() : outcomes.front().message.c_str());
        return 1;
    }
    // A run that stopped between disks says why.
    for (const auto& o : outcomes)
        if (o.device.empty() && !o.message.empty())
            std::fprintf(stderr, "twctl disks provision: %s\n", o.message.c_str());
    return rc == 0 ? 0 : 1;
}

}  // namespace

void twctl::add_disks_commands(CLI::App& root) {
    static bool json = false;
    static provision_options provision;
    CLI::App* disks = add_group(root, "disks", "the node's whole disks: which are new, and provisioning them");
    add_command(*disks, "new", "disks provisioning would take, and why each other disk is not new", [] {
        return disks_new(json);
    })->add_flag("--json", json, "print a JSON document");
    CLI::App* prov = add_command(
        *disks, "provision", "wipe, format, mount and stamp the new disks; record them in /etc/fstab",
        [] { return disks_provision(provision); }, privilege::root);
    prov->add_flag("--yes", provision.yes, "do not ask before wiping");
    prov->add_flag("--no-fstab", provision.no_fstab, "do not record the disks in /etc/fstab");
    add_dry_run(*prov, provision.dry_run);
}
