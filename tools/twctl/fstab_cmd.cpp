// twctl fstab show [--json]: the entries of /etc/fstab, whether each is mounted
// now, and the device a UUID= entry resolves to.

#include "cli.h"
#include "json_out.h"

#include <tidewall/tw_storage.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace {

struct row {
    TsMntInfo entry;
    std::string options;
    bool mounted = false;
    std::string mounted_device;
    std::string resolved;  // for UUID= entries, when /dev/disk/by-uuid knows it
};

std::string without_trailing_slashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

int fstab_show(bool json) {
    tw_storage storage;
    std::list<TsMntInfo> entries;
    int rc = storage.read_sysconfig_file("/etc/fstab", entries);
    if (rc != 0) {
        std::fprintf(stderr, "twctl fstab show: cannot read /etc/fstab: %s\n", std::strerror(rc));
        return 1;
    }
    // The mount table read once for all entries: the last entry of a mount
    // point is the one in force (mounts stack). Unreadable, nothing is mounted.
    std::list<TsMntInfo> mounts;
    std::unordered_map<std::string, std::string> mounted_from;
    if (storage.read_sysconfig_file("/etc/mtab", mounts) == 0)
        for (const auto& m : mounts) mounted_from[m.GetMountPoint()] = m.GetBackingDevice();
    std::vector<row> rows;
    rows.reserve(entries.size());
    for (const auto& e : entries) {
        row r;
        r.entry = e;
        std::list<std::string> options = e.MountOptions();
        r.options = storage.create_file_sys_args(options);
        auto m = mounted_from.find(without_trailing_slashes(e.GetMountPoint()));
        r.mounted = m != mounted_from.end();
        if (r.mounted) r.mounted_device = m->second;
        // Each UUID= entry resolved by its own device text, not by looking its
        // mount point up again (which also found another entry of the same path).
        std::string dev;
        if (storage.resolve_fstab_uuid(e.GetBackingDevice(), dev) == 0) r.resolved = dev;
        rows.push_back(std::move(r));
    }
    if (json) {
        twjson::Array list;
        for (const row& r : rows) {
            twjson::Object o;
            o << "device" << r.entry.GetBackingDevice() << "mount_point" << r.entry.GetMountPoint() << "type"
              << r.entry.GetFileSystemType() << "options" << r.options << "dump" << r.entry.GetDumpFrequency() << "pass"
              << r.entry.GetPassNumber() << "mounted" << r.mounted << "mounted_device"
              << (r.mounted ? twjson::Value(r.mounted_device) : twjson::Value()) << "resolves_to"
              << twctl::text_or_null(r.resolved);
            list << std::move(o);
        }
        twjson::Object doc;
        doc << "entries" << std::move(list);
        twctl::print_document(doc);
        return 0;
    }
    std::printf("%-44s %-20s %-8s %-28s %s\n", "DEVICE", "MOUNT POINT", "TYPE", "OPTIONS", "STATE");
    for (const auto& r : rows) {
        std::string state = r.mounted ? "mounted (" + r.mounted_device + ")" : "not mounted";
        if (!r.resolved.empty()) state += ", is " + r.resolved;
        std::printf("%-44s %-20s %-8s %-28s %s\n", r.entry.GetBackingDevice().c_str(), r.entry.GetMountPoint().c_str(),
                    r.entry.GetFileSystemType().c_str(), r.options.empty() ? "-" : r.options.c_str(), state.c_str());
    }
    return 0;
}

}  // namespace

void twctl::add_fstab_commands(CLI::App& root) {
    static bool json = false;
    CLI::App* fstab = add_group(root, "fstab", "the entries of /etc/fstab");
    add_command(*fstab, "show", "/etc/fstab entries, mount state, devices of UUID= entries", [] {
        return fstab_show(json);
    })->add_flag("--json", json, "print a JSON document");
}
