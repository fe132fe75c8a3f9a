// twctl stamps check [--json] [PATH...]: whether the appliance's mounted drives
// (or the paths given) carry valid ownership stamps.
// twctl stamps fix [--dry-run]: stamp every mounted appliance drive whose stamps
// are missing.

#include "cli.h"
#include "json_out.h"

#include <tidewall/tw_storage.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct drive {
    drive(std::string p, std::string dev) : path(std::move(p)), device(std::move(dev)) {}
    std::string path;
    std::string device;
    bool valid = false;
    std::string mnt, tsln, blkdev;  // stamp values, where readable
    bool has_mnt = false, has_tsln = false, has_blkdev = false;
    bool not_mounted = false;  // a path given that no file system is mounted at
};

// The drives the repair would look at: mounted xfs file systems that are
// logical volumes of the appliance's volume groups or data mount paths.
std::vector<drive> appliance_drives(tw_storage& storage) {
    std::vector<drive> out;
    std::list<TsMntInfo> mounts;
    storage.read_sysconfig_file("/etc/mtab", mounts);
    for (const auto& m : mounts) {
        if (m.GetFileSystemType() != "xfs") continue;
        std::string vg, pvs;
        bool ours = storage.is_logicalvol(m.GetBackingDevice(), vg, pvs)
                        ? storage.is_tsln_system_volume_group(vg)
                        : storage.is_tsln_data_drive(m.GetMountPoint());
        if (ours) out.push_back(drive(m.GetMountPoint(), m.GetBackingDevice()));
    }
    return out;
}

void inspect(tw_storage& storage, drive& d) {
    d.valid = storage.check_for_tsln_xattrs(d.path) == 0;
    d.has_mnt = storage.getextendedattribute(d.path, tw_storage::kMntStamp, d.mnt) >= 0;
    d.has_tsln = storage.getextendedattribute(d.path, tw_storage::kTslnStamp, d.tsln) >= 0;
    d.has_blkdev = storage.getextendedattribute(d.path, tw_storage::kBlkdevStamp, d.blkdev) >= 0;
}

twjson::Value optional(bool has, const std::string& v) { return has ? twjson::Value(v) : twjson::Value(); }

std::string problem(const drive& d) {
    if (d.not_mounted) return "not a mount point";
    if (!d.has_tsln) return "no trusted.tslnstamp";
    if (d.tsln != tw_storage::kTslnStampValue)
        return "trusted.tslnstamp is not " + std::string(tw_storage::kTslnStampValue);
    if (!d.has_mnt) return "no trusted.mntstamp";
    if (!d.has_blkdev) return "no trusted.blkdevstamp";
    return "stamps unreadable";
}

int stamps_check(const std::vector<std::string>& words, bool json) {
    for (const auto& w : words) {
        struct stat st {};
        if (::stat(w.c_str(), &st) != 0) {
            std::fprintf(stderr, "twctl stamps check: %s: %s\n", w.c_str(),
                         errno == ENOENT ? "the path does not exist" : std::strerror(errno));
            return twctl::exit_usage;
        }
    }
    tw_storage storage;
    std::vector<drive> drives;
    if (words.empty())
        drives = appliance_drives(storage);
    else
        for (const auto& w : words) drives.emplace_back(w, "");
    int invalid = 0;
    for (auto& d : drives) {
        std::string dev, fstype;
        std::list<std::string> options;
        // Stamps live on the root of a mounted file system; a plain directory has none to check.
        if (d.device.empty() && storage.is_mounted(d.path, dev, fstype, options) != 1) {
            d.not_mounted = true;
            ++invalid;
            continue;
        }
        if (d.device.empty()) d.device = dev;
        inspect(storage, d);
        if (!d.valid) ++invalid;
    }
    if (json) {
        twjson::Array list;
        for (const drive& d : drives) {
            twjson::Object o;
            o << "path" << d.path << "device" << twctl::text_or_null(d.device) << "valid" << d.valid << "mntstamp"
              << optional(d.has_mnt, d.mnt) << "tslnstamp" << optional(d.has_tsln, d.tsln) << "blkdevstamp"
              << optional(d.has_blkdev, d.blkdev) << "problem"
              << (d.valid ? twjson::Value() : twjson::Value(problem(d)));
            list << std::move(o);
        }
        twjson::Object doc;
        doc << "drives" << std::move(list);
        twctl::print_document(doc);
    } else if (drives.empty()) {
        std::printf("No mounted appliance drives.\n");
    } else {
        std::printf("%-24s %-28s %s\n", "MOUNT PATH", "DEVICE", "STAMPS");
        for (const auto& d : drives)
            std::printf("%-24s %-28s %s\n", d.path.c_str(), d.device.empty() ? "-" : d.device.c_str(),
                        d.valid ? ("valid (mntstamp " + d.mnt + ")").c_str() : ("INVALID: " + problem(d)).c_str());
    }
    return invalid == 0 ? 0 : 1;
}

int print_fix_steps(tw_storage& storage) {
    std::printf("Dry run: nothing is changed. Fixing would:\n");
    unsigned step = 0;
    for (auto& d : appliance_drives(storage)) {
        if (storage.check_for_tsln_xattrs(d.path) == 0) continue;
        std::printf("  %u. stamp %s (%s): trusted.mntstamp, trusted.tslnstamp, trusted.blkdevstamp\n", ++step,
                    d.path.c_str(), d.device.c_str());
    }
    if (step == 0) std::printf("  nothing: every mounted appliance drive carries valid stamps\n");
    return twctl::exit_ok;
}

int stamps_fix(bool dry_run) {
    tw_storage storage;
    if (dry_run) return print_fix_steps(storage);
    int rc = storage.fix_tsln_stamps();
    if (rc == 0) {
        std::printf("Every mounted appliance drive carries valid stamps.\n");
        return 0;
    }
    std::fprintf(stderr, "twctl stamps fix: failed%s (see %s)\n", twctl::failure_reason().c_str(),
                 twctl::log_file().c_str());
    return 1;
}

}  // namespace

void twctl::add_stamps_commands(CLI::App& root) {
    static bool json = false, dry_run = false;
    static std::vector<std::string> paths;
    CLI::App* stamps = add_group(root, "stamps", "the ownership stamps of the appliance drives");
    CLI::App* check = add_command(
        *stamps, "check", "ownership stamps of the mounted appliance drives (or of PATHs)",
        [] { return stamps_check(paths, json); }, privilege::root);
    check->add_option("PATH", paths, "mount points to check instead")->check([](const std::string& v) {
        return !v.empty() && v[0] == '/' ? "" : "wants an absolute path";
    });
    check->add_flag("--json", json, "print a JSON document");
    CLI::App* fix = add_command(
        *stamps, "fix", "stamp the mounted appliance drives whose stamps are missing",
        [] { return stamps_fix(dry_run); }, privilege::root);
    add_dry_run(*fix, dry_run);
}
