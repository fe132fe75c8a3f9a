// twctl stamps check [--json] [PATH...]: whether the appliance's mounted drives
// (or the paths given) carry valid ownership stamps.
// twctl stamps fix: stamp every mounted appliance drive whose stamps are missing.

#include "command.h"
#include "json_out.h"

#include <tidewall/tw_storage.h>

#include <cstdio>
#include <vector>

namespace {

struct drive {
    drive(std::string p, std::string dev) : path(std::move(p)), device(std::move(dev)) {}
    std::string path;
    std::string device;
    bool valid = false;
    std::string mnt, tsln, blkdev;  // stamp values, where readable
    bool has_mnt = false, has_tsln = false, has_blkdev = false;
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
        bool ours = storage.is_logicalvol(m.GetBackingDevice(), vg, pvs) ? storage.is_tsln_system_volume_group(vg)
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

std::string json_optional(bool has, const std::string& v) { return has ? twctl::json_string(v) : "null"; }

std::string problem(const drive& d) {
    if (!d.has_tsln) return "no trusted.tslnstamp";
    if (d.tsln != tw_storage::kTslnStampValue) return "trusted.tslnstamp is not " + std::string(tw_storage::kTslnStampValue);
    if (!d.has_mnt) return "no trusted.mntstamp";
    if (!d.has_blkdev) return "no trusted.blkdevstamp";
    return "stamps unreadable";
}

int stamps_check(twctl::args words) {
    bool json = twctl::take_flag(words, "--json");
    for (const auto& w : words)
        if (w.empty() || w[0] != '/') {
            std::fprintf(stderr, "twctl stamps check: '%s' is no absolute path\n", w.c_str());
            return 2;
        }
    tw_storage storage;
    std::vector<drive> drives;
    if (words.empty())
        drives = appliance_drives(storage);
    else
        for (const auto& w : words) drives.emplace_back(w, "");
    int invalid = 0;
    for (auto& d : drives) {
        inspect(storage, d);
        if (!d.valid) ++invalid;
    }
    if (json) {
        std::printf("{\n  \"drives\": [\n");
        for (size_t i = 0; i < drives.size(); ++i) {
            const drive& d = drives[i];
            std::printf("    {\"path\": %s, \"device\": %s, \"valid\": %s, \"mntstamp\": %s, \"tslnstamp\": %s, "
                        "\"blkdevstamp\": %s}%s\n",
                        twctl::json_string(d.path).c_str(),
                        d.device.empty() ? "null" : twctl::json_string(d.device).c_str(), d.valid ? "true" : "false",
                        json_optional(d.has_mnt, d.mnt).c_str(), json_optional(d.has_tsln, d.tsln).c_str(),
                        json_optional(d.has_blkdev, d.blkdev).c_str(), i + 1 < drives.size() ? "," : "");
        }
        std::printf("  ]\n}\n");
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

int stamps_fix(const twctl::args& words) {
    if (!words.empty()) {
        std::fprintf(stderr, "twctl stamps fix: unexpected argument '%s'\n", words[0].c_str());
        return 2;
    }
    tw_storage storage;
    int rc = storage.fix_tsln_stamps();
    if (rc == 0) std::printf("Every mounted appliance drive carries valid stamps.\n");
    return rc == 0 ? 0 : 1;
}

const char* const kUsage =
    "  stamps check [--json] [PATH...]\n"
    "                              ownership stamps of the mounted appliance drives (or of PATHs)\n"
    "  stamps fix                  stamp the mounted appliance drives whose stamps are missing\n";

int run(const twctl::args& words) {
    if (words.empty() || words[0] == "--help") {
        std::printf("usage:\n%s", kUsage);
        return words.empty() ? 2 : 0;
    }
    twctl::args rest(words.begin() + 1, words.end());
    if (words[0] == "check") return stamps_check(rest);
    if (words[0] == "fix") return stamps_fix(rest);
    std::fprintf(stderr, "twctl stamps: unknown subcommand '%s'\n", words[0].c_str());
    return 2;
}

const twctl::registrar reg({"stamps", kUsage, run});

} // namespace
