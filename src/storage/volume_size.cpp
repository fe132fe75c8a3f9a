// Volume size tracking: the largest size seen of each gluster volume, kept in
// the .AFVolSize file beside the registry, and whether a volume has shrunk.

#include <tidewall/tw_storage.h>

#include "foundation/compat/ts_platform_info.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/file_io.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"

#include <algorithm>

namespace {

using size_map = std::map<std::string, unsigned long>;

constexpr unsigned kLockWaitMs = 10000;

std::string render(const size_map& sizes) {
    std::string text;
    for (const auto& [name, size] : sizes) text += name + ":" + tsaf_utils::ulong_to_string(size) + "\n";
    return text;
}

}  // namespace

std::string tw_storage::get_afvolsize_filename() {
    std::string instance = TSPlatformInfo::getFocus();
    if (instance.empty()) {
        log_.logMessage("tw_storage::get_afvolsize_filename", tidewall::log_level::failure,
                        "TW_REGISTRY_INSTANCE is not a valid instance name: no volume size file");
        return "";
    }
    std::string name = "/etc/TessalineRegistry/Tolvan/" + instance + "/Dockwright/.AFVolSize";
    log_.logMessage("tw_storage::get_afvolsize_filename", tidewall::log_level::trace, "Filename: %s", name.c_str());
    return name;
}

int tw_storage::read_volsize_file(const std::string& path, std::map<std::string, unsigned long>& sizes) {
    const char* tag = "tw_storage::read_volsize_file";
    log_.logMessage(tag, tidewall::log_level::detail, "Reading File [%s].", path.c_str());
    if (!tsaf_utils::is_file(path)) {
        log_.logMessage(tag, tidewall::log_level::detail, "File [%s] does not exist.", path.c_str());
        return -1;
    }
    std::list<std::string> lines;
    tsaf_utils::read_file(path, lines);
    for (const auto& line : lines) {
        std::string name, value;
        if (tsaf_utils::get_name_value_pair(line, name, value) != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "Invalid file content [%s]", line.c_str());
            continue;
        }
        sizes.emplace(name, tsaf_utils::string_to_ulong(value));  // the first line of a volume counts
    }
    return 0;
}

int tw_storage::write_volsize_file(const std::string& path, std::map<std::string, unsigned long>& sizes) {
    log_.logMessage("tw_storage::write_volsize_file", tidewall::log_level::detail, "Writing File [%s].", path.c_str());
    return tidewall::file_io::write_atomic(tidewall::host::path(path), render(sizes), 0644) == 0 ? 0 : -1;
}

int tw_storage::update_volsize_file(std::map<std::string, unsigned long> current,
                                    std::map<std::string, unsigned long> saved) {
    const char* tag = "tw_storage::volume_size_update";
    std::string path = get_afvolsize_filename();
    if (path.empty()) return -1;
    // Monitors of several processes update the file: read, merge and replace
    // under one lock, so that no process undoes what another recorded.
    tidewall::locks::held_lock lock(tidewall::locks::lock_name_for("volsize", tidewall::host::path(path)), kLockWaitMs);
    if (!lock.held()) {
        log_.logMessage(tag, tidewall::log_level::failure, "Not updating [%s]: its lock is %s", path.c_str(),
                        lock.why().c_str());
        return -1;
    }

    size_map copy = saved;
    if (copy.empty()) read_volsize_file(path, copy);
    if (copy == current) {
        log_.logMessage(tag, tidewall::log_level::detail,
                        "Current volume sizes are equal to saved volume sizes. Not updating file [%s].", path.c_str());
        return 0;
    }
    if (copy.empty()) {
        copy = current;
    } else {
        for (const auto& [name, size] : current) {
            auto it = copy.find(name);
            if (it == copy.end())
                copy.emplace(name, size);
            else if (it->second < size)
                it->second = size;
        }
    }
    // What the file holds now stays: a volume is never dropped, a size never
    // lowered, whatever the caller passed as saved.
    size_map on_disk, merged;
    read_volsize_file(path, on_disk);
    merged = on_disk;
    for (const auto& [name, size] : copy) {
        auto it = merged.find(name);
        if (it == merged.end())
            merged.emplace(name, size);
        else
            it->second = std::max(it->second, size);
    }
    if (merged == on_disk) return 0;
    if (write_volsize_file(path, merged) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to write to file [%s].", path.c_str());
        return -1;
    }
    return 0;
}

int tw_storage::volsize_isless(std::string volume, unsigned long size) {
    const char* tag = "tw_storage::volsize_isless";
    log_.logMessage(tag, tidewall::log_level::detail, "Volume [%s] Current Size [%llu].", volume.c_str(),
                    static_cast<unsigned long long>(size));
    std::string path = get_afvolsize_filename();
    size_map saved;
    int result = 0;
    if (read_volsize_file(path, saved) != 0) {
        log_.logMessage(tag, tidewall::log_level::detail, "File [%s] not present.", path.c_str());
    } else {
        auto it = saved.find(volume);
        if (it == saved.end()) {
            log_.logMessage(tag, tidewall::log_level::detail, "Entry for volume [%s] not present in file [%s]",
                            volume.c_str(), path.c_str());
        } else {
            log_.logMessage(tag, tidewall::log_level::detail, "Size of volume [%s] saved in file [%s] is [%llu]",
                            volume.c_str(), path.c_str(), static_cast<unsigned long long>(it->second));
            result = size < it->second ? 1 : 0;
        }
    }
    if (update_volsize_file(size_map{{volume, size}}, saved) != 0)
        log_.logMessage(tag, tidewall::log_level::failure, "Failure in updating volsize file [%s]", path.c_str());
    return result;
}

int tw_storage::gluster_volume_get_sizeinfo(const std::string& volume, const std::string& mount_path, bool& isless) {
    const char* tag = "tw_storage::gluster_volume_get_sizeinfo";
    isless = false;
    log_.logMessage(tag, tidewall::log_level::detail, "Get gluster volume size info for volume [%s]", volume.c_str());
    unsigned long total = 0, free = 0;
    if (tsaf_utils::get_fs_usage(mount_path, total, free) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to retrieve current size of volume [%s].",
                        volume.c_str());
        return -1;
    }
    isless = volsize_isless(volume, total) == 1;
    log_.logMessage(tag, tidewall::log_level::detail,
                    "Current Size reported for Volume [%s] less than created size: %s", volume.c_str(),
                    tsaf_utils::booltostr(isless).c_str());
    return 0;
}

int tw_storage::gluster_volume_get_sizeinfo(const std::string& volume, bool& mounted, bool& isless) {
    const char* tag = "tw_storage::gluster_volume_get_sizeinfo";
    mounted = true;
    isless = false;
    log_.logMessage(tag, tidewall::log_level::detail, "Get gluster volume size info for volume [%s]", volume.c_str());
    gluster_vol_mount_info mount;
    if (get_glus_vol_mount_info(volume, mount) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to get mount path info for volume [%s].",
                        volume.c_str());
        return -1;
    }
    std::string dev, fstype;
    std::list<std::string> options;
    if (is_mounted(mount.mnt_path, dev, fstype, options) == 1)
        return gluster_volume_get_sizeinfo(volume, mount.mnt_path, isless);
    log_.logMessage(tag, tidewall::log_level::failure, "Volume [%s] not mounted at mount path [%s]",
                    mount.vol_name.c_str(), mount.mnt_path.c_str());
    mounted = false;
    return 0;
}
